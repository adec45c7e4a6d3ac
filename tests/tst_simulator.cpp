// The simulated controller as a router with runtimes behind it, seen
// through raw frames on a 127.0.0.1 socket and on its pseudo-terminal:
// target NetId, routes, one runtime per AMS port; its symbol upload and
// array elements by name; handles, the symbol version, online changes and
// restarts; replies from its kept buffer.
#include "link/AdsLayout.h"
#include "sim/SimController.h"
#include "sim/SimImageFile.h"
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
    int sourcePort = 0x80BD;
    quint32 invokeId = 7;
};

// An AMS/TCP request, every field placed byte by byte.
QByteArray request(const Frame &f, quint16 command, const QByteArray &data)
{
    return le(0, 2) + le(quint64(32 + data.size()), 4) + f.target + le(quint64(f.targetPort), 2) + f.source
           + le(quint64(f.sourcePort), 2) + le(command, 2) + le(0x0004, 2) + le(quint64(data.size()), 4)
           + le(0, 4) + le(f.invokeId, 4) + data;
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

// ReadWrite of 0xF003: `name` as written, with its zero byte or without.
QByteArray handleRequest(const Frame &f, const QByteArray &name, quint32 readLength = 4)
{
    return request(f, 9, le(0xF003, 4) + le(0, 4) + le(readLength, 4) + le(quint64(name.size()), 4) + name);
}

QByteArray releaseRequest(const Frame &f, quint32 handle)
{
    return writeRequest(f, 0xF006, 0, le(handle, 4));
}

// ST_Motor (8 bytes: nSpeed INT at 0, fPos REAL at 4) and ST_Axis (28
// bytes: stMotor at 0, aSteps ARRAY [1..5] OF DINT at 8).
QList<SimStructType> motorAndAxis()
{
    SimStructType motor;
    motor.name = QStringLiteral("ST_Motor");
    motor.size = 8;
    motor.comment = QStringLiteral("a drive");
    motor.members = {{QStringLiteral("nSpeed"), QStringLiteral("INT"), 0, 2, QStringLiteral("rpm")},
                     {QStringLiteral("fPos"), QStringLiteral("REAL"), 4, 4, QString()}};
    SimStructType axis;
    axis.name = QStringLiteral("ST_Axis");
    axis.size = 28;
    axis.members = {{QStringLiteral("stMotor"), QStringLiteral("ST_Motor"), 0, 8, QString()},
                    {QStringLiteral("aSteps"), QStringLiteral("ARRAY [1..5] OF DINT"), 8, 20, QString()}};
    return {motor, axis};
}

QList<SimImageFile::Entry> program(const QByteArray &text)
{
    QString error;
    const QList<SimImageFile::Entry> entries = SimImageFile::parse(text, &error, {851, 852});
    if (!error.isEmpty())
        qWarning("bad program: %s", qPrintable(error));
    return entries;
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

// The ADS result of a reply, 0 when it carries an AMS error instead.
quint32 adsResult(const QByteArray &reply)
{
    return reply.size() >= AdsLayout::OffAdsResult + 4 && le32(reply, AdsLayout::OffErrorCode) == 0
               ? le32(reply, AdsLayout::OffAdsResult)
               : 0xFFFFFFFF;
}

// One symbol entry as a lookup answers it and the table lists it.
struct Entry {
    quint32 group = 0;
    quint32 offset = 0;
    quint32 size = 0;
    QByteArray name, type, comment;
    quint32 dataType = 0;
};

// The entries of `bytes`, one after another; fails the test when they do
// not hold together (lengths past the end, missing zero terminators).
QList<Entry> entries(const QByteArray &bytes)
{
    QList<Entry> out;
    int at = 0;
    while (at < bytes.size()) {
        const QByteArray e = bytes.mid(at, int(le32(bytes, at + AdsLayout::EntryLength)));
        const int nameLength = le16(e, AdsLayout::EntryNameLength);
        const int typeLength = le16(e, AdsLayout::EntryTypeLength);
        const int commentLength = le16(e, AdsLayout::EntryCommentLength);
        const int typeAt = AdsLayout::EntryFixedSize + nameLength + 1;
        const int commentAt = typeAt + typeLength + 1;
        if (e.size() < AdsLayout::EntryFixedSize || e.size() != commentAt + commentLength + 1
            || e.at(typeAt - 1) != 0 || e.at(commentAt - 1) != 0 || e.at(e.size() - 1) != 0) {
            qWarning("entry at %d does not hold together: %s", at, e.toHex().constData());
            return {};
        }
        out.append({le32(e, AdsLayout::EntryGroup), le32(e, AdsLayout::EntryOffset),
                    le32(e, AdsLayout::EntrySize), e.mid(AdsLayout::EntryFixedSize, nameLength),
                    e.mid(typeAt, typeLength), e.mid(commentAt, commentLength),
                    le32(e, AdsLayout::EntryDataType)});
        at += e.size();
    }
    return out;
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

// AddDeviceNotification: group, offset, length, mode, maximum delay (0),
// cycle time in 100 ns units, 16 reserved zero bytes.
QByteArray addRequest(const Frame &f, quint32 group, quint32 offset, quint32 length, quint32 mode,
                      quint32 cycle100ns)
{
    return request(f, 6,
                   le(group, 4) + le(offset, 4) + le(length, 4) + le(mode, 4) + le(0, 4) + le(cycle100ns, 4)
                       + QByteArray(16, '\0'));
}

const quint32 k10ms = 100000; // in the cycle time's 100 ns units

struct Sample {
    quint32 handle = 0;
    QByteArray bytes;
};

// A client's connection whose frames are sorted as they come: replies apart
// from DeviceNotifications (command 8, the response flag clear), whose
// samples are kept once their header and lengths are checked: addressed to
// Frame()'s source from its target, one stamp of the current UTC time
// (within a second, as a FILETIME).
class Subscriber
{
public:
    explicit Subscriber(QTcpSocket *socket) : m_socket(socket) { }

    QByteArray ask(const QByteArray &frame)
    {
        m_socket->write(frame);
        m_socket->flush();
        return reply(le32(frame, AdsLayout::OffInvokeId));
    }
    QByteArray reply(quint32 invokeId)
    {
        QDeadlineTimer deadline(kWaitMs);
        while (!m_replies.contains(invokeId) && pump(deadline)) { }
        return m_replies.take(invokeId);
    }
    // Waits until `count` notifications came in all, or `waitMs` passed.
    bool waitFor(int count, int waitMs = kWaitMs)
    {
        QDeadlineTimer deadline(waitMs);
        while (frames.size() < count && pump(deadline)) { }
        return frames.size() >= count;
    }
    QList<Sample> samples() const
    {
        QList<Sample> all;
        for (const QList<Sample> &f : frames)
            all += f;
        return all;
    }
    bool closed() const { return m_socket->state() != QAbstractSocket::ConnectedState; }

    QList<QList<Sample>> frames; // the samples of each notification
    QStringList faults;

private:
    bool pump(const QDeadlineTimer &deadline)
    {
        if (deadline.hasExpired() || closed())
            return false;
        m_socket->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        m_buffer += m_socket->readAll();
        while (wholeFrame(m_buffer)) {
            const QByteArray frame = m_buffer.left(6 + int(le32(m_buffer, 2)));
            m_buffer.remove(0, frame.size());
            if (le16(frame, AdsLayout::OffStateFlags) & 0x0001)
                m_replies.insert(le32(frame, AdsLayout::OffInvokeId), frame);
            else
                notification(frame);
        }
        return true;
    }
    void notification(const QByteArray &n)
    {
        const QByteArray d = n.mid(AdsLayout::HeaderSize);
        const qint64 now = QDateTime::currentMSecsSinceEpoch() * 10000 + 116444736000000000LL;
        if (le16(n, 22) != 8 || le16(n, 24) != 0x0004 || le32(n, 26) != quint32(d.size()) || le32(n, 30) != 0
            || n.mid(6, 8) != m_frame.source + le(quint64(m_frame.sourcePort), 2)
            || n.mid(14, 8) != m_frame.target + le(quint64(m_frame.targetPort), 2) || d.size() < 20
            || le32(d, 0) != quint32(d.size() - 4) || le32(d, 4) != 1
            || qAbs(qint64(le32(d, 8) | quint64(le32(d, 12)) << 32) - now) > 10000000)
            faults << QString::fromLatin1(n.toHex());
        QList<Sample> samples;
        int at = 20;
        for (quint32 i = le32(d, 16); i > 0 && at + 8 <= d.size(); --i) {
            samples.append({le32(d, at), d.mid(at + 8, int(le32(d, at + 4)))});
            at += 8 + int(le32(d, at + 4));
        }
        if (at != d.size())
            faults << QStringLiteral("samples: ") + QString::fromLatin1(n.toHex());
        frames.append(samples);
    }

    QTcpSocket *m_socket;
    const Frame m_frame;
    QByteArray m_buffer;
    QHash<quint32, QByteArray> m_replies;
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
    void uploadInfo_data();
    void uploadInfo();
    void dataTypeUpload_data();
    void dataTypeUpload();
    void deviceCommands_data();
    void deviceCommands();
    void symbolTableListsEverySymbol();
    void symbolTableReadInPieces();
    void arrayElementsByName_data();
    void arrayElementsByName();
    void dataTypeIds_data();
    void dataTypeIds();
    void declaredSymbolsHaveMemory();
    void handles_data();
    void handles();
    void onlineChange_data();
    void onlineChange();
    void symbolVersion_data();
    void symbolVersion();
    void restartClosesConnectionsAndLoadsTheProgram();
    void largeRepliesKeepTheirBytesAndOrder();
    void warmedUpServerAnswersAlike();
    void notificationSamples_data();
    void notificationSamples();
    void samplesDueTogether_data();
    void samplesDueTogether();
    void endingSubscriptions_data();
    void endingSubscriptions();
    void notificationsFollowTheProgram_data();
    void notificationsFollowTheProgram();
    void frozenControllerSendsNothing();

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

void TestSimulator::uploadInfo_data()
{
    QTest::addColumn<quint32>("group");
    QTest::addColumn<quint32>("offset");
    QTest::addColumn<quint32>("length");
    QTest::addColumn<QByteArray>("expected"); // empty: refused with 0x703

    // Three symbols whose entries take 30 + name + type + comment + 3 bytes.
    const quint32 tableBytes = (30 + 13 + 4 + 0 + 3) + (30 + 10 + 20 + 11 + 3) + (30 + 5 + 0 + 0 + 3);
    const QByteArray counts = le(3, 4) + le(tableBytes, 4);
    const QByteArray info = counts + QByteArray(16, '\0');
    QTest::newRow("0xF00F") << 0xF00Fu << 0u << 24u << info;
    QTest::newRow("0xF00C, older runtimes") << 0xF00Cu << 0u << 8u << counts;
    QTest::newRow("fewer bytes asked") << 0xF00Fu << 0u << 8u << counts;
    QTest::newRow("more bytes asked") << 0xF00Fu << 0u << 100u << info;
    QTest::newRow("from an offset") << 0xF00Fu << 4u << 4u << le(tableBytes, 4);
    QTest::newRow("offset past the end") << 0xF00Fu << 25u << 4u << QByteArray();
}

void TestSimulator::uploadInfo()
{
    QFETCH(quint32, group);
    QFETCH(quint32, offset);
    QFETCH(quint32, length);
    QFETCH(QByteArray, expected);
    SimServer *server = sim->server();
    server->addSymbol({QStringLiteral("MAIN.nCounter"), kM, 0x100, 4, QStringLiteral("DINT")});
    server->addSymbol({QStringLiteral("GVL.aTemps"), kM, 0x200, 40, QStringLiteral("ARRAY [0..9] OF REAL"),
                       QStringLiteral("in 0.1 degC")});
    server->addSymbol({QStringLiteral(".bRun"), 0xF030, 4, 1});
    const QByteArray reply = exchange(*connectSocket(), readRequest(Frame(), group, offset, length)).reply;
    if (expected.isEmpty()) {
        QCOMPARE(adsResult(reply), 0x703u);
        return;
    }
    QCOMPARE(adsResult(reply), 0u);
    QCOMPARE(le32(reply, AdsLayout::OffReadLength), quint32(expected.size()));
    QCOMPARE(readData(reply), expected);
}

// The data type upload: the counts in bytes 8 to 15 of 0xF00F, then each
// structure with its members as sub-items, byte by byte; a runtime that
// refuses it still answers the older sizes. Member lookups carry their
// own data type id.
void TestSimulator::dataTypeUpload_data()
{
    QTest::addColumn<quint32>("refused");
    QTest::newRow("served") << 0u;
    QTest::newRow("refused") << 0x701u;
}

void TestSimulator::dataTypeUpload()
{
    QFETCH(quint32, refused);
    SimServer *server = sim->server();
    for (const SimStructType &type : motorAndAxis())
        server->addType(type);
    server->addSymbol({QStringLiteral("MAIN.stMotor"), kM, 0x900, 8, QStringLiteral("ST_Motor")});
    server->setDataTypesRefused(refused);
    QTcpSocket *socket = connectSocket();
    const QByteArray infoReply = exchange(*socket, readRequest(Frame(), 0xF00F, 0, 24)).reply;
    const QByteArray tableReply = exchange(*socket, readRequest(Frame(), 0xF00E, 0, 4096)).reply;
    const QByteArray older = readData(exchange(*socket, readRequest(Frame(), 0xF00C, 0, 8)).reply);
    QCOMPARE(le32(older, 0), 1u);
    if (refused != 0) {
        QCOMPARE(adsResult(infoReply), refused);
        QCOMPARE(adsResult(tableReply), refused);
        return;
    }
    const QByteArray info = readData(infoReply);
    const QByteArray table = readData(tableReply);
    QCOMPARE(le32(info, 8), 2u);
    QCOMPARE(le32(info, 12), quint32(table.size()));
    // ST_Motor: length, version 1, two hashes, size 8, offs 0, id 65, flags;
    // lengths of name, type and comment, no dimensions, two sub-items.
    const QByteArray motor = hex("aa000000 01000000 00000000 00000000 08000000 00000000 41000000 00000000"
                                 "0800 0000 0700 0000 0200")
                             + QByteArray("ST_Motor\0\0a drive\0", 18);
    const QByteArray speed = hex("39000000 01000000 00000000 00000000 02000000 00000000 02000000 00000000"
                                 "0600 0300 0300 0000 0000")
                             + QByteArray("nSpeed\0INT\0rpm\0", 15);
    const QByteArray pos = hex("35000000 01000000 00000000 00000000 04000000 04000000 04000000 00000000"
                               "0400 0400 0000 0000 0000")
                           + QByteArray("fPos\0REAL\0\0", 11);
    QCOMPARE(table.left(motor.size() + speed.size() + pos.size()), motor + speed + pos);
    // ST_Axis's array member: one dimension, lower bound 1, five elements.
    const QByteArray steps = QByteArray("aSteps\0ARRAY [1..5] OF DINT\0\0", 29) + hex("01000000 05000000");
    QVERIFY(table.endsWith(steps));
    QCOMPARE(le16(table, table.size() - steps.size() - AdsLayout::TypeEntryFixedSize + 38), quint16(1));

    // A member's entry, and a structure's.
    const QList<Entry> member =
        entries(readData(exchange(*socket, lookupRequest(Frame(), "MAIN.stMotor.fPos")).reply));
    QCOMPARE(member.size(), 1);
    QCOMPARE(member.first().dataType, 4u);
    QCOMPARE(member.first().offset, 0x904u);
    const QList<Entry> whole =
        entries(readData(exchange(*socket, lookupRequest(Frame(), "MAIN.stMotor")).reply));
    QCOMPARE(whole.first().dataType, 65u);
}

// ReadState (4) and ReadDeviceInfo (1): no request data; the reply data
// byte by byte, after the mirrored header.
void TestSimulator::deviceCommands_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("set"); // what the controller was told before
    QTest::addColumn<int>("port");
    QTest::addColumn<quint32>("amsError");
    QTest::addColumn<QByteArray>("data");
    const QByteArray name = QByteArray("ads-sim") + QByteArray(9, '\0');
    QTest::newRow("state: run") << 4 << "" << 851 << 0u << hex("00000000 0500 0000");
    QTest::newRow("state: stop") << 4 << "stop" << 851 << 0u << hex("00000000 0600 0000");
    QTest::newRow("state: config") << 4 << "config" << 851 << 0u << hex("00000000 0f00 0000");
    QTest::newRow("state: refused") << 4 << "fault" << 851 << 0u << hex("00070000");
    QTest::newRow("state: no runtime") << 4 << "" << 852 << 6u << QByteArray();
    QTest::newRow("device info") << 1 << "version" << 851 << 0u << hex("00000000 03 04 f401") + name;
    QTest::newRow("device info: a name cut to 15")
        << 1 << "long name" << 851 << 0u
        << hex("00000000 03 04 f401") + QByteArray("a-very-long-nam") + QByteArray(1, '\0');
    QTest::newRow("device info: refused") << 1 << "fault" << 851 << 0u << hex("00070000");
    QTest::newRow("device info: no runtime") << 1 << "" << 852 << 6u << QByteArray();
}

void TestSimulator::deviceCommands()
{
    QFETCH(int, command);
    QFETCH(QString, set);
    QFETCH(int, port);
    QFETCH(quint32, amsError);
    QFETCH(QByteArray, data);
    SimServer *server = sim->server();
    server->setDeviceVersion(3, 4, 500);
    if (set == "stop")
        server->setAdsState(6);
    if (set == "config")
        server->setAdsState(15);
    if (set == "long name")
        server->setDeviceName(QStringLiteral("a-very-long-name"));
    if (set == "fault") {
        SimFault fault;
        fault.adsResult = 0x700;
        server->pushFault(fault);
    }
    Frame f;
    f.targetPort = port;
    f.invokeId = 0x0A0B0C0D;
    const QByteArray frame = request(f, quint16(command), QByteArray());
    QCOMPARE(frame.size(), 38);
    const QByteArray reply = exchange(*connectSocket(), frame).reply;
    QCOMPARE(reply.size(), 38 + data.size());
    QCOMPARE(le32(reply, 2), quint32(32 + data.size()));
    QCOMPARE(reply.mid(6, 8), frame.mid(14, 8));
    QCOMPARE(reply.mid(14, 8), frame.mid(6, 8));
    QCOMPARE(le16(reply, 22), quint16(command));
    QCOMPARE(le16(reply, 24), quint16(0x0005));
    QCOMPARE(le32(reply, 26), quint32(data.size()));
    QCOMPARE(le32(reply, 30), amsError);
    QCOMPARE(le32(reply, 34), 0x0A0B0C0Du);
    QCOMPARE(reply.mid(38), data);
}

void TestSimulator::symbolTableListsEverySymbol()
{
    SimServer *server = sim->server();
    server->addSymbol({QStringLiteral("MAIN.nCounter"), kM, 0x100, 4, QStringLiteral("DINT")});
    server->addSymbol({QStringLiteral("MAIN.sName"), 0x4040, 0x400, 81, QStringLiteral("STRING(80)"),
                       QStringLiteral("operator")});
    server->addSymbol({QStringLiteral(".bRun"), 0xF030, 4, 1});
    server->addSymbol({QStringLiteral("main.NCOUNTER"), kM, 0x104, 2, QStringLiteral("INT")}); // replaces
    QTcpSocket *socket = connectSocket();
    const QByteArray info = readData(exchange(*socket, readRequest(Frame(), 0xF00F, 0, 24)).reply);
    QCOMPARE(le32(info, 0), 3u);

    const QByteArray table =
        readData(exchange(*socket, readRequest(Frame(), 0xF00B, 0, le32(info, 4))).reply);
    QCOMPARE(quint32(table.size()), le32(info, 4));
    // The first entry byte by byte; the others through the reader.
    QCOMPARE(table.left(49), hex("31000000 20400000 04010000 02000000 02000000 00000000 0d00 0300 0000")
                                 + "main.NCOUNTER" + '\0' + "INT" + '\0' + '\0');
    const QList<Entry> all = entries(table);
    QCOMPARE(all.size(), 3);
    QCOMPARE(all.at(1).name, QByteArray("MAIN.sName"));
    QCOMPARE(all.at(1).group, 0x4040u);
    QCOMPARE(all.at(1).offset, 0x400u);
    QCOMPARE(all.at(1).size, 81u);
    QCOMPARE(all.at(1).type, QByteArray("STRING(80)"));
    QCOMPARE(all.at(1).comment, QByteArray("operator"));
    QCOMPARE(all.at(2).name, QByteArray(".bRun"));
    QCOMPARE(all.at(2).type, QByteArray());

    // An online change moves the symbol in the table too; the table stays the program's.
    QVERIFY(server->moveSymbol(QStringLiteral("MAIN.sName"), 0x4040, 0x800));
    const QByteArray moved = readData(exchange(*socket, readRequest(Frame(), 0xF00B, 0, 4096)).reply);
    QCOMPARE(entries(moved).at(1).offset, 0x800u);
    QCOMPARE(adsResult(exchange(*socket, writeRequest(Frame(), 0xF00B, 0, hex("00"))).reply), 0x701u);
    QCOMPARE(readData(exchange(*socket, readRequest(Frame(), 0xF00B, 0, 4096)).reply), moved);
}

void TestSimulator::symbolTableReadInPieces()
{
    SimServer *server = sim->server();
    for (int i = 0; i < 20; ++i)
        server->addSymbol({QStringLiteral("GVL.n%1").arg(i), kM, quint32(i * 2), 2, QStringLiteral("INT")});
    QTcpSocket *socket = connectSocket();
    const quint32 size = le32(readData(exchange(*socket, readRequest(Frame(), 0xF00F, 0, 24)).reply), 4);
    const QByteArray whole = readData(exchange(*socket, readRequest(Frame(), 0xF00B, 0, size)).reply);
    QCOMPARE(quint32(whole.size()), size);
    QCOMPARE(entries(whole).size(), 20);

    // Pieces of 100 bytes at increasing offsets; the last one is shorter.
    QByteArray pieces;
    for (quint32 at = 0; at < size; at += 100) {
        const QByteArray piece = readData(exchange(*socket, readRequest(Frame(), 0xF00B, at, 100)).reply);
        QCOMPARE(quint32(piece.size()), qMin<quint32>(100, size - at));
        pieces += piece;
    }
    QCOMPARE(pieces, whole);
    const QByteArray atEnd = exchange(*socket, readRequest(Frame(), 0xF00B, size, 100)).reply;
    QCOMPARE(adsResult(atEnd), 0u);
    QCOMPARE(le32(atEnd, AdsLayout::OffReadLength), 0u);
    QCOMPARE(adsResult(exchange(*socket, readRequest(Frame(), 0xF00B, size + 1, 100)).reply), 0x703u);
}

void TestSimulator::arrayElementsByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<quint32>("result");
    QTest::addColumn<quint32>("offset");
    QTest::addColumn<quint32>("size");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("entryName");

    const quint32 nf = 0x710;
    QTest::newRow("first") << "GVL.aTemps[0]" << 0u << 0x200u << 4u << "REAL"
                           << "GVL.aTemps[0]";
    QTest::newRow("fourth") << "GVL.aTemps[3]" << 0u << 0x20Cu << 4u << "REAL"
                            << "GVL.aTemps[3]";
    QTest::newRow("last") << "GVL.aTemps[9]" << 0u << 0x224u << 4u << "REAL"
                          << "GVL.aTemps[9]";
    QTest::newRow("case of the name") << "gvl.ATEMPS[4]" << 0u << 0x210u << 4u << "REAL"
                                      << "GVL.aTemps[4]";
    QTest::newRow("past the end") << "GVL.aTemps[10]" << nf << 0u << 0u << ""
                                  << "";
    QTest::newRow("below the start") << "GVL.aTemps[-1]" << nf << 0u << 0u << ""
                                     << "";
    QTest::newRow("name held directly wins") << "GVL.aTemps[5]" << 0u << 0x700u << 4u << "REAL"
                                             << "GVL.aTemps[5]";
    QTest::newRow("lower bound 1") << "GVL.aInts[1]" << 0u << 0x300u << 2u << "INT"
                                   << "GVL.aInts[1]";
    QTest::newRow("lower bound 1, last") << "GVL.aInts[10]" << 0u << 0x312u << 2u << "INT"
                                         << "GVL.aInts[10]";
    QTest::newRow("lower bound 1, index 0") << "GVL.aInts[0]" << nf << 0u << 0u << ""
                                            << "";
    QTest::newRow("negative bounds, first") << "GVL.aNeg[-5]" << 0u << 0x400u << 4u << "DINT"
                                            << "GVL.aNeg[-5]";
    QTest::newRow("negative bounds, 0") << "GVL.aNeg[0]" << 0u << 0x414u << 4u << "DINT"
                                        << "GVL.aNeg[0]";
    QTest::newRow("negative bounds, last") << "GVL.aNeg[5]" << 0u << 0x428u << 4u << "DINT"
                                           << "GVL.aNeg[5]";
    QTest::newRow("two dimensions, row-major") << "GVL.aGrid[1,2]" << 0u << 0x50Cu << 2u << "INT"
                                               << "GVL.aGrid[1,2]";
    QTest::newRow("two dimensions, last") << "GVL.aGrid[2,3]" << 0u << 0x516u << 2u << "INT"
                                          << "GVL.aGrid[2,3]";
    QTest::newRow("two dimensions, first out") << "GVL.aGrid[3,0]" << nf << 0u << 0u << ""
                                               << "";
    QTest::newRow("two dimensions, second out") << "GVL.aGrid[0,4]" << nf << 0u << 0u << ""
                                                << "";
    QTest::newRow("two dimensions, one index") << "GVL.aGrid[1]" << nf << 0u << 0u << ""
                                               << "";
    QTest::newRow("array of arrays") << "GVL.aRows[1]" << 0u << 0x606u << 6u << "ARRAY [0..2] OF INT"
                                     << "GVL.aRows[1]";
    QTest::newRow("array of arrays, element") << "GVL.aRows[1][2]" << 0u << 0x60Au << 2u << "INT"
                                              << "GVL.aRows[1][2]";
    QTest::newRow("strings") << "GVL.aNames[2]" << 0u << 0x8A2u << 81u << "STRING(80)"
                             << "GVL.aNames[2]";
    QTest::newRow("member of an element") << "GVL.aTemps[3].x" << nf << 0u << 0u << ""
                                          << "";
    QTest::newRow("not an array") << "MAIN.nCounter[0]" << nf << 0u << 0u << ""
                                  << "";
    QTest::newRow("no such array") << "GVL.aNone[0]" << nf << 0u << 0u << ""
                                   << "";
    QTest::newRow("not a number") << "GVL.aTemps[x]" << nf << 0u << 0u << ""
                                  << "";
    QTest::newRow("member") << "MAIN.stMotor.nSpeed" << 0u << 0x900u << 2u << "INT"
                            << "MAIN.stMotor.nSpeed";
    QTest::newRow("member, in another case") << "main.STMOTOR.FPOS" << 0u << 0x904u << 4u << "REAL"
                                             << "MAIN.stMotor.fPos";
    QTest::newRow("structure element") << "GVL.aAxes[2]" << 0u << 0xA1Cu << 28u << "ST_Axis"
                                       << "GVL.aAxes[2]";
    QTest::newRow("member of a member of an element")
        << "GVL.aAxes[2].stMotor.fPos" << 0u << 0xA20u << 4u << "REAL"
        << "GVL.aAxes[2].stMotor.fPos";
    QTest::newRow("element of a member of an element")
        << "GVL.aAxes[3].aSteps[5]" << 0u << 0xA50u << 4u << "DINT"
        << "GVL.aAxes[3].aSteps[5]";
    QTest::newRow("no such member") << "MAIN.stMotor.nTorque" << nf << 0u << 0u << ""
                                    << "";
    QTest::newRow("member of a plain member") << "MAIN.stMotor.nSpeed.x" << nf << 0u << 0u << ""
                                              << "";
    QTest::newRow("member past its symbol's size") << "MAIN.stShort.fPos" << nf << 0u << 0u << ""
                                                   << "";
    QTest::newRow("member of the array, not of an element") << "GVL.aAxes.stMotor" << nf << 0u << 0u << ""
                                                            << "";
    QTest::newRow("indexes nested past any array")
        << QStringLiteral("GVL.aRows") + QStringLiteral("[0]").repeated(30000) << nf << 0u << 0u << ""
        << "";
}

void TestSimulator::arrayElementsByName()
{
    QFETCH(QString, name);
    QFETCH(quint32, result);
    QFETCH(quint32, offset);
    QFETCH(quint32, size);
    QFETCH(QString, type);
    QFETCH(QString, entryName);
    SimServer *server = sim->server();
    server->addSymbol({QStringLiteral("MAIN.nCounter"), kM, 0x100, 4, QStringLiteral("DINT")});
    server->addSymbol({QStringLiteral("GVL.aTemps"), kM, 0x200, 40, QStringLiteral("ARRAY [0..9] OF REAL")});
    server->addSymbol({QStringLiteral("GVL.aTemps[5]"), kM, 0x700, 4, QStringLiteral("REAL")});
    server->addSymbol({QStringLiteral("GVL.aInts"), kM, 0x300, 20, QStringLiteral("ARRAY [1..10] OF INT")});
    server->addSymbol({QStringLiteral("GVL.aNeg"), kM, 0x400, 44, QStringLiteral("array[-5..5] of DINT")});
    server->addSymbol(
        {QStringLiteral("GVL.aGrid"), kM, 0x500, 24, QStringLiteral("ARRAY [0..2,0..3] OF INT")});
    server->addSymbol(
        {QStringLiteral("GVL.aRows"), kM, 0x600, 12, QStringLiteral("ARRAY [0..1] OF ARRAY [0..2] OF INT")});
    server->addSymbol(
        {QStringLiteral("GVL.aNames"), kM, 0x800, 324, QStringLiteral("ARRAY [0..3] OF STRING(80)")});
    for (const SimStructType &type : motorAndAxis())
        server->addType(type);
    server->addSymbol({QStringLiteral("MAIN.stMotor"), kM, 0x900, 8, QStringLiteral("ST_Motor")});
    server->addSymbol({QStringLiteral("MAIN.stShort"), kM, 0x980, 6, QStringLiteral("ST_Motor")});
    server->addSymbol(
        {QStringLiteral("GVL.aAxes"), kM, 0xA00, 84, QStringLiteral("ARRAY [1..3] OF ST_Axis")});

    const QByteArray reply = exchange(*connectSocket(), lookupRequest(Frame(), name.toLatin1())).reply;
    QCOMPARE(adsResult(reply), result);
    if (result != 0)
        return;
    const QList<Entry> found = entries(readData(reply));
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().group, kM);
    QCOMPARE(found.first().offset, offset);
    QCOMPARE(found.first().size, size);
    QCOMPARE(QString::fromLatin1(found.first().type), type);
    QCOMPARE(QString::fromLatin1(found.first().name), entryName);
}

void TestSimulator::dataTypeIds_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<quint32>("given"); // the Symbol's own field
    QTest::addColumn<QString>("name"); // looked up
    QTest::addColumn<quint32>("id");
    const quint32 derive = SimSymbols::DeriveType;
    const QString names =
        "BOOL 33;bit 33;SINT 16;USINT 17;Byte 17;INT 2;UINT 18;WORD 18;DINT 3;UDINT 19;DWORD 19;"
        "TIME 19;TOD 19;TIME_OF_DAY 19;DATE 19;DT 19;DATE_AND_TIME 19;REAL 4;lreal 5;LINT 20;"
        "ULINT 21;LWORD 21;STRING 30;string(80) 30;WSTRING(20) 31;ST_Motor 65;POINTER TO INT 65;"
        "REFERENCE TO REAL 65;STRINGS 65; 65";
    for (const QString &row : names.split(QLatin1Char(';'))) {
        const QString type = row.section(QLatin1Char(' '), 0, -2);
        QTest::newRow(qPrintable(row))
            << type << derive << "gvl.V" << row.section(QLatin1Char(' '), -1).toUInt();
    }
    QTest::newRow("array of LREAL") << "ARRAY [0..9] OF LREAL" << derive << "GVL.v[3]" << 5u;
    QTest::newRow("array of strings") << "array[1..3] of WSTRING(10)" << derive << "GVL.v[2]" << 31u;
    QTest::newRow("array of arrays") << "ARRAY [0..1] OF ARRAY [0..2] OF UINT" << derive << "GVL.v[1]" << 18u;
    QTest::newRow("given id wins") << "INT" << 0x41u << "GVL.v" << 0x41u;
}

