#include "bench/BenchOptions.h"

namespace {
// A quick run takes this many calls per measurement: enough to show the
// program works end to end, far too few for figures worth keeping.
const int kQuickCalls = 20;
const int kMaxIterations = 10000000;
} // namespace

BenchOptions BenchOptions::parse(const QStringList &arguments)
{
    BenchOptions o;
    auto valueOf = [&](int &i, const QString &name, QString *out) {
        if (i + 1 >= arguments.size()) {
            o.error = QStringLiteral("%1 needs a value").arg(name);
            return false;
        }
        *out = arguments.at(++i);
        return true;
    };
    for (int i = 0; i < arguments.size() && o.error.isEmpty(); ++i) {
        const QString &a = arguments.at(i);
        QString v;
        if (a == QLatin1String("--quick")) {
            o.quick = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.help = true;
        } else if (a == QLatin1String("--iterations")) {
            if (!valueOf(i, a, &v))
                break;
            bool ok = false;
            o.iterations = v.toInt(&ok, 10);
            if (!ok || o.iterations < 1 || o.iterations > kMaxIterations)
                o.error = QStringLiteral("--iterations takes a whole number from 1 to %1, not '%2'")
                              .arg(kMaxIterations)
                              .arg(v);
        } else if (a == QLatin1String("--plugin")) {
            valueOf(i, a, &o.pluginPath);
        } else if (a == QLatin1String("--sim")) {
            valueOf(i, a, &o.simPath);
        } else if (a == QLatin1String("--json")) {
            valueOf(i, a, &o.jsonPath);
        } else if (a == QLatin1String("--only")) {
            valueOf(i, a, &o.only);
        } else {
            o.error = QStringLiteral("unknown argument '%1'").arg(a);
        }
    }
    return o;
}

QString BenchOptions::usage()
{
    return QStringLiteral(
        "usage: ads-bench [--iterations N] [--quick] [--json FILE] [--plugin PATH] [--sim PATH] [--only "
        "KEY]\n"
        "Measures the driver plug-in against a bare socket client, both talking to ads-sim\n"
        "on loopback, and prints a table of latencies, CPU time and allocations per call:\n"
        "each measurement in the full run, after the ones before it, and again alone in a\n"
        "fresh process (ads-bench runs itself with --only for each).\n"
        "  --iterations N  calls per measurement (default: sized for a run of about a minute)\n"
        "  --quick         a few calls each: a run of seconds, to see that everything works\n"
        "  --json FILE     also write the figures as JSON\n"
        "  --plugin PATH   the plug-in (default ../lib/libBeckhoff_ADS.so beside the program)\n"
        "  --sim PATH      the simulated controller (default ads-sim beside the program)\n"
        "  --only KEY      just one measurement, by its JSON key (read_double_100000, scale, ...),\n"
        "                  in this process alone: e.g. to run it under a profiler\n");
}

int BenchOptions::callsFor(int full) const
{
    if (iterations > 0)
        return iterations;
    return quick ? qMin(full, kQuickCalls) : full;
}

int BenchOptions::scaleRounds() const
{
    if (iterations > 0)
        return qMax(1, iterations / 200);
    return quick ? 2 : 50;
}

bool BenchOptions::wants(const QString &key) const
{
    return only.isEmpty() || only == key;
}
