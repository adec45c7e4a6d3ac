#include "bench/BenchReport.h"

#include <QFile>
#include <QJsonArray>
#include <QSysInfo>
#include <QThread>

#include <cmath>

#include <unistd.h>

namespace {
QString num(double v, int decimals = 1)
{
    return QString::number(v, 'f', decimals);
}

// JSON has no NaN or infinity: such a figure is left out as null.
QJsonValue jsonNumber(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null);
}

QJsonObject figuresJson(const Figures &f)
{
    return {{QStringLiteral("calls"), f.calls},
            {QStringLiteral("failures"), f.failures},
            {QStringLiteral("median_us"), jsonNumber(f.medianUs)},
            {QStringLiteral("p99_us"), jsonNumber(f.p99Us)},
            {QStringLiteral("max_us"), jsonNumber(f.maxUs)},
            {QStringLiteral("calls_per_s"), jsonNumber(f.callsPerSecond)},
            {QStringLiteral("cpu_us_per_call"), jsonNumber(f.cpuUsPerCall)},
            {QStringLiteral("allocs_per_call"), jsonNumber(f.allocsPerCall)}};
}

QString figuresLine(const QString &first, const QString &who, const Figures &f, const QString &tail)
{
    QString line = QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8")
                       .arg(first, -38)
                       .arg(who, -7)
                       .arg(num(f.medianUs), 10)
                       .arg(num(f.p99Us), 10)
                       .arg(num(f.callsPerSecond, 0), 9)
                       .arg(num(f.cpuUsPerCall), 10)
                       .arg(std::isfinite(f.allocsPerCall) ? num(f.allocsPerCall, 1) : QStringLiteral("-"), 9)
                       .arg(tail);
    while (line.endsWith(QLatin1Char(' '))) // no trailing blank where there is no tail
        line.chop(1);
    return line + QLatin1Char('\n');
}

QString firstLine(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readLine()).trimmed();
}
} // namespace

double Row::ratio() const
{
    return driver.valid() && limit.valid() && limit.medianUs > 0 ? driver.medianUs / limit.medianUs : NAN;
}

Machine Machine::current()
{
    Machine m;
    QFile cpuinfo(QStringLiteral("/proc/cpuinfo"));
    if (cpuinfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : cpuinfo.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                m.cpu = QString::fromUtf8(line.mid(line.indexOf(':') + 1)).trimmed();
                break;
            }
        }
    }
    m.kernel = QSysInfo::kernelVersion();
    m.cores = int(::sysconf(_SC_NPROCESSORS_CONF));
    m.nproc = QThread::idealThreadCount();
    if (m.kernel.isEmpty())
        m.kernel = firstLine(QStringLiteral("/proc/sys/kernel/osrelease"));
    return m;
}

