// Reading and writing through the host's view - the plug-in loaded with
// dlopen, every call through CDriveBaseClass - against the simulated
// controller, over TCP and over a pseudo-terminal.
#include "host/PluginHandle.h"
#include "link/AdsLayout.h"
#include "sim/SimController.h"
#include "sim/SimServer.h"
#include "tests/TestSupport.h"

#include <QTimer>
#include <QtTest>

#include <cfloat>
#include <climits>

using namespace TestSupport;

namespace {
const quint32 kM = 0x4020;

template <typename T>
CLabelVariable labelOf(const QList<T> &values)
{
    CLabelVariable v;
    v.value = QVariant::fromValue(values);
    v.auxNumber = 42;
    v.auxText = QStringLiteral("host's own");
    return v;
}
} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void everyTypeWrittenAndReadBack_data();
    void everyTypeWrittenAndReadBack();
    void bitsAreSingleBitsOfTheImage_data();
    void bitsAreSingleBitsOfTheImage();
    void explicitFormUsesTheGroupItNames();
    void largeReadsAndWrites();
    void refusalsSendNothing();
    void valuesThatCannotFillTheRequest();
    void errorsTheControllerReports();
    void noReplyAndLinkDown();
    void amsPortReachesTheController();
    void frameTraceLines();
    void reentrantCallIsRefused_data();
    void reentrantCallIsRefused();

private:
    CDriveBaseClass *connected(bool serial);
    PluginHandle plugin;
    SimController *sim = nullptr;
    CDriveBaseClass *driver = nullptr;
};

void TestEndToEnd::initTestCase()
{
    // So that labels' values compare by their elements.
    QMetaType::registerEqualsComparator<QList<bool>>();
    QMetaType::registerEqualsComparator<QList<char>>();
    QMetaType::registerEqualsComparator<QList<unsigned char>>();
    QMetaType::registerEqualsComparator<QList<short>>();
    QMetaType::registerEqualsComparator<QList<unsigned short>>();
    QMetaType::registerEqualsComparator<QList<int>>();
    QMetaType::registerEqualsComparator<QList<unsigned int>>();
    QMetaType::registerEqualsComparator<QList<float>>();
    QMetaType::registerEqualsComparator<QList<long long>>();
    QMetaType::registerEqualsComparator<QList<unsigned long long>>();
    QMetaType::registerEqualsComparator<QList<double>>();
    QVERIFY2(plugin.load(pluginPath()), qPrintable(plugin.errorString()));
}

void TestEndToEnd::init()
{
    sim = new SimController;
    QVERIFY(sim->startTcp());
    QVERIFY(sim->startPty());
}

void TestEndToEnd::cleanup()
{
    PluginHandle::dispose(driver);
    driver = nullptr;
    delete sim;
    sim = nullptr;
}

CDriveBaseClass *TestEndToEnd::connected(bool serial)
{
    driver = plugin.create();
    if (driver->SetConnectPar(QString::fromLatin1(kShortWaits)) != 851)
        return nullptr;
    const int rc = driver->ConnectDrive(serial ? sim->serialConnectionText() : sim->connectionText());
    return rc == 0 ? driver : nullptr;
}

