// The link on real transports: a TCP socket on loopback and a
// pseudo-terminal, with the simulated controller as the peer on its own
// thread.
#include "link/AdsLayout.h"
#include "link/CmdBeckhoff_ADS.h"
#include "sim/SimController.h"
#include "sim/SimServer.h"
#include "tests/TestSupport.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QtTest>

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace TestSupport;

namespace {
const quint32 kM = 0x4020;

// Waits for a reply that faults cost a fraction of the default.
void shortWaits(CmdBeckhoff_ADS &link)
{
    LinkSettings settings;
    settings.replyMs = kShortWaitMs;
    link.setSettings(settings);
}

QString ptyConnectBaud(SimController &sim, CmdBeckhoff_ADS &link, int baud)
{
    return link.serialConnectDrive(sim.ptyPath(), baud, 8, 1, QStringLiteral("N")) == 0 ? sim.ptyPath()
                                                                                        : QString();
}

// A controller at the far end of a pseudo-terminal, on a thread of its own,
// that notes when each request began to arrive and when each reply was written.
// After a reply it may chatter: one byte every half millisecond, the line
// never quiet, until the next request begins or the chatter runs out.
class PtyPeer
{
public:
    PtyPeer()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0)
            m_slavePath = QString::fromLocal8Bit(::ptsname(m_master));
        m_clock.start();
    }
    ~PtyPeer()
    {
        if (m_thread.joinable())
            m_thread.join();
        if (m_master >= 0)
            ::close(m_master);
    }
    QString slavePath() const { return m_slavePath; }

    // Answers `requests` reads with zeros; chatters `chatterBytes` after each but the last.
    void serve(int requests, int chatterBytes)
    {
        m_thread = std::thread([this, requests, chatterBytes]() {
            for (int n = 0; n < requests; ++n) {
                const QByteArray request = readFrame();
                if (request.isEmpty())
                    return;
                const quint32 length = le32(request, AdsLayout::OffRequestLength);
                const QByteArray reply = replyTo(request, readData(0, QByteArray(int(length), '\0')));
                // Noted before the write: no byte of it can be received earlier,
                // however late this thread runs again after it.
                m_replied[n] = m_clock.nsecsElapsed();
                if (::write(m_master, reply.constData(), size_t(reply.size())) != reply.size())
                    return;
                const int chatter = n + 1 < requests ? chatterBytes : 0; // none after the last
                for (int c = 0; c < chatter && !readable(0); ++c) {
                    if (::write(m_master, "\x55", 1) != 1 || c + 1 == chatter)
                        m_chatterRanOut = true;
                    ::usleep(500);
                }
            }
        });
    }
    void join() { m_thread.join(); }
    // From the writing of reply `n` to the start of request `n` + 1, in ns.
    qint64 quietBefore(int n) const { return m_began[n + 1] - m_replied[n]; }
    bool chatterRanOut() const { return m_chatterRanOut; }

private:
    bool readable(int ms) const
    {
        pollfd p{m_master, POLLIN, 0};
        return ::poll(&p, 1, ms) > 0;
    }
    // One frame by its AMS/TCP length; empty when none comes within 5 s.
    QByteArray readFrame()
    {
        QByteArray frame;
        qint64 want = AdsLayout::TcpHeaderSize;
        while (frame.size() < want) {
            if (!readable(5000))
                return QByteArray();
            if (frame.isEmpty())
                m_began[qMin(m_frames, 7)] = m_clock.nsecsElapsed();
            char buf[256];
            const ssize_t got = ::read(m_master, buf, size_t(qMin<qint64>(sizeof buf, want - frame.size())));
            if (got <= 0)
                return QByteArray();
            frame.append(buf, int(got));
            if (frame.size() == AdsLayout::TcpHeaderSize)
                want += le32(frame, AdsLayout::OffTcpLength);
        }
        ++m_frames;
        return frame;
    }

    int m_master = -1;
    QString m_slavePath;
    QElapsedTimer m_clock;
    std::thread m_thread;
    int m_frames = 0;
    qint64 m_began[8] = {};
    qint64 m_replied[8] = {};
    std::atomic<bool> m_chatterRanOut{false};
};
} // namespace

