#include "bench/SimProcess.h"

#include <QElapsedTimer>

#include <csignal>
#include <sys/prctl.h>

namespace {
const int kStartMs = 10000;
const int kStopMs = 5000;
} // namespace

void SimProcess::Child::setupChildProcess()
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
}

SimProcess::SimProcess()
{
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
}

SimProcess::~SimProcess()
{
    stop();
}

bool SimProcess::parseLines(const QByteArray &output, quint16 *tcpPort, QString *serialPath)
{
    quint16 port = 0;
    QString path;
    for (const QByteArray &raw : output.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith("tcp ")) {
            const int colon = line.lastIndexOf(':');
            bool ok = false;
            const uint p = colon > 0 ? line.mid(colon + 1).toUInt(&ok, 10) : 0;
            if (ok && p > 0 && p <= 65535)
                port = quint16(p);
        } else if (line.startsWith("serial ")) {
            path = QString::fromLocal8Bit(line.mid(7).trimmed());
        }
    }
    if (port == 0 || path.isEmpty())
        return false;
    *tcpPort = port;
    *serialPath = path;
    return true;
}

bool SimProcess::start(const QString &program, const QStringList &extra)
{
    m_process.start(program, QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                         QStringLiteral("--serial")}
                                 + extra);
    if (!m_process.waitForStarted(kStartMs)) {
        m_error = QStringLiteral("%1 did not start: %2").arg(program, m_process.errorString());
        return false;
    }
    QByteArray output;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < kStartMs && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(int(qMax<qint64>(1, kStartMs - clock.elapsed())));
        output += m_process.readAllStandardOutput();
        if (parseLines(output, &m_tcpPort, &m_serialPath))
            return true;
    }
    m_error = QStringLiteral("%1 printed no address lines: %2")
                  .arg(program, QString::fromLocal8Bit(output + m_process.readAllStandardError()).trimmed());
    stop();
    return false;
}

void SimProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate(); // SIGTERM: it closes its sockets and pseudo-terminal and exits 0
    if (!m_process.waitForFinished(kStopMs)) {
        m_process.kill();
        m_process.waitForFinished(kStopMs);
    }
}
