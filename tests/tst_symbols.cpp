// Variables by name, through the host's view against the simulated
// controller: one lookup per name and connection, reads and writes at the
// place the controller names, and area addresses exactly as before.
#include "driver/AddressResolver.h"
#include "driver/SymbolAccess.h"
#include "driver/SymbolCache.h"
#include "driver/SymbolHandles.h"
#include "host/PluginHandle.h"
#include "link/AdsLayout.h"
#include "sim/SimController.h"
#include "sim/SimServer.h"
#include "tests/TestSupport.h"

#include <QtTest>

using namespace TestSupport;

namespace {
const quint32 kM = 0x4020;

// What the controller was asked since `from`.
QStringList kinds(SimServer *server, int from)
{
    return requestKinds(server->requests(), from);
}

const QString kLookup = QStringLiteral("lookup");
const QString kHandle = QStringLiteral("handle");
const QString kReadByHandle = QStringLiteral("read by handle");
const QString kWriteByHandle = QStringLiteral("write by handle");

CLabelVariable ints(QList<int> values)
{
    CLabelVariable v;
    v.value = QVariant::fromValue(values);
    return v;
}
} // namespace

class TestSymbols : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void oneLookupPerName();
    void lookupFrameAndTrace();
    void arraysAndIndexes();
    void unknownNameIsNotCached();
    void countBeyondTheSymbolIsRefused();
    void cacheDroppedByConnectDisconnectAndDestroy();
    void placesForgottenOnEveryChange_data();
    void placesForgottenOnEveryChange();
    void movedSymbolIsLookedUpAgain_data();
    void movedSymbolIsLookedUpAgain();
    void nameOverTheSerialLine();
    void areaAddressesUnchanged_data();
    void areaAddressesUnchanged();
    void unusualIndexesAreTheControllersToJudge();
    void cacheIsBounded();
    void typeRule_data();
    void typeRule();
    void typeRefusedWithoutADataRequest();
    void handlesGoBackAndStayBounded_data();
    void handlesGoBackAndStayBounded();

private:
    bool connectTo(bool serial);
    PluginHandle plugin;
    SimController *sim = nullptr;
    CDriveBaseClass *driver = nullptr;
};

void TestSymbols::initTestCase()
{
    QVERIFY2(plugin.load(pluginPath()), qPrintable(plugin.errorString()));
}

void TestSymbols::init()
{
    sim = new SimController;
    QVERIFY(sim->startTcp());
    QVERIFY(sim->startPty());
    SimServer *s = sim->server();
    s->addSymbol({QStringLiteral("MAIN.nCounter"), kM, 0x100, 4, QStringLiteral("DINT")});
    s->addSymbol({QStringLiteral("GVL.aTemps"), kM, 0x200, 40, QStringLiteral("ARRAY [0..9] OF REAL")});
    s->addSymbol({QStringLiteral("GVL.aTemps[3]"), kM, 0x20C, 4, QStringLiteral("REAL")});
    s->addSymbol({QStringLiteral(".bRun"), 0xF030, 0x4, 1, QStringLiteral("BOOL")});
    s->writeImage(kM, 0x100, hex("2a 00 00 00"));
    driver = plugin.create();
}

void TestSymbols::cleanup()
{
    PluginHandle::dispose(driver);
    driver = nullptr;
    delete sim;
    sim = nullptr;
}

bool TestSymbols::connectTo(bool serial)
{
    return driver->ConnectDrive(serial ? sim->serialConnectionText() : sim->connectionText()) == 0;
}

