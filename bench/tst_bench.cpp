// The benchmark's own parts, and a short run of the whole program. Nothing
// here asserts a speed: timings belong to the benchmark's figures.
#include "bench/BenchOptions.h"
#include "bench/BenchReport.h"
#include "bench/BenchRun.h"
#include "bench/FreshProcess.h"
#include "bench/MallocCount.h"
#include "bench/Measure.h"
#include "bench/PieceServer.h"
#include "bench/RawAds.h"
#include "bench/ReportJson.h"
#include "bench/RowGoals.h"
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
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

Q_DECLARE_METATYPE(StateFigures)

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

Figures driverFigures(double median, double cpu, double allocs)
{
    Figures f = figures(median, median * 2);
    f.cpuUsPerCall = cpu;
    f.allocsPerCall = allocs;
    return f;
}

// A row held to every bound there is, measured in the state named.
Row boundRow(const StateFigures &state, bool fresh)
{
    Row r;
    r.key = QStringLiteral("k");
    r.label = QStringLiteral("r");
    r.path = QStringLiteral("tcp");
    r.bounds.medianRatio = 1.15;
    r.bounds.cpuRatio = 1.4;
    r.bounds.allocsPerCall = 3;
    r.bounds.dataBytes = 800000;
    r.bounds.overLimitUs = 500;
    r.bounds.limitMedianUs = 1000;
    (fresh ? r.fresh : r.inRun) = state;
    return r;
}

QStringList goalLines(const QList<GoalResult> &goals)
{
    QStringList lines;
    for (const GoalResult &g : goals)
        lines << (g.holds ? QStringLiteral("holds ") : QStringLiteral("MISSED ")) + g.name;
    return lines;
}

// Answers one request on the master side of a pseudo-terminal: the reply in
// two pieces, after a pause, as a slow line delivers it.
void answerOnTerminal(int master, QByteArray *request, int pauseMs)
{
    char buffer[256];
    std::size_t got = 0;
    for (int round = 0; round < 200 && got < AdsLayout::ReadRequestSize; ++round) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            const ssize_t n = ::read(master, buffer + got, sizeof buffer - got);
            got += n > 0 ? std::size_t(n) : 0;
        }
    }
    *request = QByteArray(buffer, int(got));
    QByteArray reply(int(AdsLayout::ReadReplyHeaderSize + 2), '\0');
    WireBytes::putLe32(reply.data() + AdsLayout::OffTcpLength,
                       quint32(reply.size() - AdsLayout::TcpHeaderSize));
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    (void)!::write(master, reply.constData(), 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    (void)!::write(master, reply.constData() + 4, std::size_t(reply.size() - 4));
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
    void exchangeStampsTheFirstByte();
    void exchangeFailsOnClosedPeer();
    void terminalExchangeWaitsForBytes();
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
    void goalsOfOneState_data();
    void goalsOfOneState();
    void goalsInBothStates();
    void freshFiguresReadBack();
    void freshArgumentsForward();
    void freshProcessFailures_data();
    void freshProcessFailures();
    void tableShowsBothStates();
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

void TestBench::exchangeStampsTheFirstByte()
{
    PieceServer server;
    QVERIFY(server.start({10}, 1000)); // the rest of the reply after a pause
    const int fd = RawAds::connectTcp("127.0.0.1", server.port());
    QVERIFY(fd >= 0);
    const auto request = RawAds::readRequest(RawAds::NetId(), 851, 1, 0x4020, 0, 2);
    std::vector<char> reply;
    const auto sent = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point first;
    QCOMPARE(RawAds::exchange(fd, request, reply, &first), long(AdsLayout::ReadReplyHeaderSize + 2));
    const auto last = std::chrono::steady_clock::now();
    RawAds::closeFd(fd);
    // Set, and between the send and the whole reply.
    QVERIFY(first >= sent);
    QVERIFY(first <= last);
}

void TestBench::terminalExchangeWaitsForBytes()
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0);
    QVERIFY(::grantpt(master) == 0 && ::unlockpt(master) == 0);
    const int fd = RawAds::openSerial(::ptsname(master));
    QVERIFY(fd >= 0);
    // As a serial port driver sharing the line sets it: a read answers at once, with nothing.
    termios t{};
    QCOMPARE(::tcgetattr(fd, &t), 0);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    QCOMPARE(::tcsetattr(fd, TCSANOW, &t), 0);

    QByteArray seen;
    std::thread peer(answerOnTerminal, master, &seen, 5);
    const auto request = RawAds::readRequest(RawAds::NetId(), 851, 7, 0x4020, 0, 2);
    std::vector<char> reply;
    const long got = RawAds::exchangeOnTerminal(fd, request, reply);
    peer.join();
    RawAds::closeFd(fd);
    ::close(master);
    QCOMPARE(seen, bytesOf(request));
    QCOMPARE(got, long(AdsLayout::ReadReplyHeaderSize + 2));
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
    void *later = g_malloc(100000);
    QCOMPARE(MallocCount::count(), std::uint64_t(3));
    QCOMPARE(MallocCount::bytes(), std::uint64_t(64 + 64 + 4096));
    QCOMPARE(MallocCount::largest(), std::uint64_t(4096));
    MallocCount::start(); // the largest is looked for afresh
    std::free(g_malloc(10));
    MallocCount::stop();
    QCOMPARE(MallocCount::largest(), std::uint64_t(10));
    QCOMPARE(MallocCount::count(), std::uint64_t(4));
    std::free(c);
    std::free(b);
    std::free(outside);
    std::free(later);
    QCOMPARE(MallocCount::count(), std::uint64_t(4)); // freeing is not allocating
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
            std::free(g_malloc(100));
            std::free(g_malloc(30));
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
        QCOMPARE(driver.largestAllocBytes, 100.0);
        QCOMPARE(driver.otherAllocBytesPerCall, 30.0); // all but each call's largest
        QCOMPARE(limit.largestAllocBytes, 0.0);
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

