// The simulated controller as a router with runtimes behind it, seen
// through raw frames on a 127.0.0.1 socket and on its pseudo-terminal:
// target NetId, routes, one runtime per AMS port.
#include "sim/SimController.h"
#include "sim/SimServer.h"
#include "tests/TestSupport.h"

#include <QDeadlineTimer>
#include <QTcpSocket>
#include <QtTest>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace TestSupport;

namespace {
const quint32 kM = 0x4020;
const int kWaitMs = 5000;

QByteArray le(quint64 v, int size)
{
    QByteArray b;
    for (int i = 0; i < size; ++i)
        b.append(char((v >> (8 * i)) & 0xff));
    return b;
}

QByteArray netId(const char *dotted)
{
    QByteArray b;
    for (const QByteArray &part : QByteArray(dotted).split('.'))
        b.append(char(part.toInt()));
    return b;
}

struct Frame {
    QByteArray target = netId("10.1.2.3.1.1");
    int targetPort = 851;
    QByteArray source = netId("192.168.10.100.1.1");
    quint32 invokeId = 7;
};

// An AMS/TCP request, every field placed byte by byte.
QByteArray request(const Frame &f, quint16 command, const QByteArray &data)
{
    return le(0, 2) + le(quint64(32 + data.size()), 4) + f.target + le(quint64(f.targetPort), 2) + f.source
           + le(0x80BD, 2) + le(command, 2) + le(0x0004, 2) + le(quint64(data.size()), 4) + le(0, 4)
           + le(f.invokeId, 4) + data;
}

QByteArray readRequest(const Frame &f, quint32 group, quint32 offset, quint32 length)
{
    return request(f, 2, le(group, 4) + le(offset, 4) + le(length, 4));
}

QByteArray writeRequest(const Frame &f, quint32 group, quint32 offset, const QByteArray &bytes)
{
    return request(f, 3, le(group, 4) + le(offset, 4) + le(quint64(bytes.size()), 4) + bytes);
}

QByteArray lookupRequest(const Frame &f, const QByteArray &name)
{
    const QByteArray written = name + '\0';
    return request(f, 9, le(0xF009, 4) + le(0, 4) + le(0xFFFF, 4) + le(quint64(written.size()), 4) + written);
}

// What came back for one request: a whole reply frame, or nothing and
// possibly a closed connection.
struct Answer {
    QByteArray reply;
    bool closed = false;
};

bool wholeFrame(const QByteArray &bytes)
{
    return bytes.size() >= 6 && bytes.size() >= 6 + qint64(le32(bytes, 2));
}

Answer exchange(QTcpSocket &socket, const QByteArray &frame)
{
    Answer a;
    socket.write(frame);
    socket.flush();
    QDeadlineTimer deadline(kWaitMs);
    while (!wholeFrame(a.reply) && !deadline.hasExpired()) {
        if (socket.state() != QAbstractSocket::ConnectedState) {
            a.closed = true;
            break;
        }
        socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        a.reply += socket.readAll();
    }
    a.reply += socket.readAll();
    a.closed = a.closed || socket.state() != QAbstractSocket::ConnectedState;
    return a;
}

// The data of a read reply (after ADS result and length), or null when the
// reply is not a successful read.
QByteArray readData(const QByteArray &reply)
{
    if (reply.size() < 46 || le32(reply, 30) != 0 || le32(reply, 38) != 0)
        return QByteArray();
    return reply.mid(46);
}

// The driver's end of the simulator's pseudo-terminal, raw.
class PtyEnd
{
public:
    explicit PtyEnd(const QString &path)
    {
        m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios t{};
        if (m_fd >= 0 && ::tcgetattr(m_fd, &t) == 0) {
            ::cfmakeraw(&t);
            ::tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    ~PtyEnd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }
    bool write(const QByteArray &bytes)
    {
        return ::write(m_fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    }
    // Bytes until a whole frame came or `waitMs` passed; a hang-up ends it too.
    QByteArray readFrame(int waitMs, bool *hungUp)
    {
        QByteArray got;
        *hungUp = false;
        QDeadlineTimer deadline(waitMs);
        while (!wholeFrame(got) && !deadline.hasExpired()) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(qMax<qint64>(1, deadline.remainingTime()))) <= 0)
                continue;
            if (p.revents & (POLLHUP | POLLERR)) {
                *hungUp = true;
                break;
            }
            char buffer[512];
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, int(n));
        }
        return got;
    }

