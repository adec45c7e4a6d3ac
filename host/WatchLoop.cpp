#include "host/WatchLoop.h"

#include "host/AdsctlOptions.h"
#include "host/ResultText.h"
#include "host/ValueText.h"

#include <QDateTime>

WatchLoop::WatchLoop(CDriveBaseClass *driver, const AdsctlOptions &options, QTextStream &out,
                     QTextStream &err)
    : m_driver(driver), m_options(options), m_out(out), m_err(err)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &WatchLoop::readOnce);
}

int WatchLoop::run()
{
    m_timer.start(0);
    m_loop.exec();
    return m_failed ? 1 : 0;
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

void WatchLoop::readOnce()
{
    m_reading = true;
    const CLabelVariable r = m_driver->ReadVariable(m_options.address, m_options.type, m_options.count);
    m_reading = false;
    ++m_reads;

    const bool ok = r.resultCode == CLabelVariable::RC_Success;
    const quint32 controllerError = ok ? 0 : quint32(r.auxNumber);
    const bool resultChanged = m_lastCode != r.resultCode || m_lastError != controllerError;
    const QDateTime when = ok && r.timeStamp.isValid() ? r.timeStamp : QDateTime::currentDateTime();
    const QString stamp = when.toString(Qt::ISODateWithMs);
    if (ok) {
        const QStringList elements = ValueText::elements(m_options.type, r.value);
        if (resultChanged || elements != m_last) {
            const QString shown = m_options.json ? ValueText::jsonArray(m_options.type, r.value)
                                                 : ValueText::line(m_options.type, r.value);
            m_out << stamp << ' ' << shown << Qt::endl;
            m_last = elements;
        }
    } else {
        m_failed = true;
        if (resultChanged)
            m_err << stamp << ' ' << ResultText::ofRead(r.resultCode, controllerError) << Qt::endl;
    }
    m_lastCode = r.resultCode;
    m_lastError = controllerError;

    // A link down is no end: the driver brings the line back by itself while
    // this loop waits between reads, and the reads then work again.
    if (m_stopping || (m_options.times > 0 && m_reads >= m_options.times))
        m_loop.quit();
    else
        m_timer.start(m_options.everyMs);
}
