// PLC strings by name through the host's view: STRING(n) in Windows-1252,
// WSTRING(n) in UTF-16LE, arrays of both, byte for byte in the controller's
// memory, and every refusal before a data request goes out.
#include "host/PluginHandle.h"
#include "link/AdsLayout.h"
#include "sim/SimController.h"
#include "sim/SimServer.h"
#include "tests/TestSupport.h"

#include <QtTest>

using namespace TestSupport;

namespace {
const quint32 kData = 0x4040;

CLabelVariable strings(const QList<QString> &values)
{
    CLabelVariable v;
    v.value = QVariant::fromValue(values);
    return v;
}

QList<QString> stringsOf(const CLabelVariable &label)
{
    [&] { QCOMPARE(label.value.userType(), qMetaTypeId<QList<QString>>()); }();
    return label.value.value<QList<QString>>();
}

QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}
} // namespace

class TestStrings : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void writtenAndReadByteForByte_data();
    void writtenAndReadByteForByte();
    void readStopsAtTheFirstZero();
    void arraysOfStrings();
    void refusedBeforeAnyDataRequest_data();
    void refusedBeforeAnyDataRequest();
    void areaAddressesHaveNoStrings();

private:
    bool connectTo(bool serial);
    // The commands the controller received since `from`.

    PluginHandle plugin;
    SimController *sim = nullptr;
    CDriveBaseClass *driver = nullptr;
};

void TestStrings::initTestCase()
{
    QVERIFY2(plugin.load(pluginPath()), qPrintable(plugin.errorString()));
}

void TestStrings::init()
{
    sim = new SimController;
    QVERIFY(sim->startTcp());
    QVERIFY(sim->startPty());
    SimServer *s = sim->server();
    s->addSymbol({QStringLiteral("MAIN.sName"), kData, 0x400, 11, QStringLiteral("STRING(10)")});
    s->addSymbol({QStringLiteral("MAIN.wsText"), kData, 0x500, 12, QStringLiteral("WSTRING(5)")});
    s->addSymbol({QStringLiteral("MAIN.sPlain"), kData, 0x540, 81, QStringLiteral("string")});
    s->addSymbol(
        {QStringLiteral("GVL.aRecipes"), kData, 0x600, 15, QStringLiteral("ARRAY [1..3] OF STRING(4)")});
    s->addSymbol({QStringLiteral("GVL.aLabels"), kData, 0x700, 24,
                  QStringLiteral("ARRAY [0..1, 0..1] OF WSTRING(2)")});
    s->addSymbol({QStringLiteral("MAIN.nCount"), kData, 0x800, 4, QStringLiteral("DINT")});
    // An alias of STRING(10): a string by its data type id, not by its name.
    s->addSymbol({QStringLiteral("MAIN.sAlias"), kData, 0x900, 11, QStringLiteral("T_Name"), QString(), 30});
    driver = plugin.create();
}

void TestStrings::cleanup()
{
    PluginHandle::dispose(driver);
    driver = nullptr;
    delete sim;
    sim = nullptr;
}

bool TestStrings::connectTo(bool serial)
{
    return driver->ConnectDrive(serial ? sim->serialConnectionText() : sim->connectionText()) == 0;
}

void TestStrings::writtenAndReadByteForByte_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("memory");
    // Windows-1252 above 127: ä ö ß from Latin-1, € and „ from 0x80-0x9F.
    QTest::newRow("STRING, code page") << false << "MAIN.sName"
                                       << u("Gr\xc3\xb6\xc3\x9f"
                                            "e \xe2\x82\xac\xe2\x80\x9e")
                                       << hex("47 72 f6 df 65 20 80 84 00 00 00");
    QTest::newRow("STRING, exactly n") << false << "MAIN.sName"
                                       << "0123456789" << QByteArray("0123456789\0", 11);
    QTest::newRow("STRING, empty") << false << "MAIN.sName"
                                   << "" << QByteArray(11, '\0');
    QTest::newRow("STRING, serial line") << true << "MAIN.sName"
                                         << "Batch 42" << QByteArray("Batch 42\0\0\0", 11);
    // Outside Latin-1, and a character outside the basic plane: two code units.
    QTest::newRow("WSTRING") << false << "MAIN.wsText" << u("\xce\xa9\xe2\x82\xac\xf0\x9f\x98\x80")
                             << hex("a9 03 ac 20 3d d8 00 de 00 00 00 00");
    QTest::newRow("WSTRING, exactly n") << true << "MAIN.wsText"
                                        << "abcde" << hex("61 00 62 00 63 00 64 00 65 00 00 00");
    QTest::newRow("STRING without a length") << false << "MAIN.sPlain" << QString(80, QLatin1Char('x'))
                                             << QByteArray(80, 'x') + QByteArray(1, '\0');
    QTest::newRow("string alias") << false << "MAIN.sAlias"
                                  << "0123456789" << QByteArray("0123456789\0", 11);
}

