#include "sim/SimController.h"

#include "sim/SimServer.h"

#include <QMetaObject>
#include <QThread>

SimController::SimController() = default;

SimController::~SimController()
{
    if (!m_thread)
        return;
    // The server and its sockets belong to the thread: they go when it ends.
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
    QObject::connect(m_thread, &QThread::finished, m_server, &QObject::deleteLater);
    m_thread->start();
}

bool SimController::startTcp(const QHostAddress &address, quint16 port)
{
    ensureThread();
    quint16 bound = 0;
    QMetaObject::invokeMethod(
        m_server, [&]() { bound = m_server->listenTcp(address, port); }, Qt::BlockingQueuedConnection);
    m_tcpPort = bound;
    return bound != 0;
}

bool SimController::startPty()
{
    ensureThread();
    QString path;
    QMetaObject::invokeMethod(
        m_server, [&]() { path = m_server->openPty(); }, Qt::BlockingQueuedConnection);
    m_ptyPath = path;
    return !path.isEmpty();
}

bool SimController::warmUp(int bytes)
{
    ensureThread();
    bool done = false;
    QMetaObject::invokeMethod(
        m_server, [&]() { done = m_server->warmUp(bytes); }, Qt::BlockingQueuedConnection);
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
