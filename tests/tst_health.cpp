// What a dead or slow controller costs its host, through the host's view:
// a frozen controller is called down after a few unanswered requests and
// every call then answers at once; the link comes back by itself; the host
// sees the link's state through a property and a posted signal; a host
// calling from its GUI thread keeps its events going during a wait; and a
// request the line cannot take at once still goes out while the wait runs.
#include "host/PluginHandle.h"
#include "sim/SimController.h"
#include "sim/SimServer.h"
#include "tests/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <atomic>
#include <thread>

#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace TestSupport;

namespace {
const quint32 kM = 0x4020;

QObject *objectOf(CDriveBaseClass *driver)
{
    return static_cast<QObject *>(dynamic_cast<void *>(driver));
}

CLabelVariable doublesList(int count)
{
    QList<double> values;
    for (int i = 0; i < count; ++i)
        values << i * 0.5;
    CLabelVariable v;
    v.value = QVariant::fromValue(values);
    return v;
}

SimFault frozen()
{
    SimFault f;
    f.noAnswer = true;
    return f;
}

// A host's slot for the link's state, connected by the signal's signature
// as hosts do; it calls the driver back, as a host refreshing its view would.
class LinkWatcher : public QObject
{
    Q_OBJECT
public:
    CDriveBaseClass *driver = nullptr;
    QList<bool> seen;
    QList<int> codes;

public slots:
    void onLinkUp(bool up)
    {
        seen << up;
        codes << driver->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode;
    }
};

// A controller behind a slow serial line: a pseudo-terminal whose far end
// takes the bytes of a request a piece at a time, with pauses, and answers
// every request with a write's reply once the whole frame came. With
// `pieceBytes` 0 it takes nothing at all.
class SlowLine
{
public:
    SlowLine(int pieceBytes, int pauseMs) : m_pieceBytes(pieceBytes), m_pauseMs(pauseMs)
    {
        termios raw{};
        cfmakeraw(&raw);
        char name[128] = {0};
        if (::openpty(&m_master, &m_slave, name, &raw, nullptr) == 0)
            m_path = QString::fromLocal8Bit(name);
        m_thread = std::thread([this]() { serve(); });
    }
    ~SlowLine()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_master);
        ::close(m_slave);
    }
    QString path() const { return m_path; }

private:
    bool readExactly(char *at, qint64 n, qint64 piece)
    {
        while (n > 0) {
            pollfd p{m_master, POLLIN, 0};
            if (m_stop)
                return false;
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t got = ::read(m_master, at, size_t(qMin(n, piece)));
            if (got <= 0)
                return false;
            at += got;
            n -= got;
            ::usleep(useconds_t(m_pauseMs) * 1000);
        }
        return true;
    }
    void serve()
    {
        while (!m_stop) {
            if (m_pieceBytes == 0) {
                ::usleep(20000); // takes nothing: the line's buffer fills up and stays full
                continue;
            }
            QByteArray header(6, '\0');
            if (!readExactly(header.data(), 6, 6))
                return;
            const qint64 rest = le32(header, 2);
            QByteArray frame = header + QByteArray(int(rest), '\0');
            if (!readExactly(frame.data() + 6, rest, m_pieceBytes))
                return;
            const QByteArray reply = replyTo(frame, QByteArray(4, '\0'));
            if (::write(m_master, reply.constData(), size_t(reply.size())) != reply.size())
                return;
        }
    }

    int m_pieceBytes;
    int m_pauseMs;
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// Runs `command` and says whether it worked.
bool run(const QString &command, const QStringList &arguments)
{
    QProcess p;
    p.start(command, arguments);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
} // namespace

class TestHealth : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void frozenControllerCostsLittle_data();
    void frozenControllerCostsLittle();
    void linkUpFollowsTheLink_data();
    void linkUpFollowsTheLink();
    void eventsGoOnDuringAWait_data();
    void eventsGoOnDuringAWait();
    void twoDriversOnOneThread();
    void largeRequestsGoOutWhileWaiting_data();
    void largeRequestsGoOutWhileWaiting();
    void largeRequestOverAShapedLink();

