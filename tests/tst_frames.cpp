// Request frames byte for byte, the framing of reply streams, and the reply
// checks.
#include "AdsFrame.h"
#include "AdsReplyCheck.h"
#include "ReplyFramer.h"
#include "WireBytes.h"

#include <QtTest>

namespace {
QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

QByteArray le32(quint32 v)
{
    char b[4];
    WireBytes::putLe32(b, v);
    return QByteArray(b, 4);
}

// A reply to `request` as a controller sends it: `data` after the header.
QByteArray replyTo(const QByteArray &request, const QByteArray &data, quint32 amsError = 0)
{
    return QByteArray(2, '\0') + le32(quint32(32 + data.size())) + QByteArray(16, '\0') + request.mid(22, 2)
           + QByteArray(2, '\0') + le32(quint32(data.size())) + le32(amsError) + request.mid(34, 4) + data;
}

QByteArray readData(quint32 result, const QByteArray &bytes)
{
    return le32(result) + le32(quint32(bytes.size())) + bytes;
}
} // namespace

class TestFrames : public QObject
{
    Q_OBJECT
private slots:
    void workedReadAndWriteRequests();
    void lengthsAndFieldsAtBoundaries();
    void readWriteRequestAndReply();
    void netIdFromIpText_data();
    void netIdFromIpText();
    void framerFindsOurReplyInPieces();
    void framerSkipsStrangersAcrossExchanges();
    void framerStopsAtOversizedReplyAndNoise();
    void readChecks();
    void writeChecks();
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

