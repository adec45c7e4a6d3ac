#include "tests/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QMutexLocker>

namespace TestSupport {

QStringList requestKinds(const QList<QByteArray> &requests, int from)
{
    QStringList kinds;
    for (int i = from; i < requests.size(); ++i) {
        const QByteArray &r = requests.at(i);
        const quint16 command = le16(r, AdsLayout::OffCommand);
        const quint32 group = le32(r, AdsLayout::OffIndexGroup);
        const QString verb =
            command == AdsLayout::CmdWrite ? QStringLiteral("write") : QStringLiteral("read");
        if (command == AdsLayout::CmdReadWrite)
            kinds << (group == 0xF003   ? QStringLiteral("handle")
                      : group == 0xF009 ? QStringLiteral("lookup")
                                        : QStringLiteral("read-write"));
        else if (group == 0xF005)
            kinds << verb + QStringLiteral(" by handle");
        else if (group == 0xF006 && command == AdsLayout::CmdWrite)
            kinds << QStringLiteral("release");
        else if (group == 0xF008 && command == AdsLayout::CmdRead)
            kinds << QStringLiteral("version");
        else
            kinds << verb;
    }
    return kinds;
}

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