void TestEndToEnd::everyTypeWrittenAndReadBack_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<int>("type");
    QTest::addColumn<QVariant>("values");
    QTest::addColumn<QByteArray>("wire"); // the bytes the controller holds afterwards

    struct Row {
        const char *name;
        int type;
        QVariant values;
        QByteArray wire;
    };
    const QList<Row> rows = {
        {"bool", DT_Bool, QVariant::fromValue(QList<bool>{true}), hex("01")},
        {"bool array", DT_Bool,
         QVariant::fromValue(QList<bool>{true, false, true, true, false, false, false, false, true}),
         hex("01 00 01 01 00 00 00 00 01")},
        {"int8", DT_Int8, QVariant::fromValue(QList<char>{-128}), hex("80")},
        {"int8 array", DT_Int8, QVariant::fromValue(QList<char>{-1, 0, 127}), hex("ff 00 7f")},
        {"uint8", DT_UInt8, QVariant::fromValue(QList<unsigned char>{255}), hex("ff")},
        {"int16", DT_Int16, QVariant::fromValue(QList<short>{-2}), hex("fe ff")},
        {"int16 array", DT_Int16, QVariant::fromValue(QList<short>{4660, -32768, 32767}),
         hex("34 12 00 80 ff 7f")},
        {"uint16 array", DT_UInt16, QVariant::fromValue(QList<unsigned short>{1, 65535}), hex("01 00 ff ff")},
        {"int32", DT_Int32, QVariant::fromValue(QList<int>{1}), hex("01 00 00 00")},
        {"int32 array", DT_Int32, QVariant::fromValue(QList<int>{INT_MIN, -1}),
         hex("00 00 00 80 ff ff ff ff")},
        {"uint32", DT_UInt32, QVariant::fromValue(QList<unsigned int>{4294967294u}), hex("fe ff ff ff")},
        {"float array", DT_Float, QVariant::fromValue(QList<float>{1.0f, -0.0f, FLT_MAX}),
         hex("00 00 80 3f 00 00 00 80 ff ff 7f 7f")},
        {"int64", DT_Int64, QVariant::fromValue(QList<long long>{LLONG_MIN}), hex("00 00 00 00 00 00 00 80")},
        {"uint64 array", DT_UInt64, QVariant::fromValue(QList<unsigned long long>{1, ULLONG_MAX}),
         hex("01 00 00 00 00 00 00 00 ff ff ff ff ff ff ff ff")},
        {"double", DT_Double, QVariant::fromValue(QList<double>{1.0}), hex("00 00 00 00 00 00 f0 3f")},
        {"double array", DT_Double, QVariant::fromValue(QList<double>{-2.5, DBL_MIN}),
         hex("00 00 00 00 00 00 04 c0 00 00 00 00 00 00 10 00")},
    };
    for (bool serial : {false, true}) {
        for (const Row &r : rows) {
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(serial ? "serial" : "tcp", r.name)))
                << serial << r.type << r.values << r.wire;
        }
    }
}

void TestEndToEnd::everyTypeWrittenAndReadBack()
{
    QFETCH(bool, serial);
    QFETCH(int, type);
    QFETCH(QVariant, values);
    QFETCH(QByteArray, wire);
    QVERIFY(connected(serial));
    const int count = wire.size() / qMax(1, QList<int>{0, 1, 1, 1, 2, 2, 4, 4, 4, 8, 8, 8}.at(type));
    CLabelVariable v;
    v.value = values;
    v.auxNumber = 42;
    const CLabelVariable w = driver->WriteVariable(QStringLiteral("MW20"), DataType(type), v, count);
    QCOMPARE(w.resultCode, 0);
    QVERIFY(w.timeStamp.isValid());
    QCOMPARE(w.auxNumber, 42);
    QCOMPARE(w.value, values); // nothing is read back into the host's label
    QCOMPARE(sim->server()->readImage(kM, 0x20, wire.size()), wire);

    const CLabelVariable r = driver->ReadVariable(QStringLiteral("MW20"), DataType(type), count);
    QCOMPARE(r.resultCode, 0);
    QCOMPARE(r.value, values);
    QCOMPARE(r.count, count);
    QCOMPARE(int(r.type), type);
    QCOMPARE(r.name, QStringLiteral("MW20"));
    QCOMPARE(r.accessStatus, 1);
    QVERIFY(r.timeStamp.isValid());
}

void TestEndToEnd::bitsAreSingleBitsOfTheImage_data()
{
    QTest::addColumn<bool>("serial");
    QTest::newRow("tcp") << false;
    QTest::newRow("serial") << true;
}

