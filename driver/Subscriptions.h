// Reads answered from the controller's own change notifications. With
// notify-ms above 0, the first read of a place is an ordinary read, and in
// the same call the driver subscribes to it (on change, checked every
// notify-ms); later reads of it are answered from the latest bytes the
// controller pushed, with no request. Rules keep every answered value true:
//
// - liveness: only while something came from the controller within
//   max(notify-ms, 1000) ms; otherwise an ordinary read, which counts toward
//   the down verdict, and the down state ends every subscription;
// - read your writes: after a write's reply, ordinary reads until a
//   notification comes more than notify-ms after that reply, or 2 x
//   notify-ms + reply-ms passed without one (every subscription: a write
//   may reach a place through another address, bits or a name);
// - no value outlives its link: a loss, a down verdict, a disconnect or a
//   new connection ends every subscription;
// - without handles, names are subscribed only beside the symbol version
//   (0xF008), and a change of it ends every subscription by name;
// - a refused subscription leaves its place polled for the connection;
//   after 0x716 nothing is added until ten subscriptions ended;
// - bounds: one unread for 30 s goes, at most notify-max live (the least
//   recently read goes first); deletions go out at the start of a call, 16
//   at most, without waiting for their replies.
#ifndef SUBSCRIPTIONS_H
#define SUBSCRIPTIONS_H

#include "link/CmdBeckhoff_ADS.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSet>

class Subscriptions
{
public:
    // Where bytes are read: the connection and target, and the place.
    struct Place {
        quint64 connection = 0;
        QByteArray target;
        int amsPort = 0;
        quint32 indexGroup = 0;
        quint32 indexOffset = 0;
        quint32 length = 0;
        bool operator==(const Place &o) const
        {
            return connection == o.connection && amsPort == o.amsPort && indexGroup == o.indexGroup
                   && indexOffset == o.indexOffset && length == o.length && target == o.target;
        }
    };
    enum Kind {
        Address, // an area address, or a name through its handle
        NameAtPlace // a name at the place a lookup gave: needs the symbol version's subscription
    };

    explicit Subscriptions(CmdBeckhoff_ADS &link);

    void configure(int notifyMs, int maxLive, int replyMs);
    bool enabled() const { return m_notifyMs > 0; }

    // The place a read of `amsPort` asks for now.
    Place placeOf(int amsPort, quint32 indexGroup, quint32 indexOffset, quint32 length) const;

    // At the start of a call: what waits on the line dispatched, due
    // deletions sent (16 at most), unread subscriptions ended.
    void beforeCall();
    // The latest pushed bytes of `place` when they may answer a read now.
    const QByteArray *serve(const Place &place);
    // An ordinary read of `place` was answered: subscribe to it, once.
    void readAnswered(const Place &place, Kind kind, const QString &varName);
    // A write's reply came.
    void wrote();
    // Every subscription ends, none deleted: the line went, or another began.
    void forgetAll();
    // The deletions of every live subscription, for the host's disconnect;
    // everything is forgotten.
    QList<CmdBeckhoff_ADS::Write> takeDeletions();

private:
    struct Entry {
        Place place;
        Kind kind = Address;
        QByteArray bytes; // the latest sample
        qint64 sampleAt = -1; // when it came, on m_clock
        qint64 readAt = 0; // when it last answered a read (or was added)
        bool version = false; // the symbol version's own subscription
    };

    bool add(const Place &place, Kind kind, bool version, const QString &varName);
    bool ensureVersion(const Place &like, const QString &varName);
    void onNotification(const char *data, qint64 size);
    void sample(quint32 handle, const char *data, quint32 size);
    void end(quint32 handle);
    void endNamesAtPlaces();
    void makeRoom();
    void updateSink();
    bool liveLink() const;
    qint64 now() const { return m_clock.elapsed(); }

    CmdBeckhoff_ADS &m_link;
    int m_notifyMs = 0;
    int m_maxLive = 500;
    int m_replyMs = 2050;
    QElapsedTimer m_clock;
    QHash<quint32, Entry> m_entries; // by notification handle
    QHash<Place, quint32> m_byPlace; // the handles, by place
    bool m_sinkSet = false;
    qint64 m_sampleBytes = 0; // of every live subscription: what a frame may carry
    QList<CmdBeckhoff_ADS::Write> m_deletions; // ended, to be deleted on the controller
    QSet<Place> m_refused; // not tried again on this connection
    quint64 m_connection = 0; // whose subscriptions these are
    int m_endsBeforeAdding = 0; // after 0x716: subscriptions that must end first
    qint64 m_wroteAt = -1; // the last write's reply, on m_clock
    qint64 m_lastSweep = 0;
    bool m_namesRefused = false; // no version subscription: names are polled
    quint8 m_version = 0;
    bool m_versionKnown = false;
};

uint qHash(const Subscriptions::Place &p, uint seed = 0);

#endif // SUBSCRIPTIONS_H
