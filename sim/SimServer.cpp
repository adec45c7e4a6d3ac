#include "sim/SimServer.h"

#include "link/AdsLayout.h"
#include "link/WireBytes.h"
#include "sim/SimProtocol.h"
#include "sim/SimPty.h"
#include "sim/SimTcpWriter.h"
#include "sim/SimWarmUp.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <ctime>
#include <future>

namespace {
// A request claiming more than this is noise; the connection's buffer is dropped.
const qint64 kMaxRequest = 64 * 1024 * 1024;
// The port the functions without one pass: the first runtime, whatever its port.
const int kFirstRuntime = -1;
// The reply buffer keeps its memory up to this size from one reply to the
// next: fresh memory for a large reply costs page faults on every request.
const int kKeptReplyBytes = 2 * 1024 * 1024;
} // namespace

SimServer::SimServer(QObject *parent) : QObject(parent)
{
    m_runtimes.append(SimRuntime());
    m_clock.start();
    // Children, so that they move to the server's thread with it.
    m_checkTimer = new QTimer(this);
    m_checkTimer->setSingleShot(true);
    m_checkTimer->setTimerType(Qt::PreciseTimer);
    connect(m_checkTimer, &QTimer::timeout, this, &SimServer::checkNotifications);
    m_clockTimer = new QTimer(this);
    m_clockTimer->setTimerType(Qt::PreciseTimer);
    connect(m_clockTimer, &QTimer::timeout, this, &SimServer::tickClock);
}

// What the other threads handed over under the lock is let go under it
// too, wherever the server ends.
SimServer::~SimServer()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_runtimes.clear();
    m_queued.clear();
    m_standing = SimFault();
    m_requests.clear();
    m_notifications.clear();
    m_logger = nullptr;
    m_router = SimRouter();
}

// ---------------------------------------------------------------- thread-safe controls

void SimServer::pushFault(const SimFault &fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queued.append(fault);
}

void SimServer::setStandingFault(const SimFault &fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_standing = fault;
}

void SimServer::setDropEvery(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dropEvery = n;
}

void SimServer::setAmsPorts(const QList<int> &ports)
{
    QList<int> distinct;
    for (int port : ports) {
        if (!distinct.contains(port))
            distinct.append(port);
    }
    if (distinct.isEmpty())
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    while (m_runtimes.size() > distinct.size())
        m_runtimes.removeLast();
    while (m_runtimes.size() < distinct.size())
        m_runtimes.append(SimRuntime());
    for (int i = 0; i < distinct.size(); ++i)
        m_runtimes[i].amsPort = distinct.at(i);
}

void SimServer::setAmsPort(int port)
{
    setAmsPorts({port});
}

QList<int> SimServer::amsPorts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QList<int> ports;
    for (const SimRuntime &runtime : m_runtimes)
        ports.append(runtime.amsPort);
    return ports;
}

void SimServer::setNetId(const QByteArray &netId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_router.setNetId(netId);
}

void SimServer::setRoutes(const QList<QByteArray> &sourceNetIds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_router.setRoutes(sourceNetIds);
}

SimRuntime *SimServer::runtimeOn(int amsPort)
{
    if (amsPort == kFirstRuntime)
        return &m_runtimes.first();
    for (SimRuntime &runtime : m_runtimes) {
        if (runtime.amsPort == amsPort)
            return &runtime;
    }
    return nullptr;
}

const SimRuntime *SimServer::runtimeOn(int amsPort) const
{
    return const_cast<SimServer *>(this)->runtimeOn(amsPort);
}

void SimServer::writeImage(quint32 group, quint32 offset, const QByteArray &bytes)
{
    writeImage(kFirstRuntime, group, offset, bytes);
}

QByteArray SimServer::readImage(quint32 group, quint32 offset, int length) const
{
    return readImage(kFirstRuntime, group, offset, length);
}

void SimServer::writeImage(int amsPort, quint32 group, quint32 offset, const QByteArray &bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (SimRuntime *runtime = runtimeOn(amsPort))
        runtime->image.write(group, offset, bytes);
}

QByteArray SimServer::readImage(int amsPort, quint32 group, quint32 offset, int length) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QByteArray out;
    if (const SimRuntime *runtime = runtimeOn(amsPort))
        runtime->image.read(group, offset, quint32(length), &out);
    return out;
}

void SimServer::addSymbol(const SimSymbols::Symbol &symbol)
{
    addSymbol(kFirstRuntime, symbol);
}