class TestLink : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void tcpConnectAndRefusals();
    void replySplitAnywhereIsReassembled_data();
    void replySplitAnywhereIsReassembled();
    void lateReplyNeverAnswersTheNextRequest_data();
    void lateReplyNeverAnswersTheNextRequest();
    void staleBytesAreDroppedBeforeSending();
    void unaskedBytesAheadOfTheReplyAreSkipped();
    void controllerClosingIsLoggedAndEndsTheWait();
    void requestsGoToTheLatestTransport();
    void serialSettingsRefusedLeaveTheLineAsItWas();
    void frameGapFollowsSlowBaudRates();
    void serialReplyIsHandedOverByItsLength();
    void destroyFreeTearsDownEveryTransport();

private:
    SimController *sim = nullptr;
};

void TestLink::init()
{
    sim = new SimController;
    QVERIFY(sim->startTcp());
    QVERIFY(sim->startPty());
    sim->server()->writeImage(kM, 0, hex("11 22 33 44 55 66 77 88"));
}

void TestLink::cleanup()
{
    delete sim;
    sim = nullptr;
}

void TestLink::tcpConnectAndRefusals()
{
    CmdBeckhoff_ADS link;
    QCOMPARE(link.DisConnectDrive(), 1); // no connect ever reached the link
    QCOMPARE(link.Connection_status(), -3);
    QByteArray out;
    QCOMPARE(link.Read_area(851, 0, 2, &out, kM, QStringLiteral("MB0")), -3);

    QCOMPARE(link.EthConnectDrive(QStringLiteral("not an address"), 1234), -1);
    QCOMPARE(link.EthConnectDrive(QString(), 1234), -1);

    QTcpServer closed; // a port where nothing listens: bind, note the port, close
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 deadPort = closed.serverPort();
    closed.close();
    QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), deadPort), -3);
    QCOMPARE(link.Connection_status(), -3);

    QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), sim->tcpPort()), 0);
    QCOMPARE(link.Connection_status(), 0);
    QCOMPARE(link.Read_area(851, 2, 3, &out, kM, QStringLiteral("MB2")), 0);
    QCOMPARE(out, hex("33 44 55"));
    // A second connect drops the first connection and keeps one socket.
    QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), sim->tcpPort()), 0);
    out.clear();
    QCOMPARE(link.Read_area(851, 0, 1, &out, kM, QStringLiteral("MB0")), 0);
    QCOMPARE(out, hex("11"));
    QCOMPARE(link.DisConnectDrive(), 0);
    QCOMPARE(link.Connection_status(), -3);
}

void TestLink::replySplitAnywhereIsReassembled_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<int>("pauseMs");
    QTest::newRow("tcp, back to back") << false << 0;
    QTest::newRow("tcp, 20 ms pauses") << false << 20;
    QTest::newRow("serial, 20 ms pauses") << true << 20;
}

void TestLink::replySplitAnywhereIsReassembled()
{
    QFETCH(bool, serial);
    QFETCH(int, pauseMs);
    CmdBeckhoff_ADS link;
    if (serial)
        QVERIFY(!ptyConnectBaud(*sim, link, 115200).isEmpty());
    else
        QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), sim->tcpPort()), 0);

    const int replySize = 46 + 8;
    const QList<int> cuts = pauseMs ? QList<int>{1, 6, 37, 46, 53} : QList<int>{};
    const int singles = pauseMs ? 0 : replySize - 1;
    for (int i = 0; i < qMax(cuts.size(), singles); ++i) {
        SimFault split;
        split.splitAt = {pauseMs ? cuts.at(i) : i + 1};
        split.pauseMs = pauseMs;
        sim->server()->pushFault(split);
        QByteArray out;
        QCOMPARE(link.Read_area(851, 0, 8, &out, kM, QStringLiteral("MB0")), 0);
        QCOMPARE(out, hex("11 22 33 44 55 66 77 88"));
    }
    // Every byte on its own, with a pause after each.
    SimFault trickle;
    for (int i = 1; i < replySize; ++i)
        trickle.splitAt << i;
    trickle.pauseMs = 1;
    sim->server()->pushFault(trickle);
    QByteArray out;
    QCOMPARE(link.Read_area(851, 0, 8, &out, kM, QStringLiteral("MB0")), 0);
    QCOMPARE(out, hex("11 22 33 44 55 66 77 88"));
}

