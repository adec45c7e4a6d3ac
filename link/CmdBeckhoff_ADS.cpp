#include "CmdBeckhoff_ADS.h"

#include "AdsFrame.h"
#include "SerialLineSettings.h"

#include <QDebug>
#include <QEventLoop>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace {
const int kConnectWaitMs = 30000;
// The first part of every exchange: the controller's whole answer time.
const int kFirstWaitMs = 2000;
// What the read and write paths allow on top of it.
const int kReplyTimeOutMs = 50;
// The receive buffer is kept from one exchange to the next up to this size:
// no allocation per small exchange, no page faults per large one, and no
// more than this held per idle driver.
const int kKeptBufferBytes = 1024 * 1024;
} // namespace

CmdBeckhoff_ADS::CmdBeckhoff_ADS(QObject *parent)
    : QObject(parent), debugFlag(false), tcpSocket(nullptr), serialTimer(nullptr), serialPort(nullptr),
      frameGapMs(2), tcpPort(0), invokeId(0), active(NoTransport), errorCode(0),
      targetNetId(AdsFrame::targetNetId(QString())), exchanging(false), replyState(ReplyFramer::NeedMore),
      waitLoop(nullptr)
{
}

CmdBeckhoff_ADS::~CmdBeckhoff_ADS()
{
    DestroyFree();
}

// ---------------------------------------------------------------- TCP

int CmdBeckhoff_ADS::EthConnectDrive(QString ip, int port)
{
    tcpPort = port;
    ipText = ip;
    targetNetId = AdsFrame::targetNetId(ipText);
    active = TcpTransport;
    if (!tcpSocket) {
        tcpSocket = new QTcpSocket(this);
        connect(tcpSocket, &QAbstractSocket::connected, this, &CmdBeckhoff_ADS::Ethconnected);
        connect(tcpSocket, &QAbstractSocket::disconnected, this, &CmdBeckhoff_ADS::Ethdisconnected);
        connect(tcpSocket, &QIODevice::readyRead, this, &CmdBeckhoff_ADS::EthreadyRead);
    }
    const bool parsed = hostAddress.setAddress(ip);
    hostText = hostAddress.toString();
    if (!parsed)
        return -1;
    tcpSocket->abort();
    recvBuffer.clear();
    framer.reset();
    tcpSocket->connectToHost(hostAddress, quint16(port), QIODevice::ReadWrite);
    tcpSocket->waitForConnected(kConnectWaitMs);
    const auto state = tcpSocket->state();
    return state == QAbstractSocket::ConnectingState || state == QAbstractSocket::ConnectedState ? 0 : -3;
}

int CmdBeckhoff_ADS::EthDisConnectDrive()
{
    if (!tcpSocket)
        return 1;
    tcpSocket->close();
    tcpSocket->disconnectFromHost();
    if (tcpSocket->state() != QAbstractSocket::UnconnectedState)
        tcpSocket->waitForDisconnected(kConnectWaitMs);
    return 0;
}

