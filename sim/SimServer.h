// A simulated controller: answers ADS requests over TCP and a
// pseudo-terminal from its memory images, and misbehaves on request.
//
// Like a real controller it has a router (see SimRouter) in front of one or
// more runtimes, each on an AMS port of its own with its own images and
// symbols. Functions without a port mean the first runtime. A frame the
// router refuses does not reach a runtime: it takes no fault and does not
// count for setDropEvery.
//
// It lives on its own thread (see SimController). The public functions are
// safe to call from any thread; the slots run on the server's thread.
//
// Besides reads and writes by group and offset it serves lookups by name
// (0xF009), the symbol upload (0xF00F, 0xF00C, 0xF00B), the data type
// upload (0xF00F, 0xF00E), the device's state and name (ReadState,
// ReadDeviceInfo), symbol handles
// (0xF003 obtains one for a name, 0xF005 reads and writes the variable it
// names, 0xF006 releases it) and the symbol version (0xF008). A handle
// belongs to the connection and the source (NetId and port) that obtained
// it; a closed connection's handles go.
//
// It serves device notifications too (AddDeviceNotification,
// DeleteDeviceNotification; DeviceNotification frames it sends by itself),
// cyclic or on change, on any place a Read reaches (see SimNotifications).
// A single-shot timer wakes the server when the next subscription falls
// due, and only then: with none it costs nothing.
#ifndef SIMSERVER_H
#define SIMSERVER_H

#include "sim/SimDevice.h"
#include "sim/SimFault.h"
#include "sim/SimHandles.h"
#include "sim/SimImageFile.h"
#include "sim/SimNotifications.h"
#include "sim/SimProtocol.h"
#include "sim/SimRouter.h"
#include "sim/SimRuntime.h"
#include "sim/SimSymbols.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>

#include <condition_variable>
#include <functional>
#include <mutex>

class QTcpServer;
class QTcpSocket;
class QTimer;
class SimPty;

class SimServer : public QObject
{
    Q_OBJECT
public:
    explicit SimServer(QObject *parent = nullptr);
    ~SimServer() override;

    // Misbehaviour: queued faults apply to the next requests in turn; the
    // standing fault to every request without a queued one.
    void pushFault(const SimFault &fault);
    void setStandingFault(const SimFault &fault);
    // Leave every n-th request unanswered (0: never).
    void setDropEvery(int n);

    // The runtimes' AMS ports; the first is the default runtime. The n-th
    // runtime keeps its images and symbols and answers the n-th port;
    // runtimes past the list's end go, new ones start zeroed. Repeated ports
    // count once; an empty list changes nothing. setAmsPort(p) is
    // setAmsPorts({p}).
    void setAmsPorts(const QList<int> &ports);
    void setAmsPort(int port);
    QList<int> amsPorts() const;

    // The router: this controller's AMS NetId (6 bytes; empty: answer any
    // target) and the source NetIds with a route (empty: no route check).
    void setNetId(const QByteArray &netId);
    void setRoutes(const QList<QByteArray> &sourceNetIds);

    // The images. On a port without a runtime a write does nothing and a
    // read gives an empty array.
    void writeImage(quint32 group, quint32 offset, const QByteArray &bytes);
    QByteArray readImage(quint32 group, quint32 offset, int length) const;
    void writeImage(int amsPort, quint32 group, quint32 offset, const QByteArray &bytes);
    QByteArray readImage(int amsPort, quint32 group, quint32 offset, int length) const;

    // The symbol tables. A move copies the symbol's bytes to the new place
    // and makes the old one refuse requests, as after an online change.
    void addSymbol(const SimSymbols::Symbol &symbol);
    bool moveSymbol(const QString &name, quint32 group, quint32 offset);
    void addSymbol(int amsPort, const SimSymbols::Symbol &symbol);
    bool moveSymbol(int amsPort, const QString &name, quint32 group, quint32 offset);
    // The structure types: a symbol of one has its members by name, and
    // the data type upload lists them.
    void addType(const SimStructType &type);
    void addType(int amsPort, const SimStructType &type);

