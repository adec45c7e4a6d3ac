// The driver's one link to the controller: the line in use (a TCP
// connection or a serial line) and the synchronous exchange of one ADS
// request and its reply.
//
// Everything runs on the thread that owns the link; an exchange blocks it.
// For the first 2000 ms an exchange waits without running the thread's event
// loop; for the caller's time-out after that it runs a nested event loop, so
// the thread's other events are handled while a slow controller answers.
// A request made from inside that loop is refused as busy, and a call from
// a thread that does not own the link is refused at once.
//
// A connect never disturbs a working line: the new line is opened beside it
// and replaces it only once it works.
//
// Members: the operations, `debugFlag` and the four slots are the ones the
// driver's design names; the line, the exchange engine and the rest are the
// link's own.
#ifndef CMDBECKHOFF_ADS_H
#define CMDBECKHOFF_ADS_H

#include "link/AdsExchange.h"
#include "link/AdsLog.h"
#include "link/AmsRoute.h"
#include "link/ExchangeWait.h"
#include "link/LinkHealth.h"
#include "link/LinkResult.h"
#include "link/LinkSettings.h"
#include "link/Reconnection.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>

class AdsTransport;
class SerialTransport;
class TcpTransport;

class CmdBeckhoff_ADS : public QObject
{
    Q_OBJECT
public:
    explicit CmdBeckhoff_ADS(QObject *parent = nullptr);
    ~CmdBeckhoff_ADS() override;

    // 0 connected (or still connecting after the wait), -1 not an address
    // or busy, -3 not connected. On failure the line in use stays as it was.
    int EthConnectDrive(const QString &ipText, int port);
    // 0 done, 1 no TCP connection was ever made.
    int EthDisConnectDrive();
    // 0 open and configured; -1 a setting the line cannot honour, the port did
    // not open, or busy. On failure the line in use stays as it was.
    int serialConnectDrive(const QString &portName, int baud, int dataBits, int stopBits,
                           const QString &parity);
    // 0 closed, 1 no serial line, or not open.
    int serialDisConnectDrive();
    // Closes the line of the latest successful connect; 1 when there is none.
    int DisConnectDrive();
    // 0 the line can carry a request, -3 it cannot.
    int Connection_status();
    // 0 a line was torn down, 1 there was none.
    int DestroyFree();

    // Takes the data of an accepted reply where it lies, during the call only.
    using DataSink = std::function<void(const char *data, int size)>;

    // One ADS Read / Write / ReadWrite, with the controller's own error.
    LinkOutcome readArea(int amsPort, int indexGroup, int indexOffset, int byteLength, QByteArray *out,
                         const QString &varName);
    // A read whose data goes to `sink` uncopied; it is not called when no
    // reply was accepted.
    LinkOutcome readArea(int amsPort, int indexGroup, int indexOffset, int byteLength, const DataSink &sink,
                         const QString &varName);
    LinkOutcome writeArea(int amsPort, int indexGroup, int indexOffset, int byteLength,
                          const QByteArray &data, const QString &varName);
    // Writes `writeData`, appends up to `readLength` bytes of answer to `out`.
    LinkOutcome readWriteArea(int amsPort, int indexGroup, int indexOffset, int readLength,
                              const QByteArray &writeData, QByteArray *out, const QString &varName);
    // The controller's entry for a variable name, appended to `entry`.
    LinkOutcome readSymbolEntry(int amsPort, const QString &name, QByteArray *entry);
    // A handle for a variable name, which the controller resolves at every
    // access by it.
    LinkOutcome readSymbolHandle(int amsPort, const QString &name, quint32 *handle);
    // The program's symbol version, which changes with every online change;
    // `varName` is the name whose access asks, for the log.
    LinkOutcome readSymbolVersion(int amsPort, const QString &varName, quint8 *version);
    // The controller's name and version (ReadDeviceInfo: major, minor, a
    // 16-bit build, the name in 16 bytes) and its state (ReadState: ADS
    // state, device state, 16 bits each): the reply's data after the result.
    LinkOutcome readDeviceInfo(int amsPort, QByteArray *info);
    LinkOutcome readState(int amsPort, QByteArray *state);
    // Subscribes to the bytes at (group, offset, length), sent on change,
    // checked every `cycleMs`.
    LinkOutcome addNotification(int amsPort, quint32 indexGroup, quint32 indexOffset, quint32 length,
                                int cycleMs, quint32 *handle, const QString &varName);

