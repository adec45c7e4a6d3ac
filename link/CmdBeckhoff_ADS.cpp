#include "CmdBeckhoff_ADS.h"

#include "AdsFrame.h"
#include "SerialLineSettings.h"

#include <QDebug>
#include <QEventLoop>
#include <QSerialPort>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>

namespace {
const int kConnectWaitMs = 30000;
// The first part of every exchange: the controller's whole answer time.
const int kFirstWaitMs = 2000;
// What the read and write paths allow on top of it.
const int kReplyTimeOutMs = 50;
// Bounds the draining of stale bytes before a request.
const int kDrainRounds = 64;

QString threadName(const QThread *thread)
{
    if (!thread)
        return QStringLiteral("(none)");
    if (!thread->objectName().isEmpty())
        return thread->objectName();
    return QStringLiteral("0x%1").arg(quintptr(thread), 0, 16);
}

// Holds a flag up for the life of a scope, also when it is left by an exception.
class FlagUp
{
public:
    explicit FlagUp(bool &flag) : m_flag(flag) { m_flag = true; }
    ~FlagUp() { m_flag = false; }
    FlagUp(const FlagUp &) = delete;
    FlagUp &operator=(const FlagUp &) = delete;

private:
    bool &m_flag;
};
} // namespace

CmdBeckhoff_ADS::CmdBeckhoff_ADS(QObject *parent)
    : QObject(parent), debugFlag(false), tcpSocket(nullptr), serialTimer(nullptr), serialPort(nullptr),
      frameGapMs(2), tcpPort(0), invokeId(0), active(NoTransport), errorCode(0),
      targetNetId(AdsFrame::targetNetId(QString())), exchanging(false), closingOnPurpose(false),
      waitLoop(nullptr)
{
    clock.start();
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
    AdsLog::warn(AdsLog::foreignThread(threadName(caller), threadName(thread())));
    return false;
}

// ---------------------------------------------------------------- TCP

int CmdBeckhoff_ADS::EthConnectDrive(QString ip, int port)
{
    QHostAddress address;
    if (exchanging || !address.setAddress(ip))
        return -1;
    QTcpSocket *candidate = new QTcpSocket(this);
    candidate->connectToHost(address, quint16(port), QIODevice::ReadWrite);
    candidate->waitForConnected(kConnectWaitMs);
    const auto state = candidate->state();
    if (state != QAbstractSocket::ConnectingState && state != QAbstractSocket::ConnectedState) {
        delete candidate;
        return -3;
    }
    adoptTcp(candidate, address, ip, port);
    return 0;
}

// The new connection works: it replaces whatever line was open.
void CmdBeckhoff_ADS::adoptTcp(QTcpSocket *socket, const QHostAddress &address, const QString &ip, int port)
{
    closeTcp();
    closeSerial();
    discard(tcpSocket);
    tcpSocket = socket;
    connect(tcpSocket, &QAbstractSocket::connected, this, &CmdBeckhoff_ADS::Ethconnected);
    connect(tcpSocket, &QAbstractSocket::disconnected, this, &CmdBeckhoff_ADS::Ethdisconnected);
    connect(tcpSocket, &QIODevice::readyRead, this, &CmdBeckhoff_ADS::EthreadyRead);
    if (tcpSocket->state() == QAbstractSocket::ConnectedState)
        Ethconnected(); // the wait already saw it connect
    hostAddress = address;
    hostText = address.toString();
    tcpPort = port;
    ipText = ip;
    targetNetId = AdsFrame::targetNetId(ipText);
    active = TcpTransport;
    exchange.reset();
}

int CmdBeckhoff_ADS::EthDisConnectDrive()
{
    if (!tcpSocket)
        return 1;
    closeTcp();
    return 0;
}

void CmdBeckhoff_ADS::closeTcp()
{
    if (!tcpSocket || tcpSocket->state() == QAbstractSocket::UnconnectedState)
        return;
    closingOnPurpose = true;
    tcpSocket->close();
    tcpSocket->disconnectFromHost();
    if (tcpSocket->state() != QAbstractSocket::UnconnectedState)
        tcpSocket->waitForDisconnected(kConnectWaitMs);
    closingOnPurpose = false;
    if (waitLoop)
        waitLoop->quit();
}