void TestSimulator::dataTypeIds()
{
    QFETCH(QString, type);
    QFETCH(quint32, given);
    QFETCH(QString, name);
    QFETCH(quint32, id);
    sim->server()->addSymbol({QStringLiteral("GVL.v"), kM, 0x100, 60, type, QString(), given});
    QTcpSocket *socket = connectSocket();
    // The lookup, and the upload's entry (of the array itself for an element's row).
    const QList<Entry> found =
        entries(readData(exchange(*socket, lookupRequest(Frame(), name.toLatin1())).reply))
        + entries(readData(exchange(*socket, readRequest(Frame(), 0xF00B, 0, 4096)).reply));
    QCOMPARE(found.size(), 2);
    QCOMPARE(found.at(0).dataType, id);
    QCOMPARE(found.at(1).dataType, id);
}

void TestSimulator::declaredSymbolsHaveMemory()
{
    // 0x4040 was never written: the symbol alone makes its bytes readable.
    SimServer *server = sim->server();
    QTcpSocket *socket = connectSocket();
    QCOMPARE(adsResult(exchange(*socket, readRequest(Frame(), 0x4040, 0x400, 81)).reply), 0x702u);
    server->addSymbol({QStringLiteral("MAIN.sName"), 0x4040, 0x400, 81, QStringLiteral("STRING(80)")});
    QCOMPARE(readData(exchange(*socket, readRequest(Frame(), 0x4040, 0x400, 81)).reply),
             QByteArray(81, '\0'));
    QCOMPARE(adsResult(exchange(*socket, writeRequest(Frame(), 0x4040, 0x400, "Anna")).reply), 0u);
    QCOMPARE(readData(exchange(*socket, readRequest(Frame(), 0x4040, 0x400, 5)).reply),
             QByteArray("Anna\0", 5));
    // A symbol over written bytes leaves them as they were.
    server->addSymbol({QStringLiteral("MAIN.n"), kM, 2, 4, QStringLiteral("DINT")});
    QCOMPARE(server->readImage(kM, 0, 6), hex("11 22 33 44 00 00"));
}

