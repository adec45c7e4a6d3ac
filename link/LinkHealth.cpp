#include "link/LinkHealth.h"

#include "link/AdsLog.h"

// The host's own connects and disconnects are its business and go
// unlogged, but for the end of an outage.
void LinkHealth::connected(const QString &who)
{
    m_probation = false;
    m_unanswered = 0;
    if (m_up)
        return;
    if (m_downSince.isValid())
        logUpAgain(who);
    setUp(true);
}

void LinkHealth::closed()
{
    m_probation = false;
    m_unanswered = 0;
    m_downSince.invalidate();
    setUp(false);
}

void LinkHealth::logUpAgain(const QString &who)
{
    AdsLog::info(QStringLiteral("lib[Beckhoff]%1 link up again after %2 s")
                     .arg(who)
                     .arg(double(m_downSince.elapsed()) / 1000, 0, 'f', 1));
    m_downSince.invalidate();
}

void LinkHealth::reconnected()
{
    m_probation = true;
    m_unanswered = 0;
}

bool LinkHealth::wentDown(const QString &who, const QString &reason)
{
    m_probation = false;
    m_unanswered = 0;
    m_who = who;
    if (!m_up)
        return false; // down already: the first reason stands
    AdsLog::warn(QStringLiteral("lib[Beckhoff]%1 link down: %2").arg(who, reason));
    m_downSince.start();
    setUp(false);
    return true;
}

bool LinkHealth::takeDown(LinkResult result, int downAfter)
{
    if (result == LinkOk || result == LinkWrongReply) {
        m_unanswered = 0;
        if (m_probation) {
            m_probation = false;
            if (m_downSince.isValid())
                logUpAgain(m_who);
            setUp(true);
        }
        return false;
    }
    if (result != LinkNoReply || downAfter <= 0)
        return false;
    ++m_unanswered;
    return m_probation || m_unanswered >= downAfter;
}

void LinkHealth::setUp(bool up)
{
    if (up == m_up)
        return;
    m_up = up;
    emit upChanged(up);
}
