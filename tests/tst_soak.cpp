// A long run of random reads and writes, with a few injected faults, through
// the host's view against the simulated controller with two runtimes. Every
// value is checked against the controller's memory, every failure must be
// reported as the one injected (and none after the controller recovered),
// and the process must not grow once warmed up. Between requests the host
// switches runtimes, and tries connects that fail or are refused; the
// controller changes its program online, or restarts with another one, and
// a variable read by name must be that variable wherever it moved.
//
// ADS_SOAK_OPS sets the number of operations (default 10000), ADS_SOAK_SEED
// the random seed.
#include "host/PluginHandle.h"
#include "sim/SimController.h"
#include "sim/SimImageFile.h"
#include "sim/SimServer.h"
#include "tests/TestSupport.h"

#include <QRandomGenerator>
#include <QtTest>

#include <memory>
#include <unistd.h>

using namespace TestSupport;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers keep freed memory in quarantine, or shadow every byte:
// resident memory says nothing.
const bool kMemoryMeasurable = false;
#else
const bool kMemoryMeasurable = true;
#endif

struct Disposer {
    void operator()(CDriveBaseClass *d) const { PluginHandle::dispose(d); }
};
using Driver = std::unique_ptr<CDriveBaseClass, Disposer>;

// The wait for a reply the soak's host chooses; faults that wait it out cost that.
const int kSoakWaitMs = 400;
const QString kSoakParameters = QStringLiteral(";reply-ms=400;reconnect-ms=50;down-after=3");
// Replies missed in a row after which the driver calls the link down and
// brings it back in the background.
const int kDownAfter = 3;

const int kAreaBytes = 0x1000; // addresses stay inside, so the images stop growing after warm-up

struct Area {
    quint32 group;
    char letter;
};
const Area kAreas[] = {{0x4020, 'M'}, {0xF020, 'I'}, {0xF030, 'Q'}};

int widthOf(int type)
{
    static const int widths[] = {0, 1, 1, 1, 2, 2, 4, 4, 4, 8, 8, 8};
    return widths[type];
}

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

// The list a read of `bytes` must give: the platform is little-endian like
// the wire, so the test's own oracle is a plain copy.
template <typename T>
QVariant expectedList(const QByteArray &bytes)
{
    QList<T> list;
    for (int at = 0; at + int(sizeof(T)) <= bytes.size(); at += int(sizeof(T))) {
        if constexpr (std::is_same_v<T, bool>) {
            list.append(bytes.at(at) != 0);
        } else {
            T v;
            memcpy(&v, bytes.constData() + at, sizeof v);
            list.append(v);
        }
    }
    return QVariant::fromValue(list);
}

QVariant expectedFor(int type, const QByteArray &bytes)
{
    switch (type) {
    case DT_Bool: return expectedList<bool>(bytes);
    case DT_Int8: return expectedList<char>(bytes);
    case DT_UInt8: return expectedList<unsigned char>(bytes);
    case DT_Int16: return expectedList<short>(bytes);
    case DT_UInt16: return expectedList<unsigned short>(bytes);
    case DT_Int32: return expectedList<int>(bytes);
    case DT_UInt32: return expectedList<unsigned int>(bytes);
    case DT_Float: return expectedList<float>(bytes);
    case DT_Int64: return expectedList<long long>(bytes);
    case DT_UInt64: return expectedList<unsigned long long>(bytes);
    default: return expectedList<double>(bytes);
    }
}

// Random bytes for a write; bools are canonical 0 or 1.
QByteArray randomBytes(QRandomGenerator &rng, int type, int count)
{
    QByteArray bytes(widthOf(type) * count, '\0');
    for (char &b : bytes)
        b = char(type == DT_Bool ? rng.bounded(2) : rng.bounded(256));
    return bytes;
}

// Compares lists bit for bit, so NaNs with the same pattern are equal.
template <typename T>
bool sameBits(const QVariant &a, const QVariant &b)
{
    const QList<T> x = a.value<QList<T>>();
    const QList<T> y = b.value<QList<T>>();
    if (a.userType() != b.userType() || x.size() != y.size())
        return false;
    for (int i = 0; i < x.size(); ++i) {
        if (memcmp(&x.at(i), &y.at(i), sizeof(T)) != 0)
            return false;
    }
    return true;
}

