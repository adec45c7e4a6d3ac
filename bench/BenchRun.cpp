#include "bench/BenchRun.h"
#include "link/WireBytes.h"

#include "value/ElementType.h"

#include "bench/Measure.h"
#include "bench/NotifyRun.h"
#include "bench/PieceServer.h"
#include "bench/RawAds.h"
#include "host/PluginHandle.h"

#include <QFile>
#include <QList>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>

#include <csignal>
#include <malloc.h>
#include <unistd.h>

namespace {
const quint32 kGroupM = 0x4020;
// An INT by name over MW0, and the names that fill a driver's handles.
const char *const kByName = "MAIN.nValue";
const int kHandles = 4096;
const int kHandlesAt = 0x300000;
// The reply wait of the driver that disconnects from a frozen controller.
const int kFrozenReplyMs = 500;
const std::uint16_t kAmsPort = 851; // the driver's default target port
const int kDrivers = 200;
// The reply to a read of one int16 (48 bytes) in three pieces, 2 ms apart:
// the middle piece ends inside the AMS header.
const std::vector<std::size_t> kPieceCuts = {10, 30};
const int kPiecePauseUs = 2000;
// A serial reply that is complete by its announced length is handed over at
// once: the driver may add no more than this to the bare client's round trip.
const double kSerialSlackUs = 500;
// Hosts poll a serial controller at intervals far longer than the line's
// quiet gap, which the driver keeps as the turnaround before its next
// request (2 ms at 115200, 3 ms after 9600). Both clients keep this untimed
// quiet before each call, so a serial row measures the reply's hand-over and
// not that turnaround.
const std::chrono::microseconds kSerialIdle(4000);
// The simulated controller must serve an 800 KB read within this, so that
// the limit measures the client and not the simulator.
const double kSimServeUs = 1000;

// The driver logs "link lost" when it closes its own connection; while
// drivers are being disposed that line is expected and only noise.
std::atomic<bool> g_disposing{false};
QtMessageHandler g_previousHandler = nullptr;

void filterDriverLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!g_disposing && g_previousHandler)
        g_previousHandler(type, context, message);
}

struct DriverDeleter {
    void operator()(CDriveBaseClass *d) const
    {
        g_disposing = true;
        PluginHandle::dispose(d);
        g_disposing = false;
    }
};
using DriverPtr = std::unique_ptr<CDriveBaseClass, DriverDeleter>;

int widthOf(DataType type)
{
    int width = 0;
    withElementType(type, [&](auto tag) { width = int(sizeof(typename decltype(tag)::type)); });
    return width;
}

QString tcpText(quint16 port)
{
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

std::vector<char> doubleBytes(int count)
{
    std::vector<char> bytes(std::size_t(count) * 8);
    for (int k = 0; k < count; ++k) {
        const double v = BenchRun::patternAt(k);
        std::memcpy(bytes.data() + std::size_t(k) * 8, &v, 8); // this machine is little-endian, as ADS is
    }
    return bytes;
}

// What the heap has handed out and not had back: unlike the resident size,
// it does not depend on whether freed memory was there to reuse.
std::int64_t heapInUse()
{
    const struct mallinfo2 m = ::mallinfo2();
    return std::int64_t(m.uordblks + m.hblkhd);
}

std::int64_t residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().simplified().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * ::sysconf(_SC_PAGESIZE) : 0;
}
} // namespace

struct BenchRun::TcpCase {
    const char *key;
    const char *label;
    const char *address; // the driver's text for `offset` in the M area
    quint32 offset;
    DataType type;
    int count;
    bool write;
    int fullCalls;
    Bounds bounds;
    bool byName = false; // `address` is a name: the bare client reads it through a handle of its own
};

BenchRun::BenchRun(const BenchOptions &options, const PluginHandle &plugin, quint16 tcpPort,
                   const QString &ptyPath, qint64 simPid)
    : m_options(options), m_plugin(plugin), m_tcpPort(tcpPort), m_ptyPath(ptyPath), m_simPid(simPid)
{
}