void CmdBeckhoff_ADS::Ethconnected()
{
    // Requests are single writes; do not let them wait for an acknowledgement.
    if (tcpSocket)
        tcpSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

// Only a loss the host did not ask for is worth a warning.
void CmdBeckhoff_ADS::Ethdisconnected()
{
    if (!tcpSocket || sender() != tcpSocket)
        return;
    if (!closingOnPurpose)
        qWarning().noquote() << AdsLog::linkLost(hostText, tcpPort) << tcpSocket->error();
    // No more bytes can come: an exchange that waits for them ends now.
    if (waitLoop)
        waitLoop->quit();
}

void CmdBeckhoff_ADS::EthreadyRead()
{
    if (!tcpSocket)
        return;
    const qint64 available = tcpSocket->bytesAvailable();
    if (available <= 0)
        return;
    char *tail = exchange.reserveTail(available);
    exchange.commitTail(tcpSocket->read(tail, available));
    afterArrival();
}

// ---------------------------------------------------------------- serial line

int CmdBeckhoff_ADS::serialConnectDrive(QString portName, int baud, int dataBits, int stopBits,
                                        QString parity)
{
    SerialLineSettings line;
    if (exchanging || !SerialLineSettings::fromText(baud, dataBits, stopBits, parity, &line))
        return -1;
    if (active == SerialTransport && serialPort && serialPort->isOpen() && serialName == portName) {
        // The same device again: new settings on the open port, the old ones
        // back if it refuses.
        const SerialLineSettings previous = SerialLineSettings::of(*serialPort);
        if (!line.applyTo(serialPort, portName)) {
            previous.applyTo(serialPort, portName);
            return -1;
        }
        exchange.reset();
    } else {
        QSerialPort *candidate = new QSerialPort(this);
        candidate->setPortName(portName);
        if (!candidate->open(QIODevice::ReadWrite) || !line.applyTo(candidate, portName)) {
            delete candidate;
            return -1;
        }
        adoptSerial(candidate, portName);
    }
    if (line.frameGapMs() > 0)
        frameGapMs = line.frameGapMs();
    return 0;
}

void CmdBeckhoff_ADS::adoptSerial(QSerialPort *port, const QString &portName)
{
    closeTcp();
    closeSerial();
    discard(serialPort);
    serialPort = port;
    serialName = portName;
    connect(serialPort, &QIODevice::readyRead, this, &CmdBeckhoff_ADS::serialreadyRead);
    connect(serialPort, &QSerialPort::errorOccurred, this, &CmdBeckhoff_ADS::serialError);
    if (!serialTimer) {
        serialTimer = new QTimer(this);
        serialTimer->setSingleShot(true);
        serialTimer->setTimerType(Qt::PreciseTimer);
        connect(serialTimer, &QTimer::timeout, this, &CmdBeckhoff_ADS::TimerTimeOut);
    }
    active = SerialTransport;
    exchange.reset();
}

int CmdBeckhoff_ADS::serialDisConnectDrive()
{
    if (!serialPort || !serialPort->isOpen())
        return 1;
    closeSerial();
    return 0;
}

void CmdBeckhoff_ADS::closeSerial()
{
    if (serialTimer)
        serialTimer->stop();
    if (!serialPort || !serialPort->isOpen())
        return;
    serialPort->clear(QSerialPort::AllDirections);
    serialPort->close();
    if (waitLoop)
        waitLoop->quit();
}

// Bytes stay in the port until the line has been quiet for a frame gap, so a
// reply is handed over whole.
void CmdBeckhoff_ADS::serialreadyRead()
{
    sinceSerialArrival.start();
    if (serialTimer)
        serialTimer->start(frameGapMs);
}

void CmdBeckhoff_ADS::TimerTimeOut()
{
    if (serialTimer)
        serialTimer->stop();
    if (!serialPort)
        return;
    const qint64 available = serialPort->bytesAvailable();
    if (available <= 0)
        return;
    char *tail = exchange.reserveTail(available);
    exchange.commitTail(serialPort->read(tail, available));
    afterArrival();
}

// A device that went away (a USB adapter pulled: EIO; the far end of a
// pseudo-terminal closed: reads at end of file) cannot come back by itself:
// the line is down, as a TCP connection is when the controller closes it.
// Left open, the port would report the same error on every wait.
void CmdBeckhoff_ADS::serialError(QSerialPort::SerialPortError error)
{
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) || !serialPort
        || sender() != serialPort || !serialPort->isOpen())
        return;
    if (exchanging)
        TimerTimeOut(); // what came before the line went is part of the reply, if cut short
    serialPort->close();
    if (waitLoop)
        waitLoop->quit();
}

