// Runs the wait of one exchange on a line: sends the request, waits while
// the line takes what did not fit at once, then waits for the reply, until
// the engine has it, the time is up or the line is gone. Every arrival goes
// to the exchange engine.
//
// The send has a limit of its own, the reply wait; the reply's wait starts
// once the last byte was handed over. How the thread waits: by default it
// blocks, and runs its event loop for the last 50 ms of the reply's wait;
// with an event-loop time N it blocks at most N ms and runs a nested event
// loop for the rest (a host that calls from its GUI thread).
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

    // `eventLoopMs` 0: today's wait; above 0: block at most that long, then
    // run a nested event loop.
    AdsExchange::Progress run(AdsExchange &exchange, const Line &line, const QByteArray &request, int replyMs,
                              int eventLoopMs, const AdsLog::Context &log);
    // Whether the last run's request was not wholly handed over in time: the
    // line then carries half a frame and cannot be used.
    bool sendTimedOut() const { return m_sendTimedOut; }
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
    void waitInEventLoop(int ms, AdsTransport *line, bool sending);
    AdsExchange::SkipSink sink();

    bool m_waiting = false;
    bool m_sendTimedOut = false;
    QEventLoop *m_loop = nullptr;
    QElapsedTimer m_clock;
    AdsLog::Context m_log;
    int m_skipped = 0;
};

#endif // EXCHANGEWAIT_H