void TestBench::goalsOfOneState_data()
{
    QTest::addColumn<StateFigures>("state");
    QTest::addColumn<QStringList>("expected");
    const Figures limit = driverFigures(100, 20, 0);
    StateFigures all;
    all.limit = limit;
    all.driver = driverFigures(114, 27, 3);
    all.driver.largestAllocBytes = 800016;
    all.driver.otherAllocBytesPerCall = 40000; // 5 % of 800000
    all.firstByte = figures(60, 60);
    const QStringList allHold = {
        QStringLiteral("holds r (fresh process): driver median <= 1.15 x the bare client's"),
        QStringLiteral("holds r (fresh process): driver CPU per call <= 1.4 x the bare client's"),
        QStringLiteral("holds r (fresh process): allocations per call <= 3"),
        QStringLiteral(
            "holds r (fresh process): the list the host receives is the only allocation that grows "
            "with the data"),
        QStringLiteral("holds r (fresh process): driver median <= the bare client's + 0.5 ms"),
        QStringLiteral("holds r (fresh process): served, request sent to last byte, median < 1 ms")};
    QTest::newRow("every bound held") << all << allHold;

    StateFigures over = all; // each just past its bound
    over.limit.medianUs = 1000; // a simulator this slow misses its own goal
    over.driver = driverFigures(1501, 28.1, 3.1);
    over.driver.largestAllocBytes = 800016;
    over.driver.otherAllocBytesPerCall = 40001;
    QStringList missed = allHold;
    for (QString &line : missed)
        line.replace(0, 5, QStringLiteral("MISSED"));
    QTest::newRow("every bound missed") << over << missed;

    StateFigures uncounted = all; // a sanitizer build counts no allocations
    uncounted.driver.allocsPerCall = NAN;
    uncounted.driver.otherAllocBytesPerCall = NAN;
    QTest::newRow("allocations not counted")
        << uncounted << QStringList{allHold[0], allHold[1], allHold[4], allHold[5]};

    StateFigures alone; // the simulator row: the bare client only
    alone.limit = limit;
    QTest::newRow("no driver") << alone << QStringList{allHold[5]};
    QTest::newRow("nothing measured") << StateFigures() << QStringList();
}

void TestBench::goalsOfOneState()
{
    QFETCH(StateFigures, state);
    QFETCH(QStringList, expected);
    QCOMPARE(goalLines(RowGoals::of(boundRow(state, true))), expected);
}

