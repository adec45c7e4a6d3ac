// The faults that used to hand a host a wrong value, strand a working link,
// report the wrong cause or end the host's process, through the host's view
// against the simulated controller: after each one, the next request is
// answered correctly as soon as the controller answers it.
#include "host/PluginHandle.h"
#include "link/AdsLayout.h"
#include "link/WireBytes.h"
#include "sim/SimController.h"
#include "sim/SimServer.h"
#include "tests/TestSupport.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <mutex>
#include <thread>

using namespace TestSupport;

namespace {
const quint32 kM = 0x4020;
const QByteArray kImage = QByteArray::fromHex("0102030405060708");

CLabelVariable shorts(QList<short> values)
{
    CLabelVariable v;
    v.value = QVariant::fromValue(values);
    return v;
}

using Reshape = std::function<QByteArray(const QByteArray &, const QByteArray &)>;

SimFault reshaped(Reshape reshape)
{
    SimFault f;
    f.reshape = std::move(reshape);
    return f;
}

QByteArray patched(QByteArray frame, int at, const QByteArray &bytes)
{
    return frame.replace(at, bytes.size(), bytes);
}

// Bytes the kernel holds for the driver's end of a loopback connection to
// `port`, from /proc/net/tcp: -1 when no such connection is listed.
int kernelQueued(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray remote = QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() > 4 && f.at(2).endsWith(":" + remote) && f.at(3) == "01")
            return f.at(4).split(':').value(1).toInt(nullptr, 16);
    }
    return -1;
}

QObject *objectOf(CDriveBaseClass *driver)
{
    return static_cast<QObject *>(dynamic_cast<void *>(driver));
}
} // namespace

Q_DECLARE_METATYPE(SimFault)

class TestRecovery : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void symbolPlacesBelongToTheirRuntime();
    void replyGivenUpPartWayLeavesTheStreamInStep_data();
    void replyGivenUpPartWayLeavesTheStreamInStep();
    void repliesNeedFullEvidence_data();
    void repliesNeedFullEvidence();
    void echoingLineWorks();
    void failedConnectLeavesTheWorkingLine_data();
    void failedConnectLeavesTheWorkingLine();
    void strayBytesOnTheSerialLineCostOneExchangeAtMost();
    void staleReplyInTheKernelIsDroppedBeforeSending_data();
    void staleReplyInTheKernelIsDroppedBeforeSending();
    void serialBytesWhileIdleLeaveTheLineOpen();
    void slowControllerIsNoReply();
    void driverMovedToAWorkerThreadWorks();
    void callFromAForeignThreadIsRefusedAtOnce();
    void hugeReadsAreRefused();
    void warningsShowAtMost1024BytesOfAFrame();
    void onlyALossIsLogged();
    void lineClosedWhileIdleIsLinkDown();
    void hostClosingDuringAWaitIsLinkDown();
    void floodsOfStrangersAreCountedNotListed();

private:
    bool connectTo(bool serial);
    void expectReadOk(const char *why);

    PluginHandle plugin;
    SimController *sim = nullptr;
    CDriveBaseClass *driver = nullptr;
};

void TestRecovery::initTestCase()
{
    QVERIFY2(plugin.load(pluginPath()), qPrintable(plugin.errorString()));
}

void TestRecovery::init()
{
    sim = new SimController;
    QVERIFY(sim->startTcp());
    QVERIFY(sim->startPty());
    sim->server()->writeImage(kM, 0, kImage);
    driver = plugin.create();
}

void TestRecovery::cleanup()
{
    PluginHandle::dispose(driver);
    driver = nullptr;
    delete sim;
    sim = nullptr;
}

bool TestRecovery::connectTo(bool serial)
{
    return driver->SetConnectPar(QString::fromLatin1(kShortWaits)) == 851
           && driver->ConnectDrive(serial ? sim->serialConnectionText() : sim->connectionText()) == 0;
}

void TestRecovery::expectReadOk(const char *why)
{
    const CLabelVariable r = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16, 4);
    QVERIFY2(r.resultCode == 0, qPrintable(QStringLiteral("%1: %2").arg(why).arg(r.resultCode)));
    QCOMPARE(r.value.value<QList<short>>(), (QList<short>{0x0201, 0x0403, 0x0605, 0x0807}));
}

