#include "SimServer.h"

#include "SimProtocol.h"
#include "SimPty.h"
#include "WireBytes.h"

#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {
// A request claiming more than this is noise; the connection's buffer is dropped.
const qint64 kMaxRequest = 64 * 1024 * 1024;
} // namespace

SimServer::SimServer(QObject *parent) : QObject(parent) { }

SimServer::~SimServer() = default;

// ---------------------------------------------------------------- thread-safe controls

void SimServer::pushFault(const SimFault &fault)
{
    QMutexLocker lock(&m_mutex);
    m_queued.append(fault);
}

void SimServer::setStandingFault(const SimFault &fault)
{
    QMutexLocker lock(&m_mutex);
    m_standing = fault;
}

void SimServer::setDropEvery(int n)
{
    QMutexLocker lock(&m_mutex);
    m_dropEvery = n;
}

void SimServer::setAmsPort(int port)
{
    QMutexLocker lock(&m_mutex);
    m_amsPort = port;
}

void SimServer::writeImage(quint32 group, quint32 offset, const QByteArray &bytes)
{
    QMutexLocker lock(&m_mutex);
    m_image.write(group, offset, bytes);
}

QByteArray SimServer::readImage(quint32 group, quint32 offset, int length) const
{
    QMutexLocker lock(&m_mutex);
    QByteArray out;
    m_image.read(group, offset, quint32(length), &out);
    return out;
}

void SimServer::addSymbol(const SimSymbols::Symbol &symbol)
{
    QMutexLocker lock(&m_mutex);
    m_symbols.add(symbol);
}

bool SimServer::moveSymbol(const QString &name, quint32 group, quint32 offset)
{
    QMutexLocker lock(&m_mutex);
    SimSymbols::Symbol old;
    if (!m_symbols.move(name, group, offset, &old))
        return false;
    m_image.write(group, offset, m_image.bytes(old.group, old.offset, int(old.size)));
    return true;
}

QList<QByteArray> SimServer::requests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

int SimServer::requestCount() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests.size();
}

int SimServer::repliesSent() const
{
    QMutexLocker lock(&m_mutex);
    return m_repliesSent;
}

void SimServer::countReplySent()
{
    QMutexLocker lock(&m_mutex);
    ++m_repliesSent;
}

void SimServer::clearRequests()
{
    QMutexLocker lock(&m_mutex);
    m_requests.clear();
}

bool SimServer::waitForRequests(int count, int timeoutMs) const
{
    QMutexLocker lock(&m_mutex);
    QDeadlineTimer deadline(timeoutMs);
    while (m_requests.size() < count) {
        if (!m_arrived.wait(&m_mutex, deadline))
            return m_requests.size() >= count;
    }
    return true;
}

void SimServer::setLogger(std::function<void(const QString &)> logger)
{
    QMutexLocker lock(&m_mutex);
    m_logger = std::move(logger);
}

// ---------------------------------------------------------------- transports

quint16 SimServer::listenTcp(const QHostAddress &address, quint16 port)
{
    if (!m_tcp) {
        m_tcp = new QTcpServer(this);
        connect(m_tcp, &QTcpServer::newConnection, this, &SimServer::acceptConnection);
    }
    if (!m_tcp->isListening() && !m_tcp->listen(address, port))
        return 0;
    return m_tcp->serverPort();
}

QString SimServer::openPty()
{
    if (!m_pty) {
        m_pty = new SimPty(this);
        if (!m_pty->open()) {
            delete m_pty;
            m_pty = nullptr;
            return QString();
        }
        SimPty *pty = m_pty;
        connect(pty, &SimPty::received, this, [this, pty](const QByteArray &bytes) {
            onBytes(
                pty, bytes, [pty](const QByteArray &b) { pty->write(b); }, [pty]() { pty->close(); });
        });
    }
    if (!m_pty->isOpen() && !m_pty->open())
        return QString(); // closed by a fault: a new pair, as a reconnected cable
    return m_pty->slavePath();
}

void SimServer::acceptConnection()
{
    while (QTcpSocket *socket = m_tcp->nextPendingConnection()) {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QPointer<QTcpSocket> guard(socket);
        const Sender send = [guard](const QByteArray &b) {
            if (guard)
                guard->write(b);
        };
        const Closer close = [guard]() {
            if (guard) {
                guard->flush();
                guard->close();
            }
        };
        connect(socket, &QTcpSocket::readyRead, this,
                [this, socket, send, close]() { onBytes(socket, socket->readAll(), send, close); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket]() {
            m_inboxes.remove(socket);
            socket->deleteLater();
        });
    }
}