void TestBench::goalsInBothStates()
{
    StateFigures fast;
    fast.limit = driverFigures(100, 20, 0);
    fast.driver = driverFigures(110, 25, 1);
    StateFigures slow = fast;
    slow.driver.medianUs = 2000; // e.g. page faults in a fresh process
    Report report;
    Row row;
    row.label = QStringLiteral("read");
    row.bounds.medianRatio = 1.3;
    row.fresh = slow;
    row.inRun = fast;
    report.rows = {row};
    report.evaluate();
    QCOMPARE(
        goalLines(report.goals),
        (QStringList{QStringLiteral("MISSED read (fresh process): driver median <= 1.3 x the bare client's"),
                     QStringLiteral("holds read (in the run): driver median <= 1.3 x the bare client's")}));
    QVERIFY(report.goals.at(0).detail.startsWith(QStringLiteral("20.00 x (2000.0 us against 100.0 us)")));
    QVERIFY(!report.allGoalsHold());

    // A run of one measurement is the fresh process: its figures move there.
    report.rows[0].fresh = StateFigures();
    report.markFresh();
    QVERIFY(!report.rows[0].inRun.valid());
    QCOMPARE(report.rows[0].fresh.driver.medianUs, 110.0);
    report.evaluate();
    QCOMPARE(report.goals.size(), 1);
    QVERIFY(report.allGoalsHold());
}

void TestBench::freshFiguresReadBack()
{
    Report report;
    Row row;
    row.key = QStringLiteral("read_double_100000");
    row.fresh.driver = driverFigures(400, 300, 5);
    row.fresh.driver.largestAllocBytes = 800016;
    row.fresh.driver.otherAllocBytesPerCall = 1234.5;
    row.fresh.driver.failures = 2;
    row.fresh.limit = driverFigures(200, 90, NAN); // not counted: null in JSON, NaN back
    Row onlyInRun;
    onlyInRun.key = QStringLiteral("read_int16_1");
    onlyInRun.inRun.driver = driverFigures(50, 30, 8);
    Row sim;
    sim.key = QStringLiteral("sim_read_double_100000");
    sim.fresh.limit = driverFigures(300, 80, 0);
    sim.fresh.firstByte = figures(70, 90);
    report.rows = {row, onlyInRun, sim};
    report.evaluate();
    // Through text, as a child hands it over.
    const QJsonObject doc = QJsonDocument::fromJson(QJsonDocument(ReportJson::of(report)).toJson()).object();

    StateFigures back;
    QVERIFY(ReportJson::freshOf(doc, QStringLiteral("read_double_100000"), &back));
    QCOMPARE(back.driver.medianUs, 400.0);
    QCOMPARE(back.driver.p99Us, 800.0);
    QCOMPARE(back.driver.cpuUsPerCall, 300.0);
    QCOMPARE(back.driver.allocsPerCall, 5.0);
    QCOMPARE(back.driver.largestAllocBytes, 800016.0);
    QCOMPARE(back.driver.otherAllocBytesPerCall, 1234.5);
    QCOMPARE(back.driver.failures, 2);
    QCOMPARE(back.driver.calls, 10);
    QCOMPARE(back.limit.medianUs, 200.0);
    QVERIFY(std::isnan(back.limit.allocsPerCall));
    QVERIFY(!back.firstByte.valid());
    QCOMPARE(back.ratio(), 2.0);

    StateFigures simBack;
    QVERIFY(ReportJson::freshOf(doc, QStringLiteral("sim_read_double_100000"), &simBack));
    QVERIFY(!simBack.driver.valid());
    QCOMPARE(simBack.firstByte.medianUs, 70.0);
    QCOMPARE(simBack.limit.medianUs, 300.0);

    StateFigures none;
    QVERIFY(!ReportJson::freshOf(doc, QStringLiteral("read_int16_1"), &none)); // measured in the run only
    QVERIFY(!ReportJson::freshOf(doc, QStringLiteral("scale"), &none)); // not a row
    QVERIFY(!ReportJson::freshOf(QJsonObject(), QStringLiteral("read_double_100000"), &none));
    const QJsonObject first = doc.value(QStringLiteral("measurements")).toArray().at(0).toObject();
    QVERIFY(first.value(QStringLiteral("in_run")).isNull());
    QCOMPARE(first.value(QStringLiteral("fresh")).toObject().value(QStringLiteral("ratio")).toDouble(), 2.0);
}

