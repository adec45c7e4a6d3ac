// Request frames byte for byte, and the reply checks.
#include "link/AdsFrame.h"
#include "link/AdsReplyCheck.h"
#include "link/DeviceNotification.h"
#include "link/WireBytes.h"
#include "tests/TestSupport.h"

#include <QtTest>

using TestSupport::hex;
using TestSupport::readData;
using TestSupport::replyTo;

namespace {
QByteArray le32(quint32 v)
{
    char b[4];
    WireBytes::putLe32(b, v);
    return QByteArray(b, 4);
}
} // namespace

class TestFrames : public QObject
{
    Q_OBJECT
private slots:
    void workedReadAndWriteRequests();
    void lengthsAndFieldsAtBoundaries();
    void readWriteRequestAndReply();
    void notificationFrames();
    void netIdFromIpText_data();
    void netIdFromIpText();
    void replyChecks_data();
    void replyChecks();
};

void TestFrames::workedReadAndWriteRequests()
{
    const QByteArray netId = AdsFrame::targetNetId(QStringLiteral("10.1.2.3"));
    const QByteArray read = AdsFrame::readRequest(netId, 851, 1, 0x4020, 10, 2);
    QCOMPARE(read, hex("00 00 2c 00 00 00 0a 01 02 03 01 01 53 03 c0 a8 0a 64 01 01 bd 80 02 00 04 00 "
                       "0c 00 00 00 00 00 00 00 01 00 00 00 20 40 00 00 0a 00 00 00 02 00 00 00"));

    const QByteArray write = AdsFrame::writeRequest(netId, 851, 2, 0x4020, 10, hex("34 12"), 2);
    QByteArray expected = read;
    expected[2] = char(0x2e);
    expected[22] = 0x03;
    expected[26] = 0x0e;
    expected[34] = 0x02;
    expected.append(hex("34 12"));
    QCOMPARE(write, expected);
}

void TestFrames::lengthsAndFieldsAtBoundaries()
{
    const QByteArray netId = AdsFrame::targetNetId(QStringLiteral("127.0.0.1"));
    const QByteArray big = AdsFrame::writeRequest(netId, 851, 7, 0x4020, 0, QByteArray(300, 'x'), 300);
    QCOMPARE(big.size(), 350);
    QCOMPARE(big.mid(2, 4), hex("58 01 00 00")); // 344
    QCOMPARE(big.mid(26, 4), hex("38 01 00 00")); // 312
    QCOMPARE(AdsFrame::expectedReplySize(big), qint64(42));

    const QByteArray read = AdsFrame::readRequest(netId, 70000, 0xFFFFFFFFu, 0xF020, 16, 800000);
    QCOMPARE(read.mid(12, 2), hex("70 11")); // a port keeps its low 16 bits only
    QCOMPARE(read.mid(34, 4), hex("ff ff ff ff"));
    QCOMPARE(read.mid(38, 4), hex("20 f0 00 00"));
    QCOMPARE(read.mid(42, 4), hex("10 00 00 00"));
    QCOMPARE(AdsFrame::expectedReplySize(read), qint64(46 + 800000));

    // A data array shorter than the length never makes the frame announce
    // more than it carries.
    const QByteArray padded = AdsFrame::writeRequest(netId, 851, 1, 0x4020, 0, hex("01"), 3);
    QCOMPARE(padded.size(), 53);
    QCOMPARE(padded.right(3), hex("01 00 00"));
}

void TestFrames::readWriteRequestAndReply()
{
    const QByteArray netId = AdsFrame::targetNetId(QStringLiteral("127.0.0.1"));
    const QByteArray request =
        AdsFrame::readWriteRequest(netId, 851, 3, 0xF009, 0, 0xFFFF, QByteArray("A.b\0", 4));
    QCOMPARE(request,
             hex("00 00 34 00 00 00 7f 00 00 01 01 01 53 03 c0 a8 0a 64 01 01 bd 80 09 00 04 00 "
                 "14 00 00 00 00 00 00 00 03 00 00 00 09 f0 00 00 00 00 00 00 ff ff 00 00 04 00 00 00 "
                 "41 2e 62 00"));
    QCOMPARE(AdsFrame::expectedReplySize(request), qint64(46 + 0xFFFF));
}