void TestSymbols::oneLookupPerName()
{
    QVERIFY(connectTo(false));
    CLabelVariable r = driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_Int32);
    QCOMPARE(r.resultCode, 0);
    QCOMPARE(r.value.value<QList<int>>(), QList<int>{42});
    QCOMPARE(r.name, QStringLiteral("MAIN.nCounter"));

    QCOMPARE(driver->WriteVariable(QStringLiteral("MAIN.nCounter"), DT_Int32, ints({-7})).resultCode, 0);
    QCOMPARE(sim->server()->readImage(kM, 0x100, 4), hex("f9 ff ff ff"));
    r = driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_Int32);
    QCOMPARE(r.value.value<QList<int>>(), QList<int>{-7});
    QCOMPARE(kinds(sim->server(), 0),
             (QStringList{kLookup, kHandle, kReadByHandle, kWriteByHandle, kReadByHandle}));
    const QByteArray handleRequest = sim->server()->requests().at(1);
    QCOMPARE(le32(handleRequest, AdsLayout::OffIndexOffset), 0u);
    QCOMPARE(le32(handleRequest, AdsLayout::OffRequestLength), 4u);
    QCOMPARE(handleRequest.mid(AdsLayout::ReadWriteRequestSize), QByteArray("MAIN.nCounter\0", 14));
    const QByteArray read = sim->server()->requests().at(2);
    QCOMPARE(le32(read, AdsLayout::OffIndexOffset), le32(sim->server()->requests().at(3), 42)); // one handle
    QCOMPARE(le32(read, AdsLayout::OffRequestLength), 4u);
    QCOMPARE(sim->server()->handleCount(), 1);

    // Controllers compare names without regard to case; the driver sends it as written.
    r = driver->ReadVariable(QStringLiteral("main.NCOUNTER"), DT_Int32);
    QCOMPARE(r.resultCode, 0);
    QCOMPARE(sim->server()->requests().at(5).mid(AdsLayout::ReadWriteRequestSize),
             QByteArray("main.NCOUNTER\0", 14));
}

void TestSymbols::lookupFrameAndTrace()
{
    QVERIFY(connectTo(false));
    LogCapture log;
    driver->DebugCmd(DC_StartDebug);
    QCOMPARE(driver->ReadVariable(QStringLiteral(".bRun"), DT_Bool).resultCode, 0);
    const QByteArray lookup = sim->server()->requests().at(0);
    QCOMPARE(lookup.size(), 54 + 6);
    QCOMPARE(le32(lookup, AdsLayout::OffTcpLength), 32u + 16 + 6); // AMS/TCP length
    QCOMPARE(le16(lookup, AdsLayout::OffCommand), quint16(9)); // ReadWrite
    QCOMPARE(le16(lookup, AdsLayout::OffStateFlags), quint16(4)); // request
    QCOMPARE(le32(lookup, AdsLayout::OffAmsLength), 16u + 6); // AMS data length
    QCOMPARE(le32(lookup, AdsLayout::OffIndexGroup), 0xF009u);
    QCOMPARE(le32(lookup, AdsLayout::OffIndexOffset), 0u);
    QCOMPARE(le32(lookup, AdsLayout::OffRequestLength), 0xFFFFu);
    QCOMPARE(le32(lookup, AdsLayout::OffWriteLength), 6u);
    QCOMPARE(lookup.mid(AdsLayout::ReadWriteRequestSize), QByteArray(".bRun\0", 6));
    const QString at = QStringLiteral("127.0.0.1:%1").arg(sim->tcpPort());
    const QStringList lines = log.debugLines();
    QCOMPARE(lines.size(), 6);
    QCOMPARE(
        lines.at(0),
        QStringLiteral("lib[Beckhoff]读命令 %1 ID=851 .bRun len = 65535 msg : %2").arg(at, lookup.toHex()));
    QVERIFY(lines.at(1).startsWith(
        QStringLiteral("lib[Beckhoff]读响应 %1 ID=851 .bRun len = 65535 msg : ").arg(at)));
    QVERIFY(
        lines.at(2).startsWith(QStringLiteral("lib[Beckhoff]读命令 %1 ID=851 .bRun len = 4 msg : ").arg(at)));
    QVERIFY(
        lines.at(4).startsWith(QStringLiteral("lib[Beckhoff]读命令 %1 ID=851 .bRun len = 1 msg : ").arg(at)));
    QCOMPARE(le32(sim->server()->requests().at(1), 38), 0xF003u);
    QCOMPARE(le32(sim->server()->requests().at(2), 38), 0xF005u);
}

