#include "link/AdsLog.h"

#include "link/AdsReason.h"

#include <QDebug>
#include <QLoggingCategory>
#include <QThread>

// Every placeholder is filled in one pass: an address text that itself
// contains "%1" must show as it is, not swallow a later value.
QString AdsLog::exchangeLine(const char *pattern, const Context &c, const QString &hex)
{
    return QString::fromUtf8(pattern).arg(c.host, QString::number(c.tcpPort), QString::number(c.amsPort),
                                          c.varName, QString::number(c.byteLength), hex);
}

QString AdsLog::warningHex(const QByteArray &bytes, qint64 size)
{
    const qint64 whole = qMax<qint64>(size, bytes.size());
    if (whole <= kWarningBytes && bytes.size() == whole)
        return QString::fromLatin1(bytes.toHex());
    return QString::fromLatin1(
               QByteArray::fromRawData(bytes.constData(), qMin<int>(bytes.size(), kWarningBytes)).toHex())
           + QStringLiteral("...(%1 bytes)").arg(whole);
}

QString AdsLog::areaLine(const char *pattern, const Context &c, const QByteArray &bytes)
{
    return QString::fromUtf8(pattern).arg(c.host, QString::number(c.tcpPort), c.varName,
                                          QString::number(c.byteLength), QString::fromLatin1(bytes.toHex()));
}

QString AdsLog::readCommand(const Context &c, const QByteArray &frame)
{
    return exchangeLine("lib[Beckhoff]读命令 %1:%2 ID=%3 %4 len = %5 msg : %6", c,
                        QString::fromLatin1(frame.toHex()));
}

QString AdsLog::readResponse(const Context &c, const QByteArray &reply)
{
    return exchangeLine("lib[Beckhoff]读响应 %1:%2 ID=%3 %4 len = %5 msg : %6", c,
                        QString::fromLatin1(reply.toHex()));
}

QString AdsLog::writeCommand(const Context &c, const QByteArray &frame)
{
    return areaLine("lib[Beckhoff]写命令 %1:%2 Area=%3  len = %4 msg : %5", c, frame);
}

QString AdsLog::writeResponse(const Context &c, const QByteArray &reply)
{
    return areaLine("lib[Beckhoff]响应 %1:%2 Area=%3  len = %4 msg : %5", c, reply);
}

QString AdsLog::emptyReply(const Context &c, const QByteArray &reply)
{
    return exchangeLine("lib[Beckhoff]返回的报文长度为0 %1:%2 ID=%3 %4 len = %5 msg : %6", c,
                        warningHex(reply));
}

QString AdsLog::wrongLength(const Context &c, const QByteArray &reply, qint64 size)
{
    return exchangeLine("lib[Beckhoff]报文返回长度错误 %1:%2 ID=%3 %4 len = %5 msg : %6", c,
                        warningHex(reply, size));
}

QString AdsLog::wrongSequence(const Context &c, const QByteArray &reply, qint64 size)
{
    return exchangeLine("lib[Beckhoff]报文返回序号错误 %1:%2 ID=%3 %4 len = %5 msg : %6", c,
                        warningHex(reply, size));
}

QString AdsLog::errorCode(const Context &c, quint32 code, const QByteArray &reply)
{
    return QString::fromUtf8("lib[Beckhoff]报文返回错误码 %1:%2 ID=%3 %4 len = %5 err = %6 msg : %7")
        .arg(c.host, QString::number(c.tcpPort), QString::number(c.amsPort), c.varName,
             QString::number(c.byteLength), QStringLiteral("0x") + QString::number(code, 16),
             warningHex(reply));
}

QString AdsLog::linkLost(const QString &host, int tcpPort)
{
    return QStringLiteral("lib[Beckhoff]%1:%2").arg(host, QString::number(tcpPort));
}

namespace {
QString threadName(const QThread *thread)
{
    if (!thread)
        return QStringLiteral("(none)");
    if (!thread->objectName().isEmpty())
        return thread->objectName();
    return QStringLiteral("0x%1").arg(quintptr(thread), 0, 16);
}
} // namespace

QString AdsLog::foreignThread(const QThread *caller, const QThread *owner)
{
    return QStringLiteral("lib[Beckhoff]call refused: thread %1 called a driver that belongs to thread %2")
        .arg(threadName(caller), threadName(owner));
}

// Hosts filter the link's lines by this category, e.g.
// QT_LOGGING_RULES="beckhoff.ads.debug=false".
Q_LOGGING_CATEGORY(lcAds, "beckhoff.ads")

void AdsLog::trace(const QString &line)
{
    qCDebug(lcAds).noquote() << line;
}

void AdsLog::warn(const QString &line)
{
    qCWarning(lcAds).noquote() << line;
}

void AdsLog::info(const QString &line)
{
    qCInfo(lcAds).noquote() << line;
}

void AdsLog::warnLinkLost(const QString &host, int tcpPort, QAbstractSocket::SocketError error)
{
    qCWarning(lcAds).noquote() << linkLost(host, tcpPort) << error;
}

void AdsLog::warnVerdict(const Context &c, const AdsReplyCheck::Result &check, const QByteArray &reply,
                         bool isRead, const QString &reason)
{
    switch (check.verdict) {
    case AdsReplyCheck::NoReply:
        if (!isRead)
            return; // a write with no reply has never had a line
        warn(emptyReply(c, reply));
        break;
    case AdsReplyCheck::WrongReply: warn(wrongLength(c, reply)); break;
    case AdsReplyCheck::ErrorCode: warn(errorCode(c, check.errorCode, reply)); break;
    case AdsReplyCheck::Accepted: return;
    }
    warn(AdsReason::line(c, reason));
}

void AdsLog::warnSkipped(const Context &c, AdsExchange::Skipped kind, const QByteArray &bytes, qint64 size,
                         int *skipped)
{
    if (++*skipped <= kSkipsShown) {
        warn(kind == AdsExchange::Stranger ? wrongSequence(c, bytes, size) : wrongLength(c, bytes, size));
        warn(AdsReason::line(c, AdsReason::ofSkipped(kind, bytes, size)));
    }
}

void AdsLog::warnMoreSkipped(const Context &c, int skipped)
{
    if (skipped > kSkipsShown)
        warn(QStringLiteral(
                 "lib[Beckhoff]%1:%2 ID=%3 %4 len = %5: %6 more frames or runs of bytes not ours skipped")
                 .arg(c.host, QString::number(c.tcpPort), QString::number(c.amsPort), c.varName,
                      QString::number(c.byteLength), QString::number(skipped - kSkipsShown)));
}
