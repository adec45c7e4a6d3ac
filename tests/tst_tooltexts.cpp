// The texts of the tools, without processes: typed values at the edges of
// their types, the shortest float texts reading back exactly, and the image
// file and command line of ads-sim.
#include "host/ValueText.h"
#include "sim/AdsSimOptions.h"
#include "sim/SimImageFile.h"
#include "sim/SimRouter.h"

#include <QtTest>

#include <cfloat>
#include <cmath>
#include <limits>

class TestToolTexts : public QObject
{
    Q_OBJECT
private slots:
    void integerEdges_data();
    void integerEdges();
    void floatTextsReadBackExactly();
    void floatEdges();
    void imageFile();
    void imageFileErrorsNameTheLine_data();
    void imageFileErrorsNameTheLine();
    void imageFilePortLines_data();
    void imageFilePortLines();
    void simOptions();
    void simOptionErrors_data();
    void simOptionErrors();
    void netIdTexts_data();
    void netIdTexts();
};

void TestToolTexts::integerEdges_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("low"); // the smallest value that fits
    QTest::addColumn<QString>("high"); // the largest
    QTest::addColumn<QString>("below");
    QTest::addColumn<QString>("above");
    QTest::newRow("int8") << "int8"
                          << "-128"
                          << "127"
                          << "-129"
                          << "128";
    QTest::newRow("uint8") << "uint8"
                           << "0"
                           << "255"
                           << "-1"
                           << "256";
    QTest::newRow("int16") << "int16"
                           << "-32768"
                           << "32767"
                           << "-32769"
                           << "32768";
    QTest::newRow("uint16") << "uint16"
                            << "0"
                            << "65535"
                            << "-1"
                            << "65536";
    QTest::newRow("int32") << "int32"
                           << "-2147483648"
                           << "2147483647"
                           << "-2147483649"
                           << "2147483648";
    QTest::newRow("uint32") << "uint32"
                            << "0"
                            << "4294967295"
                            << "-1"
                            << "4294967296";
    QTest::newRow("int64") << "int64"
                           << "-9223372036854775808"
                           << "9223372036854775807"
                           << "-9223372036854775809"
                           << "9223372036854775808";
    QTest::newRow("uint64") << "uint64"
                            << "0"
                            << "18446744073709551615"
                            << "-1"
                            << "18446744073709551616";
}

void TestToolTexts::integerEdges()
{
    QFETCH(QString, type);
    QFETCH(QString, low);
    QFETCH(QString, high);
    QFETCH(QString, below);
    QFETCH(QString, above);
    const DataType t = ValueText::typeFromName(type);
    QString error;
    const QVariant edges =
        ValueText::parse(t, {low, high, QStringLiteral("+0"), QStringLiteral("0x1F")}, &error);
    QVERIFY2(edges.isValid(), qPrintable(error));
    QCOMPARE(ValueText::elements(t, edges), (QStringList{low, high, "0", "31"}));
    for (const QString &bad :
         {below, above, QStringLiteral("1.0"), QStringLiteral("1e2"), QStringLiteral("0x"),
          QStringLiteral("--1"), QStringLiteral("12abc"), QString()}) {
        error.clear();
        QVERIFY2(!ValueText::parse(t, {QStringLiteral("1"), bad}, &error).isValid(), qPrintable(bad));
        QVERIFY2(error.contains(QStringLiteral("'%1' for %2").arg(bad, type)), qPrintable(error));
    }
}

