// Runs the wait of one exchange on a line: sends the request, then blocks
// the thread for the first part of the reply time and runs its event loop
// for the last part, handing every arrival to the exchange engine, until
// the engine has the reply, the time is up or the line is gone.
#ifndef EXCHANGEWAIT_H
#define EXCHANGEWAIT_H

#include "link/AdsExchange.h"
#include "link/AdsLog.h"

#include <QElapsedTimer>

#include <functional>

class AdsTransport;
class QEventLoop;

class ExchangeWait
{
public:
    // The line in use at each moment: a slot run inside the wait may close it.
    using Line = std::function<AdsTransport *()>;

    ExchangeWait();

    AdsExchange::Progress run(AdsExchange &exchange, const Line &line, const QByteArray &request, int replyMs,
                              const AdsLog::Context &log);
    // Sends `requests` without waiting for each reply, at most `inFlight`
    // unanswered at a time, and waits for their replies: it stops when all
    // came, when one does not come within what is left of `waitMs`, or when
    // the line goes. How many were answered.
    int runUnawaited(AdsExchange &exchange, const Line &line, const QList<QByteArray> &requests, int inFlight,
                     int waitMs);
    // What a wait must hear of outside it: bytes handed to the exchange, and
    // a line that went.
    void arrived(AdsExchange &exchange);
    void lineGone();
    bool waiting() const { return m_waiting; }

private:
    void waitInEventLoop(int ms);
    AdsExchange::SkipSink sink();

    bool m_waiting = false;
    QEventLoop *m_loop = nullptr;
    QElapsedTimer m_clock;
    AdsLog::Context m_log;
    int m_skipped = 0;
};

#endif // EXCHANGEWAIT_H
