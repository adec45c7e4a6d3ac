// The measurements of one process: each driver call beside the same
// request from the bare client, the simulator serving a large read, a reply
// in pieces, the serial line, and many drivers at once. What they measure
// goes into each row's in-run state.
#ifndef BENCHRUN_H
#define BENCHRUN_H

#include "bench/BenchOptions.h"
#include "bench/BenchReport.h"
#include "driver/CDriveBaseClass.h"

#include <QString>
#include <QStringList>

class PluginHandle;

class BenchRun
{
public:
    // `simPid` is the simulated controller's process, stopped and let go on
    // to stand for a controller that hangs with its connections open.
    BenchRun(const BenchOptions &options, const PluginHandle &plugin, quint16 tcpPort, const QString &ptyPath,
             qint64 simPid);

    // The image the simulated controller starts with: the variable read by
    // name, and as many names as a driver keeps handles for.
    static QByteArray imageText();

    // Everything, in order; false with errorString() when the run could not
    // go on (a connection refused, a read that returned the wrong values).
    bool run(Report *report);
    QString errorString() const { return m_error; }

    // The names of the measurements, as --only and the JSON know them.
    static QStringList knownKeys();

    // The pattern the memory is filled with before the reads, element k.
    static double patternAt(int k) { return 0.5 * k + 1.0; }

private:
    struct TcpCase;
    bool prefill();
    bool measureTcp(const TcpCase &c, CDriveBaseClass *driver, int rawFd, Row *row);
    bool measureSerial(Report *report);
    bool measureSimulator(Row *row);
    bool measurePieces(Row *row);
    bool measureScale(Scale *scale);
    bool measureFrozenDisconnect(Row *row);
    bool fail(const QString &message);

    const BenchOptions &m_options;
    const PluginHandle &m_plugin;
    quint16 m_tcpPort;
    QString m_ptyPath;
    qint64 m_simPid;
    QString m_error;
};

#endif // BENCHRUN_H
