#include "bench/NotifyRun.h"

#include "bench/Measure.h"
#include "bench/SimProcess.h"
#include "host/PluginHandle.h"

#include <QEventLoop>
#include <QTemporaryFile>
#include <QTimer>

#include <ctime>
#include <memory>

namespace {
const int kNames = 100;
const int kAddresses = 100;
const int kNamesAt = 0x5000; // GVL.nTag0 ... each an INT
const int kAddressesAt = 0x6000; // MW6000 ... each read as an INT
const char *const kClock = "MAIN.nClock";
const int kClockAt = 0x7000;
const int kNotifyMs = 50;
// Cycles from the 4th on count: the first asks and subscribes, the next
// may meet samples still on their way.
const int kSettleCycles = 3;
const int kStalenessEveryMs = 20;

struct DriverDeleter {
    void operator()(CDriveBaseClass *d) const { PluginHandle::dispose(d); }
};

void waitInEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

quint32 monotonicMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return quint32(quint64(t.tv_sec) * 1000 + quint64(t.tv_nsec) / 1000000);
}
} // namespace

NotifyRun::NotifyRun(const BenchOptions &options, const PluginHandle &plugin, const QString &simPath)
    : m_options(options), m_plugin(plugin), m_simPath(simPath)
{
}

QStringList NotifyRun::keys()
{
    return {QStringLiteral("cycle_200_notify_50"), QStringLiteral("cycle_200_polling"),
            QStringLiteral("staleness_notify_50")};
}

QByteArray NotifyRun::imageText()
{
    QByteArray text;
    for (int i = 0; i < kNames; ++i)
        text += QStringLiteral("symbol GVL.nTag%1 4020 %2 2 INT\n")
                    .arg(i)
                    .arg(kNamesAt + 2 * i, 0, 16)
                    .toLatin1();
    text += QStringLiteral("symbol %1 4020 %2 4 DINT\n")
                .arg(QLatin1String(kClock))
                .arg(kClockAt, 0, 16)
                .toLatin1();
    return text;
}

bool NotifyRun::fail(const QString &message)
{
    m_error = message;
    return false;
}

bool NotifyRun::run(Report *report)
{
    bool wanted = false;
    for (const QString &key : keys())
        wanted = wanted || m_options.wants(key);
    if (!wanted)
        return true;
    QTemporaryFile image;
    if (!image.open() || image.write(imageText()) < 0 || !image.flush())
        return fail(QStringLiteral("cannot write the image of the notification rows"));
    SimProcess sim; // a controller on a real network: every answer 1 ms late
    if (!sim.start(m_simPath, {QStringLiteral("--image"), image.fileName(), QStringLiteral("--delay-ms"),
                               QStringLiteral("1"), QStringLiteral("--clock"), QString::fromLatin1(kClock)}))
        return fail(sim.errorString());
    m_port = sim.tcpPort();
    for (int notifyMs : {kNotifyMs, 0}) {
        Row row;
        if (!measureCycle(notifyMs, &row))
            return false;
        if (row.inRun.valid())
            report->rows.append(row);
        if (Measure::interrupted)
            return true;
    }
    Row staleness;
    if (!measureStaleness(&staleness))
        return false;
    if (staleness.inRun.valid())
        report->rows.append(staleness);
    return true;
}

CDriveBaseClass *NotifyRun::connectedDriver(const QString &parameters, quint16 port)
{
    CDriveBaseClass *d = m_plugin.create();
    if (!d)
        return nullptr;
    if (d->SetConnectPar(parameters) != 851
        || d->ConnectDrive(QStringLiteral("127.0.0.1:%1").arg(port)) != 0) {
        PluginHandle::dispose(d);
        return nullptr;
    }
    return d;
}

// One call is one cycle of the host: every variable read once, in turn.
bool NotifyRun::measureCycle(int notifyMs, Row *row)
{
    row->key = notifyMs > 0 ? QStringLiteral("cycle_200_notify_50") : QStringLiteral("cycle_200_polling");
    if (!m_options.wants(row->key))
        return true;
    row->label =
        notifyMs > 0 ? QStringLiteral("200 vars, notify-ms=50") : QStringLiteral("200 vars, polling");
    row->path = QStringLiteral("tcp");
    if (notifyMs > 0) {
        row->bounds.driverMedianUs = 10000;
        row->bounds.driverP99Us = 20000;
        row->bounds.driverCpuUs = 5000;
    }
    std::unique_ptr<CDriveBaseClass, DriverDeleter> driver(
        connectedDriver(QStringLiteral("851;notify-ms=%1").arg(notifyMs), m_port));
    if (!driver)
        return fail(QStringLiteral("%1: the driver did not connect").arg(row->label));
    QStringList addresses;
    for (int i = 0; i < kNames; ++i)
        addresses << QStringLiteral("GVL.nTag%1").arg(i);
    for (int i = 0; i < kAddresses; ++i)
        addresses << QStringLiteral("MW%1").arg(kAddressesAt + 2 * i, 0, 16);
    int failures = 0;
    const auto cycle = [&]() {
        for (const QString &a : qAsConst(addresses))
            failures += driver->ReadVariable(a, DT_Int16).resultCode != 0;
        return failures == 0;
    };
    const int calls = m_options.quick ? 3 : notifyMs > 0 ? 300 : 20;
    for (int i = 0; i < kSettleCycles && !Measure::interrupted; ++i)
        cycle();
    if (failures > 0)
        return fail(QStringLiteral("%1: %2 reads failed").arg(row->label).arg(failures));
    Measure::Recorder recorder(calls);
    recorder.block(calls, Measure::Clock::now() + Measure::kMaxDuration, cycle);
    row->inRun.driver = recorder.figures();
    return true;
}

// Samples are the staleness of each read, in microseconds: the simulator's
// clock now minus the clock the value read carries.
bool NotifyRun::measureStaleness(Row *row)
{
    row->key = QStringLiteral("staleness_notify_50");
    if (!m_options.wants(row->key))
        return true;
    row->label = QStringLiteral("staleness, notify-ms=50");
    row->path = QStringLiteral("tcp");
    row->bounds.driverMaxUs = (kNotifyMs + 100) * 1000.0;
    std::unique_ptr<CDriveBaseClass, DriverDeleter> driver(
        connectedDriver(QStringLiteral("851;notify-ms=%1").arg(kNotifyMs), m_port));
    if (!driver)
        return fail(QStringLiteral("%1: the driver did not connect").arg(row->label));
    const int reads = m_options.quick ? 10 : 500;
    std::vector<double> staleness;
    for (int i = 0; i < reads + kSettleCycles && !Measure::interrupted; ++i) {
        const CLabelVariable r = driver->ReadVariable(QString::fromLatin1(kClock), DT_Int32);
        const quint32 now = monotonicMs();
        if (r.resultCode != 0)
            return fail(QStringLiteral("%1: the driver answered %2").arg(row->label).arg(r.resultCode));
        if (i >= kSettleCycles)
            staleness.push_back(double(qint32(now - quint32(r.value.value<QList<int>>().value(0)))) * 1000.0);
        waitInEventLoop(kStalenessEveryMs); // a host's event loop, between its reads
    }
    row->inRun.driver = Samples::summarize(staleness, 0, 0, 0, 0);
    row->inRun.driver.allocsPerCall = NAN;
    row->inRun.driver.cpuUsPerCall = NAN;
    return true;
}
