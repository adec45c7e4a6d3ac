// The driver's one link to the controller: a TCP socket or a serial port,
// and the synchronous exchange of one ADS request and its reply.
//
// Everything runs on the thread that owns the link; an exchange blocks it.
// For the first 2000 ms an exchange waits without running the thread's event
// loop; for the caller's time-out after that it runs a nested event loop, so
// the thread's other events are handled while a slow controller answers.
// A request made from inside that loop is refused as busy, and a call from
// a thread that does not own the link is refused at once.
//
// A connect never disturbs a working line: the new transport is opened
// beside it and replaces it only once it works.
#ifndef CMDBECKHOFF_ADS_H
#define CMDBECKHOFF_ADS_H

#include "AdsExchange.h"
#include "AdsLog.h"
#include "AdsReplyCheck.h"
#include "LinkResult.h"

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

    // 0 connected (or still connecting after the wait), -1 not an address
    // or busy, -3 not connected. On failure the previous line stays as it was.
    int EthConnectDrive(QString ipText, int port);
    // 0 done, 1 no TCP socket.
    int EthDisConnectDrive();
    // 0 open and configured; -1 a setting the line cannot honour, the port did
    // not open, or busy. On failure the previous line stays as it was.
    int serialConnectDrive(QString portName, int baud, int dataBits, int stopBits, QString parity);
    // 0 closed, 1 no serial port or not open.
    int serialDisConnectDrive();
    // Closes the transport of the latest successful connect; 1 when there is none.
    int DisConnectDrive();
    // 0 the active transport can carry a request, -3 it cannot.
    int Connection_status();
    // 0 a transport was torn down, 1 there was none.
    int DestroyFree();

    // One ADS Read / Write: a LinkResult.
    int Read_area(int amsPort, int indexOffset, int byteLength, QByteArray *out, int indexGroup,
                  QString varName);
    int Write_area(int amsPort, int indexOffset, int byteLength, QByteArray data, int indexGroup,
                   QString varName);
    // One ADS ReadWrite: writes `writeData`, appends up to `readLength` bytes of answer to `out`.
    int ReadWrite_area(int amsPort, int indexGroup, int indexOffset, int readLength,
                       const QByteArray &writeData, QByteArray *out, const QString &varName);
    // The error code the controller gave in the last reply, 0 when it gave none.
    quint32 lastErrorCode() const { return errorCode; }

    // Whether the calling thread owns the link; when not, says so in the log.
    bool callerOwnsLink() const;
    // Whether an exchange is waiting for its reply.
    bool busy() const { return exchanging; }

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
    AdsExchange::Progress tracedExchange(const QByteArray &frame, QByteArray &reply, bool isRead);
    // Sends `request` and hands over what came back as its reply.
    AdsExchange::Progress SendData(const QByteArray &request, QByteArray &reply, int timeOut);
    int Only_send(const QByteArray &bytes);
    void waitBlocking(int ms);
    void waitInEventLoop(int ms);
    void drainStaleBytes();
    void afterArrival();
    void TimerTimeOut();
    void serialError(QSerialPort::SerialPortError error);
    bool lineOpen() const;
    quint32 nextInvokeId();
    LinkResult refusal() const;
    void beginExchangeLog(int amsPort, const QString &varName, qint64 byteLength);
    int reportCheck(const AdsReplyCheck::Result &check, const QByteArray &reply, bool isRead);
    void reportSkipped(AdsExchange::Skipped kind, const QByteArray &bytes, qint64 size);

    void adoptTcp(QTcpSocket *socket, const QHostAddress &address, const QString &ip, int port);
    void adoptSerial(QSerialPort *port, const QString &portName);
    void closeTcp();
    void closeSerial();
    void discard(QObject *transport);

    AdsExchange exchange;
    QHostAddress hostAddress;
    QTcpSocket *tcpSocket;
    QTimer *serialTimer;
    QSerialPort *serialPort;
    QString serialName;
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
    bool closingOnPurpose;
    AdsLog::Context exchangeLog;
    QEventLoop *waitLoop;
    QElapsedTimer clock;
    QElapsedTimer sinceSerialArrival;
};

#endif // CMDBECKHOFF_ADS_H
