// Texts from the host: addresses, connection texts, serial line settings,
// and the build stamp.
#include "driver/AddressResolver.h"
#include "driver/BuildStamp.h"
#include "driver/ConnectParameters.h"
#include "driver/ConnectionText.h"
#include "driver/SymbolName.h"
#include "driver/ValueCodec.h"
#include "link/SerialLineSettings.h"
#include "link/SymbolEntry.h"
#include "value/CLabelVariable.h"

#include <QtTest>

using AR = AddressResolver;

class TestParsers : public QObject
{
    Q_OBJECT
private slots:
    void addresses_data();
    void addresses();
    void readGroupOfExplicitForm();
    void byteLengths();
    void connectionTexts_data();
    void connectionTexts();
    void serialSettings_data();
    void serialSettings();
    void buildStamp();
    void symbolNames_data();
    void symbolNames();
    void symbolEntries();
    void parameterTexts_data();
    void parameterTexts();
};

void TestParsers::addresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("area");
    QTest::addColumn<int>("offset");
    QTest::addColumn<bool>("parsed");
    QTest::newRow("MB20 hex") << "MB20" << int(AR::AT_MByte) << 32 << true;
    QTest::newRow("lower case") << "mb20" << int(AR::AT_MByte) << 32 << true;
    QTest::newRow("0x prefix") << "MW0x1A" << int(AR::AT_MByte) << 26 << true;
    QTest::newRow("bit") << "MX10.3" << int(AR::AT_MBit) << 83 << true;
    QTest::newRow("bit above 7") << "MX1.9" << int(AR::AT_MBit) << 17 << true;
    QTest::newRow("parts after the bit ignored") << "MX1.2.7" << int(AR::AT_MBit) << 10 << true;
    QTest::newRow("Q byte") << "QB4" << int(AR::AT_QByte) << 4 << true;
    QTest::newRow("Q bit") << "QX0.7" << int(AR::AT_QBit) << 7 << true;
    QTest::newRow("I word") << "IW10" << int(AR::AT_IByte) << 16 << true;
    QTest::newRow("I bit") << "IX2.1" << int(AR::AT_IBit) << 17 << true;
    QTest::newRow("Q before I") << "QI5" << int(AR::AT_QByte) << 5 << true;
    QTest::newRow("M first") << "IM5" << int(AR::AT_MByte) << 5 << true;
    QTest::newRow("explicit") << "F020:1A" << int(AR::AT_Data) << 26 << true;
    QTest::newRow("explicit 4020") << "4020:10" << int(AR::AT_Data) << 16 << true;
    QTest::newRow("explicit five chars") << "20:1A" << int(AR::AT_Data) << 26 << true;
    QTest::newRow("negative offset") << "MB-10" << int(AR::AT_MByte) << -16 << true;
    QTest::newRow("negative byte number") << "MX-1.3" << int(AR::AT_MBit) << -5 << true;
    // Plain digits are read in place up to seven (hex) or nine (decimal);
    // longer or decorated numbers go the general way, with the same result.
    QTest::newRow("seven hex digits") << "MBFFFFFFF" << int(AR::AT_MByte) << 0xFFFFFFF << true;
    QTest::newRow("largest offset") << "MB7FFFFFFF" << int(AR::AT_MByte) << 0x7FFFFFFF << true;
    QTest::newRow("space before the offset") << "MB 10" << int(AR::AT_MByte) << 16 << true;
    QTest::newRow("nine-digit byte number") << "MX99999999.7" << int(AR::AT_MBit) << 799999999 << true;
    QTest::newRow("leading zeros") << "MX0000000012.3" << int(AR::AT_MBit) << 99 << true;
    // Refused instead of reading or writing offset 0 or a guessed place.
    QTest::newRow("rest not hex") << "MBxyz" << int(AR::AT_MByte) << 0 << false;
    QTest::newRow("no offset") << "MB" << int(AR::AT_MByte) << 0 << false;
    QTest::newRow("name with colon") << "MAIN:10" << int(AR::AT_MByte) << 0 << false;
    QTest::newRow("dot in explicit offset") << "20:1A.5" << int(AR::AT_Data) << 0 << false;
    QTest::newRow("empty byte number") << "MX.3" << int(AR::AT_MBit) << 0 << false;
    QTest::newRow("no bit part") << "M.5" << int(AR::AT_MBit) << 0 << false;
    QTest::newRow("explicit without offset part") << "5:1234" << int(AR::AT_Data) << 0 << false;
    QTest::newRow("offset overflows int") << "MBFFFFFFFFF" << int(AR::AT_MByte) << 0 << false;
    QTest::newRow("offset just past int") << "MB80000000" << int(AR::AT_MByte) << 0 << false;
    QTest::newRow("full-width digits")
        << QString::fromUtf8("MB\uFF11\uFF10") << int(AR::AT_MByte) << 0 << false;
    QTest::newRow("bit offset overflows int") << "MX999999999.0" << int(AR::AT_MBit) << 0 << false;
    QTest::newRow("too short explicit") << "1:23" << int(AR::AT_None) << 0 << false;
    QTest::newRow("unknown area") << "DB20" << int(AR::AT_None) << 0 << false;
    QTest::newRow("empty") << "" << int(AR::AT_None) << 0 << false;
}

