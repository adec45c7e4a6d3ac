// The benchmark's own parts, and a short run of the whole program. Nothing
// here asserts a speed: timings belong to the benchmark's figures.
#include "bench/BenchOptions.h"
#include "bench/BenchReport.h"
#include "bench/BenchRun.h"
#include "bench/MallocCount.h"
#include "bench/Measure.h"
#include "bench/PieceServer.h"
#include "bench/RawAds.h"
#include "bench/Samples.h"
#include "bench/SimProcess.h"
#include "link/AdsFrame.h"
#include "link/WireBytes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace {
QByteArray bytesOf(const std::vector<char> &v)
{
    return QByteArray(v.data(), int(v.size()));
}

// Through a volatile pointer, so the compiler cannot drop the pair.
void *(*volatile g_malloc)(size_t) = std::malloc;

Figures figures(double median, double p99)
{
    Figures f;
    f.calls = 10;
    f.medianUs = median;
    f.p99Us = p99;
    return f;
}

Row tcpRow(const QString &label, double driverMedian, double limitMedian, double bound)
{
    Row r;
    r.key = label;
    r.label = label;
    r.path = QStringLiteral("tcp");
    r.driver = figures(driverMedian, driverMedian * 2);
    r.limit = figures(limitMedian, limitMedian * 2);
    r.goal = Row::RatioGoal;
    r.bound = bound;
    return r;
}

const GoalResult *goalNamed(const Report &report, const QString &start)
{
    for (const GoalResult &g : report.goals)
        if (g.name.startsWith(start))
            return &g;
    return nullptr;
}
} // namespace

class TestBench : public QObject
{
    Q_OBJECT
private slots:
    void medianOfOddAndEvenCounts();
    void percentileIsNearestRank();
    void summaryPerCallFigures();
    void readRequestMatchesDriverFrame();
    void writeRequestMatchesDriverFrame();
    void exchangeAssemblesReplyInPieces();
    void exchangeFailsOnClosedPeer();
    void piecesServeTwoPeersAndWrites();
    void mallocCountedOnlyWhileOn();
    void mallocCountSeesSharedLibraries();
    void alignedAllocationsRespectAlignment();
    void pairAlternatesBlocksAndKeepsSidesApart();
    void optionsParse();
    void optionsRefuseBadInput();
    void simLinesParse();
    void simProcessRefusesWhatIsNotTheSimulator();
    void simProcessStartsAndStops();
    void goalsHoldAndMiss();
    void stepAndGapGoals();
    void jsonHasNoNonFiniteNumbers();
    void tableAndFailureCount();
    void quickRunWritesValidJson();
};

void TestBench::medianOfOddAndEvenCounts()
{
    QCOMPARE(Samples::median({5, 1, 3}), 3.0);
    QCOMPARE(Samples::median({4, 1, 3, 2}), 2.5);
    QCOMPARE(Samples::median({}), 0.0);
}

void TestBench::percentileIsNearestRank()
{
    std::vector<double> v;
    for (int i = 1000; i >= 1; --i)
        v.push_back(i);
    QCOMPARE(Samples::percentile(v, 99), 990.0);
    QCOMPARE(Samples::percentile(v, 100), 1000.0);
    QCOMPARE(Samples::percentile({7}, 99), 7.0);
    // With fewer than 100 samples the 99th percentile is the largest.
    QCOMPARE(Samples::percentile({1, 2, 3, 50}, 99), 50.0);
    QCOMPARE(Samples::percentile({}, 99), 0.0);
}

void TestBench::summaryPerCallFigures()
{
    const Figures f = Samples::summarize({10, 20, 30, 40}, 1, 200000, 80, 6);
    QCOMPARE(f.calls, 4);
    QCOMPARE(f.failures, 1);
    QCOMPARE(f.medianUs, 25.0);
    QCOMPARE(f.maxUs, 40.0);
    QCOMPARE(f.callsPerSecond, 20.0); // 4 calls in 0.2 s
    QCOMPARE(f.cpuUsPerCall, 20.0);
    QCOMPARE(f.allocsPerCall, 1.5);
    QVERIFY(!Samples::summarize({}, 0, 0, 0, 0).valid());
}