bool sameValues(int type, const QVariant &a, const QVariant &b)
{
    switch (type) {
    case DT_Bool: return sameBits<bool>(a, b);
    case DT_Int8: return sameBits<char>(a, b);
    case DT_UInt8: return sameBits<unsigned char>(a, b);
    case DT_Int16: return sameBits<short>(a, b);
    case DT_UInt16: return sameBits<unsigned short>(a, b);
    case DT_Int32: return sameBits<int>(a, b);
    case DT_UInt32: return sameBits<unsigned int>(a, b);
    case DT_Float: return sameBits<float>(a, b);
    case DT_Int64: return sameBits<long long>(a, b);
    case DT_UInt64: return sameBits<unsigned long long>(a, b);
    default: return sameBits<double>(a, b);
    }
}

struct Injected {
    SimFault fault;
    int code;
    bool errorCode = false; // the controller reports an error: a name's place is looked up again
    const char *kind = "none";
};

// Faults that wait out the exchange: no reply, a slow one, and one cut by
// the deadline whose rest comes during later exchanges.
void slowReply(QRandomGenerator &rng, Injected *out)
{
    out->fault = SimFault();
    out->fault.delayMs = kSoakWaitMs + 150 + rng.bounded(100);
    out->code = 8;
    out->kind = "slow";
}

void cutByTheDeadline(QRandomGenerator &rng, Injected *out)
{
    out->fault = SimFault();
    out->fault.splitAt = {20 + rng.bounded(20)}; // inside any reply
    out->fault.pauseMs = kSoakWaitMs + 150 + rng.bounded(100);
    out->code = 7;
    out->kind = "cut by the deadline";
}

void pickSlowFault(QRandomGenerator &rng, Injected *out)
{
    switch (rng.bounded(3)) {
    case 0:
        out->fault = SimFault();
        out->fault.noAnswer = true;
        out->code = 8;
        out->kind = "no answer";
        break;
    case 1: slowReply(rng, out); break;
    default: cutByTheDeadline(rng, out); break;
    }
}

void noiseAhead(QRandomGenerator &rng, Injected *out)
{
    out->fault = SimFault();
    out->fault.before = QByteArray(1 + rng.bounded(3), char(rng.bounded(256)));
    out->code = 0;
    out->kind = "noise ahead";
}

// A fault now and then: most end at once, a rare one waits out the exchange.
bool pickFault(QRandomGenerator &rng, Injected *out)
{
    if (rng.bounded(5000) == 0) {
        pickSlowFault(rng, out);
        return true;
    }
    if (rng.bounded(100) != 0)
        return false;
    out->fault = SimFault();
    out->errorCode = false;
    switch (rng.bounded(9)) {
    case 0:
        out->fault.adsResult = 0x700 + rng.bounded(0x30);
        out->code = 7;
        out->kind = "ADS result";
        out->errorCode = true;
        break;
    case 1:
        out->fault.amsError = 1 + rng.bounded(0x800);
        out->code = 7;
        out->kind = "AMS error";
        out->errorCode = true;
        break;
    case 2:
        out->fault.truncateBy = 1 + rng.bounded(3);
        out->code = 7;
        out->kind = "truncated";
        break;
    case 3:
        out->fault.padBy = 1 + rng.bounded(8);
        out->code = 7;
        out->kind = "padded";
        break;
    case 4:
        out->fault.splitAt = {1 + rng.bounded(40)};
        out->fault.pauseMs = rng.bounded(5);
        out->code = 0;
        out->kind = "split";
        break;
    case 5:
        out->fault.announce = 0x10000000 + rng.bounded(1000);
        out->code = 7;
        out->kind = "announces 256 MB";
        break;
    case 6: {
        // An own reply announcing more than it carries.
        const quint32 more = 1 + rng.bounded(2000);
        out->fault.reshape = [more](const QByteArray &, const QByteArray &reply) {
            QByteArray r = reply;
            const quint32 announced = quint32(reply.size() - 6) + more;
            for (int i = 0; i < 4; ++i)
                r[2 + i] = char((announced >> (8 * i)) & 0xff);
            return r;
        };
        out->code = 7;
        out->kind = "announces more than it carries";
        break;
    }
    case 7: noiseAhead(rng, out); break;
    default:
        // A line that sends every request back.
        out->fault.reshape = [](const QByteArray &request, const QByteArray &reply) {
            return request + reply;
        };
        out->code = 0;
        out->kind = "echo";
        break;
    }
    return true;
}

