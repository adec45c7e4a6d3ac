// adsctl watch: reads one variable every so often and prints on stdout a
// time-stamped line whenever its elements, or the driver's result, change:
// values and outages in one story, in order. It ends after --times lines or
// on stop(): a lost link is a line, and the values come again once the
// driver has the link back.
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
    WatchLoop(CDriveBaseClass *driver, const AdsctlOptions &options, QTextStream &out);

    // Runs until the end; the exit status: 1 when no read ever succeeded,
    // or when stopped while the last read had failed; 0 otherwise.
    int run();

public slots:
    // Ends the watch; a read under way finishes first.
    void stop();

private:
    void readOnce();
    // Whether `read` tells something the last line did not.
    bool changed(const CLabelVariable &read, const QStringList &elements) const;
    void print(const CLabelVariable &read);

    CDriveBaseClass *m_driver;
    const AdsctlOptions &m_options;
    QTextStream &m_out;
    QEventLoop m_loop;
    QTimer m_timer;
    bool m_reading = false;
    bool m_stopping = false;
    bool m_anySucceeded = false;
    int m_lines = 0;
    int m_lastCode = -1;
    quint32 m_lastError = 0;
    QStringList m_last;
};

#endif // WATCHLOOP_H