void TestStrings::writtenAndReadByteForByte()
{
    QFETCH(bool, serial);
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QByteArray, memory);
    QVERIFY(connectTo(serial));
    const quint32 offset = name == "MAIN.sName"    ? 0x400
                           : name == "MAIN.wsText" ? 0x500
                           : name == "MAIN.sAlias" ? 0x900
                                                   : 0x540;
    sim->server()->writeImage(kData, offset, QByteArray(memory.size(), '\x55'));
    const CLabelVariable written = driver->WriteVariable(name, DT_String, strings({text}));
    QCOMPARE(written.resultCode, 0);
    QVERIFY(written.timeStamp.isValid());
    QCOMPARE(sim->server()->readImage(kData, offset, memory.size()).toHex(' '), memory.toHex(' '));
    const CLabelVariable read = driver->ReadVariable(name, DT_String);
    QCOMPARE(read.resultCode, 0);
    QCOMPARE(read.type, DT_String);
    QCOMPARE(stringsOf(read), QList<QString>{text});
    QCOMPARE(requestKinds(sim->server()->requests()),
             (QStringList{"lookup", "handle", "write by handle", "read by handle"}));
}

// A zero ends the string; what follows it in the element is not the text.
void TestStrings::readStopsAtTheFirstZero()
{
    QVERIFY(connectTo(false));
    sim->server()->writeImage(kData, 0x400, QByteArray("AB\0CD\0\xff\xff\xff\xff\xff", 11));
    sim->server()->writeImage(kData, 0x500, hex("41 00 00 00 42 00 43 00 44 00 45 00"));
    QCOMPARE(stringsOf(driver->ReadVariable(QStringLiteral("MAIN.sName"), DT_String)), QList<QString>{"AB"});
    QCOMPARE(stringsOf(driver->ReadVariable(QStringLiteral("MAIN.wsText"), DT_String)), QList<QString>{"A"});
    // A controller that filled the element to its end without a zero still reads.
    sim->server()->writeImage(kData, 0x400, QByteArray(11, 'z'));
    QCOMPARE(stringsOf(driver->ReadVariable(QStringLiteral("MAIN.sName"), DT_String)),
             QList<QString>{QString(11, QLatin1Char('z'))});
}

void TestStrings::arraysOfStrings()
{
    QVERIFY(connectTo(false));
    CLabelVariable list;
    list.value = QStringList{"one", "two", "six"}; // a QStringList serves as well
    QCOMPARE(driver->WriteVariable(QStringLiteral("GVL.aRecipes"), DT_String, list, 3).resultCode, 0);
    QCOMPARE(sim->server()->readImage(kData, 0x600, 15), QByteArray("one\0\0two\0\0six\0\0", 15));
    CLabelVariable r = driver->ReadVariable(QStringLiteral("GVL.aRecipes"), DT_String, 3);
    QCOMPARE(stringsOf(r), (QList<QString>{"one", "two", "six"}));
    QCOMPARE(r.count, 3);
    // Fewer than the array holds: its head.
    QCOMPARE(stringsOf(driver->ReadVariable(QStringLiteral("GVL.aRecipes"), DT_String, 2)),
             (QList<QString>{"one", "two"}));
    QCOMPARE(driver->WriteVariable(QStringLiteral("GVL.aRecipes"), DT_String, strings({"ten"}), 1).resultCode,
             0);
    QCOMPARE(sim->server()->readImage(kData, 0x600, 15), QByteArray("ten\0\0two\0\0six\0\0", 15));
    // Two dimensions: four elements of three code units.
    QCOMPARE(
        driver->WriteVariable(QStringLiteral("GVL.aLabels"), DT_String, strings({"a", "bc", "", "de"}), 4)
            .resultCode,
        0);
    QCOMPARE(sim->server()->readImage(kData, 0x700, 24),
             hex("61 00 00 00 00 00  62 00 63 00 00 00  00 00 00 00 00 00  64 00 65 00 00 00"));
    QCOMPARE(stringsOf(driver->ReadVariable(QStringLiteral("GVL.aLabels"), DT_String, 4)),
             (QList<QString>{"a", "bc", "", "de"}));
}

