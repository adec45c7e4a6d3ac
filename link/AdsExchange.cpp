#include "link/AdsExchange.h"

#include "link/AdsCommand.h"
#include "link/AdsFrame.h"
#include "link/WireBytes.h"

#include <cstring>

using WireBytes::le16;
using WireBytes::le32;

namespace {
// A header's address bytes (6-21) end here: a header that starts closer
// than this to the end of what arrived cannot be recognised yet.
const qint64 kAddressEnd = AdsFrame::OffSourcePort + 2;
const int kAddressBytes = int(kAddressEnd - AdsFrame::OffTargetNetId); // ours, then the peer's
const int kOwnAddressBytes = kAddressBytes / 2;

// The buffer keeps its capacity between waits up to this size: no
// allocation per small exchange, no page faults per large one, and no more
// than this held by an idle connection.
const int kKeptCapacity = 4 * 1024 * 1024;
// During a wait, bytes looked at are let go once this many have gathered,
// so a flood of noise cannot grow the buffer.
const qint64 kCompactAt = qint64(64) * 1024;
// A run of noise is reported with at most this many of its bytes.
const int kNoiseShown = 1024;
// Replies nobody waits for are remembered up to this many; a controller
// that never answers them cannot grow the set.
const int kMaxUnawaited = 8192;

bool isCommandWeSend(quint16 command)
{
    return AdsCommand::answersOurs(command);
}
} // namespace

void AdsExchange::reset()
{
    m_buf.resize(0);
    m_pos = 0;
    m_skip = 0;
    m_noiseFrom = -1;
    m_noiseShown.resize(0);
    m_noiseBefore = 0;
    m_owed = 0;
    m_unawaited.clear();
    m_active = false;
    m_progress = NoReply;
    m_replySize = 0;
    m_addresses.clear();
}

void AdsExchange::setNotificationSink(NotificationSink sink, qint64 limit)
{
    m_notify = std::move(sink);
    m_notifyLimit = m_notify ? limit : 0;
}

void AdsExchange::expectUnawaited(const QByteArray &request)
{
    if (m_unawaited.size() >= kMaxUnawaited)
        m_unawaited.clear();
    m_unawaited.insert(AdsFrame::invokeIdOf(request));
    m_owed = qMax(m_owed, AdsFrame::expectedReplySize(request));
    m_addresses.resize(kAddressBytes);
    std::memcpy(m_addresses.data(), request.constData() + AdsFrame::OffSourceNetId, kOwnAddressBytes);
    std::memcpy(m_addresses.data() + kOwnAddressBytes, request.constData() + AdsFrame::OffTargetNetId,
                kOwnAddressBytes);
}

void AdsExchange::begin(const QByteArray &request, qint64 now, qint64 waitMs)
{
    m_replySize = 0;
    dropStale();
    m_request = request;
    m_addresses.resize(kAddressBytes);
    // A reply swaps the request's target and source addresses.
    std::memcpy(m_addresses.data(), request.constData() + AdsFrame::OffSourceNetId, kOwnAddressBytes);
    std::memcpy(m_addresses.data() + kOwnAddressBytes, request.constData() + AdsFrame::OffTargetNetId,
                kOwnAddressBytes);
    m_invokeId = quint16(AdsFrame::invokeIdOf(request));
    m_maxReply = AdsFrame::expectedReplySize(request);
    m_owed = qMax(m_owed, m_maxReply);
    if (m_buf.capacity() < qMin<qint64>(m_maxReply, kKeptCapacity))
        m_buf.reserve(int(qMin<qint64>(m_maxReply, kKeptCapacity)));
    m_deadline = now + waitMs;
    m_progress = Waiting;
    m_active = true;
}

char *AdsExchange::reserveTail(qint64 size)
{
    if (m_replySize == 0 && (m_pos == m_buf.size() || m_pos >= kCompactAt)) {
        keepNoiseShown();
        compact();
    }
    m_tailFrom = m_buf.size();
    m_buf.resize(int(m_tailFrom + size));
    return m_buf.data() + m_tailFrom;
}