// The notification commands, byte for byte as the protocol lays them out:
// AddDeviceNotification's group, offset, length, mode, maximum delay and
// cycle (in 100 ns: 50 ms is 500000), then 16 zero bytes; its reply the
// result and the handle; DeleteDeviceNotification the handle; and a
// DeviceNotification's stamps and samples, read back in order.
void TestFrames::notificationFrames()
{
    const QByteArray netId = AdsFrame::targetNetId(QStringLiteral("10.1.2.3"));
    const QByteArray add =
        AdsFrame::addNotificationRequest(netId, 851, 5, 0x4020, 0x10, 2, 4, 500000, 500000);
    QCOMPARE(add, hex("00 00 48 00 00 00 0a 01 02 03 01 01 53 03 c0 a8 0a 64 01 01 bd 80 06 00 04 00 "
                      "28 00 00 00 00 00 00 00 05 00 00 00 20 40 00 00 10 00 00 00 02 00 00 00 "
                      "04 00 00 00 20 a1 07 00 20 a1 07 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    QCOMPARE(AdsFrame::expectedReplySize(add), qint64(38 + 8));
    const QByteArray added = replyTo(add, hex("00 00 00 00 2a 00 00 00"));
    QCOMPARE(AdsReplyCheck::check(AdsExchange::Replied, add, added).verdict, AdsReplyCheck::Accepted);
    QCOMPARE(AdsReplyCheck::check(AdsExchange::Replied, add, added.left(44)).verdict,
             AdsReplyCheck::WrongReply);
    QCOMPARE(AdsReplyCheck::check(AdsExchange::Replied, add, replyTo(add, hex("16 07 00 00 00 00 00 00")))
                 .errorCode,
             0x716u);

    const QByteArray del = AdsFrame::deleteNotificationRequest(netId, 851, 6, 0x2a);
    QCOMPARE(del, hex("00 00 24 00 00 00 0a 01 02 03 01 01 53 03 c0 a8 0a 64 01 01 bd 80 07 00 04 00 "
                      "04 00 00 00 00 00 00 00 06 00 00 00 2a 00 00 00"));
    QCOMPARE(AdsReplyCheck::check(AdsExchange::Replied, del, replyTo(del, hex("00 00 00 00"))).verdict,
             AdsReplyCheck::Accepted);

    // Two stamps: handles 7 and 9 in the first, 7 again in the second.
    const QByteArray stamps = hex("02 00 00 00"
                                  "00 80 3e d5 de b1 9d 01 02 00 00 00"
                                  "07 00 00 00 02 00 00 00 34 12"
                                  "09 00 00 00 01 00 00 00 01"
                                  "80 96 98 d5 de b1 9d 01 01 00 00 00"
                                  "07 00 00 00 02 00 00 00 35 12");
    const QByteArray data = le32(quint32(stamps.size())) + stamps;
    QStringList seen;
    const auto collect = [&seen](quint32 handle, const char *bytes, quint32 size) {
        seen << QStringLiteral("%1:%2").arg(handle).arg(
            QString::fromLatin1(QByteArray(bytes, int(size)).toHex()));
    };
    QVERIFY(DeviceNotification::samples(data.constData(), data.size(), collect));
    QCOMPARE(seen, (QStringList{"7:3412", "9:01", "7:3512"}));
    for (int cut = 0; cut < data.size(); ++cut) {
        seen.clear();
        QVERIFY2(!DeviceNotification::samples(data.constData(), cut, collect),
                 qPrintable(QString::number(cut)));
        QVERIFY(seen.size() <= 3);
    }
    QByteArray lying = data;
    lying[4 + 4 + 12 + 4] = char(0x40); // a sample longer than the frame
    QVERIFY(!DeviceNotification::samples(lying.constData(), lying.size(), collect));
}

void TestFrames::netIdFromIpText_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QByteArray>("netId");
    QTest::newRow("ipv4") << "127.0.0.1" << hex("7f 00 00 01 01 01");
    QTest::newRow("empty, as on a serial line") << "" << hex("00 00 00 00 01 01");
    QTest::newRow("two parts") << "7.9" << hex("07 09 00 00 01 01");
    QTest::newRow("ipv6") << "::1" << hex("00 00 00 00 01 01");
    QTest::newRow("large part keeps low bits") << "300.1.2.3" << hex("2c 01 02 03 01 01");
}

void TestFrames::netIdFromIpText()
{
    QFETCH(QString, ip);
    QFETCH(QByteArray, netId);
    QCOMPARE(AdsFrame::targetNetId(ip), netId);
}

namespace {
QByteArray patched(QByteArray frame, int at, const QByteArray &bytes)
{
    return frame.replace(at, bytes.size(), bytes);
}
} // namespace

Q_DECLARE_METATYPE(AdsExchange::Progress)
Q_DECLARE_METATYPE(AdsReplyCheck::Verdict)

// Every expectation comes from the request: command, response flag, the
// AMS length, the errors, and the data length for reads and read-writes.
void TestFrames::replyChecks_data()
{
    using C = AdsReplyCheck;
    QTest::addColumn<AdsExchange::Progress>("progress");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<AdsReplyCheck::Verdict>("verdict");
    QTest::addColumn<quint32>("errorCode");

    const QByteArray netId = AdsFrame::targetNetId(QStringLiteral("127.0.0.1"));
    const QByteArray read = AdsFrame::readRequest(netId, 851, 0x12345, 0x4020, 0, 2);
    const QByteArray good = replyTo(read, readData(0, hex("34 12")));
    const auto ok = AdsExchange::Replied;
    QTest::newRow("read accepted") << ok << read << good << C::Accepted << 0u;
    QTest::newRow("read, nothing came") << AdsExchange::NoReply << read << QByteArray() << C::NoReply << 0u;
    QTest::newRow("read cut short") << AdsExchange::CutShort << read << good.left(40) << C::WrongReply << 0u;
    QTest::newRow("read oversized") << AdsExchange::Oversized << read << good << C::WrongReply << 0u;
    QTest::newRow("read, another command")
        << ok << read << patched(good, 22, hex("03 00")) << C::WrongReply << 0u;
    QTest::newRow("read, no response flag")
        << ok << read << patched(good, 24, hex("04 00")) << C::WrongReply << 0u;
    QTest::newRow("read, AMS length disagrees")
        << ok << read << patched(good, 26, hex("09 00 00 00")) << C::WrongReply << 0u;
    QTest::newRow("read, ADS length disagrees")
        << ok << read << patched(good, 42, hex("03 00 00 00")) << C::WrongReply << 0u;
    QTest::newRow("read, more data than asked")
        << ok << read << replyTo(read, readData(0, hex("34 12 56"))) << C::WrongReply << 0u;
    // Errors are looked at whole: 0x700 has a zero low byte.
    QTest::newRow("read, AMS error") << ok << read << replyTo(read, QByteArray(), 0x700) << C::ErrorCode
                                     << 0x700u;
    QTest::newRow("read, ADS result")
        << ok << read << replyTo(read, readData(0x710, {})) << C::ErrorCode << 0x710u;
    QTest::newRow("read, invoke id differs above 16 bits")
        << ok << read << patched(good, 36, hex("7f")) << C::Accepted << 0u;

    const QByteArray write = AdsFrame::writeRequest(netId, 851, 9, 0x4020, 0, hex("01"), 1);
    const QByteArray written = replyTo(write, le32(0));
    QTest::newRow("write accepted") << ok << write << written << C::Accepted << 0u;
    QTest::newRow("write, ADS result")
        << ok << write << replyTo(write, le32(0x705)) << C::ErrorCode << 0x705u;
    QTest::newRow("write, a byte more")
        << ok << write << replyTo(write, le32(0) + hex("00")) << C::WrongReply << 0u;
    QTest::newRow("write, answered as a read")
        << ok << write << patched(written, 22, hex("02 00")) << C::WrongReply << 0u;

    const QByteArray lookup =
        AdsFrame::readWriteRequest(netId, 851, 3, 0xF009, 0, 0xFFFF, QByteArray("A.b\0", 4));
    const QByteArray entry = replyTo(lookup, readData(0, QByteArray(40, 'e')));
    QTest::newRow("read-write accepted") << ok << lookup << entry << C::Accepted << 0u;
    QTest::newRow("read-write, length field lies")
        << ok << lookup << patched(entry, 42, hex("29 00 00 00")) << C::WrongReply << 0u;
    QTest::newRow("read-write, more than asked")
        << ok << AdsFrame::readWriteRequest(netId, 851, 3, 0xF009, 0, 39, QByteArray("A.b\0", 4))
        << replyTo(AdsFrame::readWriteRequest(netId, 851, 3, 0xF009, 0, 39, QByteArray("A.b\0", 4)),
                   readData(0, QByteArray(40, 'e')))
        << C::WrongReply << 0u;
    QTest::newRow("read-write, symbol not found")
        << ok << lookup << replyTo(lookup, readData(0x710, {})) << C::ErrorCode << 0x710u;
}

void TestFrames::replyChecks()
{
    QFETCH(AdsExchange::Progress, progress);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(AdsReplyCheck::Verdict, verdict);
    QFETCH(quint32, errorCode);
    const AdsReplyCheck::Result result = AdsReplyCheck::check(progress, request, reply);
    QCOMPARE(result.verdict, verdict);
    if (verdict == AdsReplyCheck::ErrorCode)
        QCOMPARE(result.errorCode, errorCode);
    QCOMPARE(AdsReplyCheck::linkResult(verdict), verdict == AdsReplyCheck::Accepted  ? LinkOk
                                                 : verdict == AdsReplyCheck::NoReply ? LinkNoReply
                                                                                     : LinkWrongReply);
}

QTEST_APPLESS_MAIN(TestFrames)
#include "tst_frames.moc"
