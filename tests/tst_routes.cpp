// Reaching real installations, through the host's view against the
// simulated controller acting as a controller's router: AMS addresses set
// by SetConnectPar, routes, the waits the host chose, reconnection after a
// loss, and the controller's own error for the host.
#include "host/PluginHandle.h"
#include "link/AdsLayout.h"
#include "sim/SimController.h"
#include "sim/SimServer.h"
#include "tests/TestSupport.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QThread>
#include <QtTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using namespace TestSupport;

namespace {
const quint32 kM = 0x4020;

QByteArray netId(const char *text)
{
    QByteArray id;
    for (const QByteArray &part : QByteArray(text).split('.'))
        id.append(char(part.toInt()));
    return id;
}

CLabelVariable shorts(QList<short> values)
{
    CLabelVariable v;
    v.value = QVariant::fromValue(values);
    v.auxNumber = 42;
    return v;
}

// A loopback listener whose accept queue is full: a connect to it stays
// pending until release() takes the queued connection away.
class SaturatedListener
{
public:
    SaturatedListener()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&a), size);
        ::listen(m_listener, 0);
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&a), &size);
        m_port = ntohs(a.sin_port);
        // Fill the queue: connections the listener never accepts.
        for (int i = 0; i < 4; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
            m_fillers << fd;
        }
    }
    ~SaturatedListener()
    {
        for (int fd : m_fillers)
            ::close(fd);
        ::close(m_listener);
    }
    quint16 port() const { return m_port; }
    // Takes what is queued and gives up the fillers still knocking, so the
    // next connection to knock comes in.
    void release()
    {
        for (int i = 0; i < 8; ++i) {
            const int fd = ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK);
            if (fd >= 0)
                m_fillers << fd;
        }
        for (int fd : m_fillers)
            ::close(fd);
        m_fillers.clear();
    }

private:
    int m_listener = -1;
    quint16 m_port = 0;
    QList<int> m_fillers;
};
} // namespace

class TestRoutes : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void framesCarryTheAddressesSet_data();
    void framesCarryTheAddressesSet();
    void refusedParametersChangeNothing();
    void replyWaitIsTheHosts();
    void connectWaitIsTheHosts();
    void linkComesBackAfterALoss_data();
    void linkComesBackAfterALoss();
    void noReconnectionOnceTheHostDisconnected();
    void reconnectionFollowsTheHostsSettings_data();
    void reconnectionFollowsTheHostsSettings();
    void reconnectZeroEndsAnAttemptUnderWay();
    void wrongTargetNetIdAsAControllerAnswers();
    void routeOfTheSourceAsAControllerChecks();
    void controllersOwnErrorReachesTheHost();
    void linesGoThroughALoggingCategory();

private:
    bool connectTo(bool serial);
    int readMW0();

    PluginHandle plugin;
    SimController *sim = nullptr;
    CDriveBaseClass *driver = nullptr;
};

void TestRoutes::initTestCase()
{
    QVERIFY2(plugin.load(pluginPath()), qPrintable(plugin.errorString()));
}

void TestRoutes::init()
{
    sim = new SimController;
    QVERIFY(sim->startTcp());
    QVERIFY(sim->startPty());
    sim->server()->writeImage(kM, 0, hex("01 02 03 04"));
    driver = plugin.create();
}

void TestRoutes::cleanup()
{
    PluginHandle::dispose(driver);
    driver = nullptr;
    delete sim;
    sim = nullptr;
}

bool TestRoutes::connectTo(bool serial)
{
    return driver->ConnectDrive(serial ? sim->serialConnectionText() : sim->connectionText()) == 0;
}

int TestRoutes::readMW0()
{
    return driver->ReadVariable(QStringLiteral("MW0"), DT_Int16, 2).resultCode;
}

void TestRoutes::framesCarryTheAddressesSet_data()
{
    QTest::addColumn<QString>("parameters"); // empty: SetConnectPar is not called
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<int>("targetPort");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<int>("sourcePort");
    const QByteArray loopback = netId("127.0.0.1.1.1");
    const QByteArray station = netId("192.168.10.100.1.1");
    QTest::newRow("defaults") << QString() << loopback << 851 << station << 32957;
    QTest::newRow("the AMS port as always") << "852" << loopback << 852 << station << 32957;
    QTest::newRow("NETID:PORT") << "5.12.34.56.1.1:853" << netId("5.12.34.56.1.1") << 853 << station << 32957;
    QTest::newRow("target option") << "851;target=10.0.0.1.2.3" << netId("10.0.0.1.2.3") << 851 << station
                                   << 32957;
    QTest::newRow("source and its port")
        << "851;source=1.2.3.4.1.1;source-port=33000" << loopback << 851 << netId("1.2.3.4.1.1") << 33000;
    QTest::newRow("source=auto") << "5.12.34.56.1.1:851;source=auto" << netId("5.12.34.56.1.1") << 851
                                 << loopback << 32957;
    QTest::newRow("options alone keep the port") << "reply-ms=1500" << loopback << 851 << station << 32957;
    // The default target comes from the address as parsed, whatever its spelling.
    QTest::newRow("short address form") << "host=127.1" << loopback << 851 << station << 32957;
    QTest::newRow("address as one number") << "host=2130706433" << loopback << 851 << station << 32957;
}

