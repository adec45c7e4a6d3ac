#include "link/SerialTransport.h"

#include "link/AdsExchange.h"
#include "link/DescriptorRead.h"

#include <cerrno>
#include <ctime>
#include <poll.h>
#include <unistd.h>

namespace {
// Bounds the draining of stale bytes before a request.
const int kDrainRounds = 64;
} // namespace

SerialTransport::SerialTransport(const QString &portName, QObject *parent)
    : AdsTransport(parent), m_port(new QSerialPort(this)), m_portName(portName)
{
    m_port->setPortName(portName);
    connect(m_port, &QIODevice::readyRead, this, &AdsTransport::bytesReady);
    connect(m_port, &QSerialPort::errorOccurred, this, &SerialTransport::onError);
}

SerialTransport *SerialTransport::open(const QString &portName, const SerialLineSettings &settings, int gapMs,
                                       QObject *parent)
{
    auto *transport = new SerialTransport(portName, parent);
    if (!transport->m_port->open(QIODevice::ReadWrite) || !settings.applyTo(transport->m_port, portName)) {
        delete transport;
        return nullptr;
    }
    transport->m_gapMs = gapMs;
    return transport;
}

bool SerialTransport::reconfigure(const SerialLineSettings &settings, int gapMs)
{
    const SerialLineSettings previous = SerialLineSettings::of(*m_port);
    if (!settings.applyTo(m_port, m_portName)) {
        previous.applyTo(m_port, m_portName);
        return false;
    }
    m_gapMs = gapMs;
    return true;
}

bool SerialTransport::isOpen() const
{
    return m_port->isOpen();
}

// Straight to the descriptor, which the port opened without blocking: the
// port's own buffer would go out only when the thread's event loop runs.
qint64 SerialTransport::writeSome(const char *data, qint64 size)
{
    const int fd = descriptor();
    if (fd < 0)
        return -1;
    const ssize_t taken = ::write(fd, data, size_t(size));
    if (taken >= 0)
        return taken;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

void SerialTransport::sendFailed()
{
    if (!m_port->isOpen())
        return;
    m_port->close();
    emit lost();
}

// The rest of the gap since the last byte received, if any is left: a
// request right after a reply would otherwise go out while the other end
// may still be switching its line from sending to receiving.
void SerialTransport::waitOutTurnaround() const
{
    if (!m_sinceArrival.isValid())
        return;
    const qint64 leftNs = qint64(m_gapMs) * 1000000 - m_sinceArrival.nsecsElapsed();
    if (leftNs <= 0)
        return;
    timespec left{time_t(leftNs / 1000000000), long(leftNs % 1000000000)};
    while (::nanosleep(&left, &left) < 0 && errno == EINTR) { }
}

bool SerialTransport::deliverTo(AdsExchange &exchange)
{
    const qint64 moved = DescriptorRead::moveTo(m_port, descriptor(), exchange);
    if (moved < 0 && !m_looking) {
        // Only once at a time: what the device reports may hand bytes over again.
        m_looking = true;
        m_port->waitForReadyRead(0); // the port finds the hang-up or the error and reports it
        m_looking = false;
    }
    if (moved <= 0)
        return false;
    m_sinceArrival.start();
    return true;
}

// Asks the line first: a request usually finds nothing waiting.
void SerialTransport::drainTo(AdsExchange &exchange)
{
    if (m_port->bytesAvailable() > 0)
        deliverTo(exchange);
    for (int round = 0; round < kDrainRounds && m_port->isOpen() && readableNow(); ++round) {
        if (!deliverTo(exchange))
            break;
    }
}

bool SerialTransport::readableNow() const
{
    pollfd p{descriptor(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

void SerialTransport::close()
{
    dropUnsent();
    if (!m_port->isOpen())
        return;
    m_port->clear(QSerialPort::AllDirections);
    m_port->close();
}

// A device that went away (a USB adapter pulled: EIO; the far end of a
// pseudo-terminal closed: reads at end of file) cannot come back by itself:
// the line is down, as a TCP connection is when the controller closes it.
// Left open, the port would report the same error on every wait.
void SerialTransport::onError(QSerialPort::SerialPortError error)
{
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) || !m_port->isOpen())
        return;
    if (!deviceGone()) {
        // A read that found nothing after another took the bytes (EAGAIN)
        // is reported alike: the line is fine.
        m_port->clearError();
        return;
    }
    emit bytesReady(); // what came before the line went is part of the reply, if cut short
    m_port->close();
    emit lost();
}

// A device that went away shows a hang-up or an error on its descriptor.
bool SerialTransport::deviceGone() const
{
    pollfd fd{descriptor(), POLLIN, 0};
    if (::poll(&fd, 1, 0) < 0)
        return true;
    return (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}