void CmdBeckhoff_ADS::Ethconnected()
{
    // Requests are single writes; do not let them wait for an acknowledgement.
    if (tcpSocket)
        tcpSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

void CmdBeckhoff_ADS::Ethdisconnected()
{
    const QAbstractSocket::SocketError error =
        tcpSocket ? tcpSocket->error() : QAbstractSocket::UnknownSocketError;
    qWarning().noquote() << AdsLog::linkLost(hostText, tcpPort) << error;
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
    const int held = recvBuffer.size();
    recvBuffer.resize(held + int(available));
    const qint64 got = tcpSocket->read(recvBuffer.data() + held, available);
    recvBuffer.resize(held + int(qMax<qint64>(got, 0)));
    collectReply();
}

// ---------------------------------------------------------------- serial line

int CmdBeckhoff_ADS::serialConnectDrive(QString portName, int baud, int dataBits, int stopBits,
                                        QString parity)
{
    active = SerialTransport;
    if (!serialPort)
        serialPort = new QSerialPort(this);
    if (serialPort->isOpen()) {
        serialPort->clear(QSerialPort::AllDirections);
        serialPort->close();
    }
    SerialLineSettings line;
    if (!SerialLineSettings::fromText(baud, dataBits, stopBits, parity, &line))
        return -1;
    serialPort->setPortName(portName);
    if (!serialPort->open(QIODevice::ReadWrite))
        return -1;
    // A pseudo-terminal refuses some settings; what the port accepts is what counts.
    serialPort->setBaudRate(line.baud, QSerialPort::AllDirections);
    serialPort->setDataBits(line.dataBits);
    serialPort->setStopBits(line.stopBits);
    serialPort->setParity(line.parity);
    serialPort->setFlowControl(QSerialPort::NoFlowControl);
    if (line.frameGapMs() > 0)
        frameGapMs = line.frameGapMs();
    connect(serialPort, &QIODevice::readyRead, this, &CmdBeckhoff_ADS::serialreadyRead, Qt::UniqueConnection);
    connect(serialPort, &QSerialPort::errorOccurred, this, &CmdBeckhoff_ADS::serialError,
            Qt::UniqueConnection);
    if (!serialTimer) {
        serialTimer = new QTimer(this);
        serialTimer->setSingleShot(true);
        serialTimer->setTimerType(Qt::PreciseTimer);
        connect(serialTimer, &QTimer::timeout, this, &CmdBeckhoff_ADS::TimerTimeOut);
    }
    recvBuffer.clear();
    framer.reset();
    return 0;
}

int CmdBeckhoff_ADS::serialDisConnectDrive()
{
    if (!serialPort || !serialPort->isOpen())
        return 1;
    serialPort->clear(QSerialPort::AllDirections);
    serialPort->close();
    return 0;
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
    recvBuffer.append(serialPort->readAll());
    collectReply();
}

// A device that went away (a USB adapter pulled: EIO; the far end of a
// pseudo-terminal closed: reads at end of file) cannot come back by itself:
// the line is down, as a TCP connection is when the controller closes it.
// Left open, the port would report the same error on every wait.
void CmdBeckhoff_ADS::serialError(QSerialPort::SerialPortError error)
{
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) || !serialPort
        || !serialPort->isOpen())
        return;
    if (exchanging) {
        // What came before the line went is part of the reply, if cut short.
        recvBuffer.append(serialPort->readAll());
        collectReply();
    }
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

int CmdBeckhoff_ADS::deletetcpSocket()
{
    if (tcpSocket) {
        disconnect(tcpSocket, nullptr, this, nullptr);
        delete tcpSocket;
        tcpSocket = nullptr;
    }
    return 0;
}

int CmdBeckhoff_ADS::deleteSerialPort()
{
    delete serialPort;
    serialPort = nullptr;
    delete serialTimer;
    serialTimer = nullptr;
    return 0;
}

int CmdBeckhoff_ADS::DestroyFree()
{
    const bool any = serialPort || tcpSocket;
    if (serialPort) {
        serialDisConnectDrive();
        deleteSerialPort();
    }
    if (tcpSocket) {
        if (tcpSocket->state() != QAbstractSocket::UnconnectedState)
            EthDisConnectDrive();
        deletetcpSocket();
    }
    active = NoTransport;
    recvBuffer.clear();
    return any ? 0 : 1;
}

// ---------------------------------------------------------------- requests

quint32 CmdBeckhoff_ADS::nextInvokeId()
{
    return ++invokeId; // wraps as an unsigned 32-bit value
}

// A request goes out only on a usable line, and never from inside the wait
// of another exchange: the two would share one reply stream.
bool CmdBeckhoff_ADS::refuseRequest()
{
    errorCode = 0; // a new request: no error from the controller yet
    return exchanging || !lineOpen();
}