    using C = AdsReplyCheck;
    const QByteArray good = replyTo(request, readData(0, QByteArray(40, 'e')));
    QCOMPARE(C::checkReadWrite(C::CompleteFrame, request, good, 0xFFFF).verdict, C::Accepted);
    // The length field decides the size, and may not exceed what was asked.
    QCOMPARE(C::checkReadWrite(C::CompleteFrame, request, good, 39).verdict, C::WrongLength);
    QByteArray lying = good;
    lying[42] = 41;
    QCOMPARE(C::checkReadWrite(C::CompleteFrame, request, lying, 0xFFFF).verdict, C::WrongLength);
    QCOMPARE(
        C::checkReadWrite(C::CompleteFrame, request, replyTo(request, readData(0x710, {})), 0xFFFF).errorCode,
        0x710u);
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

void TestFrames::framerFindsOurReplyInPieces()
{
    const QByteArray request = AdsFrame::readRequest(QByteArray(6, 0), 851, 5, 0x4020, 0, 300);
    const QByteArray reply = replyTo(request, readData(0, QByteArray(300, 'v')));
    for (int cut = 1; cut < reply.size(); ++cut) {
        ReplyFramer framer;
        framer.beginExchange(5, AdsFrame::expectedReplySize(request));
        QByteArray buffer = reply.left(cut);
        QCOMPARE(framer.scan(buffer, nullptr), ReplyFramer::NeedMore);
        buffer.append(reply.mid(cut));
        QCOMPARE(framer.scan(buffer, nullptr), ReplyFramer::FrameReady);
        QCOMPARE(framer.frameSize(), qint64(reply.size()));
        QCOMPARE(buffer, reply);
    }
}

void TestFrames::framerSkipsStrangersAcrossExchanges()
{
    const QByteArray oldRequest = AdsFrame::readRequest(QByteArray(6, 0), 851, 1, 0x4020, 0, 1000);
    const QByteArray lateReply = replyTo(oldRequest, readData(0, QByteArray(1000, 'o')));
    const QByteArray request = AdsFrame::readRequest(QByteArray(6, 0), 851, 2, 0x4020, 0, 2);
    const QByteArray reply = replyTo(request, readData(0, hex("34 12")));

    ReplyFramer framer;
    framer.beginExchange(1, AdsFrame::expectedReplySize(oldRequest));
    // The old exchange gave up; 100 bytes of its reply come before the next request.
    QByteArray buffer = lateReply.left(100);
    framer.discardStale(buffer);
    QVERIFY(buffer.isEmpty());

    framer.beginExchange(2, AdsFrame::expectedReplySize(request));
    QList<ReplyFramer::StrangerKind> seen;
    auto sink = [&](const QByteArray &, ReplyFramer::StrangerKind kind) { seen.append(kind); };
    buffer = lateReply.mid(100, 500);
    QCOMPARE(framer.scan(buffer, sink), ReplyFramer::NeedMore);
    // The rest of the late reply, a whole second stranger, then ours.
    const QByteArray stranger =
        replyTo(AdsFrame::readRequest(QByteArray(6, 0), 851, 9, 0, 0, 2), readData(0, hex("00 00")));
    buffer.append(lateReply.mid(600) + stranger + reply);
    QCOMPARE(framer.scan(buffer, sink), ReplyFramer::FrameReady);
    QCOMPARE(buffer.left(int(framer.frameSize())), reply);
    QCOMPARE(seen, QList<ReplyFramer::StrangerKind>{ReplyFramer::OtherInvokeId});
    QCOMPARE(framer.strangers(), 1);

    // A frame too short to carry an invoke id is skipped as well.
    framer.beginExchange(2, AdsFrame::expectedReplySize(request));
    buffer = hex("00 00 00 00 00 00") + reply;
    QCOMPARE(framer.scan(buffer, sink), ReplyFramer::FrameReady);
    QCOMPARE(seen.last(), ReplyFramer::TooShortForId);
}

void TestFrames::framerStopsAtOversizedReplyAndNoise()
{
    const QByteArray request = AdsFrame::readRequest(QByteArray(6, 0), 851, 3, 0x4020, 0, 2);
    QByteArray huge = replyTo(request, readData(0, hex("00 00")));
    WireBytes::putLe32(huge.data() + 2, 0x7fffffff);
    ReplyFramer framer;
    framer.beginExchange(3, AdsFrame::expectedReplySize(request));
    QByteArray buffer = huge;
    QCOMPARE(framer.scan(buffer, nullptr), ReplyFramer::Oversized);
    QCOMPARE(framer.frameSize(), qint64(huge.size()));

    // A stranger longer than anything this connection asked for is noise:
    // the buffer goes, and nothing waits for gigabytes to pass.
    QByteArray noise = huge;
    noise[34] = 0x44;
    framer.beginExchange(3, AdsFrame::expectedReplySize(request));
    buffer = noise;
    QCOMPARE(framer.scan(buffer, nullptr), ReplyFramer::NeedMore);
    QVERIFY(buffer.isEmpty());
    const QByteArray reply = replyTo(request, readData(0, hex("01 00")));
    buffer = reply;
    QCOMPARE(framer.scan(buffer, nullptr), ReplyFramer::FrameReady);
}

void TestFrames::readChecks()
{
    const QByteArray request = AdsFrame::readRequest(QByteArray(6, 0), 851, 0x12345, 0x4020, 0, 2);
    const QByteArray good = replyTo(request, readData(0, hex("34 12")));
    using C = AdsReplyCheck;
    QCOMPARE(C::checkRead(C::CompleteFrame, request, good, 2).verdict, C::Accepted);
    QCOMPARE(C::checkRead(C::Nothing, request, QByteArray(), 2).verdict, C::NoReply);
    QCOMPARE(C::checkRead(C::OnlyStrangers, request, QByteArray(), 2).verdict, C::StrangersOnly);
    QCOMPARE(C::checkRead(C::Incomplete, request, good.left(40), 2).verdict, C::WrongLength);
    QCOMPARE(C::checkRead(C::CompleteFrame, request, good, 3).verdict, C::WrongLength);

    // Errors are looked at whole: 0x700 has a zero low byte.
    const C::Result ams = C::checkRead(C::CompleteFrame, request, replyTo(request, QByteArray(), 0x700), 2);
    QCOMPARE(ams.verdict, C::ErrorCode);
    QCOMPARE(ams.errorCode, 0x700u);
    const C::Result ads = C::checkRead(C::CompleteFrame, request, replyTo(request, readData(0x710, {})), 2);
    QCOMPARE(ads.verdict, C::ErrorCode);
    QCOMPARE(ads.errorCode, 0x710u);

    QByteArray otherId = good;
    otherId[35] = char(otherId[35] + 1);
    QCOMPARE(C::checkRead(C::CompleteFrame, request, otherId, 2).verdict, C::WrongSequence);
    QByteArray highBitsDiffer = good;
    highBitsDiffer[36] = 0x7f;
    QCOMPARE(C::checkRead(C::CompleteFrame, request, highBitsDiffer, 2).verdict, C::Accepted);

    QCOMPARE(C::linkResult(C::Accepted), 0);
    QCOMPARE(C::linkResult(C::NoReply), -2);
    QCOMPARE(C::linkResult(C::ErrorCode), -1);
    QCOMPARE(C::linkResult(C::StrangersOnly), -1);
}

void TestFrames::writeChecks()
{
    const QByteArray request = AdsFrame::writeRequest(QByteArray(6, 0), 851, 9, 0x4020, 0, hex("01"), 1);
    const QByteArray good = replyTo(request, le32(0));
    using C = AdsReplyCheck;
    QCOMPARE(good.size(), 42);
    QCOMPARE(C::checkWrite(C::CompleteFrame, request, good).verdict, C::Accepted);
    QCOMPARE(C::checkWrite(C::Nothing, request, QByteArray()).verdict, C::NoReply);
    QCOMPARE(C::checkWrite(C::CompleteFrame, request, replyTo(request, le32(0x705))).errorCode, 0x705u);
    QCOMPARE(C::checkWrite(C::CompleteFrame, request, good + hex("00")).verdict, C::WrongLength);
    QCOMPARE(C::checkWrite(C::Incomplete, request, good.left(41)).verdict, C::WrongLength);
    QByteArray otherId = good;
    otherId[34] = 0x55;
    QCOMPARE(C::checkWrite(C::CompleteFrame, request, otherId).verdict, C::WrongSequence);
}

QTEST_APPLESS_MAIN(TestFrames)
#include "tst_frames.moc"