private:
    int m_fd = -1;
};
} // namespace

class TestSimulator : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void routerRules_data();
    void routerRules();
    void wrongTargetReplyMirrorsTheHeader();
    void unroutedSourceOnTheSerialLineIsIgnored();
    void refusedFramesTakeNoFault();
    void runtimesHaveTheirOwnMemoryAndSymbols();
    void portsKeepMemoryByPosition();

private:
    QTcpSocket *connectSocket();
    SimController *sim = nullptr;
    QList<QTcpSocket *> sockets;
};

void TestSimulator::init()
{
    sim = new SimController;
    QVERIFY(sim->startTcp());
    sim->server()->writeImage(kM, 0, hex("11 22 33 44"));
}

void TestSimulator::cleanup()
{
    qDeleteAll(sockets);
    sockets.clear();
    delete sim;
    sim = nullptr;
}

QTcpSocket *TestSimulator::connectSocket()
{
    auto *socket = new QTcpSocket;
    sockets.append(socket);
    socket->connectToHost(QHostAddress::LocalHost, sim->tcpPort());
    socket->waitForConnected(kWaitMs);
    return socket;
}

void TestSimulator::routerRules_data()
{
    QTest::addColumn<QString>("controller"); // its NetId; empty: any target
    QTest::addColumn<QStringList>("routes");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("amsError"); // -1: connection closed, no answer

    const QString controller = QStringLiteral("5.12.34.56.1.1");
    const QString driver = QStringLiteral("192.168.10.100.1.1");
    const QStringList none;
    QTest::newRow("defaults: any target, any source") << "" << none << "9.9.9.9.1.1" << driver << 851 << 0;
    QTest::newRow("defaults: port 852 unknown") << "" << none << "9.9.9.9.1.1" << driver << 852 << 0x6;
    QTest::newRow("own NetId") << controller << none << controller << driver << 851 << 0;
    QTest::newRow("other NetId") << controller << none << "5.12.34.56.1.2" << driver << 851 << 0x7;
    QTest::newRow("other NetId before the port")
        << controller << none << "1.1.1.1.1.1" << driver << 900 << 0x7;
    QTest::newRow("routed source") << "" << QStringList{"1.2.3.4.1.1", driver} << controller << driver << 851
                                   << 0;
    QTest::newRow("source without a route")
        << "" << QStringList{"1.2.3.4.1.1"} << controller << driver << 851 << -1;
    QTest::newRow("route checked before the target")
        << controller << QStringList{"1.2.3.4.1.1"} << "7.7.7.7.1.1" << driver << 851 << -1;
    QTest::newRow("routed, other NetId")
        << controller << QStringList{driver} << "7.7.7.7.1.1" << driver << 851 << 0x7;
    QTest::newRow("routed, unknown port")
        << controller << QStringList{driver} << controller << driver << 852 << 0x6;
}

void TestSimulator::routerRules()
{
    QFETCH(QString, controller);
    QFETCH(QStringList, routes);
    QFETCH(QString, target);
    QFETCH(QString, source);
    QFETCH(int, port);
    QFETCH(int, amsError);
    SimServer *server = sim->server();
    server->setNetId(controller.isEmpty() ? QByteArray() : netId(controller.toLatin1().constData()));
    QList<QByteArray> routeIds;
    for (const QString &r : routes)
        routeIds << netId(r.toLatin1().constData());
    server->setRoutes(routeIds);

    Frame f;
    f.target = netId(target.toLatin1().constData());
    f.source = netId(source.toLatin1().constData());
    f.targetPort = port;
    QTcpSocket *socket = connectSocket();
    QCOMPARE(socket->state(), QAbstractSocket::ConnectedState);
    const Answer a = exchange(*socket, readRequest(f, kM, 0, 4));
    QVERIFY(server->waitForRequests(1, kWaitMs));
    if (amsError < 0) {
        QVERIFY(a.closed);
        QCOMPARE(a.reply, QByteArray());
        QCOMPARE(server->repliesSent(), 0);
        return;
    }
    QVERIFY(!a.closed);
    QVERIFY2(wholeFrame(a.reply), a.reply.toHex().constData());
    QCOMPARE(le32(a.reply, 30), quint32(amsError));
    if (amsError == 0) {
        QCOMPARE(readData(a.reply), hex("11 22 33 44"));
    } else {
        QCOMPARE(a.reply.size(), 38); // an AMS error carries no data
    }
    // The connection stays usable: the same frame again gets the same answer.
    const Answer again = exchange(*socket, readRequest(f, kM, 0, 4));
    QCOMPARE(le32(again.reply, 30), quint32(amsError));
}