private:
    bool connectTo(CDriveBaseClass *d, bool serial);
    int readMW0(CDriveBaseClass *d);

    PluginHandle plugin;
    SimController *sim = nullptr;
    CDriveBaseClass *driver = nullptr;
};

void TestHealth::initTestCase()
{
    QVERIFY2(plugin.load(pluginPath()), qPrintable(plugin.errorString()));
}

void TestHealth::init()
{
    sim = new SimController;
    QVERIFY(sim->startTcp());
    QVERIFY(sim->startPty());
    sim->server()->writeImage(kM, 0, hex("01 02 03 04"));
    driver = plugin.create();
}

void TestHealth::cleanup()
{
    PluginHandle::dispose(driver);
    driver = nullptr;
    delete sim;
    sim = nullptr;
}

bool TestHealth::connectTo(CDriveBaseClass *d, bool serial)
{
    return d->ConnectDrive(serial ? sim->serialConnectionText() : sim->connectionText()) == 0;
}

int TestHealth::readMW0(CDriveBaseClass *d)
{
    return d->ReadVariable(QStringLiteral("MW0"), DT_Int16).resultCode;
}

void TestHealth::frozenControllerCostsLittle_data()
{
    QTest::addColumn<bool>("serial");
    QTest::newRow("tcp") << false;
    QTest::newRow("serial") << true;
}

// A controller that hangs with its line open, polled every 100 ms: after
// three unanswered requests the link is down and calls answer 9 at once;
// each attempt to bring it back costs one call its reply wait; once the
// controller answers again, so does the driver.
void TestHealth::frozenControllerCostsLittle()
{
    QFETCH(bool, serial);
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reply-ms=500;reconnect-ms=200;reconnect-max-ms=400")),
             851);
    QVERIFY(connectTo(driver, serial));
    QCOMPARE(readMW0(driver), 0);
    LogCapture log;
    sim->server()->setStandingFault(frozen());
    int unanswered = 0;
    int down = 0;
    for (int poll = 0; poll < 40; ++poll) {
        const int code = readMW0(driver);
        QVERIFY2(code == kNoReply || code == kLinkDown, qPrintable(QString::number(code)));
        ++(code == kNoReply ? unanswered : down);
        QTest::qWait(100);
    }
    QVERIFY2(unanswered >= 3 && down > unanswered,
             qPrintable(QStringLiteral("%1 / %2").arg(unanswered).arg(down)));
    if (!serial) // every attempt was a connection, and each cost one call at most
        QVERIFY2(
            unanswered <= 3 + sim->server()->connectionsAccepted() - 1,
            qPrintable(QStringLiteral("%1 / %2").arg(unanswered).arg(sim->server()->connectionsAccepted())));
    QCOMPARE(log.warnings().filter(QStringLiteral("link down: no reply to 3 requests in a row")).size(), 1);
    sim->server()->setStandingFault(SimFault());
    QTRY_COMPARE_WITH_TIMEOUT(readMW0(driver), 0, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(log.all().filter(QStringLiteral("link up again after")).size(), 1, 2000);
}

void TestHealth::linkUpFollowsTheLink_data()
{
    QTest::addColumn<bool>("serial");
    QTest::newRow("tcp") << false;
    QTest::newRow("serial") << true;
}

