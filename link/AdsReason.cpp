#include "link/AdsReason.h"

#include "link/AdsErrorText.h"
#include "link/AdsFrame.h"
#include "link/AmsRoute.h"
#include "link/WireBytes.h"

#include <QStringList>

QString AdsReason::ofOutcome(AdsExchange::Progress progress, const AdsReplyCheck::Result &check, int replyMs)
{
    switch (check.verdict) {
    case AdsReplyCheck::Accepted: return QString();
    case AdsReplyCheck::NoReply: return QStringLiteral("no reply within %1 ms").arg(replyMs);
    case AdsReplyCheck::ErrorCode: {
        const QString code = QStringLiteral("0x%1").arg(check.errorCode, 0, 16);
        const QString meaning = AdsErrorText::meaning(check.errorCode);
        const QString kind =
            check.amsError ? QStringLiteral("AMS error") : QStringLiteral("controller error");
        return meaning.isEmpty() ? QStringLiteral("%1 %2").arg(kind, code)
                                 : QStringLiteral("%1 %2: %3").arg(kind, code, meaning);
    }
    case AdsReplyCheck::WrongReply: break;
    }
    switch (progress) {
    case AdsExchange::CutShort:
        return QStringLiteral("only part of the reply came within %1 ms").arg(replyMs);
    case AdsExchange::Oversized:
        return QStringLiteral(
            "the reply's announced length does not fit the request: more than it asked for, "
            "or impossible");
    default:
        return QStringLiteral(
            "a reply that does not answer the request: its command, flags or lengths differ");
    }
}

QString AdsReason::ofSkipped(AdsExchange::Skipped kind, const QByteArray &bytes, qint64 size)
{
    if (kind == AdsExchange::Stranger && bytes.size() >= AdsFrame::OffInvokeId + 4)
        return QStringLiteral("skipped a reply to another request (invoke id %1)")
            .arg(WireBytes::le32(bytes.constData() + AdsFrame::OffInvokeId));
    return QStringLiteral("skipped %1 bytes that are no frame of ours").arg(size);
}

QString AdsReason::ofLoss(bool duringRequest, const QString &socketError, const QByteArray &sourceNetId)
{
    if (duringRequest)
        return QStringLiteral(
                   "the controller closed the connection right after a request: it may have no route "
                   "for the source NetId %1 in use (add one on the controller, or set source=)")
            .arg(AmsRoute::netIdText(sourceNetId));
    return QStringLiteral("the connection was lost (%1)").arg(socketError);
}

QString AdsReason::linkDown()
{
    return QStringLiteral("link down: nothing was sent");
}

QString AdsReason::busy()
{
    return QStringLiteral("busy: another request of this driver waits for its reply; nothing was sent");
}

QString AdsReason::line(const AdsLog::Context &c, const QString &reason)
{
    return QStringLiteral("lib[Beckhoff]%1:%2 ID=%3 %4: %5")
        .arg(c.host, QString::number(c.tcpPort), QString::number(c.amsPort), c.varName, reason);
}
