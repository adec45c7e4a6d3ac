// Reads answered from the controller's own change notifications, through
// the host's view against the simulated controller: the first read of a
// place asks and subscribes, later reads cost no request; and the rules
// that keep every answered value true: liveness, reading one's own writes,
// no value outliving its link, program changes, refusals and bounds. The
// simulator's memory is the oracle.
#include "host/PluginHandle.h"
#include "sim/SimController.h"
#include "sim/SimImageFile.h"
#include "sim/SimServer.h"
#include "tests/ProgramChanges.h"
#include "tests/TestSupport.h"

#include <QElapsedTimer>
#include <QtTest>

using namespace TestSupport;
using namespace ProgramChanges;

namespace {
QByteArray le16(short v)
{
    return QByteArray(1, char(v & 0xff)) + char((v >> 8) & 0xff);
}
} // namespace

class TestNotify : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void laterReadsCostNoRequest_data();
    void laterReadsCostNoRequest();
    void readYourWrites();
    void frozenControllerIsNotServedFromMemory();
    void noValueOutlivesItsLink();
    void refusalsAndTheControllersLimit();
    void boundedInNumber();
    void programChangesUnderLiveSubscriptions_data();
    void programChangesUnderLiveSubscriptions();
    void disconnectFromAFrozenControllerEndsSoon();

private:
    bool connectTo(bool serial, const QString &parameters = QStringLiteral("851;notify-ms=50;reply-ms=500"));
    short read(const QString &address, int *code = nullptr);
    int requests() const { return sim->server()->requestCount(); }

    PluginHandle plugin;
    SimController *sim = nullptr;
    CDriveBaseClass *driver = nullptr;
};

void TestNotify::initTestCase()
{
    QVERIFY2(plugin.load(pluginPath()), qPrintable(plugin.errorString()));
}

void TestNotify::init()
{
    sim = new SimController;
    QVERIFY(sim->startTcp());
    QVERIFY(sim->startPty());
    sim->server()->restart(program(kProgramA));
    driver = plugin.create();
}

void TestNotify::cleanup()
{
    PluginHandle::dispose(driver);
    driver = nullptr;
    delete sim;
    sim = nullptr;
}

bool TestNotify::connectTo(bool serial, const QString &parameters)
{
    return driver->SetConnectPar(parameters) == 851
           && driver->ConnectDrive(serial ? sim->serialConnectionText() : sim->connectionText()) == 0;
}

short TestNotify::read(const QString &address, int *code)
{
    const CLabelVariable r = driver->ReadVariable(address, DT_Int16);
    if (code)
        *code = r.resultCode;
    return r.resultCode == 0 ? r.value.value<QList<short>>().value(0) : short(-32768);
}

void TestNotify::laterReadsCostNoRequest_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("address");
    QTest::newRow("tcp, by address") << false << "MW0";
    QTest::newRow("tcp, by name") << false << "MAIN.nSetpoint";
    QTest::newRow("serial, by name") << true << "MAIN.nValve";
}

// The first read asks and subscribes in the same call; later reads are
// answered from what the controller pushed, and follow its changes.
void TestNotify::laterReadsCostNoRequest()
{
    QFETCH(bool, serial);
    QFETCH(QString, address);
    QVERIFY(connectTo(serial));
    const quint32 offset = address == QLatin1String("MAIN.nValve") ? 2 : 0;
    QCOMPARE(read(address), valueAt(sim->server(), offset));
    QCOMPARE(sim->server()->notificationCount(), 1);
    QTRY_VERIFY(sim->server()->notificationFramesSent() >= 1); // the first sample
    const int before = requests();
    for (int i = 0; i < 50; ++i)
        QCOMPARE(read(address), valueAt(sim->server(), offset));
    QCOMPARE(requests(), before);
    sim->server()->writeImage(kM, offset, le16(4321));
    QTRY_COMPARE(read(address), short(4321)); // pushed, not asked
    QCOMPARE(requests(), before);
}

// After a write, reads ask again until a notification newer than the
// write came: the host reads what it wrote, never the value before.
void TestNotify::readYourWrites()
{
    QVERIFY(connectTo(false));
    QCOMPARE(read(QStringLiteral("MW0")), short(1000));
    QTRY_VERIFY(sim->server()->notificationFramesSent() >= 1);
    for (short v = 1; v <= 20; ++v) {
        QCOMPARE(driver->WriteVariable(QStringLiteral("MW0"), DT_Int16, shorts({v})).resultCode, 0);
        QCOMPARE(read(QStringLiteral("MW0")), v);
    }
}

// A controller that hangs with its connection open pushes nothing: once
// nothing came within a second, reads ask again, go unanswered, and the
// link goes down. No 0 comes later than the liveness bound after the freeze.
void TestNotify::frozenControllerIsNotServedFromMemory()
{
    QVERIFY(connectTo(false));
    QCOMPARE(read(QStringLiteral("MW0")), short(1000));
    QTRY_VERIFY(sim->server()->notificationFramesSent() >= 1);
    sim->server()->setFrozen(true);
    QElapsedTimer frozen;
    frozen.start();
    qint64 lastOk = 0;
    while (frozen.elapsed() < 3000) {
        int code = -1;
        read(QStringLiteral("MW0"), &code);
        if (code == 0)
            lastOk = frozen.elapsed();
        QTest::qWait(20);
    }
    // The bound is max(notify-ms, 1000) after the last thing heard, which
    // came before the freeze; calls are 20 ms apart.
    QVERIFY2(lastOk <= 1000 + 50, qPrintable(QString::number(lastOk)));
    int code = -1;
    read(QStringLiteral("MW0"), &code);
    QCOMPARE(code, kLinkDown);
    sim->server()->setFrozen(false);
}