    // What ReadState answers: the ADS state (SimDevice::Run, Stop, Config);
    // and ReadDeviceInfo: the device's name (cut to 15 bytes on the wire)
    // and version. Every runtime answers the same.
    void setAdsState(quint16 state);
    void setDeviceName(const QString &name);
    void setDeviceVersion(quint8 major, quint8 minor, quint16 build);
    SimDevice device() const;

    // A new program loaded online, under live connections: for each runtime
    // the program has lines for (the first one when it has none), its
    // symbols replace the table and its data lines are written; every
    // variable that keeps its name and size keeps its value at its new
    // place; the places moveSymbol retired are served again; the symbol
    // version counts up. Connections and handles stay, and handles follow
    // their names (0x710 once the name is gone, 0x711 when its size changed).
    void onlineChange(const QList<SimImageFile::Entry> &program);
    // The controller restarted with `program`: every runtime's memory and
    // symbols come from it alone, every handle goes, every symbol version
    // counts up, and every connection is closed. A TCP client sees its
    // connection closed. A pseudo-terminal cannot show a hang-up and keep its
    // path (only a new pair would), so on it what is in flight goes: requests
    // not yet answered, replies not yet read, in both directions.
    void restart(const QList<SimImageFile::Entry> &program);
    // The runtime's symbol version (0xF008); -1 on a port without a runtime.
    int symbolVersion() const;
    int symbolVersion(int amsPort) const;

    // Symbol handles: the live ones over all runtimes; those obtained so far;
    // the releases served with result 0.
    int handleCount() const;
    int handlesObtained() const;
    int handlesReleased() const;
    // 0: served; otherwise every 0xF003 request, or every read of 0xF008,
    // answers that ADS error (0x701: service not supported, as older
    // runtimes answer).
    void setHandlesRefused(quint32 adsError);
    void setSymbolVersionRefused(quint32 adsError);
    // 0: served; otherwise reads of the upload's sizes (0xF00F) and of the
    // data type table (0xF00E) answer that ADS error, as runtimes without a
    // data type upload do (the symbol upload then falls back to 0xF00C).
    void setDataTypesRefused(quint32 adsError);

    // What the controller received: every request frame, in order, while
    // recording (the default; a long-running controller turns it off, and
    // then only counts them).
    void setRecording(bool on);
    QList<QByteArray> requests() const;
    int requestCount() const;
    // Replies whose last byte went out.
    int repliesSent() const;
    // TCP connections accepted so far.
    int connectionsAccepted() const;
    void clearRequests();
    bool waitForRequests(int count, int timeoutMs) const;

    // Called on the server's thread with one line per request served and
    // per notification frame sent.
    void setLogger(std::function<void(const QString &)> logger);

    // Device notifications: at most `n` subscriptions live at once over all
    // connections (default SimNotifications::kDefaultLimit), an add beyond
    // answering ADS error 0x716; lowering it ends none. The live ones; the
    // frames sent (their last byte handed to the line); the adds and the
    // deletes served with result 0 (a closed connection deletes nothing).
    void setMaxNotifications(int n);
    int notificationCount() const;
    int notificationFramesSent() const;
    int notificationsAdded() const;
    int notificationsDeleted() const;

    // A controller that hangs with its connections open, as under SIGSTOP:
    // requests are read and held, unanswered; nothing is sent, neither
    // replies nor notifications, and the clock symbol stands still; no
    // connection is accepted beyond what the kernel queues. Thawed, what
    // fell due meanwhile goes out first, then the held requests are
    // answered in order, and notifications go on from the next check.
    void setFrozen(bool on);
    // Every millisecond the first runtime's symbol `name` (4 bytes) gets
    // CLOCK_MONOTONIC in milliseconds, little-endian, wrapping at 32 bits,
    // so that a host can tell how old a value it got is. Wherever the
    // symbol lies now; nothing while there is no 4-byte symbol of that
    // name. An empty name stops it.
    void setClockSymbol(const QString &name);

public slots:
    // Run on the server's thread.
    quint16 listenTcp(const QHostAddress &address, quint16 port);
    QString openPty();
    // Readies replies of up to `bytes` before the first request: their
    // buffer, and the kernel's first large send (see SimWarmUp).
    bool warmUp(int bytes);

private:
    struct Inbox {
        QByteArray bytes;
    };
    using Sender = std::function<void(const QByteArray &)>;
    using Closer = std::function<void()>;
    // What goes out: a reply, or a notification the controller sends by itself.
    enum Kind { Reply, Notification };
    // One connection's end: the TCP socket or the pty.
    struct Peer {
        QObject *object = nullptr;
        Sender send;
        Closer close;
        bool tcp = false;
    };