// ---------------------------------------------------------------- requests

void SimServer::onBytes(QObject *peer, const QByteArray &bytes, const Sender &send, const Closer &close)
{
    // Take the whole requests out first: serving one may close the
    // connection, and its inbox with it.
    QList<QByteArray> requests;
    QByteArray &inbox = m_inboxes[peer].bytes;
    inbox.append(bytes);
    for (;;) {
        const qint64 size = SimProtocol::frameSize(inbox);
        if (size >= 0 && (size < 38 || size > kMaxRequest)) {
            inbox.clear(); // noise: no request is that short or that long
            break;
        }
        if (size < 0 || inbox.size() < size)
            break;
        requests.append(inbox.left(int(size)));
        inbox.remove(0, int(size));
    }
    for (const QByteArray &request : requests)
        serve(request, send, close, peer);
}

SimFault SimServer::takeFault(bool *drop)
{
    ++m_served;
    *drop = m_dropEvery > 0 && m_served % m_dropEvery == 0;
    return m_queued.isEmpty() ? m_standing : m_queued.takeFirst();
}

void SimServer::serve(const QByteArray &request, const Sender &send, const Closer &close, QObject *peer)
{
    SimFault fault;
    QByteArray reply;
    bool drop = false;
    {
        QMutexLocker lock(&m_mutex);
        m_requests.append(request);
        fault = takeFault(&drop);
        reply = SimProtocol::answer(request, m_image, m_symbols, m_amsPort, fault);
        m_arrived.wakeAll();
    }
    const bool answered = !(drop || fault.noAnswer);
    logRequest(request, reply, answered);
    if (!answered) {
        if (fault.closeAfter >= 0)
            close();
        return;
    }
    deliver(peer, SimProtocol::shape(reply, fault), fault, send, close);
}

void SimServer::deliver(QObject *peer, const QByteArray &reply, const SimFault &fault, const Sender &send,
                        const Closer &close)
{
    QByteArray whole = fault.before + reply;
    const bool closing = fault.closeAfter >= 0;
    if (closing)
        whole.truncate(fault.before.size() + fault.closeAfter);

    // Pieces, cut at the fault's offsets into the reply.
    QList<QByteArray> pieces;
    int from = 0;
    for (int cut : fault.splitAt) {
        const int at = qBound(from, fault.before.size() + cut, whole.size());
        pieces.append(whole.mid(from, at - from));
        from = at;
    }
    pieces.append(whole.mid(from));

    if (fault.delayMs == 0 && pieces.size() == 1) {
        send(pieces.first());
        countReplySent();
        if (closing)
            close();
        return;
    }
    QPointer<QObject> alive(peer);
    int at = fault.delayMs;
    for (int i = 0; i < pieces.size(); ++i) {
        const QByteArray piece = pieces.at(i);
        const bool last = i == pieces.size() - 1;
        QTimer::singleShot(at, this, [this, alive, piece, last, closing, send, close]() {
            if (!alive)
                return;
            send(piece);
            if (last)
                countReplySent();
            if (last && closing)
                close();
        });
        at += fault.pauseMs;
    }
}

void SimServer::logRequest(const QByteArray &request, const QByteArray &reply, bool answered)
{
    std::function<void(const QString &)> logger;
    {
        QMutexLocker lock(&m_mutex);
        logger = m_logger;
    }
    if (!logger)
        return;
    using WireBytes::le16At;
    using WireBytes::le32At;
    const quint16 command = le16At(request, 22);
    const char *name = command == 2   ? "read"
                       : command == 3 ? "write"
                       : command == 9 ? "readwrite"
                                      : "command";
    QString line = QStringLiteral("%1 id=%2 group=0x%3 offset=0x%4 length=%5")
                       .arg(QLatin1String(name))
                       .arg(le32At(request, 34))
                       .arg(le32At(request, 38), 0, 16)
                       .arg(le32At(request, 42), 0, 16)
                       .arg(le32At(request, 46));
    if (!answered)
        line += QStringLiteral(" -> no answer");
    else
        line += QStringLiteral(" -> error 0x%1 result 0x%2")
                    .arg(le32At(reply, 30), 0, 16)
                    .arg(le32At(reply, 38), 0, 16);
    logger(line);
}