int CmdBeckhoff_ADS::Read_area(int amsPort, int indexOffset, int byteLength, QByteArray *out, int indexGroup,
                               QString varName)
{
    const QByteArray frame = AdsFrame::readRequest(targetNetId, amsPort, nextInvokeId(), quint32(indexGroup),
                                                   quint32(indexOffset), quint32(byteLength));
    if (refuseRequest())
        return -3;
    return Message_parsing(frame, out, amsPort, byteLength, varName);
}

int CmdBeckhoff_ADS::Message_parsing(QByteArray frame, QByteArray *out, int amsPort, int byteLength,
                                     QString varName)
{
    beginExchangeLog(amsPort, varName, byteLength);
    QByteArray reply;
    const AdsReplyCheck::Delivery delivery = tracedExchange(frame, reply, true);
    const AdsReplyCheck::Result check =
        AdsFrame::commandOf(frame) == AdsFrame::CmdReadWrite
            ? AdsReplyCheck::checkReadWrite(delivery, frame, reply, byteLength)
            : AdsReplyCheck::checkRead(delivery, frame, reply, byteLength);
    const int rc = reportCheck(check, reply, true);
    if (rc == 0 && reply.size() > AdsFrame::OffReadData)
        out->append(reply.constData() + AdsFrame::OffReadData, reply.size() - AdsFrame::OffReadData);
    return rc;
}

int CmdBeckhoff_ADS::ReadWrite_area(int amsPort, int indexGroup, int indexOffset, int readLength,
                                    const QByteArray &writeData, QByteArray *out, const QString &varName)
{
    const QByteArray frame =
        AdsFrame::readWriteRequest(targetNetId, amsPort, nextInvokeId(), quint32(indexGroup),
                                   quint32(indexOffset), quint32(readLength), writeData);
    if (refuseRequest())
        return -3;
    return Message_parsing(frame, out, amsPort, readLength, varName);
}

int CmdBeckhoff_ADS::Write_area(int amsPort, int indexOffset, int byteLength, QByteArray data, int indexGroup,
                                QString varName)
{
    const QByteArray frame = AdsFrame::writeRequest(targetNetId, amsPort, nextInvokeId(), quint32(indexGroup),
                                                    quint32(indexOffset), data, byteLength);
    if (refuseRequest())
        return -3;
    beginExchangeLog(amsPort, varName, byteLength);
    QByteArray reply;
    const AdsReplyCheck::Delivery delivery = tracedExchange(frame, reply, false);
    return reportCheck(AdsReplyCheck::checkWrite(delivery, frame, reply), reply, false);
}

// The exchange, with its command and response lines while the trace is on.
AdsReplyCheck::Delivery CmdBeckhoff_ADS::tracedExchange(const QByteArray &frame, QByteArray &reply,
                                                        bool isRead)
{
    if (debugFlag)
        AdsLog::trace(isRead ? AdsLog::readCommand(exchangeLog, frame)
                             : AdsLog::writeCommand(exchangeLog, frame));
    const AdsReplyCheck::Delivery delivery = SendData(frame, reply, kReplyTimeOutMs);
    if (debugFlag)
        AdsLog::trace(isRead ? AdsLog::readResponse(exchangeLog, reply)
                             : AdsLog::writeResponse(exchangeLog, reply));
    return delivery;
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
    case AdsReplyCheck::WrongLength: AdsLog::warn(AdsLog::wrongLength(exchangeLog, reply)); break;
    case AdsReplyCheck::ErrorCode:
        AdsLog::warn(AdsLog::errorCode(exchangeLog, check.errorCode, reply));
        break;
    case AdsReplyCheck::WrongSequence: AdsLog::warn(AdsLog::wrongSequence(exchangeLog, reply)); break;
    case AdsReplyCheck::Accepted:
    case AdsReplyCheck::StrangersOnly: // each stranger had its line when it was dropped
        break;
    }
    return AdsReplyCheck::linkResult(check.verdict);
}

