#include "bench/RowGoals.h"

#include "bench/BenchText.h"

#include <cmath>

namespace RowGoals {

namespace {
using BenchText::num;

// Collects the goals of one state of one row.
class StateGoals
{
public:
    StateGoals(const Row &row, const StateFigures &s, const QString &state, QList<GoalResult> *out)
        : m_row(row), m_s(s), m_prefix(QStringLiteral("%1 (%2)").arg(row.label, state)), m_out(out)
    {
    }

    void all()
    {
        const Bounds &b = m_row.bounds;
        const Figures &d = m_s.driver;
        const Figures &l = m_s.limit;
        if (b.medianRatio && d.valid() && l.valid())
            add(QStringLiteral("driver median <= %1 x the bare client's").arg(*b.medianRatio),
                m_s.ratio() <= *b.medianRatio,
                QStringLiteral("%1 x (%2 us against %3 us)")
                    .arg(num(m_s.ratio(), 2), num(d.medianUs), num(l.medianUs)));
        if (b.cpuRatio && d.valid() && l.valid())
            add(QStringLiteral("driver CPU per call <= %1 x the bare client's").arg(*b.cpuRatio),
                m_s.cpuRatio() <= *b.cpuRatio,
                QStringLiteral("%1 x (%2 us against %3 us)")
                    .arg(num(m_s.cpuRatio(), 2), num(d.cpuUsPerCall), num(l.cpuUsPerCall)));
        if (b.allocsPerCall && d.valid() && std::isfinite(d.allocsPerCall))
            add(QStringLiteral("allocations per call <= %1").arg(*b.allocsPerCall),
                d.allocsPerCall <= *b.allocsPerCall, QStringLiteral("%1 per call").arg(num(d.allocsPerCall)));
        if (b.dataBytes && d.valid() && std::isfinite(d.otherAllocBytesPerCall))
            dataGrowth(*b.dataBytes);
        if (b.overLimitUs && d.valid() && l.valid())
            add(QStringLiteral("driver median <= the bare client's + %1 ms").arg(*b.overLimitUs / 1000),
                d.medianUs <= l.medianUs + *b.overLimitUs,
                QStringLiteral("%1 us against %2 us: %3 us more")
                    .arg(num(d.medianUs), num(l.medianUs), num(d.medianUs - l.medianUs)));
        if (b.driverMedianUs && d.valid())
            add(QStringLiteral("driver median <= %1 ms").arg(*b.driverMedianUs / 1000),
                d.medianUs <= *b.driverMedianUs, QStringLiteral("%1 us").arg(num(d.medianUs)));
        if (b.driverP99Us && d.valid())
            add(QStringLiteral("driver 99th percentile <= %1 ms").arg(*b.driverP99Us / 1000),
                d.p99Us <= *b.driverP99Us, QStringLiteral("%1 us").arg(num(d.p99Us)));
        if (b.driverMaxUs && d.valid())
            add(QStringLiteral("driver's largest <= %1 ms").arg(*b.driverMaxUs / 1000),
                d.maxUs <= *b.driverMaxUs, QStringLiteral("%1 us").arg(num(d.maxUs)));
        if (b.driverCpuUs && d.valid() && std::isfinite(d.cpuUsPerCall))
            add(QStringLiteral("driver CPU per call <= %1 ms").arg(*b.driverCpuUs / 1000),
                d.cpuUsPerCall <= *b.driverCpuUs, QStringLiteral("%1 us").arg(num(d.cpuUsPerCall)));
        if (b.limitMedianUs && l.valid())
            add(QStringLiteral("served, request sent to last byte, median < %1 ms")
                    .arg(*b.limitMedianUs / 1000),
                l.medianUs < *b.limitMedianUs,
                QStringLiteral("%1 us (first byte after %2 us)")
                    .arg(num(l.medianUs), num(m_s.firstByte.medianUs)));
    }

private:
    void dataGrowth(double dataBytes)
    {
        const Figures &d = m_s.driver;
        const double allowed = kOtherBytesShare * dataBytes;
        add(QStringLiteral("the list the host receives is the only allocation that grows with the data"),
            d.otherAllocBytesPerCall <= allowed,
            QStringLiteral("largest %1, all others %2 per call (at most %3: %4 % of the data)")
                .arg(BenchText::bytes(d.largestAllocBytes), BenchText::bytes(d.otherAllocBytesPerCall),
                     BenchText::bytes(allowed), num(kOtherBytesShare * 100, 0)));
    }

    void add(const QString &what, bool holds, const QString &detail)
    {
        m_out->append({m_prefix + QStringLiteral(": ") + what, holds, detail});
    }

    const Row &m_row;
    const StateFigures &m_s;
    const QString m_prefix;
    QList<GoalResult> *m_out;
};
} // namespace

QList<GoalResult> of(const Row &row)
{
    QList<GoalResult> goals;
    StateGoals(row, row.fresh, QStringLiteral("fresh process"), &goals).all();
    StateGoals(row, row.inRun, QStringLiteral("in the run"), &goals).all();
    return goals;
}

} // namespace RowGoals