void TestParsers::addresses()
{
    QFETCH(QString, address);
    QFETCH(int, area);
    QFETCH(int, offset);
    QFETCH(bool, parsed);
    QCOMPARE(int(AR::area(address)), area);
    bool converted = !parsed;
    QCOMPARE(AR::offset(address, AR::area(address), &converted), offset);
    QCOMPARE(converted, parsed);
}

void TestParsers::readGroupOfExplicitForm()
{
    bool ok = false;
    QCOMPARE(AR::explicitGroup(QStringLiteral("F030:10"), &ok), 0xF030);
    QVERIFY(ok);
    QCOMPARE(AR::explicitGroup(QStringLiteral("ZZ:10"), &ok), 0);
    QVERIFY(!ok);
    QCOMPARE(AR::explicitGroup(QStringLiteral(":10"), &ok), 0);
    QVERIFY(!ok);
}

void TestParsers::byteLengths()
{
    QCOMPARE(ValueCodec::byteLength(DT_Int16, 3), qint64(6));
    QCOMPARE(ValueCodec::byteLength(DT_Bool, 5), qint64(5));
    QCOMPARE(ValueCodec::byteLength(DT_Double, 100000), qint64(800000));
    QCOMPARE(ValueCodec::byteLength(DT_String, 4), qint64(0));
    QCOMPARE(ValueCodec::byteLength(17, 4), qint64(0));
    QCOMPARE(ValueCodec::byteLength(DT_Int64, 0x7fffffff), qint64(8) * 0x7fffffff); // no int overflow
}

void TestParsers::connectionTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("form");
    QTest::addColumn<QString>("first"); // ip or port name
    QTest::addColumn<int>("number"); // TCP port or baud
    QTest::addColumn<bool>("acceptable");
    const int E = ConnectionText::EthernetForm, S = ConnectionText::SerialForm, N = ConnectionText::NoForm;
    // Refused before any connect, so these example addresses open nothing.
    QTest::newRow("ethernet") << "192.168.1.20:48898" << E << "192.168.1.20" << 48898 << true;
    QTest::newRow("no separator") << "192.168.1.20" << N << "" << 0 << false;
    QTest::newRow("semicolon only") << "192.168.1.20;48898" << E << "192.168.1.20;48898" << 0 << false;
    QTest::newRow("port not a number") << "192.168.1.20:abc" << E << "192.168.1.20" << 0 << false;
    QTest::newRow("second colon") << "10.0.0.1:1:2" << E << "10.0.0.1" << 0 << false;
    QTest::newRow("no address") << ":48898" << E << "" << 48898 << false;
    QTest::newRow("port above 16 bits") << "10.0.0.1:70000" << E << "10.0.0.1" << 70000 << false;
    QTest::newRow("negative port") << "10.0.0.1:-5" << E << "10.0.0.1" << -5 << false;
    QTest::newRow("lone semicolon") << ";" << E << ";" << 0 << false;
    QTest::newRow("serial") << "ttyUSB0,9600,8,1,N" << S << "ttyUSB0" << 9600 << true;
    QTest::newRow("serial extra field") << "ttyUSB0,9600,8,1,N,X" << S << "ttyUSB0" << 9600 << true;
    QTest::newRow("comma wins") << "a,b:c" << S << "a" << 0 << false;
    QTest::newRow("no port name") << ",9600,8,1,N" << S << "" << 9600 << false;
}

void TestParsers::connectionTexts()
{
    QFETCH(QString, text);
    QFETCH(int, form);
    QFETCH(QString, first);
    QFETCH(int, number);
    QFETCH(bool, acceptable);
    QCOMPARE(int(ConnectionText::formOf(text)), form);
    if (form == ConnectionText::EthernetForm) {
        const auto e = ConnectionText::ethernet(text);
        QCOMPARE(e.ip, first);
        QCOMPARE(e.port, number);
        QCOMPARE(ConnectionText::acceptable(e), acceptable);
    } else if (form == ConnectionText::SerialForm) {
        const auto s = ConnectionText::serial(text);
        QCOMPARE(s.portName, first);
        QCOMPARE(s.baud, number);
        QCOMPARE(ConnectionText::acceptable(s), acceptable);
    }
}

