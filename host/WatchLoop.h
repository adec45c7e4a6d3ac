// adsctl watch: reads one variable every so often and prints a time-stamped
// line whenever its elements, or the driver's result, change. It ends only
// after --times reads or on stop(): a lost link is one line, and the values
// come again once the driver has the link back.
#ifndef WATCHLOOP_H
#define WATCHLOOP_H

#include "driver/CDriveBaseClass.h"

#include <QEventLoop>
#include <QObject>
#include <QStringList>
#include <QTextStream>
#include <QTimer>

class AdsctlOptions;

class WatchLoop : public QObject
{
    Q_OBJECT
public:
    WatchLoop(CDriveBaseClass *driver, const AdsctlOptions &options, QTextStream &out, QTextStream &err);

    // Runs until the end; the exit status: 0 when every read succeeded.
    int run();

public slots:
    // Ends the watch; a read under way finishes first.
    void stop();

private:
    void readOnce();

    CDriveBaseClass *m_driver;
    const AdsctlOptions &m_options;
    QTextStream &m_out;
    QTextStream &m_err;
    QEventLoop m_loop;
    QTimer m_timer;
    bool m_reading = false;
    bool m_stopping = false;
    bool m_failed = false;
    int m_reads = 0;
    int m_lastCode = -1;
    quint32 m_lastError = 0;
    QStringList m_last;
};

#endif // WATCHLOOP_H