void TestEndToEnd::bitsAreSingleBitsOfTheImage()
{
    QFETCH(bool, serial);
    QVERIFY(connected(serial));
    sim->server()->writeImage(kM, 10, hex("00"));
    CLabelVariable w = driver->WriteVariable(QStringLiteral("MX10.3"), DT_Bool, labelOf(QList<bool>{true}));
    QCOMPARE(w.resultCode, 0);
    const QByteArray sent = sim->server()->requests().last();
    QCOMPARE(le32(sent, AdsLayout::OffIndexGroup), 0x4021u);
    QCOMPARE(le32(sent, AdsLayout::OffIndexOffset), 83u);
    QCOMPARE(sent.mid(AdsLayout::ReadRequestSize), hex("01"));
    QCOMPARE(sim->server()->readImage(kM, 10, 1), hex("08"));

    sim->server()->writeImage(0xF030, 1, hex("05"));
    const CLabelVariable q = driver->ReadVariable(QStringLiteral("QX1.0"), DT_Bool, 3);
    QCOMPARE(q.resultCode, 0);
    QCOMPARE(q.value.value<QList<bool>>(), (QList<bool>{true, false, true}));
    sim->server()->writeImage(0xF020, 2, hex("02"));
    QCOMPARE(driver->ReadVariable(QStringLiteral("IX2.1"), DT_Bool).value.value<QList<bool>>(),
             QList<bool>{true});
}

void TestEndToEnd::explicitFormUsesTheGroupItNames()
{
    QVERIFY(connected(false));
    sim->server()->writeImage(0xF030, 0x10, hex("0a 0b"));
    const CLabelVariable r = driver->ReadVariable(QStringLiteral("F030:10"), DT_UInt8, 2);
    QCOMPARE(r.value.value<QList<unsigned char>>(), (QList<unsigned char>{10, 11}));
    QCOMPARE(le32(sim->server()->requests().last(), 38), 0xF030u);

    QCOMPARE(driver->WriteVariable(QStringLiteral("F030:10"), DT_UInt8, labelOf(QList<unsigned char>{7}))
                 .resultCode,
             0);
    // A write lands where the host said, not in another group.
    QCOMPARE(le32(sim->server()->requests().last(), 38), 0xF030u);
    QCOMPARE(sim->server()->readImage(0xF030, 0x10, 2), hex("07 0b"));
    QCOMPARE(driver->ReadVariable(QStringLiteral("F030:10"), DT_UInt8).value.value<QList<unsigned char>>(),
             QList<unsigned char>{7});
}

void TestEndToEnd::largeReadsAndWrites()
{
    QVERIFY(connected(false));
    QList<double> many;
    for (int i = 0; i < 65535; ++i)
        many << i * 0.5;
    QCOMPARE(driver->WriteVariable(QStringLiteral("MB0"), DT_Double, labelOf(many), 65535).resultCode, 0);
    QCOMPARE(driver->WriteVariable(QStringLiteral("MB0"), DT_Double, labelOf(many), 65536).resultCode, 5);

    QByteArray image(800000, '\0');
    for (int i = 0; i < image.size(); ++i)
        image[i] = char(i * 7);
    sim->server()->writeImage(kM, 0x1000, image);
    const CLabelVariable r = driver->ReadVariable(QStringLiteral("MB1000"), DT_Double, 100000);
    QCOMPARE(r.resultCode, 0);
    const QList<double> got = r.value.value<QList<double>>();
    QCOMPARE(got.size(), 100000);
    QByteArray back(800000, '\0');
    for (int i = 0; i < got.size(); ++i)
        memcpy(back.data() + 8 * i, &got.at(i), 8); // the platform is little-endian, as the wire
    QVERIFY(back == image);
}