// A place belongs to the runtime that gave it: after a change of AMS port
// the name is looked up again, and a write lands in the right runtime.
void TestRecovery::symbolPlacesBelongToTheirRuntime()
{
    SimServer *s = sim->server();
    s->setAmsPorts({851, 852});
    s->addSymbol(851, {QStringLiteral("MAIN.X"), kM, 0x10, 2, QStringLiteral("INT")});
    s->addSymbol(852, {QStringLiteral("MAIN.X"), kM, 0x20, 2, QStringLiteral("INT")});
    s->writeImage(851, kM, 0x10, hex("51 00"));
    s->writeImage(852, kM, 0x10, hex("99 99")); // another variable of runtime 852
    s->writeImage(852, kM, 0x20, hex("52 00"));
    QVERIFY(connectTo(false));
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.X"), DT_Int16).value.value<QList<short>>(),
             QList<short>{0x51});
    QCOMPARE(driver->SetConnectPar(QStringLiteral("852")), 852);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.X"), DT_Int16).value.value<QList<short>>(),
             QList<short>{0x52});
    QCOMPARE(driver->WriteVariable(QStringLiteral("MAIN.X"), DT_Int16, shorts({7})).resultCode, 0);
    QCOMPARE(s->readImage(852, kM, 0x20, 2), hex("07 00"));
    QCOMPARE(s->readImage(852, kM, 0x10, 2), hex("99 99"));
    QCOMPARE(s->readImage(851, kM, 0x10, 2), hex("51 00"));
    // Back on 851, its handle there still serves: the connection is the same.
    const int before = s->requestCount();
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851")), 851);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.X"), DT_Int16).value.value<QList<short>>(),
             QList<short>{0x51});
    QCOMPARE(s->requestCount(), before + 1);
}

void TestRecovery::replyGivenUpPartWayLeavesTheStreamInStep_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<int>("doubles"); // a large read first, when not 0
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<int>("code");

    SimFault lateInTwo;
    lateInTwo.splitAt = {20};
    lateInTwo.pauseMs = kShortWaitMs + 150;
    SimFault announcing;
    announcing.reshape = [](const QByteArray &, const QByteArray &reply) {
        QByteArray more(reply);
        WireBytes::putLe32(more.data() + AdsLayout::OffTcpLength,
                           quint32(reply.size() - AdsLayout::TcpHeaderSize + 1000));
        return more;
    };
    for (bool serial : {false, true}) {
        const char *t = serial ? "serial" : "tcp";
        QTest::newRow(qPrintable(QStringLiteral("%1, late in two pieces").arg(t)))
            << serial << 0 << lateInTwo << kWrongReply;
        QTest::newRow(qPrintable(QStringLiteral("%1, late in two pieces after a large read").arg(t)))
            << serial << 50000 << lateInTwo << kWrongReply;
        QTest::newRow(qPrintable(QStringLiteral("%1, own reply announcing 1000 bytes too many").arg(t)))
            << serial << 0 << announcing << kWrongReply;
        QTest::newRow(qPrintable(QStringLiteral("%1, a large reply announcing 1000 bytes too many").arg(t)))
            << serial << 50000 << announcing << kWrongReply;
    }
}

void TestRecovery::replyGivenUpPartWayLeavesTheStreamInStep()
{
    QFETCH(bool, serial);
    QFETCH(int, doubles);
    QFETCH(SimFault, fault);
    QFETCH(int, code);
    QVERIFY(connectTo(serial));
    if (doubles) {
        // Taken with the default wait, whatever the machine's load.
        QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reply-ms=2050")), 851);
        const CLabelVariable big = driver->ReadVariable(QStringLiteral("MB0"), DT_Double, doubles);
        QCOMPARE(big.resultCode, 0);
        QCOMPARE(big.value.value<QList<double>>().size(), doubles);
        QCOMPARE(driver->SetConnectPar(QString::fromLatin1(kShortWaits)), 851);
        // The next reply is just as large and cut: its rest comes during later exchanges.
        fault.splitAt = fault.splitAt.isEmpty() ? fault.splitAt : QList<int>{72358};
    }
    LogCapture log;
    sim->server()->pushFault(fault);
    // The next reply comes after what is still to come of this one: the
    // controller never sends two frames into each other.
    const CLabelVariable failed = doubles ? driver->ReadVariable(QStringLiteral("MB0"), DT_Double, doubles)
                                          : driver->ReadVariable(QStringLiteral("MW0"), DT_Int16, 4);
    QCOMPARE(failed.resultCode, code);
    // The rest of 400 KB comes before the next reply: over a pseudo-terminal
    // on a loaded machine that alone can take longer than the short wait.
    if (doubles)
        QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reply-ms=2050")), 851);
    for (int i = 0; i < 3; ++i)
        expectReadOk("after the fault");
    QVERIFY2(log.warnings().size() <= 6, qPrintable(log.warnings().join('\n'))); // each with its English line
}

