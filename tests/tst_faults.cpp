// What a misbehaving controller or a confused host can do, through the
// host's view, over TCP and over a pseudo-terminal. For every fault: the
// exact result code, no value and no time stamp for a failed exchange, and
// the next request on the same driver succeeds once the controller behaves.
#include "host/PluginHandle.h"
#include "sim/SimController.h"
#include "sim/SimServer.h"
#include "tests/TestSupport.h"

#include <QTcpServer>
#include <QtTest>

using namespace TestSupport;

namespace {
const quint32 kM = 0x4020;
const QByteArray kImage = QByteArray::fromHex("0102030405060708");

CLabelVariable shorts(QList<short> values)
{
    CLabelVariable v;
    v.value = QVariant::fromValue(values);
    v.timeStamp = QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6));
    return v;
}

enum Op { Read, Write };
} // namespace

Q_DECLARE_METATYPE(SimFault)

class TestFaults : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void controllerFaults_data();
    void controllerFaults();
    void replySplitAtEveryByte();
    void lateReplyWhileTheNextRequestWaits_data();
    void lateReplyWhileTheNextRequestWaits();
    void connectionClosedMidReply_data();
    void connectionClosedMidReply();
    void listenerThatNeverAnswers();
    void portWhereNothingListens();
    void connectionTextsRefused_data();
    void connectionTextsRefused();
    void hostNonsense();

private:
    bool connectTo(bool serial, bool defaultWait = false);
    void expectRecovery(Op op);

    PluginHandle plugin;
    SimController *sim = nullptr;
    CDriveBaseClass *driver = nullptr;
};

void TestFaults::initTestCase()
{
    QVERIFY2(plugin.load(pluginPath()), qPrintable(plugin.errorString()));
}

void TestFaults::init()
{
    sim = new SimController;
    QVERIFY(sim->startTcp());
    QVERIFY(sim->startPty());
    sim->server()->writeImage(kM, 0, kImage);
    driver = plugin.create();
}

void TestFaults::cleanup()
{
    PluginHandle::dispose(driver);
    driver = nullptr;
    delete sim;
    sim = nullptr;
}

bool TestFaults::connectTo(bool serial, bool defaultWait)
{
    if (!defaultWait && driver->SetConnectPar(QString::fromLatin1(kShortWaits)) != 851)
        return false;
    return driver->ConnectDrive(serial ? sim->serialConnectionText() : sim->connectionText()) == 0;
}

void TestFaults::expectRecovery(Op op)
{
    if (op == Read) {
        const CLabelVariable r = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16, 4);
        QCOMPARE(r.resultCode, 0);
        QCOMPARE(r.value.value<QList<short>>(), (QList<short>{0x0201, 0x0403, 0x0605, 0x0807}));
    } else {
        QCOMPARE(driver->WriteVariable(QStringLiteral("MW8"), DT_Int16, shorts({0x5a5a})).resultCode, 0);
        QCOMPARE(sim->server()->readImage(kM, 8, 2), QByteArray::fromHex("5a5a"));
    }
}