void AdsExchange::commitTail(qint64 used)
{
    m_buf.resize(int(m_tailFrom + qMax<qint64>(0, used)));
}

void AdsExchange::append(const char *data, qint64 size)
{
    std::memcpy(reserveTail(size), data, size_t(size));
}

AdsExchange::Progress AdsExchange::advance(qint64 now, const SkipSink &sink)
{
    if (!m_active)
        return m_progress;
    scan(sink);
    if (m_progress == Waiting)
        return now >= m_deadline ? end(sink) : Waiting;
    m_active = false;
    return m_progress;
}

AdsExchange::Progress AdsExchange::end(const SkipSink &sink)
{
    if (!m_active)
        return m_progress;
    scan(sink);
    if (m_progress == Waiting) {
        const qint64 avail = m_buf.size() - m_pos;
        qint64 frameSize = 0;
        // Bytes still owed to a frame given up earlier are no reply of ours.
        const bool held = m_skip == 0 && avail > 0;
        if (held && classify(m_pos, &frameSize) == Ours) {
            flushNoise(sink);
            setReply(avail, CutShort); // the rest is skipped when it comes
            m_skip = qMax<qint64>(0, frameSize - avail);
        } else if (held && ownPrefix(m_pos)) {
            // Cut inside its header: its length is believed if it could be owed.
            const qint64 announced = AdsFrame::TcpHeaderSize + qint64(le32(m_buf.constData() + m_pos + 2));
            flushNoise(sink);
            setReply(avail, CutShort);
            if (announced >= AdsFrame::HeaderSize && announced <= m_maxReply)
                m_skip = announced - avail;
        } else {
            m_progress = NoReply;
        }
    }
    flushNoise(sink);
    m_active = false;
    return m_progress;
}

const QByteArray &AdsExchange::takeReply()
{
    m_replyView.setRawData(m_buf.constData() + (m_replySize > 0 ? m_replyAt : 0), uint(m_replySize));
    m_replySize = 0;
    return m_replyView;
}

void AdsExchange::dropStale()
{
    m_active = false;
    m_noiseFrom = -1;
    m_noiseShown.resize(0);
    m_noiseBefore = 0;
    // Between waits a notification may be on its way: the head of one stays
    // for its rest; without subscriptions every byte here is stale.
    bool keepHead = false;
    while (!keepHead) {
        if (m_skip > 0) {
            const qint64 n = qMin(m_skip, m_buf.size() - m_pos);
            m_pos += n;
            m_skip -= n;
        }
        if (m_pos == m_buf.size() || m_skip > 0)
            break;
        qint64 frameSize = 0;
        const Head head = classify(m_pos, &frameSize);
        if (head == NeedMore) {
            if (!m_notify)
                break;
            keepHead = notificationPrefix(m_pos);
            if (!keepHead)
                ++m_pos; // no notification starts here: a later byte may start one
            continue;
        }
        if (head == Notification) {
            keepHead = m_buf.size() - m_pos < frameSize;
            if (!keepHead)
                notify(frameSize);
            continue;
        }
        if (head == StrangerFrame || head == UnawaitedReply) {
            m_unawaited.remove(le32(m_buf.constData() + m_pos + AdsFrame::OffInvokeId));
            m_skip = frameSize;
        } else {
            ++m_pos;
        }
    }
    if (!keepHead)
        m_pos = m_buf.size();
    if (m_replySize == 0)
        compact();
}

void AdsExchange::notify(qint64 frameSize)
{
    const qint64 at = m_pos;
    m_pos += frameSize;
    m_notify(m_buf.constData() + at + AdsFrame::HeaderSize, frameSize - AdsFrame::HeaderSize);
}

// ---------------------------------------------------------------- scanning

