// The exchange engine without a socket: byte arrivals and clock values in,
// what each wait ended with out. Every row runs two exchanges on one
// stream: whatever the first met, the second finds its reply when it
// arrives in time.
#include "link/AdsExchange.h"
#include "link/AdsFrame.h"
#include "tests/TestSupport.h"

#include <QtTest>

using TestSupport::hex;
using TestSupport::readData;
using TestSupport::replyTo;

namespace {
const qint64 kWaitMs = 2050;
const QByteArray kNetId = AdsFrame::targetNetId(QStringLiteral("127.0.0.1"));

QByteArray readRequest(quint32 id, quint32 length)
{
    return AdsFrame::readRequest(kNetId, 851, id, 0x4020, 0, length);
}

QByteArray readReply(const QByteArray &request, char fill)
{
    return replyTo(request, readData(0, QByteArray(int(AdsFrame::expectedReplySize(request)) - 46, fill)));
}

QByteArray announcing(QByteArray frame, quint32 length)
{
    char b[4];
    for (int i = 0; i < 4; ++i)
        b[i] = char((length >> (8 * i)) & 0xff);
    return frame.replace(2, 4, QByteArray(b, 4));
}

// A DeviceNotification from the controller `request` went to: addressed
// to its source, the controller's own request (flags 0x0004), one stamp
// with one sample of `bytes` for `handle`.
QByteArray notification(const QByteArray &request, quint32 invokeId, quint32 handle, const QByteArray &bytes)
{
    QByteArray samples(4 + 8 + 4 + 8, '\0');
    auto put32 = [&samples](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            samples[at + i] = char((v >> (8 * i)) & 0xff);
    };
    put32(0, 1); // stamps
    put32(12, 1); // samples in the stamp
    put32(16, handle);
    put32(20, quint32(bytes.size()));
    samples += bytes;
    QByteArray length(4, '\0');
    for (int i = 0; i < 4; ++i)
        length[i] = char((quint32(samples.size()) >> (8 * i)) & 0xff);
    QByteArray frame = replyTo(request, length + samples);
    frame[AdsFrame::OffCommand] = char(AdsFrame::CmdNotification);
    frame[AdsFrame::OffStateFlags] = char(AdsFrame::StateAdsCommand);
    for (int i = 0; i < 4; ++i)
        frame[AdsFrame::OffInvokeId + i] = char((invokeId >> (8 * i)) & 0xff);
    return frame;
}

// Bytes arriving at a time, in ms after the exchange began.
struct Arrival {
    qint64 at;
    QByteArray bytes;
};
using Arrivals = QList<Arrival>;

// One stream, one engine, and what it reported skipping.
struct Stream {
    AdsExchange engine;
    qint64 now = 0;
    QStringList skipped;

    AdsExchange::Progress run(const QByteArray &request, const Arrivals &arrivals)
    {
        engine.begin(request, now, kWaitMs);
        const qint64 start = now;
        AdsExchange::Progress p = AdsExchange::Waiting;
        const auto sink = [this](AdsExchange::Skipped kind, const QByteArray &bytes, qint64 size) {
            skipped << QStringLiteral("%1 %2/%3")
                           .arg(kind == AdsExchange::Stranger ? "stranger" : "noise")
                           .arg(bytes.size())
                           .arg(size);
        };
        for (const Arrival &a : arrivals) {
            now = start + a.at;
            if (p != AdsExchange::Waiting) {
                engine.append(a.bytes.constData(), a.bytes.size());
                engine.dropStale(); // after the wait: nobody asked for these
                continue;
            }
            engine.append(a.bytes.constData(), a.bytes.size());
            p = engine.advance(now, sink);
        }
        now = qMax(now, start + kWaitMs);
        return p == AdsExchange::Waiting ? engine.advance(now, sink) : p;
    }
};
} // namespace

Q_DECLARE_METATYPE(AdsExchange::Progress)
Q_DECLARE_METATYPE(Arrivals)

class TestExchange : public QObject
{
    Q_OBJECT
private slots:
    void everyExchangeEndsInStep_data();
    void everyExchangeEndsInStep();
    void replySplitAtEveryByte();
    void staleBytesBetweenExchanges();
    void resetForgetsTheStream();
    void floodOfNoiseKeepsTheBufferSmall();
    void unawaitedRepliesAreTakenSilently();
    void notificationsAreDispatched_data();
    void notificationsAreDispatched();
    void notificationsBetweenWaits();
};