    void acceptConnection();
    void forgetLine(QObject *line);
    void restartHere(const QList<SimImageFile::Entry> &program);
    void closeConnections();
    // Runs `task` on the server's thread, and waits for it when called from another.
    void onOwnThread(const std::function<void()> &task);
    void runHandedTask();
    // The program's lines by runtime index; lines for a port without a runtime go.
    QMap<int, QList<SimImageFile::Entry>> byRuntime(const QList<SimImageFile::Entry> &program) const;
    void onBytes(const Peer &peer, const QByteArray &bytes);
    bool serve(const QByteArray &request, const Peer &peer);
    void refuseUnrouted(const QByteArray &request, const Peer &peer);
    SimFault takeFault(bool *drop);
    SimRuntime *runtimeOn(int amsPort);
    const SimRuntime *runtimeOn(int amsPort) const;
    void deliver(const Peer &peer, const QByteArray &reply, const SimFault &fault, Kind kind = Reply);
    void schedule(const Peer &peer, const QList<QByteArray> &pieces, const SimFault &fault, Kind kind);
    void countSent(Kind kind);
    // Notifications: the check timer set for the next due time, the
    // check, and the frames of one check.
    struct Outgoing {
        const void *line = nullptr;
        QByteArray frame;
        int samples = 0;
    };
    SimProtocol::Services services(const void *line);
    void armChecks();
    void checkNotifications();
    QList<Outgoing> dueFrames(qint64 now);
    void logNotification(const Outgoing &out);
    void tickClock();
    void freezeHere(bool on);
    void thaw();
    static QList<QByteArray> pieces(const QByteArray &reply, const SimFault &fault);
    void keepReplyBuffer();
    std::function<void(const QString &)> logger() const;
    void logRequest(const QByteArray &request, const QByteArray &reply, bool answered);
    void logRequest(const QByteArray &request, const QString &outcome);
    static QString outcomeText(const QByteArray &reply, bool answered);

    QTcpServer *m_tcp = nullptr;
    SimPty *m_pty = nullptr;
    QHash<QObject *, Inbox> m_inboxes;
    QHash<const void *, Peer> m_peers; // every line, for notifications and for a thaw
    QTimer *m_checkTimer = nullptr; // the next due notification
    QTimer *m_clockTimer = nullptr; // the clock symbol, every millisecond
    QString m_clockSymbol;
    bool m_frozen = false;
    QList<std::function<void()>> m_held; // what fell due while frozen, in order
    quint32 m_notifyInvokeId = 0;
    QElapsedTimer m_clock;
    QHash<QObject *, qint64> m_lineFreeAt; // when the last piece of a reply on a line goes out
    QHash<QObject *, int> m_piecesWaiting; // pieces of replies on a line whose time has not come
    QByteArray m_reply; // every reply is built here, on the server's thread
    quint64 m_restarts = 0; // replies scheduled before a restart are not sent
    std::mutex m_oneHandOver; // held by the thread handing a task over
    std::mutex m_handOver; // a task for the server's thread
    std::function<void()> m_handedTask;

    // Standard locks rather than Qt's: ThreadSanitizer sees what they order.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    QList<SimRuntime> m_runtimes; // never empty; the first is the default
    SimRouter m_router;
    SimHandles m_handles;
    SimNotifications m_notifications;
    int m_notificationFramesSent = 0;
    quint32 m_handlesRefused = 0;
    quint32 m_versionRefused = 0;
    quint32 m_dataTypesRefused = 0;
    SimDevice m_device;
    QList<SimFault> m_queued;
    SimFault m_standing;
    int m_dropEvery = 0;
    qint64 m_served = 0;
    int m_repliesSent = 0;
    int m_connections = 0;
    bool m_recording = true;
    int m_requestCount = 0;
    QList<QByteArray> m_requests;
    std::function<void(const QString &)> m_logger;
};

#endif // SIMSERVER_H
