#include "link/DescriptorRead.h"

#include "link/AdsExchange.h"

#include <QIODevice>

#include <cerrno>
#include <unistd.h>

namespace {
// A read asks for the room the buffer has, but never for less than this.
const qint64 kLeastRead = 4096;
} // namespace

qint64 DescriptorRead::moveTo(QIODevice *device, int fd, AdsExchange &exchange)
{
    qint64 moved = 0;
    const qint64 buffered = device->bytesAvailable();
    if (buffered > 0) {
        char *tail = exchange.reserveTail(buffered);
        const qint64 got = device->read(tail, buffered);
        exchange.commitTail(got);
        moved += qMax<qint64>(0, got);
    }
    if (fd < 0)
        return moved;
    const qint64 room = qMax(exchange.room(), kLeastRead);
    char *tail = exchange.reserveTail(room);
    ssize_t got;
    do {
        got = ::read(fd, tail, size_t(room));
    } while (got < 0 && errno == EINTR);
    exchange.commitTail(got > 0 ? got : 0);
    if (got > 0)
        return moved + got;
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
        return moved > 0 ? moved : -1; // what came before the end is handed over first
    return moved;
}