void TestExchange::everyExchangeEndsInStep_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<Arrivals>("during");
    QTest::addColumn<AdsExchange::Progress>("ended");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<Arrivals>("next");
    QTest::addColumn<QStringList>("skipped");
    QTest::addColumn<QStringList>("skippedNext");

    const QByteArray req1 = readRequest(1, 8);
    const QByteArray rep1 = readReply(req1, 'a');
    const QByteArray req2 = readRequest(2, 8);
    const QByteArray rep2 = readReply(req2, 'b');
    const auto Replied = AdsExchange::Replied;
    const auto noNotes = QStringList();

    QTest::newRow("reply whole") << req1 << Arrivals{{5, rep1}} << Replied << rep1 << Arrivals{{5, rep2}}
                                 << noNotes << noNotes;
    QTest::newRow("reply late, in two pieces; its rest before the next reply")
        << req1 << Arrivals{{2000, rep1.left(20)}} << AdsExchange::CutShort << rep1.left(20)
        << Arrivals{{3, rep1.mid(20)}, {5, rep2}} << noNotes << noNotes;
    QTest::newRow("reply late; its rest and the next reply in one piece")
        << req1 << Arrivals{{2000, rep1.left(30)}} << AdsExchange::CutShort << rep1.left(30)
        << Arrivals{{5, rep1.mid(30) + rep2}} << noNotes << noNotes;
    QTest::newRow("reply late; its rest never comes")
        << req1 << Arrivals{{2000, rep1.left(40)}} << AdsExchange::CutShort << rep1.left(40)
        << Arrivals{{5, rep2}} << noNotes << noNotes;
    QTest::newRow("reply late; its rest comes after the next reply")
        << req1 << Arrivals{{2000, rep1.left(40)}} << AdsExchange::CutShort << rep1.left(40)
        << Arrivals{{5, rep2}, {6, rep1.mid(40)}} << noNotes << noNotes;
    QTest::newRow("reply cut inside its header")
        << req1 << Arrivals{{10, rep1.left(24)}} << AdsExchange::CutShort << rep1.left(24)
        << Arrivals{{5, rep2}} << noNotes << noNotes;
    QTest::newRow("own reply announcing 1000 bytes too many")
        << req1 << Arrivals{{5, announcing(rep1, 48 + 1000)}} << AdsExchange::Oversized
        << announcing(rep1, 48 + 1000) << Arrivals{{5, rep2}} << noNotes << noNotes;
    QTest::newRow("own reply announcing 2 GB")
        << req1 << Arrivals{{5, announcing(rep1, 0x7ffffff0)}} << AdsExchange::Oversized
        << announcing(rep1, 0x7ffffff0) << Arrivals{{5, rep2}} << noNotes << noNotes;
    QTest::newRow("own reply announcing nothing")
        << req1 << Arrivals{{5, announcing(rep1, 0)}} << AdsExchange::Oversized << announcing(rep1, 0)
        << Arrivals{{5, rep2}} << noNotes << noNotes;
    // A length beyond anything this connection asked for is not believed:
    // what the request may get is taken, the rest resynchronises.
    QTest::newRow("own reply padded, lengths agreeing")
        << req1 << Arrivals{{5, replyTo(req1, readData(0, QByteArray(11, 'a')))}} << AdsExchange::Oversized
        << replyTo(req1, readData(0, QByteArray(11, 'a'))).left(54) << Arrivals{{5, rep2}} << noNotes
        << noNotes;
    QTest::newRow("late reply to an earlier request, then ours")
        << req1 << Arrivals{{5, readReply(readRequest(0, 8), 'z') + rep1}} << Replied << rep1
        << Arrivals{{5, rep2}} << QStringList{"stranger 54/54"} << noNotes;
    QTest::newRow("only a stranger: no reply")
        << req1 << Arrivals{{2100, readReply(readRequest(0, 8), 'z')}} << AdsExchange::NoReply << QByteArray()
        << Arrivals{{5, rep2}} << QStringList{"stranger 54/54"} << noNotes;
    QTest::newRow("the request echoed by the line")
        << req1 << Arrivals{{1, req1.left(9)}, {2, req1.mid(9) + rep1}} << Replied << rep1
        << Arrivals{{1, req2}, {5, rep2}} << noNotes << noNotes;
    QTest::newRow("unasked bytes ahead of the reply")
        << req1 << Arrivals{{5, hex("de ad be ef") + rep1}} << Replied << rep1 << Arrivals{{5, rep2}}
        << QStringList{"noise 4/4"} << noNotes;
    QTest::newRow("garbage instead of a reply")
        << req1 << Arrivals{{5, QByteArray(60, '\xff')}} << AdsExchange::NoReply << QByteArray()
        << Arrivals{{5, rep2}} << QStringList{"noise 60/60"} << noNotes;
    QTest::newRow("nothing at all") << req1 << Arrivals{} << AdsExchange::NoReply << QByteArray()
                                    << Arrivals{{5, rep2}} << noNotes << noNotes;

    // After a lookup the connection may be owed 65 581 bytes; a stray byte
    // in front of a reply makes its length read as 256 L + 6, which must not
    // be believed.
    const QByteArray lookup =
        AdsFrame::readWriteRequest(kNetId, 851, 1, 0xF009, 0, 0xFFFF, QByteArray("MAIN.x\0", 7));
    const QByteArray entry = replyTo(lookup, readData(0, QByteArray(60, 'e')));
    for (const char stray : {'\x01', '\x00'}) {
        QTest::newRow(
            qPrintable(QStringLiteral("stray byte %1 ahead of a reply, after a lookup").arg(int(stray))))
            << lookup << Arrivals{{5, entry}} << Replied << entry
            << Arrivals{{5, QByteArray(1, stray) + rep2}} << noNotes << QStringList{"noise 1/1"};
    }

    // A large read cut by the deadline: the rest of it, 300 000 bytes, comes
    // while the next read waits, and must be skipped, not taken for a stranger.
    const QByteArray big = readRequest(1, 400000);
    const QByteArray bigReply = readReply(big, 'd');
    QTest::newRow("large reply cut; its rest during the next exchange")
        << big << Arrivals{{1900, bigReply.left(100046)}} << AdsExchange::CutShort << bigReply.left(100046)
        << Arrivals{{1, bigReply.mid(100046, 150000)}, {2, bigReply.mid(250046)}, {3, rep2}} << noNotes
        << noNotes;
}

