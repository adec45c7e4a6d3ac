#include "link/CmdBeckhoff_ADS.h"

#include "link/AdsCommand.h"
#include "link/AdsFrame.h"
#include "link/AdsReason.h"
#include "link/AdsReplyCheck.h"
#include "link/Reconnection.h"
#include "link/SerialLineSettings.h"
#include "link/SerialTransport.h"
#include "link/SymbolEntry.h"
#include "link/TcpTransport.h"
#include "link/WireBytes.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

CmdBeckhoff_ADS::CmdBeckhoff_ADS(QObject *parent)
    : QObject(parent), debugFlag(false), line(nullptr), tcp(nullptr), serial(nullptr),
      reconnection(new Reconnection(this)), health(new LinkHealth(this)), tcpPort(0), frameGapMs(2),
      invokeId(0), serialNumber(0), closedDuringWait(false)
{
    connect(reconnection, &Reconnection::reconnected, this, &CmdBeckhoff_ADS::reconnected);
    connect(health, &LinkHealth::upChanged, this, &CmdBeckhoff_ADS::linkUpChanged);
}

CmdBeckhoff_ADS::~CmdBeckhoff_ADS()
{
    DestroyFree();
}

bool CmdBeckhoff_ADS::callerOwnsLink() const
{
    const QThread *caller = QThread::currentThread();
    if (caller == thread())
        return true;
    AdsLog::warn(AdsLog::foreignThread(caller, thread()));
    return false;
}

// ---------------------------------------------------------------- connecting

void CmdBeckhoff_ADS::setSettings(const LinkSettings &newSettings)
{
    const bool retimed =
        timing()
        != Reconnection::Timing{newSettings.reconnectMs, newSettings.reconnectMaxMs, newSettings.connectMs};
    settings = newSettings;
    route.setSettings(settings);
    if (retimed)
        reconnection->retime(timing()); // a pending delay counts from the change
}

Reconnection::Timing CmdBeckhoff_ADS::timing() const
{
    return {settings.reconnectMs, settings.reconnectMaxMs, settings.connectMs};
}

// The line as log lines name it.
QString CmdBeckhoff_ADS::lineText() const
{
    if (recipe.serial)
        return recipe.portName;
    return QStringLiteral("%1:%2").arg(route.logHost(hostText)).arg(tcpPort);
}

int CmdBeckhoff_ADS::EthConnectDrive(const QString &ip, int port)
{
    QHostAddress address;
    if (wait.waiting() || !address.setAddress(ip))
        return -1;
    TcpTransport *opened = TcpTransport::open(address, quint16(port), settings.connectMs, this);
    if (!opened)
        return -3;
    recipe = Reconnection::Recipe();
    recipe.address = address;
    recipe.port = quint16(port);
    useTcp(opened);
    hostText = address.toString();
    tcpPort = port;
    // The NetId comes from the address as parsed: "127.1" is 127.0.0.1.
    route.connectedTo(address.toString(), opened->localAddress());
    health->connected(lineText());
    return 0;
}

int CmdBeckhoff_ADS::serialConnectDrive(const QString &portName, int baud, int dataBits, int stopBits,
                                        const QString &parity)
{
    SerialLineSettings lineSettings;
    if (wait.waiting() || !SerialLineSettings::fromText(baud, dataBits, stopBits, parity, &lineSettings))
        return -1;
    const int gap = lineSettings.frameGapMs() > 0 ? lineSettings.frameGapMs() : frameGapMs;
    if (line && line == serial && serial->isOpen() && serial->portName() == portName) {
        // The same device again: new settings on the open line.
        if (!serial->reconfigure(lineSettings, gap))
            return -1;
        ++serialNumber; // the host connected anew: what was learned on the line is not trusted
        exchange.reset();
    } else {
        SerialTransport *opened = SerialTransport::open(portName, lineSettings, gap, this);
        if (!opened)
            return -1;
        useSerial(opened);
    }
    recipe = Reconnection::Recipe();
    recipe.serial = true;
    recipe.portName = portName;
    recipe.settings = lineSettings;
    recipe.gapMs = gap;
    frameGapMs = gap;
    route.onSerialLine();
    health->connected(lineText());
    return 0;
}