void TestSymbols::arraysAndIndexes()
{
    QVERIFY(connectTo(false));
    QList<float> temps;
    for (int i = 0; i < 10; ++i)
        temps << 20.5f + i;
    CLabelVariable v;
    v.value = QVariant::fromValue(temps);
    QCOMPARE(driver->WriteVariable(QStringLiteral("GVL.aTemps"), DT_Float, v, 10).resultCode, 0);
    CLabelVariable r = driver->ReadVariable(QStringLiteral("GVL.aTemps[3]"), DT_Float);
    QCOMPARE(r.resultCode, 0);
    QCOMPARE(r.value.value<QList<float>>(), QList<float>{23.5f});
    // Fewer elements than the symbol holds: its head.
    r = driver->ReadVariable(QStringLiteral("GVL.aTemps"), DT_Float, 2);
    QCOMPARE(r.value.value<QList<float>>(), (QList<float>{20.5f, 21.5f}));
    r = driver->ReadVariable(QStringLiteral("GVL.aTemps"), DT_Float, 10);
    QCOMPARE(r.value.value<QList<float>>(), temps);
    QCOMPARE(kinds(sim->server(), 0), (QStringList{kLookup, kHandle, kWriteByHandle, kLookup, kHandle,
                                                   kReadByHandle, kReadByHandle, kReadByHandle}));
}

void TestSymbols::unknownNameIsNotCached()
{
    QVERIFY(connectTo(false));
    LogCapture log;
    const CLabelVariable r = driver->ReadVariable(QStringLiteral("MAIN.nMissing"), DT_Int32);
    QCOMPARE(r.resultCode, 7);
    QVERIFY(!r.value.isValid());
    QCOMPARE(log.warnings().size(), 2);
    QVERIFY(log.warnings().first().startsWith(
        QStringLiteral(
            "lib[Beckhoff]报文返回错误码 127.0.0.1:%1 ID=851 MAIN.nMissing len = 65535 err = 0x710 msg : ")
            .arg(sim->tcpPort())));
    QCOMPARE(r.auxText, QStringLiteral("controller error 0x710: symbol not found"));
    QCOMPARE(driver->WriteVariable(QStringLiteral("MAIN.nMissing"), DT_Int32, ints({1})).resultCode, 7);
    QCOMPARE(kinds(sim->server(), 0), (QStringList{kLookup, kLookup}));
    // Refused before any lookup: a value that cannot fill the request.
    QCOMPARE(driver->WriteVariable(QStringLiteral("MAIN.nCounter"), DT_Int32, ints({})).resultCode, 5);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_Int32, 0).resultCode, 4);
    QCOMPARE(sim->server()->requestCount(), 2);
}

void TestSymbols::countBeyondTheSymbolIsRefused()
{
    QVERIFY(connectTo(false));
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_Int32, 2).resultCode, 5);
    QCOMPARE(driver->WriteVariable(QStringLiteral("MAIN.nCounter"), DT_Int32, ints({1, 2}), 2).resultCode, 5);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_UInt8, 5).resultCode, 5);
    // The lookup and the handle only, then what they told.
    QCOMPARE(kinds(sim->server(), 0), (QStringList{kLookup, kHandle}));
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_UInt8, 3).resultCode, 0);
}

void TestSymbols::cacheDroppedByConnectDisconnectAndDestroy()
{
    QVERIFY(connectTo(false));
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_Int32).resultCode, 0);
    QVERIFY(connectTo(false));
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_Int32).resultCode, 0);
    QCOMPARE(driver->DisConnectDrive(), 0);
    QVERIFY(connectTo(false));
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_Int32).resultCode, 0);
    QCOMPARE(driver->DestroyFree(), 0);
    QVERIFY(connectTo(false));
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_Int32).resultCode, 0);
    // Handles go back to the controller when the host closes the line.
    const QStringList first{kLookup, kHandle, kReadByHandle};
    const QStringList release{QStringLiteral("release")};
    QCOMPARE(kinds(sim->server(), 0), first + first + release + first + release + first);
    QCOMPARE(sim->server()->handlesReleased(), 2);
}

void TestSymbols::placesForgottenOnEveryChange_data()
{
    QTest::addColumn<QString>("change"); // a parameter text, or "reconnect" for a loss and its recovery
    QTest::newRow("line brought back in the background") << "reconnect";
    QTest::newRow("target NetId") << "2.2.2.2.1.1:851";
    QTest::newRow("AMS port") << "852";
    QTest::newRow("source NetId") << "851;source=3.3.3.3.1.1";
    QTest::newRow("source port") << "851;source-port=33000";
}

