// ads-bench: how much the driver adds to an ADS exchange, measured through
// the host's view against a bare socket client on the same simulated
// controller. See the README's "Performance" section.
#include "bench/BenchOptions.h"
#include "bench/BenchReport.h"
#include "bench/BenchRun.h"
#include "bench/FreshProcess.h"
#include "bench/Measure.h"
#include "bench/NotifyRun.h"
#include "bench/ReportJson.h"
#include "bench/SimProcess.h"
#include "host/PluginHandle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QTemporaryFile>

#include <csignal>
#include <cstdio>

namespace {
void onStopSignal(int)
{
    Measure::interrupted = true;
}

void installSignals()
{
    struct sigaction stop {
    };
    stop.sa_handler = onStopSignal;
    sigemptyset(&stop.sa_mask);
    ::sigaction(SIGINT, &stop, nullptr);
    ::sigaction(SIGTERM, &stop, nullptr);
    // A peer that goes away must fail a write, not end the benchmark.
    std::signal(SIGPIPE, SIG_IGN);
}

int complain(const QString &message, int status)
{
    std::fprintf(stderr, "ads-bench: %s\n", qPrintable(message));
    return status;
}

// Each row once more, alone in a process of its own.
bool measureFresh(FreshProcess &fresh, Report *report)
{
    for (Row &row : report->rows) {
        if (Measure::interrupted)
            return true;
        std::fprintf(stderr, "ads-bench: %s in a fresh process\n", qPrintable(row.key));
        if (!fresh.measure(row.key, &row.fresh))
            return false;
    }
    return true;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const BenchOptions options = BenchOptions::parse(app.arguments().mid(1));
    if (!options.error.isEmpty())
        return complain(options.error + QStringLiteral(" (--help for usage)"), 2);
    if (options.help) {
        std::fputs(qPrintable(BenchOptions::usage()), stdout);
        return 0;
    }
    if (!options.only.isEmpty() && !BenchRun::knownKeys().contains(options.only))
        return complain(QStringLiteral("--only: no measurement is called '%1' (one of: %2)")
                            .arg(options.only, BenchRun::knownKeys().join(QStringLiteral(", "))),
                        2);
    installSignals();

    const QString pluginPath = options.pluginPath.isEmpty()
                                   ? PluginHandle::besideProgram(QCoreApplication::applicationFilePath())
                                   : options.pluginPath;
    const QString simPath =
        options.simPath.isEmpty()
            ? QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("ads-sim"))
            : options.simPath;

    PluginHandle plugin;
    if (!plugin.load(pluginPath))
        return complain(QStringLiteral("cannot load the plug-in: %1").arg(plugin.errorString()), 1);

    Report report;
    report.machine = Machine::current();
    report.plugin = pluginPath;
    report.iterations = options.iterations;
    report.quick = options.quick;
    {
        QTemporaryFile image;
        if (!image.open() || image.write(BenchRun::imageText()) < 0 || !image.flush())
            return complain(QStringLiteral("cannot write the simulated controller's image file"), 1);
        SimProcess sim;
        if (!sim.start(simPath, {QStringLiteral("--image"), image.fileName()}))
            return complain(sim.errorString(), 1);
        BenchRun run(options, plugin, sim.tcpPort(), sim.serialPath(), sim.pid());
        const bool done = run.run(&report);
        sim.stop();
        if (!done)
            return complain(run.errorString(), 1);
        NotifyRun notify(options, plugin, simPath);
        if (!Measure::interrupted && !notify.run(&report))
            return complain(notify.errorString(), 1);
    }
    if (!options.only.isEmpty()) {
        report.markFresh(); // this process was started for this one measurement
    } else {
        FreshProcess fresh(QCoreApplication::applicationFilePath(), options,
                           QFileInfo(pluginPath).absoluteFilePath(), QFileInfo(simPath).absoluteFilePath());
        if (!measureFresh(fresh, &report))
            return complain(fresh.errorString(), 1);
    }
    if (Measure::interrupted)
        return complain(QStringLiteral("interrupted"), 1);

    report.evaluate();
    std::fputs(qPrintable(report.table()), stdout);
    std::fflush(stdout);
    if (!options.jsonPath.isEmpty()) {
        QFile out(options.jsonPath);
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)
            || out.write(QJsonDocument(ReportJson::of(report)).toJson()) < 0 || !out.flush())
            return complain(QStringLiteral("cannot write %1: %2").arg(options.jsonPath, out.errorString()),
                            1);
    }
    if (report.failures() > 0)
        return complain(QStringLiteral("%1 calls failed").arg(report.failures()), 1);
    return 0;
}