bool SimServer::moveSymbol(const QString &name, quint32 group, quint32 offset)
{
    return moveSymbol(kFirstRuntime, name, group, offset);
}

void SimServer::addSymbol(int amsPort, const SimSymbols::Symbol &symbol)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (SimRuntime *runtime = runtimeOn(amsPort))
        runtime->addSymbol(symbol);
}

bool SimServer::moveSymbol(int amsPort, const QString &name, quint32 group, quint32 offset)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    SimRuntime *runtime = runtimeOn(amsPort);
    return runtime && runtime->moveSymbol(name, group, offset);
}

void SimServer::addType(const SimStructType &type)
{
    addType(kFirstRuntime, type);
}

void SimServer::addType(int amsPort, const SimStructType &type)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (SimRuntime *runtime = runtimeOn(amsPort))
        runtime->symbols.addType(type);
}

void SimServer::setAdsState(quint16 state)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_device.adsState = state;
}

void SimServer::setDeviceName(const QString &name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_device.name = name;
}

void SimServer::setDeviceVersion(quint8 major, quint8 minor, quint16 build)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_device.major = major;
    m_device.minor = minor;
    m_device.build = build;
}

SimDevice SimServer::device() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_device;
}

QMap<int, QList<SimImageFile::Entry>> SimServer::byRuntime(const QList<SimImageFile::Entry> &program) const
{
    QMap<int, QList<SimImageFile::Entry>> parts;
    for (const SimImageFile::Entry &e : program) {
        for (int i = 0; i < m_runtimes.size(); ++i) {
            if (e.amsPort == 0 ? i == 0 : m_runtimes.at(i).amsPort == e.amsPort) {
                parts[i].append(e);
                break;
            }
        }
    }
    return parts;
}

void SimServer::onlineChange(const QList<SimImageFile::Entry> &program)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    QMap<int, QList<SimImageFile::Entry>> parts = byRuntime(program);
    if (program.isEmpty())
        parts.insert(0, {}); // an empty program is the first runtime's
    for (auto it = parts.constBegin(); it != parts.constEnd(); ++it)
        m_runtimes[it.key()].onlineChange(it.value());
}

// The connections close on the server's thread, and no request is served
// between the new program and the close.
void SimServer::restart(const QList<SimImageFile::Entry> &program)
{
    onOwnThread([this, &program]() { restartHere(program); });
}

void SimServer::restartHere(const QList<SimImageFile::Entry> &program)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const QMap<int, QList<SimImageFile::Entry>> parts = byRuntime(program);
        for (int i = 0; i < m_runtimes.size(); ++i)
            m_runtimes[i].restart(parts.value(i));
        m_handles.clear();
        m_notifications.clear();
    }
    ++m_restarts;
    closeConnections();
}

void SimServer::closeConnections()
{
    if (m_tcp) {
        for (QTcpSocket *socket : m_tcp->findChildren<QTcpSocket *>())
            socket->abort(); // what it had still to send goes too
    }
    if (m_pty) {
        m_pty->discard();
        forgetLine(m_pty);
    }
}

// A line's partial request, its replies' timing, its handles and its
// subscriptions go.
void SimServer::forgetLine(QObject *line)
{
    m_inboxes.remove(line);
    m_lineFreeAt.remove(line);
    m_piecesWaiting.remove(line);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handles.dropLine(line);
    m_notifications.dropLine(line);
}

void SimServer::onOwnThread(const std::function<void()> &task)
{
    if (QThread::currentThread() == thread()) {
        task();
        return;
    }
    // As SimController hands tasks over: a standard lock and a promise,
    // which ThreadSanitizer sees order the two threads. One task at a time.
    std::lock_guard<std::mutex> one(m_oneHandOver);
    std::promise<void> done;
    {
        std::lock_guard<std::mutex> lock(m_handOver);
        m_handedTask = [&]() {
            task();
            done.set_value();
        };
    }
    QMetaObject::invokeMethod(
        this, [this]() { runHandedTask(); }, Qt::QueuedConnection);
    done.get_future().wait();
}

void SimServer::runHandedTask()
{
    std::function<void()> task;
    {
        std::lock_guard<std::mutex> lock(m_handOver);
        task = std::move(m_handedTask);
        m_handedTask = nullptr;
    }
    if (task)
        task();
}

int SimServer::symbolVersion() const
{
    return symbolVersion(kFirstRuntime);
}

int SimServer::symbolVersion(int amsPort) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const SimRuntime *runtime = runtimeOn(amsPort);
    return runtime ? runtime->symbolVersion : -1;
}