void Report::evaluate()
{
    goals.clear();
    double worstStep = 0;
    QString worstStepRow;
    bool anyTcp = false;
    for (const Row &r : rows) {
        if (!r.driver.valid())
            continue;
        switch (r.goal) {
        case Row::RatioGoal:
            if (r.limit.valid())
                goals.append(
                    {QStringLiteral("%1: driver median <= %2 x limit median").arg(r.label).arg(r.bound),
                     r.ratio() <= r.bound,
                     QStringLiteral("%1 x (%2 us against %3 us)")
                         .arg(num(r.ratio(), 2), num(r.driver.medianUs), num(r.limit.medianUs))});
            break;
        case Row::PiecesGoal:
            if (r.limit.valid())
                goals.append(
                    {QStringLiteral("%1: driver median <= limit median + %2 us").arg(r.label).arg(r.bound),
                     r.driver.medianUs <= r.limit.medianUs + r.bound,
                     QStringLiteral("%1 us against %2 us: %3 us more")
                         .arg(num(r.driver.medianUs), num(r.limit.medianUs),
                              num(r.driver.medianUs - r.limit.medianUs))});
            break;
        case Row::GapGoal: {
            const double allowed = r.frameGapMs * 1000 + r.bound;
            goals.append(
                {QStringLiteral("%1: driver median <= frame gap %2 ms + %3 ms")
                     .arg(r.label, num(r.frameGapMs, 0), num(r.bound / 1000, 0)),
                 r.driver.medianUs <= allowed,
                 QStringLiteral("%1 us against %2 us allowed").arg(num(r.driver.medianUs), num(allowed))});
            break;
        }
        case Row::NoGoal: break;
        }
        if (r.allocationGoal && std::isfinite(r.driver.allocsPerCall))
            goals.append({QStringLiteral("%1: allocations per call <= %2").arg(r.label).arg(r.allocBound),
                          r.driver.allocsPerCall <= r.allocBound,
                          QStringLiteral("%1 per call").arg(num(r.driver.allocsPerCall, 1))});
        if (r.path == QLatin1String("tcp") && r.limit.valid()) {
            anyTcp = true;
            const double step = r.driver.p99Us - r.limit.p99Us;
            if (worstStepRow.isEmpty() || step > worstStep) {
                worstStep = step;
                worstStepRow = r.label;
            }
        }
    }
    if (anyTcp)
        goals.append({QStringLiteral("TCP: no row's driver p99 %1 ms or more above the limit's p99")
                          .arg(kStepUs / 1000),
                      worstStep < kStepUs,
                      QStringLiteral("worst %1 us more (%2)").arg(num(worstStep), worstStepRow)});
}

bool Report::allGoalsHold() const
{
    for (const GoalResult &g : goals)
        if (!g.holds)
            return false;
    return true;
}

int Report::failures() const
{
    int n = scale.reads.failures + (scale.connected < scale.drivers ? scale.drivers - scale.connected : 0);
    for (const Row &r : rows)
        n += r.driver.failures + r.limit.failures;
    return n;
}

QString Report::table() const
{
    QString t;
    t += QStringLiteral("ads-bench: %1, %2 cores (nproc %3), Linux %4\n")
             .arg(machine.cpu.isEmpty() ? QStringLiteral("unknown CPU") : machine.cpu)
             .arg(machine.cores)
             .arg(machine.nproc)
             .arg(machine.kernel);
    t += QStringLiteral("plug-in %1%2\n\n")
             .arg(plugin, quick ? QStringLiteral(" (quick run: figures not meaningful)") : QString());
    t += QStringLiteral("%1 %2 %3 %4 %5 %6 %7 %8\n")
             .arg(QStringLiteral("measurement"), -38)
             .arg(QStringLiteral("who"), -7)
             .arg(QStringLiteral("median us"), 10)
             .arg(QStringLiteral("p99 us"), 10)
             .arg(QStringLiteral("calls/s"), 9)
             .arg(QStringLiteral("CPU us"), 10)
             .arg(QStringLiteral("allocs"), 9)
             .arg(QStringLiteral("driver/limit"));
    for (const Row &r : rows) {
        QString label = r.label;
        if (r.path == QLatin1String("serial"))
            label += QStringLiteral(" (gap %1 ms)").arg(num(r.frameGapMs, 0));
        if (r.limit.valid()) {
            t += figuresLine(label, QStringLiteral("limit"), r.limit, QString());
            label.clear(); // the measurement's name once, on its first line
        }
        // A serial read is held against the frame gap, not the bare client.
        QString tail;
        if (r.path == QLatin1String("serial"))
            tail = QStringLiteral("gap + %1 us").arg(num(r.driver.medianUs - r.frameGapMs * 1000));
        else if (std::isfinite(r.ratio()))
            tail = num(r.ratio(), 2) + QLatin1Char('x');
        if (r.driver.failures + r.limit.failures > 0)
            tail += QStringLiteral("  %1 FAILED").arg(r.driver.failures + r.limit.failures);
        t += figuresLine(label, QStringLiteral("driver"), r.driver, tail);
    }
    if (scale.drivers > 0) {
        t += QStringLiteral("\nscale: %1 drivers (%2 connected); per driver %3 KiB resident, %4 KiB of heap, "
                            "%5 KiB resident after a read each\n")
                 .arg(scale.drivers)
                 .arg(scale.connected)
                 .arg(num(scale.rssBytesPerDriver / 1024.0, 1))
                 .arg(num(scale.heapBytesPerDriver / 1024.0, 1))
                 .arg(num(scale.rssBytesPerDriverAfterReads / 1024.0, 1));
        t += QStringLiteral("       read in turn: %1 reads/s in all (median %2 us, p99 %3 us, %4 reads%5)\n")
                 .arg(num(scale.reads.callsPerSecond, 0))
                 .arg(num(scale.reads.medianUs))
                 .arg(num(scale.reads.p99Us))
                 .arg(scale.reads.calls)
                 .arg(scale.reads.failures ? QStringLiteral(", %1 FAILED").arg(scale.reads.failures)
                                           : QString());
    }
    t += QStringLiteral("\ngoals:\n");
    for (const GoalResult &g : goals)
        t += QStringLiteral("  %1  %2: %3\n")
                 .arg(g.holds ? QStringLiteral("holds ") : QStringLiteral("MISSED"), g.name, g.detail);
    return t;
}

