// The reply path of the link without a socket. A connection is a run of
// exchanges; each sends a read, a write or a symbol lookup (read-write)
// request built as Read_area, Write_area and ReadWrite_area build it, then
// lets bytes "arrive" in the pieces the input cuts, and takes them through
// the same steps as CmdBeckhoff_ADS: dropStaleBytes before the request,
// collectReply on every arrival, the hand-over at the end of SendData, the
// reply checks of Message_parsing and Write_area, and for an accepted read
// the decoder Read_data uses, for an accepted lookup the entry parser.
//
// Input layout (ByteReader: little-endian, zero past the end):
//   u32 first invoke id, u8 exchanges (low two bits + 1), then per exchange
//   u8 ctl    bits0-1 0 read, 1 write, 2 lookup, 3 read; bit2 one more
//             piece after the exchange; bit3 one more piece just before the
//             hand-over; bit4 reconnect first; bits5-7 ids taken by
//             requests that were refused
//   u8 type   (% 11) + 1; for a lookup it picks the name
//   u16 count reads: + 1 (replies up to 46 + 8 * 65536 bytes, < 1 MB);
//             writes: % 1024 + 1 (the reply is 42 bytes whatever the count);
//             lookups: unused, they ask for up to 0xFFFF bytes
//   piece     bytes that arrived while no exchange ran
//   u8 n      (% 16) pieces that arrive during the exchange
//   pieces    each u16 length + bytes
#include "AddressResolver.h"
#include "AdsFrame.h"
#include "AdsLog.h"
#include "AdsReplyCheck.h"
#include "FuzzSupport.h"
#include "ReplyFramer.h"
#include "SymbolEntry.h"
#include "ValueCodec.h"
#include "WireBytes.h"

#include <sanitizer/allocator_interface.h>

#include <QList>

using fuzzsupport::ByteReader;
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

// ---------------------------------------------------------------- the link

const int kAmsPort = 851;

struct Link {
    QByteArray recvBuffer;
    ReplyFramer framer;
    ReplyFramer::State replyState = ReplyFramer::NeedMore;
    bool exchanging = false;
    quint32 invokeId = 0;
    AdsLog::Context log;

    // What the invariants are measured against: every byte appended since
    // the buffer was last empty, in order.
    QByteArray arrivedSinceEmpty;
    quint16 ourId = 0;
    qint64 maxReply = 0;
    int sinkCalls = 0;
};

QByteArray netId()
{
    static const QByteArray id = AdsFrame::targetNetId(QStringLiteral("192.168.0.10"));
    return id;
}

qint64 announced(const QByteArray &buffer)
{
    return AdsFrame::TcpHeaderSize + qint64(le32(buffer.constData() + AdsFrame::OffTcpLength));
}

// The framer only ever drops bytes from the front: what it holds is the
// tail of what arrived.
void checkHeldIsTail(const Link &link)
{
    const QByteArray &b = link.recvBuffer;
    FUZZ_CHECK(b.size() <= link.arrivedSinceEmpty.size());
    FUZZ_CHECK(link.arrivedSinceEmpty.endsWith(b));
}

void checkAfterScan(const Link &link)
{
    checkHeldIsTail(link);
    const QByteArray &b = link.recvBuffer;
    switch (link.replyState) {
    case ReplyFramer::NeedMore:
        // No whole stranger stays in front, and nothing near the size an
        // announced length could claim is held: less than one reply.
        if (b.size() >= AdsFrame::TcpHeaderSize && announced(b) < AdsFrame::HeaderSize)
            FUZZ_CHECK(b.size() < announced(b));
        if (b.size() >= AdsFrame::HeaderSize) {
            FUZZ_CHECK(le16(b.constData() + AdsFrame::OffInvokeId) == link.ourId);
            FUZZ_CHECK(b.size() < announced(b) && announced(b) <= link.maxReply);
        }
        FUZZ_CHECK(b.size() < qMax<qint64>(AdsFrame::HeaderSize, link.maxReply));
        break;
    case ReplyFramer::FrameReady:
        FUZZ_CHECK(b.size() >= AdsFrame::HeaderSize);
        FUZZ_CHECK(le16(b.constData() + AdsFrame::OffInvokeId) == link.ourId);
        FUZZ_CHECK(link.framer.frameSize() == announced(b));
        FUZZ_CHECK(link.framer.frameSize() <= link.maxReply);
        FUZZ_CHECK(link.framer.frameSize() <= b.size());
        break;
    case ReplyFramer::Oversized:
        FUZZ_CHECK(b.size() >= AdsFrame::HeaderSize);
        FUZZ_CHECK(le16(b.constData() + AdsFrame::OffInvokeId) == link.ourId);
        FUZZ_CHECK(announced(b) > link.maxReply);
        FUZZ_CHECK(link.framer.frameSize() == qMin<qint64>(announced(b), b.size()));
        break;
    }
}