void TestFaults::controllerFaults_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<int>("op");
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("defaultWait");
    QTest::addColumn<QString>("reason"); // what a failed read's label and the log say, in English

    struct Row {
        const char *name;
        SimFault fault;
        int code;
        bool slow; // waits out the whole exchange time: run once per transport, for reads
        bool readsOnly = false; // a field only read replies carry
    };
    // A fault with one thing set.
    auto with = [](void (*set)(SimFault &)) {
        SimFault f;
        set(f);
        return f;
    };
    // A fault that rewrites `bytes` at `at` of the reply as shaped so far.
    auto patching = [](int at, QByteArray bytes) {
        SimFault f;
        f.reshape = [at, bytes](const QByteArray &, const QByteArray &reply) {
            return QByteArray(reply).replace(at, bytes.size(), bytes);
        };
        return f;
    };
    // What happened, as the driver words it in English.
    const QString noReply = QStringLiteral("no reply within 300 ms");
    const QString wrong =
        QStringLiteral("a reply that does not answer the request: its command, flags or lengths differ");
    const QString partly = QStringLiteral("only part of the reply came within 300 ms");
    const QString tooLong =
        QStringLiteral("the reply's announced length does not fit the request: more than it "
                       "asked for, or impossible");
    const QMap<QString, QString> reasons = {
        {"late beyond the exchange time", noReply},
        {"another invoke id", noReply},
        {"AMS error code", QStringLiteral("AMS error 0x700: general device error")},
        {"AMS error low byte",
         QStringLiteral("AMS error 0x6: target port not found: no ADS server (runtime) on that AMS port")},
        {"ADS result", QStringLiteral("controller error 0x701: service not supported by the server")},
        {"truncated, lengths consistent", wrong},
        {"truncated into the header", partly},
        {"cut, lengths claim more", partly},
        {"padded, lengths consistent", tooLong},
        {"announces far more than it carries", tooLong},
        {"announces nothing", tooLong},
        {"no reply", noReply},
        {"garbage instead of a reply", noReply},
        {"another command", wrong},
        {"no response flag", wrong},
        {"AMS data length disagrees", tooLong},
        {"ADS length disagrees", wrong},
        {"announces 1000 bytes more than it carries", tooLong},
    };
    const QList<Row> rows = {
        {"late within the exchange time", with([](SimFault &f) { f.delayMs = kShortWaitMs / 4; }), 0, false},
        {"late beyond the exchange time", with([](SimFault &f) { f.delayMs = kShortWaitMs + 250; }), 8, true},
        {"pieces with pauses", with([](SimFault &f) {
             f.splitAt = {3, 20, 40};
             f.pauseMs = 30;
         }),
         0, false},
        // Strangers are skipped: the request's own reply never came.
        {"another invoke id", with([](SimFault &f) { f.otherInvokeId = true; }), 8, true},
        {"AMS error code", with([](SimFault &f) { f.amsError = 0x700; }), 7, false},
        {"AMS error low byte", with([](SimFault &f) { f.amsError = 0x6; }), 7, false},
        {"ADS result", with([](SimFault &f) { f.adsResult = 0x701; }), 7, false},
        {"truncated, lengths consistent", with([](SimFault &f) { f.truncateBy = 1; }), 7, false},
        {"truncated into the header", with([](SimFault &f) { f.truncateBy = 30; }), 7, true},
        {"cut, lengths claim more", with([](SimFault &f) { f.cutBy = 2; }), 7, true},
        {"padded, lengths consistent", with([](SimFault &f) { f.padBy = 3; }), 7, false},
        {"announces far more than it carries", with([](SimFault &f) { f.announce = 0x7ffffff0; }), 7, false},
        {"announces nothing", with([](SimFault &f) { f.announce = 0; }), 7, true},
        {"no reply", with([](SimFault &f) { f.noAnswer = true; }), 8, true},
        // Bytes that are no frame are skipped up to the next plausible header.
        {"unasked bytes ahead of the reply",
         with([](SimFault &f) { f.before = QByteArray::fromHex("deadbeef"); }), 0, false},
        {"garbage instead of a reply", with([](SimFault &f) { f.rawReply = QByteArray(60, '\xff'); }), 8,
         true},
        {"a stray byte ahead of the reply", with([](SimFault &f) { f.before = QByteArray(1, '\x01'); }), 0,
         false},
        {"a stray zero byte ahead of the reply", with([](SimFault &f) { f.before = QByteArray(1, '\0'); }), 0,
         false},
        // A reply counts only on full evidence.
        {"another command", patching(22, QByteArray::fromHex("0900")), 7, false},
        {"no response flag", patching(24, QByteArray::fromHex("0400")), 7, false},
        {"AMS data length disagrees", patching(26, QByteArray::fromHex("01000000")), 7, false},
        {"ADS length disagrees", patching(42, QByteArray::fromHex("01000000")), 7, false, true},
        {"announces 1000 bytes more than it carries", patching(2, QByteArray::fromHex("00040000")), 7, false},
        {"the request echoed ahead of the reply", with([](SimFault &f) {
             f.reshape = [](const QByteArray &request, const QByteArray &reply) { return request + reply; };
         }),
         0, false},
    };

    for (bool serial : {false, true}) {
        for (Op op : {Read, Write}) {
            for (const Row &r : rows) {
                if ((r.slow || r.readsOnly) && op == Write && QByteArray(r.name) != "no reply")
                    continue;
                const int code = r.code;
                QTest::newRow(
                    qPrintable(QStringLiteral("%1 %2 %3")
                                   .arg(serial ? "serial" : "tcp", op == Read ? "read" : "write", r.name)))
                    << serial << int(op) << r.fault << code << false
                    << reasons.value(QString::fromLatin1(r.name));
            }
        }
        // The wait a host gets without choosing one: 2050 ms.
        QTest::newRow(
            qPrintable(QStringLiteral("%1 read no reply, the default wait").arg(serial ? "serial" : "tcp")))
            << serial << int(Read) << with([](SimFault &f) { f.noAnswer = true; }) << int(kNoReply) << true
            << QStringLiteral("no reply within 2050 ms");
    }
}