void TestToolTexts::floatTextsReadBackExactly()
{
    const QList<double> doubles = {0.1,      1.0 / 3,       -2.5e-308, DBL_MAX, DBL_MIN,
                                   4.9e-324, 123456789.125, -0.0,      1e21};
    const QList<float> floats = {0.1f, 1.0f / 3, FLT_MAX, -FLT_MIN, 1.4e-45f, 16777217.0f, 3.14159274f};
    QString error;
    QVariant dv = QVariant::fromValue(doubles);
    const QStringList dTexts = ValueText::elements(DT_Double, dv);
    QCOMPARE(dTexts.first(), QStringLiteral("0.1")); // shortest, not 0.10000000000000001
    const QList<double> dBack = ValueText::parse(DT_Double, dTexts, &error).value<QList<double>>();
    QCOMPARE(dBack.size(), doubles.size());
    for (int i = 0; i < doubles.size(); ++i) {
        QVERIFY2(memcmp(&dBack.at(i), &doubles.at(i), sizeof(double)) == 0, qPrintable(dTexts.at(i)));
    }
    const QStringList fTexts = ValueText::elements(DT_Float, QVariant::fromValue(floats));
    QCOMPARE(fTexts.first(), QStringLiteral("0.1"));
    QCOMPARE(fTexts.at(2), QStringLiteral("3.4028235e+38"));
    const QList<float> fBack = ValueText::parse(DT_Float, fTexts, &error).value<QList<float>>();
    QCOMPARE(fBack.size(), floats.size());
    for (int i = 0; i < floats.size(); ++i)
        QVERIFY2(memcmp(&fBack.at(i), &floats.at(i), sizeof(float)) == 0, qPrintable(fTexts.at(i)));
}

void TestToolTexts::floatEdges()
{
    QString error;
    const QVariant special = ValueText::parse(DT_Double, {"inf", "-inf", "nan", "+2"}, &error);
    QCOMPARE(ValueText::elements(DT_Double, special), (QStringList{"inf", "-inf", "nan", "2"}));
    QCOMPARE(ValueText::jsonArray(DT_Double, special), QStringLiteral("[null,null,null,2]"));
    for (const char *bad : {"3.4028236e38", "1e39", "1e-50", "1,5", "0x10", "", "1.5.2", "+-1"}) {
        error.clear();
        QVERIFY2(!ValueText::parse(DT_Float, {QString::fromLatin1(bad)}, &error).isValid(), bad);
        QVERIFY(!error.isEmpty());
    }
    QVERIFY(!ValueText::parse(DT_Double, {"1e400"}, &error).isValid());
    QVERIFY2(error.contains(QStringLiteral("does not fit a double")), qPrintable(error));
}

void TestToolTexts::imageFile()
{
    QString error = QStringLiteral("stale");
    const QList<SimImageFile::Entry> entries = SimImageFile::parse("# memory\n"
                                                                   "4020 10 34 12 56 # M\r\n"
                                                                   "   \n"
                                                                   "0xf030\t0X2 A f\n",
                                                                   &error);
    QCOMPARE(error, QString());
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(0).group, 0x4020u);
    QCOMPARE(entries.at(0).offset, 0x10u);
    QCOMPARE(entries.at(0).bytes, QByteArray::fromHex("341256"));
    QCOMPARE(entries.at(1).group, 0xF030u);
    QCOMPARE(entries.at(1).offset, 2u);
    QCOMPARE(entries.at(1).bytes, QByteArray::fromHex("0a0f"));

    const QList<SimImageFile::Entry> symbols =
        SimImageFile::parse("symbol MAIN.nCounter 4020 100 4 DINT\n"
                            "symbol GVL.a 0x4020 200 40 ARRAY [0..9] OF REAL\n"
                            "symbol .bRun F030 4 1\n"
                            "symbol _n 4020 0 1\n"
                            "symbol GVL.a[3].b_2 4020 0 1\n"
                            "symbol GVL.m[1,2] 4020 0 1\n"
                            "F021 7 00 01 1 0\n",
                            &error);
    QCOMPARE(error, QString());
    QCOMPARE(symbols.size(), 7);
    QCOMPARE(symbols.at(6).bytes, QByteArray::fromHex("00010100"));
    QVERIFY(symbols.at(0).isSymbol);
    QCOMPARE(symbols.at(0).symbol.name, QStringLiteral("MAIN.nCounter"));
    QCOMPARE(symbols.at(0).symbol.offset, 0x100u);
    QCOMPARE(symbols.at(1).symbol.size, 40u); // sizes are decimal
    QCOMPARE(symbols.at(1).symbol.typeName, QStringLiteral("ARRAY [0..9] OF REAL"));
    QCOMPARE(symbols.at(2).symbol.group, 0xF030u);
    QVERIFY(symbols.at(2).symbol.typeName.isEmpty());
}