void TestLink::lateReplyNeverAnswersTheNextRequest_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<bool>("write");
    QTest::newRow("tcp read") << false << false;
    QTest::newRow("tcp write") << false << true;
    QTest::newRow("serial read") << true << false;
}

// The first reply comes after its exchange gave up, while the second
// request waits for its own reply.
void TestLink::lateReplyNeverAnswersTheNextRequest()
{
    QFETCH(bool, serial);
    QFETCH(bool, write);
    CmdBeckhoff_ADS link;
    if (serial)
        QVERIFY(!ptyConnectBaud(*sim, link, 115200).isEmpty());
    else
        QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), sim->tcpPort()), 0);
    shortWaits(link);
    LogCapture log;
    SimFault late;
    late.delayMs = kShortWaitMs + 200;
    SimFault slow;
    slow.delayMs = kShortWaitMs / 4;
    sim->server()->pushFault(late);
    sim->server()->pushFault(slow);

    QByteArray out;
    if (write) {
        QCOMPARE(link.Write_area(851, 0, 1, hex("aa"), kM, QStringLiteral("MB0")), -2);
        QCOMPARE(link.Write_area(851, 1, 1, hex("bb"), kM, QStringLiteral("MB1")), 0);
        QCOMPARE(sim->server()->readImage(kM, 0, 2), hex("aa bb"));
    } else {
        sim->server()->writeImage(kM, 0, hex("01"));
        QCOMPARE(link.Read_area(851, 0, 1, &out, kM, QStringLiteral("MB0")), -2);
        sim->server()->writeImage(kM, 0, hex("02"));
        QCOMPARE(link.Read_area(851, 0, 1, &out, kM, QStringLiteral("MB0")), 0);
        QCOMPARE(out, hex("02"));
    }
    // Skipped with one line when it came during the second exchange; dropped
    // without one when a loaded machine let it come before the request.
    const QStringList warnings = log.warnings();
    QVERIFY2(warnings.filter(QStringLiteral("报文返回序号错误")).size() <= 1,
             qPrintable(warnings.join('\n')));
}

// A late reply that comes between two exchanges is dropped before the next
// request goes out.
void TestLink::staleBytesAreDroppedBeforeSending()
{
    CmdBeckhoff_ADS link;
    QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), sim->tcpPort()), 0);
    shortWaits(link);
    SimFault late;
    late.delayMs = kShortWaitMs + 200;
    sim->server()->pushFault(late);
    QByteArray out;
    QCOMPARE(link.Read_area(851, 0, 2, &out, kM, QStringLiteral("MB0")), -2);
    QTRY_VERIFY_WITH_TIMEOUT(sim->server()->repliesSent() == 1, 5000);
    sim->server()->writeImage(kM, 0, hex("5a a5"));
    QCOMPARE(link.Read_area(851, 0, 2, &out, kM, QStringLiteral("MB0")), 0);
    QCOMPARE(out, hex("5a a5"));
}