void TestBench::readRequestMatchesDriverFrame()
{
    const QByteArray netId = AdsFrame::targetNetId(QStringLiteral("127.0.0.1"));
    const std::uint32_t ids[] = {1, 0x10203, 0xfffffffe};
    for (std::uint32_t id : ids) {
        auto raw = RawAds::readRequest(RawAds::NetId(), 851, 0, 0x4020, 0x100000, 800000);
        RawAds::setInvokeId(raw, id);
        QCOMPARE(bytesOf(raw), AdsFrame::readRequest(netId, 851, id, 0x4020, 0x100000, 800000));
    }
}

void TestBench::writeRequestMatchesDriverFrame()
{
    const QByteArray netId = AdsFrame::targetNetId(QStringLiteral("127.0.0.1"));
    const QByteArray data = QByteArray::fromHex("78563412a1b2c3");
    const auto raw = RawAds::writeRequest(RawAds::NetId(), 851, 77, 0x4020, 0x20, data.constData(), 7);
    QCOMPARE(bytesOf(raw), AdsFrame::writeRequest(netId, 851, 77, 0x4020, 0x20, data, 7));
    QCOMPARE(raw.size(), std::size_t(57));
}

void TestBench::exchangeAssemblesReplyInPieces()
{
    PieceServer server;
    QVERIFY(server.start({3, 10, 40}, 1000));
    const int fd = RawAds::connectTcp("127.0.0.1", server.port());
    QVERIFY(fd >= 0);
    auto request = RawAds::readRequest(RawAds::NetId(), 851, 0, 0x4020, 0, 16);
    std::vector<char> reply;
    for (std::uint32_t id = 41; id < 44; ++id) {
        RawAds::setInvokeId(request, id);
        QCOMPARE(RawAds::exchange(fd, request, reply), long(AdsLayout::ReadReplyHeaderSize + 16));
        QCOMPARE(WireBytes::le32(reply.data() + AdsLayout::OffInvokeId), id); // the request's invoke id
        QCOMPARE(WireBytes::le32(reply.data() + AdsLayout::OffReadLength), 16u); // the length asked
        QCOMPARE(QByteArray(reply.data() + 22, 2), QByteArray("\x02\x00", 2)); // a read's reply
    }
    RawAds::closeFd(fd);
    QCOMPARE(server.served(), std::uint64_t(3));
    server.stop();
    server.stop(); // twice is harmless
}

void TestBench::exchangeFailsOnClosedPeer()
{
    PieceServer server;
    QVERIFY(server.start({}, 0));
    const int fd = RawAds::connectTcp("127.0.0.1", server.port());
    QVERIFY(fd >= 0);
    server.stop(); // the peer's socket closes
    std::vector<char> reply;
    const auto request = RawAds::readRequest(RawAds::NetId(), 851, 1, 0x4020, 0, 2);
    QCOMPARE(RawAds::exchange(fd, request, reply), -1L);
    RawAds::closeFd(fd);
    QCOMPARE(RawAds::connectTcp("not an address", 1), -1);
    QCOMPARE(RawAds::exchange(-1, request, reply), -1L);
}

