// The driver's one link to the controller: a TCP socket or a serial port,
// and the synchronous exchange of one ADS request and its reply.
//
// Everything runs on the thread that owns the link; an exchange blocks it.
// For the first 2000 ms an exchange waits without running the thread's event
// loop; for the caller's time-out after that it runs a nested event loop, so
// the thread's other events are handled while a slow controller answers.
// A read or write started from inside that loop is refused with -3.
#ifndef CMDBECKHOFF_ADS_H
#define CMDBECKHOFF_ADS_H

#include "AdsLog.h"
#include "AdsReplyCheck.h"
#include "ReplyFramer.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <QSerialPort>

class QEventLoop;
class QTcpSocket;
class QTimer;

class CmdBeckhoff_ADS : public QObject
{
    Q_OBJECT
public:
    explicit CmdBeckhoff_ADS(QObject *parent = nullptr);
    ~CmdBeckhoff_ADS() override;

    // 0 connected (or still connecting after the wait), -1 not an address, -3 not connected.
    int EthConnectDrive(QString ipText, int port);
    // 0 done, 1 no TCP socket.
    int EthDisConnectDrive();
    // 0 open and configured; -1 a setting the line does not support, or the port did not open.
    int serialConnectDrive(QString portName, int baud, int dataBits, int stopBits, QString parity);
    // 0 closed, 1 no serial port or not open.
    int serialDisConnectDrive();
    // Closes the transport of the latest connect; 1 when no connect ever reached the link.
    int DisConnectDrive();
    // 0 the active transport can carry a request, -3 it cannot.
    int Connection_status();
    // 0 a transport was torn down, 1 there was none.
    int DestroyFree();

    // One ADS Read / Write: 0 success, -1 wrong reply, -2 no reply, -3 link down.
    int Read_area(int amsPort, int indexOffset, int byteLength, QByteArray *out, int indexGroup,
                  QString varName);
    int Write_area(int amsPort, int indexOffset, int byteLength, QByteArray data, int indexGroup,
                   QString varName);
    // One ADS ReadWrite: writes `writeData`, appends up to `readLength` bytes of answer to `out`.
    int ReadWrite_area(int amsPort, int indexGroup, int indexOffset, int readLength,
                       const QByteArray &writeData, QByteArray *out, const QString &varName);
    // The error code the controller gave in the last reply, 0 when it gave none.
    quint32 lastErrorCode() const { return errorCode; }

    // The quiet gap that ends a reply on the serial line at the current baud rate.
    int serialFrameGap() const { return frameGapMs; }

    // Frame-trace switch, written by the driver's debug command.
    bool debugFlag;

public slots:
    void Ethconnected();
    void Ethdisconnected();
    void EthreadyRead();
    void serialreadyRead();

private:
    enum Transport { NoTransport, TcpTransport, SerialTransport };

    int Message_parsing(QByteArray frame, QByteArray *out, int amsPort, int byteLength, QString varName);
    AdsReplyCheck::Delivery tracedExchange(const QByteArray &frame, QByteArray &reply, bool isRead);
    // Sends `request` and hands over what came back as its reply.
    AdsReplyCheck::Delivery SendData(const QByteArray &request, QByteArray &reply, int timeOut);
    int Only_send(const QByteArray &bytes);
    void waitBlocking(int ms);
    void waitInEventLoop(int ms);
    void dropStaleBytes();
    void collectReply();
    void TimerTimeOut();
    void serialError(QSerialPort::SerialPortError error);
    bool lineOpen() const;
    quint32 nextInvokeId();
    bool refuseRequest();
    void beginExchangeLog(int amsPort, const QString &varName, qint64 byteLength);
    int reportCheck(const AdsReplyCheck::Result &check, const QByteArray &reply, bool isRead);
    void warnStranger(const QByteArray &head, ReplyFramer::StrangerKind kind);
    int deletetcpSocket();
    int deleteSerialPort();

    QByteArray recvBuffer;
    QHostAddress hostAddress;
    QTcpSocket *tcpSocket;
    QTimer *serialTimer;
    QSerialPort *serialPort;
    int frameGapMs;
    int tcpPort;
    QString ipText;
    quint32 invokeId;
    Transport active;
    quint32 errorCode;
    // Derived once per connect, not per request.
    QString hostText;
    QByteArray targetNetId;

    // The exchange in progress.
    bool exchanging;
    ReplyFramer framer;
    ReplyFramer::State replyState;
    AdsLog::Context exchangeLog;
    QEventLoop *waitLoop;
    QElapsedTimer sinceSerialArrival;
};

#endif // CMDBECKHOFF_ADS_H
