#include "bench/BenchReport.h"

#include "bench/BenchText.h"
#include "bench/RowGoals.h"

#include <QFile>
#include <QSysInfo>
#include <QThread>

#include <cmath>

#include <unistd.h>

namespace {
using BenchText::num;

const int kLabelWidth = 28;
const int kWhoWidth = 6;

QString ratioText(double r)
{
    return std::isfinite(r) ? num(r, 2) + QLatin1Char('x') : QString();
}

// Median, CPU and allocations of one side in one state, and the driver's
// ratios to the limit on its line: 43 columns.
QString stateCells(const Figures &f, double ratio = NAN, double cpuRatio = NAN)
{
    if (!f.valid())
        return QStringLiteral("%1").arg(QStringLiteral("-"), 10) + QString(33, QLatin1Char(' '));
    return QStringLiteral("%1 %2 %3 %4 %5")
        .arg(num(f.medianUs), 10)
        .arg(num(f.cpuUsPerCall), 8)
        .arg(num(f.allocsPerCall), 7)
        .arg(ratioText(ratio), 7)
        .arg(ratioText(cpuRatio), 7);
}

QString line(const QString &label, const QString &who, const QString &fresh, const QString &inRun)
{
    QString l =
        QStringLiteral("%1 %2 %3  %4").arg(label, -kLabelWidth).arg(who, -kWhoWidth).arg(fresh, inRun);
    while (l.endsWith(QLatin1Char(' '))) // no trailing blank where a state is empty
        l.chop(1);
    return l + QLatin1Char('\n');
}

QString rowLines(const Row &r)
{
    QString t;
    QString label = r.label; // the measurement's name once, on its first line
    auto side = [&](const QString &who, const Figures &fresh, const Figures &inRun, bool driver) {
        if (!fresh.valid() && !inRun.valid())
            return;
        t += line(label, who,
                  driver ? stateCells(fresh, r.fresh.ratio(), r.fresh.cpuRatio()) : stateCells(fresh),
                  driver ? stateCells(inRun, r.inRun.ratio(), r.inRun.cpuRatio()) : stateCells(inRun));
        label.clear();
    };
    side(QStringLiteral("first"), r.fresh.firstByte, r.inRun.firstByte, false);
    side(r.path == QLatin1String("sim") ? QStringLiteral("whole") : QStringLiteral("limit"), r.fresh.limit,
         r.inRun.limit, false);
    side(QStringLiteral("driver"), r.fresh.driver, r.inRun.driver, true);
    const int failed =
        r.fresh.driver.failures + r.fresh.limit.failures + r.inRun.driver.failures + r.inRun.limit.failures;
    if (failed > 0)
        t += QStringLiteral("%1 %2 FAILED\n").arg(QString(), -kLabelWidth).arg(failed);
    return t;
}

QString heapCells(const Figures &f)
{
    if (!f.valid())
        return QStringLiteral("%1").arg(QStringLiteral("-"), 12) + QString(13, QLatin1Char(' '));
    return QStringLiteral("%1 %2")
        .arg(BenchText::bytes(f.largestAllocBytes), 12)
        .arg(BenchText::bytes(f.otherAllocBytesPerCall), 12);
}

// What each driver call asked of the heap: its largest allocation, and all
// the others together.
QString heapTable(const QList<Row> &rows)
{
    QString t = QStringLiteral("\n%1 %2  %3\n%4 %5 %6  %7 %8\n")
                    .arg(QStringLiteral("heap per driver call"), -kLabelWidth - kWhoWidth - 1)
                    .arg(QStringLiteral("------ fresh process ----"), 25)
                    .arg(QStringLiteral("------- in the run ------"), 25)
                    .arg(QString(), -kLabelWidth - kWhoWidth - 1)
                    .arg(QStringLiteral("largest"), 12)
                    .arg(QStringLiteral("others/call"), 12)
                    .arg(QStringLiteral("largest"), 12)
                    .arg(QStringLiteral("others/call"), 12);
    for (const Row &r : rows)
        if (r.fresh.driver.valid() || r.inRun.driver.valid())
            t += line(r.label, QString(), heapCells(r.fresh.driver), heapCells(r.inRun.driver));
    return t;
}

QString scaleLines(const Scale &scale)
{
    QString t =
        QStringLiteral("\nscale: %1 drivers (%2 connected); per driver %3 KiB resident, %4 KiB of heap, "
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
             .arg(scale.reads.failures ? QStringLiteral(", %1 FAILED").arg(scale.reads.failures) : QString());
    return t;
}

QString firstLine(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readLine()).trimmed();
}

int failuresOf(const StateFigures &s)
{
    return s.driver.failures + s.limit.failures + s.firstByte.failures;
}
} // namespace

double StateFigures::ratio() const
{
    return driver.valid() && limit.valid() && limit.medianUs > 0 ? driver.medianUs / limit.medianUs : NAN;
}

double StateFigures::cpuRatio() const
{
    return driver.valid() && limit.valid() && limit.cpuUsPerCall > 0
               ? driver.cpuUsPerCall / limit.cpuUsPerCall
               : NAN;
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

void Report::markFresh()
{
    for (Row &r : rows) {
        r.fresh = r.inRun;
        r.inRun = StateFigures();
    }
}

void Report::evaluate()
{
    goals.clear();
    for (const Row &r : rows)
        goals += RowGoals::of(r);
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
        n += failuresOf(r.fresh) + failuresOf(r.inRun);
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
    const QString heads = QStringLiteral("%1 %2 %3 %4 %5")
                              .arg(QStringLiteral("median us"), 10)
                              .arg(QStringLiteral("CPU us"), 8)
                              .arg(QStringLiteral("allocs"), 7)
                              .arg(QStringLiteral("x med"), 7)
                              .arg(QStringLiteral("x CPU"), 7);
    t += line(QString(), QString(),
              QStringLiteral("%1").arg(QStringLiteral("------------ fresh process ------------"), 43),
              QStringLiteral("%1").arg(QStringLiteral("------------- in the run --------------"), 43));
    t += line(QStringLiteral("measurement"), QStringLiteral("who"), heads, heads);
    for (const Row &r : rows)
        t += rowLines(r);
    t += heapTable(rows);
    if (scale.drivers > 0)
        t += scaleLines(scale);
    t += QStringLiteral("\ngoals:\n");
    for (const GoalResult &g : goals)
        t += QStringLiteral("  %1  %2: %3\n")
                 .arg(g.holds ? QStringLiteral("holds ") : QStringLiteral("MISSED"), g.name, g.detail);
    return t;
}