void TestExchange::everyExchangeEndsInStep()
{
    QFETCH(QByteArray, first);
    QFETCH(Arrivals, during);
    QFETCH(AdsExchange::Progress, ended);
    QFETCH(QByteArray, reply);
    QFETCH(Arrivals, next);
    QFETCH(QStringList, skipped);
    QFETCH(QStringList, skippedNext);

    Stream stream;
    QCOMPARE(stream.run(first, during), ended);
    const QByteArray got = stream.engine.takeReply();
    QCOMPARE(got.size(), reply.size());
    QCOMPARE(got, reply);
    QCOMPARE(stream.skipped, skipped);

    stream.skipped.clear();
    const QByteArray second = readRequest(2, 8);
    QCOMPARE(stream.run(second, next), AdsExchange::Replied);
    QCOMPARE(stream.engine.takeReply(), readReply(second, 'b'));
    QCOMPARE(stream.skipped, skippedNext);
}

void TestExchange::replySplitAtEveryByte()
{
    const QByteArray request = readRequest(5, 300);
    const QByteArray reply = readReply(request, 'v');
    for (int cut = 1; cut < reply.size(); ++cut) {
        Stream stream;
        QCOMPARE(stream.run(request, {{1, reply.left(cut)}, {2, reply.mid(cut)}}), AdsExchange::Replied);
        QCOMPARE(stream.engine.takeReply(), reply);
    }
}

// Bytes that come while no request waits are dropped, but the part of a
// frame they begin is remembered and skipped when its rest arrives.
void TestExchange::staleBytesBetweenExchanges()
{
    const QByteArray late = readReply(readRequest(1, 1000), 'o');
    const QByteArray request = readRequest(2, 2);
    Stream stream;
    QCOMPARE(stream.run(readRequest(1, 1000), {}), AdsExchange::NoReply);
    stream.engine.append(late.constData(), 100);
    stream.engine.dropStale();
    QCOMPARE(stream.engine.buffered(), qint64(0));
    const QByteArray rest = late.mid(100);
    QCOMPARE(stream.run(request, {{1, rest.left(500)}, {2, rest.mid(500) + readReply(request, 'r')}}),
             AdsExchange::Replied);
    QCOMPARE(stream.engine.takeReply(), readReply(request, 'r'));
    QVERIFY2(stream.skipped.isEmpty(), qPrintable(stream.skipped.join(", ")));
}