void CmdBeckhoff_ADS::useTcp(TcpTransport *opened)
{
    connect(opened, &TcpTransport::connected, this, &CmdBeckhoff_ADS::Ethconnected);
    connect(opened, &AdsTransport::lost, this, &CmdBeckhoff_ADS::Ethdisconnected);
    connect(opened, &AdsTransport::bytesReady, this, &CmdBeckhoff_ADS::EthreadyRead);
    adopt(opened);
    tcp = opened;
}

void CmdBeckhoff_ADS::useSerial(SerialTransport *opened)
{
    connect(opened, &AdsTransport::bytesReady, this, &CmdBeckhoff_ADS::serialreadyRead);
    connect(opened, &AdsTransport::lost, this,
            [this]() { lineLost(QStringLiteral("the serial line went (its device hung up or vanished)")); });
    adopt(opened);
    serial = opened;
}

// The new line works: it replaces whatever line was open, and ends any
// reconnection under way.
void CmdBeckhoff_ADS::adopt(AdsTransport *opened)
{
    reconnection->stop();
    discard(tcp);
    tcp = nullptr;
    discard(serial);
    serial = nullptr;
    line = opened;
    if (opened)
        ++serialNumber;
    exchange.reset();
}

// A line lost without the host asking comes back by itself, unless the host
// turned that off.
void CmdBeckhoff_ADS::lineLost(const QString &reason)
{
    lastLoss = reason;
    lineGone();
    if (!health->wentDown(lineText(), reason))
        AdsLog::warn(QStringLiteral("lib[Beckhoff]%1 %2").arg(lineText(), reason)); // down already: said here
    startReconnection();
}

void CmdBeckhoff_ADS::startReconnection()
{
    if (settings.reconnectMs > 0)
        reconnection->start(recipe, timing());
}

// A line that carries requests no longer is closed at once, without waiting
// for a peer that may be frozen, and brought back in the background.
void CmdBeckhoff_ADS::takeDown(const QString &reason)
{
    lastLoss = reason;
    health->wentDown(lineText(), reason);
    if (line)
        line->close();
    lineGone();
    startReconnection();
}

// After each request: a request not wholly sent leaves half a frame on the
// line; too many unanswered in a row make a frozen controller.
void CmdBeckhoff_ADS::judge(LinkResult result, qint64 frameSize)
{
    if (!lineOpen())
        return; // gone already, and said so
    if (wait.sendTimedOut()) {
        takeDown(QStringLiteral("a request of %1 bytes could not be sent within %2 ms")
                     .arg(frameSize)
                     .arg(settings.replyMs));
    } else if (health->takeDown(result, settings.downAfter)) {
        takeDown(health->unanswered() >= settings.downAfter
                     ? QStringLiteral("no reply to %1 requests in a row").arg(health->unanswered())
                     : QStringLiteral("no reply on the line brought back"));
    }
}

void CmdBeckhoff_ADS::reconnected(AdsTransport *opened)
{
    health->reconnected();
    if (auto *t = qobject_cast<TcpTransport *>(opened)) {
        useTcp(t);
        route.connectedTo(route.ip(), t->localAddress());
    } else {
        useSerial(qobject_cast<SerialTransport *>(opened));
    }
}

// A line that is no longer used. Inside an exchange's wait it may still be
// on the stack, so it goes once control is back in the event loop.
void CmdBeckhoff_ADS::discard(AdsTransport *old)
{
    if (!old)
        return;
    disconnect(old, nullptr, this, nullptr);
    old->close();
    if (wait.waiting())
        old->deleteLater();
    else
        delete old;
}

int CmdBeckhoff_ADS::EthDisConnectDrive()
{
    reconnection->stop();
    if (!tcp)
        return 1;
    closedDuringWait = wait.waiting();
    tcp->close();
    lineGone();
    health->closed();
    return 0;
}

int CmdBeckhoff_ADS::serialDisConnectDrive()
{
    reconnection->stop();
    if (!serial || !serial->isOpen())
        return 1;
    closedDuringWait = wait.waiting();
    serial->close();
    lineGone();
    health->closed();
    return 0;
}

int CmdBeckhoff_ADS::DisConnectDrive()
{
    if (line && line == tcp)
        return EthDisConnectDrive();
    if (line && line == serial)
        return serialDisConnectDrive();
    return 1;
}