QByteArray BenchRun::imageText()
{
    QByteArray text = QByteArray("symbol ") + kByName + " 4020 0 2 INT\n";
    for (int i = 0; i < kHandles; ++i)
        text +=
            QStringLiteral("symbol GVL.n%1 4020 %2 2 INT\n").arg(i).arg(kHandlesAt + 2 * i, 0, 16).toLatin1();
    return text;
}

bool BenchRun::fail(const QString &message)
{
    m_error = message;
    return false;
}

// Known values where the reads look, so that a read returning zeroes or the
// wrong place is caught before it is timed.
bool BenchRun::prefill()
{
    const int fd = RawAds::connectTcp("127.0.0.1", m_tcpPort);
    if (fd < 0)
        return fail(QStringLiteral("cannot connect to the simulated controller on port %1").arg(m_tcpPort));
    struct Fill {
        quint32 offset;
        std::vector<char> bytes;
    };
    std::vector<char> int16 = {char(0x34), char(0x12)};
    const Fill fills[] = {{0x0, int16}, {0x1000, doubleBytes(100)}, {0x100000, doubleBytes(100000)}};
    std::vector<char> reply;
    bool ok = true;
    std::uint32_t id = 0;
    for (const Fill &f : fills) {
        const auto request = RawAds::writeRequest(RawAds::NetId(), kAmsPort, ++id, kGroupM, f.offset,
                                                  f.bytes.data(), std::uint32_t(f.bytes.size()));
        ok = ok && RawAds::exchange(fd, request, reply) == long(AdsLayout::WriteReplySize)
             && WireBytes::le32(reply.data() + AdsLayout::OffAdsResult) == 0;
    }
    RawAds::closeFd(fd);
    return ok || fail(QStringLiteral("the simulated controller refused the starting values"));
}

namespace {
Bounds smallCallBounds()
{
    Bounds b;
    b.medianRatio = 1.15;
    b.cpuRatio = 1.4;
    return b;
}

// Besides the list the host receives, its QVariant and one more.
Bounds smallReadBounds()
{
    Bounds b = smallCallBounds();
    b.allocsPerCall = 3;
    return b;
}

Bounds largeReadBounds(int dataBytes)
{
    Bounds b;
    b.medianRatio = 1.3;
    b.cpuRatio = 3;
    b.dataBytes = dataBytes;
    return b;
}
} // namespace

bool BenchRun::run(Report *report)
{
    // In this order: the 800 KB read comes after small calls, as in a host's
    // mixed traffic.
    const TcpCase cases[] = {
        {"read_int16_1", "read 1 int16", "MW0", 0x0, DT_Int16, 1, false, 20000, smallReadBounds()},
        {"read_int16_by_name_1", "read 1 int16 by name", kByName, 0x0, DT_Int16, 1, false, 20000,
         smallReadBounds(), true},
        {"read_double_100", "read 100 double", "MB1000", 0x1000, DT_Double, 100, false, 20000, Bounds()},
        {"read_double_100000", "read 100000 double (800 KB)", "MB100000", 0x100000, DT_Double, 100000, false,
         1000, largeReadBounds(800000)},
        {"write_int32_1", "write 1 int32", "MW20", 0x20, DT_Int32, 1, true, 20000, smallCallBounds()},
        {"write_double_1000", "write 1000 double", "MB2000", 0x2000, DT_Double, 1000, true, 20000, Bounds()},
    };
    if (!g_previousHandler)
        g_previousHandler = qInstallMessageHandler(filterDriverLog);
    if (!prefill())
        return false;
    // Many drivers first, while the heap holds little that new drivers could
    // reuse without it showing in the resident size.
    if (m_options.wants(QStringLiteral("scale")) && !measureScale(&report->scale))
        return false;
    if (Measure::interrupted)
        return true;

    DriverPtr driver(m_plugin.create());
    if (!driver)
        return fail(QStringLiteral("the plug-in gave no driver"));
    const int rc = driver->ConnectDrive(tcpText(m_tcpPort));
    if (rc != 0)
        return fail(QStringLiteral("ConnectDrive(%1) answered %2").arg(tcpText(m_tcpPort)).arg(rc));
    const int rawFd = RawAds::connectTcp("127.0.0.1", m_tcpPort);
    if (rawFd < 0)
        return fail(QStringLiteral("the bare client cannot connect"));
    bool ok = true;
    for (const TcpCase &c : cases) {
        if (!m_options.wants(QString::fromLatin1(c.key)))
            continue;
        Row row;
        ok = measureTcp(c, driver.get(), rawFd, &row);
        if (!ok || Measure::interrupted)
            break;
        report->rows.append(row);
    }
    RawAds::closeFd(rawFd);
    driver.reset();
    if (!ok || Measure::interrupted)
        return ok;

    for (auto measure :
         {&BenchRun::measureSimulator, &BenchRun::measurePieces, &BenchRun::measureFrozenDisconnect}) {
        Row row;
        if (!(this->*measure)(&row))
            return false;
        if (row.inRun.valid())
            report->rows.append(row);
        if (Measure::interrupted)
            return true;
    }
    return measureSerial(report);
}