// A new connection owes nothing: what the old one left to skip is gone.
void TestExchange::resetForgetsTheStream()
{
    const QByteArray big = readRequest(1, 5000);
    Stream stream;
    QCOMPARE(stream.run(big, {{10, readReply(big, 'x').left(100)}}), AdsExchange::CutShort);
    stream.engine.reset();
    const QByteArray request = readRequest(2, 8);
    QCOMPARE(stream.run(request, {{1, readReply(request, 'n')}}), AdsExchange::Replied);
    QCOMPARE(stream.engine.takeReply(), readReply(request, 'n'));
}

// A megabyte of noise during one wait: what was looked at leaves the
// buffer, and the report shows the run's first bytes and its length.
void TestExchange::floodOfNoiseKeepsTheBufferSmall()
{
    const QByteArray request = readRequest(3, 8);
    AdsExchange engine;
    engine.begin(request, 0, kWaitMs);
    QStringList skipped;
    const auto sink = [&](AdsExchange::Skipped, const QByteArray &bytes, qint64 size) {
        skipped << QStringLiteral("%1/%2").arg(bytes.size()).arg(size);
    };
    const QByteArray chunk(4096, '\x7e');
    for (int i = 0; i < 256; ++i) {
        engine.append(chunk.constData(), chunk.size());
        QCOMPARE(engine.advance(1, sink), AdsExchange::Waiting);
        QVERIFY2(engine.buffered() <= chunk.size(), qPrintable(QString::number(engine.buffered())));
    }
    const QByteArray reply = readReply(request, 'q');
    engine.append(reply.constData(), reply.size());
    QCOMPARE(engine.advance(2, sink), AdsExchange::Replied);
    QCOMPARE(engine.takeReply(), reply);
    QCOMPARE(skipped, QStringList{QStringLiteral("1024/1048576")});
}

// Replies to requests nobody waits for (handles given back) are taken
// without a word, in pieces, during a wait or between waits; the reply
// waited for is found behind them, and a second reply to the same request
// is a stranger again.
void TestExchange::unawaitedRepliesAreTakenSilently()
{
    const QByteArray release1 = AdsFrame::writeRequest(kNetId, 851, 7, 0xF006, 0, hex("01 00 00 10"), 4);
    const QByteArray release2 = AdsFrame::writeRequest(kNetId, 851, 8, 0xF006, 0, hex("02 00 00 10"), 4);
    const QByteArray ack1 = replyTo(release1, hex("00 00 00 00"));
    const QByteArray ack2 = replyTo(release2, hex("00 00 00 00"));
    Stream stream;
    stream.engine.expectUnawaited(release1);
    stream.engine.expectUnawaited(release2);
    QCOMPARE(stream.engine.unawaited(), 2);
    const QByteArray request = readRequest(9, 8);
    QCOMPARE(stream.run(request, {{1, ack1.left(20)}, {2, ack1.mid(20) + readReply(request, 'r')}}),
             AdsExchange::Replied);
    QCOMPARE(stream.engine.takeReply(), readReply(request, 'r'));
    QVERIFY2(stream.skipped.isEmpty(), qPrintable(stream.skipped.join(", ")));
    QCOMPARE(stream.engine.unawaited(), 1);
    stream.engine.append(ack2.constData(), ack2.size());
    stream.engine.dropStale();
    QCOMPARE(stream.engine.unawaited(), 0);
    const QByteArray next = readRequest(10, 8);
    QCOMPARE(stream.run(next, {{1, ack1 + readReply(next, 's')}}), AdsExchange::Replied);
    QCOMPARE(stream.skipped, QStringList{QStringLiteral("stranger 42/42")});
}

Q_DECLARE_METATYPE(QList<int>)

