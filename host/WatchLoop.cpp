#include "host/WatchLoop.h"

#include "host/AdsctlOptions.h"
#include "host/ValueText.h"
#include "host/WatchLine.h"

#include <QDateTime>

WatchLoop::WatchLoop(CDriveBaseClass *driver, const AdsctlOptions &options, QTextStream &out)
    : m_driver(driver), m_options(options), m_out(out)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &WatchLoop::readOnce);
}

int WatchLoop::run()
{
    m_timer.start(0);
    m_loop.exec();
    // A transient failure is part of the story; a watch that never read, or
    // that was stopped in the middle of an outage, did not get what it asked.
    const bool lastFailed = m_lastCode != CLabelVariable::RC_Success;
    const bool timesReached = m_options.times > 0 && m_lines >= m_options.times;
    return !m_anySucceeded || (lastFailed && !timesReached) ? 1 : 0;
}

void WatchLoop::stop()
{
    m_stopping = true;
    // A read blocks in the driver, and may run a nested event loop that
    // delivers this very call: leave it to finish, readOnce() ends the watch.
    if (!m_reading) {
        m_timer.stop();
        m_loop.quit();
    }
}

bool WatchLoop::changed(const CLabelVariable &read, const QStringList &elements) const
{
    return m_lastCode != read.resultCode || m_lastError != WatchLine::controllerError(read)
           || elements != m_last;
}

void WatchLoop::print(const CLabelVariable &read)
{
    const bool ok = read.resultCode == CLabelVariable::RC_Success;
    const QDateTime when = ok && read.timeStamp.isValid() ? read.timeStamp : QDateTime::currentDateTime();
    const QString stamp = when.toString(Qt::ISODateWithMs);
    m_out << (m_options.json ? WatchLine::json(stamp, m_options.type, read)
                             : WatchLine::text(stamp, m_options.type, read))
          << Qt::endl;
    ++m_lines;
}

void WatchLoop::readOnce()
{
    m_reading = true;
    const CLabelVariable read = m_driver->ReadVariable(m_options.address, m_options.type, m_options.count);
    m_reading = false;

    const bool ok = read.resultCode == CLabelVariable::RC_Success;
    const QStringList elements = ok ? ValueText::elements(m_options.type, read.value) : QStringList();
    if (changed(read, elements))
        print(read);
    m_anySucceeded = m_anySucceeded || ok;
    m_lastCode = read.resultCode;
    m_lastError = WatchLine::controllerError(read);
    m_last = elements;

    // A link down is no end: the driver brings the line back by itself while
    // this loop waits between reads, and the reads then work again.
    if (m_stopping || (m_options.times > 0 && m_lines >= m_options.times))
        m_loop.quit();
    else
        m_timer.start(m_options.everyMs);
}