int CmdBeckhoff_ADS::DestroyFree()
{
    reconnection->stop();
    const bool any = tcp || serial;
    closedDuringWait = wait.waiting();
    adopt(nullptr);
    health->closed();
    return any ? 0 : 1;
}

bool CmdBeckhoff_ADS::lineOpen() const
{
    return line && line->isOpen();
}

int CmdBeckhoff_ADS::Connection_status()
{
    return lineOpen() ? 0 : -3;
}

// ---------------------------------------------------------------- line events

void CmdBeckhoff_ADS::Ethconnected() { }

// Only a loss the host did not ask for is worth a warning.
void CmdBeckhoff_ADS::Ethdisconnected()
{
    AdsLog::warnLinkLost(hostText, tcpPort, tcp ? tcp->error() : QAbstractSocket::UnknownSocketError);
    // Went while a request waited: a controller drops a source it has no route for.
    lineLost(AdsReason::ofLoss(wait.waiting(), tcp ? tcp->errorString() : QString(), route.source().netId));
}

void CmdBeckhoff_ADS::EthreadyRead()
{
    if (tcp && tcp->deliverTo(exchange))
        wait.arrived(exchange);
}

void CmdBeckhoff_ADS::serialreadyRead()
{
    if (serial && serial->deliverTo(exchange))
        wait.arrived(exchange);
}

// No more bytes can come: an exchange that waits for them ends now.
void CmdBeckhoff_ADS::lineGone()
{
    wait.lineGone();
}

// ---------------------------------------------------------------- requests

// A request goes out only from the owning thread, on a usable line, and
// never from inside the wait of another exchange: the two would share one
// reply stream.
LinkResult CmdBeckhoff_ADS::refusal()
{
    if (!callerOwnsLink())
        return LinkDown;
    if (wait.waiting())
        return LinkBusy;
    if (line) {
        // What the line holds before a request is stale; taking it also
        // notices a connection the controller closed while the host was busy.
        line->drainTo(exchange);
        exchange.dropStale();
    }
    return lineOpen() ? LinkOk : LinkDown;
}

CmdBeckhoff_ADS::DataSink CmdBeckhoff_ADS::appendTo(QByteArray *out)
{
    if (!out)
        return nullptr;
    return [out](const char *data, int size) { out->append(data, size); };
}

LinkOutcome CmdBeckhoff_ADS::readArea(int amsPort, int indexGroup, int indexOffset, int byteLength,
                                      QByteArray *out, const QString &varName)
{
    return readArea(amsPort, indexGroup, indexOffset, byteLength, appendTo(out), varName);
}

LinkOutcome CmdBeckhoff_ADS::readArea(int amsPort, int indexGroup, int indexOffset, int byteLength,
                                      const DataSink &sink, const QString &varName)
{
    return Message_parsing(AdsFrame::readRequest(route.target(), amsPort, ++invokeId, quint32(indexGroup),
                                                 quint32(indexOffset), quint32(byteLength), route.source()),
                           amsPort, byteLength, sink, varName);
}

LinkOutcome CmdBeckhoff_ADS::writeArea(int amsPort, int indexGroup, int indexOffset, int byteLength,
                                       const QByteArray &data, const QString &varName)
{
    return Message_parsing(AdsFrame::writeRequest(route.target(), amsPort, ++invokeId, quint32(indexGroup),
                                                  quint32(indexOffset), data, byteLength, route.source()),
                           amsPort, byteLength, DataSink(), varName);
}

LinkOutcome CmdBeckhoff_ADS::readWriteArea(int amsPort, int indexGroup, int indexOffset, int readLength,
                                           const QByteArray &writeData, QByteArray *out,
                                           const QString &varName)
{
    return Message_parsing(AdsFrame::readWriteRequest(route.target(), amsPort, ++invokeId,
                                                      quint32(indexGroup), quint32(indexOffset),
                                                      quint32(readLength), writeData, route.source()),
                           amsPort, readLength, appendTo(out), varName);
}

LinkOutcome CmdBeckhoff_ADS::readSymbolEntry(int amsPort, const QString &name, QByteArray *entry)
{
    return readWriteArea(amsPort, SymbolEntry::LookupGroup, 0, SymbolEntry::LookupReadLength,
                         SymbolEntry::lookupData(name), entry, name);
}

