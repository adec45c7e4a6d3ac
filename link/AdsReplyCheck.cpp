#include "AdsReplyCheck.h"

#include "AdsFrame.h"
#include "WireBytes.h"

using WireBytes::le32At;

bool AdsReplyCheck::nothingUsable(Delivery delivery, const QByteArray &reply, Result *result)
{
    if (!reply.isEmpty())
        return false;
    *result = {delivery == OnlyStrangers ? StrangersOnly : NoReply, 0};
    return true;
}

// Both error fields are looked at whole: an AMS error such as 0x700 has a
// zero low byte, and an ADS result is an error whatever the command.
bool AdsReplyCheck::carriesError(const QByteArray &reply, Result *result)
{
    const quint32 amsError = le32At(reply, AdsFrame::OffErrorCode);
    const quint32 adsResult = le32At(reply, AdsFrame::OffAdsResult);
    if (amsError == 0 && adsResult == 0)
        return false;
    *result = {ErrorCode, amsError != 0 ? amsError : adsResult};
    return true;
}

bool AdsReplyCheck::sameInvokeId(const QByteArray &request, const QByteArray &reply)
{
    const int at = AdsFrame::OffInvokeId;
    return reply.size() >= at + 2 && request.size() >= at + 2 && reply.at(at) == request.at(at)
           && reply.at(at + 1) == request.at(at + 1);
}

AdsReplyCheck::Result AdsReplyCheck::checkRead(Delivery delivery, const QByteArray &request,
                                               const QByteArray &reply, qint64 dataLength)
{
    Result result{Accepted, 0};
    if (nothingUsable(delivery, reply, &result) || carriesError(reply, &result))
        return result;
    if (delivery != CompleteFrame || reply.size() != AdsFrame::ReadReplyHeaderSize + dataLength)
        return {WrongLength, 0};
    if (!sameInvokeId(request, reply))
        return {WrongSequence, 0};
    return result;
}

AdsReplyCheck::Result AdsReplyCheck::checkReadWrite(Delivery delivery, const QByteArray &request,
                                                    const QByteArray &reply, qint64 readLength)
{
    const qint64 announced = le32At(reply, AdsFrame::OffReadLength);
    // More than was asked for matches no reply size: it fails as a wrong length.
    return checkRead(delivery, request, reply, announced <= readLength ? announced : -1);
}

AdsReplyCheck::Result AdsReplyCheck::checkWrite(Delivery delivery, const QByteArray &request,
                                                const QByteArray &reply)
{
    Result result{Accepted, 0};
    if (nothingUsable(delivery, reply, &result) || carriesError(reply, &result))
        return result;
    if (delivery != CompleteFrame || reply.size() != AdsFrame::WriteReplySize
        || quint8(reply.at(AdsFrame::OffTcpLength)) != AdsFrame::WriteReplySize - AdsFrame::TcpHeaderSize)
        return {WrongLength, 0};
    if (!sameInvokeId(request, reply))
        return {WrongSequence, 0};
    return result;
}

int AdsReplyCheck::linkResult(Verdict verdict)
{
    switch (verdict) {
    case Accepted: return 0;
    case NoReply: return -2;
    default: return -1;
    }
}