void CmdBeckhoff_ADS::warnStranger(const QByteArray &head, ReplyFramer::StrangerKind kind)
{
    if (kind == ReplyFramer::OtherInvokeId)
        AdsLog::warn(AdsLog::wrongSequence(exchangeLog, head));
    else
        AdsLog::warn(AdsLog::wrongLength(exchangeLog, head));
}

// ---------------------------------------------------------------- the exchange

void CmdBeckhoff_ADS::dropStaleBytes()
{
    QIODevice *device = active == TcpTransport      ? static_cast<QIODevice *>(tcpSocket)
                        : active == SerialTransport ? static_cast<QIODevice *>(serialPort)
                                                    : nullptr;
    if (serialTimer)
        serialTimer->stop();
    if (device && device->bytesAvailable() > 0)
        recvBuffer.append(device->readAll());
    framer.discardStale(recvBuffer);
}

void CmdBeckhoff_ADS::collectReply()
{
    if (!exchanging) {
        framer.discardStale(recvBuffer); // nobody waits for these bytes
        return;
    }
    if (replyState != ReplyFramer::NeedMore)
        return;
    replyState = framer.scan(recvBuffer, [this](const QByteArray &head, ReplyFramer::StrangerKind kind) {
        warnStranger(head, kind);
    });
    if (replyState != ReplyFramer::NeedMore && waitLoop)
        waitLoop->quit();
}

AdsReplyCheck::Delivery CmdBeckhoff_ADS::SendData(const QByteArray &request, QByteArray &reply, int timeOut)
{
    dropStaleBytes();
    const qint64 expected = AdsFrame::expectedReplySize(request);
    recvBuffer.reserve(int(qMin<qint64>(expected, kKeptBufferBytes)));
    framer.beginExchange(quint16(AdsFrame::invokeIdOf(request)), expected);
    replyState = ReplyFramer::NeedMore;
    exchanging = true;

    QElapsedTimer clock;
    clock.start();
    Only_send(request);
    while (replyState == ReplyFramer::NeedMore && lineOpen() && clock.elapsed() < kFirstWaitMs)
        waitBlocking(int(kFirstWaitMs - clock.elapsed()));
    if (replyState == ReplyFramer::NeedMore && timeOut > 0 && lineOpen())
        waitInEventLoop(int(kFirstWaitMs + timeOut - clock.elapsed()));
    // Bytes still held back by the frame gap belong to this reply too.
    if (replyState == ReplyFramer::NeedMore && active == SerialTransport && serialPort
        && serialPort->bytesAvailable() > 0)
        TimerTimeOut();
    exchanging = false;
    if (serialTimer)
        serialTimer->stop();

    AdsReplyCheck::Delivery delivery;
    if (replyState != ReplyFramer::NeedMore) {
        delivery =
            replyState == ReplyFramer::FrameReady ? AdsReplyCheck::CompleteFrame : AdsReplyCheck::Incomplete;
        if (framer.frameSize() == recvBuffer.size()) {
            // Shared, not copied: the next exchange skips it as a frame it has seen.
            reply = recvBuffer;
        } else {
            reply = recvBuffer.left(int(framer.frameSize()));
            recvBuffer.remove(0, reply.size());
        }
    } else if (!recvBuffer.isEmpty()) {
        reply = recvBuffer;
        recvBuffer.resize(0);
        delivery = AdsReplyCheck::Incomplete;
    } else {
        delivery = framer.strangers() > 0 ? AdsReplyCheck::OnlyStrangers : AdsReplyCheck::Nothing;
    }
    if (recvBuffer.capacity() > kKeptBufferBytes)
        recvBuffer = QByteArray(); // the reply keeps what it needs
    return delivery;
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
    waitLoop = &loop;
    loop.exec(QEventLoop::AllEvents);
    waitLoop = nullptr;
}