void TestRecovery::repliesNeedFullEvidence_data()
{
    QTest::addColumn<SimFault>("fault");
    QTest::newRow("another command") << reshaped(
        [](const QByteArray &, const QByteArray &r) { return patched(r, 22, hex("03 00")); });
    QTest::newRow("no response flag")
        << reshaped([](const QByteArray &, const QByteArray &r) { return patched(r, 24, hex("04 00")); });
    QTest::newRow("AMS data length disagrees") << reshaped(
        [](const QByteArray &, const QByteArray &r) { return patched(r, 26, hex("11 00 00 00")); });
    QTest::newRow("ADS length disagrees") << reshaped(
        [](const QByteArray &, const QByteArray &r) { return patched(r, 42, hex("07 00 00 00")); });
}

// A reply counts only on full evidence; anything else is a wrong reply, and
// the next read is answered.
void TestRecovery::repliesNeedFullEvidence()
{
    QFETCH(SimFault, fault);
    for (bool serial : {false, true}) {
        QVERIFY(connectTo(serial));
        LogCapture log;
        sim->server()->pushFault(fault);
        const CLabelVariable r = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16, 4);
        QCOMPARE(r.resultCode, kWrongReply);
        QVERIFY(!r.value.isValid());
        QVERIFY2(log.warnings().filter(QStringLiteral("报文返回长度错误")).size() == 1,
                 qPrintable(log.warnings().join('\n')));
        expectReadOk("after a wrong reply");
    }
}

// A line that sends every request back (RS-485 adapters do) works: the
// request's own bytes are never its reply.
void TestRecovery::echoingLineWorks()
{
    const SimFault echo =
        reshaped([](const QByteArray &request, const QByteArray &reply) { return request + reply; });
    for (bool serial : {false, true}) {
        QVERIFY(connectTo(serial));
        sim->server()->setStandingFault(echo);
        expectReadOk("echoed");
        QCOMPARE(driver->WriteVariable(QStringLiteral("MW8"), DT_Int16, shorts({0x5a5a})).resultCode, 0);
        QCOMPARE(sim->server()->readImage(kM, 8, 2), hex("5a 5a"));
        // A read whose request is as long as its reply: the controller's
        // refusal, not the request's own length field, reaches the host.
        const CLabelVariable r = driver->ReadVariable(QStringLiteral("0000:10"), DT_UInt8, 4);
        QCOMPARE(r.resultCode, kWrongReply);
        QVERIFY(!r.value.isValid());
        sim->server()->setStandingFault(SimFault());
    }
}

void TestRecovery::failedConnectLeavesTheWorkingLine_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("text"); // %1: the pty, %2: a TCP port where nothing listens
    QTest::addColumn<int>("code");
    QTest::newRow("tcp, then a missing serial device") << false << "/dev/no-such-tty,9600,8,1,N" << -1;
    QTest::newRow("tcp, then baud 1234") << false << "%1,1234,8,1,N" << -1;
    QTest::newRow("tcp, then nothing listening") << false << "127.0.0.1:%2" << -3;
    QTest::newRow("tcp, then not an address") << false << "plc.example:48898" << -1;
    QTest::newRow("serial, then parity Mark") << true << "%1,9600,8,1,Mark" << -1;
    QTest::newRow("serial, then 1.5 stop bits") << true << "%1,9600,8,3,N" << -1;
    QTest::newRow("serial, then a missing device") << true << "/dev/no-such-tty,9600,8,1,N" << -1;
    QTest::newRow("serial, then nothing listening") << true << "127.0.0.1:%2" << -3;
}