void TestToolTexts::imageFileErrorsNameTheLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("no bytes") << QByteArray("4020 0 1\n\n4020 10\n") << "line 3: expected GROUP OFFSET BYTE";
    QTest::newRow("bad byte") << QByteArray("4020 0 100\n") << "line 1: '100' is not a hex byte";
    QTest::newRow("bad group") << QByteArray("# x\nM 0 1\n") << "line 2: 'M' is not a hex index group";
    QTest::newRow("group past 32 bits") << QByteArray("100000000 0 1\n") << "line 1: '100000000'";
    QTest::newRow("signed offset") << QByteArray("4020 -1 1\n") << "line 1: '-1' is not a hex offset";
    QTest::newRow("past the image") << QByteArray("4020 3ffffff 1 2\n") << "line 1: ends past";
    QTest::newRow("zero byte in a byte") << QByteArray("4020 0 1\0 2\n", 12) << "line 1: '1";
    QTest::newRow("symbol without size")
        << QByteArray("symbol A.b 4020 0\n") << "line 1: expected symbol NAME";
    QTest::newRow("symbol size zero") << QByteArray("symbol A.b 4020 0 0\n") << "line 1: '0' is not a size";
    QTest::newRow("symbol bad group")
        << QByteArray("symbol A.b G 0 4\n") << "line 1: 'G' is not a hex index group";
    const char *notAName = " is not a symbol name (identifiers joined by dots";
    const QList<const char *> badNames = {"1bad",       "A..b", "A.",    "..A",       "A.b[1", "A.b[x]",
                                          "A.b[1,2,3]", "A-b",  "A.b[]", "A.b[1][2]", "A.1b",  "Ä.b"};
    for (const char *name : badNames)
        QTest::newRow(qPrintable(QStringLiteral("symbol name %1").arg(QString::fromUtf8(name))))
            << QByteArray("4020 0 1\nsymbol ") + name + " 4020 0 4 INT\n"
            << QStringLiteral("line 2: '%1'").arg(QString::fromUtf8(name)) + notAName;
    QTest::newRow("bit 02") << QByteArray("4021 0 01 02\n")
                            << "line 1: '02' is not a bit (00 or 01) for bit group 4021";
    QTest::newRow("bit ff in outputs")
        << QByteArray("F031 3 00 ff\n") << "line 1: 'ff' is not a bit (00 or 01) for bit group F031";
    QTest::newRow("bit 10 in inputs") << QByteArray("0xf021 0 10\n") << "line 1: '10' is not a bit";
}

void TestToolTexts::imageFileErrorsNameTheLine()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QString got;
    QVERIFY(SimImageFile::parse(text, &got).isEmpty());
    QVERIFY2(got.startsWith(error), qPrintable(got));
}