void TestRoutes::framesCarryTheAddressesSet()
{
    QFETCH(QString, parameters);
    QFETCH(QByteArray, target);
    QFETCH(int, targetPort);
    QFETCH(QByteArray, source);
    QFETCH(int, sourcePort);
    sim->server()->setAmsPorts({851, 852, 853});
    if (parameters.startsWith(QLatin1String("host="))) {
        sim->server()->setNetId(target); // a request to any other NetId fails
        QCOMPARE(driver->ConnectDrive(QStringLiteral("%1:%2").arg(parameters.mid(5)).arg(sim->tcpPort())), 0);
    } else {
        if (!parameters.isNull())
            QVERIFY(driver->SetConnectPar(parameters) > 0);
        QVERIFY(connectTo(false));
    }
    QCOMPARE(readMW0(), kOk);
    const QByteArray request = sim->server()->requests().last();
    QCOMPARE(request.mid(AdsLayout::OffTargetNetId, AdsLayout::NetIdSize), target);
    QCOMPARE(int(le16(request, AdsLayout::OffTargetPort)), targetPort);
    QCOMPARE(request.mid(AdsLayout::OffSourceNetId, AdsLayout::NetIdSize), source);
    QCOMPARE(int(le16(request, AdsLayout::OffSourcePort)), sourcePort);
}

void TestRoutes::refusedParametersChangeNothing()
{
    QCOMPARE(driver->SetConnectPar(QStringLiteral("5.12.34.56.1.1:851;reply-ms=1500")), 851);
    for (const char *text : {"851;colour=red", "5.12.34.256.1.1:851", "851;reply-ms=0", "851;reply-ms=abc",
                             "851;source-port=70000", "851;target=1.2.3.4", "0;reply-ms=5",
                             "5.12.34.56.1.1:0", "852;reply-ms=5;x=1"})
        QVERIFY2(driver->SetConnectPar(QString::fromLatin1(text)) == -1, text);
    QVERIFY(connectTo(false));
    QCOMPARE(readMW0(), kOk);
    const QByteArray request = sim->server()->requests().last();
    QCOMPARE(request.mid(AdsLayout::OffTargetNetId, AdsLayout::NetIdSize), netId("5.12.34.56.1.1"));
    QCOMPARE(int(le16(request, AdsLayout::OffTargetPort)), 851);
    // Today's texts keep today's answers.
    QCOMPARE(driver->SetConnectPar(QStringLiteral("abc")), 0);
    QCOMPARE(driver->SetConnectPar(QStringLiteral("70000")), 0);
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851")), 851);
}

// A reply 700 ms late is no reply when the host allows 300 ms, and is one
// when it allows the default.
void TestRoutes::replyWaitIsTheHosts()
{
    QVERIFY(connectTo(false));
    SimFault late;
    late.delayMs = 700;
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reply-ms=300")), 851);
    sim->server()->pushFault(late);
    QCOMPARE(readMW0(), kNoReply);
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reply-ms=2050")), 851);
    sim->server()->pushFault(late);
    QCOMPARE(readMW0(), kOk);
}

// A controller that does not take the connection: the host's wait decides.
// The listener frees its queue a second later, so a long wait would connect.
void TestRoutes::connectWaitIsTheHosts()
{
    SaturatedListener listener;
    const QString text = QStringLiteral("127.0.0.1:%1").arg(listener.port());
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;connect-ms=200")), 851);
    QCOMPARE(driver->ConnectDrive(text), -3);
    std::thread freer([&listener]() {
        QThread::msleep(500);
        listener.release();
    });
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;connect-ms=20000")), 851);
    const int connected = driver->ConnectDrive(text);
    freer.join();
    QCOMPARE(connected, 0);
}

void TestRoutes::linkComesBackAfterALoss_data()
{
    QTest::addColumn<bool>("serial");
    QTest::newRow("tcp") << false;
    QTest::newRow("serial") << true;
}

