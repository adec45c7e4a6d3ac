// Element lists to and from wire bytes: least significant byte first for
// every type, one byte per bool.
#include "driver/LibBeckhoff_ADS.h"
#include "driver/StringCodec.h"

#include <QtTest>

namespace {
QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

template <typename T>
QList<T> listOf(const QVariant &v)
{
    [&] { QCOMPARE(v.userType(), qMetaTypeId<QList<T>>()); }();
    return v.value<QList<T>>();
}

CLabelVariable labelOf(const QVariant &v)
{
    CLabelVariable l;
    l.value = v;
    return l;
}
} // namespace

class TestValueCodec : public QObject
{
    Q_OBJECT
private slots:
    void decodersTakeLeastSignificantFirst();
    void decodersFillMissingBytesAndIgnoreSurplus();
    void boolsAreOneBytePerValue();
    void encoders();
    void encodersAppendOnlyWhatTheListHolds();
    void everyTypeRoundTrips();
    void listsOfAnySizeHoldEachElementOnce();
    void stringTypeNames_data();
    void stringTypeNames();
    void codePageBytesComeBackAsSent();

private:
    LibBeckhoff_ADS d;
};

void TestValueCodec::decodersTakeLeastSignificantFirst()
{
    QCOMPARE(listOf<short>(d.set_variant_Int16(hex("34 12"), 1)), QList<short>{4660});
    QCOMPARE(listOf<unsigned short>(d.set_variant_UInt16(hex("ff ff"), 1)), QList<unsigned short>{65535});
    QCOMPARE(listOf<int>(d.set_variant_Int32(hex("01 00 00 00 02 00 00 00"), 2)), (QList<int>{1, 2}));
    QCOMPARE(listOf<unsigned int>(d.set_variant_UInt32(hex("fe ff ff ff"), 1)),
             QList<unsigned int>{4294967294u});
    QCOMPARE(listOf<float>(d.set_variant_fload(hex("c3 f5 48 40"), 1)), QList<float>{3.14f});
    QCOMPARE(listOf<long long>(d.set_variant_Int64(hex("fe ff ff ff ff ff ff ff"), 1)), QList<long long>{-2});
    QCOMPARE(listOf<unsigned long long>(d.set_variant_UInt64(hex("ff ff ff ff ff ff ff ff"), 1)),
             QList<unsigned long long>{18446744073709551615ULL});
    QCOMPARE(listOf<double>(d.set_variant_double(hex("00 00 00 00 00 00 f0 3f"), 1)), QList<double>{1.0});
    QCOMPARE(listOf<char>(d.set_variant_Int8(hex("ff"), 1)), QList<char>{char(-1)});
    QCOMPARE(listOf<unsigned char>(d.set_variant_UInt8(hex("ff"), 1)), QList<unsigned char>{255});
}

void TestValueCodec::decodersFillMissingBytesAndIgnoreSurplus()
{
    QCOMPARE(listOf<short>(d.set_variant_Int16(hex("7f"), 1)), QList<short>{127});
    QCOMPARE(listOf<int>(d.set_variant_Int32(hex("cd ab"), 1)), QList<int>{0xabcd});
    QCOMPARE(listOf<unsigned char>(d.set_variant_UInt8(hex("05"), 3)), (QList<unsigned char>{5, 0, 0}));
    QCOMPARE(listOf<short>(d.set_variant_Int16(hex("01 00 02 00"), 1)), QList<short>{1});
    const QVariant none = d.set_variant_double(QByteArray(), 0);
    QVERIFY(none.isValid());
    QVERIFY(listOf<double>(none).isEmpty());
    QVERIFY(listOf<int>(d.set_variant_Int32(hex("01 00 00 00"), -3)).isEmpty());
}

void TestValueCodec::boolsAreOneBytePerValue()
{
    QCOMPARE(listOf<bool>(d.set_variant_bool(hex("01"), 1)), QList<bool>{true});
    QCOMPARE(listOf<bool>(d.set_variant_bool(hex("05 00 ff 02"), 4)), (QList<bool>{true, false, true, true}));
    QCOMPARE(listOf<bool>(d.set_variant_bool(hex("01"), 3)), (QList<bool>{true, false, false}));
    QVERIFY(listOf<bool>(d.set_variant_bool(hex("01"), -1)).isEmpty());
}

