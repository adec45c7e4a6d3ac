// SIGINT and SIGTERM as a Qt signal, so that a program ends through its
// event loop and its destructors run: the signal handler only writes to a
// pipe, and a socket notifier reads it on the owner's thread. SIGHUP and
// SIGUSR1, the usual "read your files again", come the same way when asked.
#ifndef STOPSIGNALS_H
#define STOPSIGNALS_H

#include <QObject>

class QSocketNotifier;

class StopSignals : public QObject
{
    Q_OBJECT
public:
    explicit StopSignals(QObject *parent = nullptr);
    ~StopSignals() override;

    // Installs the handlers (with `reload`, SIGHUP's and SIGUSR1's too);
    // false when the pipe or a handler cannot be set. One instance per process.
    bool install(bool reload = false);

signals:
    void stopRequested(int signalNumber);
    void reloadRequested(int signalNumber);

private:
    static void handler(int signalNumber);
    void readPipe();

    static int s_pipe[2];
    QSocketNotifier *m_notifier = nullptr;
    bool m_reload = false;
};

#endif // STOPSIGNALS_H
