#include "bench/ReportJson.h"

#include <QJsonArray>

#include <cmath>

namespace ReportJson {

namespace {
// JSON has no NaN or infinity: such a figure is left out as null.
QJsonValue number(double v)
{
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null);
}

double numberOf(const QJsonObject &o, const QString &name)
{
    const QJsonValue v = o.value(name);
    return v.isDouble() ? v.toDouble() : NAN;
}

QJsonValue figures(const Figures &f)
{
    if (!f.valid())
        return QJsonValue(QJsonValue::Null);
    return QJsonObject{{QStringLiteral("calls"), f.calls},
                       {QStringLiteral("failures"), f.failures},
                       {QStringLiteral("median_us"), number(f.medianUs)},
                       {QStringLiteral("p99_us"), number(f.p99Us)},
                       {QStringLiteral("max_us"), number(f.maxUs)},
                       {QStringLiteral("calls_per_s"), number(f.callsPerSecond)},
                       {QStringLiteral("cpu_us_per_call"), number(f.cpuUsPerCall)},
                       {QStringLiteral("allocs_per_call"), number(f.allocsPerCall)},
                       {QStringLiteral("largest_alloc_bytes"), number(f.largestAllocBytes)},
                       {QStringLiteral("other_alloc_bytes_per_call"), number(f.otherAllocBytesPerCall)}};
}

Figures figuresOf(const QJsonValue &v)
{
    Figures f;
    if (!v.isObject())
        return f;
    const QJsonObject o = v.toObject();
    f.calls = o.value(QStringLiteral("calls")).toInt();
    f.failures = o.value(QStringLiteral("failures")).toInt();
    f.medianUs = numberOf(o, QStringLiteral("median_us"));
    f.p99Us = numberOf(o, QStringLiteral("p99_us"));
    f.maxUs = numberOf(o, QStringLiteral("max_us"));
    f.callsPerSecond = numberOf(o, QStringLiteral("calls_per_s"));
    f.cpuUsPerCall = numberOf(o, QStringLiteral("cpu_us_per_call"));
    f.allocsPerCall = numberOf(o, QStringLiteral("allocs_per_call"));
    f.largestAllocBytes = numberOf(o, QStringLiteral("largest_alloc_bytes"));
    f.otherAllocBytesPerCall = numberOf(o, QStringLiteral("other_alloc_bytes_per_call"));
    return f;
}

QJsonValue state(const StateFigures &s)
{
    if (!s.valid())
        return QJsonValue(QJsonValue::Null);
    return QJsonObject{{QStringLiteral("driver"), figures(s.driver)},
                       {QStringLiteral("limit"), figures(s.limit)},
                       {QStringLiteral("first_byte"), figures(s.firstByte)},
                       {QStringLiteral("ratio"), number(s.ratio())},
                       {QStringLiteral("cpu_ratio"), number(s.cpuRatio())}};
}

QJsonObject row(const Row &r)
{
    return {{QStringLiteral("key"), r.key},
            {QStringLiteral("label"), r.label},
            {QStringLiteral("path"), r.path},
            {QStringLiteral("fresh"), state(r.fresh)},
            {QStringLiteral("in_run"), state(r.inRun)}};
}

QJsonObject scale(const Scale &s)
{
    return {{QStringLiteral("drivers"), s.drivers},
            {QStringLiteral("connected"), s.connected},
            {QStringLiteral("rss_bytes_per_driver"), number(s.rssBytesPerDriver)},
            {QStringLiteral("rss_bytes_per_driver_after_reads"), number(s.rssBytesPerDriverAfterReads)},
            {QStringLiteral("heap_bytes_per_driver"), number(s.heapBytesPerDriver)},
            {QStringLiteral("reads"), figures(s.reads)}};
}

QJsonObject machine(const Machine &m)
{
    return {{QStringLiteral("cpu"), m.cpu},
            {QStringLiteral("cores"), m.cores},
            {QStringLiteral("nproc"), m.nproc},
            {QStringLiteral("kernel"), m.kernel}};
}
} // namespace

QJsonObject of(const Report &report)
{
    QJsonArray rows;
    for (const Row &r : report.rows)
        rows.append(row(r));
    QJsonArray goals;
    for (const GoalResult &g : report.goals)
        goals.append(QJsonObject{{QStringLiteral("name"), g.name},
                                 {QStringLiteral("holds"), g.holds},
                                 {QStringLiteral("detail"), g.detail}});
    return {{QStringLiteral("machine"), machine(report.machine)},
            {QStringLiteral("plugin"), report.plugin},
            {QStringLiteral("iterations"), report.iterations},
            {QStringLiteral("quick"), report.quick},
            {QStringLiteral("measurements"), rows},
            {QStringLiteral("scale"), scale(report.scale)},
            {QStringLiteral("goals"), goals},
            {QStringLiteral("all_goals_hold"), report.allGoalsHold()},
            {QStringLiteral("failures"), report.failures()}};
}

bool freshOf(const QJsonObject &document, const QString &key, StateFigures *out)
{
    for (const QJsonValue &v : document.value(QStringLiteral("measurements")).toArray()) {
        const QJsonObject r = v.toObject();
        if (r.value(QStringLiteral("key")).toString() != key)
            continue;
        const QJsonValue fresh = r.value(QStringLiteral("fresh"));
        if (!fresh.isObject())
            return false;
        const QJsonObject s = fresh.toObject();
        out->driver = figuresOf(s.value(QStringLiteral("driver")));
        out->limit = figuresOf(s.value(QStringLiteral("limit")));
        out->firstByte = figuresOf(s.value(QStringLiteral("first_byte")));
        return out->valid();
    }
    return false;
}

} // namespace ReportJson
