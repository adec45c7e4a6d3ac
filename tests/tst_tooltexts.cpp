// The texts of the tools, without processes: typed values at the edges of
// their types, the shortest float texts reading back exactly, and the image
// file of ads-sim.
#include "SimImageFile.h"
#include "ValueText.h"

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
                            "symbol .bRun F030 4 1\n",
                            &error);
    QCOMPARE(error, QString());
    QCOMPARE(symbols.size(), 3);
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
}

void TestToolTexts::imageFileErrorsNameTheLine()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QString got;
    QVERIFY(SimImageFile::parse(text, &got).isEmpty());
    QVERIFY2(got.startsWith(error), qPrintable(got));
}

QTEST_GUILESS_MAIN(TestToolTexts)
#include "tst_tooltexts.moc"