void TestBench::piecesServeTwoPeersAndWrites()
{
    PieceServer server;
    QVERIFY(server.start({20}, 0));
    const int a = RawAds::connectTcp("127.0.0.1", server.port());
    const int b = RawAds::connectTcp("127.0.0.1", server.port());
    QVERIFY(a >= 0 && b >= 0);
    std::vector<char> reply;
    const char data[3] = {1, 2, 3};
    for (std::uint32_t id = 1; id <= 4; ++id) {
        // Each peer's requests are answered on its own connection, in turn.
        const int fd = id % 2 ? a : b;
        const auto write = RawAds::writeRequest(RawAds::NetId(), 851, id, 0x4020, 0, data, 3);
        QCOMPARE(RawAds::exchange(fd, write, reply), long(AdsLayout::WriteReplySize));
        QCOMPARE(WireBytes::le32(reply.data() + AdsLayout::OffInvokeId), id);
        QCOMPARE(WireBytes::le32(reply.data() + AdsLayout::OffAdsResult), 0u); // the write's result: success
    }
    const auto empty = RawAds::writeRequest(RawAds::NetId(), 851, 9, 0x4020, 0, nullptr, 0);
    QCOMPARE(empty.size(), std::size_t(AdsLayout::ReadRequestSize));
    QCOMPARE(RawAds::exchange(a, empty, reply), long(AdsLayout::WriteReplySize));
    RawAds::closeFd(a);
    RawAds::closeFd(b);
    QCOMPARE(server.served(), std::uint64_t(5));
}

void TestBench::mallocCountedOnlyWhileOn()
{
    if (!MallocCount::available())
        QSKIP("a sanitizer build: its own malloc is in charge");
    MallocCount::reset();
    void *outside = g_malloc(64);
    QCOMPARE(MallocCount::count(), std::uint64_t(0));
    MallocCount::start();
    void *a = g_malloc(64);
    void *b = std::calloc(4, 16);
    void *c = std::realloc(a, 4096);
    MallocCount::stop();
    void *later = g_malloc(64);
    QCOMPARE(MallocCount::count(), std::uint64_t(3));
    std::free(c);
    std::free(b);
    std::free(outside);
    std::free(later);
    QCOMPARE(MallocCount::count(), std::uint64_t(3)); // freeing is not allocating
}

void TestBench::mallocCountSeesSharedLibraries()
{
    if (!MallocCount::available())
        QSKIP("a sanitizer build: its own malloc is in charge");
    // Qt's allocations happen inside libQt5Core: they are counted only if
    // the program's malloc is the one that library binds to.
    MallocCount::reset();
    MallocCount::start();
    QByteArray bytes(100000, 'x');
    MallocCount::stop();
    QVERIFY(MallocCount::count() >= 1);
    QCOMPARE(bytes.size(), 100000);
}

void TestBench::alignedAllocationsRespectAlignment()
{
    if (!MallocCount::available())
        QSKIP("a sanitizer build: its own malloc is in charge");
    void *p = nullptr;
    QCOMPARE(posix_memalign(&p, 256, 100), 0);
    QVERIFY(p);
    QCOMPARE(reinterpret_cast<quintptr>(p) % 256, quintptr(0));
    std::free(p);
    void *untouched = reinterpret_cast<void *>(quintptr(1));
    QCOMPARE(posix_memalign(&untouched, 24, 100), EINVAL); // not a power of two
    QCOMPARE(untouched, reinterpret_cast<void *>(quintptr(1)));
    void *q = aligned_alloc(64, 128);
    QVERIFY(q);
    QCOMPARE(reinterpret_cast<quintptr>(q) % 64, quintptr(0));
    std::free(q);
}

void TestBench::pairAlternatesBlocksAndKeepsSidesApart()
{
    QString order;
    order.reserve(200); // the record itself must not allocate inside the calls
    int limitCalls = 0;
    int driverCalls = 0;
    Figures limit;
    Figures driver;
    Measure::runPair(
        25, 2,
        [&]() {
            order += QLatin1Char('l');
            ++limitCalls;
            return true;
        },
        [&]() {
            order += QLatin1Char('d');
            ++driverCalls;
            std::free(g_malloc(16));
            std::free(g_malloc(16));
            return driverCalls % 5 != 0; // every fifth call fails
        },
        &limit, &driver);
    QCOMPARE(limitCalls, 27); // 2 warm-up calls each, then 25
    QCOMPARE(driverCalls, 27);
    QCOMPARE(limit.calls, 25);
    QCOMPARE(driver.calls, 25);
    if (MallocCount::available()) {
        QCOMPARE(limit.allocsPerCall, 0.0);
        QCOMPARE(driver.allocsPerCall, 2.0);
    }
    QCOMPARE(limit.failures, 0);
    QCOMPARE(driver.failures, 5); // calls 5, 10, ... 25 of the 27
    // Warm-up in turns, then ten blocks: the first five of three calls, the rest of two.
    QVERIFY(order.startsWith(QStringLiteral("ldld") + QStringLiteral("lll") + QStringLiteral("ddd")));
    QVERIFY(order.endsWith(QStringLiteral("llddlldd")));
}

