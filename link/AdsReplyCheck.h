// Decides whether the reply an exchange delivered answers its request.
#ifndef ADSREPLYCHECK_H
#define ADSREPLYCHECK_H

#include <QByteArray>

class AdsReplyCheck
{
public:
    // What the exchange handed over.
    enum Delivery {
        CompleteFrame, // a whole frame carrying the request's invoke id
        Incomplete, // bytes that are not a whole acceptable frame (cut, too long, link lost)
        Nothing, // no byte at all
        OnlyStrangers // only frames that answer other requests
    };
    enum Verdict { Accepted, NoReply, WrongLength, ErrorCode, WrongSequence, StrangersOnly };

    struct Result {
        Verdict verdict;
        quint32 errorCode; // for ErrorCode: the AMS error code, else the ADS result
    };

    // A read (or read-write) reply carries headers, result, length and
    // exactly `dataLength` data bytes.
    static Result checkRead(Delivery delivery, const QByteArray &request, const QByteArray &reply,
                            qint64 dataLength);
    // A read-write reply carries as many data bytes as its own length field
    // says, never more than the request's read length.
    static Result checkReadWrite(Delivery delivery, const QByteArray &request, const QByteArray &reply,
                                 qint64 readLength);
    // A write reply is 42 bytes: headers and the ADS result.
    static Result checkWrite(Delivery delivery, const QByteArray &request, const QByteArray &reply);

    // The link's result for a verdict: 0 accepted, -2 no reply, -1 otherwise.
    static int linkResult(Verdict verdict);

private:
    static bool nothingUsable(Delivery delivery, const QByteArray &reply, Result *result);
    static bool carriesError(const QByteArray &reply, Result *result);
    static bool sameInvokeId(const QByteArray &request, const QByteArray &reply);
};

#endif // ADSREPLYCHECK_H