// Never change what works before the new thing has worked.
void TestRecovery::failedConnectLeavesTheWorkingLine()
{
    QFETCH(bool, serial);
    QFETCH(QString, text);
    QFETCH(int, code);
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 deadPort = probe.serverPort();
    probe.close();
    QVERIFY(connectTo(serial));
    text.replace(QStringLiteral("%1"), sim->ptyPath())
        .replace(QStringLiteral("%2"), QString::number(deadPort));
    QCOMPARE(driver->ConnectDrive(text), code);
    expectReadOk("after the failed connect");
    QCOMPARE(driver->WriteVariable(QStringLiteral("MW8"), DT_Int16, shorts({3})).resultCode, 0);
    // The working line is the one a disconnect closes.
    QCOMPARE(driver->DisConnectDrive(), 0);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode, kLinkDown);
}

// After a symbol lookup the connection may be owed 65 581 bytes; one stray
// byte in front of a reply must not make the driver skip that many.
void TestRecovery::strayBytesOnTheSerialLineCostOneExchangeAtMost()
{
    sim->server()->addSymbol({QStringLiteral("MAIN.nValue"), kM, 0, 2, QStringLiteral("INT")});
    QVERIFY(connectTo(true));
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.nValue"), DT_Int16).resultCode, 0);
    const QByteArray strays = hex("01 00 ff 06 2c");
    for (int i = 0; i < 10; ++i) {
        SimFault noise;
        noise.before = strays.mid(i % strays.size(), 1);
        sim->server()->pushFault(noise);
        if (i % 2) {
            QCOMPARE(driver->WriteVariable(QStringLiteral("MW8"), DT_Int16, shorts({short(i)})).resultCode,
                     0);
            QCOMPARE(sim->server()->readImage(kM, 8, 2), QByteArray(1, char(i)) + QByteArray(1, '\0'));
        } else {
            expectReadOk("a stray byte ahead of the reply");
        }
    }
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.nValue"), DT_Int16).resultCode, 0);
}

// A late reply that reached the kernel while the host did something else is
// drained and dropped before the next request: it never shows in its exchange.
void TestRecovery::staleReplyInTheKernelIsDroppedBeforeSending_data()
{
    QTest::addColumn<bool>("serial");
    QTest::newRow("tcp") << false;
    QTest::newRow("serial") << true;
}

void TestRecovery::staleReplyInTheKernelIsDroppedBeforeSending()
{
    QFETCH(bool, serial);
    QVERIFY(connectTo(serial));
    SimFault late;
    late.delayMs = kShortWaitMs + 200;
    sim->server()->pushFault(late);
    const int sent = sim->server()->repliesSent();
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode, kNoReply);
    // No event loop runs here, so Qt does not take the bytes from the
    // kernel. A pseudo-terminal holds them as soon as the controller wrote them.
    const auto queued = [&]() {
        return serial ? sim->server()->repliesSent() != sent : kernelQueued(sim->tcpPort()) > 0;
    };
    QElapsedTimer waited;
    waited.start();
    while (!queued() && waited.elapsed() < 5000)
        QThread::msleep(5);
    QVERIFY(queued());
    LogCapture log;
    expectReadOk("after a late reply");
    QVERIFY2(log.warnings().isEmpty(), qPrintable(log.warnings().join('\n')));
}

// Bytes that come while the host is busy elsewhere, then a request started
// from a posted call: the drain takes them first, and the port's own notice
// that then finds nothing must not close a healthy line.
void TestRecovery::serialBytesWhileIdleLeaveTheLineOpen()
{
    QVERIFY(connectTo(true));
    for (int round = 0; round < 3; ++round) {
        SimFault late;
        late.delayMs = kShortWaitMs + 200;
        sim->server()->pushFault(late);
        const int sent = sim->server()->repliesSent();
        QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode, kNoReply);
        QElapsedTimer waited;
        waited.start();
        while (sim->server()->repliesSent() == sent && waited.elapsed() < 5000)
            QThread::msleep(5); // busy elsewhere: no event loop runs
        int code = -1;
        QMetaObject::invokeMethod(
            this, [&]() { code = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode; },
            Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(code != -1, 5000);
        QCOMPARE(code, 0);
        expectReadOk("the line stays open");
    }
}

// Replies that come after the wait are no reply, also when the previous
// late reply arrives during the next exchange.
void TestRecovery::slowControllerIsNoReply()
{
    QVERIFY(connectTo(false));
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;down-after=0")), 851); // however many in a row
    SimFault slow;
    slow.delayMs = kShortWaitMs + 150;
    sim->server()->setStandingFault(slow);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(driver->WriteVariable(QStringLiteral("MW8"), DT_Int16, shorts({short(i)})).resultCode,
                 kNoReply);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode, kNoReply);
    sim->server()->setStandingFault(SimFault());
    expectReadOk("once the controller is quick again");
}

