// The reply path of the link without a socket. A connection is a run of
// exchanges; each sends a read, a write or a symbol lookup (read-write)
// request built as Read_area, Write_area and ReadWrite_area build it, then
// lets bytes "arrive" in the pieces the input cuts, through the exchange
// engine as CmdBeckhoff_ADS drives it, then the reply checks, and for an
// accepted read the decoder Read_data uses, for an accepted lookup the entry
// parser. After every exchange, whatever it met, an honest reply to the
// next request must be found: the stream never falls out of step.
//
// Input layout (ByteReader: little-endian, zero past the end):
//   u32 first invoke id, u8 exchanges (low two bits + 1), then per exchange
//   u8 ctl    bits0-1 0 read, 1 write, 2 lookup, 3 read; bit2 one more
//             piece after the exchange; bit3 the request echoed first;
//             bit4 reconnect first; bits5-7 ids taken by requests that
//             were refused
//   u8 type   (% 11) + 1; for a lookup it picks the name
//   u16 count reads: + 1 (replies up to 46 + 8 * 65536 bytes, < 1 MB);
//             writes: % 1024 + 1 (the reply is 42 bytes whatever the count);
//             lookups: unused, they ask for up to 0xFFFF bytes
//   piece     bytes that arrived while no exchange ran
//   u8 n      (% 16) pieces that arrive during the exchange
//   pieces    each u16 length + bytes
#include "driver/AddressResolver.h"
#include "driver/ValueCodec.h"
#include "fuzz/FuzzSupport.h"
#include "link/AdsExchange.h"
#include "link/AdsFrame.h"
#include "link/AdsLog.h"
#include "link/AdsReplyCheck.h"
#include "link/SymbolEntry.h"
#include "link/WireBytes.h"

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
const int kAmsPort = 851;

QByteArray netId()
{
    static const QByteArray id = AdsFrame::targetNetId(QStringLiteral("192.168.0.10"));
    return id;
}

struct Link {
    AdsExchange engine;
    quint32 invokeId = 0;
    AdsLog::Context log;
    qint64 now = 0;
};

// A reply to `request` as an honest controller sends it.
QByteArray honestReply(const QByteArray &request)
{
    const bool isWrite = AdsFrame::commandOf(request) == AdsFrame::CmdWrite;
    const qint64 n = isWrite ? 0 : qMin<qint64>(le32(request.constData() + AdsFrame::OffRequestLength), 64);
    QByteArray r(AdsFrame::HeaderSize + (isWrite ? 4 : 8 + int(n)), '\0');
    char *p = r.data();
    WireBytes::putLe32(p + 2, quint32(r.size() - AdsFrame::TcpHeaderSize));
    std::memcpy(p + 6, request.constData() + 14, 8);
    std::memcpy(p + 14, request.constData() + 6, 8);
    std::memcpy(p + 22, request.constData() + 22, 2);
    WireBytes::putLe16(p + 24, 0x0005);
    WireBytes::putLe32(p + 26, quint32(r.size() - AdsFrame::HeaderSize));
    std::memcpy(p + 34, request.constData() + 34, 4);
    if (!isWrite)
        WireBytes::putLe32(p + 42, quint32(n));
    return r;
}

// Whatever the stream held or still owes, the reply to a fresh request is
// found when it arrives whole.
void checkInStep(const Link &link)
{
    AdsExchange probe = link.engine;
    const QByteArray request =
        AdsFrame::readRequest(netId(), kAmsPort, link.invokeId + 1, AddressResolver::AT_MByte, 0, 4);
    const QByteArray reply = honestReply(request);
    probe.begin(request, link.now, 2050);
    probe.append(reply.constData(), reply.size());
    FUZZ_CHECK(probe.advance(link.now, nullptr) == AdsExchange::Replied);
    FUZZ_CHECK(probe.takeReply() == reply);
}

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

void feed(Link &link, const QByteArray &piece, QByteArray *arrived)
{
    arrived->append(piece);
    const size_t held = size_t(link.engine.buffered() + piece.size());
    link.engine.append(piece.constData(), piece.size());
    AllocationWatch watch;
    link.engine.advance(link.now, [&](AdsExchange::Skipped kind, const QByteArray &bytes, qint64 size) {
        AllocationPause pause;
        FUZZ_CHECK(bytes.size() <= size && arrived->contains(bytes));
        const QString line = kind == AdsExchange::Stranger ? AdsLog::wrongSequence(link.log, bytes, size)
                                                           : AdsLog::wrongLength(link.log, bytes, size);
        FUZZ_CHECK(line.size() <= 600 + 2 * AdsLog::kWarningBytes);
    });
    // Looking at what arrived never allocates for what a frame announces:
    // at most a buffer grown (to twice at most) for bytes that are there, or
    // for the head of a noise run kept for its warning (which spans pieces).
    const size_t shown = 2 * size_t(AdsLog::kWarningBytes);
    FUZZ_CHECK(watch.largest() <= qMax(2 * held, shown) + kBlockSlack);
}

// ---------------------------------------------------------------- one exchange

void exchange(Link &link, ByteReader &in)
{
    const quint8 ctl = in.u8();
    const bool isWrite = (ctl & 0x03) == 1;
    const bool isLookup = (ctl & 0x03) == 2;
    if (ctl & 0x10)
        link.engine.reset(); // a new connect
    link.invokeId += 1 + (ctl >> 5);
    const quint8 typeByte = in.u8();
    const int type = typeByte % 11 + 1;
    const quint16 countRaw = in.u16();
    const int count = isWrite ? countRaw % 1024 + 1 : int(countRaw) + 1;
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
    const QByteArray stale = in.piece();
    link.engine.append(stale.constData(), stale.size());
    link.engine.dropStale();
    FUZZ_CHECK(link.engine.buffered() == 0);

    link.engine.begin(request, link.now, 2050);
    QByteArray arrived;
    if (ctl & 0x08)
        feed(link, request, &arrived); // an echoing line
    const int pieces = in.u8() % 16;
    QList<QByteArray> late;
    for (int i = 0; i < pieces; ++i) {
        const QByteArray piece = in.piece();
        if (link.engine.progress() == AdsExchange::Waiting)
            feed(link, piece, &arrived);
        else
            late.append(piece);
    }
    AdsExchange::Progress progress = link.engine.progress();
    if (progress == AdsExchange::Waiting) {
        link.now += 2050; // the deadline passes
        progress = link.engine.advance(link.now, nullptr);
    }
    const QByteArray reply = link.engine.takeReply();
    checkHandOver(progress, request, reply, arrived);
    checkReply(link, progress, request, reply, type, count, byteLength);
    if (tracing())
        std::fprintf(stderr, "%s id %u: progress %d, reply %d bytes\n",
                     isWrite    ? "write"
                     : isLookup ? "lookup"
                                : "read",
                     link.invokeId, int(progress), int(reply.size()));

    // Pieces that arrive with no exchange running are dropped on arrival.
    if (ctl & 0x04)
        late.append(in.piece());
    for (const QByteArray &piece : late) {
        link.engine.append(piece.constData(), piece.size());
        link.engine.dropStale();
    }
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
    const int exchanges = in.u8() % 4 + 1;
    for (int i = 0; i < exchanges; ++i)
        exchange(link, in);
    return 0;
}