// A loss ends every subscription: after the line is back, the first read
// asks again and subscribes anew.
void TestNotify::noValueOutlivesItsLink()
{
    QVERIFY(connectTo(false, QStringLiteral("851;notify-ms=50;reply-ms=500;reconnect-ms=50")));
    QCOMPARE(read(QStringLiteral("MW0")), short(1000));
    QTRY_VERIFY(sim->server()->notificationFramesSent() >= 1);
    SimFault hangUp;
    hangUp.noAnswer = true;
    hangUp.closeAfter = 0;
    sim->server()->pushFault(hangUp);
    QCOMPARE(driver->WriteVariable(QStringLiteral("MW0"), DT_Int16, shorts({7})).resultCode, kNoReply);
    sim->server()->writeImage(kM, 0, le16(555)); // while no subscription lives
    int code = -1;
    QTRY_VERIFY((read(QStringLiteral("MW0"), &code), code == 0));
    QCOMPARE(read(QStringLiteral("MW0")), short(555));
    QTRY_COMPARE(sim->server()->notificationCount(), 1); // the new connection's own
    QCOMPARE(sim->server()->notificationsAdded(), 2);
}

// A place the controller refuses to watch is polled, and not asked again;
// after "no more notification handles" nothing is added until ten ended.
void TestNotify::refusalsAndTheControllersLimit()
{
    sim->server()->setMaxNotifications(2);
    QVERIFY(connectTo(false));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(read(QStringLiteral("MW%1").arg(i * 2, 0, 16)), valueAt(sim->server(), quint32(i * 2)));
    QCOMPARE(sim->server()->notificationCount(), 2);
    const int adds = sim->server()->notificationsAdded();
    const int before = requests();
    for (int round = 0; round < 5; ++round) {
        for (int i = 0; i < 4; ++i)
            read(QStringLiteral("MW%1").arg(i * 2, 0, 16));
    }
    // The two refused ones (0x716) are polled: one request a read, no add.
    QCOMPARE(requests() - before, 5 * 2);
    QCOMPARE(sim->server()->notificationsAdded(), adds);
}

// At most notify-max live: the least recently read goes, its deletion sent
// at the start of the next call, without waiting for the reply.
void TestNotify::boundedInNumber()
{
    QVERIFY(connectTo(false, QStringLiteral("851;notify-ms=50;reply-ms=500;notify-max=3")));
    for (int i = 0; i < 6; ++i)
        read(QStringLiteral("MW%1").arg(i * 2, 0, 16));
    read(QStringLiteral("MWa")); // a call that adds nothing: the deletions due go out
    QTRY_COMPARE(sim->server()->notificationCount(), 3);
    QTRY_COMPARE(sim->server()->notificationsDeleted(), 3);
}

void TestNotify::programChangesUnderLiveSubscriptions_data()
{
    QTest::addColumn<bool>("handles");
    QTest::addColumn<bool>("restart");
    QTest::newRow("handles, online change") << true << false;
    QTest::newRow("handles, restart") << true << true;
    QTest::newRow("places, online change") << false << false;
    QTest::newRow("places, restart") << false << true;
}

// No read by name answers another variable's value with 0, with
// subscriptions live while the program changes (without handles: but for
// the second after an online change the fallback allows).
void TestNotify::programChangesUnderLiveSubscriptions()
{
    QFETCH(bool, handles);
    QFETCH(bool, restart);
    if (!handles)
        sim->server()->setHandlesRefused(0x701);
    QVERIFY(connectTo(false, QStringLiteral("851;notify-ms=50;reply-ms=500;reconnect-ms=50")));
    const QString setpoint = QStringLiteral("MAIN.nSetpoint");
    QCOMPARE(driver->WriteVariable(setpoint, DT_Int16, shorts({1200})).resultCode, 0);
    QCOMPARE(read(setpoint), short(1200));
    QCOMPARE(read(QStringLiteral("MAIN.nValve")), short(5));
    QTRY_VERIFY(sim->server()->notificationFramesSent() >= 2);
    QElapsedTimer since;
    if (restart)
        sim->server()->restart(program(kProgramB));
    else
        sim->server()->onlineChange(program(kProgramB));
    since.start();
    const int window = handles || restart ? 0 : 1000;
    int answered = 0;
    while (answered < 40 && since.elapsed() < 10000) {
        int code = -1;
        const short v = read(setpoint, &code);
        if (code == 0) {
            ++answered;
            if (since.elapsed() >= window)
                QCOMPARE(v, valueAt(sim->server(), 8));
        }
        QTest::qWait(10);
    }
    QCOMPARE(answered, 40);
}

// 500 subscriptions on a controller that froze: the deletions stop at the
// first reply that does not come, and the call returns.
void TestNotify::disconnectFromAFrozenControllerEndsSoon()
{
    QVERIFY(connectTo(false, QStringLiteral("851;notify-ms=50;reply-ms=300")));
    for (int i = 0; i < 500; ++i)
        QCOMPARE(driver->ReadVariable(QStringLiteral("MB%1").arg(i, 0, 16), DT_UInt8).resultCode, 0);
    QCOMPARE(sim->server()->notificationCount(), 500);
    sim->server()->setRecording(true);
    const int before = requests();
    sim->server()->setFrozen(true);
    QCOMPARE(driver->DisConnectDrive(), 0);
    sim->server()->setFrozen(false);
    QVERIFY2(requests() - before <= 64, qPrintable(QString::number(requests() - before)));
}

QTEST_GUILESS_MAIN(TestNotify)
#include "tst_notify.moc"