void TestValueCodec::encoders()
{
    QByteArray out;
    d.Wset_variant_Int16(labelOf(QVariant::fromValue(QList<short>{4660, -2})), 2, &out);
    QCOMPARE(out, hex("34 12 fe ff"));
    out.clear();
    d.Wset_variant_uInt16(labelOf(QVariant::fromValue(QList<unsigned short>{65535})), 1, &out);
    QCOMPARE(out, hex("ff ff"));
    out.clear();
    d.Wset_variant_Int32(labelOf(QVariant::fromValue(QList<int>{1})), 1, &out);
    QCOMPARE(out, hex("01 00 00 00"));
    out.clear();
    d.Wset_variant_UInt32(labelOf(QVariant::fromValue(QList<unsigned int>{4294967294u})), 1, &out);
    QCOMPARE(out, hex("fe ff ff ff"));
    out.clear();
    d.Wset_variant_float(labelOf(QVariant::fromValue(QList<float>{1.0f})), 1, &out);
    QCOMPARE(out, hex("00 00 80 3f"));
    out.clear();
    d.Wset_variant_double(labelOf(QVariant::fromValue(QList<double>{1.0})), 1, &out);
    QCOMPARE(out, hex("00 00 00 00 00 00 f0 3f"));
    out.clear();
    d.Wset_variant_Int64(labelOf(QVariant::fromValue(QList<long long>{-2})), 1, &out);
    QCOMPARE(out, hex("fe ff ff ff ff ff ff ff"));
    out.clear();
    d.Wset_variant_UInt64(labelOf(QVariant::fromValue(QList<unsigned long long>{1})), 1, &out);
    QCOMPARE(out, hex("01 00 00 00 00 00 00 00"));
    out.clear();
    d.Wset_variant_bool(labelOf(QVariant::fromValue(QList<bool>{true, false, true})), 3, &out);
    QCOMPARE(out, hex("01 00 01"));
    out = hex("aa");
    d.Wset_variant_UInt8(labelOf(QVariant::fromValue(QList<unsigned char>{5})), 1, &out);
    QCOMPARE(out, hex("aa 05"));
    out.clear();
    d.Wset_variant_Int8(labelOf(QVariant::fromValue(QList<char>{char(-1)})), 1, &out);
    QCOMPARE(out, hex("ff"));
}

void TestValueCodec::encodersAppendOnlyWhatTheListHolds()
{
    QByteArray out;
    d.Wset_variant_Int16(labelOf(QVariant::fromValue(QList<short>{1, 2, 3})), 2, &out);
    QCOMPARE(out, hex("01 00 02 00"));
    out.clear();
    QCOMPARE(d.Wset_variant_Int16(labelOf(QVariant::fromValue(QList<int>{1})), 1, &out), 0);
    QCOMPARE(d.Wset_variant_Int32(labelOf(QVariant(5)), 1, &out), 0);
    QCOMPARE(d.Wset_variant_double(labelOf(QVariant()), 1, &out), 0);
    QCOMPARE(d.Wset_variant_Int16(labelOf(QVariant::fromValue(QList<short>{1})), 0, &out), 0);
    QVERIFY(out.isEmpty());
    // Never past the end of the list.
    d.Wset_variant_Int32(labelOf(QVariant::fromValue(QList<int>{7})), 3, &out);
    QCOMPARE(out, hex("07 00 00 00"));
}

void TestValueCodec::everyTypeRoundTrips()
{
    auto roundTrip = [this](auto list, auto encode, auto decode) {
        QByteArray bytes;
        (d.*encode)(labelOf(QVariant::fromValue(list)), list.size(), &bytes);
        return (d.*decode)(bytes, list.size()).template value<decltype(list)>() == list;
    };
    using L = LibBeckhoff_ADS;
    QVERIFY(roundTrip(QList<bool>{true, false, true}, &L::Wset_variant_bool, &L::set_variant_bool));
    QVERIFY(roundTrip(QList<char>{-128, 0, 127}, &L::Wset_variant_Int8, &L::set_variant_Int8));
    QVERIFY(roundTrip(QList<unsigned char>{0, 255}, &L::Wset_variant_UInt8, &L::set_variant_UInt8));
    QVERIFY(roundTrip(QList<short>{-32768, 32767}, &L::Wset_variant_Int16, &L::set_variant_Int16));
    QVERIFY(roundTrip(QList<unsigned short>{0, 65535}, &L::Wset_variant_uInt16, &L::set_variant_UInt16));
    QVERIFY(roundTrip(QList<int>{INT_MIN, -1, INT_MAX}, &L::Wset_variant_Int32, &L::set_variant_Int32));
    QVERIFY(roundTrip(QList<unsigned int>{0, 4294967295u}, &L::Wset_variant_UInt32, &L::set_variant_UInt32));
    QVERIFY(roundTrip(QList<float>{-1.5f, 3.4e38f, 1e-45f}, &L::Wset_variant_float, &L::set_variant_fload));
    QVERIFY(roundTrip(QList<long long>{LLONG_MIN, LLONG_MAX}, &L::Wset_variant_Int64, &L::set_variant_Int64));
    QVERIFY(
        roundTrip(QList<unsigned long long>{0, ULLONG_MAX}, &L::Wset_variant_UInt64, &L::set_variant_UInt64));
    QVERIFY(roundTrip(QList<double>{-0.0, 1e308, 4.9e-324}, &L::Wset_variant_double, &L::set_variant_double));
}