void TestParsers::serialSettings_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<QString>("parity");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("expectParity");
    QTest::addColumn<int>("gap");
    QTest::newRow("115200 8N1") << 115200 << 8 << 1 << "N" << true << int(QSerialPort::NoParity) << 0;
    QTest::newRow("Even is even") << 9600 << 7 << 2 << "Even" << true << int(QSerialPort::EvenParity) << 3;
    QTest::newRow("odd, trimmed, lower")
        << 2400 << 8 << 1 << " odd" << true << int(QSerialPort::OddParity) << 10;
    QTest::newRow("none spelt out") << 4800 << 5 << 2 << "None" << true << int(QSerialPort::NoParity) << 6;
    // The line discipline has no 1.5 stop bits: a port told so runs with one.
    QTest::newRow("stop bits 1.5") << 9600 << 8 << 3 << "N" << false << 0 << 0;
    QTest::newRow("unlisted baud") << 9601 << 8 << 1 << "N" << false << 0 << 0;
    QTest::newRow("data bits 9") << 9600 << 9 << 1 << "N" << false << 0 << 0;
    QTest::newRow("stop bits 4") << 9600 << 8 << 4 << "N" << false << 0 << 0;
    QTest::newRow("parity mark") << 9600 << 8 << 1 << "M" << false << 0 << 0;
    QTest::newRow("parity is the baud repeated") << 9600 << 9600 << 9600 << "9600" << false << 0 << 0;
}

void TestParsers::serialSettings()
{
    QFETCH(int, baud);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(QString, parity);
    QFETCH(bool, ok);
    SerialLineSettings s;
    QCOMPARE(SerialLineSettings::fromText(baud, dataBits, stopBits, parity, &s), ok);
    if (ok) {
        QFETCH(int, expectParity);
        QFETCH(int, gap);
        QCOMPARE(int(s.parity), expectParity);
        QCOMPARE(int(s.dataBits), dataBits);
        QCOMPARE(s.frameGapMs(), gap);
    }
}

