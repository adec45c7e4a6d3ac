#include "link/TcpTransport.h"

#include "link/AdsExchange.h"
#include "link/DescriptorRead.h"

#include <QTcpSocket>

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

namespace {
// Bounds the draining of stale bytes before a request.
const int kDrainRounds = 64;

// Whether the kernel holds bytes (or an end of file) for `fd`.
bool readableNow(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return fd >= 0 && ::poll(&p, 1, 0) > 0;
}
} // namespace

TcpTransport::TcpTransport(QObject *parent) : AdsTransport(parent), m_socket(new QTcpSocket(this))
{
    connect(m_socket, &QAbstractSocket::connected, this, &TcpTransport::onConnected);
    connect(m_socket, &QAbstractSocket::disconnected, this, &TcpTransport::onDisconnected);
    connect(m_socket, &QIODevice::readyRead, this, &AdsTransport::bytesReady);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, &TcpTransport::onError);
}

TcpTransport *TcpTransport::connectTo(const QHostAddress &address, quint16 port, QObject *parent)
{
    auto *transport = new TcpTransport(parent);
    transport->m_socket->connectToHost(address, port, QIODevice::ReadWrite);
    return transport;
}

void TcpTransport::onError()
{
    if (m_socket->state() != QAbstractSocket::ConnectedState)
        emit failed();
}

QString TcpTransport::errorString() const
{
    return m_socket->errorString();
}

QHostAddress TcpTransport::localAddress() const
{
    return m_socket->localAddress();
}

TcpTransport *TcpTransport::open(const QHostAddress &address, quint16 port, int waitMs, QObject *parent)
{
    auto *transport = connectTo(address, port, parent);
    QTcpSocket *socket = transport->m_socket;
    socket->waitForConnected(waitMs);
    const auto state = socket->state();
    if (state != QAbstractSocket::ConnectingState && state != QAbstractSocket::ConnectedState) {
        delete transport;
        return nullptr;
    }
    if (state == QAbstractSocket::ConnectedState)
        transport->onConnected(); // the wait already saw it connect
    return transport;
}

bool TcpTransport::isOpen() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

QAbstractSocket::SocketError TcpTransport::error() const
{
    return m_socket->error();
}

void TcpTransport::onConnected()
{
    // Requests are single writes; do not let them wait for an acknowledgement.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    emit connected();
}

void TcpTransport::onDisconnected()
{
    if (!m_closing)
        emit lost();
}

qint64 TcpTransport::writeSome(const char *data, qint64 size)
{
    // Straight to the socket: the socket's own buffer would go out only when
    // the thread's event loop runs, which an exchange may not do for long.
    const ssize_t taken = ::send(descriptor(), data, size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (taken >= 0)
        return taken;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

// A connection that failed under a send is gone: the socket finds out and
// reports it lost.
void TcpTransport::sendFailed()
{
    m_socket->abort();
}

qint64 TcpTransport::bufferedForReading() const
{
    return m_socket->bytesAvailable();
}

int TcpTransport::descriptor() const
{
    return int(m_socket->socketDescriptor());
}

bool TcpTransport::deliverTo(AdsExchange &exchange)
{
    const qint64 moved = DescriptorRead::moveTo(m_socket, descriptor(), exchange);
    if (moved < 0 && !m_looking) {
        // Only once at a time: what the device reports may hand bytes over again.
        m_looking = true;
        m_socket->waitForReadyRead(0); // the socket finds the end or the error and reports it
        m_looking = false;
    }
    return moved > 0;
}

// Asks the kernel first: a request usually finds nothing waiting, and then
// costs one poll and no allocation.
void TcpTransport::drainTo(AdsExchange &exchange)
{
    if (m_socket->bytesAvailable() > 0)
        deliverTo(exchange);
    for (int round = 0; round < kDrainRounds && isOpen() && readableNow(descriptor()); ++round) {
        if (!deliverTo(exchange))
            break;
    }
}

// Aborted: a frozen controller never acknowledges a close, and the host
// must not wait for it.
void TcpTransport::close()
{
    dropUnsent();
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        return;
    m_closing = true;
    m_socket->abort();
    m_closing = false;
}
