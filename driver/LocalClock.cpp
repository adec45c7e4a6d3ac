#include "driver/LocalClock.h"

#include <ctime>

namespace {
const qint64 kWindowMs = 1000;
const qint64 kMsPerDay = 86400000;
const qint64 kUnixEpochJulianDay = 2440588;
// Wider than any shift of a zone's offset, so that a local time at least
// this far from a change is neither skipped nor repeated.
const qint64 kMarginMs = qint64(3) * 3600 * 1000;

qint64 floorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// The zone's offset from UTC at an instant, in milliseconds.
qint64 offsetAt(qint64 utcMs)
{
    const time_t secs = time_t(floorDiv(utcMs, 1000));
    tm local{};
    if (!localtime_r(&secs, &local))
        return LLONG_MIN;
    return qint64(local.tm_gmtoff) * 1000;
}
} // namespace

QDateTime LocalClock::now()
{
    return at(QDateTime::currentMSecsSinceEpoch());
}

QDateTime LocalClock::at(qint64 utcMs)
{
    if (utcMs == m_lastMs)
        return m_last;
    if (utcMs < m_windowFrom || utcMs >= m_windowFrom + kWindowMs)
        refresh(utcMs);
    if (m_steady) {
        const qint64 wall = utcMs + m_offsetMs;
        const qint64 day = floorDiv(wall, kMsPerDay);
        m_last = QDateTime(QDate::fromJulianDay(day + kUnixEpochJulianDay),
                           QTime::fromMSecsSinceStartOfDay(int(wall - day * kMsPerDay)), Qt::LocalTime);
    } else {
        m_last = QDateTime::fromMSecsSinceEpoch(utcMs, Qt::LocalTime);
    }
    m_lastMs = utcMs;
    return m_last;
}

void LocalClock::refresh(qint64 utcMs)
{
    m_windowFrom = utcMs;
    tzset(); // a zone changed since the last look counts from now
    m_offsetMs = offsetAt(utcMs);
    m_steady = m_offsetMs != LLONG_MIN && offsetAt(utcMs - kMarginMs) == m_offsetMs
               && offsetAt(utcMs + kWindowMs + kMarginMs) == m_offsetMs;
}