void TestFaults::controllerFaults()
{
    QFETCH(bool, serial);
    QFETCH(int, op);
    QFETCH(SimFault, fault);
    QFETCH(int, code);
    QFETCH(bool, defaultWait);
    QFETCH(QString, reason);
    QVERIFY(connectTo(serial, defaultWait));
    sim->server()->pushFault(fault);
    if (op == Read) {
        LogCapture log;
        const CLabelVariable r = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16, 4);
        QCOMPARE(r.resultCode, code);
        QCOMPARE(r.auxText, reason);
        if (code != 0) // the warning is followed by the same words
            QVERIFY2(log.warnings().last().endsWith(QStringLiteral(" MW0: ") + reason),
                     qPrintable(log.warnings().join('\n')));
        QCOMPARE(r.value.isValid(), code == 0);
        QCOMPARE(r.timeStamp.isValid(), code == 0);
        if (code == 0)
            QCOMPARE(r.value.value<QList<short>>().size(), 4);
    } else {
        const CLabelVariable host = shorts({1, 2});
        const CLabelVariable w = driver->WriteVariable(QStringLiteral("MW0"), DT_Int16, host, 2);
        QCOMPARE(w.resultCode, code);
        QCOMPARE(w.timeStamp == host.timeStamp, code != 0);
        QCOMPARE(w.value.value<QList<short>>(), (QList<short>{1, 2}));
        sim->server()->writeImage(kM, 0, kImage);
    }
    expectRecovery(Op(op));
    expectRecovery(op == Read ? Write : Read);
}

void TestFaults::replySplitAtEveryByte()
{
    QVERIFY(connectTo(false));
    const int replySize = 46 + 8;
    for (int cut = 1; cut < replySize; ++cut) {
        SimFault split;
        split.splitAt = {cut};
        sim->server()->pushFault(split);
        const CLabelVariable r = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16, 4);
        QVERIFY2(r.resultCode == 0, qPrintable(QStringLiteral("cut at %1").arg(cut)));
    }
    for (int cut = 1; cut < 42; ++cut) {
        SimFault split;
        split.splitAt = {cut};
        sim->server()->pushFault(split);
        QVERIFY2(driver->WriteVariable(QStringLiteral("MW8"), DT_Int16, shorts({7})).resultCode == 0,
                 qPrintable(QStringLiteral("cut at %1").arg(cut)));
    }
}

void TestFaults::lateReplyWhileTheNextRequestWaits_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<int>("op");
    QTest::newRow("tcp read") << false << int(Read);
    QTest::newRow("tcp write") << false << int(Write);
    QTest::newRow("serial read") << true << int(Read);
    QTest::newRow("serial write") << true << int(Write);
}