void TestBench::freshArgumentsForward()
{
    BenchOptions quick = BenchOptions::parse({QStringLiteral("--quick")});
    QCOMPARE(FreshProcess::arguments(quick, QStringLiteral("read_int16_1"), QStringLiteral("/p.so"),
                                     QStringLiteral("/sim"), QStringLiteral("/t/k.json")),
             (QStringList{QStringLiteral("--only"), QStringLiteral("read_int16_1"), QStringLiteral("--json"),
                          QStringLiteral("/t/k.json"), QStringLiteral("--plugin"), QStringLiteral("/p.so"),
                          QStringLiteral("--sim"), QStringLiteral("/sim"), QStringLiteral("--quick")}));
    const BenchOptions counted = BenchOptions::parse({QStringLiteral("--iterations"), QStringLiteral("300")});
    const QStringList a = FreshProcess::arguments(counted, QStringLiteral("scale"), QStringLiteral("/p.so"),
                                                  QStringLiteral("/sim"), QStringLiteral("/j"));
    QVERIFY(a.join(QLatin1Char(' ')).endsWith(QStringLiteral("--iterations 300")));
    QVERIFY(!a.contains(QStringLiteral("--quick")));
    // Parsed again by the child, they mean the same run.
    const BenchOptions child = BenchOptions::parse(a);
    QVERIFY(child.error.isEmpty());
    QCOMPARE(child.only, QStringLiteral("scale"));
    QCOMPARE(child.callsFor(5000), 300);
}

void TestBench::freshProcessFailures_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("error");
    QTest::addColumn<double>("median");
    // $4 is the JSON path: --only KEY --json PATH ...
    const QString figuresText =
        QStringLiteral("{\"measurements\":[{\"key\":\"read_int16_1\",\"fresh\":{\"driver\":{\"calls\":5,"
                       "\"median_us\":42.5},\"limit\":null}}]}");
    QTest::newRow("figures written") << QStringLiteral("printf '%1' > \"$4\"").arg(figuresText) << QString()
                                     << 42.5;
    QTest::newRow("exit status 1") << QStringLiteral(
        "echo 'ads-bench: the simulator did not start' >&2; exit 1")
                                   << QStringLiteral("the simulator did not start") << 0.0;
    QTest::newRow("no JSON") << QStringLiteral("exit 0") << QStringLiteral("wrote no figures") << 0.0;
    QTest::newRow("other key")
        << QStringLiteral("printf '%1' | sed s/read_int16_1/scale/ > \"$4\"").arg(figuresText)
        << QStringLiteral("wrote no figures") << 0.0;
}

void TestBench::freshProcessFailures()
{
    QFETCH(QString, script);
    QFETCH(QString, error);
    QFETCH(double, median);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString program = dir.filePath(QStringLiteral("child.sh"));
    QFile file(program);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(("#!/bin/sh\n" + script + "\n").toUtf8());
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    FreshProcess fresh(program, BenchOptions(), QStringLiteral("/p.so"), QStringLiteral("/sim"));
    StateFigures got;
    QCOMPARE(fresh.measure(QStringLiteral("read_int16_1"), &got), error.isEmpty());
    if (error.isEmpty()) {
        QCOMPARE(got.driver.medianUs, median);
        QVERIFY(!got.limit.valid());
    } else {
        QVERIFY2(fresh.errorString().contains(error), qPrintable(fresh.errorString()));
    }
}