// The list is built at its size in one block; every element lands in its
// own place, for sizes around each power of two and the largest blocks.
void TestValueCodec::listsOfAnySizeHoldEachElementOnce()
{
    QList<int> counts;
    for (int c = 1; c <= 70; ++c)
        counts << c;
    counts << 1023 << 1024 << 1025 << 65535 << 65536 << 65537 << 100000;
    for (const int count : qAsConst(counts)) {
        QByteArray bytes(count * 4, '\0');
        for (int e = 0; e < count; ++e)
            qToLittleEndian<qint32>(e * 3 + 1, bytes.data() + e * 4);
        const QList<int> list = listOf<int>(d.set_variant_Int32(bytes, count));
        QCOMPARE(list.size(), count);
        for (int e = 0; e < count; ++e)
            if (list.at(e) != e * 3 + 1)
                QFAIL(qPrintable(
                    QStringLiteral("count %1: element %2 is %3").arg(count).arg(e).arg(list.at(e))));
    }
}

void TestValueCodec::stringTypeNames_data()
{
    QTest::addColumn<QString>("typeName");
    QTest::addColumn<bool>("isString");
    QTest::addColumn<bool>("wide");
    QTest::addColumn<int>("chars");
    QTest::addColumn<qint64>("elements");
    QTest::newRow("STRING(80)") << "STRING(80)" << true << false << 80 << qint64(1);
    QTest::newRow("WSTRING(40), lower case") << "wstring(40)" << true << true << 40 << qint64(1);
    QTest::newRow("STRING alone") << "STRING" << true << false << 80 << qint64(1);
    QTest::newRow("spaces") << " STRING ( 12 ) " << true << false << 12 << qint64(1);
    QTest::newRow("array") << "ARRAY [0..9] OF STRING(80)" << true << false << 80 << qint64(10);
    QTest::newRow("two dimensions") << "ARRAY[-1..1,1..2] OF WSTRING(3)" << true << true << 3 << qint64(6);
    QTest::newRow("no length") << "STRING(0)" << false << false << 0 << qint64(0);
    QTest::newRow("an integer") << "DINT" << false << false << 0 << qint64(0);
    QTest::newRow("array of REAL") << "ARRAY [0..9] OF REAL" << false << false << 0 << qint64(0);
    QTest::newRow("trailing text") << "STRING(80) X" << false << false << 0 << qint64(0);
    QTest::newRow("bounds the wrong way") << "ARRAY [5..4] OF STRING" << false << false << 0 << qint64(0);
    QTest::newRow("no bounds") << "ARRAY [] OF STRING" << false << false << 0 << qint64(0);
    QTest::newRow("pointer") << "POINTER TO STRING" << false << false << 0 << qint64(0);
    QTest::newRow("an alias") << "T_MaxString" << false << false << 0 << qint64(0);
}

void TestValueCodec::stringTypeNames()
{
    QFETCH(QString, typeName);
    QFETCH(bool, isString);
    QFETCH(bool, wide);
    QFETCH(int, chars);
    QFETCH(qint64, elements);
    StringCodec::Layout layout;
    QCOMPARE(StringCodec::layoutOf(typeName, &layout), isString);
    if (!isString)
        return;
    QCOMPARE(layout.wide, wide);
    QCOMPARE(layout.chars, chars);
    QCOMPARE(layout.elements, elements);
    QCOMPARE(layout.width(), qint64(chars + 1) * (wide ? 2 : 1));
}

// Every byte but 0 decodes to one character that encodes back to it.
void TestValueCodec::codePageBytesComeBackAsSent()
{
    StringCodec::Layout layout;
    layout.chars = 255;
    QByteArray all;
    for (int b = 1; b < 256; ++b)
        all.append(char(b));
    const QList<QString> decoded = StringCodec::decode(layout, all.constData(), all.size(), 1);
    QCOMPARE(decoded.size(), 1);
    QCOMPARE(decoded.first().size(), 255);
    QCOMPARE(decoded.first().at(0x80 - 1), QChar(0x20AC));
    QByteArray encoded;
    QVERIFY(StringCodec::encode(layout, decoded, 1, &encoded));
    QCOMPARE(encoded, all + QByteArray(1, '\0'));
    // A control character the code page gives another byte to cannot go.
    QVERIFY(!StringCodec::encode(layout, {QString(QChar(0x80))}, 1, &encoded));
}

QTEST_GUILESS_MAIN(TestValueCodec)
#include "tst_valuecodec.moc"