void TestToolTexts::imageFilePortLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<int>>("runtimes"); // the ports ads-sim was given; empty: not checked
    QTest::addColumn<QString>("error"); // empty: good
    QTest::addColumn<QList<int>>("ports"); // each entry's port, when good
    const QByteArray both = "4020 0 01\nport 852\n4020 0 02\nsymbol A.b 4020 0 1\nport 851\n4020 1 03\n";
    QTest::newRow("ports switch the runtime")
        << both << QList<int>{851, 852} << "" << QList<int>{0, 852, 852, 851};
    QTest::newRow("unchecked") << both << QList<int>() << "" << QList<int>{0, 852, 852, 851};
    QTest::newRow("port without a runtime")
        << both << QList<int>{851, 853} << "line 2: port 852 has no runtime (the runtimes are on 851, 853)"
        << QList<int>();
    QTest::newRow("no number") << QByteArray("port\n") << QList<int>() << "line 1: expected port N"
                               << QList<int>();
    QTest::newRow("two numbers") << QByteArray("port 851 852\n") << QList<int>() << "line 1: expected port N"
                                 << QList<int>();
    QTest::newRow("port 0") << QByteArray("port 0\n") << QList<int>()
                            << "line 1: '0' is not an AMS port (decimal, 1 to 65535)" << QList<int>();
    QTest::newRow("port 65536") << QByteArray("port 65536\n") << QList<int>()
                                << "line 1: '65536' is not an AMS port (decimal, 1 to 65535)" << QList<int>();
    QTest::newRow("hex port") << QByteArray("port 0x353\n") << QList<int>()
                              << "line 1: '0x353' is not an AMS port (decimal, 1 to 65535)" << QList<int>();
    QTest::newRow("signed port") << QByteArray("port +851\n") << QList<int>()
                                 << "line 1: '+851' is not an AMS port (decimal, 1 to 65535)" << QList<int>();
}

void TestToolTexts::imageFilePortLines()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<int>, runtimes);
    QFETCH(QString, error);
    QFETCH(QList<int>, ports);
    QString got;
    const QList<SimImageFile::Entry> entries = SimImageFile::parse(text, &got, runtimes);
    QCOMPARE(got, error);
    QList<int> entryPorts;
    for (const SimImageFile::Entry &e : entries)
        entryPorts << e.amsPort;
    QCOMPARE(entryPorts, ports);
}

void TestToolTexts::simOptions()
{
    const AdsSimOptions defaults = AdsSimOptions::parse({});
    QCOMPARE(defaults.error, QString());
    QCOMPARE(defaults.amsPorts, QList<int>{851});
    QVERIFY(defaults.netId.isEmpty());
    QVERIFY(defaults.routes.isEmpty());
    QCOMPARE(defaults.dropEvery, 0);

    const AdsSimOptions o =
        AdsSimOptions::parse({"--ams-port", "852,851", "--ams-port=900", "--netid", "5.12.34.56.1.1",
                              "--route", "192.168.10.100.1.1", "--route=0.0.0.0.255.255", "--drop-every", "1",
                              "--listen", "[::1]:0", "--serial", "-h"});
    QCOMPARE(o.error, QString());
    QCOMPARE(o.amsPorts, (QList<int>{852, 851, 900}));
    QCOMPARE(o.netId, QByteArray::fromHex("050c22380101"));
    QCOMPARE(o.routes,
             (QList<QByteArray>{QByteArray::fromHex("c0a80a640101"), QByteArray::fromHex("00000000ffff")}));
    QCOMPARE(o.dropEvery, 1);
    QCOMPARE(o.listenAddress, QHostAddress(QHostAddress::LocalHostIPv6));
    QCOMPARE(o.listenPort, quint16(0));
    QVERIFY(o.serial && o.help);

    // --help names every option it takes.
    const QString usage = AdsSimOptions::usage();
    for (const char *name : {"--listen", "--serial", "--ams-port", "--netid", "--route", "--image",
                             "--verbose", "--delay-ms", "--drop-every", "--ads-error"})
        QVERIFY2(usage.contains(QLatin1String(name)), name);
    QVERIFY(usage.contains(QStringLiteral("(N 1 or more)")));
}