    // Where the controller's notifications go while the driver holds
    // subscriptions; a null sink: none held, every frame not asked for is
    // stale as before.
    void setNotificationSink(const AdsExchange::NotificationSink &sink, qint64 limit);
    void setNotificationLimit(qint64 limit) { exchange.setNotificationLimit(limit); }
    // Milliseconds since the controller was last heard of (a reply or a
    // notification) on the line in use; -1 when never.
    qint64 msSinceHeard() const { return heard.isValid() ? heard.elapsed() : -1; }
    // Everything waiting on the line, dispatched now (notifications to the sink).
    void dispatchWaiting();
    // The same as a LinkResult alone.
    int Read_area(int amsPort, int indexOffset, int byteLength, QByteArray *out, int indexGroup,
                  const QString &varName);
    int Write_area(int amsPort, int indexOffset, int byteLength, const QByteArray &data, int indexGroup,
                   const QString &varName);

    // Addresses and waits; they apply from the next request (waits for a
    // connection from the next connect).
    void setSettings(const LinkSettings &settings);

    // Counts the lines adopted: every connect the host made and every line
    // brought back in the background is a new connection, whose controller
    // may run another program. 0 before the first.
    quint64 connectionSerial() const { return serialNumber; }
    // The addresses the next request carries.
    QByteArray targetNetId() const { return route.target(); }
    AdsFrame::AmsAddress sourceAddress() const { return route.source(); }
    AmsEnds ends(int amsPort) const { return {route.target(), amsPort, route.source()}; }

    // A write to other ends than the route's, as given; or, as `command`
    // says, the deletion of the notification whose handle is `data`.
    struct Write {
        AmsEnds to;
        quint32 indexGroup = 0;
        quint32 indexOffset = 0;
        QByteArray data;
        quint16 command = AdsLayout::CmdWrite;
    };
    // One write whose reply nobody waits for: it is taken silently whenever
    // it comes. False when it could not be sent (no line, busy, a foreign
    // thread).
    bool writeUnawaited(const Write &write);
    // Writes each without waiting for the replies one by one (a few in
    // flight at a time), then for the rest of them: it stops at the first
    // reply that does not come and spends at most the reply wait on all of
    // them. How many were answered; nothing is sent when the line is down.
    int writeEach(const QList<Write> &writes);

    // Whether the calling thread owns the link; when not, says so in the log.
    bool callerOwnsLink() const;
    // Whether an exchange is waiting for its reply.
    bool busy() const { return wait.waiting(); }
    // Whether the link carries requests: from a connect until a loss, a
    // down verdict or the host's disconnect; after a line came back in the
    // background, from its first answer.
    bool linkUp() const { return health->up(); }
    // The serial line's turnaround (its quiet gap) at the current baud rate.
    int serialFrameGap() const { return frameGapMs; }

    // Frame-trace switch, written by the driver's debug command.
    bool debugFlag;

signals:
    void linkUpChanged(bool up);

public slots:
    void Ethconnected();
    void Ethdisconnected();
    void EthreadyRead();
    void serialreadyRead();

private:
    LinkOutcome Message_parsing(const QByteArray &frame, int amsPort, qint64 byteLength, const DataSink &sink,
                                const QString &varName);
    static DataSink appendTo(QByteArray *out);
    void lineGone();
    void lineLost(const QString &reason);
    void takeDown(const QString &reason);
    void startReconnection();
    void judge(LinkResult result, qint64 frameSize);
    QString lineText() const;
    Reconnection::Timing timing() const;
    void reconnected(AdsTransport *line);
    void useTcp(TcpTransport *opened);
    void useSerial(SerialTransport *opened);
    bool lineOpen() const;
    LinkResult refusal();
    QByteArray frameOf(const Write &write);
    void adopt(AdsTransport *line);
    void discard(AdsTransport *line);

    AdsExchange exchange;
    AdsTransport *line; // the one of the two below in use
    TcpTransport *tcp;
    SerialTransport *serial;
    Reconnection *reconnection;
    LinkHealth *health;
    Reconnection::Recipe recipe; // how the line in use was opened
    LinkSettings settings;
    AmsRoute route;
    QString hostText; // derived once per connect, not per request
    int tcpPort;
    int frameGapMs;
    quint32 invokeId;
    quint64 serialNumber;
    QElapsedTimer heard; // since the controller was last heard of on the line in use
    QString lastLoss = QStringLiteral("the line is closed"); // why the line went, in English
    ExchangeWait wait;
    bool closedDuringWait; // the host closed the line from inside the wait
};

#endif // CMDBECKHOFF_ADS_H
