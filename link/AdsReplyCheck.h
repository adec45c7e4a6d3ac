// Decides whether the frame an exchange found answers its request. Every
// expectation comes from the request itself.
#ifndef ADSREPLYCHECK_H
#define ADSREPLYCHECK_H

#include "link/AdsExchange.h"
#include "link/LinkResult.h"

#include <QByteArray>

class AdsReplyCheck
{
public:
    enum Verdict {
        Accepted,
        NoReply, // nothing of ours came
        WrongReply, // ours, but not an answer the request can get (the wrong-length line)
        ErrorCode // the controller reported an error (its own line)
    };

    struct Result {
        Verdict verdict;
        quint32 errorCode; // for ErrorCode: the AMS error code, else the ADS result
        bool amsError; // for ErrorCode: whether it was the AMS error code
    };

    // A read reply carries exactly the bytes asked for; a read-write reply
    // as many as its own length says, never more than asked for; a write
    // reply only the result. All carry the request's command and the
    // response flag.
    static Result check(AdsExchange::Progress progress, const QByteArray &request, const QByteArray &reply);

    static LinkResult linkResult(Verdict verdict);

private:
    static bool answersCommand(const QByteArray &request, const QByteArray &reply);
    static bool carriesError(const QByteArray &reply, Result *result);
    static bool dataFits(const QByteArray &request, const QByteArray &reply);
};

#endif // ADSREPLYCHECK_H