// moveToThread carries the link and its sockets along.
void TestRecovery::driverMovedToAWorkerThreadWorks()
{
    int connected = -1;
    CLabelVariable read;
    CLabelVariable written;
    // Marks the hand-overs with a standard lock as well, so that
    // ThreadSanitizer sees what Qt's queue orders.
    std::mutex handOver;
    const auto mark = [&handOver]() { std::lock_guard<std::mutex> lock(handOver); };
    QThread worker;
    worker.setObjectName(QStringLiteral("worker"));
    worker.start();
    objectOf(driver)->moveToThread(&worker);
    mark();
    QMetaObject::invokeMethod(
        objectOf(driver),
        [&]() {
            mark();
            connected = driver->ConnectDrive(sim->connectionText());
            read = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16, 4);
            written = driver->WriteVariable(QStringLiteral("MW8"), DT_Int16, shorts({0x77}));
            driver->DestroyFree();
            objectOf(driver)->moveToThread(QCoreApplication::instance()->thread());
            mark();
        },
        Qt::BlockingQueuedConnection);
    mark();
    worker.quit();
    QVERIFY(worker.wait(5000));
    QCOMPARE(connected, 0);
    QCOMPARE(read.resultCode, 0);
    QCOMPARE(read.value.value<QList<short>>(), (QList<short>{0x0201, 0x0403, 0x0605, 0x0807}));
    QCOMPARE(written.resultCode, 0);
    QCOMPARE(sim->server()->readImage(kM, 8, 2), hex("77 00"));
}

// A thread that does not own the driver is told so at once, with one line
// naming both threads, and nothing is sent.
void TestRecovery::callFromAForeignThreadIsRefusedAtOnce()
{
    QVERIFY(connectTo(false));
    QThread::currentThread()->setObjectName(QStringLiteral("owner"));
    const int before = sim->server()->requestCount();
    LogCapture log;
    int read = -1, written = -1, connected = 0, disconnected = 0, parameter = 0;
    std::thread foreign([&]() {
        QThread::currentThread()->setObjectName(QStringLiteral("intruder"));
        parameter = driver->SetConnectPar(QStringLiteral("852")); // no runtime there
        read = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode;
        written = driver->WriteVariable(QStringLiteral("MW8"), DT_Int16, shorts({1})).resultCode;
        connected = driver->ConnectDrive(sim->connectionText());
        disconnected = driver->DisConnectDrive();
    });
    foreign.join(); // a refusal is at once: nothing here can wait
    QCOMPARE(read, kLinkDown);
    QCOMPARE(written, kLinkDown);
    QCOMPARE(connected, -1);
    QCOMPARE(disconnected, -1);
    QCOMPARE(parameter, -1);
    QCOMPARE(sim->server()->requestCount(), before);
    const QStringList lines = log.warnings();
    QCOMPARE(lines.size(), 5);
    QVERIFY2(lines.first().startsWith(QStringLiteral("lib[Beckhoff]")) && lines.first().contains("intruder")
                 && lines.first().contains("owner"),
             qPrintable(lines.first()));
    expectReadOk("the owner's line is untouched");
}

// A list the driver could not build is refused before anything is sent.
void TestRecovery::hugeReadsAreRefused()
{
    QVERIFY(connectTo(false));
    const int before = sim->server()->requestCount();
    QCOMPARE(driver->ReadVariable(QStringLiteral("MB0"), DT_UInt8, 270000000).resultCode, kBadOffsetOrCount);
    // 268 435 448 bytes, but a bool read unpacks 8 entries a byte and one byte more.
    QCOMPARE(driver->ReadVariable(QStringLiteral("MB0"), DT_Bool, 268435448).resultCode, kBadOffsetOrCount);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MB0"), DT_UInt16, 270000000).resultCode, kBadOffsetOrCount);
    QCOMPARE(sim->server()->requestCount(), before);
    expectReadOk("after the refusals");
}