// A place learned before is another variable's when the controller
// restarted with another program, or when the requests now reach another
// controller or runtime: the name is located anew before any data request.
void TestSymbols::placesForgottenOnEveryChange()
{
    QFETCH(QString, change);
    SimServer *s = sim->server();
    s->setAmsPorts({851, 852});
    s->addSymbol(852, {QStringLiteral("MAIN.nCounter"), kM, 0x100, 4, QStringLiteral("DINT")});
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reconnect-ms=50;reply-ms=500")), 851);
    QVERIFY(connectTo(false));
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_Int32).resultCode, 0);
    if (change == QLatin1String("reconnect")) {
        SimFault hangUp;
        hangUp.noAnswer = true;
        hangUp.closeAfter = 0;
        s->pushFault(hangUp);
        QVERIFY(driver->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode != 0);
        QTRY_COMPARE_WITH_TIMEOUT(s->connectionsAccepted(), 2, 5000);
    } else {
        QVERIFY(driver->SetConnectPar(change) > 0);
    }
    const int from = s->requestCount();
    QTRY_COMPARE_WITH_TIMEOUT(driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_Int32).resultCode, 0,
                              5000);
    const QByteArray lookup = s->requests().at(from);
    QCOMPARE(le16(lookup, AdsLayout::OffCommand), quint16(9));
    QCOMPARE(le32(lookup, AdsLayout::OffIndexGroup), 0xF009u);
}

void TestSymbols::movedSymbolIsLookedUpAgain_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<bool>("handles"); // false: the controller refuses them
    QTest::addColumn<QStringList>("steps"); // the requests of the access after the move
    const QString read = QStringLiteral("read"), written = QStringLiteral("write");
    QTest::newRow("read by handle") << false << true << QStringList{kReadByHandle};
    QTest::newRow("write by handle") << true << true << QStringList{kWriteByHandle};
    // The old place refuses: the name is located again, once.
    QTest::newRow("read at a place") << false << false << QStringList{read, kLookup, read};
    QTest::newRow("write at a place") << true << false << QStringList{written, kLookup, written};
}

// A handle follows its variable across an online change; a place, where
// the controller gives no handles, is looked up again once the controller
// refuses it.
void TestSymbols::movedSymbolIsLookedUpAgain()
{
    QFETCH(bool, write);
    QFETCH(bool, handles);
    QFETCH(QStringList, steps);
    if (!handles)
        sim->server()->setHandlesRefused(0x701);
    QVERIFY(connectTo(false));
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_Int32).resultCode, 0);
    QVERIFY(sim->server()->moveSymbol(QStringLiteral("MAIN.nCounter"), kM, 0x300)); // an online change
    const int from = sim->server()->requestCount();
    if (write) {
        QCOMPARE(driver->WriteVariable(QStringLiteral("MAIN.nCounter"), DT_Int32, ints({99})).resultCode, 0);
        QCOMPARE(sim->server()->readImage(kM, 0x300, 4), hex("63 00 00 00"));
    } else {
        const CLabelVariable r = driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_Int32);
        QCOMPARE(r.resultCode, 0);
        QCOMPARE(r.value.value<QList<int>>(), QList<int>{42});
    }
    QStringList asked = kinds(sim->server(), from);
    asked.removeAll(QStringLiteral("version")); // read once a second at most: whenever it falls due
    QCOMPARE(asked, steps);
    // From then on the new place, with no further lookup.
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_Int32).resultCode, 0);
    asked = kinds(sim->server(), from);
    asked.removeAll(QStringLiteral("version"));
    QCOMPARE(asked.size(), steps.size() + 1);
}

void TestSymbols::nameOverTheSerialLine()
{
    QVERIFY(connectTo(true));
    QCOMPARE(driver->WriteVariable(QStringLiteral("MAIN.nCounter"), DT_Int32, ints({12345})).resultCode, 0);
    const CLabelVariable r = driver->ReadVariable(QStringLiteral("MAIN.nCounter"), DT_Int32);
    QCOMPARE(r.resultCode, 0);
    QCOMPARE(r.value.value<QList<int>>(), QList<int>{12345});
    QCOMPARE(kinds(sim->server(), 0), (QStringList{kLookup, kHandle, kWriteByHandle, kReadByHandle}));
}

void TestSymbols::areaAddressesUnchanged_data()
{
    QTest::addColumn<QString>("address");
    for (const char *a : {"MB20", "mw0x1A", "MX10.3", "MX1.9", "QB4", "QX0.7", "IW10", "IX2.1", "QI5", "IM5",
                          "F020:1A", "4020:10", "20:1A"})
        QTest::newRow(a) << QString::fromLatin1(a);
}

