// What happened, in English: the line that follows each warning of the
// link, and the reason a failed read's label carries in auxText. The
// warnings themselves keep the words hosts parse.
#ifndef ADSREASON_H
#define ADSREASON_H

#include "link/AdsExchange.h"
#include "link/AdsLog.h"
#include "link/AdsReplyCheck.h"

#include <QByteArray>
#include <QString>

class AdsReason
{
public:
    // Why a request failed, from the wait's end and the reply's check;
    // empty when it did not.
    static QString ofOutcome(AdsExchange::Progress progress, const AdsReplyCheck::Result &check, int replyMs);
    static QString ofSkipped(AdsExchange::Skipped kind, const QByteArray &bytes, qint64 size);
    // A connection that went: the controller may have dropped a source it
    // has no route for, when it went while a request waited.
    static QString ofLoss(bool duringRequest, const QString &socketError, const QByteArray &sourceNetId);
    static QString linkDown();
    static QString busy();

    // The line itself: "lib[Beckhoff]HOST:PORT ID=AMSPORT NAME: reason".
    static QString line(const AdsLog::Context &c, const QString &reason);
};

#endif // ADSREASON_H