// ---------------------------------------------------------------- transport choice

int CmdBeckhoff_ADS::DisConnectDrive()
{
    switch (active) {
    case TcpTransport: return EthDisConnectDrive();
    case SerialTransport: return serialDisConnectDrive();
    default: return 1;
    }
}

bool CmdBeckhoff_ADS::lineOpen() const
{
    switch (active) {
    case TcpTransport: return tcpSocket && tcpSocket->state() == QAbstractSocket::ConnectedState;
    case SerialTransport: return serialPort && serialPort->isOpen();
    default: return false;
    }
}

int CmdBeckhoff_ADS::Connection_status()
{
    return lineOpen() ? 0 : -3;
}

int CmdBeckhoff_ADS::Only_send(const QByteArray &bytes)
{
    if (active == TcpTransport && tcpSocket && tcpSocket->bytesToWrite() == 0) {
        // Straight to the socket: a request usually fits its send buffer, and
        // going through the socket's own buffer costs a notifier switched on
        // and off for every request. What does not fit goes the usual way.
        const ssize_t sent = ::send(int(tcpSocket->socketDescriptor()), bytes.constData(),
                                    size_t(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent == bytes.size())
            return 0;
        if (sent > 0) {
            tcpSocket->write(bytes.constData() + sent, bytes.size() - sent);
            tcpSocket->flush();
            return 0;
        }
    }
    QIODevice *device = nullptr;
    if (active == TcpTransport)
        device = tcpSocket;
    else if (active == SerialTransport)
        device = serialPort;
    if (!device)
        return 1;
    device->write(bytes);
    if (active == TcpTransport)
        tcpSocket->flush();
    else
        serialPort->flush();
    return 0;
}

// ---------------------------------------------------------------- teardown

// A transport that is no longer used. Inside an exchange's wait it may
// still be on the stack, so it goes once control is back in the event loop.
void CmdBeckhoff_ADS::discard(QObject *transport)
{
    if (!transport)
        return;
    disconnect(transport, nullptr, this, nullptr);
    if (exchanging)
        transport->deleteLater();
    else
        delete transport;
}

int CmdBeckhoff_ADS::DestroyFree()
{
    const bool any = serialPort || tcpSocket;
    closeSerial();
    closeTcp();
    discard(serialPort);
    serialPort = nullptr;
    discard(serialTimer);
    serialTimer = nullptr;
    discard(tcpSocket);
    tcpSocket = nullptr;
    active = NoTransport;
    exchange.reset();
    return any ? 0 : 1;
}

// ---------------------------------------------------------------- requests

quint32 CmdBeckhoff_ADS::nextInvokeId()
{
    return ++invokeId; // wraps as an unsigned 32-bit value
}

// A request goes out only from the owning thread, on a usable line, and
// never from inside the wait of another exchange: the two would share one
// reply stream.
LinkResult CmdBeckhoff_ADS::refusal() const
{
    if (!callerOwnsLink())
        return LinkDown;
    if (exchanging)
        return LinkBusy;
    return lineOpen() ? LinkOk : LinkDown;
}

int CmdBeckhoff_ADS::Read_area(int amsPort, int indexOffset, int byteLength, QByteArray *out, int indexGroup,
                               QString varName)
{
    const QByteArray frame = AdsFrame::readRequest(targetNetId, amsPort, nextInvokeId(), quint32(indexGroup),
                                                   quint32(indexOffset), quint32(byteLength));
    errorCode = 0;
    if (const LinkResult refused = refusal())
        return refused;
    return Message_parsing(frame, out, amsPort, byteLength, varName);
}

int CmdBeckhoff_ADS::Message_parsing(QByteArray frame, QByteArray *out, int amsPort, int byteLength,
                                     QString varName)
{
    beginExchangeLog(amsPort, varName, byteLength);
    QByteArray reply;
    const AdsExchange::Progress progress = tracedExchange(frame, reply, true);
    const int rc = reportCheck(AdsReplyCheck::check(progress, frame, reply), reply, true);
    if (rc == LinkOk && reply.size() > AdsFrame::OffReadData)
        out->append(reply.constData() + AdsFrame::OffReadData, reply.size() - AdsFrame::OffReadData);
    return rc;
}

int CmdBeckhoff_ADS::ReadWrite_area(int amsPort, int indexGroup, int indexOffset, int readLength,
                                    const QByteArray &writeData, QByteArray *out, const QString &varName)
{
    const QByteArray frame =
        AdsFrame::readWriteRequest(targetNetId, amsPort, nextInvokeId(), quint32(indexGroup),
                                   quint32(indexOffset), quint32(readLength), writeData);
    errorCode = 0;
    if (const LinkResult refused = refusal())
        return refused;
    return Message_parsing(frame, out, amsPort, readLength, varName);
}

int CmdBeckhoff_ADS::Write_area(int amsPort, int indexOffset, int byteLength, QByteArray data, int indexGroup,
                                QString varName)
{
    const QByteArray frame = AdsFrame::writeRequest(targetNetId, amsPort, nextInvokeId(), quint32(indexGroup),
                                                    quint32(indexOffset), data, byteLength);
    errorCode = 0;
    if (const LinkResult refused = refusal())
        return refused;
    beginExchangeLog(amsPort, varName, byteLength);
    QByteArray reply;
    const AdsExchange::Progress progress = tracedExchange(frame, reply, false);
    return reportCheck(AdsReplyCheck::check(progress, frame, reply), reply, false);
}

// The exchange, with its command and response lines while the trace is on.
AdsExchange::Progress CmdBeckhoff_ADS::tracedExchange(const QByteArray &frame, QByteArray &reply, bool isRead)
{
    if (debugFlag)
        AdsLog::trace(isRead ? AdsLog::readCommand(exchangeLog, frame)
                             : AdsLog::writeCommand(exchangeLog, frame));
    const AdsExchange::Progress progress = SendData(frame, reply, kReplyTimeOutMs);
    if (debugFlag)
        AdsLog::trace(isRead ? AdsLog::readResponse(exchangeLog, reply)
                             : AdsLog::writeResponse(exchangeLog, reply));
    return progress;
}

void CmdBeckhoff_ADS::beginExchangeLog(int amsPort, const QString &varName, qint64 byteLength)
{
    exchangeLog.host = hostText;
    exchangeLog.tcpPort = tcpPort;
    exchangeLog.amsPort = amsPort;
    exchangeLog.varName = varName;
    exchangeLog.byteLength = byteLength;
}

int CmdBeckhoff_ADS::reportCheck(const AdsReplyCheck::Result &check, const QByteArray &reply, bool isRead)
{
    errorCode = check.verdict == AdsReplyCheck::ErrorCode ? check.errorCode : 0;
    switch (check.verdict) {
    case AdsReplyCheck::NoReply:
        if (isRead)
            AdsLog::warn(AdsLog::emptyReply(exchangeLog, reply));
        break;
    case AdsReplyCheck::WrongReply: AdsLog::warn(AdsLog::wrongLength(exchangeLog, reply)); break;
    case AdsReplyCheck::ErrorCode:
        AdsLog::warn(AdsLog::errorCode(exchangeLog, check.errorCode, reply));
        break;
    case AdsReplyCheck::Accepted: break;
    }
    return AdsReplyCheck::linkResult(check.verdict);
}

void CmdBeckhoff_ADS::reportSkipped(AdsExchange::Skipped kind, const QByteArray &bytes, qint64 size)
{
    if (kind == AdsExchange::Stranger)
        AdsLog::warn(AdsLog::wrongSequence(exchangeLog, bytes, size));
    else
        AdsLog::warn(AdsLog::wrongLength(exchangeLog, bytes, size));
}

// ---------------------------------------------------------------- the exchange

// What the line holds before a request is stale: what Qt has buffered and
// what is still in the kernel, taken without blocking.
void CmdBeckhoff_ADS::drainStaleBytes()
{
    if (active == TcpTransport && tcpSocket) {
        EthreadyRead();
        for (int round = 0; round < kDrainRounds && tcpSocket && tcpSocket->waitForReadyRead(0); ++round) { }
    } else if (active == SerialTransport && serialPort && serialPort->isOpen()) {
        if (serialTimer)
            serialTimer->stop();
        TimerTimeOut();
        for (int round = 0; round < kDrainRounds && serialPort->isOpen() && serialPort->waitForReadyRead(0);
             ++round)
            TimerTimeOut();
    }
    exchange.dropStale();
}

void CmdBeckhoff_ADS::afterArrival()
{
    if (!exchanging) {
        exchange.dropStale(); // nobody waits for these bytes
        return;
    }
    const AdsExchange::Progress progress =
        exchange.advance(clock.elapsed(), [this](auto kind, auto &b, auto n) { reportSkipped(kind, b, n); });
    if (progress != AdsExchange::Waiting && waitLoop)
        waitLoop->quit();
}

AdsExchange::Progress CmdBeckhoff_ADS::SendData(const QByteArray &request, QByteArray &reply, int timeOut)
{
    drainStaleBytes();
    const qint64 start = clock.elapsed();
    exchange.begin(request, start, kFirstWaitMs + qMax(0, timeOut));
    const auto sink = [this](auto kind, auto &bytes, auto size) { reportSkipped(kind, bytes, size); };
    {
        FlagUp waiting(exchanging);
        Only_send(request);
        while (exchange.progress() == AdsExchange::Waiting && lineOpen()) {
            const qint64 now = clock.elapsed();
            const qint64 left = exchange.remainingMs(now);
            if (left <= 0)
                break;
            if (now - start < kFirstWaitMs)
                waitBlocking(int(qMin<qint64>(left, kFirstWaitMs - (now - start))));
            else
                waitInEventLoop(int(left));
            exchange.advance(clock.elapsed(), sink);
        }
        // Bytes still held back by the frame gap belong to this reply too.
        if (exchange.progress() == AdsExchange::Waiting && active == SerialTransport && serialPort
            && serialPort->isOpen())
            TimerTimeOut();
        exchange.end(sink);
    }
    if (serialTimer)
        serialTimer->stop();
    reply = exchange.takeReply();
    return exchange.progress();
}

void CmdBeckhoff_ADS::waitBlocking(int ms)
{
    if (ms <= 0)
        return;
    if (active == TcpTransport) {
        tcpSocket->waitForReadyRead(ms);
        return;
    }
    if (serialPort->bytesAvailable() > 0) {
        const qint64 quietLeft = frameGapMs - sinceSerialArrival.elapsed();
        if (quietLeft <= 0) {
            TimerTimeOut();
            return;
        }
        ms = int(qMin<qint64>(ms, quietLeft));
    }
    serialPort->waitForReadyRead(ms);
}

void CmdBeckhoff_ADS::waitInEventLoop(int ms)
{
    if (ms <= 0)
        return;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(ms);
    QEventLoop *outer = waitLoop;
    waitLoop = &loop;
    loop.exec(QEventLoop::AllEvents);
    waitLoop = outer;
}