// Every address that worked before goes to the same place in one request.
void TestSymbols::areaAddressesUnchanged()
{
    QFETCH(QString, address);
    QVERIFY(connectTo(false));
    const auto area = AddressResolver::area(address);
    const int offset = AddressResolver::offset(address, area);
    const quint32 group =
        area == AddressResolver::AT_Data ? quint32(AddressResolver::explicitGroup(address)) : quint32(area);
    QVERIFY(driver->ReadVariable(address, DT_UInt8).resultCode != 3);
    QCOMPARE(sim->server()->requestCount(), 1);
    const QByteArray read = sim->server()->requests().first();
    QCOMPARE(le16(read, AdsLayout::OffCommand), quint16(2));
    QCOMPARE(le32(read, AdsLayout::OffIndexGroup), group);
    QCOMPARE(le32(read, AdsLayout::OffIndexOffset), quint32(offset));
}

// Negative bounds and three dimensions are legal in PLC programs: the name
// goes to the controller, which knows them or says so.
void TestSymbols::unusualIndexesAreTheControllersToJudge()
{
    sim->server()->addSymbol({QStringLiteral("MAIN.arr[-1]"), kM, 0x300, 2, QStringLiteral("INT")});
    sim->server()->writeImage(kM, 0x300, hex("2c 01"));
    QVERIFY(connectTo(false));
    const CLabelVariable r = driver->ReadVariable(QStringLiteral("MAIN.arr[-1]"), DT_Int16);
    QCOMPARE(r.resultCode, 0);
    QCOMPARE(r.value.value<QList<short>>(), QList<short>{300});
    const int before = sim->server()->requestCount();
    QCOMPARE(driver->ReadVariable(QStringLiteral("MAIN.cube[1,2,3]"), DT_Int16).resultCode, 7);
    QCOMPARE(sim->server()->requests().at(before).mid(AdsLayout::ReadWriteRequestSize),
             QByteArray("MAIN.cube[1,2,3]\0", 17));
}

// Least recently used names go first; long names count for more.
void TestSymbols::cacheIsBounded()
{
    SymbolCache cache(100);
    SymbolFacts entry;
    entry.entry.typeName = QStringLiteral("INT");
    for (int i = 0; i < 1000; ++i) {
        cache.insert(851, QStringLiteral("MAIN.n%1").arg(i), entry);
        QVERIFY(cache.find(851, QStringLiteral("MAIN.n0"), &entry)); // used all the time
    }
    QCOMPARE(cache.size(), 100);
    QVERIFY(!cache.find(851, QStringLiteral("MAIN.n1"), &entry));
    QVERIFY(cache.find(851, QStringLiteral("MAIN.n999"), &entry));
    QVERIFY(!cache.find(852, QStringLiteral("MAIN.n999"), &entry)); // another runtime
    for (int i = 0; i < 300; ++i)
        cache.insert(851, QStringLiteral("MAIN.%1").arg(i) + QString(10000, QLatin1Char('x')), entry);
    QVERIFY(cache.size() <= 100 / 40 + 1);
}

