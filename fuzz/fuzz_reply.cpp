// The reply path of the link without a socket. A connection is a run of
// exchanges; each sends a read, a write or a symbol lookup (read-write)
// request built as Read_area, Write_area and ReadWrite_area build it, then
// lets bytes "arrive" in the pieces the input cuts, through the exchange
// engine as CmdBeckhoff_ADS drives it, then the reply checks, and for an
// accepted read the decoder Read_data uses, for an accepted lookup the entry
// parser. After every exchange, whatever it met, an honest reply to the
// next request must be found: the stream never falls out of step.
//
// A connection may also hold subscriptions: a notification sink is set, and
// the target builds frames into the pieces: DeviceNotification frames (for
// handles held and not held, with the awaited invoke id or another), the
// reply to the request awaited and late replies to earlier ones, each whole
// or cut anywhere, before, between and after the replies and between the
// exchanges. The sink takes each frame as the driver does, keeping the
// samples of the handles it holds. What the engine is held to:
//   - What reaches the sink is a notification built here, each at most
//     once, in the order built, byte for byte (so its samples parse back as
//     built), or else bytes that follow a header the engine must take for a
//     notification's, somewhere in what arrived: input bytes can spell one.
//   - In a clean stream (only frames built here), every notification no
//     longer than the limit that arrived whole reaches the sink, in the wait
//     it arrived in or at the next look between waits, and the reply that
//     arrived whole in its wait is the one handed over. Not claimed, as the
//     engine cannot know better: a notification that came before the
//     connection's first request (nothing is subscribed there yet), one
//     held unread when the connection was reset, one whose head was all
//     that had come of it when a wait ended before its flags (it may be the
//     head of the reply, cut short).
//   - The reply to a fresh request is found after whatever the engine
//     holds between waits, once the rest of a notification it holds the
//     head of has come; the engine keeps no head of anything else.
//   - A notification longer than the limit, or carrying the awaited invoke
//     id with no sink set, is no notification to the engine: the stream is
//     not clean from then on.
//   - Without a sink, notifications are noise, and the invariants are those
//     without them.
//
// Input layout (ByteReader: little-endian, zero past the end):
//   u32 first invoke id
//   u8 conn   bits0-1 exchanges - 1; bit2 frames are built into the pieces
//             (an op follows each piece); bit3 a notification sink is set;
//             bit4 with bit2, pieces hold no input bytes: a clean stream
//   with bit3: u8 held (bit i: kHandles[i] is held), u16 limit: the sink
//             takes frames of up to 38 + limit % 512 bytes
//   then per exchange:
//   u8 ctl    bits0-1 0 read, 1 write, 2 lookup, 3 read; bit2 one more
//             piece after the exchange; bit3 the request echoed first;
//             bit4 reconnect first; bits5-7 ids taken by requests that
//             were refused
//   u8 type   (% 11) + 1; for a lookup it picks the name
//   u16 count reads: + 1 (replies up to 46 + 8 * 65536 bytes, < 1 MB), or
//             % 1024 + 1 with conn bit2; writes: % 1024 + 1 (the reply is
//             42 bytes whatever the count); lookups: unused, they ask for
//             up to 0xFFFF bytes
//   piece     bytes that arrived while no exchange ran
//   u8 n      (% 16) pieces that arrive during the exchange
//   pieces
//   piece     with ctl bit2: the one more, after the exchange
// A piece: u16 length + bytes (none in a clean stream); with conn bit2 then
//   u8 op     bits0-1 the frame built after the bytes: 0 none; 1 a
//             notification; 2 the reply to the latest request on this
//             connection (after its wait, a late one); 3 the reply to the
//             request before that; bits3-7 seed a reply's data bytes
//   for 1:    u8 shape: bit3 it carries the exchange's invoke id (the
//             request's awaited, or about to be sent), else one of its own;
//             the other bits, then the samples, as NotificationSamples.h
//             reads them (in a clean stream no sample byte is zero)
//   with op bit2: u16 cut: only the frame's first cut % (size + 1) bytes
//             end this piece; the rest begins the next one (an echo comes
//             after it); after the last piece it arrives while the
//             connection idles at the end
#include "driver/AddressResolver.h"
#include "driver/ValueCodec.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/NotificationSamples.h"
#include "link/AdsExchange.h"
#include "link/AdsFrame.h"
#include "link/AdsLog.h"
#include "link/AdsReplyCheck.h"
#include "link/SymbolEntry.h"
#include "link/WireBytes.h"

#include <sanitizer/allocator_interface.h>

#include <QList>

#include <algorithm>
#include <iterator>

using fuzzsupport::ByteReader;
using notificationsamples::Sample;
using WireBytes::le16;
using WireBytes::le32;