void TestBench::optionsParse()
{
    BenchOptions o = BenchOptions::parse({});
    QVERIFY(o.error.isEmpty());
    QCOMPARE(o.callsFor(5000), 5000);
    QVERIFY(o.callsFor(5000) > BenchOptions::parse({QStringLiteral("--quick")}).callsFor(5000));
    QCOMPARE(o.scaleRounds(), 50);

    o = BenchOptions::parse({QStringLiteral("--iterations"), QStringLiteral("7"), QStringLiteral("--json"),
                             QStringLiteral("out.json"), QStringLiteral("--plugin"), QStringLiteral("p.so"),
                             QStringLiteral("--sim"), QStringLiteral("sim")});
    QVERIFY(o.error.isEmpty());
    QCOMPARE(o.callsFor(5000), 7);
    QCOMPARE(o.callsFor(3), 7); // as asked, whatever the default
    QCOMPARE(o.jsonPath, QStringLiteral("out.json"));
    QCOMPARE(o.pluginPath, QStringLiteral("p.so"));
    QCOMPARE(o.simPath, QStringLiteral("sim"));
    QCOMPARE(o.scaleRounds(), 1);
    QVERIFY(BenchOptions::parse({QStringLiteral("--help")}).help);
    QVERIFY(o.wants(QStringLiteral("scale")));
    o = BenchOptions::parse({QStringLiteral("--only"), QStringLiteral("read_int16_1")});
    QVERIFY(o.wants(QStringLiteral("read_int16_1")));
    QVERIFY(!o.wants(QStringLiteral("scale")));
}

void TestBench::optionsRefuseBadInput()
{
    QVERIFY(!BenchOptions::parse({QStringLiteral("--iterations")}).error.isEmpty());
    QVERIFY(!BenchOptions::parse({QStringLiteral("--iterations"), QStringLiteral("0")}).error.isEmpty());
    QVERIFY(!BenchOptions::parse({QStringLiteral("--iterations"), QStringLiteral("ten")}).error.isEmpty());
    QVERIFY(!BenchOptions::parse({QStringLiteral("--json")}).error.isEmpty());
    QVERIFY(!BenchOptions::parse({QStringLiteral("--fast")}).error.isEmpty());
}

void TestBench::simLinesParse()
{
    quint16 port = 0;
    QString path;
    QVERIFY(SimProcess::parseLines("tcp 127.0.0.1:40123\nserial /dev/pts/3\n", &port, &path));
    QCOMPARE(port, quint16(40123));
    QCOMPARE(path, QStringLiteral("/dev/pts/3"));
    port = 0;
    QVERIFY(!SimProcess::parseLines("tcp 127.0.0.1:40123\n", &port, &path)); // no pty yet
    QVERIFY(!SimProcess::parseLines("tcp 127.0.0.1:0\nserial /dev/pts/3\n", &port, &path));
    QVERIFY(!SimProcess::parseLines("tcp 127.0.0.1:70000\nserial /dev/pts/3\n", &port, &path));
    QVERIFY(!SimProcess::parseLines("", &port, &path));
    QCOMPARE(port, quint16(0)); // untouched when the lines are not all there
}

