// One measurement in a process of its own: ads-bench runs itself with
// --only KEY and --json, and reads the figures back. There the heap holds
// nothing the run before left behind, as in a host that has just started.
#ifndef FRESHPROCESS_H
#define FRESHPROCESS_H

#include "bench/BenchOptions.h"
#include "bench/BenchReport.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class FreshProcess
{
public:
    // `program` is ads-bench itself; the plug-in and simulator paths are the
    // ones the full run uses.
    FreshProcess(const QString &program, const BenchOptions &options, const QString &pluginPath,
                 const QString &simPath);

    // Runs the measurement `key` alone; false (and errorString) when the
    // child failed, was interrupted or wrote no figures for it.
    bool measure(const QString &key, StateFigures *out);
    QString errorString() const { return m_error; }

    // The child's command line: the same calls per measurement, one key, JSON out.
    static QStringList arguments(const BenchOptions &options, const QString &key, const QString &pluginPath,
                                 const QString &simPath, const QString &jsonPath);

private:
    bool runChild(const QStringList &arguments);

    QString m_program;
    BenchOptions m_options;
    QString m_pluginPath;
    QString m_simPath;
    QTemporaryDir m_dir;
    QString m_error;
};

#endif // FRESHPROCESS_H