namespace {

// ---------------------------------------------------------------- allocations
// The framer must never allocate for what a frame announces, only ever work
// on what arrived. A malloc hook records the largest block requested while
// a watch is open.
size_t g_largest = 0;
bool g_watching = false;

void onMalloc(const volatile void *, size_t size)
{
    if (g_watching && size > g_largest)
        g_largest = size;
}
void onFree(const volatile void *) { }

class AllocationWatch
{
public:
    AllocationWatch() : m_wasWatching(g_watching), m_saved(g_largest)
    {
        g_largest = 0;
        g_watching = true;
    }
    ~AllocationWatch()
    {
        g_watching = m_wasWatching;
        g_largest = qMax(g_largest, m_saved);
    }
    size_t largest() const { return g_largest; }

private:
    bool m_wasWatching;
    size_t m_saved;
};

// The sink formats log lines; what it allocates is not the framer's.
class AllocationPause
{
public:
    AllocationPause() : m_was(g_watching) { g_watching = false; }
    ~AllocationPause() { g_watching = m_was; }

private:
    bool m_was;
};

// A QByteArray block holds a header and the terminating zero besides the bytes.
const size_t kBlockSlack = 64;
const int kAmsPort = 851;
// Up to here the head of a notification and that of a reply of ours can be
// the same bytes.
const qint64 kFlagsEnd = AdsFrame::OffStateFlags + 2;

// FUZZ_TRACE=1 tells the story of each exchange on stderr, for reading a
// reproducer; fuzzing runs stay silent.
bool tracing()
{
    static const bool on = qEnvironmentVariableIsSet("FUZZ_TRACE");
    return on;
}

// The data of a reply built here: a read of 1024 elements of 8 bytes.
const qint64 kMaxBuiltData = 8 * 1024;

QByteArray netId()
{
    static const QByteArray id = AdsFrame::targetNetId(QStringLiteral("192.168.0.10"));
    return id;
}

// A frame built into the stream, and where it lies there.
struct Placed {
    enum State {
        Expected, // a notification the sink must get once it is whole
        Optional, // one it may get or not
        Refused, // one it must not get: no sink, or longer than the limit
        Delivered,
        Passed, // an optional one the sink went past
        Reply // a reply, never the sink's
    };
    QByteArray frame;
    qint64 from = 0; // its first byte's offset in the connection's stream
    State state = Reply;
    int request = -1; // a reply: the index of its request in Link::sent
    QList<Sample> samples;

    qint64 to() const { return from + frame.size(); }
};

struct Link {
    AdsExchange engine;
    quint32 invokeId = 0;
    AdsLog::Context log;
    qint64 now = 0;

    bool building = false; // frames are built into the pieces
    bool sink = false;
    bool builtOnly = false; // pieces hold no input bytes (conn bit4)
    bool clean = false; // the stream holds only frames built, all taken for what they are
    quint8 held = 0;
    qint64 limit = 0;