namespace {
// Replies the controller owes at once, for writes sent without waiting for
// each: enough to keep a link busy, few enough to notice a silent peer soon.
const int kUnawaitedInFlight = 64;
} // namespace

QByteArray CmdBeckhoff_ADS::frameOf(const Write &w)
{
    if (w.command == AdsFrame::CmdDeleteNotification)
        return AdsFrame::deleteNotificationRequest(w.to.target, w.to.amsPort, ++invokeId,
                                                   WireBytes::le32At(w.data, 0), w.to.source);
    return AdsFrame::writeRequest(w.to.target, w.to.amsPort, ++invokeId, w.indexGroup, w.indexOffset, w.data,
                                  w.data.size(), w.to.source);
}

bool CmdBeckhoff_ADS::writeUnawaited(const Write &write)
{
    if (!callerOwnsLink() || wait.waiting() || !lineOpen())
        return false;
    const QByteArray frame = frameOf(write);
    if (debugFlag) {
        const AdsLog::Context log{route.logHost(hostText), tcpPort, write.to.amsPort, QString(),
                                  write.data.size()};
        AdsLog::trace(AdsLog::writeCommand(log, frame));
    }
    exchange.expectUnawaited(frame);
    line->send(frame);
    return true;
}

int CmdBeckhoff_ADS::writeEach(const QList<Write> &writes)
{
    if (writes.isEmpty() || !callerOwnsLink() || wait.waiting() || !lineOpen())
        return 0;
    QList<QByteArray> frames;
    frames.reserve(writes.size());
    for (const Write &w : writes)
        frames << frameOf(w);
    return wait.runUnawaited(
        exchange, [this]() { return line; }, frames, kUnawaitedInFlight, settings.replyMs);
}

LinkOutcome CmdBeckhoff_ADS::readSymbolHandle(int amsPort, const QString &name, quint32 *handle)
{
    QByteArray answer;
    LinkOutcome got = readWriteArea(amsPort, AdsFrame::GroupSymbolHandleByName, 0, 4,
                                    SymbolEntry::lookupData(name), &answer, name);
    if (got.result == LinkOk && answer.size() != 4)
        got.result = LinkWrongReply; // no handle in it
    else if (got.result == LinkOk)
        *handle = WireBytes::le32(answer.constData());
    return got;
}

LinkOutcome CmdBeckhoff_ADS::readDeviceInfo(int amsPort, QByteArray *info)
{
    return Message_parsing(AdsFrame::bareRequest(AdsFrame::CmdReadDeviceInfo, route.target(), amsPort,
                                                 ++invokeId, route.source()),
                           amsPort, 0, appendTo(info), QStringLiteral("device info"));
}

LinkOutcome CmdBeckhoff_ADS::readState(int amsPort, QByteArray *state)
{
    return Message_parsing(
        AdsFrame::bareRequest(AdsFrame::CmdReadState, route.target(), amsPort, ++invokeId, route.source()),
        amsPort, 0, appendTo(state), QStringLiteral("state"));
}

LinkOutcome CmdBeckhoff_ADS::addNotification(int amsPort, quint32 indexGroup, quint32 indexOffset,
                                             quint32 length, int cycleMs, quint32 *handle,
                                             const QString &varName)
{
    const quint32 cycle100ns = quint32(cycleMs) * 10000; // the protocol's unit: 50 ms is 500000
    QByteArray answer;
    const QByteArray frame =
        AdsFrame::addNotificationRequest(route.target(), amsPort, ++invokeId, indexGroup, indexOffset, length,
                                         AdsFrame::NotifyOnChange, cycle100ns, cycle100ns, route.source());
    LinkOutcome added = Message_parsing(frame, amsPort, length, appendTo(&answer), varName);
    if (added.result == LinkOk && answer.size() != 4)
        added.result = LinkWrongReply;
    else if (added.result == LinkOk)
        *handle = WireBytes::le32(answer.constData());
    return added;
}

void CmdBeckhoff_ADS::setNotificationSink(const AdsExchange::NotificationSink &sink, qint64 limit)
{
    if (!sink) {
        exchange.setNotificationSink(nullptr, 0);
        return;
    }
    exchange.setNotificationSink(
        [this, sink](const char *data, qint64 size) {
            heard.start();
            sink(data, size);
        },
        limit);
}

