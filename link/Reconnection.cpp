#include "link/Reconnection.h"

#include "link/SerialTransport.h"
#include "link/TcpTransport.h"

#include <QTimer>

Reconnection::Reconnection(QObject *parent)
    : QObject(parent), m_retry(new QTimer(this)), m_giveUp(new QTimer(this))
{
    m_retry->setSingleShot(true);
    m_giveUp->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &Reconnection::attempt);
    connect(m_giveUp, &QTimer::timeout, this, &Reconnection::tcpFailed);
}

void Reconnection::start(const Recipe &recipe, const Timing &timing)
{
    stop();
    m_recipe = recipe;
    m_timing = timing;
    m_delayMs = m_confirmed ? timing.firstMs : qMin(qMax(timing.firstMs, m_delayMs * 2), timing.maxMs);
    m_retry->start(m_delayMs);
}

void Reconnection::retime(const Timing &timing)
{
    if (!running()) {
        m_timing = timing;
        return;
    }
    if (timing.firstMs <= 0) {
        stop();
        return;
    }
    if (timing.firstMs != m_timing.firstMs)
        m_delayMs = timing.firstMs;
    m_delayMs = qMin(m_delayMs, timing.maxMs);
    if (m_retry->isActive())
        m_retry->start(m_delayMs);
    if (m_candidate && timing.connectMs != m_timing.connectMs)
        m_giveUp->start(timing.connectMs);
    m_timing = timing;
}

void Reconnection::stop()
{
    m_retry->stop();
    m_giveUp->stop();
    delete m_candidate;
    m_candidate = nullptr;
}

bool Reconnection::running() const
{
    return m_retry->isActive() || m_candidate;
}

void Reconnection::attempt()
{
    if (m_recipe.serial) {
        SerialTransport *line =
            SerialTransport::open(m_recipe.portName, m_recipe.settings, m_recipe.gapMs, parent());
        if (line) {
            m_confirmed = false;
            emit reconnected(line);
        } else
            retryLater();
        return;
    }
    m_candidate = TcpTransport::connectTo(m_recipe.address, m_recipe.port, this);
    connect(m_candidate, &TcpTransport::connected, this, &Reconnection::tcpConnected);
    connect(m_candidate, &TcpTransport::failed, this, &Reconnection::tcpFailed);
    m_giveUp->start(m_timing.connectMs);
}

void Reconnection::tcpConnected()
{
    m_giveUp->stop();
    TcpTransport *line = m_candidate;
    m_candidate = nullptr;
    disconnect(line, nullptr, this, nullptr);
    line->setParent(parent());
    m_confirmed = false;
    emit reconnected(line);
}

void Reconnection::tcpFailed()
{
    if (!m_candidate)
        return; // told twice
    m_giveUp->stop();
    disconnect(m_candidate, nullptr, this, nullptr);
    m_candidate->deleteLater(); // it may be emitting the failure
    m_candidate = nullptr;
    retryLater();
}

void Reconnection::retryLater()
{
    m_delayMs = qMin(m_delayMs * 2, m_timing.maxMs);
    m_retry->start(m_delayMs);
}