void TestBench::tableShowsBothStates()
{
    Report report;
    Row read;
    read.key = read.label = QStringLiteral("read 1 int16");
    read.path = QStringLiteral("tcp");
    read.bounds.medianRatio = 1.15;
    read.fresh.limit = driverFigures(100, 20, 0);
    read.fresh.driver = driverFigures(150, 30, 3);
    read.fresh.driver.largestAllocBytes = 800016;
    read.fresh.driver.otherAllocBytesPerCall = 2048;
    read.inRun.limit = driverFigures(100, 20, 0);
    read.inRun.driver = driverFigures(120, 25, 3);
    read.inRun.driver.failures = 2;
    Row sim;
    sim.key = sim.label = QStringLiteral("simulator serves 800 KB");
    sim.path = QStringLiteral("sim");
    sim.inRun.limit = driverFigures(300, 80, 0);
    sim.inRun.firstByte = figures(70, 90);
    sim.inRun.firstByte.cpuUsPerCall = sim.inRun.firstByte.allocsPerCall = NAN; // as measured
    report.rows = {read, sim};
    report.evaluate();
    QCOMPARE(report.failures(), 2);
    const QString table = report.table();
    QStringList lines;
    for (const QString &l : table.split(QLatin1Char('\n')))
        lines << l.simplified();
    auto shows = [&](const char *line) { return lines.contains(QLatin1String(line)); };
    // Median, CPU, allocations and both ratios, fresh first, then in the run.
    QVERIFY2(shows("read 1 int16 limit 100.0 20.0 0.0 100.0 20.0 0.0"), qPrintable(table));
    QVERIFY(shows("driver 150.0 30.0 3.0 1.50x 1.50x 120.0 25.0 3.0 1.20x 1.25x"));
    QVERIFY(shows("2 FAILED"));
    // The simulator row, measured in the run only: first byte and whole reply.
    QVERIFY(shows("simulator serves 800 KB first - 70.0 - -"));
    QVERIFY(shows("whole - 300.0 80.0 0.0"));
    // The heap of each driver call: its largest allocation and the others.
    QVERIFY(shows("read 1 int16 781.3 KiB 2.0 KiB 0 B 0 B"));
    QVERIFY(!table.contains(QStringLiteral("scale:"))); // no scale run, no scale line
    QVERIFY(shows("MISSED read 1 int16 (fresh process): driver median <= 1.15 x the bare client's: 1.50 x "
                  "(150.0 us against 100.0 us)"));

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
        const QJsonObject row = v.toObject();
        keys << row.value(QStringLiteral("key")).toString();
        // Each in both heap states: in a fresh process of its own and in the run.
        for (const QString &state : {QStringLiteral("fresh"), QStringLiteral("in_run")}) {
            const QJsonObject s = row.value(state).toObject();
            const bool sim = row.value(QStringLiteral("path")).toString() == QLatin1String("sim");
            const QJsonObject measured =
                s.value(sim ? QStringLiteral("limit") : QStringLiteral("driver")).toObject();
            QVERIFY2(measured.value(QStringLiteral("calls")).toInt() > 0,
                     qPrintable(keys.last() + ' ' + state));
            QCOMPARE(measured.value(QStringLiteral("failures")).toInt(), 0);
            QVERIFY(measured.value(QStringLiteral("median_us")).isDouble());
            if (sim) // each reply's first byte comes before its last
                QVERIFY(s.value(QStringLiteral("first_byte"))
                            .toObject()
                            .value(QStringLiteral("median_us"))
                            .toDouble()
                        <= measured.value(QStringLiteral("median_us")).toDouble());
        }
    }
    // Every measurement --only knows shows up, and nothing else.
    QStringList expected = BenchRun::knownKeys();
    expected.removeAll(QStringLiteral("scale"));
    QCOMPARE(keys, expected);
    const QJsonObject scale = root.value(QStringLiteral("scale")).toObject();
    QCOMPARE(scale.value(QStringLiteral("connected")).toInt(), 200);
    QStringList goals;
    for (const QJsonValue &g : root.value(QStringLiteral("goals")).toArray())
        goals << g.toObject().value(QStringLiteral("name")).toString();
    if (MallocCount::available()) // a sanitizer build counts no allocations, nor holds them to a goal
        QVERIFY(
            goals.contains(QStringLiteral("read 100000 double (800 KB) (fresh process): the list the host "
                                          "receives is the only allocation that grows with the data")));
    QVERIFY(goals.contains(QStringLiteral("serial 9600 read 1 int16 (in the run): driver median <= the bare "
                                          "client's + 0.5 ms")));
}

QTEST_GUILESS_MAIN(TestBench)
#include "tst_bench.moc"
