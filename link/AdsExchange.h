// The reply side of one connection: follows the frames of the byte stream
// from the controller and finds the reply to the request in progress.
//
// A length field is a claim, not a fact. A frame is followed by its length
// only when its header is plausible as a reply on this connection: reserved
// bytes 0, addressed to our NetId and port, AMS data length agreeing with
// the AMS/TCP length, a length this connection could be owed, the response
// flag and a command we send. Anything else is noise, and the stream is
// resynchronised on the next byte. A frame addressed to us by the request's
// peer with the request's invoke id is ours, whatever its length says.
//
// What is still to come of a frame given up part-way (cut by the deadline,
// or announcing more than its request allows) is skipped when it arrives,
// but never past the start of a reply of ours: a frame that lied about its
// length cannot swallow the replies after it.
//
// With a notification sink set (the driver holds subscriptions), frames are
// routed by their command and state flags first: a DeviceNotification, which
// the controller sends by itself as a request, goes to the sink, even when
// its invoke id is the awaited request's, during a wait and between waits
// alike; between waits a frame cut in two is kept for its rest. Without a
// sink a notification is noise, as any frame we did not ask for.
//
// Everything here is a function of the bytes fed in and the clock values
// passed in; no socket, no timer.
#ifndef ADSEXCHANGE_H
#define ADSEXCHANGE_H

#include <QByteArray>
#include <QSet>

#include <functional>

class AdsExchange
{
public:
    // Where the wait for a reply stands, or how it ended.
    enum Progress {
        Waiting, // nothing of ours complete yet, and time left
        Replied, // a whole frame of ours: reply()
        Oversized, // a frame of ours announcing more than its request allows, or a length that cannot be
        CutShort, // the wait ended holding part of a frame of ours
        NoReply // the wait ended with nothing of ours
    };
    // What was skipped on the way to the reply.
    enum Skipped {
        Stranger, // a frame answering another request
        Noise // bytes that are no frame at all
    };
    // `bytes` is valid only during the call; `size` is the whole frame's
    // announced size for a stranger, the run's whole length for noise (of
    // which `bytes` are the first, at most 1024).
    using SkipSink = std::function<void(Skipped kind, const QByteArray &bytes, qint64 size)>;

    // A new connection: nothing is known of the stream.
    void reset();
    // Starts the wait for the reply to `request` (the frame as sent) until
    // `now` + `waitMs`. What the buffer still holds is stale and dropped.
    void begin(const QByteArray &request, qint64 now, qint64 waitMs);

    // Room for `size` more bytes at the end of the buffer, then how many
    // were written there.
    char *reserveTail(qint64 size);
    void commitTail(qint64 used);
    // How many bytes fit at the end of the buffer without it growing.
    qint64 room() const { return m_buf.capacity() - m_buf.size(); }
    void append(const char *data, qint64 size);

    // Looks at what arrived: Replied or Oversized as soon as a frame of ours
    // settles it; the wait's end when `now` is past the deadline.
    Progress advance(qint64 now, const SkipSink &sink);
    // The wait ends now (the line went, or the deadline passed).
    Progress end(const SkipSink &sink);
    Progress progress() const { return m_progress; }
    bool waiting() const { return m_active; }
    qint64 remainingMs(qint64 now) const { return m_deadline - now; }
    // The wait for the reply begins again at `now`: the request's last byte
    // has just gone out.
    void restartWait(qint64 now, qint64 waitMs) { m_deadline = now + waitMs; }

    // The frame of ours, or the part of it that came; once per wait. The
    // bytes are not copied: they stay valid until the engine is next fed,
    // begins a wait or drops what it holds.
    const QByteArray &takeReply();
    // Bytes held back from the line since the last look (none outside a wait).
    qint64 buffered() const { return m_buf.size() - m_pos; }

    // Outside a wait every byte is stale: what arrived is dropped, and how
    // much of a frame cut short is still to come is remembered.
    void dropStale();

    // Where DeviceNotification frames go: their data part (what follows the
    // AMS header), valid during the call only. Frames longer than `limit`
    // bytes are not believed. A null sink ends it.
    using NotificationSink = std::function<void(const char *data, qint64 size)>;
    void setNotificationSink(NotificationSink sink, qint64 limit);
    void setNotificationLimit(qint64 limit) { m_notifyLimit = m_notify ? limit : 0; }

    // A request sent with nobody waiting for its reply (a handle given back,
    // say): its reply is taken silently whenever it comes, during a wait or
    // between them. Call it outside a wait, before the request goes out.
    void expectUnawaited(const QByteArray &request);
    // Requests sent that way whose replies have not come yet.
    int unawaited() const { return m_unawaited.size(); }

private:
    enum Head { NeedMore, Noise_, Echo, Ours, StrangerFrame, UnawaitedReply, Notification };
    Head classify(qint64 at, qint64 *frameSize) const;
    bool ownPrefix(qint64 at) const;
    bool notificationPrefix(qint64 at) const;
    void scan(const SkipSink &sink);
    bool skipPending();
    bool isNotification(const char *p, qint64 length) const;
    void notify(qint64 frameSize);
    qint64 ownHeaderWithin(qint64 from, qint64 to, bool *complete) const;
    void setReply(qint64 size, Progress progress);
    void keepNoiseShown();
    void flushNoise(const SkipSink &sink);
    void compact();

    QByteArray m_buf;
    qint64 m_pos = 0;
    qint64 m_skip = 0; // bytes of a frame given up that are still to come
    qint64 m_noiseFrom = -1; // where the current run of noise began in the buffer
    QByteArray m_noiseShown; // its first bytes, once they left the buffer
    qint64 m_noiseBefore = 0; // its bytes that left the buffer
    qint64 m_owed = 0; // the largest reply a request on this connection asked for
    QSet<quint32> m_unawaited; // invoke ids of requests whose replies nobody waits for
    NotificationSink m_notify;
    qint64 m_notifyLimit = 0;

    bool m_active = false;
    Progress m_progress = NoReply;
    qint64 m_deadline = 0;
    QByteArray m_request;
    QByteArray m_addresses; // a reply's bytes 6-21: our NetId and port, then the peer's
    quint16 m_invokeId = 0;
    qint64 m_maxReply = 0;
    qint64 m_replyAt = 0;
    qint64 m_replySize = 0;
    qint64 m_tailFrom = 0;
    QByteArray m_replyView; // raw data over the buffer, its header reused
};

#endif // ADSEXCHANGE_H