// Bytes no one asked for, ahead of the reply in the same stream, are no
// plausible frame: they are skipped, with one line, and the reply found.
void TestLink::unaskedBytesAheadOfTheReplyAreSkipped()
{
    CmdBeckhoff_ADS link;
    QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), sim->tcpPort()), 0);
    LogCapture log;
    SimFault junk;
    junk.before = hex("de ad be ef");
    sim->server()->pushFault(junk);
    QByteArray out;
    QCOMPARE(link.Read_area(851, 0, 2, &out, kM, QStringLiteral("MB0")), 0);
    QCOMPARE(out, hex("11 22"));
    QCOMPARE(log.warnings().size(), 2);
    QVERIFY2(log.warnings().first().endsWith(QStringLiteral("msg : deadbeef")),
             qPrintable(log.warnings().first()));
    QVERIFY2(log.warnings().last().endsWith(QStringLiteral("MB0: skipped 4 bytes that are no frame of ours")),
             qPrintable(log.warnings().last()));
}

void TestLink::controllerClosingIsLoggedAndEndsTheWait()
{
    CmdBeckhoff_ADS link;
    QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), sim->tcpPort()), 0);
    LogCapture log;
    SimFault close;
    close.closeAfter = 20; // in the middle of the reply
    sim->server()->pushFault(close);
    QByteArray out;
    QCOMPARE(link.Read_area(851, 0, 8, &out, kM, QStringLiteral("MB0")), -1);
    QVERIFY(out.isEmpty());
    const QString lost = QStringLiteral("lib[Beckhoff]127.0.0.1:%1 QAbstractSocket::RemoteHostClosedError")
                             .arg(sim->tcpPort());
    QVERIFY2(log.warnings().contains(lost), qPrintable(log.warnings().join('\n')));
    QCOMPARE(link.Connection_status(), -3);
    QCOMPARE(link.Read_area(851, 0, 8, &out, kM, QStringLiteral("MB0")), -3);
}

// After TCP, a disconnect and a serial connect, requests go over the serial
// line, not to the closed socket.
void TestLink::requestsGoToTheLatestTransport()
{
    CmdBeckhoff_ADS link;
    QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), sim->tcpPort()), 0);
    QCOMPARE(link.DisConnectDrive(), 0);
    QVERIFY(!ptyConnectBaud(*sim, link, 115200).isEmpty());
    QCOMPARE(link.Connection_status(), 0);
    QByteArray out;
    QCOMPARE(link.Read_area(851, 4, 2, &out, kM, QStringLiteral("MB4")), 0);
    QCOMPARE(out, hex("55 66"));
    // The serial request carries the NetId of the last TCP address.
    QCOMPARE(sim->server()->requests().last().mid(AdsLayout::OffTargetNetId, AdsLayout::NetIdSize),
             hex("7f 00 00 01 01 01"));
    QCOMPARE(link.DisConnectDrive(), 0); // closes the serial port
    QCOMPARE(link.Connection_status(), -3);
    QCOMPARE(link.DisConnectDrive(), 1); // already closed
    // A TCP connect that fails leaves the serial line in use.
    QVERIFY(!ptyConnectBaud(*sim, link, 115200).isEmpty());
    QCOMPARE(link.EthConnectDrive(QStringLiteral("nonsense"), 1), -1);
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 deadPort = closed.serverPort();
    closed.close();
    QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), deadPort), -3);
    QCOMPARE(link.Connection_status(), 0);
    out.clear();
    QCOMPARE(link.Read_area(851, 4, 2, &out, kM, QStringLiteral("MB4")), 0);
    QCOMPARE(out, hex("55 66"));
}