void TestBench::simProcessRefusesWhatIsNotTheSimulator()
{
    SimProcess missing;
    QVERIFY(!missing.start(QStringLiteral("/nonexistent/ads-sim")));
    QVERIFY(!missing.errorString().isEmpty());
    // A program that prints no address lines and ends is not waited for until the time-out.
    SimProcess silent;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!silent.start(QStringLiteral("/bin/true")));
    QVERIFY(clock.elapsed() < 9000);
    QVERIFY(silent.errorString().contains(QStringLiteral("no address lines")));
}

void TestBench::simProcessStartsAndStops()
{
    const QString bench = qEnvironmentVariable("ADS_BENCH");
    if (bench.isEmpty())
        QSKIP("ADS_BENCH is not set (ctest sets it)");
    SimProcess sim;
    QVERIFY2(sim.start(QFileInfo(bench).dir().filePath(QStringLiteral("ads-sim"))),
             qPrintable(sim.errorString()));
    QVERIFY(sim.tcpPort() > 0);
    QVERIFY(sim.serialPath().startsWith(QStringLiteral("/dev/")));
    const int fd = RawAds::connectTcp("127.0.0.1", sim.tcpPort());
    QVERIFY(fd >= 0);
    std::vector<char> reply;
    const auto request = RawAds::readRequest(RawAds::NetId(), 851, 5, 0x4020, 0, 4);
    QCOMPARE(RawAds::exchange(fd, request, reply), long(AdsLayout::ReadReplyHeaderSize + 4));
    sim.stop();
    // Stopped: the controller's end of the connection is gone.
    QCOMPARE(RawAds::exchange(fd, request, reply), -1L);
    RawAds::closeFd(fd);
    QCOMPARE(RawAds::connectTcp("127.0.0.1", sim.tcpPort()), -1);
}

void TestBench::goalsHoldAndMiss()
{
    Report report;
    report.rows = {tcpRow(QStringLiteral("small"), 120, 100, 1.25),
                   tcpRow(QStringLiteral("large"), 160, 100, 1.5)};
    report.rows[0].allocationGoal = true;
    report.rows[0].allocBound = 1;
    report.rows[0].driver.allocsPerCall = 4;
    report.evaluate();
    const GoalResult *small = goalNamed(report, QStringLiteral("small: driver median"));
    const GoalResult *large = goalNamed(report, QStringLiteral("large: driver median"));
    const GoalResult *allocs = goalNamed(report, QStringLiteral("small: allocations"));
    QVERIFY(small && large && allocs);
    QVERIFY(small->holds);
    QVERIFY(!large->holds);
    QVERIFY(!allocs->holds);
    QVERIFY(!report.allGoalsHold());
}

void TestBench::stepAndGapGoals()
{
    Report report;
    Row slow = tcpRow(QStringLiteral("slow tail"), 100, 100, 1.25);
    slow.driver.p99Us = slow.limit.p99Us + kStepUs + 1;
    Row pieces = tcpRow(QStringLiteral("pieces"), 4500, 4100, 0);
    pieces.goal = Row::PiecesGoal;
    pieces.bound = 1000;
    Row serial;
    serial.label = QStringLiteral("serial");
    serial.path = QStringLiteral("serial");
    serial.driver = figures(3200, 3500);
    serial.frameGapMs = 2;
    serial.goal = Row::GapGoal;
    serial.bound = 1000;
    report.rows = {slow, pieces, serial};
    report.evaluate();
    const GoalResult *step = goalNamed(report, QStringLiteral("TCP: no row"));
    QVERIFY(step);
    QVERIFY(!step->holds);
    QVERIFY(step->detail.contains(QStringLiteral("slow tail")));
    QVERIFY(goalNamed(report, QStringLiteral("pieces"))->holds);
    QVERIFY(!goalNamed(report, QStringLiteral("serial"))->holds); // 3.2 ms against 2 + 1

    report.rows[0].driver.p99Us = report.rows[0].limit.p99Us + 500;
    report.rows[2].driver.medianUs = 2900;
    report.evaluate();
    QVERIFY(report.allGoalsHold());
}