void TestSimulator::wrongTargetReplyMirrorsTheHeader()
{
    sim->server()->setNetId(netId("5.12.34.56.1.1"));
    Frame f;
    f.target = netId("5.12.34.56.2.1");
    f.invokeId = 0x01020304;
    QTcpSocket *socket = connectSocket();
    const QByteArray frame = writeRequest(f, kM, 0, hex("aa bb"));
    const Answer a = exchange(*socket, frame);
    QCOMPARE(a.reply.size(), 38);
    QCOMPARE(le16(a.reply, 0), quint16(0));
    QCOMPARE(le32(a.reply, 2), 32u);
    QCOMPARE(a.reply.mid(6, 8), frame.mid(14, 8)); // back to the requester, its port too
    QCOMPARE(a.reply.mid(14, 8), frame.mid(6, 8));
    QCOMPARE(le16(a.reply, 22), quint16(3));
    QCOMPARE(le16(a.reply, 24), quint16(0x0005));
    QCOMPARE(le32(a.reply, 26), 0u);
    QCOMPARE(le32(a.reply, 30), 0x7u);
    QCOMPARE(le32(a.reply, 34), 0x01020304u);
    QCOMPARE(sim->server()->readImage(kM, 0, 2), hex("11 22")); // the write did not happen
}

void TestSimulator::unroutedSourceOnTheSerialLineIsIgnored()
{
    QVERIFY(sim->startPty());
    SimServer *server = sim->server();
    server->setRoutes({netId("192.168.10.100.1.1")});
    PtyEnd pty(sim->ptyPath());
    QVERIFY(pty.isOpen());

    // The first reply to come must be the routed frame's: the stranger's
    // frame, sent first, got none, and the line stayed open.
    Frame stranger;
    stranger.source = netId("6.6.6.6.1.1");
    stranger.invokeId = 1;
    Frame routed;
    routed.invokeId = 2;
    QVERIFY(pty.write(readRequest(stranger, kM, 0, 2)));
    QVERIFY(server->waitForRequests(1, kWaitMs));
    QVERIFY(pty.write(readRequest(routed, kM, 0, 2)));
    bool hungUp = false;
    const QByteArray reply = pty.readFrame(kWaitMs, &hungUp);
    QVERIFY(!hungUp);
    QCOMPARE(le32(reply, 34), 2u);
    QCOMPARE(readData(reply), hex("11 22"));
    QCOMPARE(server->requestCount(), 2);
    // Counted on the simulator's thread just after the bytes went out.
    QTRY_COMPARE_WITH_TIMEOUT(server->repliesSent(), 1, kWaitMs);
}

void TestSimulator::refusedFramesTakeNoFault()
{
    SimServer *server = sim->server();
    server->setNetId(netId("5.12.34.56.1.1"));
    server->setDropEvery(2);
    SimFault fault;
    fault.adsResult = 0x710;
    server->pushFault(fault);
    QTcpSocket *socket = connectSocket();
    Frame other;
    other.target = netId("1.1.1.1.1.1");
    QCOMPARE(le32(exchange(*socket, readRequest(other, kM, 0, 2)).reply, 30), 0x7u);
    QCOMPARE(le32(exchange(*socket, readRequest(other, kM, 0, 2)).reply, 30), 0x7u);

    // The first request a runtime sees takes the queued fault; the second
    // is the second to count for dropping, so the third answers next.
    Frame own;
    own.target = netId("5.12.34.56.1.1");
    const Answer a = exchange(*socket, readRequest(own, kM, 0, 2));
    QCOMPARE(le32(a.reply, 38), 0x710u);
    own.invokeId = 20;
    socket->write(readRequest(own, kM, 0, 2));
    own.invokeId = 21;
    const Answer third = exchange(*socket, readRequest(own, kM, 0, 2));
    QCOMPARE(le32(third.reply, 34), 21u);
    QCOMPARE(readData(third.reply), hex("11 22"));
}

