// Helpers shared by the tests that drive a real link: capture of the Qt
// message log, the plug-in loaded as a host loads it, and byte texts.
#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include "link/AdsLayout.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace TestSupport {

// The host's result codes, written out here on purpose: the tests hold the
// numbers of the contract, not the product's names for them.
constexpr int kOk = 0;
constexpr int kNotDone = 1;
constexpr int kTypeNotHandled = 2;
constexpr int kNoArea = 3;
constexpr int kCountBelowOne = 4;
constexpr int kBadOffsetOrCount = 5;
constexpr int kBusy = 6;
constexpr int kWrongReply = 7;
constexpr int kNoReply = 8;
constexpr int kLinkDown = 9;

// The wait for one reply most tests choose, so that faults that wait it
// out cost a fraction of the default 2050 ms; a few rows keep the default.
const char *const kShortWaits = "851;reply-ms=300";
const int kShortWaitMs = 300;

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

// A reply to `request` as a controller sends it: the request's addresses
// swapped, its command and invoke id, the response flag, `data` after the
// header.
inline QByteArray replyTo(const QByteArray &request, const QByteArray &data, quint32 amsError = 0)
{
    using L = AdsLayout;
    QByteArray r(L::HeaderSize, '\0');
    auto put32 = [&r](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            r[at + i] = char((v >> (8 * i)) & 0xff);
    };
    put32(L::OffTcpLength, quint32(L::AmsHeaderSize + data.size()));
    r.replace(L::OffTargetNetId, 8, request.mid(L::OffSourceNetId, 8));
    r.replace(L::OffSourceNetId, 8, request.mid(L::OffTargetNetId, 8));
    r.replace(L::OffCommand, 2, request.mid(L::OffCommand, 2));
    r[L::OffStateFlags] = char(L::StateAdsCommand | L::StateResponse);
    put32(L::OffAmsLength, quint32(data.size()));
    put32(L::OffErrorCode, amsError);
    r.replace(L::OffInvokeId, 4, request.mid(L::OffInvokeId, 4));
    return r + data;
}

// The data of a read reply: result, length, bytes.
inline QByteArray readData(quint32 result, const QByteArray &bytes)
{
    QByteArray d(8, '\0');
    for (int i = 0; i < 4; ++i) {
        d[i] = char((result >> (8 * i)) & 0xff);
        d[4 + i] = char((quint32(bytes.size()) >> (8 * i)) & 0xff);
    }
    return d + bytes;
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

// What each request from `from` on asked for: "lookup" (0xF009), "handle"
// (0xF003), "read by handle" and "write by handle" (0xF005), "release"
// (0xF006), "version" (0xF008), or "read" and "write" anywhere else.
QStringList requestKinds(const QList<QByteArray> &requests, int from = 0);

// The plug-in's path, as CTest passes it.
QString pluginPath();

} // namespace TestSupport

#endif // TESTSUPPORT_H