void TestFaults::lateReplyWhileTheNextRequestWaits()
{
    QFETCH(bool, serial);
    QFETCH(int, op);
    QVERIFY(connectTo(serial));
    SimFault late;
    late.delayMs = kShortWaitMs + 200; // comes while the next request waits
    SimFault slow;
    slow.delayMs = kShortWaitMs / 4;
    sim->server()->pushFault(late);
    sim->server()->pushFault(slow);
    if (op == Read) {
        QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DT_Int16, 4).resultCode, 8);
        expectRecovery(Read);
    } else {
        QCOMPARE(driver->WriteVariable(QStringLiteral("MW0"), DT_Int16, shorts({9})).resultCode, 8);
        expectRecovery(Write);
    }
}

void TestFaults::connectionClosedMidReply_data()
{
    QTest::addColumn<bool>("serial");
    QTest::newRow("tcp") << false;
    QTest::newRow("serial") << true;
}

// The connection does not survive: the failed exchange ends, the next one
// finds the link down, and a new connect recovers. A pseudo-terminal's
// hang-up discards what the line still held: the part of the reply is seen
// (7) only when the driver took it before the hang-up, else nothing came (8).
void TestFaults::connectionClosedMidReply()
{
    QFETCH(bool, serial);
    QVERIFY(connectTo(serial));
    SimFault close;
    close.closeAfter = 30;
    sim->server()->pushFault(close);
    const CLabelVariable r = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16, 4);
    if (serial)
        QVERIFY2(r.resultCode == kNoReply || r.resultCode == kWrongReply,
                 qPrintable(QString::number(r.resultCode)));
    else
        QCOMPARE(r.resultCode, kWrongReply);
    QVERIFY(!r.value.isValid());
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DT_Int16, 4).resultCode, 9);
    if (serial) {
        QVERIFY(sim->startPty()); // the controller's end went away with its pseudo-terminal
        QVERIFY(connectTo(true));
    } else {
        QVERIFY(connectTo(false));
    }
    expectRecovery(Read);
}

void TestFaults::listenerThatNeverAnswers()
{
    QTcpServer mute;
    QVERIFY(mute.listen(QHostAddress::LocalHost));
    QCOMPARE(driver->SetConnectPar(QString::fromLatin1(kShortWaits)), 851);
    QCOMPARE(driver->ConnectDrive(QStringLiteral("127.0.0.1:%1").arg(mute.serverPort())), 0);
    const CLabelVariable r = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16);
    QCOMPARE(r.resultCode, 8);
    QVERIFY(!r.value.isValid());
    QVERIFY(connectTo(false));
    expectRecovery(Read);
}

void TestFaults::portWhereNothingListens()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    QCOMPARE(driver->ConnectDrive(QStringLiteral("127.0.0.1:%1").arg(port)), -3);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode, 9);
    QCOMPARE(driver->WriteVariable(QStringLiteral("MW0"), DT_Int16, shorts({1})).resultCode, 9);
    QVERIFY(connectTo(false));
    expectRecovery(Read);
}

