// The measurements of reads answered from change notifications, each
// against an ads-sim of its own that answers every request 1 ms late, as a
// controller on a real network does: a host's cycle of 200 variables (100
// by name, 100 by address) with notify-ms=50 and with every read asking,
// and how stale a value read every 20 ms is, of a variable the simulator
// sets to its clock every millisecond.
#ifndef NOTIFYRUN_H
#define NOTIFYRUN_H

#include "bench/BenchOptions.h"
#include "bench/BenchReport.h"

#include <QString>

class PluginHandle;
class CDriveBaseClass;

class NotifyRun
{
public:
    NotifyRun(const BenchOptions &options, const PluginHandle &plugin, const QString &simPath);

    bool run(Report *report);
    QString errorString() const { return m_error; }

    static QStringList keys();
    // The simulated controller's image: the cycle's names and the clock.
    static QByteArray imageText();

private:
    bool measureCycle(int notifyMs, Row *row);
    bool measureStaleness(Row *row);
    CDriveBaseClass *connectedDriver(const QString &parameters, quint16 port);
    bool fail(const QString &message);

    const BenchOptions &m_options;
    const PluginHandle &m_plugin;
    QString m_simPath;
    quint16 m_port = 0;
    QString m_error;
};

#endif // NOTIFYRUN_H
