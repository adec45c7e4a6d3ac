#include "link/ExchangeWait.h"

#include "link/AdsTransport.h"

#include <QEventLoop>
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
                                        int replyMs, const AdsLog::Context &log)
{
    m_log = log;
    m_skipped = 0;
    const qint64 start = m_clock.elapsed();
    const int blocking = replyMs - qMin(kEventLoopTailMs, replyMs);
    exchange.begin(request, start, replyMs);
    {
        FlagUp waiting(m_waiting);
        line()->send(request);
        while (exchange.progress() == AdsExchange::Waiting && line() && line()->isOpen()) {
            const qint64 now = m_clock.elapsed();
            const qint64 left = exchange.remainingMs(now);
            if (left <= 0)
                break;
            if (now - start < blocking)
                line()->waitForBytes(int(qMin<qint64>(left, blocking - (now - start))));
            else
                waitInEventLoop(int(left));
            exchange.advance(m_clock.elapsed(), sink());
        }
        // Bytes that came as the time ran out belong to this reply too.
        if (exchange.progress() == AdsExchange::Waiting && line() && line()->deliverTo(exchange))
            exchange.advance(m_clock.elapsed(), sink());
        exchange.end(sink());
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

void ExchangeWait::waitInEventLoop(int ms)
{
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(ms);
    QEventLoop *outer = m_loop;
    m_loop = &loop;
    loop.exec(QEventLoop::AllEvents);
    m_loop = outer;
}