int SimServer::handleCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handles.count();
}

int SimServer::handlesObtained() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handles.obtained();
}

int SimServer::handlesReleased() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handles.released();
}

void SimServer::setHandlesRefused(quint32 adsError)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handlesRefused = adsError;
}

void SimServer::setSymbolVersionRefused(quint32 adsError)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_versionRefused = adsError;
}

void SimServer::setDataTypesRefused(quint32 adsError)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dataTypesRefused = adsError;
}

void SimServer::setRecording(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_recording = on;
}

QList<QByteArray> SimServer::requests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

int SimServer::requestCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requestCount;
}

int SimServer::connectionsAccepted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connections;
}

int SimServer::repliesSent() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_repliesSent;
}

void SimServer::countSent(Kind kind)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (kind == Reply)
        ++m_repliesSent;
    else
        ++m_notificationFramesSent;
}

void SimServer::clearRequests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
    m_requestCount = 0;
}

bool SimServer::waitForRequests(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::milliseconds(qMax(0, timeoutMs)),
                              [&]() { return m_requestCount >= count; });
}

void SimServer::setLogger(std::function<void(const QString &)> logger)
{
    std::lock_guard<std::mutex> lock(m_mutex);
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

bool SimServer::warmUp(int bytes)
{
    return SimWarmUp::run(&m_reply, bytes);
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
        Peer peer;
        peer.object = pty;
        peer.send = [pty](const QByteArray &b) { pty->write(b); };
        peer.close = [this, pty]() {
            pty->close();
            forgetLine(pty);
        };
        connect(pty, &SimPty::received, this,
                [this, peer](const QByteArray &bytes) { onBytes(peer, bytes); });
        m_peers.insert(pty, peer);
    }
    if (!m_pty->isOpen() && !m_pty->open())
        return QString(); // closed by a fault: a new pair, as a reconnected cable
    return m_pty->slavePath();
}

void SimServer::acceptConnection()
{
    while (QTcpSocket *socket = m_tcp->nextPendingConnection()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_connections;
        }
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QPointer<QTcpSocket> guard(socket);
        Peer peer;
        peer.object = socket;
        peer.tcp = true;
        peer.send = [guard](const QByteArray &b) {
            if (guard)
                SimTcpWriter::write(guard, b);
        };
        peer.close = [guard]() {
            if (guard) {
                guard->flush();
                guard->close();
            }
        };
        connect(socket, &QTcpSocket::readyRead, this,
                [this, socket, peer]() { onBytes(peer, socket->readAll()); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket]() {
            forgetLine(socket);
            m_peers.remove(socket);
            socket->deleteLater();
        });
        m_peers.insert(socket, peer);
    }
}

// ---------------------------------------------------------------- requests

void SimServer::onBytes(const Peer &peer, const QByteArray &bytes)
{
    // Take the whole requests out first: serving one may close the
    // connection, and its inbox with it.
    QList<QByteArray> requests;
    QByteArray &inbox = m_inboxes[peer.object].bytes;
    inbox.append(bytes);
    if (m_frozen)
        return; // held until the thaw
    for (;;) {
        const qint64 size = SimProtocol::frameSize(inbox);
        if (size >= 0 && (size < AdsLayout::HeaderSize || size > kMaxRequest)) {
            inbox.clear(); // noise: no request is that short or that long
            break;
        }
        if (size < 0 || inbox.size() < size)
            break;
        requests.append(inbox.left(int(size)));
        inbox.remove(0, int(size));
    }
    for (const QByteArray &request : requests) {
        if (!serve(request, peer))
            break; // the connection is gone: what followed is never read
    }
}

SimFault SimServer::takeFault(bool *drop)
{
    ++m_served;
    *drop = m_dropEvery > 0 && m_served % m_dropEvery == 0;
    return m_queued.isEmpty() ? m_standing : m_queued.takeFirst();
}