bool BenchRun::measureTcp(const TcpCase &c, CDriveBaseClass *driver, int rawFd, Row *row)
{
    const int calls = m_options.callsFor(c.fullCalls);
    const int warmup = Measure::warmupFor(calls);
    const QString address = QString::fromLatin1(c.address);
    const std::uint32_t bytes = std::uint32_t(widthOf(c.type) * c.count);
    row->key = QString::fromLatin1(c.key);
    row->label = QString::fromLatin1(c.label);
    row->path = QStringLiteral("tcp");
    row->bounds = c.bounds;

    // The same request bytes the driver sends, from the bare client.
    CLabelVariable value;
    std::vector<char> request;
    std::vector<char> data;
    if (c.write) {
        if (c.type == DT_Int32) {
            value.value = QVariant::fromValue(QList<int>{0x12345678});
            data = {char(0x78), char(0x56), char(0x34), char(0x12)};
        } else {
            QList<double> list;
            list.reserve(c.count);
            for (int k = 0; k < c.count; ++k)
                list.append(patternAt(k));
            value.value = QVariant::fromValue(list);
            data = doubleBytes(c.count);
        }
        request = RawAds::writeRequest(RawAds::NetId(), kAmsPort, 0, kGroupM, c.offset, data.data(), bytes);
    } else {
        request = RawAds::readRequest(RawAds::NetId(), kAmsPort, 0, kGroupM, c.offset, bytes);
    }
    std::vector<char> reply(AdsLayout::ReadReplyHeaderSize + bytes);
    std::uint32_t id = 0;
    if (c.byName) {
        // The same read through a handle the bare client asked for itself:
        // handles belong to the connection that obtained them.
        const QByteArray name = QByteArray(c.address) + '\0';
        const auto ask =
            RawAds::readWriteRequest(RawAds::NetId(), kAmsPort, ++id, AdsLayout::GroupSymbolHandleByName, 0,
                                     4, name.constData(), std::uint32_t(name.size()));
        if (RawAds::exchange(rawFd, ask, reply) != long(AdsLayout::ReadReplyHeaderSize + 4)
            || WireBytes::le32(reply.data() + AdsLayout::OffAdsResult) != 0)
            return fail(QStringLiteral("%1: the simulated controller gave the bare client no handle")
                            .arg(row->label));
        const std::uint32_t handle = WireBytes::le32(reply.data() + AdsLayout::OffReadData);
        request = RawAds::readRequest(RawAds::NetId(), kAmsPort, 0, AdsLayout::GroupSymbolValueByHandle,
                                      handle, bytes);
    }
    auto limitCall = [&]() {
        RawAds::setInvokeId(request, ++id);
        return RawAds::exchange(rawFd, request, reply) > 0;
    };

    // One checked call first: a driver that reads the wrong bytes is not timed.
    if (c.write) {
        const CLabelVariable w = driver->WriteVariable(address, c.type, value, c.count);
        if (w.resultCode != 0)
            return fail(QStringLiteral("%1: the driver answered %2").arg(row->label).arg(w.resultCode));
    } else {
        const CLabelVariable r = driver->ReadVariable(address, c.type, c.count);
        bool same = r.resultCode == 0;
        if (same && c.type == DT_Int16) {
            same = r.value.value<QList<short>>() == QList<short>{0x1234};
        } else if (same) {
            const QList<double> got = r.value.value<QList<double>>();
            same =
                got.size() == c.count && got.first() == patternAt(0) && got.last() == patternAt(c.count - 1);
        }
        if (!same)
            return fail(QStringLiteral("%1: the driver answered %2 with other values than were written")
                            .arg(row->label)
                            .arg(r.resultCode));
    }
    StateFigures &here = row->inRun;
    if (c.write) {
        Measure::runPair(
            calls, warmup, limitCall,
            [&]() { return driver->WriteVariable(address, c.type, value, c.count).resultCode == 0; },
            &here.limit, &here.driver);
    } else {
        Measure::runPair(
            calls, warmup, limitCall,
            [&]() { return driver->ReadVariable(address, c.type, c.count).resultCode == 0; }, &here.limit,
            &here.driver);
    }
    return true;
}

