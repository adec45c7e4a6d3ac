#include "tests/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutexLocker>

namespace TestSupport {

LogCapture *LogCapture::s_active = nullptr;

LogCapture::LogCapture()
{
    s_active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    s_active = nullptr;
}

void LogCapture::handler(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (LogCapture *self = s_active) {
        QMutexLocker lock(&self->m_mutex);
        self->m_lines.append(qMakePair(type, msg));
    }
}

QStringList LogCapture::warnings() const
{
    QMutexLocker lock(&m_mutex);
    QStringList out;
    for (const auto &l : m_lines) {
        if (l.first == QtWarningMsg)
            out << l.second;
    }
    return out;
}

QStringList LogCapture::debugLines() const
{
    QMutexLocker lock(&m_mutex);
    QStringList out;
    for (const auto &l : m_lines) {
        if (l.first == QtDebugMsg)
            out << l.second;
    }
    return out;
}

QStringList LogCapture::all() const
{
    QMutexLocker lock(&m_mutex);
    QStringList out;
    for (const auto &l : m_lines)
        out << l.second;
    return out;
}

void LogCapture::clear()
{
    QMutexLocker lock(&m_mutex);
    m_lines.clear();
}

QString pluginPath()
{
    const QByteArray fromEnv = qgetenv("ADS_PLUGIN");
    if (!fromEnv.isEmpty())
        return QString::fromLocal8Bit(fromEnv);
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../lib/libBeckhoff_ADS.so"));
}

} // namespace TestSupport