// False when the router closed the connection.
bool SimServer::serve(const QByteArray &request, const Peer &peer)
{
    SimFault fault;
    bool drop = false;
    SimRouter::Verdict verdict;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_requestCount;
        if (m_recording)
            m_requests.append(request);
        m_arrived.notify_all();
        verdict = m_router.check(request);
        if (verdict == SimRouter::Pass) {
            fault = takeFault(&drop);
            SimRuntime *runtime = runtimeOn(WireBytes::le16At(request, AdsLayout::OffTargetPort));
            SimProtocol::answer(request, runtime, fault, &m_reply, services(peer.object));
        }
    }
    if (verdict == SimRouter::NoRoute) {
        refuseUnrouted(request, peer);
        return !peer.tcp;
    }
    if (verdict == SimRouter::UnknownTarget) {
        const QByteArray reply = SimProtocol::errorReply(request, SimProtocol::AmsTargetMachineNotFound);
        logRequest(request, reply, true);
        deliver(peer, reply, SimFault());
        return true;
    }
    const bool answered = !(drop || fault.noAnswer);
    logRequest(request, m_reply, answered);
    if (!answered) {
        if (fault.closeAfter >= 0)
            peer.close();
        return true;
    }
    {
        const QByteArray shaped = SimProtocol::shape(m_reply, fault);
        deliver(peer, fault.reshape ? fault.reshape(request, shaped) : shaped, fault);
    }
    keepReplyBuffer();
    // The first sample goes right after the add's reply.
    if (WireBytes::le16At(request, AdsLayout::OffCommand) == AdsLayout::CmdAddNotification)
        armChecks();
    return true;
}

SimProtocol::Services SimServer::services(const void *line)
{
    SimProtocol::Services s;
    s.handles = &m_handles;
    s.line = line;
    s.handlesRefused = m_handlesRefused;
    s.versionRefused = m_versionRefused;
    s.dataTypesRefused = m_dataTypesRefused;
    s.device = &m_device;
    s.notifications = &m_notifications;
    return s;
}

// A router drops a TCP connection from a source it has no route for. A
// serial line cannot be dropped: the frame just goes unanswered.
void SimServer::refuseUnrouted(const QByteArray &request, const Peer &peer)
{
    const QString from = SimRouter::netIdText(SimRouter::sourceNetId(request));
    logRequest(request, peer.tcp ? QStringLiteral("no route from %1, connection closed").arg(from)
                                 : QStringLiteral("no route from %1, no answer").arg(from));
    if (peer.tcp)
        peer.close();
}

// The bytes that go out for one reply: the reply itself, or, as the fault
// says, with bytes before it, cut short, in pieces cut at its offsets.
QList<QByteArray> SimServer::pieces(const QByteArray &reply, const SimFault &fault)
{
    if (fault.before.isEmpty() && fault.closeAfter < 0 && fault.splitAt.isEmpty())
        return {reply};
    QByteArray whole = fault.before + reply;
    if (fault.closeAfter >= 0)
        whole.truncate(fault.before.size() + fault.closeAfter);
    QList<QByteArray> pieces;
    int from = 0;
    for (int cut : fault.splitAt) {
        const int at = qBound(from, fault.before.size() + cut, whole.size());
        pieces.append(whole.mid(from, at - from));
        from = at;
    }
    pieces.append(whole.mid(from));
    return pieces;
}

void SimServer::deliver(const Peer &peer, const QByteArray &reply, const SimFault &fault, Kind kind)
{
    const QList<QByteArray> out = pieces(reply, fault);
    // One frame at a time on a line: a reply never overtakes the pieces of
    // an earlier one, as no controller interleaves frames.
    if (fault.delayMs > 0 || out.size() > 1 || m_piecesWaiting.value(peer.object) > 0) {
        schedule(peer, out, fault, kind);
        return;
    }
    peer.send(out.first());
    countSent(kind);
    if (fault.closeAfter >= 0)
        peer.close();
}

void SimServer::schedule(const Peer &peer, const QList<QByteArray> &pieces, const SimFault &fault, Kind kind)
{
    const Sender send = peer.send;
    const Closer close = peer.close;
    const bool closing = fault.closeAfter >= 0;
    const qint64 now = m_clock.elapsed();
    const qint64 lineFree = m_lineFreeAt.value(peer.object, -1);
    // A millisecond after the last piece still due, so that the timers keep their order.
    const qint64 start = qMax(now + fault.delayMs, lineFree >= now ? lineFree + 1 : lineFree);
    m_lineFreeAt.insert(peer.object, start + qint64(fault.pauseMs) * (pieces.size() - 1));
    m_piecesWaiting[peer.object] += pieces.size();
    QObject *line = peer.object;
    QPointer<QObject> alive(line);
    const quint64 restarts = m_restarts;
    qint64 at = start - now;
    for (int i = 0; i < pieces.size(); ++i) {
        const QByteArray piece = pieces.at(i);
        const bool last = i == pieces.size() - 1;
        const std::function<void()> go = [this, alive, line, piece, last, closing, send, close, restarts,
                                          kind]() {
            if (!alive || restarts != m_restarts)
                return; // the line closed, or the controller restarted
            const auto waiting = m_piecesWaiting.find(line);
            if (waiting != m_piecesWaiting.end() && --*waiting <= 0)
                m_piecesWaiting.erase(waiting);
            send(piece);
            if (last)
                countSent(kind);
            if (last && closing)
                close();
        };
        // A frozen controller sends nothing; what fell due goes at the thaw, in order.
        QTimer::singleShot(int(at), Qt::PreciseTimer, this, [this, go]() {
            if (m_frozen)
                m_held.append(go);
            else
                go();
        });
        at += fault.pauseMs;
    }
}