void TestRecovery::warningsShowAtMost1024BytesOfAFrame()
{
    QVERIFY(connectTo(false));
    sim->server()->writeImage(kM, 0, QByteArray(5000, 'x'));
    LogCapture log;
    SimFault wrong =
        reshaped([](const QByteArray &, const QByteArray &r) { return patched(r, 24, hex("04 00")); });
    sim->server()->pushFault(wrong);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MB0"), DT_UInt8, 5000).resultCode, kWrongReply);
    QCOMPARE(log.warnings().size(), 2);
    const QString line = log.warnings().first();
    QVERIFY2(line.endsWith(QStringLiteral("...(5046 bytes)")), qPrintable(line.right(40)));
    const int hexStart = line.indexOf(QStringLiteral("msg : ")) + 6;
    QCOMPARE(line.size() - hexStart, 2 * 1024 + int(strlen("...(5046 bytes)")));
    // The trace, when asked for, stays whole.
    driver->DebugCmd(DC_StartDebug);
    log.clear();
    QCOMPARE(driver->ReadVariable(QStringLiteral("MB0"), DT_UInt8, 5000).resultCode, 0);
    QVERIFY(log.debugLines().last().endsWith(QString::fromLatin1(QByteArray(5000, 'x').toHex())));
}

// Closing on the host's own request is no loss; the controller going is.
void TestRecovery::onlyALossIsLogged()
{
    LogCapture log;
    QVERIFY(connectTo(false));
    QCOMPARE(driver->DisConnectDrive(), 0);
    QVERIFY(connectTo(false));
    QVERIFY(connectTo(false)); // a new connection replaces the old one
    QCOMPARE(driver->DestroyFree(), 0);
    QVERIFY(connectTo(false));
    QVERIFY2(log.warnings().isEmpty(), qPrintable(log.warnings().join('\n')));
    SimFault close;
    close.closeAfter = 0;
    close.noAnswer = true;
    sim->server()->pushFault(close);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode, kNoReply);
    QCOMPARE(log.warnings().filter(QStringLiteral("RemoteHostClosedError")).size(), 1);
}

// The controller closed the connection while the host did something else:
// the next request finds the line down before anything is sent.
void TestRecovery::lineClosedWhileIdleIsLinkDown()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QCOMPARE(driver->ConnectDrive(QStringLiteral("127.0.0.1:%1").arg(server.serverPort())), 0);
    QVERIFY(server.waitForNewConnection(5000));
    QTcpSocket *peer = server.nextPendingConnection();
    QVERIFY(peer);
    peer->close();
    LogCapture log;
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode, kLinkDown);
    QVERIFY2(log.warnings().filter(QStringLiteral("返回的报文长度为0")).isEmpty(),
             qPrintable(log.warnings().join('\n')));
}

// DisConnectDrive from a slot while a request waits ends that request as
// "link down", without a warning: the host asked for it.
void TestRecovery::hostClosingDuringAWaitIsLinkDown()
{
    QVERIFY(connectTo(false));
    SimFault silent;
    silent.noAnswer = true;
    sim->server()->pushFault(silent);
    int closed = -1;
    QTimer::singleShot(10, [&]() { closed = driver->DisConnectDrive(); }); // runs in the wait's event loop
    LogCapture log;
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode, kLinkDown);
    QCOMPARE(closed, 0);
    QVERIFY2(log.warnings().isEmpty(), qPrintable(log.warnings().join('\n')));
    QVERIFY(connectTo(false));
    expectReadOk("after connecting again");
}

// A controller that streams replies to other requests gets a few lines and
// a count, not one line each.
void TestRecovery::floodsOfStrangersAreCountedNotListed()
{
    QVERIFY(connectTo(false));
    sim->server()->pushFault(reshaped([](const QByteArray &, const QByteArray &reply) {
        QByteArray stranger = reply;
        stranger[AdsLayout::OffInvokeId + 2] = char(stranger[AdsLayout::OffInvokeId + 2] + 1);
        stranger[AdsLayout::OffInvokeId] = char(stranger[AdsLayout::OffInvokeId] + 7);
        QByteArray flood;
        for (int i = 0; i < 500; ++i)
            flood += stranger;
        return flood + reply;
    }));
    LogCapture log;
    expectReadOk("after 500 strangers");
    const QStringList lines = log.warnings();
    QCOMPARE(lines.size(), 7); // three shown, each with its English line, then the count
    QVERIFY2(lines.last().endsWith(QStringLiteral("497 more frames or runs of bytes not ours skipped")),
             qPrintable(lines.last()));
}

QTEST_GUILESS_MAIN(TestRecovery)
#include "tst_recovery.moc"