// Settings the line cannot honour are refused before anything is touched:
// the working line stays as it was.
void TestLink::serialSettingsRefusedLeaveTheLineAsItWas()
{
    CmdBeckhoff_ADS link;
    QVERIFY(!ptyConnectBaud(*sim, link, 115200).isEmpty());
    QByteArray out;
    for (const auto &refused :
         {std::make_tuple(9601, 1, "N"), std::make_tuple(9600, 1, "Mark"), std::make_tuple(9600, 3, "N")}) {
        QCOMPARE(link.serialConnectDrive(sim->ptyPath(), std::get<0>(refused), 8, std::get<1>(refused),
                                         QString::fromLatin1(std::get<2>(refused))),
                 -1);
        QCOMPARE(link.Connection_status(), 0);
        out.clear();
        QCOMPARE(link.Read_area(851, 0, 1, &out, kM, QStringLiteral("MB0")), 0);
        QCOMPARE(out, hex("11"));
    }
    QCOMPARE(
        link.serialConnectDrive(QStringLiteral("/dev/no-such-serial-port"), 9600, 8, 1, QStringLiteral("N")),
        -1);
    QCOMPARE(link.Connection_status(), 0);
    // Even parity is a setting a pseudo-terminal refuses; the connect still succeeds.
    QCOMPARE(link.serialConnectDrive(sim->ptyPath(), 19200, 7, 2, QStringLiteral("Even")), 0);
    out.clear();
    QCOMPARE(link.Read_area(851, 0, 1, &out, kM, QStringLiteral("MB0")), 0);
    QCOMPARE(out, hex("11"));
}

void TestLink::frameGapFollowsSlowBaudRates()
{
    CmdBeckhoff_ADS link;
    QCOMPARE(link.serialFrameGap(), 2);
    QVERIFY(!ptyConnectBaud(*sim, link, 2400).isEmpty());
    QCOMPARE(link.serialFrameGap(), 10);
    QVERIFY(!ptyConnectBaud(*sim, link, 115200).isEmpty());
    QCOMPARE(link.serialFrameGap(), 10);
    QVERIFY(!ptyConnectBaud(*sim, link, 9600).isEmpty());
    QCOMPARE(link.serialFrameGap(), 3);
    QByteArray out;
    QCOMPARE(link.Read_area(851, 0, 8, &out, kM, QStringLiteral("MB0")), 0);
    QCOMPARE(out.size(), 8);
}

// A reply complete by its announced length is taken at once, although the
// line goes on chattering and is never quiet. The next request still waits
// out the gap since the last byte received: the line's turnaround.
void TestLink::serialReplyIsHandedOverByItsLength()
{
    PtyPeer peer;
    QVERIFY(!peer.slavePath().isEmpty());
    CmdBeckhoff_ADS link;
    LinkSettings settings;
    settings.replyMs = 20000; // longer than the chatter: only the length can end the wait
    link.setSettings(settings);
    QCOMPARE(link.serialConnectDrive(peer.slavePath(), 2400, 8, 1, QStringLiteral("N")), 0);
    const qint64 gapNs = qint64(link.serialFrameGap()) * 1000000;
    const int requests = 4;
    peer.serve(requests, 6000); // three seconds of chatter at most
    QByteArray out;
    for (int n = 0; n < requests; ++n)
        QCOMPARE(link.Read_area(851, 0, 2, &out, kM, QStringLiteral("MW0")), 0);
    peer.join();
    QVERIFY2(!peer.chatterRanOut(), "a reply waited for the line to go quiet");
    for (int n = 0; n + 1 < requests; ++n)
        QVERIFY2(peer.quietBefore(n) >= gapNs,
                 qPrintable(QStringLiteral("request %1 after %2 ns").arg(n + 1).arg(peer.quietBefore(n))));
    QCOMPARE(out, QByteArray(2 * requests, '\0'));
}

void TestLink::destroyFreeTearsDownEveryTransport()
{
    CmdBeckhoff_ADS link;
    QCOMPARE(link.DestroyFree(), 1);
    QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), sim->tcpPort()), 0);
    QVERIFY(sim->server()->waitForRequests(0, 0));
    QVERIFY(!ptyConnectBaud(*sim, link, 115200).isEmpty());
    QCOMPARE(link.DestroyFree(), 0);
    QCOMPARE(link.DestroyFree(), 1);
    QCOMPARE(link.Connection_status(), -3);
    QCOMPARE(link.DisConnectDrive(), 1);
    // The link can be used again.
    QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), sim->tcpPort()), 0);
    QByteArray out;
    QCOMPARE(link.Read_area(851, 0, 1, &out, kM, QStringLiteral("MB0")), 0);
}

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