// A reply larger than the buffer should keep gives its memory back.
void SimServer::keepReplyBuffer()
{
    if (m_reply.capacity() > kKeptReplyBytes)
        m_reply = QByteArray();
}

QString SimServer::outcomeText(const QByteArray &reply, bool answered)
{
    if (!answered)
        return QStringLiteral("no answer");
    using WireBytes::le32At;
    QString text = QStringLiteral("error 0x%1 result 0x%2")
                       .arg(le32At(reply, AdsLayout::OffErrorCode), 0, 16)
                       .arg(le32At(reply, AdsLayout::OffAdsResult), 0, 16);
    if (WireBytes::le16At(reply, AdsLayout::OffCommand) == AdsLayout::CmdAddNotification)
        text += QStringLiteral(" handle=0x%1").arg(le32At(reply, AdsLayout::OffNotificationHandle), 0, 16);
    return text;
}

std::function<void(const QString &)> SimServer::logger() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_logger;
}

// The outcome's text is made only for a logger: most requests have none.
void SimServer::logRequest(const QByteArray &request, const QByteArray &reply, bool answered)
{
    if (logger())
        logRequest(request, outcomeText(reply, answered));
}

void SimServer::logRequest(const QByteArray &request, const QString &outcome)
{
    const std::function<void(const QString &)> log = logger();
    if (!log)
        return;
    using WireBytes::le16At;
    using WireBytes::le32At;
    const quint16 command = le16At(request, AdsLayout::OffCommand);
    const char *name = command == AdsLayout::CmdRead                 ? "read"
                       : command == AdsLayout::CmdWrite              ? "write"
                       : command == AdsLayout::CmdReadWrite          ? "readwrite"
                       : command == AdsLayout::CmdReadState          ? "readstate"
                       : command == AdsLayout::CmdReadDeviceInfo     ? "deviceinfo"
                       : command == AdsLayout::CmdAddNotification    ? "addnotification"
                       : command == AdsLayout::CmdDeleteNotification ? "deletenotification"
                                                                     : "command";
    QString line =
        QStringLiteral("%1 id=%2 ").arg(QLatin1String(name)).arg(le32At(request, AdsLayout::OffInvokeId));
    if (command == AdsLayout::CmdDeleteNotification) {
        line += QStringLiteral("handle=0x%1").arg(le32At(request, AdsLayout::HeaderSize), 0, 16);
    } else {
        line += QStringLiteral("group=0x%1 offset=0x%2 length=%3")
                    .arg(le32At(request, AdsLayout::OffIndexGroup), 0, 16)
                    .arg(le32At(request, AdsLayout::OffIndexOffset), 0, 16)
                    .arg(le32At(request, AdsLayout::OffRequestLength));
    }
    if (command == AdsLayout::CmdAddNotification)
        line += QStringLiteral(" mode=%1 cycle=%2")
                    .arg(le32At(request, AdsLayout::OffTransmissionMode))
                    .arg(le32At(request, AdsLayout::OffCycleTime));
    log(line + QStringLiteral(" -> ") + outcome);
}

// ---------------------------------------------------------------- notifications

void SimServer::setMaxNotifications(int n)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_notifications.setLimit(n);
}

int SimServer::notificationCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_notifications.count();
}

int SimServer::notificationFramesSent() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_notificationFramesSent;
}

int SimServer::notificationsAdded() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_notifications.added();
}

int SimServer::notificationsDeleted() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_notifications.deleted();
}

// The timer wakes the server when the earliest subscription falls due and
// at no other time.
void SimServer::armChecks()
{
    qint64 due = -1;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        due = m_notifications.nextDue();
    }
    if (due < 0 || m_frozen) {
        m_checkTimer->stop();
        return;
    }
    m_checkTimer->start(int(qBound<qint64>(0, due - m_clock.elapsed(), INT_MAX)));
}

