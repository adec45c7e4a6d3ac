// Brings a lost line back in the background, without blocking and without a
// thread: an attempt after a first delay, then with the delay doubled up to
// a longest one, each attempt given up after the connect wait. A TCP
// connection is connected again, a serial line opened again by its port name.
#ifndef RECONNECTION_H
#define RECONNECTION_H

#include "link/SerialLineSettings.h"

#include <QHostAddress>
#include <QObject>
#include <QString>

class AdsTransport;
class QTimer;
class TcpTransport;

class Reconnection : public QObject
{
    Q_OBJECT
public:
    // How the line in use was opened.
    struct Recipe {
        bool serial = false;
        QHostAddress address;
        quint16 port = 0;
        QString portName;
        SerialLineSettings settings;
        int gapMs = 2;
    };

    // The waits: the first delay, the longest, and the connect wait.
    struct Timing {
        int firstMs = 1000;
        int maxMs = 5000;
        int connectMs = 30000;
        bool operator!=(const Timing &o) const
        {
            return firstMs != o.firstMs || maxMs != o.maxMs || connectMs != o.connectMs;
        }
    };

    explicit Reconnection(QObject *parent);
    // A line lost soon after it came back, before any request went through
    // on it, goes on with the longer delays.
    void start(const Recipe &recipe, const Timing &timing);
    // New waits for a reconnection under way: a pending delay starts again
    // from now with them, an attempt under way gets the new connect wait;
    // a first delay of 0 ends it all.
    void retime(const Timing &timing);
    void stop();
    bool running() const;
    // A request went through on the line brought back.
    void confirm() { m_confirmed = true; }

signals:
    // A working line, a child of this object's parent.
    void reconnected(AdsTransport *line);

private:
    void attempt();
    void tcpConnected();
    void tcpFailed();
    void retryLater();

    Recipe m_recipe;
    QTimer *m_retry;
    QTimer *m_giveUp;
    TcpTransport *m_candidate = nullptr;
    int m_delayMs = 0;
    bool m_confirmed = true;
    Timing m_timing;
};

#endif // RECONNECTION_H