QJsonObject Report::toJson() const
{
    QJsonArray rowArray;
    for (const Row &r : rows) {
        QJsonObject o{{QStringLiteral("key"), r.key},
                      {QStringLiteral("label"), r.label},
                      {QStringLiteral("path"), r.path},
                      {QStringLiteral("driver"), figuresJson(r.driver)},
                      {QStringLiteral("ratio"), jsonNumber(r.ratio())}};
        o.insert(QStringLiteral("limit"), r.limit.valid() ? QJsonValue(figuresJson(r.limit)) : QJsonValue());
        if (r.path == QLatin1String("serial")) {
            o.insert(QStringLiteral("frame_gap_ms"), r.frameGapMs);
            o.insert(QStringLiteral("median_over_gap_us"),
                     jsonNumber(r.driver.medianUs - r.frameGapMs * 1000));
        }
        rowArray.append(o);
    }
    QJsonArray goalArray;
    for (const GoalResult &g : goals)
        goalArray.append(QJsonObject{{QStringLiteral("name"), g.name},
                                     {QStringLiteral("holds"), g.holds},
                                     {QStringLiteral("detail"), g.detail}});
    return {{QStringLiteral("machine"), QJsonObject{{QStringLiteral("cpu"), machine.cpu},
                                                    {QStringLiteral("cores"), machine.cores},
                                                    {QStringLiteral("nproc"), machine.nproc},
                                                    {QStringLiteral("kernel"), machine.kernel}}},
            {QStringLiteral("plugin"), plugin},
            {QStringLiteral("iterations"), iterations},
            {QStringLiteral("quick"), quick},
            {QStringLiteral("measurements"), rowArray},
            {QStringLiteral("scale"),
             QJsonObject{{QStringLiteral("drivers"), scale.drivers},
                         {QStringLiteral("connected"), scale.connected},
                         {QStringLiteral("rss_bytes_per_driver"), jsonNumber(scale.rssBytesPerDriver)},
                         {QStringLiteral("rss_bytes_per_driver_after_reads"),
                          jsonNumber(scale.rssBytesPerDriverAfterReads)},
                         {QStringLiteral("heap_bytes_per_driver"), jsonNumber(scale.heapBytesPerDriver)},
                         {QStringLiteral("reads"), figuresJson(scale.reads)}}},
            {QStringLiteral("goals"), goalArray},
            {QStringLiteral("all_goals_hold"), allGoalsHold()},
            {QStringLiteral("failures"), failures()}};
}
