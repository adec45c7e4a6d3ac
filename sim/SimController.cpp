#include "sim/SimController.h"

#include "sim/SimServer.h"

#include <QMetaObject>
#include <QThread>

#include <future>

SimController::SimController() = default;

SimController::~SimController()
{
    if (!m_thread)
        return;
    // The server and its sockets belong to the thread: they go on it, and
    // the promise tells this thread (and ThreadSanitizer) that they went.
    SimServer *server = m_server;
    onServerThread([server]() { delete server; });
    m_server = nullptr;
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

void SimController::ensureThread()
{
    if (m_thread)
        return;
    m_thread = new QThread();
    m_thread->setObjectName(QStringLiteral("ads-sim"));
    m_server = new SimServer();
    m_server->moveToThread(m_thread);
    m_thread->start();
}

void SimController::onServerThread(const std::function<void()> &task)
{
    QObject *receiver = m_server; // read before the task may end it
    std::promise<void> done;
    {
        std::lock_guard<std::mutex> lock(m_handOver);
        m_task = [&]() {
            task();
            done.set_value();
        };
    }
    QMetaObject::invokeMethod(
        receiver, [this]() { runTask(); }, Qt::QueuedConnection);
    done.get_future().wait();
}

void SimController::runTask()
{
    std::function<void()> task;
    {
        std::lock_guard<std::mutex> lock(m_handOver);
        task = std::move(m_task);
        m_task = nullptr;
    }
    if (task)
        task();
}

bool SimController::startTcp(const QHostAddress &address, quint16 port)
{
    ensureThread();
    quint16 bound = 0;
    onServerThread([&]() { bound = m_server->listenTcp(address, port); });
    m_tcpPort = bound;
    return bound != 0;
}

bool SimController::startPty()
{
    ensureThread();
    QString path;
    onServerThread([&]() { path = m_server->openPty(); });
    m_ptyPath = path;
    return !path.isEmpty();
}

bool SimController::warmUp(int bytes)
{
    ensureThread();
    bool done = false;
    onServerThread([&]() { done = m_server->warmUp(bytes); });
    return done;
}

QString SimController::connectionText() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_tcpPort);
}

QString SimController::serialConnectionText() const
{
    return QStringLiteral("%1,115200,8,1,N").arg(m_ptyPath);
}