// The controller goes away: requests answer 9 at once, and work again once
// the link is back, without the host calling ConnectDrive.
void TestRoutes::linkComesBackAfterALoss()
{
    QFETCH(bool, serial);
    QTemporaryDir dir;
    const QString device = dir.filePath(QStringLiteral("ttyADS"));
    if (serial) {
        // A stable name for the device, as a udev rule gives a real adapter.
        QVERIFY(QFile::link(sim->ptyPath(), device));
        QCOMPARE(driver->ConnectDrive(device + QStringLiteral(",115200,8,1,N")), 0);
    } else {
        QVERIFY(connectTo(false));
    }
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reconnect-ms=100;reply-ms=500")), 851);
    QCOMPARE(readMW0(), kOk);
    SimFault hangUp;
    hangUp.noAnswer = true;
    hangUp.closeAfter = 0;
    sim->server()->pushFault(hangUp);
    QVERIFY(readMW0() != kOk);
    QCOMPARE(readMW0(), kLinkDown); // at once: nothing is sent
    if (serial) {
        QVERIFY(sim->startPty()); // the adapter is back, under its name
        QFile::remove(device);
        QVERIFY(QFile::link(sim->ptyPath(), device));
    }
    QTRY_COMPARE_WITH_TIMEOUT(readMW0(), kOk, 10000);
    if (!serial)
        QCOMPARE(sim->server()->connectionsAccepted(), 2);
}

void TestRoutes::noReconnectionOnceTheHostDisconnected()
{
    QVERIFY(connectTo(false));
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reconnect-ms=50")), 851);
    SimFault hangUp;
    hangUp.noAnswer = true;
    hangUp.closeAfter = 0;
    sim->server()->pushFault(hangUp);
    QVERIFY(readMW0() != kOk);
    QCOMPARE(driver->DisConnectDrive(), 0);
    QTest::qWait(500); // ten times the delay of the first attempt
    QCOMPARE(readMW0(), kLinkDown);
    QCOMPARE(sim->server()->connectionsAccepted(), 1);
    // Nor when the host turned reconnection off.
    QVERIFY(connectTo(false));
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reconnect-ms=0")), 851);
    sim->server()->pushFault(hangUp);
    QVERIFY(readMW0() != kOk);
    QTest::qWait(500);
    QCOMPARE(readMW0(), kLinkDown);
    QCOMPARE(sim->server()->connectionsAccepted(), 2);
}

void TestRoutes::reconnectionFollowsTheHostsSettings_data()
{
    QTest::addColumn<QString>("before"); // in force when the line goes
    QTest::addColumn<QString>("after"); // set while the first attempt waits
    QTest::addColumn<bool>("back");
    QTest::newRow("reconnect-ms=0 cancels the pending delay") << "reconnect-ms=300"
                                                              << "reconnect-ms=0" << false;
    // Counted from the change: 50 ms, not what was left of 20 s.
    QTest::newRow("a new delay re-arms the pending one") << "reconnect-ms=20000"
                                                         << "reconnect-ms=50" << true;
    QTest::newRow("a lower longest delay re-arms it too") << "reconnect-ms=20000;reconnect-max-ms=20000"
                                                          << "reconnect-max-ms=50" << true;
}

void TestRoutes::reconnectionFollowsTheHostsSettings()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(bool, back);
    QVERIFY(connectTo(false));
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reply-ms=500;") + before), 851);
    SimFault hangUp;
    hangUp.noAnswer = true;
    hangUp.closeAfter = 0;
    sim->server()->pushFault(hangUp);
    QVERIFY(readMW0() != kOk);
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;") + after), 851);
    if (back) {
        QTRY_COMPARE_WITH_TIMEOUT(readMW0(), kOk, 5000);
        return;
    }
    QTest::qWait(800); // well past the delay that was pending
    QCOMPARE(readMW0(), kLinkDown);
    QCOMPARE(sim->server()->connectionsAccepted(), 1);
}

// A connect attempt that hangs (the controller's accept queue is full) is
// given up when the host turns reconnection off: once the queue frees up,
// nothing connects.
void TestRoutes::reconnectZeroEndsAnAttemptUnderWay()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    QCOMPARE(::bind(listener, reinterpret_cast<sockaddr *>(&a), size), 0);
    QCOMPARE(::listen(listener, 0), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &size);
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reply-ms=300;reconnect-ms=50")), 851);
    QCOMPARE(driver->ConnectDrive(QStringLiteral("127.0.0.1:%1").arg(ntohs(a.sin_port))), 0);
    int controller = -1;
    for (int tries = 0; controller < 0 && tries < 100; ++tries) {
        controller = ::accept(listener, nullptr, nullptr);
        if (controller < 0)
            QTest::qWait(20);
    }
    QVERIFY(controller >= 0);
    QList<int> fillers; // the accept queue, full: a new connect waits
    for (int i = 0; i < 4; ++i) {
        fillers << ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        ::connect(fillers.last(), reinterpret_cast<sockaddr *>(&a), sizeof a);
    }
    ::close(controller); // the line goes; an attempt starts after 50 ms and hangs
    QTRY_COMPARE(readMW0(), kLinkDown);
    QTest::qWait(200);
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reconnect-ms=0")), 851);
    for (int fd : fillers)
        ::close(fd);
    int taken = 0;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 2500) { // past a retried SYN of an attempt left alive
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
        if (fd >= 0) {
            char probe;
            if (::recv(fd, &probe, 1, MSG_DONTWAIT) != 0) // the fillers are closed: end of file at once
                ++taken;
            ::close(fd);
        }
        QTest::qWait(50);
    }
    ::close(listener);
    QCOMPARE(taken, 0);
    QCOMPARE(readMW0(), kLinkDown);
}