// One frame per line and address pair with every sample due; each goes out
// as late as the standing delay says, behind the replies before it.
void SimServer::checkNotifications()
{
    if (m_frozen)
        return;
    QList<Outgoing> frames;
    SimFault late;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        frames = dueFrames(m_clock.elapsed());
        late.delayMs = m_standing.delayMs;
    }
    for (const Outgoing &out : qAsConst(frames)) {
        const auto peer = m_peers.constFind(out.line);
        if (peer == m_peers.constEnd())
            continue;
        logNotification(out);
        deliver(*peer, out.frame, late, Notification);
    }
    armChecks();
}

// Under the lock. A place that no longer reads (a handle whose variable
// went, a runtime that went) gives no sample.
QList<SimServer::Outgoing> SimServer::dueFrames(qint64 now)
{
    struct Batch {
        const SimNotifications::Subscription *first = nullptr; // its line and addresses
        int count = 0;
        QByteArray samples;
    };
    QList<Batch> batches;
    for (quint32 handle : m_notifications.takeDue(now)) {
        SimNotifications::Subscription *s = m_notifications.find(handle);
        const SimRuntime *runtime = runtimeOn(s->owner.amsPort);
        QByteArray bytes;
        if (!runtime
            || SimProtocol::readPlace({s->group, s->offset, s->length}, s->owner.source, runtime,
                                      services(s->owner.line), &bytes)
                   != 0
            || !SimNotifications::sample(s, bytes))
            continue;
        auto batch = std::find_if(batches.begin(), batches.end(), [s](const Batch &b) {
            return b.first->owner.line == s->owner.line && b.first->owner.source == s->owner.source
                   && b.first->controller == s->controller;
        });
        if (batch == batches.end())
            batch = batches.insert(batches.end(), Batch{s, 0, QByteArray()});
        SimProtocol::appendSample(&batch->samples, handle, bytes);
        ++batch->count;
    }
    QList<Outgoing> frames;
    const quint64 stamp = SimNotifications::fileTimeNow();
    for (const Batch &b : qAsConst(batches))
        frames.append({b.first->owner.line,
                       SimProtocol::notificationFrame(b.first->controller, b.first->owner.source,
                                                      ++m_notifyInvokeId, stamp, b.count, b.samples),
                       b.count});
    return frames;
}

void SimServer::logNotification(const Outgoing &out)
{
    if (const std::function<void(const QString &)> log = logger())
        log(QStringLiteral("notification id=%1 samples=%2 bytes=%3")
                .arg(WireBytes::le32At(out.frame, AdsLayout::OffInvokeId))
                .arg(out.samples)
                .arg(out.frame.size()));
}

// ---------------------------------------------------------------- clock and freezing

void SimServer::setClockSymbol(const QString &name)
{
    onOwnThread([this, name]() {
        m_clockSymbol = name;
        if (name.isEmpty()) {
            m_clockTimer->stop();
            return;
        }
        tickClock();
        m_clockTimer->start(1);
    });
}

void SimServer::tickClock()
{
    if (m_frozen)
        return;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    char bytes[4];
    WireBytes::putLe32(bytes, quint32(quint64(now.tv_sec) * 1000 + quint64(now.tv_nsec) / 1000000));
    std::lock_guard<std::mutex> lock(m_mutex);
    SimRuntime &runtime = m_runtimes.first();
    SimSymbols::Symbol symbol;
    if (runtime.symbols.find(m_clockSymbol, &symbol) && symbol.size == 4)
        runtime.image.write(symbol.group, symbol.offset, QByteArray::fromRawData(bytes, 4));
}

void SimServer::setFrozen(bool on)
{
    onOwnThread([this, on]() { freezeHere(on); });
}

void SimServer::freezeHere(bool on)
{
    if (on == m_frozen)
        return;
    m_frozen = on;
    if (on) {
        if (m_tcp)
            m_tcp->pauseAccepting();
        m_checkTimer->stop();
        return;
    }
    thaw();
}

// As a process let go on: its timers that fell due fire, then it reads what
// waits on its lines; the notifications go on from the next check.
void SimServer::thaw()
{
    const QList<std::function<void()>> held = std::move(m_held);
    m_held.clear();
    for (const std::function<void()> &go : held)
        go();
    const QList<Peer> peers = m_peers.values();
    for (const Peer &peer : peers) {
        if (m_inboxes.contains(peer.object))
            onBytes(peer, QByteArray());
    }
    if (m_tcp)
        m_tcp->resumeAccepting();
    armChecks();
}