void TestToolTexts::simOptionErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");
    const QString netIdWant =
        QStringLiteral("wants six numbers 0 to 255 joined by dots (5.12.34.56.1.1), not '%1'");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "unknown option --bogus";
    QTest::newRow("unknown short option") << QStringList{"-x"} << "unknown option -x";
    QTest::newRow("argument") << QStringList{"now"}
                              << "unexpected argument 'now' (ads-sim takes options only)";
    QTest::newRow("missing value") << QStringList{"--listen"} << "--listen needs a value";
    QTest::newRow("option as value") << QStringList{"--netid", "--serial"} << "--netid needs a value";
    QTest::newRow("flag with value") << QStringList{"--serial=yes"} << "--serial takes no value";
    QTest::newRow("empty image") << QStringList{"--image="} << "--image needs a file name";
    QTest::newRow("drop every 0") << QStringList{"--drop-every", "0"}
                                  << "--drop-every wants a count 1 to 1000000, not '0'";
    QTest::newRow("drop every x") << QStringList{"--drop-every", "x"}
                                  << "--drop-every wants a count 1 to 1000000, not 'x'";
    QTest::newRow("delay with blanks")
        << QStringList{"--delay-ms", " 5"} << "--delay-ms wants milliseconds 0 to 3600000, not ' 5'";
    QTest::newRow("delay negative") << QStringList{"--delay-ms", "-1"}
                                    << "--delay-ms wants milliseconds 0 to 3600000, not '-1'";
    QTest::newRow("ads error 0") << QStringList{"--ads-error", "0"}
                                 << "--ads-error wants a non-zero 32-bit code (decimal or 0x hex), not '0'";
    const QString portsWant =
        QStringLiteral("--ams-port wants ports 1 to 65535, each once, joined by commas, not '%1'");
    for (const char *ports : {"0", "851,", ",851", "851,851", "65536", "851;852", "851, 852", ""})
        QTest::newRow(qPrintable(QStringLiteral("ams port '%1'").arg(QLatin1String(ports))))
            << QStringList{QStringLiteral("--ams-port=%1").arg(QLatin1String(ports))}
            << portsWant.arg(QLatin1String(ports));
    QTest::newRow("same port twice over two options")
        << QStringList{"--ams-port", "851", "--ams-port", "851"} << portsWant.arg("851");
    QTest::newRow("netid five numbers")
        << QStringList{"--netid", "5.12.34.56.1"} << "--netid " + netIdWant.arg("5.12.34.56.1");
    QTest::newRow("route 256") << QStringList{"--route", "1.2.3.4.1.256"}
                               << "--route " + netIdWant.arg("1.2.3.4.1.256");
    QTest::newRow("listen") << QStringList{
        "--listen",
        "nowhere:5"} << "--listen wants ADDR:PORT with an IP address and a port 0 to 65535, not 'nowhere:5'";
    QTest::newRow("first error wins")
        << QStringList{"--drop-every", "0", "--bogus"} << "--drop-every wants a count 1 to 1000000, not '0'";
}

void TestToolTexts::simOptionErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    QCOMPARE(AdsSimOptions::parse(args).error, error);
}

void TestToolTexts::netIdTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("netId"); // empty: refused
    QTest::newRow("usual") << "5.12.34.56.1.1" << QByteArray::fromHex("050c22380101");
    QTest::newRow("edges") << "0.255.0.255.0.255" << QByteArray::fromHex("00ff00ff00ff");
    QTest::newRow("leading zeros") << "005.012.1.1.1.1" << QByteArray::fromHex("050c01010101");
    for (const char *bad : {"", "1.2.3.4.1", "1.2.3.4.1.1.1", "1.2.3.4.1.256", "1.2.3.4.1.1000", "1.2.3.4..1",
                            "1.2.3.4.1.", "+1.2.3.4.1.1", " 1.2.3.4.1.1", "1.2.3.4.1.-1", "0x1.2.3.4.1.1",
                            "a.b.c.d.e.f", "1,2,3,4,1,1", "١.2.3.4.1.1"})
        QTest::newRow(qPrintable(QStringLiteral("'%1'").arg(QString::fromUtf8(bad))))
            << QString::fromUtf8(bad) << QByteArray();
}

void TestToolTexts::netIdTexts()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, netId);
    QCOMPARE(SimRouter::netIdFromText(text), netId);
    if (!netId.isEmpty())
        QCOMPARE(SimRouter::netIdFromText(SimRouter::netIdText(netId)), netId);
}

QTEST_GUILESS_MAIN(TestToolTexts)
#include "tst_tooltexts.moc"