// The bare client alone reads 800 KB from the simulated controller: how
// long the simulator takes to serve it, from the request sent to the first
// byte of the reply and to the last.
bool BenchRun::measureSimulator(Row *row)
{
    row->key = QStringLiteral("sim_read_double_100000");
    if (!m_options.wants(row->key))
        return true;
    row->label = QStringLiteral("simulator serves 800 KB");
    row->path = QStringLiteral("sim");
    row->bounds.limitMedianUs = kSimServeUs;
    const int calls = m_options.callsFor(1000);
    const int warmup = Measure::warmupFor(calls);
    const std::uint32_t bytes = 800000;

    const int fd = RawAds::connectTcp("127.0.0.1", m_tcpPort);
    if (fd < 0)
        return fail(QStringLiteral("the bare client cannot connect"));
    auto request = RawAds::readRequest(RawAds::NetId(), kAmsPort, 0, kGroupM, 0x100000, bytes);
    std::vector<char> reply(AdsLayout::ReadReplyHeaderSize + bytes);
    std::vector<double> firstUs;
    firstUs.reserve(std::size_t(calls + warmup));
    std::uint32_t id = 0;
    row->inRun.limit = Measure::run(calls, warmup, [&]() {
        RawAds::setInvokeId(request, ++id);
        Measure::Clock::time_point first;
        const Measure::Clock::time_point sent = Measure::Clock::now();
        const bool ok = RawAds::exchange(fd, request, reply, &first) > 0;
        firstUs.push_back(std::chrono::duration<double, std::micro>(first - sent).count());
        return ok;
    });
    RawAds::closeFd(fd);
    firstUs.erase(firstUs.begin(), firstUs.begin() + std::min<std::ptrdiff_t>(warmup, firstUs.size()));
    Figures &first = row->inRun.firstByte;
    first = Samples::summarize(firstUs, 0, 0, 0, 0);
    first.cpuUsPerCall = first.allocsPerCall = first.largestAllocBytes = first.otherAllocBytesPerCall = NAN;
    return true;
}

// The reply to each read comes in pieces from a stand-in controller; the
// bare client shows when the last piece arrives.
// A driver holding 4096 handles disconnects from a controller that hangs
// with its connection open: the handles' releases stop at the first reply
// that does not come, and the whole call takes the reply wait and little
// more. Each call first fills the driver's handles anew.
bool BenchRun::measureFrozenDisconnect(Row *row)
{
    row->key = QStringLiteral("disconnect_4096_handles_frozen");
    if (!m_options.wants(row->key))
        return true;
    row->label = QStringLiteral("disconnect, 4096 handles, frozen");
    row->path = QStringLiteral("tcp");
    row->bounds.driverMedianUs = (kFrozenReplyMs + 100) * 1000.0;
    // A quick run only shows that it works: one call, with fewer handles.
    const int calls = m_options.quick ? 1 : 5;
    const int handles = m_options.quick ? kHandles / 16 : kHandles;
    Measure::Recorder recorder(calls);
    const auto deadline = Measure::Clock::now() + Measure::kMaxDuration;
    for (int i = 0; i < calls && !Measure::interrupted; ++i) {
        DriverPtr driver(m_plugin.create());
        if (!driver || driver->ConnectDrive(tcpText(m_tcpPort)) != 0
            || driver->SetConnectPar(QStringLiteral("851;reply-ms=%1").arg(kFrozenReplyMs)) != kAmsPort)
            return fail(QStringLiteral("%1: the driver did not connect").arg(row->label));
        for (int n = 0; n < handles; ++n) {
            if (driver->ReadVariable(QStringLiteral("GVL.n%1").arg(n), DT_Int16).resultCode != 0)
                return fail(QStringLiteral("%1: GVL.n%2 was not read").arg(row->label).arg(n));
        }
        ::kill(pid_t(m_simPid), SIGSTOP);
        recorder.block(1, deadline, [&]() { return driver->DisConnectDrive() == 0; });
        ::kill(pid_t(m_simPid), SIGCONT);
    }
    row->inRun.driver = recorder.figures();
    return true;
}