void TestSimulator::handles_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<quint32>("readLength"); // of the handle's request
    QTest::addColumn<quint32>("obtained"); // its ADS result
    QTest::addColumn<QString>("use"); // who presents the handle, and how
    QTest::addColumn<quint32>("length");
    QTest::addColumn<quint32>("result");
    QTest::addColumn<quint32>("place"); // in the M area
    QTest::addColumn<QByteArray>("data");

    const QByteArray n("GVL.n\0", 6);
    QTest::newRow("name with its zero") << n << 4u << 0u << "same" << 4u << 0u << 0x100u << hex("01020304");
    QTest::newRow("name without, in another case, the head")
        << QByteArray("gvl.N") << 100u << 0u << "same" << 2u << 0u << 0x100u << hex("0102");
    QTest::newRow("array element") << QByteArray("GVL.a[3]") << 4u << 0u << "same" << 4u << 0u << 0x20Cu
                                   << hex("aabbccdd");
    QTest::newRow("array element of a structure member")
        << QByteArray("GVL.st.aSteps[1]") << 4u << 0u << "same" << 2u << 0u << 0x306u << hex("beef");
    QTest::newRow("more than the variable") << n << 4u << 0u << "same" << 5u << 0x705u << 0u << QByteArray();
    QTest::newRow("unknown name") << QByteArray("GVL.x\0", 6) << 4u << 0x710u << "" << 0u << 0u << 0u
                                  << QByteArray();
    QTest::newRow("answer shorter than a handle")
        << n << 3u << 0x705u << "" << 0u << 0u << 0u << QByteArray();
    QTest::newRow("refused") << n << 4u << 0x701u << "refused" << 0u << 0u << 0u << QByteArray();
    for (const char *other :
         {"other source NetId", "other source port", "other runtime", "other connection", "released"})
        QTest::newRow(other) << n << 4u << 0u << other << 4u << 0x710u << 0u << QByteArray();
}