void TestEndToEnd::refusalsSendNothing()
{
    QVERIFY(connected(false));
    struct Case {
        const char *address;
        int type;
        int count;
        int readCode; // -1: not refused, the request goes out
        int writeCode;
    };
    const Case cases[] = {
        {"MW10", DT_Int16, 0, 4, 4},
        {"MW10", DT_Int16, -7, 4, 4},
        {"DB20", DT_Int16, 1, 3, 3},
        {"MB-10", DT_Int16, 1, 5, 5},
        {"MB10", DT_None, 1, 2, 2},
        {"MBxyz", DT_Int16, 1, 3, 3},
        {"MB", DT_Int16, 1, 3, 3},
        {"MAIN:10", DT_Int16, 1, 3, 3},
        {"20:1A.5", DT_Int16, 1, 3, 3},
        {"MX.3", DT_Bool, 1, 3, 3},
        {"M.5", DT_Bool, 1, 3, 3},
        {"5:1234", DT_Int16, 1, 3, 3},
        {"MB10", DT_Double, 268435451, 5, 5}, // the reply's length would overflow an int
        {"MB10", DataType(17), 1, -1, 2}, // a read asks for 0 bytes, a write has no encoder
    };
    for (const Case &c : cases) {
        const QString address = QString::fromLatin1(c.address);
        int before = sim->server()->requestCount();
        const CLabelVariable r = driver->ReadVariable(address, DataType(c.type), c.count);
        QCOMPARE(r.name, address);
        QCOMPARE(r.count, c.count);
        QCOMPARE(int(r.type), c.type);
        if (c.readCode >= 0) {
            QVERIFY2(r.resultCode == c.readCode, c.address);
            QCOMPARE(sim->server()->requestCount(), before);
            QVERIFY(!r.value.isValid());
            QVERIFY(r.timeStamp.isNull());
        }
        before = sim->server()->requestCount();
        const CLabelVariable w =
            driver->WriteVariable(address, DataType(c.type), labelOf(QList<short>{1}), c.count);
        QVERIFY2(w.resultCode == c.writeCode, c.address);
        QCOMPARE(sim->server()->requestCount(), before);
        QVERIFY(w.timeStamp.isNull());
        QCOMPARE(w.auxText, QStringLiteral("host's own"));
        QCOMPARE(w.auxNumber, 42);
        QCOMPARE(w.name, address);
        QCOMPARE(w.count, c.count);
    }
    // The group is the text before the ":", for writes as for reads.
    QCOMPARE(driver->WriteVariable(QStringLiteral("ZZ:10"), DT_Int16, labelOf(QList<short>{1})).resultCode,
             3);
    QCOMPARE(driver->ReadVariable(QStringLiteral("ZZ:10"), DT_Int16).resultCode, 3);

    // A type with no width at an address has nothing to ask for: 2, nothing sent.
    const int before = sim->server()->requestCount();
    for (const int type : {int(DT_String), 13, -1}) {
        const CLabelVariable s = driver->ReadVariable(QStringLiteral("MB10"), DataType(type));
        QCOMPARE(s.resultCode, 2);
        QVERIFY(!s.value.isValid());
    }
    QCOMPARE(sim->server()->requestCount(), before);
}

void TestEndToEnd::valuesThatCannotFillTheRequest()
{
    QVERIFY(connected(false));
    const int before = sim->server()->requestCount();
    // Another list type than the type names: 2.
    QCOMPARE(driver->WriteVariable(QStringLiteral("MW0"), DT_Int32, labelOf(QList<short>{1})).resultCode, 2);
    CLabelVariable scalar;
    scalar.value = 5;
    QCOMPARE(driver->WriteVariable(QStringLiteral("MW0"), DT_Int32, scalar).resultCode, 2);
    QCOMPARE(driver->WriteVariable(QStringLiteral("MW0"), DT_Int32, CLabelVariable()).resultCode, 2);
    QCOMPARE(driver->WriteVariable(QStringLiteral("MW0"), DT_String, labelOf(QList<QString>{"x"})).resultCode,
             2);
    // Fewer elements than the count: 5.
    QCOMPARE(
        driver->WriteVariable(QStringLiteral("MW0"), DT_Int16, labelOf(QList<short>{1, 2}), 3).resultCode, 5);
    QCOMPARE(sim->server()->requestCount(), before);
}

