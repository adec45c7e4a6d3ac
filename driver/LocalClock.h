// Time stamps in local time, as QDateTime::currentDateTime() gives them,
// without its cost: that converts through the C library's time zone code
// three times per call, and each time the library looks at the zone file
// again. Here the zone's offset is looked up at most once a second; an
// instant is turned into local date and time by adding it, and only the
// stamp's own validation consults the zone. Near a change of the offset
// (within three hours) every stamp goes the general way.
#ifndef LOCALCLOCK_H
#define LOCALCLOCK_H

#include <QDateTime>

#include <climits>

class LocalClock
{
public:
    QDateTime now();
    // The stamp of an instant, in milliseconds since the epoch (UTC):
    // identical to QDateTime::fromMSecsSinceEpoch(utcMs, Qt::LocalTime).
    QDateTime at(qint64 utcMs);

private:
    void refresh(qint64 utcMs);

    qint64 m_windowFrom = LLONG_MIN; // the offset below holds for a second from here
    qint64 m_offsetMs = 0;
    bool m_steady = false; // the offset is the same three hours either side
    qint64 m_lastMs = LLONG_MIN;
    QDateTime m_last; // calls within one millisecond share a stamp
};

#endif // LOCALCLOCK_H