// Obtains a handle, reads and writes through it as `use` says, releases it.
void TestSimulator::handles()
{
    QFETCH(QByteArray, name);
    QFETCH(quint32, readLength);
    QFETCH(quint32, obtained);
    QFETCH(QString, use);
    QFETCH(quint32, length);
    QFETCH(quint32, result);
    QFETCH(quint32, place);
    QFETCH(QByteArray, data);
    SimServer *server = sim->server();
    server->setAmsPorts({851, 852});
    for (int port : {851, 852}) {
        server->addSymbol(port, {QStringLiteral("GVL.n"), kM, 0x100, 4, QStringLiteral("DINT")});
        server->addSymbol(port,
                          {QStringLiteral("GVL.a"), kM, 0x200, 40, QStringLiteral("ARRAY [0..9] OF REAL")});
        SimStructType pair;
        pair.name = QStringLiteral("ST_Pair");
        pair.size = 8;
        pair.members = {{QStringLiteral("nId"), QStringLiteral("DINT"), 0, 4, QString()},
                        {QStringLiteral("aSteps"), QStringLiteral("ARRAY [0..1] OF INT"), 4, 4, QString()}};
        server->addType(port, pair);
        server->addSymbol(port, {QStringLiteral("GVL.st"), kM, 0x300, 8, QStringLiteral("ST_Pair")});
    }
    server->writeImage(kM, 0x306, hex("beef"));
    server->writeImage(kM, 0x100, hex("01020304"));
    server->writeImage(kM, 0x20C, hex("aabbccdd"));
    server->setHandlesRefused(use == "refused" ? 0x701 : 0);
    QTcpSocket *socket = connectSocket();
    Frame f;
    const QByteArray reply = exchange(*socket, handleRequest(f, name, readLength)).reply;
    QCOMPARE(adsResult(reply), obtained);
    QCOMPARE(le32(reply, AdsLayout::OffReadLength), obtained == 0 ? 4u : 0u);
    QCOMPARE(server->handlesObtained(), obtained == 0 ? 1 : 0);
    if (obtained != 0)
        return;
    const quint32 handle = le32(reply, AdsLayout::OffReadData);
    QVERIFY(handle > 1);

    Frame g = f;
    QTcpSocket *line = socket;
    g.source = use == "other source NetId" ? netId("192.168.10.100.1.2") : f.source;
    g.sourcePort = use == "other source port" ? f.sourcePort + 1 : f.sourcePort;
    g.targetPort = use == "other runtime" ? 852 : 851;
    if (use == "other connection")
        line = connectSocket();
    if (use == "released") {
        QCOMPARE(adsResult(exchange(*socket, releaseRequest(f, handle)).reply), 0u);
        QCOMPARE(server->handlesReleased(), 1);
    }
    const Answer read = exchange(*line, readRequest(g, 0xF005, handle, length));
    QCOMPARE(adsResult(read.reply), result);
    QCOMPARE(readData(read.reply), data);
    const QByteArray written(int(length), '\x5a');
    QCOMPARE(adsResult(exchange(*line, writeRequest(g, 0xF005, handle, written)).reply), result);
    if (result == 0)
        QCOMPARE(server->readImage(kM, place, int(length)), written);
    // Only the holder lets it go, once; another's release leaves it live until its connection closes.
    const bool held = result != 0x710 || use == "released";
    QCOMPARE(adsResult(exchange(*line, releaseRequest(g, handle)).reply), result == 0x710 ? 0x710u : 0u);
    QCOMPARE(server->handleCount(), held ? 0 : 1);
    socket->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(server->handleCount(), 0, kWaitMs);
    QCOMPARE(server->handlesReleased(), held ? 1 : 0);
}

