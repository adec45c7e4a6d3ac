#include "sim/SimNotifications.h"

#include "link/AdsLayout.h"

#include <chrono>

namespace {
// 100 ns units in a millisecond.
const quint32 kUnitsPerMs = 10000;
// FILETIME counts from 1601-01-01, the Unix clock from 1970-01-01.
const quint64 kFileTimeAtUnixEpoch = 116444736000000000ULL;
} // namespace

qint64 SimNotifications::cycleMs(quint32 cycle100ns)
{
    return qMax(kFloorMs, qint64((quint64(cycle100ns) + kUnitsPerMs - 1) / kUnitsPerMs));
}

quint64 SimNotifications::fileTimeNow()
{
    using namespace std::chrono;
    const auto since = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return kFileTimeAtUnixEpoch + quint64(since) / 100;
}

bool SimNotifications::sample(Subscription *subscription, const QByteArray &bytes)
{
    if (subscription->mode != AdsLayout::NotifyCyclic && subscription->sent && subscription->last == bytes)
        return false;
    subscription->last = bytes;
    subscription->sent = true;
    return true;
}

quint32 SimNotifications::add(const Subscription &subscription, quint32 *handle)
{
    if (m_subscriptions.size() >= m_limit)
        return NoMoreHandles;
    *handle = m_next++;
    m_subscriptions.insert(*handle, {subscription, 0});
    m_due.emplace(0, *handle);
    ++m_added;
    return NoError;
}

quint32 SimNotifications::remove(quint32 handle, const SimHandles::Owner &owner)
{
    const auto it = m_subscriptions.find(handle);
    if (it == m_subscriptions.end() || !(it->subscription.owner == owner))
        return HandleInvalid;
    unschedule(handle, it->due);
    m_subscriptions.erase(it);
    ++m_deleted;
    return NoError;
}

void SimNotifications::dropLine(const void *line)
{
    for (auto it = m_subscriptions.begin(); it != m_subscriptions.end();) {
        if (it->subscription.owner.line == line) {
            unschedule(it.key(), it->due);
            it = m_subscriptions.erase(it);
        } else {
            ++it;
        }
    }
}

void SimNotifications::clear()
{
    m_subscriptions.clear();
    m_due.clear();
}

void SimNotifications::unschedule(quint32 handle, qint64 due)
{
    const auto range = m_due.equal_range(due);
    for (auto it = range.first; it != range.second; ++it) {
        if (it->second == handle) {
            m_due.erase(it);
            return;
        }
    }
}

qint64 SimNotifications::nextDue() const
{
    return m_due.empty() ? -1 : m_due.begin()->first;
}

QList<quint32> SimNotifications::takeDue(qint64 now)
{
    QList<quint32> due;
    while (!m_due.empty() && m_due.begin()->first <= now) {
        due.append(m_due.begin()->second);
        m_due.erase(m_due.begin());
    }
    for (quint32 handle : qAsConst(due)) {
        Entry &entry = m_subscriptions[handle];
        const qint64 cycle = entry.subscription.cycleMs;
        entry.due = (now / cycle + 1) * cycle;
        m_due.emplace(entry.due, handle);
    }
    return due;
}

SimNotifications::Subscription *SimNotifications::find(quint32 handle)
{
    const auto it = m_subscriptions.find(handle);
    return it == m_subscriptions.end() ? nullptr : &it->subscription;
}
