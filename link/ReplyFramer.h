// Follows the frames of the byte stream from the controller and finds the
// reply to the request in progress.
//
// Frames are delimited by the AMS/TCP length (6 bytes plus the length in
// bytes 2-5). A frame whose invoke id (low 16 bits) is not the request's is a
// stranger - typically a late reply to an earlier request - and is skipped
// without being buffered whole, even when its end arrives during a later
// exchange. A frame that claims to be longer than any reply this connection
// asked for cannot be a late reply: it is noise, and everything buffered is
// dropped. A frame of ours that announces more than its request can rightly
// get ends the search at once: waiting or allocating for it could only ever
// produce a rejected reply.
#ifndef REPLYFRAMER_H
#define REPLYFRAMER_H

#include <QByteArray>

#include <functional>

class ReplyFramer
{
public:
    enum State {
        NeedMore, // no frame of ours yet
        FrameReady, // a complete frame of ours starts the buffer: frameSize() bytes
        Oversized // a frame of ours announces more than the largest acceptable reply
    };
    // Why a stranger was skipped.
    enum StrangerKind { OtherInvokeId, TooShortForId, Noise };
    using StrangerSink = std::function<void(const QByteArray &head, StrangerKind kind)>;

    // A new connection: nothing is known of the stream.
    void reset();
    void beginExchange(quint16 invokeId, qint64 maxReply);

    // Consumes strangers from the front of `buffer`, reporting each to `sink`
    // with the bytes of it that were there; leaves a frame of ours in place.
    State scan(QByteArray &buffer, const StrangerSink &sink);
    // Outside an exchange every byte is stale: drops all that `buffer` holds
    // but remembers how much of a frame cut short is still to come.
    void discardStale(QByteArray &buffer);

    qint64 frameSize() const { return m_frameSize; }
    int strangers() const { return m_strangers; }

private:
    bool skipPending(QByteArray &buffer);
    qint64 announcedSize(const QByteArray &buffer) const;

    quint16 m_invokeId = 0;
    qint64 m_maxReply = 0;
    qint64 m_largestReply = 0;
    qint64 m_skip = 0;
    qint64 m_frameSize = 0;
    int m_strangers = 0;
};

#endif // REPLYFRAMER_H