void TestSimulator::onlineChange_data()
{
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<quint32>("result"); // of a read by the handle obtained before
    QTest::addColumn<quint32>("moved"); // where the handle writes now
    QTest::addColumn<quint32>("place"); // in the M area, after the change
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray value = hex("01020304");
    QTest::newRow("unchanged") << QByteArray("symbol GVL.n 4020 100 4 DINT\n") << 0u << 0x100u << 0x100u
                               << value;
    QTest::newRow("moved, value kept")
        << QByteArray("symbol GVL.n 4020 300 4 DINT\n") << 0u << 0x300u << 0x300u << value;
    QTest::newRow("moved, value kept over the image")
        << QByteArray("symbol GVL.n 4020 300 4 DINT\n4020 300 09 09 09 09\n") << 0u << 0x300u << 0x300u
        << value;
    QTest::newRow("new variable from the image")
        << QByteArray("symbol GVL.n 4020 100 4 DINT\nsymbol GVL.m 4020 400 2 INT\n4020 400 34 12\n") << 0u
        << 0x100u << 0x400u << hex("3412");
    QTest::newRow("removed; a new one over it from zero")
        << QByteArray("symbol GVL.m 4020 100 2 INT\n") << 0x710u << 0u << 0x100u << hex("0000");
    QTest::newRow("resized, from the image") << QByteArray("symbol GVL.n 4020 100 2 INT\n4020 100 07 00\n")
                                             << 0x711u << 0u << 0x100u << hex("0700");
    QTest::newRow("resized, from zero")
        << QByteArray("symbol GVL.n 4020 100 8 LINT\n") << 0x711u << 0u << 0x100u << QByteArray(8, '\0');
}