void TestExchange::notificationsAreDispatched_data()
{
    QTest::addColumn<Arrivals>("during");
    QTest::addColumn<QList<int>>("handles"); // the notifications delivered, in order
    QTest::addColumn<AdsExchange::Progress>("progress");
    const QByteArray request = readRequest(9, 8);
    const QByteArray reply = readReply(request, 'r');
    const QByteArray n1 = notification(request, 100, 1, "ab");
    const QByteArray n2 = notification(request, 101, 2, "cd");
    const QByteArray sameId = notification(request, 9, 3, "ef"); // the awaited request's invoke id
    QTest::newRow("ahead of the reply") << Arrivals{{1, n1 + reply}} << QList<int>{1} << AdsExchange::Replied;
    QTest::newRow("while the reply is awaited")
        << Arrivals{{1, n1}, {300, n2}, {600, reply}} << QList<int>{1, 2} << AdsExchange::Replied;
    QTest::newRow("behind the reply, in one piece")
        << Arrivals{{1, reply + n1}} << QList<int>{} << AdsExchange::Replied;
    QTest::newRow("cut in pieces, then the reply")
        << Arrivals{{1, n1.left(7)}, {2, n1.mid(7, 30)}, {3, n1.mid(37) + n2 + reply}} << QList<int>{1, 2}
        << AdsExchange::Replied;
    QTest::newRow("carrying the awaited invoke id")
        << Arrivals{{1, sameId}, {2, reply}} << QList<int>{3} << AdsExchange::Replied;
    QTest::newRow("noise, a notification, a stranger, the reply")
        << Arrivals{{1, hex("de ad") + n2 + readReply(readRequest(4, 8), 'z') + reply}} << QList<int>{2}
        << AdsExchange::Replied;
    // A notification cut by the wait's end is no reply cut short once its
    // command and flags came: it is delivered when its rest comes.
    QTest::newRow("cut by the wait's end after its flags, its rest after")
        << Arrivals{{1, n1.left(30)}, {2100, QByteArray()}, {2200, n1.mid(30)}} << QList<int>{1}
        << AdsExchange::NoReply;
    QTest::newRow("with the awaited invoke id, cut by the wait's end in its data")
        << Arrivals{{1, sameId.left(50)}, {2100, QByteArray()}, {2200, sameId.mid(50)}} << QList<int>{3}
        << AdsExchange::NoReply;
}

// With a sink, notifications are taken out of the stream wherever they
// come between frames; the reply is found as without them. One behind the
// reply comes after the wait, and is the next call's to dispatch.
void TestExchange::notificationsAreDispatched()
{
    QFETCH(Arrivals, during);
    QFETCH(QList<int>, handles);
    QFETCH(AdsExchange::Progress, progress);
    QList<int> seen;
    Stream stream;
    stream.engine.setNotificationSink(
        [&seen](const char *data, qint64 size) {
            QVERIFY(size >= 24);
            seen << int(quint8(data[20]));
        },
        4096);
    const QByteArray request = readRequest(9, 8);
    QCOMPARE(stream.run(request, during), progress);
    QCOMPARE(seen, handles);
    if (progress == AdsExchange::Replied)
        QCOMPARE(stream.engine.takeReply(), readReply(request, 'r'));
    QVERIFY2(stream.skipped.size() <= 2, qPrintable(stream.skipped.join(", ")));
}

// Between waits a notification is dispatched when it is whole, also when
// its pieces come apart; without a sink it is stale, as every byte there.
void TestExchange::notificationsBetweenWaits()
{
    const QByteArray request = readRequest(9, 8);
    const QByteArray n1 = notification(request, 50, 1, "ab");
    const QByteArray n2 = notification(request, 51, 2, "cd");
    for (const bool sink : {true, false}) {
        QList<int> seen;
        Stream stream;
        if (sink)
            stream.engine.setNotificationSink(
                [&seen](const char *data, qint64) { seen << int(quint8(data[20])); }, 4096);
        QCOMPARE(stream.run(request, {{1, readReply(request, 'r')}}), AdsExchange::Replied);
        stream.engine.takeReply();
        stream.engine.append(n1.constData(), 20);
        stream.engine.dropStale();
        stream.engine.append(n1.constData() + 20, n1.size() - 20);
        stream.engine.dropStale();
        stream.engine.append(n2.constData(), n2.size());
        stream.engine.dropStale();
        // A head that cannot be a notification (it claims more than the
        // limit) just before the first bytes of one: only the false head
        // goes.
        const QByteArray n3 = notification(request, 52, 3, "ef");
        const QByteArray falseHead = QByteArray::fromHex("000000670000") + n3.left(2);
        stream.engine.append(falseHead.constData(), falseHead.size());
        stream.engine.dropStale();
        stream.engine.append(n3.constData() + 2, n3.size() - 2);
        stream.engine.dropStale();
        QCOMPARE(seen, sink ? (QList<int>{1, 2, 3}) : QList<int>{});
        // The head of a reply, corrupt, carrying the next request's invoke
        // id: its command and flags say it starts no notification, so it
        // is not kept for the next reply to be read into.
        const QByteArray next = readRequest(10, 8);
        const QByteArray head = readReply(next, 's').left(36);
        stream.engine.append(head.constData(), head.size());
        stream.engine.dropStale();
        QCOMPARE(stream.run(next, {{1, readReply(next, 's')}}), AdsExchange::Replied);
        QCOMPARE(stream.engine.takeReply(), readReply(next, 's'));
    }
}

QTEST_APPLESS_MAIN(TestExchange)
#include "tst_exchange.moc"