void TestEndToEnd::errorsTheControllerReports()
{
    QVERIFY(connected(false));
    LogCapture log;
    SimFault adsError;
    adsError.adsResult = 0x710;
    sim->server()->pushFault(adsError);
    const CLabelVariable r = driver->ReadVariable(QStringLiteral("MW10"), DT_Int16);
    QCOMPARE(r.resultCode, 7);
    QVERIFY(!r.value.isValid());
    QVERIFY(r.timeStamp.isNull());
    const QString prefix =
        QStringLiteral("lib[Beckhoff]报文返回错误码 127.0.0.1:%1 ID=851 MW10 len = 2 err = 0x710 msg : ")
            .arg(sim->tcpPort());
    QCOMPARE(log.warnings().size(), 2);
    QVERIFY2(log.warnings().first().startsWith(prefix), qPrintable(log.warnings().first()));
    const QString english =
        QStringLiteral("lib[Beckhoff]127.0.0.1:%1 ID=851 MW10: controller error 0x710: symbol not found")
            .arg(sim->tcpPort());
    QCOMPARE(log.warnings().last(), english);
    QCOMPARE(r.auxText, english.mid(english.indexOf(QStringLiteral("controller error")))); // and in the label
    const QByteArray reply = QByteArray::fromHex(log.warnings().first().mid(prefix.size()).toLatin1());
    QCOMPARE(reply.size(), 46);
    QCOMPARE(le32(reply, AdsLayout::OffAdsResult), 0x710u);

    // A write answered with an ADS error is a failure too.
    sim->server()->pushFault(adsError);
    CLabelVariable host = labelOf(QList<short>{1});
    host.timeStamp = QDateTime(QDate(2020, 1, 1), QTime(0, 0));
    const CLabelVariable w = driver->WriteVariable(QStringLiteral("MW10"), DT_Int16, host);
    QCOMPARE(w.resultCode, 7);
    QCOMPARE(w.timeStamp, host.timeStamp);

    // An AMS error with a zero low byte.
    SimFault amsError;
    amsError.amsError = 0x700;
    sim->server()->pushFault(amsError);
    log.clear();
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW10"), DT_Int16).resultCode, 7);
    QVERIFY(log.warnings().value(0).contains(QStringLiteral("err = 0x700 msg : ")));

    // A reply of the wrong length.
    SimFault shortReply;
    shortReply.truncateBy = 1;
    sim->server()->pushFault(shortReply);
    log.clear();
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW10"), DT_Int16).resultCode, 7);
    QCOMPARE(log.warnings().value(0).left(34),
             QStringLiteral("lib[Beckhoff]报文返回长度错误 127.0.0.1:%1").arg(sim->tcpPort()).left(34));

    // Recovery: the next request on the same connection is fine.
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW10"), DT_Int16).resultCode, 0);
}

void TestEndToEnd::noReplyAndLinkDown()
{
    QVERIFY(connected(false));
    LogCapture log;
    SimFault silent;
    silent.noAnswer = true;
    sim->server()->pushFault(silent);
    const CLabelVariable r = driver->ReadVariable(QStringLiteral("MW10"), DT_Int16);
    QCOMPARE(r.resultCode, 8);
    QVERIFY(r.timeStamp.isNull());
    QCOMPARE(
        log.warnings(),
        (QStringList{QStringLiteral("lib[Beckhoff]返回的报文长度为0 127.0.0.1:%1 ID=851 MW10 len = 2 msg : ")
                         .arg(sim->tcpPort()),
                     QStringLiteral("lib[Beckhoff]127.0.0.1:%1 ID=851 MW10: no reply within 300 ms")
                         .arg(sim->tcpPort())}));
    QCOMPARE(r.auxText, QStringLiteral("no reply within 300 ms"));
    sim->server()->pushFault(silent);
    log.clear();
    QCOMPARE(driver->WriteVariable(QStringLiteral("MW10"), DT_Int16, labelOf(QList<short>{1})).resultCode, 8);
    QVERIFY(log.warnings().isEmpty()); // a write without reply writes no line

    QCOMPARE(driver->DisConnectDrive(), 0);
    const int before = sim->server()->requestCount();
    const CLabelVariable down = driver->ReadVariable(QStringLiteral("MW10"), DT_Int16, 2);
    QCOMPARE(down.resultCode, 9);
    QCOMPARE(down.count, 2);
    QCOMPARE(down.auxText, QStringLiteral("link down: nothing was sent"));
    QCOMPARE(driver->WriteVariable(QStringLiteral("MW10"), DT_Int16, labelOf(QList<short>{1})).resultCode, 9);
    QCOMPARE(sim->server()->requestCount(), before);
    // Code 1 is where every label starts; no exchange ends with it.
    QCOMPARE(CLabelVariable().resultCode, 1);
}

