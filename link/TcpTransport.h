// AMS/TCP frames over a TCP connection.
#ifndef TCPTRANSPORT_H
#define TCPTRANSPORT_H

#include "link/AdsTransport.h"

#include <QAbstractSocket>
#include <QHostAddress>

class QTcpSocket;

class TcpTransport : public AdsTransport
{
    Q_OBJECT
public:
    // Connects, blocking up to `waitMs`; null when no connection came of it.
    // A connection still pending after the wait counts, as it may complete.
    static TcpTransport *open(const QHostAddress &address, quint16 port, int waitMs, QObject *parent);
    // Starts connecting and returns at once: connected() or failed() follows.
    static TcpTransport *connectTo(const QHostAddress &address, quint16 port, QObject *parent);

    bool isOpen() const override;
    bool deliverTo(AdsExchange &exchange) override;
    void drainTo(AdsExchange &exchange) override;
    void close() override;

    QAbstractSocket::SocketError error() const;
    QString errorString() const;
    QHostAddress localAddress() const;

signals:
    void connected();
    // A connection under way did not come about.
    void failed();

protected:
    int descriptor() const override;
    qint64 bufferedForReading() const override;
    qint64 writeSome(const char *data, qint64 size) override;
    void sendFailed() override;

private:
    explicit TcpTransport(QObject *parent);
    void onConnected();
    void onDisconnected();
    void onError();

    QTcpSocket *m_socket;
    bool m_closing = false;
    bool m_looking = false; // the socket is looking at an end of file or an error
};

#endif // TCPTRANSPORT_H
