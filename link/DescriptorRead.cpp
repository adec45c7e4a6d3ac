#include "link/DescriptorRead.h"

#include "link/AdsExchange.h"

#include <QIODevice>

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

qint64 DescriptorRead::pending(int fd)
{
    int n = 0;
    if (fd < 0 || ::ioctl(fd, FIONREAD, &n) < 0)
        return 0;
    return n;
}

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
    const qint64 held = pending(fd);
    if (held > 0) {
        char *tail = exchange.reserveTail(held);
        ssize_t got;
        do {
            got = ::read(fd, tail, size_t(held));
        } while (got < 0 && errno == EINTR);
        exchange.commitTail(got > 0 ? got : 0);
        moved += qMax<ssize_t>(0, got);
    }
    return moved;
}

DescriptorRead::Wait DescriptorRead::waitReadable(int fd, int ms)
{
    if (fd < 0)
        return Other;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, qMax(0, ms));
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return Quiet;
    if (ready > 0 && (p.revents & POLLIN) && pending(fd) > 0)
        return Bytes;
    return Other;
}