bool BenchRun::measurePieces(Row *row)
{
    row->key = QStringLiteral("read_int16_1_in_pieces");
    if (!m_options.wants(row->key))
        return true;
    row->label = QStringLiteral("read 1 int16 in 3 pieces");
    row->path = QStringLiteral("tcp");
    PieceServer server;
    if (!server.start(kPieceCuts, kPiecePauseUs))
        return fail(QStringLiteral("cannot listen on 127.0.0.1 for the reply-in-pieces server"));
    const int calls = m_options.callsFor(500);
    const int warmup = Measure::warmupFor(calls);

    const int fd = RawAds::connectTcp("127.0.0.1", server.port());
    if (fd < 0)
        return fail(QStringLiteral("the bare client cannot reach the reply-in-pieces server"));
    DriverPtr driver(m_plugin.create());
    const int rc = driver ? driver->ConnectDrive(tcpText(server.port())) : -99;
    if (rc != 0) {
        RawAds::closeFd(fd);
        return fail(QStringLiteral("ConnectDrive to the reply-in-pieces server answered %1").arg(rc));
    }
    auto request = RawAds::readRequest(RawAds::NetId(), kAmsPort, 0, kGroupM, 0, 2);
    std::vector<char> reply(AdsLayout::ReadReplyHeaderSize + 2);
    std::uint32_t id = 0;
    const QString address = QStringLiteral("MW0");
    Measure::runPair(
        calls, warmup,
        [&]() {
            RawAds::setInvokeId(request, ++id);
            return RawAds::exchange(fd, request, reply) > 0;
        },
        [&]() { return driver->ReadVariable(address, DT_Int16, 1).resultCode == 0; }, &row->inRun.limit,
        &row->inRun.driver);
    RawAds::closeFd(fd);
    driver.reset();
    server.stop();
    return true;
}

