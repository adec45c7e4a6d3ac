// Variables by name while the controller's program changes under the
// host: a restart with another program, brought back in the background, and
// an online change under the live connection. No read by name may answer
// another variable's value with 0, and no write by name may land in another
// variable, whether the controller gives handles, refuses them but tells its
// symbol version, or refuses both. The simulated controller's memory is the
// oracle.
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
enum Controller { Handles, VersionOnly, Neither };
enum Change { Restart, OnlineChange };
} // namespace

Q_DECLARE_METATYPE(Controller)
Q_DECLARE_METATYPE(Change)

class TestPrograms : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void noWrongValueAcrossProgramChanges_data();
    void noWrongValueAcrossProgramChanges();
    void fallbackAsksAsLittleAsIsSafe_data();
    void fallbackAsksAsLittleAsIsSafe();

private:
    void refuse(Controller controller);

    PluginHandle plugin;
    SimController *sim = nullptr;
    CDriveBaseClass *driver = nullptr;
};

void TestPrograms::initTestCase()
{
    QVERIFY2(plugin.load(pluginPath()), qPrintable(plugin.errorString()));
}

void TestPrograms::init()
{
    sim = new SimController;
    QVERIFY(sim->startTcp());
    sim->server()->restart(program(kProgramA));
    driver = plugin.create();
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reconnect-ms=50;reply-ms=500")), 851);
}

void TestPrograms::cleanup()
{
    PluginHandle::dispose(driver);
    driver = nullptr;
    delete sim;
    sim = nullptr;
}

void TestPrograms::refuse(Controller controller)
{
    if (controller != Handles)
        sim->server()->setHandlesRefused(0x701);
    if (controller == Neither)
        sim->server()->setSymbolVersionRefused(0x701);
}

void TestPrograms::noWrongValueAcrossProgramChanges_data()
{
    QTest::addColumn<Controller>("controller");
    QTest::addColumn<Change>("change");
    QTest::addColumn<int>("windowMs"); // how long after the change a stale place may still be used
    QTest::newRow("handles, restart") << Handles << Restart << 0;
    QTest::newRow("handles, online change") << Handles << OnlineChange << 0;
    QTest::newRow("version only, restart") << VersionOnly << Restart << 0;
    QTest::newRow("version only, online change") << VersionOnly << OnlineChange << 1000;
    QTest::newRow("neither, restart") << Neither << Restart << 0;
    QTest::newRow("neither, online change") << Neither << OnlineChange << 0;
}

void TestPrograms::noWrongValueAcrossProgramChanges()
{
    QFETCH(Controller, controller);
    QFETCH(Change, change);
    QFETCH(int, windowMs);
    SimServer *s = sim->server();
    refuse(controller);
    QCOMPARE(driver->ConnectDrive(sim->connectionText()), 0);
    const QString setpoint = QStringLiteral("MAIN.nSetpoint");
    QCOMPARE(driver->WriteVariable(setpoint, DT_Int16, shorts({1200})).resultCode, 0);
    QCOMPARE(valueAt(s, 0), short(1200));
    QCOMPARE(driver->ReadVariable(setpoint, DT_Int16).value.value<QList<short>>(), QList<short>{1200});

    QElapsedTimer sinceChange;
    if (change == Restart)
        s->restart(program(kProgramB)); // every connection closed; the driver comes back by itself
    else
        s->onlineChange(program(kProgramB)); // the set-point keeps its value at its new place
    sinceChange.start();
    const short expected = change == Restart ? short(1000) : short(1200);
    QCOMPARE(valueAt(s, 8), expected);

    // Read until the driver answers again; no answer of 0 may be the valve's.
    int answered = 0;
    QElapsedTimer deadline;
    deadline.start();
    while (answered < 20 && deadline.elapsed() < 10000) {
        const CLabelVariable r = driver->ReadVariable(setpoint, DT_Int16);
        if (r.resultCode != 0) {
            QTest::qWait(10); // the line is coming back
            continue;
        }
        ++answered;
        const bool inWindow = sinceChange.elapsed() < windowMs;
        if (!inWindow)
            QCOMPARE(r.value.value<QList<short>>(), QList<short>{expected});
    }
    QCOMPARE(answered, 20);
    // A write after the window lands in the set-point, never in the valve.
    QTRY_VERIFY_WITH_TIMEOUT(sinceChange.elapsed() >= windowMs, windowMs + 1000);
    QCOMPARE(driver->WriteVariable(setpoint, DT_Int16, shorts({500})).resultCode, 0);
    QCOMPARE(valueAt(s, 8), short(500));
    QCOMPARE(valueAt(s, 0), short(5));
}

void TestPrograms::fallbackAsksAsLittleAsIsSafe_data()
{
    QTest::addColumn<Controller>("controller");
    QTest::addColumn<QStringList>("first"); // the requests of the first access after a connect
    QTest::addColumn<QStringList>("next"); // of an access soon after
    QTest::newRow("handles") << Handles << QStringList{"lookup", "handle", "read by handle"}
                             << QStringList{"read by handle"};
    QTest::newRow("version only") << VersionOnly
                                  << QStringList{"lookup", "handle", "version", "lookup", "read"}
                                  << QStringList{"read"};
    QTest::newRow("neither") << Neither << QStringList{"lookup", "handle", "version", "lookup", "read"}
                             << QStringList{"lookup", "read"};
}

// What each kind of controller costs per access, and that the version is
// asked again once a second at most while names are used, forgetting every
// place when it changed.
void TestPrograms::fallbackAsksAsLittleAsIsSafe()
{
    QFETCH(Controller, controller);
    QFETCH(QStringList, first);
    QFETCH(QStringList, next);
    SimServer *s = sim->server();
    refuse(controller);
    QCOMPARE(driver->ConnectDrive(sim->connectionText()), 0);
    const QString name = QStringLiteral("MAIN.nValve");
    QCOMPARE(driver->ReadVariable(name, DT_Int16).resultCode, 0);
    QCOMPARE(requestKinds(s->requests()), first);
    int from = s->requestCount();
    QCOMPARE(driver->ReadVariable(name, DT_Int16).resultCode, 0);
    QStringList asked = requestKinds(s->requests(), from);
    if (controller != VersionOnly || asked.size() == next.size()) {
        QCOMPARE(asked, next);
    } else {
        QCOMPARE(asked, QStringList{"version"} + next); // a second had passed already
    }
    if (controller != VersionOnly)
        return;
    // Names used for a while: the version once a second, and a changed one
    // costs every place its lookup.
    const auto readUntilVersionAsked = [&](int since) {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 3000) {
            if (driver->ReadVariable(name, DT_Int16).resultCode != 0)
                return false;
            if (requestKinds(s->requests(), since).contains(QStringLiteral("version")))
                return true;
            QTest::qWait(20);
        }
        return false;
    };
    from = s->requestCount();
    QVERIFY(readUntilVersionAsked(from));
    s->onlineChange(program(kProgramA));
    from = s->requestCount();
    QVERIFY(readUntilVersionAsked(from));
    asked = requestKinds(s->requests(), from);
    QCOMPARE(asked.mid(asked.indexOf(QStringLiteral("version"))), (QStringList{"version", "lookup", "read"}));
    QCOMPARE(driver->ReadVariable(name, DT_Int16).value.value<QList<short>>(), QList<short>{5});
}

QTEST_GUILESS_MAIN(TestPrograms)
#include "tst_programs.moc"