// The property and its signal through a connect, a loss, the line brought
// back and answering, another connect and the host's disconnect. The
// signal comes from the event loop, never from inside a call: a slot may
// call the driver again.
void TestHealth::linkUpFollowsTheLink()
{
    QFETCH(bool, serial);
    QObject *object = objectOf(driver);
    QCOMPARE(object->property("linkUp").toBool(), false);
    LinkWatcher watcher;
    watcher.driver = driver;
    QVERIFY(QObject::connect(object, SIGNAL(linkUpChanged(bool)), &watcher, SLOT(onLinkUp(bool))));
    QTemporaryDir dir;
    const QString device = dir.filePath(QStringLiteral("ttyADS"));
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reconnect-ms=100;reply-ms=500")), 851);
    if (serial) {
        QVERIFY(QFile::link(sim->ptyPath(), device)); // a stable name, as a udev rule gives an adapter
        QCOMPARE(driver->ConnectDrive(device + QStringLiteral(",115200,8,1,N")), 0);
    } else {
        QVERIFY(connectTo(driver, false));
    }
    QVERIFY(watcher.seen.isEmpty()); // posted, not emitted inside the call
    QTRY_COMPARE(watcher.seen, QList<bool>{true});
    QCOMPARE(object->property("linkUp").toBool(), true);

    SimFault hangUp;
    hangUp.noAnswer = true;
    hangUp.closeAfter = 0;
    sim->server()->pushFault(hangUp);
    QVERIFY(readMW0(driver) != kOk);
    QTRY_COMPARE(watcher.seen, (QList<bool>{true, false}));
    if (serial) {
        QVERIFY(sim->startPty()); // the adapter is back, under its name
        QFile::remove(device);
        QVERIFY(QFile::link(sim->ptyPath(), device));
    } else {
        QTRY_COMPARE(sim->server()->connectionsAccepted(), 2);
        QCOMPARE(object->property("linkUp").toBool(), false); // back, but not answering yet
    }
    QTRY_COMPARE_WITH_TIMEOUT(readMW0(driver), kOk, 5000);
    QTRY_COMPARE(watcher.seen, (QList<bool>{true, false, true}));

    QVERIFY(serial ? driver->ConnectDrive(device + QStringLiteral(",115200,8,1,N")) == 0
                   : connectTo(driver, false)); // a working line replaced: no change
    QCOMPARE(driver->DisConnectDrive(), 0);
    QTRY_COMPARE(watcher.seen, (QList<bool>{true, false, true, false}));
    QVERIFY2(!watcher.codes.contains(kBusy), "a slot of the host ran inside a call");
}

void TestHealth::eventsGoOnDuringAWait_data()
{
    QTest::addColumn<int>("eventLoopMs");
    QTest::addColumn<bool>("handled"); // the thread's events run during most of the wait
    QTest::newRow("event-loop-ms=10") << 10 << true;
    QTest::newRow("the default wait blocks") << 0 << false;
}

// A 10 ms timer on the calling thread during a second's wait on a frozen
// controller: with event-loop-ms it keeps ticking, by default the wait
// blocks it for all but the last 50 ms.
void TestHealth::eventsGoOnDuringAWait()
{
    QFETCH(int, eventLoopMs);
    QFETCH(bool, handled);
    QCOMPARE(driver->SetConnectPar(
                 QStringLiteral("851;reply-ms=1000;down-after=0;event-loop-ms=%1").arg(eventLoopMs)),
             851);
    QVERIFY(connectTo(driver, false));
    sim->server()->setStandingFault(frozen());
    QTimer ticker;
    int ticks = 0;
    connect(&ticker, &QTimer::timeout, this, [&]() { ++ticks; });
    ticker.start(10);
    QCOMPARE(readMW0(driver), kNoReply);
    ticker.stop();
    if (handled)
        QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
    else
        QVERIFY2(ticks <= 8, qPrintable(QString::number(ticks)));
    // A call made from those events is refused as busy, and sends nothing.
    if (!handled)
        return;
    int nested = -1;
    QTimer::singleShot(50, this, [&]() { nested = readMW0(driver); });
    QCOMPARE(readMW0(driver), kNoReply);
    QCOMPARE(nested, kBusy);
}

// Driver A waits for a healthy but slow controller, and a timer reads
// through driver B from a frozen one: the waits stack, and A's answer is
// still A's.
void TestHealth::twoDriversOnOneThread()
{
    SimController frozenController;
    QVERIFY(frozenController.startTcp());
    frozenController.server()->setStandingFault(frozen());
    CDriveBaseClass *b = plugin.create();
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;event-loop-ms=10")), 851);
    QCOMPARE(b->SetConnectPar(QStringLiteral("851;event-loop-ms=10;reply-ms=500")), 851);
    QVERIFY(connectTo(driver, false));
    QCOMPARE(b->ConnectDrive(frozenController.connectionText()), 0);
    SimFault slow;
    slow.delayMs = 200;
    sim->server()->pushFault(slow);
    int fromB = -1;
    QTimer::singleShot(50, this, [&]() { fromB = readMW0(b); });
    const CLabelVariable a = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16, 2);
    QCOMPARE(fromB, kNoReply);
    QCOMPARE(a.resultCode, 0);
    QCOMPARE(a.value.value<QList<short>>(), (QList<short>{0x0201, 0x0403}));
    PluginHandle::dispose(b);
}