void AdsExchange::scan(const SkipSink &sink)
{
    while (m_progress == Waiting) {
        if (m_skip > 0 && !skipPending())
            return;
        const qint64 avail = m_buf.size() - m_pos;
        if (avail == 0)
            return;
        qint64 frameSize = 0;
        switch (classify(m_pos, &frameSize)) {
        case NeedMore: return;
        case Noise_:
            if (m_noiseFrom < 0)
                m_noiseFrom = m_pos;
            ++m_pos;
            break;
        case Echo:
            // Our own request, sent back by the line (RS-485 adapters do).
            flushNoise(sink);
            m_pos += frameSize;
            break;
        case Notification:
            flushNoise(sink);
            if (avail < frameSize)
                return; // its rest decides
            notify(frameSize);
            break;
        case UnawaitedReply:
            flushNoise(sink);
            m_unawaited.remove(le32(m_buf.constData() + m_pos + AdsFrame::OffInvokeId));
            m_skip = frameSize;
            break;
        case StrangerFrame:
            flushNoise(sink);
            if (sink)
                sink(Stranger,
                     QByteArray::fromRawData(m_buf.constData() + m_pos, int(qMin(avail, frameSize))),
                     frameSize);
            m_skip = frameSize;
            break;
        case Ours:
            flushNoise(sink);
            if (frameSize < 0) {
                // A length that cannot be: what this request may get is
                // taken, and the stream resynchronises after it.
                setReply(qMin(avail, m_maxReply), Oversized);
            } else if (frameSize > m_maxReply) {
                const qint64 taken = qMin(avail, frameSize);
                setReply(taken, Oversized);
                m_skip = frameSize - taken;
            } else if (avail >= frameSize) {
                setReply(frameSize, Replied);
            }
            return;
        }
    }
}

// Skips what is still to come of a frame given up, but never past the start
// of a reply of ours. False when more bytes are needed.
bool AdsExchange::skipPending()
{
    const qint64 avail = m_buf.size() - m_pos;
    qint64 n = qMin(m_skip, avail);
    if (m_active) {
        bool complete = false;
        const qint64 ours = ownHeaderWithin(m_pos, m_pos + n, &complete);
        if (ours >= 0) {
            m_skip -= ours - m_pos;
            m_pos = ours;
            if (!complete)
                return false; // the rest of that header decides
            m_skip = 0; // the frame given up was shorter than it said
            return true;
        }
        // The last bytes may start a header of ours whose addresses have
        // not all arrived yet.
        if (m_skip > avail)
            n = qMax<qint64>(0, n - (kAddressEnd - 1));
    }
    m_pos += n;
    m_skip -= n;
    return m_skip == 0;
}

// The first position in [from, to) where a header of ours starts, or -1.
// `complete` tells whether its invoke id has arrived too.
qint64 AdsExchange::ownHeaderWithin(qint64 from, qint64 to, bool *complete) const
{
    const char *p = m_buf.constData();
    int found = m_buf.indexOf(m_addresses, int(from + AdsFrame::OffTargetNetId));
    while (found >= 0 && found - AdsFrame::OffTargetNetId < to) {
        const qint64 at = found - AdsFrame::OffTargetNetId;
        if (p[at] == 0 && p[at + 1] == 0) {
            if (m_buf.size() < at + AdsFrame::HeaderSize) {
                *complete = false;
                return at;
            }
            if (le16(p + at + AdsFrame::OffInvokeId) == m_invokeId) {
                *complete = true;
                return at;
            }
        }
        found = m_buf.indexOf(m_addresses, found + 1);
    }
    return -1;
}