void TestBench::jsonHasNoNonFiniteNumbers()
{
    Report report;
    Row noLimit = tcpRow(QStringLiteral("alone"), 100, 0, 1.25);
    noLimit.limit = Figures();
    report.rows = {noLimit};
    report.evaluate();
    const QJsonObject json = report.toJson();
    const QJsonObject row = json.value(QStringLiteral("measurements")).toArray().at(0).toObject();
    QVERIFY(row.value(QStringLiteral("ratio")).isNull());
    QVERIFY(row.value(QStringLiteral("limit")).isNull());
    // The document reads back as what was written.
    const QByteArray text = QJsonDocument(json).toJson();
    QJsonParseError error;
    QJsonDocument::fromJson(text, &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
}

void TestBench::tableAndFailureCount()
{
    Report report;
    report.rows = {tcpRow(QStringLiteral("read 1 int16"), 120, 100, 1.25)};
    report.rows[0].driver.failures = 2;
    Row serial;
    serial.label = QStringLiteral("serial 9600 read");
    serial.path = QStringLiteral("serial");
    serial.driver = figures(3200, 3300);
    serial.frameGapMs = 3;
    report.rows.append(serial);
    report.evaluate();
    QCOMPARE(report.failures(), 2);
    QString table = report.table();
    QVERIFY(table.contains(QStringLiteral("1.20x")));
    QVERIFY(table.contains(QStringLiteral("2 FAILED")));
    QVERIFY(table.contains(QStringLiteral("(gap 3 ms)")));
    QVERIFY(table.contains(QStringLiteral("gap + 200.0 us"))); // a serial read against its gap
    QVERIFY(!table.contains(QStringLiteral("scale:"))); // no scale run, no scale line

    report.scale.drivers = 200;
    report.scale.connected = 198;
    QCOMPARE(report.failures(), 4); // two drivers that did not connect count too
    QVERIFY(report.table().contains(QStringLiteral("scale: 200 drivers (198 connected)")));
}

void TestBench::quickRunWritesValidJson()
{
    const QString program = qEnvironmentVariable("ADS_BENCH");
    if (program.isEmpty())
        QSKIP("ADS_BENCH is not set (ctest sets it)");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString jsonPath = dir.filePath(QStringLiteral("bench.json"));
    QProcess bench;
    bench.start(program, {QStringLiteral("--quick"), QStringLiteral("--json"), jsonPath});
    QVERIFY2(bench.waitForFinished(240000), "ads-bench --quick did not end");
    const QByteArray errors = bench.readAllStandardError();
    QVERIFY2(bench.exitStatus() == QProcess::NormalExit && bench.exitCode() == 0, errors.constData());

    QFile file(jsonPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonObject root = doc.object();
    const QJsonArray rows = root.value(QStringLiteral("measurements")).toArray();
    QStringList keys;
    for (const QJsonValue &v : rows) {
        const QJsonObject driver = v.toObject().value(QStringLiteral("driver")).toObject();
        keys << v.toObject().value(QStringLiteral("key")).toString();
        QVERIFY(driver.value(QStringLiteral("calls")).toInt() > 0);
        QCOMPARE(driver.value(QStringLiteral("failures")).toInt(), 0);
        QVERIFY(driver.value(QStringLiteral("median_us")).isDouble());
    }
    // Every measurement --only knows shows up, and nothing else.
    QStringList expected = BenchRun::knownKeys();
    expected.removeAll(QStringLiteral("scale"));
    QCOMPARE(keys, expected);
    const QJsonObject scale = root.value(QStringLiteral("scale")).toObject();
    QCOMPARE(scale.value(QStringLiteral("connected")).toInt(), 200);
    QVERIFY(!root.value(QStringLiteral("goals")).toArray().isEmpty());
}

QTEST_GUILESS_MAIN(TestBench)
#include "tst_bench.moc"
