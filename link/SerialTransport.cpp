#include "link/SerialTransport.h"

#include "link/AdsExchange.h"

#include <QTimer>

#include <poll.h>

namespace {
// Bounds the draining of stale bytes before a request.
const int kDrainRounds = 64;
} // namespace

SerialTransport::SerialTransport(const QString &portName, QObject *parent)
    : AdsTransport(parent), m_port(new QSerialPort(this)), m_gap(new QTimer(this)), m_portName(portName)
{
    m_port->setPortName(portName);
    m_gap->setSingleShot(true);
    m_gap->setTimerType(Qt::PreciseTimer);
    connect(m_gap, &QTimer::timeout, this, &AdsTransport::bytesReady);
    connect(m_port, &QIODevice::readyRead, this, &SerialTransport::onReadyRead);
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

void SerialTransport::send(const QByteArray &frame)
{
    m_port->write(frame);
    m_port->flush();
}

// Bytes stay in the port until the line has been quiet for the gap.
void SerialTransport::onReadyRead()
{
    m_sinceArrival.start();
    m_gap->start(m_gapMs);
}

bool SerialTransport::deliverTo(AdsExchange &exchange)
{
    m_gap->stop();
    const qint64 available = m_port->bytesAvailable();
    if (available <= 0)
        return false;
    char *tail = exchange.reserveTail(available);
    exchange.commitTail(m_port->read(tail, available));
    return true;
}

// The blocking wait ends early when the line has been quiet for the gap
// after bytes came: then they are handed over.
void SerialTransport::waitForBytes(int ms)
{
    if (m_port->bytesAvailable() > 0) {
        const qint64 quietLeft = m_gapMs - m_sinceArrival.elapsed();
        if (quietLeft <= 0) {
            emit bytesReady();
            return;
        }
        ms = int(qMin<qint64>(ms, quietLeft));
    }
    m_port->waitForReadyRead(ms);
}

// Asks the line first: a request usually finds nothing waiting.
void SerialTransport::drainTo(AdsExchange &exchange)
{
    deliverTo(exchange);
    for (int round = 0;
         round < kDrainRounds && m_port->isOpen() && readableNow() && m_port->waitForReadyRead(0); ++round)
        deliverTo(exchange);
}

bool SerialTransport::readableNow() const
{
    pollfd p{int(m_port->handle()), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

void SerialTransport::close()
{
    m_gap->stop();
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
    m_gap->stop();
    m_port->close();
    emit lost();
}

// A device that went away shows a hang-up or an error on its descriptor.
bool SerialTransport::deviceGone() const
{
    pollfd fd{int(m_port->handle()), POLLIN, 0};
    if (::poll(&fd, 1, 0) < 0)
        return true;
    return (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}
