// A simulated controller: answers ADS requests over TCP and a
// pseudo-terminal from its memory images, and misbehaves on request.
//
// It lives on its own thread (see SimController). The public functions are
// safe to call from any thread; the slots run on the server's thread.
#ifndef SIMSERVER_H
#define SIMSERVER_H

#include "SimFault.h"
#include "SimImage.h"
#include "SimSymbols.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QWaitCondition>

#include <functional>

class QTcpServer;
class QTcpSocket;
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
    void setAmsPort(int port);

    // The images.
    void writeImage(quint32 group, quint32 offset, const QByteArray &bytes);
    QByteArray readImage(quint32 group, quint32 offset, int length) const;

    // The symbol table. A move copies the symbol's bytes to the new place
    // and makes the old one refuse requests, as after an online change.
    void addSymbol(const SimSymbols::Symbol &symbol);
    bool moveSymbol(const QString &name, quint32 group, quint32 offset);

    // What the controller received: every request frame, in order.
    QList<QByteArray> requests() const;
    int requestCount() const;
    // Replies whose last byte went out.
    int repliesSent() const;
    void clearRequests();
    bool waitForRequests(int count, int timeoutMs) const;

    // Called on the server's thread with one line per request served.
    void setLogger(std::function<void(const QString &)> logger);

public slots:
    // Run on the server's thread.
    quint16 listenTcp(const QHostAddress &address, quint16 port);
    QString openPty();

private:
    struct Inbox {
        QByteArray bytes;
    };
    using Sender = std::function<void(const QByteArray &)>;
    using Closer = std::function<void()>;

    void acceptConnection();
    void onBytes(QObject *peer, const QByteArray &bytes, const Sender &send, const Closer &close);
    void serve(const QByteArray &request, const Sender &send, const Closer &close, QObject *peer);
    SimFault takeFault(bool *drop);
    void deliver(QObject *peer, const QByteArray &reply, const SimFault &fault, const Sender &send,
                 const Closer &close);
    void countReplySent();
    void logRequest(const QByteArray &request, const QByteArray &reply, bool answered);

    QTcpServer *m_tcp = nullptr;
    SimPty *m_pty = nullptr;
    QHash<QObject *, Inbox> m_inboxes;

    mutable QMutex m_mutex;
    mutable QWaitCondition m_arrived;
    SimImage m_image;
    SimSymbols m_symbols;
    QList<SimFault> m_queued;
    SimFault m_standing;
    int m_dropEvery = 0;
    int m_amsPort = 851;
    qint64 m_served = 0;
    int m_repliesSent = 0;
    QList<QByteArray> m_requests;
    std::function<void(const QString &)> m_logger;
};

#endif // SIMSERVER_H