    // Of the connection since its last reset:
    QByteArray stream; // what arrived, in order
    qint64 assembled = 0; // the bytes put into pieces so far (some may not have arrived yet)
    QByteArray carry; // the rest of a frame cut at a piece's end
    QList<QByteArray> sent; // the requests sent
    QList<Placed> placed;
    int cursor = 0; // notifications before it are settled
    quint32 built = 0; // notifications built in the run
    QList<Sample> heldSeen; // what the driver keeps: samples for handles it holds
};

// A reply to `request` as an honest controller sends it, with `n` data
// bytes for a read or read-write that follow from `fill`, none zero.
QByteArray replyTo(const QByteArray &request, qint64 n, quint8 fill)
{
    const bool isWrite = AdsFrame::commandOf(request) == AdsFrame::CmdWrite;
    QByteArray r(AdsFrame::HeaderSize + (isWrite ? 4 : 8 + int(n)), '\0');
    char *p = r.data();
    WireBytes::putLe32(p + 2, quint32(r.size() - AdsFrame::TcpHeaderSize));
    std::memcpy(p + 6, request.constData() + 14, 8);
    std::memcpy(p + 14, request.constData() + 6, 8);
    std::memcpy(p + 22, request.constData() + 22, 2);
    WireBytes::putLe16(p + 24, 0x0005);
    WireBytes::putLe32(p + 26, quint32(r.size() - AdsFrame::HeaderSize));
    std::memcpy(p + 34, request.constData() + 34, 4);
    if (!isWrite) {
        WireBytes::putLe32(p + 42, quint32(n));
        // Not one byte over and over: looking for a reply among what
        // arrived stays quick.
        static const QByteArray bytes = [] {
            QByteArray b(kMaxBuiltData + 256, '\0');
            quint32 x = 1;
            for (char &c : b) {
                x = x * 1103515245u + 12345u;
                c = char(quint8(x >> 16) | 1);
            }
            return b;
        }();
        FUZZ_CHECK(n <= kMaxBuiltData);
        std::memcpy(p + AdsFrame::OffReadData,
                    bytes.constData() + (fill + AdsFrame::invokeIdOf(request)) % 256, size_t(n));
    }
    return r;
}

QByteArray honestReply(const QByteArray &request)
{
    return replyTo(request, qMin<qint64>(le32(request.constData() + AdsFrame::OffRequestLength), 64), 0);
}

// The reply the controller owes: all a read asked for, part of what a
// lookup may get.
QByteArray wholeReply(const QByteArray &request, quint8 fill)
{
    const qint64 asked = le32(request.constData() + AdsFrame::OffRequestLength);
    return replyTo(request,
                   AdsFrame::commandOf(request) == AdsFrame::CmdRead ? asked : qMin<qint64>(asked, 64), fill);
}

// ---------------------------------------------------------------- notifications

QByteArray ownAddress()
{
    static const QByteArray address = [] {
        const AdsFrame::AmsAddress source = AdsFrame::defaultSource();
        QByteArray a = source.netId;
        a.append(char(source.port & 0xff)).append(char(source.port >> 8));
        return a;
    }();
    return address;
}

// A DeviceNotification with `data` from the controller, the controller's
// own request: flags 0x0004, no response bit.
QByteArray notificationFrame(const QByteArray &data, quint32 invokeId)
{
    QByteArray f(AdsFrame::HeaderSize, '\0');
    char *p = f.data();
    WireBytes::putLe32(p + AdsFrame::OffTcpLength, quint32(AdsFrame::AmsHeaderSize + data.size()));
    std::memcpy(p + AdsFrame::OffTargetNetId, ownAddress().constData(), 8);
    std::memcpy(p + AdsFrame::OffSourceNetId, netId().constData(), 6);
    WireBytes::putLe16(p + AdsFrame::OffSourcePort, kAmsPort);
    WireBytes::putLe16(p + AdsFrame::OffCommand, AdsFrame::CmdNotification);
    WireBytes::putLe16(p + AdsFrame::OffStateFlags, AdsFrame::StateAdsCommand);
    WireBytes::putLe32(p + AdsFrame::OffAmsLength, quint32(data.size()));
    WireBytes::putLe32(p + AdsFrame::OffInvokeId, invokeId);
    return f + data;
}

// Whether the engine takes the header at `h` for a notification's with
// `dataSize` bytes after it: reserved bytes 0, addressed to us, command and
// flags, the two lengths agreeing, within the limit. The source is anyone.
bool isNotificationHeader(const char *h, qint64 dataSize, qint64 limit)
{
    const quint16 flags = le16(h + AdsFrame::OffStateFlags);
    return h[0] == 0 && h[1] == 0
           && std::memcmp(h + AdsFrame::OffTargetNetId, ownAddress().constData(), 8) == 0
           && le16(h + AdsFrame::OffCommand) == AdsFrame::CmdNotification
           && (flags & AdsFrame::StateAdsCommand) && !(flags & AdsFrame::StateResponse)
           && qint64(le32(h + AdsFrame::OffTcpLength)) == AdsFrame::AmsHeaderSize + dataSize
           && qint64(le32(h + AdsFrame::OffAmsLength)) == dataSize
           && AdsFrame::HeaderSize + dataSize <= limit;
}

// Whether `data` follows such a header somewhere in `stream`.
bool followsNotificationHeader(const QByteArray &stream, const QByteArray &data, qint64 limit)
{
    for (int at = stream.indexOf(data, AdsFrame::HeaderSize); at >= 0; at = stream.indexOf(data, at + 1)) {
        if (isNotificationHeader(stream.constData() + at - AdsFrame::HeaderSize, data.size(), limit))
            return true;
    }
    return false;
}

// What makes `head` a whole notification the engine takes, when one can
// start with it: the header's fields still missing, then data of the
// length it announces. False when no notification starts so.
bool notificationRest(const QByteArray &head, qint64 limit, QByteArray *rest)
{
    const int k = head.size();
    if (k == 0 || k >= limit)
        return false;
    // The length: as announced, or the least one its bytes that came allow.
    qint64 length = 0;
    for (int i = AdsFrame::OffTcpLength; i < qMin(k, AdsFrame::OffTcpLength + 4); ++i)
        length |= qint64(quint8(head.at(i))) << (8 * (i - AdsFrame::OffTcpLength));
    if (k < AdsFrame::OffTcpLength + 4) {
        const qint64 step = qint64(1) << (8 * qMax(0, k - AdsFrame::OffTcpLength));
        while (length < AdsFrame::AmsHeaderSize)
            length += step;
    }
    const qint64 dataSize = length - AdsFrame::AmsHeaderSize;
    if (dataSize < 0 || AdsFrame::HeaderSize + dataSize > limit)
        return false;
    QByteArray frame = notificationFrame(QByteArray(int(dataSize), '\x55'), 0);
    // What came stands where the engine does not look: the source, the
    // error code, the invoke id, the data, the flags beyond their two bits.
    frame.replace(0, k, head);
    if (!isNotificationHeader(frame.constData(), dataSize, limit))
        return false;
    *rest = frame.mid(k);
    return true;
}

// The sink, as the driver's: the samples of the handles it holds are kept;
// the frame is matched with the notifications built.
void onNotification(Link &link, const char *data, qint64 size)
{
    AllocationPause pause;
    FUZZ_CHECK(size >= 0 && AdsFrame::HeaderSize + size <= link.limit);
    const QByteArray bytes(data, int(size));
    bool ok = false;
    const QList<Sample> samples = notificationsamples::parse(bytes.constData(), bytes.size(), &ok);
    for (const Sample &s : samples) {
        for (int i = 0; i < 8; ++i) {
            if ((link.held >> i & 1) && s.handle == notificationsamples::kHandles[i])
                link.heldSeen.append(s);
        }
    }
    const qint64 arrived = link.stream.size();
    int match = -1;
    for (int i = link.cursor; i < link.placed.size() && link.placed.at(i).to() <= arrived; ++i) {
        const Placed &p = link.placed.at(i);
        if ((p.state == Placed::Expected || p.state == Placed::Optional)
            && p.frame.size() - AdsFrame::HeaderSize == size
            && std::memcmp(p.frame.constData() + AdsFrame::HeaderSize, data, size_t(size)) == 0) {
            match = i;
            break;
        }
    }
    if (tracing())
        std::fprintf(stderr, "notification of %d bytes: %s\n", int(size),
                     match >= 0 ? "one built" : "not built here");
    if (match < 0) {
        // Nothing but what was built comes out of a clean stream.
        FUZZ_CHECK(!link.clean);
        FUZZ_CHECK(followsNotificationHeader(link.stream, bytes, link.limit));
        return;
    }
    for (int i = link.cursor; i < match; ++i) {
        Placed &p = link.placed[i];
        if (p.state == Placed::Expected || p.state == Placed::Optional) {
            // A notification of a clean stream skipped.
            FUZZ_CHECK(!link.clean || p.state == Placed::Optional);
            p.state = Placed::Passed;
        }
    }
    Placed &p = link.placed[match];
    p.state = Placed::Delivered;
    link.cursor = match + 1;
    FUZZ_CHECK(ok && samples == p.samples);
}

// In a clean stream, every notification that arrived whole has reached the
// sink by the end of each look at the stream that did not stop at a reply.
void checkAllDelivered(const Link &link)
{
    if (!link.clean)
        return;
    for (int i = link.cursor; i < link.placed.size(); ++i) {
        const Placed &p = link.placed.at(i);
        FUZZ_CHECK(p.state != Placed::Expected || p.to() > link.stream.size());
    }
}

// The notification built from the input, its state as the engine must
// treat it.
Placed buildNotification(Link &link, ByteReader &in)
{
    Placed p;
    const quint8 shape = in.u8();
    const QByteArray data = notificationsamples::build(in, shape, ++link.built, link.builtOnly, &p.samples);
    const bool awaited = shape & 0x08;
    // Its own: 16 bits that no request of this run's has (they differ by less than 0x8000).
    const quint32 own = (link.invokeId ^ 0x8000) + (link.built << 16);
    p.frame = notificationFrame(data, awaited ? link.invokeId : own);
    bool ok = false;
    FUZZ_CHECK(notificationsamples::parse(data.constData(), data.size(), &ok) == p.samples && ok);
    if (!link.sink || p.frame.size() > link.limit) {
        p.state = Placed::Refused;
        // Taken for noise, or for the reply when it carries the awaited id.
        if (link.sink || awaited)
            link.clean = false;
    } else {
        // Before the connection's first request nothing can be subscribed.
        p.state = link.sent.isEmpty() ? Placed::Optional : Placed::Expected;
    }
    return p;
}

// ---------------------------------------------------------------- the stream

// Bytes arrive: the engine gets them, the stream keeps them.
void arrive(Link &link, const QByteArray &bytes)
{
    link.stream += bytes;
    FUZZ_CHECK(link.stream.size() <= link.assembled);
    link.engine.append(bytes.constData(), bytes.size());
}

QByteArray takeCarry(Link &link)
{
    const QByteArray rest = link.carry;
    link.carry.clear();
    link.assembled += rest.size();
    return rest;
}

// One piece as it will arrive: what is left of a frame cut at the end of
// the piece before, the input's bytes, then a frame built here, whole or
// its head.
QByteArray assemble(Link &link, ByteReader &in)
{
    QByteArray piece = link.carry;
    link.carry.clear();
    if (!link.builtOnly)
        piece += in.piece();
    if (!link.building) {
        link.assembled += piece.size();
        return piece;
    }
    const quint8 op = in.u8();
    Placed p;
    const int earlier = link.sent.size() - 1 - ((op & 3) == 3 ? 1 : 0);
    if ((op & 3) == 1) {
        p = buildNotification(link, in);
    } else if ((op & 3) >= 2 && earlier >= 0) {
        p.request = earlier;
        p.frame = wholeReply(link.sent.at(earlier), quint8(op >> 3));
    }
    int cut = p.frame.size();
    if (op & 0x04)
        cut = in.u16() % (p.frame.size() + 1);
    if (!p.frame.isEmpty()) {
        p.from = link.assembled + piece.size();
        piece += p.frame.left(cut);
        link.carry = p.frame.mid(cut);
        link.placed.append(p);
    }
    link.assembled += piece.size();
    return piece;
}

// A new connection: nothing of the old stream comes any more.
void reconnect(Link &link)
{
    link.engine.reset();
    link.stream.clear();
    link.assembled = 0;
    link.carry.clear();
    link.sent.clear();
    link.placed.clear();
    link.cursor = 0;
    link.heldSeen.clear();
    link.clean = link.builtOnly;
}

// Whatever the stream held or still owes, the reply to a fresh request is
// found when it arrives whole. What is left of a frame cut comes first; so
// do the rest of a notification the engine holds the head of.
void checkInStep(const Link &link)
{
    AdsExchange probe = link.engine;
    if (link.sink)
        probe.setNotificationSink([](const char *, qint64) {}, link.limit);
    probe.append(link.carry.constData(), link.carry.size());
    probe.dropStale();
    const int held = int(probe.buffered());
    if (held > 0) {
        const QByteArray head = held <= link.carry.size()
                                    ? link.carry.right(held)
                                    : link.stream.right(held - link.carry.size()) + link.carry;
        QByteArray rest;
        if (notificationRest(head, link.limit, &rest))
            probe.append(rest.constData(), rest.size());
    }
    const QByteArray request =
        AdsFrame::readRequest(netId(), kAmsPort, link.invokeId + 1, AddressResolver::AT_MByte, 0, 4);
    const QByteArray reply = honestReply(request);
    probe.begin(request, link.now, 2050);
    probe.append(reply.constData(), reply.size());
    FUZZ_CHECK(probe.advance(link.now, nullptr) == AdsExchange::Replied);
    FUZZ_CHECK(probe.takeReply() == reply);
}

// ---------------------------------------------------------------- replies

template <typename T>
void decodeAccepted(const QByteArray &data, int count)
{
    const size_t slot = qMax(sizeof(T), sizeof(void *)); // QList keeps small types in pointer slots
    QVariant value;
    {
        AllocationWatch watch;
        value = ValueCodec::decode<T>(data, count);
        FUZZ_CHECK(watch.largest() <= size_t(count) * slot + 256);
    }
    FUZZ_CHECK(value.userType() == qMetaTypeId<QList<T>>());
    const QList<T> &list = *static_cast<const QList<T> *>(value.constData());
    FUZZ_CHECK(list.size() == count);
    if constexpr (std::is_same_v<T, bool>) {
        for (int i = 0; i < count; ++i)
            FUZZ_CHECK(list.at(i) == (data.at(i) != 0));
    } else {
        // Every data byte lands in exactly one element.
        QByteArray again;
        ValueCodec::encode<T>(value, count, &again);
        FUZZ_CHECK(again == data);
    }
}

// What the controller answered to a lookup, taken apart as locateSymbol does.
void parseEntry(const QByteArray &data)
{
    SymbolEntry entry;
    entry.indexGroup = 0xdeadbeef; // parse leaves a refused entry alone
    bool ok;
    {
        AllocationWatch watch;
        ok = SymbolEntry::parse(data, &entry);
        FUZZ_CHECK(watch.largest() <= 2 * size_t(data.size()) + kBlockSlack);
    }
    if (tracing())
        std::fprintf(stderr, "entry of %d bytes: %s\n", int(data.size()), ok ? "parsed" : "refused");
    if (!ok) {
        FUZZ_CHECK(entry.indexGroup == 0xdeadbeef && entry.typeName.isEmpty());
        return;
    }
    // Fixed part, then name, type name and comment, each ending in a zero.
    const int kFixed = 30;
    FUZZ_CHECK(data.size() >= kFixed);
    const qint64 nameLength = WireBytes::le16(data.constData() + 24);
    const qint64 typeLength = WireBytes::le16(data.constData() + 26);
    const qint64 commentLength = WireBytes::le16(data.constData() + 28);
    const qint64 typeAt = kFixed + nameLength + 1;
    FUZZ_CHECK(typeAt + typeLength + 1 + commentLength + 1 <= data.size());
    FUZZ_CHECK(data.at(int(typeAt - 1)) == '\0' && data.at(int(typeAt + typeLength)) == '\0');
    FUZZ_CHECK(entry.indexGroup == le32(data.constData() + 4));
    FUZZ_CHECK(entry.indexOffset == le32(data.constData() + 8));
    FUZZ_CHECK(entry.size == le32(data.constData() + 12));
    FUZZ_CHECK(entry.typeName == fuzzsupport::latin1(data.mid(int(typeAt), int(typeLength))));
}

// What the engine hands over is bytes that arrived in this wait, and a
// whole reply of ours carries the request's invoke id and mirrored addresses.
void checkHandOver(AdsExchange::Progress progress, const QByteArray &request, const QByteArray &reply,
                   const QByteArray &arrived)
{
    const qint64 maxReply = AdsFrame::expectedReplySize(request);
    switch (progress) {
    case AdsExchange::Waiting: FUZZ_CHECK(!"a wait that never ended"); break;
    case AdsExchange::NoReply: FUZZ_CHECK(reply.isEmpty()); return;
    case AdsExchange::Replied:
        FUZZ_CHECK(reply.size() >= AdsFrame::HeaderSize && reply.size() <= maxReply);
        FUZZ_CHECK(AdsFrame::TcpHeaderSize + qint64(le32(reply.constData() + AdsFrame::OffTcpLength))
                   == reply.size());
        break;
    case AdsExchange::Oversized:
    case AdsExchange::CutShort: FUZZ_CHECK(!reply.isEmpty()); break;
    }
    FUZZ_CHECK(arrived.contains(reply));
    if (reply.size() >= AdsFrame::HeaderSize) {
        FUZZ_CHECK(le16(reply.constData() + AdsFrame::OffInvokeId) == quint16(AdsFrame::invokeIdOf(request)));
        FUZZ_CHECK(std::memcmp(reply.constData() + 6, request.constData() + 14, 8) == 0);
        FUZZ_CHECK(std::memcmp(reply.constData() + 14, request.constData() + 6, 8) == 0);
    }
}

// In a clean stream the reply that arrived whole in the wait (from
// `waitFrom` to `waitEnd` in the stream) is the one handed over; a wait
// cut short hands over the head of the frame that was coming.
void checkCleanReply(Link &link, AdsExchange::Progress progress, const QByteArray &reply, qint64 waitFrom,
                     qint64 waitEnd)
{
    const int current = link.sent.size() - 1;
    const Placed *ours = nullptr;
    const Placed *coming = nullptr;
    for (const Placed &p : qAsConst(link.placed)) {
        if (!ours && p.request == current && p.from >= waitFrom)
            ours = &p;
        if (p.from < waitEnd && p.to() > waitEnd)
            coming = &p;
    }
    if (ours && ours->to() <= waitEnd)
        FUZZ_CHECK(progress == AdsExchange::Replied);
    switch (progress) {
    case AdsExchange::Replied: FUZZ_CHECK(ours && reply == ours->frame); break;
    case AdsExchange::Oversized: FUZZ_CHECK(!"a clean stream's reply oversized"); break;
    case AdsExchange::CutShort:
        // Before its invoke id came, the head of another frame may be taken
        // for the reply's; not that of a notification the sink is owed.
        FUZZ_CHECK(coming && (coming == ours || coming->state != Placed::Expected));
        FUZZ_CHECK(reply == coming->frame.left(int(waitEnd - coming->from)));
        break;
    default: break;
    }
}

// The checks of Message_parsing and Write_area on what the engine handed over.
void checkReply(Link &link, AdsExchange::Progress progress, const QByteArray &request,
                const QByteArray &reply, int type, int count, int byteLength)
{
    AdsReplyCheck::Result r;
    {
        AllocationWatch watch;
        r = AdsReplyCheck::check(progress, request, reply);
        FUZZ_CHECK(watch.largest() == 0);
    }
    if (r.verdict == AdsReplyCheck::ErrorCode) {
        FUZZ_CHECK(r.errorCode != 0);
        (void)AdsLog::errorCode(link.log, r.errorCode, reply);
    } else if (r.verdict == AdsReplyCheck::WrongReply) {
        const QString line = AdsLog::wrongLength(link.log, reply);
        FUZZ_CHECK(line.size() <= 600 + 2 * AdsLog::kWarningBytes);
    }
    if (r.verdict != AdsReplyCheck::Accepted) {
        FUZZ_CHECK(AdsReplyCheck::linkResult(r.verdict) != LinkOk);
        return;
    }
    FUZZ_CHECK(progress == AdsExchange::Replied);
    FUZZ_CHECK(le16(reply.constData() + AdsFrame::OffCommand) == AdsFrame::commandOf(request));
    FUZZ_CHECK(le32(reply.constData() + AdsFrame::OffErrorCode) == 0);
    FUZZ_CHECK(le32(reply.constData() + AdsFrame::OffAdsResult) == 0);
    switch (AdsFrame::commandOf(request)) {
    case AdsFrame::CmdWrite: FUZZ_CHECK(reply.size() == AdsFrame::WriteReplySize); return;
    case AdsFrame::CmdReadWrite: {
        const QByteArray out = reply.mid(AdsFrame::OffReadData);
        FUZZ_CHECK(out.size() == qint64(le32(reply.constData() + AdsFrame::OffReadLength)));
        FUZZ_CHECK(out.size() <= byteLength);
        parseEntry(out);
        return;
    }
    default: {
        const QByteArray out = reply.mid(AdsFrame::OffReadData);
        FUZZ_CHECK(out.size() == byteLength);
        fuzzsupport::withElementType(
            type, [&](auto tag) { decodeAccepted<typename decltype(tag)::type>(out, count); });
    }
    }
}

// Looking at what arrived never allocates for what a frame announces: at
// most a buffer grown (to twice at most) for bytes that are there, or for
// the head of a noise run kept for its warning (which spans pieces).
void checkAllocation(const AllocationWatch &watch, size_t held)
{
    const size_t shown = 2 * size_t(AdsLog::kWarningBytes);
    FUZZ_CHECK(watch.largest() <= qMax(2 * held, shown) + kBlockSlack);
}

void feed(Link &link, const QByteArray &piece, QByteArray *arrived)
{
    arrived->append(piece);
    const size_t held = size_t(link.engine.buffered() + piece.size());
    arrive(link, piece);
    AllocationWatch watch;
    const AdsExchange::Progress progress =
        link.engine.advance(link.now, [&](AdsExchange::Skipped kind, const QByteArray &bytes, qint64 size) {
            AllocationPause pause;
            FUZZ_CHECK(bytes.size() <= size && arrived->contains(bytes));
            const QString line = kind == AdsExchange::Stranger ? AdsLog::wrongSequence(link.log, bytes, size)
                                                               : AdsLog::wrongLength(link.log, bytes, size);
            FUZZ_CHECK(line.size() <= 600 + 2 * AdsLog::kWarningBytes);
        });
    checkAllocation(watch, held);
    if (progress == AdsExchange::Waiting)
        checkAllDelivered(link);
}

// Bytes that arrive with no exchange running: every byte is stale, but a
// notification among them goes to the sink, and the head of one cut is
// kept for its rest.
void arriveBetweenWaits(Link &link, const QByteArray &piece)
{
    const size_t held = size_t(link.engine.buffered() + piece.size());
    arrive(link, piece);
    {
        AllocationWatch watch;
        link.engine.dropStale();
        checkAllocation(watch, held);
    }
    if (link.sink)
        FUZZ_CHECK(link.engine.buffered() < qMax<qint64>(AdsFrame::HeaderSize, link.limit));
    else
        FUZZ_CHECK(link.engine.buffered() == 0);
    checkAllDelivered(link);
}

// ---------------------------------------------------------------- one exchange

void exchange(Link &link, ByteReader &in)
{
    const quint8 ctl = in.u8();
    const bool isWrite = (ctl & 0x03) == 1;
    const bool isLookup = (ctl & 0x03) == 2;
    if (ctl & 0x10)
        reconnect(link);
    link.invokeId += 1 + (ctl >> 5);
    const quint8 typeByte = in.u8();
    const int type = typeByte % 11 + 1;
    const quint16 countRaw = in.u16();
    // Replies built here are whole: small reads keep the run quick.
    const int count = isWrite || link.building ? countRaw % 1024 + 1 : int(countRaw) + 1;
    int byteLength = int(ValueCodec::byteLength(type, count));
    FUZZ_CHECK(byteLength > 0 && byteLength <= 8 * 65536);

    QByteArray request;
    if (isLookup) {
        static const char *const names[] = {"MAIN.nCounter", "GVL.aTemps[3]", ".bRun",
                                            "Main.st.aMatrix[1,2].x"};
        const QByteArray data = SymbolEntry::lookupData(QString::fromLatin1(names[typeByte % 4]));
        byteLength = SymbolEntry::LookupReadLength;
        request = AdsFrame::readWriteRequest(netId(), kAmsPort, link.invokeId, SymbolEntry::LookupGroup, 0,
                                             quint32(byteLength), data);
    } else if (isWrite) {
        request = AdsFrame::writeRequest(netId(), kAmsPort, link.invokeId, AddressResolver::AT_MByte, 0x10,
                                         QByteArray(), byteLength);
        FUZZ_CHECK(request.size() == AdsFrame::ReadRequestSize + byteLength);
    } else {
        request = AdsFrame::readRequest(netId(), kAmsPort, link.invokeId, AddressResolver::AT_MByte, 0x10,
                                        quint32(byteLength));
    }
    FUZZ_CHECK(AdsFrame::invokeIdOf(request) == link.invokeId);
    link.log.varName = QStringLiteral("MW10");
    link.log.byteLength = byteLength;

    // Bytes that came in between exchanges are stale.
    arriveBetweenWaits(link, assemble(link, in));

    link.engine.begin(request, link.now, 2050);
    link.sent.append(request);
    const qint64 waitFrom = link.stream.size();
    // What the engine still holds of a notification's head is looked at in this wait.
    QByteArray arrived = link.stream.right(int(link.engine.buffered()));
    if (ctl & 0x08) {
        // An echoing line sends the request back between the controller's frames.
        if (!link.carry.isEmpty())
            feed(link, takeCarry(link), &arrived);
        if (link.engine.progress() == AdsExchange::Waiting) {
            link.assembled += request.size();
            feed(link, request, &arrived);
        }
    }
    const int pieces = in.u8() % 16;
    QList<QByteArray> late;
    for (int i = 0; i < pieces; ++i) {
        const QByteArray piece = assemble(link, in);
        if (link.engine.progress() == AdsExchange::Waiting)
            feed(link, piece, &arrived);
        else
            late.append(piece);
    }
    const qint64 waitEnd = link.stream.size();
    AdsExchange::Progress progress = link.engine.progress();
    if (progress == AdsExchange::Waiting) {
        link.now += 2050; // the deadline passes
        for (Placed &p : link.placed) {
            if (p.state == Placed::Expected && p.from < waitEnd && p.to() > waitEnd
                && waitEnd - p.from < kFlagsEnd)
                p.state = Placed::Optional;
        }
        progress = link.engine.advance(link.now, nullptr);
        if (progress != AdsExchange::Replied)
            checkAllDelivered(link);
    }
    const QByteArray reply = link.engine.takeReply();
    checkHandOver(progress, request, reply, arrived);
    if (link.clean)
        checkCleanReply(link, progress, reply, waitFrom, waitEnd);
    checkReply(link, progress, request, reply, type, count, byteLength);
    if (tracing())
        std::fprintf(stderr, "%s id %u: progress %d, reply %d bytes\n",
                     isWrite    ? "write"
                     : isLookup ? "lookup"
                                : "read",
                     link.invokeId, int(progress), int(reply.size()));

    // Pieces that arrive with no exchange running are dropped on arrival.
    if (ctl & 0x04)
        late.append(assemble(link, in));
    for (const QByteArray &piece : late)
        arriveBetweenWaits(link, piece);
    checkInStep(link);
    link.now += 10;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // A list type's first use registers it with Qt's type system, which
    // allocates once for all runs; do that before any watch opens.
    for (int type = DT_Bool; type <= DT_Double; ++type)
        fuzzsupport::withElementType(
            type, [](auto tag) { (void)qMetaTypeId<QList<typename decltype(tag)::type>>(); });
    __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ByteReader in(data, size);
    Link link;
    link.invokeId = in.u32();
    link.log.host = QStringLiteral("192.168.0.10");
    link.log.tcpPort = 48898;
    link.log.amsPort = kAmsPort;
    const quint8 conn = in.u8();
    const int exchanges = conn % 4 + 1;
    link.building = conn & 0x04;
    link.sink = conn & 0x08;
    link.builtOnly = link.building && (conn & 0x10);
    link.clean = link.builtOnly;
    if (link.sink) {
        link.held = in.u8();
        link.limit = AdsFrame::HeaderSize + in.u16() % 512;
        link.engine.setNotificationSink(
            [&link](const char *bytes, qint64 n) { onNotification(link, bytes, n); }, link.limit);
    }
    for (int i = 0; i < exchanges; ++i)
        exchange(link, in);
    // The connection idles: what is left arrives and is looked at.
    arriveBetweenWaits(link, takeCarry(link));
    if (link.clean) {
        QList<Sample> kept;
        for (const Placed &p : qAsConst(link.placed)) {
            for (const Sample &s : p.samples) {
                const int i = int(std::find(std::begin(notificationsamples::kHandles),
                                            std::end(notificationsamples::kHandles), s.handle)
                                  - std::begin(notificationsamples::kHandles));
                if (p.state == Placed::Delivered && (link.held >> i & 1))
                    kept.append(s);
            }
        }
        FUZZ_CHECK(kept == link.heldSeen);
    }
    return 0;
}