void TestSimulator::runtimesHaveTheirOwnMemoryAndSymbols()
{
    SimServer *server = sim->server();
    server->setAmsPorts({851, 852});
    QCOMPARE(server->amsPorts(), (QList<int>{851, 852}));
    server->writeImage(852, kM, 0, hex("aa bb cc dd"));
    server->addSymbol(851, {QStringLiteral("MAIN.n"), kM, 0x10, 2, QStringLiteral("INT")});
    server->addSymbol(852, {QStringLiteral("MAIN.n"), kM, 0x20, 2, QStringLiteral("INT")});
    server->addSymbol(852, {QStringLiteral("MAIN.only852"), kM, 0x30, 1, QString()});

    QTcpSocket *socket = connectSocket();
    Frame p851, p852, p853;
    p852.targetPort = 852;
    p853.targetPort = 853;
    QCOMPARE(readData(exchange(*socket, readRequest(p851, kM, 0, 4)).reply), hex("11 22 33 44"));
    QCOMPARE(readData(exchange(*socket, readRequest(p852, kM, 0, 4)).reply), hex("aa bb cc dd"));
    QCOMPARE(le32(exchange(*socket, readRequest(p853, kM, 0, 4)).reply, 30), 0x6u);

    // Writes land in the runtime addressed and nowhere else.
    QCOMPARE(le32(exchange(*socket, writeRequest(p852, kM, 1, hex("55"))).reply, 38), 0u);
    QCOMPARE(server->readImage(852, kM, 0, 2), hex("aa 55"));
    QCOMPARE(server->readImage(851, kM, 0, 2), hex("11 22"));
    QCOMPARE(server->readImage(kM, 0, 2), hex("11 22")); // no port: the first runtime

    // The same name at different places; a name one runtime lacks.
    struct Lookup {
        Frame frame;
        const char *name;
        quint32 result;
        quint32 offset;
    };
    const QList<Lookup> lookups = {
        {p851, "MAIN.n", 0, 0x10},
        {p852, "main.N", 0, 0x20},
        {p852, "MAIN.only852", 0, 0x30},
        {p851, "MAIN.only852", 0x710, 0},
    };
    for (const Lookup &l : lookups) {
        const QByteArray reply = exchange(*socket, lookupRequest(l.frame, l.name)).reply;
        QCOMPARE(le32(reply, 30), 0u);
        QCOMPARE(le32(reply, 38), l.result);
        if (l.result == 0)
            QCOMPARE(le32(reply, 46 + 8), l.offset); // the entry: length, group, offset
    }

    // An online change in one runtime leaves the other's place alone.
    QVERIFY(server->moveSymbol(852, QStringLiteral("MAIN.n"), kM, 0x40));
    QVERIFY(!server->moveSymbol(853, QStringLiteral("MAIN.n"), kM, 0x40));
    QCOMPARE(le32(exchange(*socket, readRequest(p852, kM, 0x20, 2)).reply, 38), 0x703u);
    QCOMPARE(le32(exchange(*socket, readRequest(p851, kM, 0x20, 2)).reply, 38), 0u);
    const QByteArray moved = exchange(*socket, lookupRequest(p851, "MAIN.n")).reply;
    QCOMPARE(le32(moved, 46 + 8), 0x10u);
}

void TestSimulator::portsKeepMemoryByPosition()
{
    SimServer *server = sim->server();
    server->setAmsPorts({851, 852, 851});
    QCOMPARE(server->amsPorts(), (QList<int>{851, 852}));
    server->writeImage(852, kM, 0, hex("52"));
    server->setAmsPorts({}); // changes nothing
    QCOMPARE(server->amsPorts(), (QList<int>{851, 852}));

    // One runtime on another port: the first runtime's memory moves with it.
    server->setAmsPort(900);
    QCOMPARE(server->amsPorts(), QList<int>{900});
    QTcpSocket *socket = connectSocket();
    Frame p900, p851;
    p900.targetPort = 900;
    QCOMPARE(readData(exchange(*socket, readRequest(p900, kM, 0, 2)).reply), hex("11 22"));
    QCOMPARE(le32(exchange(*socket, readRequest(p851, kM, 0, 2)).reply, 30), 0x6u);

    // A runtime that went and came back starts zeroed.
    server->setAmsPorts({900, 852});
    QCOMPARE(server->readImage(852, kM, 0, 1), hex("00"));
    QCOMPARE(server->readImage(851, kM, 0, 1), QByteArray()); // no runtime there
    server->writeImage(851, kM, 0, hex("ff")); // does nothing
    QCOMPARE(server->readImage(900, kM, 0, 1), hex("11"));
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