void append(Link &link, const QByteArray &piece)
{
    if (link.recvBuffer.isEmpty())
        link.arrivedSinceEmpty.clear();
    link.recvBuffer.append(piece);
    link.arrivedSinceEmpty.append(piece);
}

void discardStale(Link &link)
{
    const size_t before = size_t(link.recvBuffer.size());
    AllocationWatch watch;
    link.framer.discardStale(link.recvBuffer);
    FUZZ_CHECK(watch.largest() <= before + kBlockSlack);
    FUZZ_CHECK(link.recvBuffer.isEmpty());
}

// CmdBeckhoff_ADS::collectReply, with the invariants around the scan.
void collectReply(Link &link)
{
    if (!link.exchanging) {
        discardStale(link);
        return;
    }
    if (link.replyState != ReplyFramer::NeedMore)
        return;
    const size_t before = size_t(link.recvBuffer.size());
    const int strangersBefore = link.framer.strangers();
    int calls = 0;
    AllocationWatch watch;
    link.replyState =
        link.framer.scan(link.recvBuffer, [&](const QByteArray &head, ReplyFramer::StrangerKind kind) {
            AllocationPause pause;
            ++calls;
            // A stranger is reported with the bytes of it that are there, from
            // the front of the buffer, before they are dropped.
            const QByteArray &b = link.recvBuffer;
            FUZZ_CHECK(head.size() <= b.size());
            FUZZ_CHECK(b.startsWith(head));
            switch (kind) {
            case ReplyFramer::TooShortForId:
                FUZZ_CHECK(head.size() == announced(b) && head.size() < AdsFrame::HeaderSize);
                break;
            case ReplyFramer::OtherInvokeId:
                FUZZ_CHECK(b.size() >= AdsFrame::HeaderSize);
                FUZZ_CHECK(le16(b.constData() + AdsFrame::OffInvokeId) != link.ourId);
                FUZZ_CHECK(head.size() == qMin<qint64>(announced(b), b.size()));
                break;
            case ReplyFramer::Noise: FUZZ_CHECK(head.size() <= link.maxReply); break;
            default: FUZZ_CHECK(!"unknown stranger kind");
            }
            // CmdBeckhoff_ADS::warnStranger formats one of these two lines.
            const QString line = kind == ReplyFramer::OtherInvokeId ? AdsLog::wrongSequence(link.log, head)
                                                                    : AdsLog::wrongLength(link.log, head);
            FUZZ_CHECK(line.size() >= 2 * head.size());
        });
    FUZZ_CHECK(watch.largest() <= before + kBlockSlack);
    FUZZ_CHECK(link.framer.strangers() - strangersBefore == calls);
    link.sinkCalls += calls;
    checkAfterScan(link);
}

// ---------------------------------------------------------------- checks of the reply

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

