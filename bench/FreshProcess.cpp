#include "bench/FreshProcess.h"

#include "bench/Measure.h"
#include "bench/ReportJson.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>

#include <csignal>
#include <sys/prctl.h>

namespace {
// A child measures one thing, itself bounded in time, and starts a simulator:
// beyond this it is stuck and is ended.
const int kChildMs = 240000;
const int kPollMs = 100;
const int kStopMs = 5000;

// Ends with the benchmark even when the benchmark is killed.
class Child : public QProcess
{
protected:
    void setupChildProcess() override { ::prctl(PR_SET_PDEATHSIG, SIGTERM); }
};
} // namespace

FreshProcess::FreshProcess(const QString &program, const BenchOptions &options, const QString &pluginPath,
                           const QString &simPath)
    : m_program(program), m_options(options), m_pluginPath(pluginPath), m_simPath(simPath)
{
}

QStringList FreshProcess::arguments(const BenchOptions &options, const QString &key,
                                    const QString &pluginPath, const QString &simPath,
                                    const QString &jsonPath)
{
    QStringList a{QStringLiteral("--only"),   key,        QStringLiteral("--json"), jsonPath,
                  QStringLiteral("--plugin"), pluginPath, QStringLiteral("--sim"),  simPath};
    if (options.quick)
        a << QStringLiteral("--quick");
    if (options.iterations > 0)
        a << QStringLiteral("--iterations") << QString::number(options.iterations);
    return a;
}

bool FreshProcess::measure(const QString &key, StateFigures *out)
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder for the fresh runs: %1").arg(m_dir.errorString());
        return false;
    }
    const QString jsonPath = m_dir.filePath(key + QStringLiteral(".json"));
    QFile::remove(jsonPath);
    if (!runChild(arguments(m_options, key, m_pluginPath, m_simPath, jsonPath)))
        return false;
    QFile file(jsonPath);
    const QJsonDocument doc =
        file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()) : QJsonDocument();
    if (!ReportJson::freshOf(doc.object(), key, out)) {
        m_error = QStringLiteral("the fresh run of %1 wrote no figures for it").arg(key);
        return false;
    }
    return true;
}

bool FreshProcess::runChild(const QStringList &arguments)
{
    Child child;
    child.setStandardOutputFile(QProcess::nullDevice()); // its table is not wanted, its JSON is
    child.start(m_program, arguments);
    QElapsedTimer clock;
    clock.start();
    bool done = child.waitForStarted(kStopMs);
    while (done && !child.waitForFinished(kPollMs)) {
        if (Measure::interrupted || clock.elapsed() > kChildMs) {
            child.terminate();
            if (!child.waitForFinished(kStopMs))
                child.kill();
            done = false;
        }
    }
    child.waitForFinished(kStopMs);
    const QString said = QString::fromLocal8Bit(child.readAllStandardError()).trimmed();
    if (done && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0)
        return true;
    m_error = QStringLiteral("the fresh run '%1 %2' failed%3")
                  .arg(m_program, arguments.join(QLatin1Char(' ')),
                       said.isEmpty() ? QString() : QStringLiteral(": ") + said);
    return false;
}