// Whether the bytes at `at` are the start of a reply of ours cut inside its
// header: reserved bytes and our address agree, and the peer's address and
// the invoke id as far as they came.
bool AdsExchange::ownPrefix(qint64 at) const
{
    const qint64 avail = qMin<qint64>(m_buf.size() - at, AdsFrame::HeaderSize);
    const char *p = m_buf.constData() + at;
    if (avail < AdsFrame::OffSourceNetId || p[0] != 0 || p[1] != 0)
        return false;
    const qint64 addressed = qMin<qint64>(avail, kAddressEnd) - AdsFrame::OffTargetNetId;
    if (std::memcmp(p + AdsFrame::OffTargetNetId, m_addresses.constData(), size_t(addressed)) != 0)
        return false;
    // A reply carries the request's command and the response flag: a head
    // whose command or flags say otherwise (a notification cut by the
    // wait's end) is not the reply's.
    const char *command = m_request.constData() + AdsFrame::OffCommand;
    for (qint64 i = AdsFrame::OffCommand; i < qMin<qint64>(avail, AdsFrame::OffCommand + 2); ++i) {
        if (p[i] != command[i - AdsFrame::OffCommand])
            return false;
    }
    if (avail > AdsFrame::OffStateFlags && !(quint8(p[AdsFrame::OffStateFlags]) & AdsFrame::StateResponse))
        return false;
    return avail < AdsFrame::OffInvokeId + 2 || le16(p + AdsFrame::OffInvokeId) == m_invokeId;
}

// Whether the bytes at `at`, cut inside a header whose reserved bytes and
// our address agree, can still grow into a notification the sink takes:
// command and flags as far as they came, a length within the limit, the
// AMS length agreeing with it.
bool AdsExchange::notificationPrefix(qint64 at) const
{
    const qint64 avail = m_buf.size() - at;
    const uchar *p = reinterpret_cast<const uchar *>(m_buf.constData() + at);
    const qint64 lengthBytes = qBound<qint64>(0, avail - AdsFrame::OffTcpLength, 4);
    qint64 length = 0;
    for (qint64 i = 0; i < lengthBytes; ++i)
        length |= qint64(p[AdsFrame::OffTcpLength + i]) << (8 * i);
    if (lengthBytes < 4) {
        // The least length the bytes still to come allow.
        const qint64 step = qint64(1) << (8 * lengthBytes);
        while (length < AdsFrame::AmsHeaderSize)
            length += step;
    }
    if (AdsFrame::TcpHeaderSize + length > m_notifyLimit)
        return false;
    if (avail > AdsFrame::OffCommand && p[AdsFrame::OffCommand] != (AdsFrame::CmdNotification & 0xFF))
        return false;
    if (avail > AdsFrame::OffCommand + 1 && p[AdsFrame::OffCommand + 1] != (AdsFrame::CmdNotification >> 8))
        return false;
    if (avail > AdsFrame::OffStateFlags
        && (p[AdsFrame::OffStateFlags] & (AdsFrame::StateAdsCommand | AdsFrame::StateResponse))
               != AdsFrame::StateAdsCommand)
        return false;
    const qint64 dataLength = length - AdsFrame::AmsHeaderSize;
    for (qint64 i = AdsFrame::OffAmsLength; i < qMin<qint64>(avail, AdsFrame::OffAmsLength + 4); ++i) {
        if (p[i] != uchar(dataLength >> (8 * (i - AdsFrame::OffAmsLength))))
            return false;
    }
    return true;
}