void TestSimulator::onlineChange()
{
    QFETCH(QByteArray, program);
    QFETCH(quint32, result);
    QFETCH(quint32, moved);
    QFETCH(quint32, place);
    QFETCH(QByteArray, bytes);
    SimServer *server = sim->server();
    server->addSymbol({QStringLiteral("GVL.n"), kM, 0x100, 4, QStringLiteral("DINT")});
    server->addSymbol({QStringLiteral("GVL.old"), kM, 0x600, 2, QStringLiteral("INT")});
    QVERIFY(server->moveSymbol(QStringLiteral("GVL.old"), kM, 0x610)); // the older way: 0x600 refused
    QTcpSocket *socket = connectSocket();
    QCOMPARE(adsResult(exchange(*socket, writeRequest(Frame(), kM, 0x100, hex("01020304"))).reply), 0u);
    const quint32 handle = le32(readData(exchange(*socket, handleRequest(Frame(), "GVL.n")).reply), 0);

    server->onlineChange(::program(program));
    QCOMPARE(server->readImage(kM, place, bytes.size()), bytes);
    const Answer read = exchange(*socket, readRequest(Frame(), 0xF005, handle, 4));
    QVERIFY(!read.closed);
    QCOMPARE(adsResult(read.reply), result);
    const QByteArray written = hex("0a0b0c0d"); // the handle follows its variable, for writes too
    QCOMPARE(adsResult(exchange(*socket, writeRequest(Frame(), 0xF005, handle, written)).reply), result);
    if (result == 0)
        QCOMPARE(server->readImage(kM, moved, 4), written);
    QCOMPARE(adsResult(exchange(*socket, readRequest(Frame(), kM, 0x600, 2)).reply), 0u);
    QCOMPARE(readData(exchange(*socket, readRequest(Frame(), 0xF008, 0, 1)).reply), hex("02"));
}

void TestSimulator::symbolVersion_data()
{
    QTest::addColumn<quint32>("length");
    QTest::addColumn<quint32>("refused");
    QTest::addColumn<QByteArray>("changes"); // o: an online change, r: a restart
    QTest::addColumn<int>("port");
    QTest::addColumn<quint32>("result");
    QTest::addColumn<QByteArray>("version");
    QTest::newRow("starts at 1") << 1u << 0u << QByteArray() << 851 << 0u << hex("01");
    QTest::newRow("two bytes asked") << 2u << 0u << QByteArray() << 851 << 0x705u << QByteArray();
    QTest::newRow("refused") << 1u << 0x701u << QByteArray() << 851 << 0x701u << QByteArray();
    QTest::newRow("online changes, a restart, wrapping")
        << 1u << 0u << QByteArray(254, 'o') + 'r' << 851 << 0u << hex("00");
    QTest::newRow("another runtime's change") << 1u << 0u << QByteArray("o") << 852 << 0u << hex("01");
    QTest::newRow("restart of all") << 1u << 0u << QByteArray("r") << 852 << 0u << hex("02");
}

void TestSimulator::symbolVersion()
{
    QFETCH(quint32, length);
    QFETCH(quint32, refused);
    QFETCH(QByteArray, changes);
    QFETCH(int, port);
    QFETCH(quint32, result);
    QFETCH(QByteArray, version);
    SimServer *server = sim->server();
    server->setAmsPorts({851, 852});
    server->setSymbolVersionRefused(refused);
    for (char change : changes) {
        if (change == 'o')
            server->onlineChange(program("symbol MAIN.n 4020 0 2 INT\n"));
        else
            server->restart(program("port 852\nsymbol MAIN.n 4020 0 2 INT\n"));
    }
    Frame f;
    f.targetPort = port;
    const QByteArray reply = exchange(*connectSocket(), readRequest(f, 0xF008, 0, length)).reply;
    QCOMPARE(adsResult(reply), result);
    QCOMPARE(readData(reply), version);
}

void TestSimulator::restartClosesConnectionsAndLoadsTheProgram()
{
    SimServer *server = sim->server();
    QVERIFY(sim->startPty());
    server->addSymbol({QStringLiteral("GVL.n"), kM, 0x100, 4, QStringLiteral("DINT")});
    QTcpSocket *socket = connectSocket();
    QVERIFY(adsResult(exchange(*socket, handleRequest(Frame(), "GVL.n")).reply) == 0);
    QCOMPARE(server->handleCount(), 1);
    // A reply due later on the serial line, in flight when the controller restarts.
    PtyEnd pty(sim->ptyPath());
    SimFault late;
    late.delayMs = 300;
    server->pushFault(late);
    Frame first;
    first.invokeId = 1;
    QVERIFY(pty.write(readRequest(first, kM, 0, 2)));
    QVERIFY(server->waitForRequests(2, kWaitMs));

    server->restart(program("symbol GVL.m 4020 10 2 INT\n4020 10 34 12\n"));
    QVERIFY(socket->waitForDisconnected(kWaitMs) || socket->state() == QAbstractSocket::UnconnectedState);
    QCOMPARE(server->handleCount(), 0);
    Frame second;
    second.invokeId = 2;
    QVERIFY(pty.write(readRequest(second, kM, 0, 2)));
    bool hungUp = false;
    const QByteArray reply = pty.readFrame(kWaitMs, &hungUp);
    QCOMPARE(le32(reply, AdsLayout::OffInvokeId), 2u);
    QCOMPARE(readData(reply), hex("0000")); // init()'s bytes went with the old memory

    QTcpSocket *again = connectSocket();
    QCOMPARE(readData(exchange(*again, readRequest(Frame(), kM, 0x10, 2)).reply), hex("3412"));
    QCOMPARE(adsResult(exchange(*again, lookupRequest(Frame(), "GVL.n")).reply), 0x710u);
    QCOMPARE(adsResult(exchange(*again, lookupRequest(Frame(), "GVL.m")).reply), 0u);
}

