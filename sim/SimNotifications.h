// The device notifications a controller keeps: what each subscriber
// watches, how (cyclic or on change), and when it is due next.
//
// A subscription belongs to its connection, its runtime and the source
// (NetId and port) that added it, as a symbol handle does. Due times lie on
// a grid of each subscription's cycle on the controller's clock, as a PLC
// task's cycles do: subscriptions of one cycle fall due together, whenever
// they were added, and go out in one frame per connection. The first check
// comes right after the add.
#ifndef SIMNOTIFICATIONS_H
#define SIMNOTIFICATIONS_H

#include "sim/SimHandles.h"

#include <QByteArray>
#include <QHash>
#include <QList>

#include <map>

class SimNotifications
{
public:
    enum AdsError : quint32 {
        NoError = 0,
        HandleInvalid = 0x714,
        NoMoreHandles = 0x716,
    };
    // Generous: a host watching every tag of a large program still fits.
    static const int kDefaultLimit = 10000;
    // The shortest cycle: a cycle time of 0 means "at every check", and
    // the controller checks every millisecond at most.
    static constexpr qint64 kFloorMs = 1;

    struct Subscription {
        // The connection, the runtime's AMS port and the subscriber's NetId and port.
        SimHandles::Owner owner;
        // The NetId and port the add was sent to: the frames come from there.
        QByteArray controller;
        quint32 group = 0;
        quint32 offset = 0;
        quint32 length = 0;
        quint32 mode = 0;
        qint64 cycleMs = kFloorMs;
        // The bytes of the last sample sent; none before the first.
        QByteArray last;
        bool sent = false;
    };

    // A cycle time in 100 ns units as milliseconds, rounded up, at least kFloorMs.
    static qint64 cycleMs(quint32 cycle100ns);
    // The current UTC time as a FILETIME: 100 ns units since 1601-01-01.
    static quint64 fileTimeNow();
    // Whether `bytes` make a sample: always for a cyclic subscription, for
    // one on change when they differ from the last sent. A sample becomes the last.
    static bool sample(Subscription *subscription, const QByteArray &bytes);

    // A new subscription, due at the next check: NoError and its handle,
    // or NoMoreHandles past the limit.
    quint32 add(const Subscription &subscription, quint32 *handle);
    // HandleInvalid for a handle `owner` does not hold.
    quint32 remove(quint32 handle, const SimHandles::Owner &owner);
    // A connection closed: its subscriptions end.
    void dropLine(const void *line);
    // Every subscription ends; handle numbers go on from where they were.
    void clear();
    void setLimit(int limit) { m_limit = limit; }

    // When the earliest subscription falls due, on the clock of takeDue; -1 with none.
    qint64 nextDue() const;
    // The handles due at `now` (ms), earliest first, each due again at its
    // cycle's next grid point after `now`: a check that came late sends
    // one sample, not the ones it missed.
    QList<quint32> takeDue(qint64 now);
    Subscription *find(quint32 handle);

    int count() const { return m_subscriptions.size(); }
    int added() const { return m_added; }
    int deleted() const { return m_deleted; }

private:
    struct Entry {
        Subscription subscription;
        qint64 due = 0;
    };
    void unschedule(quint32 handle, qint64 due);

    QHash<quint32, Entry> m_subscriptions;
    std::multimap<qint64, quint32> m_due; // due time -> handle
    // Apart from symbol handles, so that one is never taken for the other.
    quint32 m_next = 0x20000000;
    int m_limit = kDefaultLimit;
    int m_added = 0;
    int m_deleted = 0;
};

#endif // SIMNOTIFICATIONS_H