void TestSymbols::typeRule_data()
{
    QTest::addColumn<int>("id"); // the symbol's ADS data type id
    QTest::addColumn<QString>("typeName");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("type"); // the host's
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("unchecked"); // with type-check=0: the size alone
    QTest::newRow("REAL as float") << 4 << "REAL" << 4 << int(DT_Float) << 1 << 0 << 0;
    QTest::newRow("REAL as double") << 4 << "REAL" << 4 << int(DT_Double) << 1 << 2 << 5;
    QTest::newRow("LREAL as float") << 5 << "LREAL" << 8 << int(DT_Float) << 1 << 2 << 0;
    QTest::newRow("INT as float") << 2 << "INT" << 2 << int(DT_Float) << 1 << 2 << 5;
    QTest::newRow("DINT as float") << 3 << "DINT" << 4 << int(DT_Float) << 1 << 2 << 0;
    // Integers of the width, of any kind: raw bits.
    QTest::newRow("INT as uint16") << 2 << "INT" << 2 << int(DT_UInt16) << 1 << 0 << 0;
    QTest::newRow("REAL as uint32") << 4 << "REAL" << 4 << int(DT_UInt32) << 1 << 0 << 0;
    QTest::newRow("LREAL as int64") << 5 << "LREAL" << 8 << int(DT_Int64) << 1 << 0 << 0;
    QTest::newRow("DINT as two int16") << 3 << "DINT" << 4 << int(DT_Int16) << 2 << 2 << 0;
    QTest::newRow("INT as int32") << 2 << "INT" << 2 << int(DT_Int32) << 1 << 2 << 5;
    QTest::newRow("BYTE as int8") << 17 << "BYTE" << 1 << int(DT_Int8) << 1 << 0 << 0;
    QTest::newRow("BOOL as bool") << 33 << "BOOL" << 1 << int(DT_Bool) << 1 << 0 << 0;
    QTest::newRow("BYTE as bool") << 17 << "BYTE" << 1 << int(DT_Bool) << 1 << 2 << 0;
    QTest::newRow("STRING as int8") << 30 << "STRING(3)" << 4 << int(DT_Int8) << 1 << 2 << 0;
    // Raw bytes of anything, up to its size.
    QTest::newRow("structure as bytes") << 65 << "ST_Motor" << 12 << int(DT_UInt8) << 12 << 0 << 0;
    QTest::newRow("structure, more bytes") << 65 << "ST_Motor" << 12 << int(DT_UInt8) << 13 << 5 << 5;
    QTest::newRow("structure as int32") << 65 << "ST_Motor" << 12 << int(DT_Int32) << 1 << 2 << 0;
    QTest::newRow("no id, named DINT") << 0 << "DINT" << 4 << int(DT_Int32) << 1 << 2 << 0;
    QTest::newRow("pointer as uint64") << 32 << "POINTER TO INT" << 8 << int(DT_UInt64) << 1 << 2 << 0;
    // Arrays: the element's id, the size shared by the bounds' count.
    QTest::newRow("array of INT") << 2 << "ARRAY [0..9] OF INT" << 20 << int(DT_Int16) << 10 << 0 << 0;
    QTest::newRow("array of INT, one more")
        << 2 << "ARRAY [0..9] OF INT" << 20 << int(DT_Int16) << 11 << 5 << 5;
    QTest::newRow("array of INT as int32")
        << 2 << "ARRAY [0..9] OF INT" << 20 << int(DT_Int32) << 5 << 2 << 0;
    QTest::newRow("array of REAL, two dimensions")
        << 4 << "ARRAY [1..2, 1..3] OF REAL" << 24 << int(DT_Float) << 6 << 0 << 0;
    QTest::newRow("array of structures")
        << 65 << "ARRAY [1..2] OF ST_X" << 24 << int(DT_Int32) << 1 << 2 << 0;
    // Strings: by the id, an alias takes its layout from the size.
    QTest::newRow("STRING(10)") << 30 << "STRING(10)" << 11 << int(DT_String) << 1 << 0 << 0;
    QTest::newRow("alias of STRING(255)") << 30 << "T_MaxString" << 256 << int(DT_String) << 1 << 0 << 2;
    QTest::newRow("alias of WSTRING(80)") << 31 << "T_Text" << 162 << int(DT_String) << 1 << 0 << 2;
    QTest::newRow("array of an alias")
        << 30 << "ARRAY [0..2] OF T_Name" << 33 << int(DT_String) << 3 << 0 << 2;
    QTest::newRow("STRING(10), no id") << 0 << "STRING(10)" << 11 << int(DT_String) << 1 << 2 << 0;
    QTest::newRow("DINT as string") << 3 << "DINT" << 4 << int(DT_String) << 1 << 2 << 2;
}

// Whether the host's type suits the symbol's declared one; with the check
// off, the size alone decides, as it always did.
void TestSymbols::typeRule()
{
    QFETCH(int, id);
    QFETCH(QString, typeName);
    QFETCH(int, size);
    QFETCH(int, type);
    QFETCH(int, count);
    QFETCH(int, code);
    QFETCH(int, unchecked);
    SymbolEntry entry;
    entry.dataType = quint32(id);
    entry.typeName = typeName;
    entry.size = quint32(size);
    const SymbolFacts symbol = SymbolFacts::of(entry);
    for (const bool check : {true, false}) {
        StringCodec::Layout layout;
        const int got = type == DT_String ? SymbolAccess::holdsStrings(symbol, count, check, &layout)
                                          : SymbolAccess::fitsValue(symbol, DataType(type), count, check);
        QCOMPARE(got, check ? code : unchecked);
        if (type == DT_String && got == 0)
            QCOMPARE(layout.width() * layout.elements, qint64(size)); // the layout covers the symbol
    }
}