void TestFaults::connectionTextsRefused_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code");
    // Every one is refused before a connection is tried; the addresses are
    // loopback, so that a text wrongly taken connects nowhere else.
    QTest::newRow("no separator") << "127.0.0.1" << -4;
    QTest::newRow("empty") << "" << -4;
    QTest::newRow("semicolon") << "127.0.0.1;48898" << -1;
    QTest::newRow("lone semicolon") << ";" << -1;
    QTest::newRow("port not a number") << "127.0.0.1:abc" << -1;
    QTest::newRow("port zero") << "127.0.0.1:0" << -1;
    QTest::newRow("port above 65535") << "127.0.0.1:70000" << -1;
    QTest::newRow("negative port") << "127.0.0.1:-5" << -1;
    QTest::newRow("no address") << ":48898" << -1;
    QTest::newRow("host name") << "plc.example:48898" << -1;
    QTest::newRow("serial, no port name") << ",9600,8,1,N" << -1;
    QTest::newRow("serial, baud 0") << "ttyS0,0,8,1,N" << -1;
    QTest::newRow("serial, stop bits 0") << "ttyS0,9600,8,0,N" << -1;
    QTest::newRow("serial, unlisted baud") << "/dev/null,9601,8,1,N" << -1;
    QTest::newRow("serial, data bits 9") << "/dev/null,9600,9,1,N" << -1;
    QTest::newRow("serial, parity X") << "/dev/null,9600,8,1,X" << -1;
    QTest::newRow("serial, 1.5 stop bits") << "/dev/null,9600,8,3,N" << -1;
    QTest::newRow("serial, fields repeated") << "ttyS0,9600" << -1;
    QTest::newRow("serial, no such port") << "/dev/no-such-port,9600,8,1,N" << -1;
    QTest::newRow("comma wins") << "a,b:c" << -1;
}

void TestFaults::connectionTextsRefused()
{
    QFETCH(QString, text);
    QFETCH(int, code);
    QCOMPARE(driver->ConnectDrive(text), code);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode, 9);
}

void TestFaults::hostNonsense()
{
    QVERIFY(connectTo(false));
    const int before = sim->server()->requestCount();
    for (int count : {0, -1, INT_MIN})
        QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DT_Int16, count).resultCode, 4);
    for (int count : {INT_MAX, 268435451})
        QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DT_Double, count).resultCode, 5);
    for (int count : {0, -1, INT_MIN})
        QCOMPARE(driver->WriteVariable(QStringLiteral("MW0"), DT_Int16, shorts({1}), count).resultCode, 4);
    for (int count : {65536, INT_MAX})
        QCOMPARE(driver->WriteVariable(QStringLiteral("MW0"), DT_Int16, shorts({1}), count).resultCode, 5);
    // The count is refused before the type.
    QCOMPARE(driver->WriteVariable(QStringLiteral("MW0"), DT_None, shorts({1}), 65536).resultCode, 5);
    QCOMPARE(driver->WriteVariable(QStringLiteral("MW0"), DT_Int16, shorts({1}), 2).resultCode, 5);
    CLabelVariable wrongList;
    wrongList.value = QVariant::fromValue(QList<int>{1});
    QCOMPARE(driver->WriteVariable(QStringLiteral("MW0"), DT_Int16, wrongList).resultCode, 2);
    for (int type : {0, -1, 12, 13, 41, INT_MAX})
        QCOMPARE(driver->WriteVariable(QStringLiteral("MW0"), DataType(type), shorts({1})).resultCode, 2);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DT_None).resultCode, 2);
    const QStringList refused = {QStringLiteral("MBxyz"),
                                 QStringLiteral("MB"),
                                 QStringLiteral("MAIN:10"),
                                 QStringLiteral("20:1A.5"),
                                 QStringLiteral("MX.3"),
                                 QStringLiteral("M.5"),
                                 QStringLiteral("5:1234"),
                                 QStringLiteral("DB20"),
                                 QString(),
                                 QStringLiteral("\u00b5\u0000\uffff"),
                                 QString(10000, QLatin1Char('9'))};
    for (const QString &address : refused) {
        QCOMPARE(driver->ReadVariable(address, DT_Int16).resultCode, 3);
        QCOMPARE(driver->WriteVariable(address, DT_Int16, shorts({1})).resultCode, 3);
    }
    QCOMPARE(driver->ReadVariable(QStringLiteral("MB-1"), DT_Int16).resultCode, 5);
    QCOMPARE(sim->server()->requestCount(), before);
    // Types the read path has no decoder for still go out, for 0 bytes.
    for (int type : {-1, 12, 13, 41})
        QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DataType(type)).resultCode, 2);
    expectRecovery(Read);
}

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