// A controller whose NetId is not its IP address + .1.1 answers AMS error
// 0x7 until the host names it.
void TestRoutes::wrongTargetNetIdAsAControllerAnswers()
{
    sim->server()->setNetId(netId("5.12.34.56.1.1"));
    QVERIFY(connectTo(false));
    const CLabelVariable r = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16);
    QCOMPARE(r.resultCode, kWrongReply);
    QCOMPARE(r.auxNumber, 0x7);
    QCOMPARE(driver->SetConnectPar(QStringLiteral("5.12.34.56.1.1:851")), 851);
    QCOMPARE(readMW0(), kOk);
}

// A controller drops a connection from a NetId it has no route for.
void TestRoutes::routeOfTheSourceAsAControllerChecks()
{
    sim->server()->setRoutes({netId("10.1.2.3.1.1"), netId("127.0.0.1.1.1")});
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;reconnect-ms=0")), 851);
    QVERIFY(connectTo(false));
    const int refused = readMW0();
    QVERIFY2(refused == kNoReply || refused == kLinkDown, qPrintable(QString::number(refused)));
    QCOMPARE(readMW0(), kLinkDown);
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;source=10.1.2.3.1.1")), 851);
    QVERIFY(connectTo(false));
    QCOMPARE(readMW0(), kOk);
    // The station's own address, taken at the connect.
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851;source=auto")), 851);
    QVERIFY(connectTo(false));
    QCOMPARE(readMW0(), kOk);
    QCOMPARE(sim->server()->requests().last().mid(AdsLayout::OffSourceNetId, AdsLayout::NetIdSize),
             netId("127.0.0.1.1.1"));
}

// A read's label carries the controller's error code; a write keeps the
// host's label as it was.
void TestRoutes::controllersOwnErrorReachesTheHost()
{
    sim->server()->addSymbol({QStringLiteral("MAIN.x"), kM, 0, 2, QStringLiteral("INT")});
    QVERIFY(connectTo(false));
    SimFault refused;
    refused.adsResult = 0x703;
    sim->server()->pushFault(refused);
    // Each label is constructed from the answer: an assignment would keep
    // the target's own auxNumber.
    const CLabelVariable badOffset = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16);
    QCOMPARE(badOffset.resultCode, kWrongReply);
    QCOMPARE(badOffset.auxNumber, 0x703);
    const CLabelVariable unknown = driver->ReadVariable(QStringLiteral("MAIN.nope"), DT_Int16);
    QCOMPARE(unknown.resultCode, kWrongReply);
    QCOMPARE(unknown.auxNumber, 0x710);
    QCOMPARE(driver->SetConnectPar(QStringLiteral("852")), 852);
    const CLabelVariable noRuntime = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16);
    QCOMPARE(noRuntime.auxNumber, 0x6);
    sim->server()->pushFault(refused);
    const CLabelVariable w = driver->WriteVariable(QStringLiteral("MW0"), DT_Int16, shorts({1}));
    QCOMPARE(w.resultCode, kWrongReply);
    QCOMPARE(w.auxNumber, 42);
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851")), 851);
    const CLabelVariable fine = driver->ReadVariable(QStringLiteral("MW0"), DT_Int16);
    QCOMPARE(fine.resultCode, kOk);
    QCOMPARE(fine.auxNumber, 0);
}

void TestRoutes::linesGoThroughALoggingCategory()
{
    QVERIFY(connectTo(false));
    SimFault refused;
    refused.adsResult = 0x703;
    LogCapture log;
    QLoggingCategory::setFilterRules(QStringLiteral("beckhoff.ads.warning=false"));
    sim->server()->pushFault(refused);
    QCOMPARE(readMW0(), kWrongReply);
    QVERIFY(log.warnings().isEmpty());
    QLoggingCategory::setFilterRules(QString());
    sim->server()->pushFault(refused);
    QCOMPARE(readMW0(), kWrongReply);
    QCOMPARE(log.warnings().size(), 2); // the contract's line, then what happened in English
    QVERIFY2(
        log.warnings().last().endsWith(QStringLiteral("MW0: controller error 0x703: invalid index offset")),
        qPrintable(log.warnings().last()));
}

QTEST_GUILESS_MAIN(TestRoutes)
#include "tst_routes.moc"