void TestParsers::buildStamp()
{
    QCOMPARE(BuildStamp::fromCompilerTexts("Dec 26 2023", "15:46:08"),
             QStringLiteral("v1.0.2 2023-12-26 15:46:08"));
    // The compiler pads one-digit days with a blank.
    QCOMPARE(BuildStamp::fromCompilerTexts("Jan  3 2024", "00:00:01"),
             QStringLiteral("v1.0.2 2024-01-03 00:00:01"));
    const QString now = BuildStamp::current();
    QCOMPARE(BuildStamp::current(), now);
    QVERIFY2(QRegularExpression(QStringLiteral("^v1\\.0\\.2 \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                 .match(now)
                 .hasMatch(),
             qPrintable(now));
}

void TestParsers::symbolNames_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("symbol");
    QTest::newRow("program variable") << "MAIN.nCounter" << true;
    QTest::newRow("array element") << "GVL.aTemps[3]" << true;
    QTest::newRow("two-dimensional") << "GVL.aM[1,2]" << true;
    QTest::newRow("nested with indexes") << "Main.st[0].a[1,2].x_1" << true;
    QTest::newRow("old global") << ".bRun" << true;
    QTest::newRow("underscore first") << "_G._x" << true;
    QTest::newRow("no dot") << "nCounter" << false;
    QTest::newRow("index without dot") << "aTemps[3]" << false;
    QTest::newRow("digit first") << "MAIN.1x" << false;
    QTest::newRow("bit address shape") << "M.5" << false;
    QTest::newRow("trailing dot") << "MAIN." << false;
    QTest::newRow("double dot") << "MAIN..x" << false;
    QTest::newRow("two leading dots") << "..x" << false;
    QTest::newRow("empty index") << "GVL.a[]" << false;
    // Bounds and dimensions are the controller's to judge.
    QTest::newRow("negative index") << "GVL.a[-1]" << true;
    QTest::newRow("three indexes") << "GVL.a[1,2,3]" << true;
    QTest::newRow("a lone minus") << "GVL.a[-]" << false;
    QTest::newRow("unclosed index") << "GVL.a[1" << false;
    QTest::newRow("colon") << "MAIN:10" << false;
    QTest::newRow("space") << "MAIN. x" << false;
    QTest::newRow("non-ASCII letter") << QString::fromUtf8("MAIN.\u00e4") << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("dot alone") << "." << false;
}

void TestParsers::symbolNames()
{
    QFETCH(QString, text);
    QFETCH(bool, symbol);
    QCOMPARE(SymbolName::isSymbolPath(text), symbol);
}

void TestParsers::symbolEntries()
{
    // entry length, group, offset, size, type id, flags, name/type/comment lengths, texts
    const QByteArray good = QByteArray::fromHex("3e000000"
                                                "20400000"
                                                "10000000"
                                                "04000000"
                                                "03000000"
                                                "08000000"
                                                "0d00"
                                                "04"
                                                "00"
                                                "0000")
                            + "MAIN.nCounter" + '\0' + "DINT" + '\0' + '\0';
    SymbolEntry e;
    QVERIFY(SymbolEntry::parse(good, &e));
    QCOMPARE(e.indexGroup, 0x4020u);
    QCOMPARE(e.indexOffset, 0x10u);
    QCOMPARE(e.size, 4u);
    QCOMPARE(e.typeName, QStringLiteral("DINT"));
    for (int cut = 0; cut < good.size(); ++cut)
        QVERIFY2(!SymbolEntry::parse(good.left(cut), &e), qPrintable(QString::number(cut)));
    QByteArray lying = good;
    lying[24] = char(0xff); // a name longer than the entry
    QVERIFY(!SymbolEntry::parse(lying, &e));
    QByteArray unterminated = good;
    unterminated[30 + 13] = 'x';
    QVERIFY(!SymbolEntry::parse(unterminated, &e));
    QCOMPARE(SymbolEntry::lookupData(QStringLiteral("MAIN.x")), QByteArray("MAIN.x\0", 7));
}

void TestParsers::parameterTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("target"); // empty: not set
    QTest::addColumn<int>("replyMs");
    // Texts of old keep their old answers.
    QTest::newRow("port") << "852" << true << 852 << "" << 2050;
    QTest::newRow("not a number") << "abc" << true << 0 << "" << 2050;
    QTest::newRow("above 16 bits") << "70000" << true << 0 << "" << 2050;
    QTest::newRow("negative") << "-1" << true << 0 << "" << 2050;
    // Any text with ":", ";" or "=" follows the new grammar, or changes nothing.
    QTest::newRow("a colon alone") << "851:" << false << 851 << "" << 2050;
    QTest::newRow("NetId of three parts") << "1.2.3:851" << false << 851 << "" << 2050;
    QTest::newRow("port after a colon") << ":852" << false << 851 << "" << 2050;
    // The ADS address form and options.
    QTest::newRow("NETID:PORT") << "5.12.34.56.1.1:853" << true << 853 << "5.12.34.56.1.1" << 2050;
    QTest::newRow("options after the port") << "852;reply-ms=500" << true << 852 << "" << 500;
    QTest::newRow("options alone") << " reply-ms = 700 ;" << true << 851 << "" << 700;
    QTest::newRow("target option") << "851;target=0.0.0.0.0.0" << true << 851 << "0.0.0.0.0.0" << 2050;
    QTest::newRow("bad NetId in the address") << "5.12.34.256.1.1:851" << false << 851 << "" << 2050;
    QTest::newRow("five parts") << "851;target=5.12.34.56.1" << false << 851 << "" << 2050;
    QTest::newRow("unknown key") << "851;colour=red" << false << 851 << "" << 2050;
    QTest::newRow("reply-ms 0") << "851;reply-ms=0" << false << 851 << "" << 2050;
    QTest::newRow("port 0 with options") << "0;reply-ms=5" << false << 851 << "" << 2050;
    QTest::newRow("a second port") << "851;852" << false << 851 << "" << 2050;
    QTest::newRow("type check off") << "851;type-check=0" << true << 851 << "" << 2050;
    QTest::newRow("type check, not 0 or 1") << "851;type-check=2" << false << 851 << "" << 2050;
}

void TestParsers::parameterTexts()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(int, port);
    QFETCH(QString, target);
    QFETCH(int, replyMs);
    int amsPort = 851;
    LinkSettings link;
    QCOMPARE(ConnectParameters::apply(text, &amsPort, &link), accepted);
    QCOMPARE(amsPort, port);
    QCOMPARE(ConnectParameters::netIdText(link.targetNetId), target);
    QCOMPARE(link.replyMs, replyMs);
}

QTEST_APPLESS_MAIN(TestParsers)
#include "tst_parsers.moc"