// The pseudo-terminal carries no baud rate: a reply is there at once. The
// bare client shares the terminal with the driver, opened before it (the
// driver's port then takes no exclusive hold on it first), and the two take
// turns as on TCP.
bool BenchRun::measureSerial(Report *report)
{
    struct Line {
        const char *key;
        const char *label;
        int baud;
    };
    // The last line reconnects the same driver at 115200 after 9600: the
    // longer quiet gap of the slow rate stays with the link, as its hosts
    // know it, and must still not reach the reply's hand-over.
    const Line lines[] = {
        {"serial_115200_read_int16_1", "serial 115200 read 1 int16", 115200},
        {"serial_9600_read_int16_1", "serial 9600 read 1 int16", 9600},
        {"serial_115200_again_read_int16_1", "serial 115200 after 9600", 115200},
    };
    bool any = false;
    for (const Line &line : lines)
        any = any || m_options.wants(QString::fromLatin1(line.key));
    if (!any)
        return true;

    const int calls = m_options.callsFor(1000);
    const int warmup = Measure::warmupFor(calls);
    const QByteArray ptyPath = QFile::encodeName(m_ptyPath);

    const int fd = RawAds::openSerial(ptyPath.constData());
    if (fd < 0)
        return fail(QStringLiteral("cannot open %1").arg(m_ptyPath));
    auto request = RawAds::readRequest(RawAds::NetId(), kAmsPort, 0, kGroupM, 0, 2);
    std::vector<char> reply(AdsLayout::ReadReplyHeaderSize + 2);
    std::uint32_t id = 0;
    auto bareCall = [&]() {
        RawAds::setInvokeId(request, ++id);
        return RawAds::exchangeOnTerminal(fd, request, reply) > 0;
    };

    DriverPtr driver(m_plugin.create());
    if (!driver) {
        RawAds::closeFd(fd);
        return fail(QStringLiteral("the plug-in gave no driver"));
    }
    const QString address = QStringLiteral("MW0");
    auto driverCall = [&]() { return driver->ReadVariable(address, DT_Int16, 1).resultCode == 0; };
    for (const Line &line : lines) {
        const QString text = QStringLiteral("%1,%2,8,1,N").arg(m_ptyPath).arg(line.baud);
        const int rc = driver->ConnectDrive(text);
        if (rc != 0) {
            RawAds::closeFd(fd);
            return fail(QStringLiteral("ConnectDrive(%1) answered %2").arg(text).arg(rc));
        }
        if (!m_options.wants(QString::fromLatin1(line.key)))
            continue; // connected all the same: a later line depends on the rate before it
        Row row;
        row.key = QString::fromLatin1(line.key);
        row.label = QString::fromLatin1(line.label);
        row.path = QStringLiteral("serial");
        row.bounds.overLimitUs = kSerialSlackUs;
        Measure::runPair(calls, warmup, bareCall, driverCall, &row.inRun.limit, &row.inRun.driver,
                         kSerialIdle);
        report->rows.append(row);
        if (Measure::interrupted)
            break;
    }
    driver->DisConnectDrive();
    RawAds::closeFd(fd);
    return true;
}

bool BenchRun::measureScale(Scale *scale)
{
    scale->drivers = kDrivers;
    std::vector<DriverPtr> drivers;
    drivers.reserve(kDrivers);
    const QString text = tcpText(m_tcpPort);
    const std::int64_t before = residentBytes();
    const std::int64_t heapBefore = heapInUse();
    for (int i = 0; i < kDrivers && !Measure::interrupted; ++i) {
        drivers.emplace_back(m_plugin.create());
        if (drivers.back() && drivers.back()->ConnectDrive(text) == 0)
            ++scale->connected;
    }
    const std::int64_t after = residentBytes();
    scale->rssBytesPerDriver = double(after - before) / kDrivers;
    scale->heapBytesPerDriver = double(heapInUse() - heapBefore) / kDrivers;
    if (scale->connected < kDrivers)
        return fail(QStringLiteral("only %1 of %2 drivers connected").arg(scale->connected).arg(kDrivers));

    const QString address = QStringLiteral("MW0");
    std::size_t next = 0;
    auto readNext = [&]() {
        CDriveBaseClass *d = drivers[next].get();
        next = (next + 1) % drivers.size();
        return d->ReadVariable(address, DT_Int16, 1).resultCode == 0;
    };
    // One read each first: the warm-up goes round every driver once.
    for (int i = 0; i < kDrivers; ++i)
        readNext();
    scale->rssBytesPerDriverAfterReads = double(residentBytes() - before) / kDrivers;
    scale->reads = Measure::run(m_options.scaleRounds() * kDrivers, 0, readNext);
    drivers.clear();
    return true;
}

QStringList BenchRun::knownKeys()
{
    return QStringList{QStringLiteral("read_int16_1"),
                       QStringLiteral("read_int16_by_name_1"),
                       QStringLiteral("read_double_100"),
                       QStringLiteral("read_double_100000"),
                       QStringLiteral("write_int32_1"),
                       QStringLiteral("write_double_1000"),
                       QStringLiteral("sim_read_double_100000"),
                       QStringLiteral("read_int16_1_in_pieces"),
                       QStringLiteral("disconnect_4096_handles_frozen"),
                       QStringLiteral("serial_115200_read_int16_1"),
                       QStringLiteral("serial_9600_read_int16_1"),
                       QStringLiteral("serial_115200_again_read_int16_1"),
                       QStringLiteral("scale")}
           + NotifyRun::keys();
}