// FUZZ_TRACE=1 tells the story of each exchange on stderr, for reading a
// reproducer; fuzzing runs stay silent.
bool tracing()
{
    static const bool on = qEnvironmentVariableIsSet("FUZZ_TRACE");
    return on;
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

// Message_parsing: a read or a lookup, told apart by the request's command.
AdsReplyCheck::Verdict checkRead(Link &link, AdsReplyCheck::Delivery delivery, const QByteArray &request,
                                 const QByteArray &reply, int type, int count, int byteLength)
{
    const bool lookup = AdsFrame::commandOf(request) == AdsFrame::CmdReadWrite;
    AdsReplyCheck::Result r;
    {
        AllocationWatch watch;
        r = lookup ? AdsReplyCheck::checkReadWrite(delivery, request, reply, byteLength)
                   : AdsReplyCheck::checkRead(delivery, request, reply, byteLength);
        FUZZ_CHECK(watch.largest() == 0);
    }
    if (reply.isEmpty())
        FUZZ_CHECK(r.verdict
                   == (delivery == AdsReplyCheck::OnlyStrangers ? AdsReplyCheck::StrangersOnly
                                                                : AdsReplyCheck::NoReply));
    if (r.verdict == AdsReplyCheck::ErrorCode)
        FUZZ_CHECK(r.errorCode != 0);
    // Message_parsing logs one line per verdict; only the formatting runs here.
    (void)AdsLog::readResponse(link.log, reply);
    if (r.verdict == AdsReplyCheck::ErrorCode)
        (void)AdsLog::errorCode(link.log, r.errorCode, reply);
    else if (r.verdict != AdsReplyCheck::Accepted)
        (void)AdsLog::wrongLength(link.log, reply);

    if (r.verdict != AdsReplyCheck::Accepted) {
        FUZZ_CHECK(AdsReplyCheck::linkResult(r.verdict) != 0);
        return r.verdict;
    }
    FUZZ_CHECK(AdsReplyCheck::linkResult(r.verdict) == 0);
    FUZZ_CHECK(delivery == AdsReplyCheck::CompleteFrame);
    FUZZ_CHECK(reply.size() >= AdsFrame::ReadReplyHeaderSize);
    FUZZ_CHECK(le16(reply.constData() + AdsFrame::OffInvokeId) == quint16(link.invokeId));
    FUZZ_CHECK(le32(reply.constData() + AdsFrame::OffErrorCode) == 0);
    FUZZ_CHECK(le32(reply.constData() + AdsFrame::OffAdsResult) == 0);

    // Message_parsing hands over every byte after the length field.
    QByteArray out;
    if (reply.size() > AdsFrame::OffReadData)
        out.append(reply.constData() + AdsFrame::OffReadData, reply.size() - AdsFrame::OffReadData);
    if (lookup) {
        // An accepted lookup carries what its length field says, never
        // more than the request asked for.
        FUZZ_CHECK(out.size() == qint64(le32(reply.constData() + AdsFrame::OffReadLength)));
        FUZZ_CHECK(out.size() <= byteLength);
        parseEntry(out);
    } else {
        // An accepted read is exactly headers, result, length and the data.
        FUZZ_CHECK(reply.size() == AdsFrame::ReadReplyHeaderSize + byteLength);
        FUZZ_CHECK(out.size() == byteLength);
        fuzzsupport::withElementType(
            type, [&](auto tag) { decodeAccepted<typename decltype(tag)::type>(out, count); });
    }
    return r.verdict;
}

AdsReplyCheck::Verdict checkWrite(Link &link, AdsReplyCheck::Delivery delivery, const QByteArray &request,
                                  const QByteArray &reply)
{
    AdsReplyCheck::Result r;
    {
        AllocationWatch watch;
        r = AdsReplyCheck::checkWrite(delivery, request, reply);
        FUZZ_CHECK(watch.largest() == 0);
    }
    if (reply.isEmpty())
        FUZZ_CHECK(r.verdict
                   == (delivery == AdsReplyCheck::OnlyStrangers ? AdsReplyCheck::StrangersOnly
                                                                : AdsReplyCheck::NoReply));
    (void)AdsLog::writeResponse(link.log, reply);
    if (r.verdict != AdsReplyCheck::Accepted)
        return r.verdict;
    FUZZ_CHECK(delivery == AdsReplyCheck::CompleteFrame);
    FUZZ_CHECK(reply.size() == AdsFrame::WriteReplySize);
    FUZZ_CHECK(le32(reply.constData() + AdsFrame::OffTcpLength)
               == AdsFrame::WriteReplySize - AdsFrame::TcpHeaderSize);
    FUZZ_CHECK(le16(reply.constData() + AdsFrame::OffInvokeId) == quint16(link.invokeId));
    FUZZ_CHECK(le32(reply.constData() + AdsFrame::OffErrorCode) == 0);
    FUZZ_CHECK(le32(reply.constData() + AdsFrame::OffAdsResult) == 0);
    return r.verdict;
}

// ---------------------------------------------------------------- one exchange

void exchange(Link &link, ByteReader &in)
{
    const quint8 ctl = in.u8();
    const bool isWrite = (ctl & 0x03) == 1;
    const bool isLookup = (ctl & 0x03) == 2;
    if (ctl & 0x10) {
        // A new connect: EthConnectDrive and serialConnectDrive start afresh.
        link.recvBuffer.clear();
        link.framer.reset();
    }
    link.invokeId += 1 + (ctl >> 5);
    const quint8 typeByte = in.u8();
    const int type = typeByte % 11 + 1;
    const quint16 countRaw = in.u16();
    const int count = isWrite ? countRaw % 1024 + 1 : int(countRaw) + 1;
    int byteLength = int(AddressResolver::byteLength(type, count));
    FUZZ_CHECK(byteLength > 0 && byteLength <= 8 * 65536);

    QByteArray request;
    if (isLookup) {
        static const char *const names[] = {"MAIN.nCounter", "GVL.aTemps[3]", ".bRun",
                                            "Main.st.aMatrix[1,2].x"};
        const QByteArray data = SymbolEntry::lookupData(QString::fromLatin1(names[typeByte % 4]));
        byteLength = SymbolEntry::LookupReadLength;
        request = AdsFrame::readWriteRequest(netId(), kAmsPort, link.invokeId, SymbolEntry::LookupGroup, 0,
                                             quint32(byteLength), data);
        FUZZ_CHECK(request.size() == AdsFrame::ReadWriteRequestSize + data.size());
        FUZZ_CHECK(AdsFrame::commandOf(request) == AdsFrame::CmdReadWrite);
    } else if (isWrite) {
        request = AdsFrame::writeRequest(netId(), kAmsPort, link.invokeId, AddressResolver::AT_MByte, 0x10,
                                         QByteArray(), byteLength);
        FUZZ_CHECK(request.size() == AdsFrame::ReadRequestSize + byteLength);
    } else {
        request = AdsFrame::readRequest(netId(), kAmsPort, link.invokeId, AddressResolver::AT_MByte, 0x10,
                                        quint32(byteLength));
        FUZZ_CHECK(request.size() == AdsFrame::ReadRequestSize);
    }
    FUZZ_CHECK(AdsFrame::invokeIdOf(request) == link.invokeId);
    link.log.varName = QStringLiteral("MW10");
    link.log.byteLength = byteLength;

    // dropStaleBytes: what came in between exchanges is dropped.
    append(link, in.piece());
    discardStale(link);

    // SendData.
    link.ourId = quint16(AdsFrame::invokeIdOf(request));
    link.maxReply = AdsFrame::expectedReplySize(request);
    FUZZ_CHECK(link.maxReply
               == (isWrite ? AdsFrame::WriteReplySize : AdsFrame::ReadReplyHeaderSize + byteLength));
    link.framer.beginExchange(link.ourId, link.maxReply);
    link.sinkCalls = 0;
    link.replyState = ReplyFramer::NeedMore;
    link.exchanging = true;

    // The wait ends as soon as the frame is there; later pieces find the
    // exchange over.
    const int pieces = in.u8() % 16;
    QList<QByteArray> late;
    for (int i = 0; i < pieces; ++i) {
        const QByteArray piece = in.piece();
        if (link.replyState == ReplyFramer::NeedMore) {
            append(link, piece);
            collectReply(link);
        } else {
            late.append(piece);
        }
    }
    // Bytes the serial line still held back, or a read that came in while
    // the wait was ending: they join the buffer before the hand-over.
    if (ctl & 0x08) {
        append(link, in.piece());
        collectReply(link);
        checkHeldIsTail(link);
    }
    link.exchanging = false;

    AdsReplyCheck::Delivery delivery;
    QByteArray reply;
    const qint64 held = link.recvBuffer.size();
    if (link.replyState != ReplyFramer::NeedMore) {
        reply = link.recvBuffer.left(int(link.framer.frameSize()));
        delivery = link.replyState == ReplyFramer::FrameReady ? AdsReplyCheck::CompleteFrame
                                                              : AdsReplyCheck::Incomplete;
        link.recvBuffer.remove(0, reply.size());
        FUZZ_CHECK(reply.size() == link.framer.frameSize());
        if (delivery == AdsReplyCheck::CompleteFrame)
            FUZZ_CHECK(reply.size() <= link.maxReply);
    } else if (!link.recvBuffer.isEmpty()) {
        reply = link.recvBuffer;
        link.recvBuffer.clear();
        delivery = AdsReplyCheck::Incomplete;
        FUZZ_CHECK(reply.size() < qMax<qint64>(AdsFrame::HeaderSize, link.maxReply));
    } else {
        delivery = link.framer.strangers() > 0 ? AdsReplyCheck::OnlyStrangers : AdsReplyCheck::Nothing;
    }
    FUZZ_CHECK(reply.size() <= held);
    FUZZ_CHECK(link.framer.strangers() == link.sinkCalls);

    const AdsReplyCheck::Verdict verdict =
        isWrite ? checkWrite(link, delivery, request, reply)
                : checkRead(link, delivery, request, reply, type, count, byteLength);
    if (tracing()) {
        static const char *const deliveries[] = {"CompleteFrame", "Incomplete", "Nothing", "OnlyStrangers"};
        static const char *const verdicts[] = {"Accepted",  "NoReply",       "WrongLength",
                                               "ErrorCode", "WrongSequence", "StrangersOnly"};
        std::fprintf(stderr, "%s id %u type %d count %d: %d strangers, %s, reply %d bytes, %s\n",
                     isWrite    ? "write"
                     : isLookup ? "lookup"
                                : "read",
                     link.invokeId, type, count, link.framer.strangers(), deliveries[delivery],
                     int(reply.size()), verdicts[verdict]);
    }

    // Pieces that arrive with no exchange running are dropped on arrival.
    if (ctl & 0x04)
        late.append(in.piece());
    for (const QByteArray &piece : late) {
        append(link, piece);
        collectReply(link);
    }
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
    const int exchanges = in.u8() % 4 + 1;
    for (int i = 0; i < exchanges; ++i)
        exchange(link, in);
    return 0;
}
