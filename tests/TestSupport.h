// Helpers shared by the tests that drive a real link: capture of the Qt
// message log, the plug-in loaded as a host loads it, and byte texts.
#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace TestSupport {

inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// Little-endian fields of a frame, read the plain way.
inline quint16 le16(const QByteArray &b, int at)
{
    return quint16(quint8(b.at(at)) | quint8(b.at(at + 1)) << 8);
}

inline quint32 le32(const QByteArray &b, int at)
{
    return quint32(le16(b, at)) | quint32(le16(b, at + 2)) << 16;
}

// Collects every line of the Qt message log while it lives.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    QStringList warnings() const;
    QStringList debugLines() const;
    QStringList all() const;
    void clear();

private:
    static void handler(QtMsgType type, const QMessageLogContext &, const QString &msg);
    static LogCapture *s_active;
    QtMessageHandler m_previous;
    mutable QMutex m_mutex;
    QList<QPair<QtMsgType, QString>> m_lines;
};

// The plug-in's path, as CTest passes it.
QString pluginPath();

} // namespace TestSupport

#endif // TESTSUPPORT_H