void TestHealth::largeRequestsGoOutWhileWaiting_data()
{
    QTest::addColumn<int>("pieceBytes"); // what the line takes at a time; 0: nothing
    QTest::addColumn<int>("replyMs");
    QTest::addColumn<int>("doubles");
    QTest::addColumn<int>("code");
    // 64 KB at about 400 KB/s: far longer than a blocked wait's last 50 ms.
    QTest::newRow("a slow line takes it") << 4096 << 2050 << 8192 << kOk;
    // Never taken (512 KB, more than the line's buffers hold): half a frame
    // on the line; it is closed, and said so.
    QTest::newRow("a line that takes nothing") << 0 << 300 << 65535 << kNoReply;
}

// A request larger than the line takes at once goes out while the wait
// runs, and the reply's wait starts when it went; one that cannot go out
// within the reply wait leaves half a frame, so the line is closed.
void TestHealth::largeRequestsGoOutWhileWaiting()
{
    QFETCH(int, pieceBytes);
    QFETCH(int, replyMs);
    QFETCH(int, doubles);
    QFETCH(int, code);
    SlowLine slow(pieceBytes, 10);
    QVERIFY(!slow.path().isEmpty());
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reconnect-ms=0;reply-ms=%1").arg(replyMs)), 851);
    QCOMPARE(driver->ConnectDrive(slow.path() + QStringLiteral(",115200,8,1,N")), 0);
    LogCapture log;
    QCOMPARE(
        driver->WriteVariable(QStringLiteral("MB0"), DT_Double, doublesList(doubles), doubles).resultCode,
        code);
    if (code == kOk)
        return;
    QCOMPARE(readMW0(driver), kLinkDown);
    QCOMPARE(log.warnings().filter(QStringLiteral("could not be sent within 300 ms")).size(), 1);
}

// The same over TCP, on a link shaped to 10 Mbit/s with an MTU of 1500, in
// a network namespace of its own (root only: skipped where the machine
// does not allow it). The test runs itself there, on its own loopback.
void TestHealth::largeRequestOverAShapedLink()
{
    if (qEnvironmentVariableIsSet("ADS_SHAPED_LOOPBACK")) {
        QVERIFY(run(QStringLiteral("ip"), {"link", "set", "lo", "up"}));
        QVERIFY(run(QStringLiteral("ip"), {"link", "set", "lo", "mtu", "1500"}));
        QVERIFY(run(QStringLiteral("tc"), {"qdisc", "add", "dev", "lo", "root", "tbf", "rate", "10mbit",
                                           "burst", "32kbit", "latency", "400ms"}));
        SimController shaped;
        QVERIFY(shaped.startTcp());
        QCOMPARE(driver->ConnectDrive(shaped.connectionText()), 0);
        // 512 KB: about 420 ms on the wire, within the default reply wait.
        QCOMPARE(
            driver->WriteVariable(QStringLiteral("MB0"), DT_Double, doublesList(65535), 65535).resultCode,
            kOk);
        return;
    }
    if (!run(QStringLiteral("unshare"), {"-n", "true"}) || QStandardPaths::findExecutable("tc").isEmpty())
        QSKIP("no network namespace or tc here");
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ADS_SHAPED_LOOPBACK"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("unshare"), {"-n", QCoreApplication::applicationFilePath(),
                                            QStringLiteral("largeRequestOverAShapedLink")});
    QVERIFY(child.waitForFinished(30000));
    QVERIFY2(child.exitCode() == 0, child.readAll().constData());
}

QTEST_GUILESS_MAIN(TestHealth)
#include "tst_health.moc"
