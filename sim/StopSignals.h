// SIGINT and SIGTERM as a Qt signal, so that a program ends through its
// event loop and its destructors run: the signal handler only writes to a
// pipe, and a socket notifier reads it on the owner's thread.
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

    // Installs the handlers; false when the pipe or a handler cannot be set.
    // One instance per process.
    bool install();

signals:
    void stopRequested(int signalNumber);

private:
    static void handler(int signalNumber);
    void readPipe();

    static int s_pipe[2];
    QSocketNotifier *m_notifier = nullptr;
};

#endif // STOPSIGNALS_H
