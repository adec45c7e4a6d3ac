// A simulated controller running on a thread of its own, so that a driver
// on the calling thread can block on it.
#ifndef SIMCONTROLLER_H
#define SIMCONTROLLER_H

#include <QHostAddress>
#include <QString>

#include <functional>
#include <mutex>

class QThread;
class SimServer;

class SimController
{
public:
    SimController();
    ~SimController();
    SimController(const SimController &) = delete;
    SimController &operator=(const SimController &) = delete;

    // Listens on `address`:`port` (0: an ephemeral port); false when it cannot.
    bool startTcp(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    // Opens a pseudo-terminal; its slave path is the driver's port name.
    bool startPty();
    // Readies replies of up to `bytes` on the server's thread before the
    // first request (SimServer::warmUp).
    bool warmUp(int bytes);

    quint16 tcpPort() const { return m_tcpPort; }
    QString ptyPath() const { return m_ptyPath; }
    // The Ethernet connection text for the driver.
    QString connectionText() const;
    // A serial connection text for the pseudo-terminal at 115200 baud.
    QString serialConnectionText() const;

    SimServer *server() const { return m_server; }

private:
    void ensureThread();
    // Runs `task` on the server's thread and waits for it. The hand-over
    // goes through a standard lock and promise, which ThreadSanitizer sees
    // order the two threads; Qt's queue only wakes the server's thread.
    void onServerThread(const std::function<void()> &task);
    void runTask();

    QThread *m_thread = nullptr;
    SimServer *m_server = nullptr;
    quint16 m_tcpPort = 0;
    QString m_ptyPath;
    std::mutex m_handOver;
    std::function<void()> m_task;
};

#endif // SIMCONTROLLER_H