void TestEndToEnd::amsPortReachesTheController()
{
    QVERIFY(connected(false));
    QCOMPARE(driver->SetConnectPar(QStringLiteral("852")), 852);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW10"), DT_Int16).resultCode, 7); // no such port there
    QCOMPARE(le16(sim->server()->requests().last(), 12), quint16(852));
    QCOMPARE(driver->SetConnectPar(QStringLiteral("not a port")), 0);
    QCOMPARE(driver->SetConnectPar(QStringLiteral("-1")), 0);
    QCOMPARE(driver->SetConnectPar(QStringLiteral("70000")), 0); // would reach port 4464
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851")), 851);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW10"), DT_Int16).resultCode, 0);
}

void TestEndToEnd::frameTraceLines()
{
    QVERIFY(connected(false));
    LogCapture log;
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW10"), DT_Int16).resultCode, 0);
    QVERIFY(log.all().isEmpty()); // trace off, success: nothing

    QCOMPARE(driver->DebugCmd(DC_StartDebug), QStringLiteral("StartDebug"));
    sim->server()->writeImage(kM, 0x10, hex("34 12"));
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW10"), DT_Int16).resultCode, 0);
    const QString at = QStringLiteral("127.0.0.1:%1").arg(sim->tcpPort());
    const QByteArray request = sim->server()->requests().last();
    QStringList lines = log.debugLines();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0),
             QStringLiteral("lib[Beckhoff]读命令 %1 ID=851 MW10 len = 2 msg : %2").arg(at, request.toHex()));
    QVERIFY(
        lines.at(1).startsWith(QStringLiteral("lib[Beckhoff]读响应 %1 ID=851 MW10 len = 2 msg : ").arg(at)));
    QVERIFY(lines.at(1).endsWith(QStringLiteral("02000000") + QStringLiteral("3412")));

    log.clear();
    QCOMPARE(driver->WriteVariable(QStringLiteral("MW10"), DT_Int16, labelOf(QList<short>{-2})).resultCode,
             0);
    lines = log.debugLines();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(0), QStringLiteral("lib[Beckhoff]写命令 %1 Area=MW10  len = 2 msg : %2")
                              .arg(at, sim->server()->requests().last().toHex()));
    QVERIFY(lines.at(1).startsWith(QStringLiteral("lib[Beckhoff]响应 %1 Area=MW10  len = 2 msg : ").arg(at)));
    QCOMPARE(lines.at(1).size() - lines.at(1).indexOf(QStringLiteral("msg : ")) - 6, 84); // 42 bytes

    QCOMPARE(driver->DebugCmd(DC_StopDebug), QStringLiteral("StopDebug"));
    log.clear();
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW10"), DT_Int16).resultCode, 0);
    QVERIFY(log.all().isEmpty());
}

// A host timer that fires while an exchange waits in its nested event loop
// must not start a second exchange on the same link, and is told "busy",
// not "link down": the link is up.
void TestEndToEnd::reentrantCallIsRefused_data()
{
    QTest::addColumn<QString>("parameters");
    QTest::newRow("polled") << QString::fromLatin1(kShortWaits);
    // MW0 subscribed first: a re-entrant read of it is refused, not served.
    QTest::newRow("from notifications") << QStringLiteral("851;reply-ms=300;notify-ms=50");
}

void TestEndToEnd::reentrantCallIsRefused()
{
    QFETCH(QString, parameters);
    QVERIFY(connected(false));
    QCOMPARE(driver->SetConnectPar(parameters), 851);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode, 0);
    SimFault slow;
    slow.noAnswer = true;
    sim->server()->pushFault(slow);
    int inner = -1;
    QTimer::singleShot(100,
                       [&]() { inner = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode; });
    const int before = sim->server()->requestCount();
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW10"), DT_Int16).resultCode, 8);
    QCOMPARE(inner, 6);
    QCOMPARE(sim->server()->requestCount(), before + 1);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW10"), DT_Int16).resultCode, 0);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