// Replies are built in one buffer kept from request to request, and sent
// straight to the socket when they can be: a reply larger than the kernel
// takes at once, a smaller one after it and one larger again must each
// come whole, with their own bytes, in order.
void TestSimulator::largeRepliesKeepTheirBytesAndOrder()
{
    const int large = 12 * 1024 * 1024;
    QByteArray pattern(large, Qt::Uninitialized);
    for (int i = 0; i < large; ++i)
        pattern[i] = char((i * 7) ^ (i >> 12));
    SimServer *server = sim->server();
    server->writeImage(kM, 0x100, pattern);
    QTcpSocket *socket = connectSocket();
    Frame f;
    QByteArray sent;
    // The M area as written: init()'s four bytes, then the pattern from 0x100.
    const QByteArray memory = hex("11 22 33 44") + QByteArray(0x100 - 4, '\0') + pattern;
    const QList<QPair<quint32, quint32>> reads = {
        {0x100, quint32(large)}, {0x104, 3}, {0x200, 900000}, {quint32(memory.size()) - 4, 16}, {0, 8}};
    for (const auto &r : reads) {
        sent += readRequest(f, kM, r.first, r.second);
        ++f.invokeId;
    }
    socket->write(sent); // all at once: the large reply is still going out when the next are built
    QByteArray got;
    QDeadlineTimer deadline(kWaitMs * 2);
    const qint64 expected = qint64(reads.size()) * 46 + large + 3 + 900000 + 16 + 8;
    while (got.size() < expected && !deadline.hasExpired()) {
        socket->waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        got += socket->readAll();
    }
    QCOMPARE(got.size(), expected);
    int at = 0;
    for (int i = 0; i < reads.size(); ++i) {
        const int size = 6 + int(le32(got, at + AdsLayout::OffTcpLength));
        const QByteArray reply = got.mid(at, size);
        QCOMPARE(le32(reply, AdsLayout::OffInvokeId), 7u + quint32(i));
        // Past what was written, zeros: never bytes of an earlier reply.
        QByteArray want = memory.mid(int(reads.at(i).first), int(reads.at(i).second));
        want.append(QByteArray(int(reads.at(i).second) - want.size(), '\0'));
        QVERIFY2(readData(reply) == want, qPrintable(QStringLiteral("reply %1").arg(i)));
        at += size;
    }
}

void TestSimulator::warmedUpServerAnswersAlike()
{
    QVERIFY(sim->warmUp(1024 * 1024));
    SimServer *server = sim->server();
    server->setRecording(false);
    QTcpSocket *socket = connectSocket();
    QCOMPARE(readData(exchange(*socket, readRequest(Frame(), kM, 0, 4)).reply), hex("11 22 33 44"));
    const QByteArray big = readData(exchange(*socket, readRequest(Frame(), kM, 0, 800000)).reply);
    QCOMPARE(big.size(), 800000);
    QCOMPARE(big.left(5), hex("11 22 33 44 00"));
    QCOMPARE(server->requestCount(), 2);
    QCOMPARE(server->requests(), QList<QByteArray>()); // counted, not kept
}

// One subscription on M 0..1 (11 22) and a write to it after the first
// sample: the samples that come, then nothing for ten cycles (on change),
// or more of them (cyclic); or the add's refusal, the one a read gets.
void TestSimulator::notificationSamples_data()
{
    QTest::addColumn<quint32>("group");
    QTest::addColumn<quint32>("length");
    QTest::addColumn<quint32>("mode");
    QTest::addColumn<quint32>("cycle");
    QTest::addColumn<int>("delayMs"); // the standing delay
    QTest::addColumn<QByteArray>("written"); // empty: nothing
    QTest::addColumn<QList<QByteArray>>("samples"); // empty: the add is refused

    const QByteArray v = hex("1122");
    using S = QList<QByteArray>;
    QTest::newRow("on change: the value at once") << kM << 2u << 4u << k10ms << 0 << QByteArray() << S{v};
    QTest::newRow("on change: a write") << kM << 2u << 4u << k10ms << 0 << hex("0102") << S{v, hex("0102")};
    QTest::newRow("on change: the same bytes written") << kM << 2u << 4u << k10ms << 0 << v << S{v};
    QTest::newRow("on change, delayed: the delay after it fell due")
        << kM << 2u << 4u << k10ms << 150 << hex("0304") << S{v, hex("0304")};
    QTest::newRow("cyclic") << kM << 2u << 3u << k10ms << 0 << QByteArray() << S{v, v, v, v, v};
    QTest::newRow("cyclic, cycle 0: at every check")
        << kM << 2u << 3u << 0u << 0 << QByteArray() << S{v, v, v};
    QTest::newRow("mode 1 refused") << kM << 2u << 1u << k10ms << 0 << QByteArray() << S();
    QTest::newRow("past the M area") << kM << 0x7fffffffu << 4u << k10ms << 0 << QByteArray() << S();
    QTest::newRow("symbol version, 2 bytes") << 0xF008u << 2u << 4u << k10ms << 0 << QByteArray() << S();
}