const int kPorts[] = {851, 852};
// The same name at another place in each runtime and each program; in the
// second program another variable took the first one's place.
const quint32 kNamePlace[2][2] = {{0x800, 0xC00}, {0xA00, 0xE00}};
const int kNameBytes = 0x200;

QList<SimImageFile::Entry> soakProgram(int version)
{
    QList<SimImageFile::Entry> program;
    for (int p = 0; p < 2; ++p) {
        SimImageFile::Entry e;
        e.isSymbol = true;
        e.amsPort = kPorts[p];
        e.symbol = SimSymbols::Symbol(QStringLiteral("MAIN.aBuf"), kAreas[0].group, kNamePlace[version][p],
                                      kNameBytes, QStringLiteral("ARRAY [0..511] OF BYTE"));
        program.append(e);
        if (version == 1) {
            e.symbol = SimSymbols::Symbol(QStringLiteral("MAIN.aOther"), kAreas[0].group, kNamePlace[0][p],
                                          kNameBytes, QStringLiteral("ARRAY [0..511] OF BYTE"));
            program.append(e);
        }
    }
    return program;
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT
private slots:
    void randomReadsAndWrites();
};

void TestSoak::randomReadsAndWrites()
{
    const int ops =
        qEnvironmentVariableIsSet("ADS_SOAK_OPS") ? qEnvironmentVariableIntValue("ADS_SOAK_OPS") : 10000;
    const quint32 seed = qEnvironmentVariableIsSet("ADS_SOAK_SEED")
                             ? quint32(qEnvironmentVariableIntValue("ADS_SOAK_SEED"))
                             : QRandomGenerator::global()->generate();
    qInfo("soak: %d operations, seed %u", ops, seed);
    QRandomGenerator rng(seed);

    PluginHandle plugin;
    QVERIFY2(plugin.load(pluginPath()), qPrintable(plugin.errorString()));
    SimController sim;
    QVERIFY(sim.startTcp());
    QVERIFY(sim.startPty());
    sim.server()->setAmsPorts({kPorts[0], kPorts[1]});
    int program = 0;
    sim.server()->restart(soakProgram(program));
    for (int p = 0; p < 2; ++p) {
        for (const Area &a : kAreas)
            sim.server()->writeImage(kPorts[p], a.group, 0, randomBytes(rng, DT_UInt8, kAreaBytes));
    }
    const Driver tcp(plugin.create());
    const Driver serial(plugin.create());
    QCOMPARE(tcp->SetConnectPar(QString::number(kPorts[0]) + kSoakParameters), kPorts[0]);
    QCOMPARE(serial->SetConnectPar(QString::number(kPorts[0]) + kSoakParameters), kPorts[0]);
    QCOMPARE(tcp->ConnectDrive(sim.connectionText()), 0);
    QCOMPARE(serial->ConnectDrive(sim.serialConnectionText()), 0);
    const QStringList refusedTexts = {QStringLiteral("/dev/no-such-tty,9600,8,1,N"),
                                      QStringLiteral("127.0.0.1:0"),
                                      QStringLiteral("127.0.0.1:1"),
                                      sim.ptyPath() + QStringLiteral(",1234,8,1,N"),
                                      sim.ptyPath() + QStringLiteral(",9600,8,1,Mark"),
                                      QStringLiteral("no separator")};

    const int warmUp = qMin(ops / 10, 2000);
    // What every run meets at least once, whatever the seed, at places it
    // picks: slow replies in a row on one line (each is no reply, whatever
    // came late meanwhile), a reply cut by the deadline, and noise ahead of a
    // reply on the serial line once names were looked up there.
    const auto somewhere = [&]() { return warmUp + int(rng.bounded(quint32(qMax(1, ops - warmUp)))); };
    const int spellAt = somewhere();
    const int spellLength = 2 + rng.bounded(2);
    const int spellLine = rng.bounded(2);
    const int cutAt = somewhere();
    const int cutLine = rng.bounded(2);
    const int noiseAt = somewhere();
    const int onlineChangeAt = somewhere();
    const int restartAt = somewhere();
    int programChanges = 0;
    // After a restart the TCP line comes back in the background, and the
    // serial line meets a controller that forgot every handle: each runtime
    // is read by name once, so that no fault of the run meets the lookup a
    // forgotten handle costs.
    int portOf[2] = {0, 0}; // per driver: the runtime it talks to
    int unanswered[2] = {0, 0}; // per driver: replies missed in a row
    const auto recovered = [&]() {
        for (int which = 0; which < 2; ++which) {
            CDriveBaseClass *d = which ? serial.get() : tcp.get();
            for (int p = 0; p < 2; ++p) {
                QElapsedTimer waited;
                waited.start();
                d->SetConnectPar(QString::number(kPorts[p]));
                while (d->ReadVariable(QStringLiteral("MAIN.aBuf"), DT_UInt8).resultCode != 0) {
                    if (waited.elapsed() > 10000)
                        return false;
                    QTest::qWait(10);
                }
            }
            d->SetConnectPar(QString::number(kPorts[portOf[which]]));
        }
        return true;
    };
    qint64 rssAfterWarmUp = 0;
    int failures = 0;
    int faults = 0;
    int failingFaults = 0;
    for (int i = 0; i < ops; ++i) {
        if (i == warmUp)
            rssAfterWarmUp = residentBytes();
        if (i % 1000 == 0)
            sim.server()->clearRequests(); // the controller's own record is not the driver's memory
        if (i == onlineChangeAt || i == restartAt || rng.bounded(400) == 0) {
            program = 1 - program;
            ++programChanges;
            if (i == restartAt || (i != onlineChangeAt && rng.bounded(3) == 0)) {
                sim.server()->restart(soakProgram(program));
                QVERIFY2(recovered(), "the driver did not come back after a restart");
            } else {
                sim.server()->onlineChange(soakProgram(program));
            }
        }
        const bool inSpell = i >= spellAt && i < spellAt + spellLength;
        const int planned = inSpell ? spellLine : i == cutAt ? cutLine : i == noiseAt ? 1 : -1;
        const int chosen = rng.bounded(10) == 0 ? 1 : 0;
        const int which = planned >= 0 ? planned : chosen;
        CDriveBaseClass *driver = which ? serial.get() : tcp.get();
        if (rng.bounded(50) == 0) {
            portOf[which] = rng.bounded(2);
            QCOMPARE(driver->SetConnectPar(QString::number(kPorts[portOf[which]])), kPorts[portOf[which]]);
        }
        if (rng.bounded(500) == 0) {
            // A connect that fails leaves the working line alone; a good one replaces it.
            const QString text = refusedTexts.at(rng.bounded(refusedTexts.size()));
            QVERIFY2(driver->ConnectDrive(text) < 0, qPrintable(text));
            if (rng.bounded(4) == 0)
                QCOMPARE(driver->ConnectDrive(which ? sim.serialConnectionText() : sim.connectionText()), 0);
        }
        const int port = kPorts[portOf[which]];
        const Area &area = kAreas[rng.bounded(3)];
        const bool named = rng.bounded(8) == 0;
        // A name is read as its declared type allows: an array of BYTE.
        const int type = named ? (rng.bounded(2) ? DT_UInt8 : DT_Int8) : 1 + rng.bounded(11);
        const bool bits = !named && type == DT_Bool && rng.bounded(3) == 0;
        const int count = 1 + rng.bounded(bits ? 16 : 64);
        const int width = widthOf(type);
        const int offset = rng.bounded(kAreaBytes - width * count - 2);
        const int bit = rng.bounded(8);
        const QString address = named  ? QStringLiteral("MAIN.aBuf")
                                : bits ? QStringLiteral("%1X%2.%3").arg(area.letter).arg(offset).arg(bit)
                                       : QStringLiteral("%1B%2").arg(area.letter).arg(offset, 0, 16);
        const quint32 group = named ? kAreas[0].group : bits ? area.group + 1 : area.group;
        const quint32 place = named  ? kNamePlace[program][portOf[which]]
                              : bits ? quint32(offset * 8 + bit)
                                     : quint32(offset);

        Injected injected{SimFault(), 0};
        bool faulty = true;
        if (inSpell)
            slowReply(rng, &injected);
        else if (i == cutAt)
            cutByTheDeadline(rng, &injected);
        else if (i == noiseAt)
            noiseAhead(rng, &injected);
        else
            faulty = pickFault(rng, &injected);
        // A controller that answers a handle request "not supported" once is
        // taken for one without handles; this one has them.
        if (named && (injected.fault.adsResult == 0x701 || injected.fault.adsResult == 0x702))
            injected.fault.adsResult = 0x703;
        if (faulty) {
            sim.server()->pushFault(injected.fault);
            ++faults;
            failingFaults += injected.code != 0;
        }
        const int expectedCode = faulty ? injected.code : 0;
        // A controller error at a name's place makes the driver look it up
        // once more and repeat the request there.
        const bool mayRecover = named && injected.errorCode;
        auto codeOk = [&](int code) { return code == expectedCode || (mayRecover && code == 0); };
        const QString where = QStringLiteral("op %1 %2 port %3 type %4 count %5 fault %6")
                                  .arg(i)
                                  .arg(address)
                                  .arg(port)
                                  .arg(type)
                                  .arg(count)
                                  .arg(QLatin1String(injected.kind));

        int result = -1;
        if (rng.bounded(2) == 0) {
            const QByteArray wanted = sim.server()->readImage(port, group, place, width * count);
            const CLabelVariable r = driver->ReadVariable(address, DataType(type), count);
            QVERIFY2(codeOk(r.resultCode), qPrintable(where + QStringLiteral(": code %1").arg(r.resultCode)));
            result = r.resultCode;
            if (r.resultCode == 0 && faulty && injected.code != 0)
                --failingFaults;
            if (r.resultCode == 0) {
                QVERIFY2(sameValues(type, r.value, expectedFor(type, wanted)), qPrintable(where));
                QVERIFY(r.timeStamp.isValid());
            } else {
                ++failures;
                QVERIFY2(!r.value.isValid() && r.timeStamp.isNull(), qPrintable(where));
            }
        } else {
            const QByteArray bytes = randomBytes(rng, type, count);
            CLabelVariable value;
            value.value = expectedFor(type, bytes);
            const CLabelVariable w = driver->WriteVariable(address, DataType(type), value, count);
            QVERIFY2(codeOk(w.resultCode), qPrintable(where + QStringLiteral(": code %1").arg(w.resultCode)));
            result = w.resultCode;
            if (w.resultCode == 0 && faulty && injected.code != 0)
                --failingFaults;
            if (w.resultCode == 0)
                QVERIFY2(sim.server()->readImage(port, group, place, width * count) == bytes,
                         qPrintable(where));
            else
                ++failures;
        }
        // Replies missed in a row take the link down: every call answers 9
        // until it is back, which the run waits for.
        unanswered[which] = result == kNoReply    ? unanswered[which] + 1
                            : result == kLinkDown ? unanswered[which]
                                                  : 0;
        if (unanswered[which] >= kDownAfter) {
            QVERIFY2(recovered(), "the driver did not come back after the link went down");
            unanswered[which] = 0;
        }
    }
    const qint64 growth = residentBytes() - rssAfterWarmUp;
    qInfo("soak: %d faults injected, %d failures reported, %d program changes, resident memory grew by %lld "
          "bytes after warm-up",
          faults, failures, programChanges, growth);
    QCOMPARE(failures, failingFaults); // and each one where a fault was injected
    if (kMemoryMeasurable)
        QVERIFY2(growth < 1024 * 1024, qPrintable(QString::number(growth)));
}

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
