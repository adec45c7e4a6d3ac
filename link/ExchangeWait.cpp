#include "link/ExchangeWait.h"

#include "link/AdsTransport.h"

#include <QEventLoop>
#include <QPointer>
#include <QTimer>

namespace {
// The last part of the wait for a reply runs the thread's event loop.
const int kEventLoopTailMs = 50;

// Holds a flag up for the life of a scope, also when it is left by an exception.
class FlagUp
{
public:
    explicit FlagUp(bool &flag) : m_flag(flag) { m_flag = true; }
    ~FlagUp() { m_flag = false; }
    FlagUp(const FlagUp &) = delete;
    FlagUp &operator=(const FlagUp &) = delete;

private:
    bool &m_flag;
};
} // namespace

ExchangeWait::ExchangeWait()
{
    m_clock.start();
}

AdsExchange::SkipSink ExchangeWait::sink()
{
    return [this](AdsExchange::Skipped kind, const QByteArray &bytes, qint64 size) {
        AdsLog::warnSkipped(m_log, kind, bytes, size, &m_skipped);
    };
}

AdsExchange::Progress ExchangeWait::run(AdsExchange &exchange, const Line &line, const QByteArray &request,
                                        int replyMs, int eventLoopMs, const AdsLog::Context &log)
{
    m_log = log;
    m_skipped = 0;
    m_sendTimedOut = false;
    const qint64 start = m_clock.elapsed();
    const qint64 sendDeadline = start + replyMs;
    const qint64 blockUntil = start + eventLoopMs;
    exchange.begin(request, start, replyMs);
    {
        FlagUp waiting(m_waiting);
        line()->send(request);
        bool sent = false;
        while (exchange.progress() == AdsExchange::Waiting && line() && line()->isOpen()) {
            const qint64 now = m_clock.elapsed();
            if (!sent && line()->unsent() == 0) {
                sent = true;
                exchange.restartWait(now, replyMs); // the reply's wait begins with the last byte out
            }
            const qint64 left = sent ? exchange.remainingMs(now) : sendDeadline - now;
            if (left <= 0)
                break;
            // How long to block before the event loop runs: up to its last
            // 50 ms by default, at most the host's event-loop time otherwise.
            const qint64 blockLeft = eventLoopMs > 0 ? blockUntil - now
                                     : sent          ? left - kEventLoopTailMs
                                                     : left;
            if (blockLeft > 0)
                line()->waitForBytes(int(qMin(left, blockLeft)));
            else
                waitInEventLoop(int(left), line(), !sent);
            exchange.advance(m_clock.elapsed(), sink());
        }
        // Bytes that came as the time ran out belong to this reply too.
        if (exchange.progress() == AdsExchange::Waiting && line() && line()->deliverTo(exchange))
            exchange.advance(m_clock.elapsed(), sink());
        exchange.end(sink());
        m_sendTimedOut = line() && line()->isOpen() && line()->unsent() > 0;
    }
    AdsLog::warnMoreSkipped(m_log, m_skipped);
    return exchange.progress();
}

int ExchangeWait::runUnawaited(AdsExchange &exchange, const Line &line, const QList<QByteArray> &requests,
                               int inFlight, int waitMs)
{
    const int before = exchange.unawaited(); // earlier ones may still be on their way
    const qint64 deadline = m_clock.elapsed() + waitMs;
    int sent = 0;
    for (;;) {
        if (!line() || !line()->isOpen())
            break;
        while (sent < requests.size() && exchange.unawaited() - before < inFlight) {
            exchange.expectUnawaited(requests.at(sent));
            line()->send(requests.at(sent++));
        }
        const qint64 left = deadline - m_clock.elapsed();
        if ((sent == requests.size() && exchange.unawaited() <= before) || left <= 0)
            break;
        // Arrivals go through arrived(): outside a wait they are taken
        // silently, the unawaited replies among them counted off.
        line()->waitForBytes(int(left));
    }
    return qMax(0, sent - qMax(0, exchange.unawaited() - before));
}

void ExchangeWait::arrived(AdsExchange &exchange)
{
    if (!m_waiting) {
        exchange.dropStale(); // nobody waits for these bytes
        return;
    }
    if (exchange.advance(m_clock.elapsed(), sink()) != AdsExchange::Waiting)
        lineGone();
}

// Ends the event-loop part of the wait at once.
void ExchangeWait::lineGone()
{
    if (m_loop)
        m_loop->quit();
}

void ExchangeWait::waitInEventLoop(int ms, AdsTransport *line, bool sending)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(ms);
    // While the request is still going out, the loop hands it to the line as
    // the line takes it, and ends when the last byte went: the reply's wait
    // begins then.
    const QPointer<AdsTransport> writing = sending ? line : nullptr;
    if (writing) {
        QObject::connect(writing, &AdsTransport::allSent, &loop, &QEventLoop::quit);
        writing->notifyWritable(true);
    }
    QEventLoop *outer = m_loop;
    m_loop = &loop;
    loop.exec(QEventLoop::AllEvents);
    m_loop = outer;
    if (writing)
        writing->notifyWritable(false);
}