void TestStrings::refusedBeforeAnyDataRequest_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("write");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("code");
    const QVariant ok = QVariant::fromValue(QList<QString>{"x", "y", "z", "w"});
    QTest::newRow("n + 1 characters")
        << "MAIN.sName" << true << QVariant::fromValue(QList<QString>{"0123456789A"}) << 1
        << kBadOffsetOrCount;
    QTest::newRow("a character the code page lacks")
        << "MAIN.sName" << true << QVariant::fromValue(QList<QString>{u("\xce\xa9")}) << 1
        << kBadOffsetOrCount;
    QTest::newRow("a zero inside") << "MAIN.sName" << true
                                   << QVariant::fromValue(QList<QString>{QString::fromLatin1("a\0b", 3)}) << 1
                                   << kBadOffsetOrCount;
    QTest::newRow("WSTRING, n + 1 code units")
        << "MAIN.wsText" << true << QVariant::fromValue(QList<QString>{u("abcd\xf0\x9f\x98\x80")}) << 1
        << kBadOffsetOrCount;
    QTest::newRow("more strings than the array")
        << "GVL.aRecipes" << false << QVariant() << 4 << kBadOffsetOrCount;
    QTest::newRow("write more than the array") << "GVL.aRecipes" << true << ok << 4 << kBadOffsetOrCount;
    QTest::newRow("read of a symbol no string")
        << "MAIN.nCount" << false << QVariant() << 1 << kTypeNotHandled;
    QTest::newRow("write of a symbol no string") << "MAIN.nCount" << true << ok << 1 << kTypeNotHandled;
    // Before the lookup too: nothing at all goes out.
    QTest::newRow("fewer strings than the count")
        << "GVL.aRecipes" << true << QVariant::fromValue(QList<QString>{"x"}) << 2 << kBadOffsetOrCount;
    QTest::newRow("not a list of strings")
        << "MAIN.sName" << true << QVariant::fromValue(QList<int>{1}) << 1 << kTypeNotHandled;
}

// The lookup may go out (it tells the string's type); no data request does.
void TestStrings::refusedBeforeAnyDataRequest()
{
    QFETCH(QString, name);
    QFETCH(bool, write);
    QFETCH(QVariant, value);
    QFETCH(int, count);
    QFETCH(int, code);
    QVERIFY(connectTo(false));
    CLabelVariable label;
    label.value = value;
    const CLabelVariable r = write ? driver->WriteVariable(name, DT_String, label, count)
                                   : driver->ReadVariable(name, DT_String, count);
    QCOMPARE(r.resultCode, code);
    for (const QString &kind : requestKinds(sim->server()->requests()))
        QVERIFY2(kind == QLatin1String("lookup") || kind == QLatin1String("handle"), qPrintable(kind));
    if (!write)
        QVERIFY(!r.value.isValid());
}

// An address has no string length to ask for: 2, and nothing is sent.
void TestStrings::areaAddressesHaveNoStrings()
{
    QVERIFY(connectTo(false));
    const CLabelVariable r = driver->ReadVariable(QStringLiteral("MB10"), DT_String);
    QCOMPARE(r.resultCode, kTypeNotHandled);
    QVERIFY(!r.value.isValid());
    QCOMPARE(driver->ReadVariable(QStringLiteral("4040:10"), DT_String).resultCode, kTypeNotHandled);
    QCOMPARE(driver->WriteVariable(QStringLiteral("MB10"), DT_String, strings({"x"})).resultCode,
             kTypeNotHandled);
    QCOMPARE(sim->server()->requestCount(), 0);
}

QTEST_GUILESS_MAIN(TestStrings)
#include "tst_strings.moc"
