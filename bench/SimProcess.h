// ads-sim started beside the benchmark as a process of its own, so that its
// CPU time is not the benchmark's, and stopped with SIGTERM at the end.
#ifndef SIMPROCESS_H
#define SIMPROCESS_H

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

class SimProcess
{
public:
    SimProcess();
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Starts `program --listen 127.0.0.1:0 --serial` and `extra`, and waits
    // for its address lines; false (and errorString) when it did not come up.
    bool start(const QString &program, const QStringList &extra = {});
    // The process id, to stop it (SIGSTOP) as a controller that hangs with
    // its connections open, and to let it go on.
    qint64 pid() const { return m_process.processId(); }
    // SIGTERM, then SIGKILL if it has not ended after a while. Safe to call twice.
    void stop();

    quint16 tcpPort() const { return m_tcpPort; }
    QString serialPath() const { return m_serialPath; }
    QString errorString() const { return m_error; }

    // Reads the start lines ("tcp 127.0.0.1:PORT", "serial /dev/pts/N") from
    // what the program printed; true once both are there.
    static bool parseLines(const QByteArray &output, quint16 *tcpPort, QString *serialPath);

private:
    // Ends with the benchmark even when the benchmark is killed.
    class Child : public QProcess
    {
    protected:
        void setupChildProcess() override;
    };
    Child m_process;
    quint16 m_tcpPort = 0;
    QString m_serialPath;
    QString m_error;
};

#endif // SIMPROCESS_H