// A refused type sends no data request, then or later; the check can be
// switched off for tags imported with the old size-only rule in mind.
void TestSymbols::typeRefusedWithoutADataRequest()
{
    QVERIFY(connectTo(false));
    const QString name = QStringLiteral("MAIN.nCounter"); // a DINT holding 42
    QCOMPARE(driver->ReadVariable(name, DT_Float).resultCode, kTypeNotHandled);
    CLabelVariable pair;
    pair.value = QVariant::fromValue(QList<short>{1, 2});
    QCOMPARE(driver->WriteVariable(name, DT_Int16, pair, 2).resultCode, kTypeNotHandled);
    QCOMPARE(kinds(sim->server(), 0), (QStringList{kLookup, kHandle}));
    QCOMPARE(sim->server()->readImage(kM, 0x100, 4), hex("2a 00 00 00"));
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;type-check=0")), 851);
    QCOMPARE(driver->ReadVariable(name, DT_Float).resultCode, 0);
    QCOMPARE(kinds(sim->server(), 0), (QStringList{kLookup, kHandle, kReadByHandle}));
}

void TestSymbols::handlesGoBackAndStayBounded_data()
{
    QTest::addColumn<int>("names");
    QTest::addColumn<bool>("frozen"); // the controller stops answering before the disconnect
    QTest::addColumn<int>("releasesSent");
    QTest::newRow("a hundred") << 100 << false << 100;
    // The releases stop at the first reply that does not come: a few in flight.
    QTest::newRow("a hundred, controller frozen") << 100 << true << 64;
    // Beyond the bound the least recently used one goes back at once.
    QTest::newRow("one more than the bound")
        << int(SymbolHandles::DefaultCapacity) + 1 << false << int(SymbolHandles::DefaultCapacity) + 1;
}

void TestSymbols::handlesGoBackAndStayBounded()
{
    QFETCH(int, names);
    QFETCH(bool, frozen);
    QFETCH(int, releasesSent);
    SimServer *s = sim->server();
    s->setRecording(false);
    for (int i = 0; i < names; ++i)
        s->addSymbol(
            {QStringLiteral("GVL.n%1").arg(i), kM, quint32(0x1000 + 2 * i), 2, QStringLiteral("INT")});
    QVERIFY(connectTo(false));
    for (int i = 0; i < names; ++i)
        QCOMPARE(driver->ReadVariable(QStringLiteral("GVL.n%1").arg(i), DT_Int16).resultCode, 0);
    const int evicted = qMax(0, names - int(SymbolHandles::DefaultCapacity));
    QTRY_COMPARE(s->handlesReleased(), evicted);
    QCOMPARE(s->handleCount(), names - evicted);
    s->setRecording(true);
    if (frozen) {
        SimFault silent;
        silent.noAnswer = true;
        s->setStandingFault(silent);
    }
    QCOMPARE(driver->DisConnectDrive(), 0);
    QCOMPARE(requestKinds(s->requests()).count(QStringLiteral("release")), releasesSent - evicted);
    if (!frozen)
        QCOMPARE(s->handlesReleased(), names);
    // Nothing goes out on a line that is down.
    driver->DestroyFree();
    QCOMPARE(requestKinds(s->requests()).count(QStringLiteral("release")), releasesSent - evicted);

    SymbolHandles handles(3);
    SymbolBinding b;
    SymbolHandles::Owned out;
    for (quint32 h = 1; h <= 3; ++h)
        QVERIFY(!handles.insert(b, QStringLiteral("n%1").arg(h), {h, SymbolFacts()}, &out));
    QVERIFY(handles.find(b, QStringLiteral("n1"))); // used: n2 is now the oldest
    QVERIFY(handles.insert(b, QStringLiteral("n4"), {4, SymbolFacts()}, &out));
    QCOMPARE(out.handle, 2u);
    QVERIFY(!handles.find(b, QStringLiteral("n2")));
}

QTEST_GUILESS_MAIN(TestSymbols)
#include "tst_symbols.moc"