AdsExchange::Head AdsExchange::classify(qint64 at, qint64 *frameSize) const
{
    if (m_addresses.size() != kAddressBytes)
        return Noise_; // nothing was asked on this connection: nothing can be owed
    const qint64 avail = m_buf.size() - at;
    const char *p = m_buf.constData() + at;
    if (m_active) {
        const qint64 n = qMin<qint64>(avail, m_request.size());
        if (std::memcmp(p, m_request.constData(), size_t(n)) == 0) {
            if (n < m_request.size())
                return NeedMore;
            *frameSize = m_request.size();
            return Echo;
        }
    }
    // Reserved bytes, then our own address, as far as they have arrived.
    for (qint64 i = 0; i < qMin<qint64>(avail, AdsFrame::OffSourceNetId); ++i) {
        if (i < 2 && p[i] != 0)
            return Noise_;
        if (i >= AdsFrame::OffTargetNetId && p[i] != m_addresses.at(int(i - AdsFrame::OffTargetNetId)))
            return Noise_;
    }
    if (avail < AdsFrame::HeaderSize)
        return NeedMore;
    const qint64 length = qint64(le32(p + AdsFrame::OffTcpLength));
    const qint64 size = AdsFrame::TcpHeaderSize + length;
    // By command and flags first: a notification is the controller's own
    // request, whatever its invoke id.
    if (isNotification(p, length)) {
        *frameSize = size;
        return Notification;
    }
    const bool believable = length >= AdsFrame::AmsHeaderSize && size <= m_owed
                            && le32(p + AdsFrame::OffAmsLength) == length - AdsFrame::AmsHeaderSize;
    if (m_active && le16(p + AdsFrame::OffInvokeId) == m_invokeId
        && std::memcmp(p + AdsFrame::OffSourceNetId, m_addresses.constData() + kOwnAddressBytes,
                       size_t(kOwnAddressBytes))
               == 0) {
        *frameSize = believable ? size : -1;
        return Ours;
    }
    if (believable && isCommandWeSend(le16(p + AdsFrame::OffCommand))
        && (le16(p + AdsFrame::OffStateFlags) & AdsFrame::StateResponse)) {
        *frameSize = size;
        return m_unawaited.contains(le32(p + AdsFrame::OffInvokeId)) ? UnawaitedReply : StrangerFrame;
    }
    return Noise_;
}

bool AdsExchange::isNotification(const char *p, qint64 length) const
{
    if (!m_notify || le16(p + AdsFrame::OffCommand) != AdsFrame::CmdNotification)
        return false;
    const quint16 flags = le16(p + AdsFrame::OffStateFlags);
    return (flags & AdsFrame::StateAdsCommand) && !(flags & AdsFrame::StateResponse)
           && length >= AdsFrame::AmsHeaderSize && AdsFrame::TcpHeaderSize + length <= m_notifyLimit
           && le32(p + AdsFrame::OffAmsLength) == length - AdsFrame::AmsHeaderSize;
}

void AdsExchange::setReply(qint64 size, Progress progress)
{
    m_replyAt = m_pos;
    m_replySize = size;
    m_pos += size;
    m_progress = progress;
}

// The bytes of the run so far leave the buffer; the first of them are kept
// for its report.
void AdsExchange::keepNoiseShown()
{
    if (m_noiseFrom < 0)
        return;
    const qint64 run = m_pos - m_noiseFrom;
    const int room = kNoiseShown - m_noiseShown.size();
    if (room > 0)
        m_noiseShown.append(m_buf.constData() + m_noiseFrom, int(qMin<qint64>(room, run)));
    m_noiseBefore += run;
    m_noiseFrom = m_pos;
}

void AdsExchange::flushNoise(const SkipSink &sink)
{
    if (m_noiseFrom < 0)
        return;
    keepNoiseShown();
    if (sink && m_active)
        sink(Noise, m_noiseShown, m_noiseBefore);
    m_noiseFrom = -1;
    m_noiseShown.resize(0);
    m_noiseBefore = 0;
}

void AdsExchange::compact()
{
    if (m_noiseFrom >= 0)
        m_noiseFrom -= m_pos; // the run goes on from the new start
    if (m_pos >= m_buf.size()) {
        if (m_buf.isDetached() && m_buf.capacity() <= kKeptCapacity)
            m_buf.resize(0); // keeps its capacity
        else
            m_buf = QByteArray(); // shared by a copy of the engine, or too large to keep
    } else if (m_pos > 0) {
        m_buf.remove(0, int(m_pos));
    }
    m_pos = 0;
}