void TestSimulator::notificationSamples()
{
    QFETCH(quint32, group);
    QFETCH(quint32, length);
    QFETCH(quint32, mode);
    QFETCH(quint32, cycle);
    QFETCH(int, delayMs);
    QFETCH(QByteArray, written);
    QFETCH(QList<QByteArray>, samples);
    SimServer *server = sim->server();
    SimFault late;
    late.delayMs = delayMs;
    server->setStandingFault(late);
    Subscriber client(connectSocket());
    const QByteArray reply = client.ask(addRequest(Frame(), group, 0, length, mode, cycle));
    QCOMPARE(le32(reply, AdsLayout::OffAmsLength), 8u);
    if (samples.isEmpty()) {
        Frame f;
        f.invokeId = 8;
        const quint32 refused = mode == 1 ? 0x70Bu : adsResult(client.ask(readRequest(f, group, 0, length)));
        QVERIFY(refused != 0);
        QCOMPARE(adsResult(reply), refused);
        QCOMPARE(le32(reply, 42), 0u);
        QCOMPARE(server->notificationCount(), 0);
        QVERIFY(!client.waitFor(1, 100));
        return;
    }
    QCOMPARE(adsResult(reply), 0u);
    QVERIFY(client.waitFor(1));
    QElapsedTimer sinceWrite;
    sinceWrite.start();
    server->writeImage(kM, 0, written); // not over the line: a delayed reply would hold it anyway
    QVERIFY(client.waitFor(samples.size()));
    if (samples.size() > 1 && mode == 4)
        QVERIFY(sinceWrite.elapsed() >= delayMs);
    if (mode == 4)
        QVERIFY(!client.waitFor(samples.size() + 1, 100));
    QVERIFY2(client.faults.isEmpty(), qPrintable(client.faults.join('\n')));
    for (int i = 0; i < samples.size(); ++i) {
        QCOMPARE(client.samples().at(i).handle, le32(reply, 42));
        QCOMPARE(client.samples().at(i).bytes, samples.at(i));
    }
    QCOMPARE(server->notificationsAdded(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(server->notificationFramesSent() >= samples.size(),
                             kWaitMs); // counted once sent
}

// Two subscriptions due at one check go in one frame: on change, after one
// write over both places; cyclic, of one cycle.
void TestSimulator::samplesDueTogether_data()
{
    QTest::addColumn<quint32>("mode");
    QTest::newRow("on change, one write") << 4u;
    QTest::newRow("cyclic, of one cycle") << 3u;
}

void TestSimulator::samplesDueTogether()
{
    QFETCH(quint32, mode);
    Subscriber client(connectSocket());
    const quint32 first = le32(client.ask(addRequest(Frame(), kM, 0, 2, mode, 2 * k10ms)), 42);
    QVERIFY(client.waitFor(1));
    const quint32 second = le32(client.ask(addRequest(Frame(), kM, 2, 2, mode, 2 * k10ms)), 42);
    QVERIFY(client.waitFor(2));
    if (mode == 4)
        sim->server()->writeImage(kM, 0, hex("a1a2a3a4"));
    QDeadlineTimer deadline(kWaitMs);
    while (client.frames.last().size() != 2 && !deadline.hasExpired())
        client.waitFor(client.frames.size() + 1);
    const QList<Sample> both = client.frames.last();
    QCOMPARE(both.size(), 2);
    QCOMPARE(both.at(0).handle, first);
    QCOMPARE(both.at(1).handle, second);
    QCOMPARE(both.at(0).bytes + both.at(1).bytes, mode == 4 ? hex("a1a2a3a4") : hex("11223344"));
    QVERIFY(client.faults.isEmpty());
}

// How a subscription ends, or does not: the delete's result (4 bytes), the
// subscriptions live after, and whether a change still sends a sample.
void TestSimulator::endingSubscriptions_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<quint32>("result");
    QTest::addColumn<int>("live");
    QTest::newRow("deleted by its holder") << "holder" << 0u << 0;
    QTest::newRow("unknown handle") << "unknown" << 0x714u << 1;
    for (const char *other : {"other connection", "other source NetId", "other source port", "other runtime"})
        QTest::newRow(other) << other << 0x714u << 1;
    QTest::newRow("its connection closed") << "closed" << 0u << 0;
    QTest::newRow("a restart") << "restart" << 0u << 0;
    QTest::newRow("a second add past the limit of 1") << "limit" << 0x716u << 1;
}

void TestSimulator::endingSubscriptions()
{
    QFETCH(QString, how);
    QFETCH(quint32, result);
    QFETCH(int, live);
    SimServer *server = sim->server();
    server->setAmsPorts({851, 852});
    server->setMaxNotifications(1);
    Subscriber client(connectSocket());
    const quint32 handle = le32(client.ask(addRequest(Frame(), kM, 0, 2, 4, k10ms)), 42);
    QVERIFY(client.waitFor(1));
    Frame g;
    g.source = how == "other source NetId" ? netId("192.168.10.100.1.2") : g.source;
    g.sourcePort += how == "other source port" ? 1 : 0;
    g.targetPort = how == "other runtime" ? 852 : 851;
    Subscriber other(how == "other connection" ? connectSocket() : sockets.first());
    QByteArray reply;
    if (how == "closed")
        sockets.first()->abort();
    else if (how == "restart")
        server->restart({});
    else if (how == "limit")
        reply = other.ask(addRequest(g, kM, 2, 2, 4, k10ms));
    else
        reply = other.ask(request(g, 7, le(how == "unknown" ? handle + 1 : handle, 4)));
    if (!reply.isEmpty()) {
        QCOMPARE(le32(reply, AdsLayout::OffAmsLength), how == "limit" ? 8u : 4u);
        QCOMPARE(adsResult(reply), result);
    }
    QTRY_COMPARE_WITH_TIMEOUT(server->notificationCount(), live, kWaitMs);
    QCOMPARE(server->notificationsDeleted(), how == "holder" ? 1 : 0);
    QTRY_COMPARE_WITH_TIMEOUT(client.closed(), how == "closed" || how == "restart", kWaitMs);
    server->writeImage(kM, 0, hex("5566"));
    QCOMPARE(client.waitFor(2, 100), live == 1);
}

// Through a symbol handle and on the symbol version, across an online
// change: the samples for a write to the variable's old place, then to M 0x300.
void TestSimulator::notificationsFollowTheProgram_data()
{
    QTest::addColumn<quint32>("group");
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<QList<QByteArray>>("samples"); // all of them, the first at the add
    using S = QList<QByteArray>;
    QTest::newRow("by handle: the variable moved")
        << 0xF005u << QByteArray("symbol GVL.n 4020 300 2 INT\n") << S{hex("0102"), hex("7777")};
    QTest::newRow("by handle: the name gone")
        << 0xF005u << QByteArray("symbol GVL.m 4020 300 2 INT\n") << S{hex("0102")};
    QTest::newRow("the symbol version")
        << 0xF008u << QByteArray("symbol GVL.n 4020 100 2 INT\n") << S{hex("01"), hex("02")};
}

void TestSimulator::notificationsFollowTheProgram()
{
    QFETCH(quint32, group);
    QFETCH(QByteArray, program);
    QFETCH(QList<QByteArray>, samples);
    SimServer *server = sim->server();
    server->addSymbol({QStringLiteral("GVL.n"), kM, 0x100, 2, QStringLiteral("INT")});
    server->writeImage(kM, 0x100, hex("0102"));
    Subscriber client(connectSocket());
    const quint32 symbolHandle = le32(readData(client.ask(handleRequest(Frame(), "GVL.n"))), 0);
    const bool byHandle = group == 0xF005;
    QCOMPARE(adsResult(client.ask(
                 addRequest(Frame(), group, byHandle ? symbolHandle : 0, byHandle ? 2 : 1, 4, k10ms))),
             0u);
    QVERIFY(client.waitFor(1));
    server->onlineChange(::program(program));
    server->writeImage(kM, 0x100, hex("6666"));
    QCOMPARE(client.waitFor(2, 100), !byHandle);
    server->writeImage(kM, 0x300, hex("7777"));
    QVERIFY(client.waitFor(samples.size()));
    QVERIFY(!client.waitFor(samples.size() + 1, 100));
    QList<QByteArray> got;
    for (const Sample &s : client.samples())
        got.append(s.bytes);
    QCOMPARE(got, samples);
}

// Frozen, it answers nothing, sends nothing and accepts no connection;
// thawed, the request held is answered and the samples go on.
void TestSimulator::frozenControllerSendsNothing()
{
    SimServer *server = sim->server();
    Subscriber client(connectSocket());
    QCOMPARE(adsResult(client.ask(addRequest(Frame(), kM, 0, 2, 3, k10ms))), 0u);
    QVERIFY(client.waitFor(2));
    server->setFrozen(true);
    const int frames = server->notificationFramesSent();
    const int accepted = server->connectionsAccepted();
    QTcpSocket *late = connectSocket(); // the kernel's queue takes it
    Frame f;
    f.invokeId = 9;
    sockets.first()->write(readRequest(f, kM, 0, 2));
    QVERIFY(!client.waitFor(client.frames.size() + 10, 200)); // twenty cycles
    QCOMPARE(server->notificationFramesSent(), frames);
    QCOMPARE(server->connectionsAccepted(), accepted);
    QCOMPARE(server->repliesSent(), 1);

    server->setFrozen(false);
    QCOMPARE(readData(client.reply(9)), hex("1122"));
    QVERIFY(client.waitFor(client.frames.size() + 2));
    QTRY_COMPARE_WITH_TIMEOUT(server->connectionsAccepted(), accepted + 1, kWaitMs);
    QCOMPARE(late->state(), QAbstractSocket::ConnectedState);
}

QTEST_GUILESS_MAIN(TestSimulator)
#include "tst_simulator.moc"