void CmdBeckhoff_ADS::dispatchWaiting()
{
    if (line && !wait.waiting()) {
        line->drainTo(exchange);
        exchange.dropStale();
    }
}

LinkOutcome CmdBeckhoff_ADS::readSymbolVersion(int amsPort, const QString &varName, quint8 *version)
{
    QByteArray answer;
    LinkOutcome read = readArea(amsPort, AdsFrame::GroupSymbolVersion, 0, 1, &answer, varName);
    if (read.result == LinkOk)
        *version = quint8(answer.at(0));
    return read;
}

int CmdBeckhoff_ADS::Read_area(int amsPort, int indexOffset, int byteLength, QByteArray *out, int indexGroup,
                               const QString &varName)
{
    return readArea(amsPort, indexGroup, indexOffset, byteLength, out, varName).result;
}

int CmdBeckhoff_ADS::Write_area(int amsPort, int indexOffset, int byteLength, const QByteArray &data,
                                int indexGroup, const QString &varName)
{
    return writeArea(amsPort, indexGroup, indexOffset, byteLength, data, varName).result;
}

// Sends a built frame (its invoke id already taken, sent or not), traces
// it, and checks and reports the reply; an accepted read's data goes to `sink`.
LinkOutcome CmdBeckhoff_ADS::Message_parsing(const QByteArray &frame, int amsPort, qint64 byteLength,
                                             const DataSink &sink, const QString &varName)
{
    if (const LinkResult refused = refusal()) {
        LinkOutcome outcome;
        outcome.result = refused;
        outcome.reason = refused == LinkBusy ? AdsReason::busy() : AdsReason::linkDown();
        return outcome;
    }
    const AdsCommand *command = AdsCommand::of(frame);
    const bool isRead = command && command->tracedAsRead;
    const AdsLog::Context log{route.logHost(hostText), tcpPort, amsPort, varName, byteLength};
    if (debugFlag)
        AdsLog::trace(isRead ? AdsLog::readCommand(log, frame) : AdsLog::writeCommand(log, frame));
    closedDuringWait = false;
    const AdsExchange::Progress progress = wait.run(
        exchange, [this]() { return line; }, frame, settings.replyMs, settings.eventLoopMs, log);
    const QByteArray &reply = exchange.takeReply(); // the engine's bytes: used before anything reaches it
    if (closedDuringWait) {
        LinkOutcome outcome; // the host closed the line itself: no reply is no fault
        outcome.result = LinkDown;
        outcome.reason = QStringLiteral("the host closed the line during the wait");
        return outcome;
    }
    if (debugFlag)
        AdsLog::trace(isRead ? AdsLog::readResponse(log, reply) : AdsLog::writeResponse(log, reply));
    const AdsReplyCheck::Result check = AdsReplyCheck::check(progress, frame, reply);
    if (check.verdict == AdsReplyCheck::Accepted)
        reconnection->confirm();
    if (check.verdict == AdsReplyCheck::Accepted || check.verdict == AdsReplyCheck::ErrorCode)
        heard.start();
    // A line that went during the wait says why, rather than a reply's wait.
    const bool lineWent = check.verdict != AdsReplyCheck::Accepted && !lineOpen();
    const QString reason = lineWent && check.verdict == AdsReplyCheck::NoReply
                               ? lastLoss
                               : AdsReason::ofOutcome(progress, check, settings.replyMs);
    AdsLog::warnVerdict(log, check, reply, isRead, reason);
    // What follows the result (and a read's length field) is the reply's data.
    const int dataAt =
        command && command->replyCarriesData ? AdsFrame::OffReadData : AdsFrame::OffAdsResult + 4;
    if (check.verdict == AdsReplyCheck::Accepted && sink && reply.size() > dataAt)
        sink(reply.constData() + dataAt, reply.size() - dataAt);
    LinkOutcome outcome;
    outcome.result = AdsReplyCheck::linkResult(check.verdict);
    outcome.reason = reason;
    outcome.lineWent = lineWent;
    if (check.verdict == AdsReplyCheck::ErrorCode) {
        outcome.controllerError = check.errorCode;
        outcome.amsError = check.amsError;
    }
    judge(outcome.result, frame.size());
    return outcome;
}

// ---------------------------------------------------------------- the exchange
