#include "link/AdsReplyCheck.h"

#include "link/AdsCommand.h"
#include "link/AdsFrame.h"
#include "link/WireBytes.h"

using WireBytes::le16At;
using WireBytes::le32At;

AdsReplyCheck::Result AdsReplyCheck::check(AdsExchange::Progress progress, const QByteArray &request,
                                           const QByteArray &reply)
{
    switch (progress) {
    case AdsExchange::Replied: break;
    case AdsExchange::Waiting:
    case AdsExchange::NoReply: return {NoReply, 0, false};
    case AdsExchange::Oversized:
    case AdsExchange::CutShort: return {WrongReply, 0, false};
    }
    Result result{Accepted, 0, false};
    if (!answersCommand(request, reply))
        return {WrongReply, 0, false};
    if (carriesError(reply, &result))
        return result;
    if (!dataFits(request, reply))
        return {WrongReply, 0, false};
    return result;
}

bool AdsReplyCheck::answersCommand(const QByteArray &request, const QByteArray &reply)
{
    return reply.size() >= AdsFrame::HeaderSize
           && le16At(reply, AdsFrame::OffCommand) == le16At(request, AdsFrame::OffCommand)
           && (le16At(reply, AdsFrame::OffStateFlags) & AdsFrame::StateResponse)
           && le32At(reply, AdsFrame::OffAmsLength) == quint32(reply.size() - AdsFrame::HeaderSize);
}

// Both error fields are looked at whole: an AMS error such as 0x700 has a
// zero low byte, and an ADS result is an error whatever the command.
bool AdsReplyCheck::carriesError(const QByteArray &reply, Result *result)
{
    const quint32 amsError = le32At(reply, AdsFrame::OffErrorCode);
    const quint32 adsResult = le32At(reply, AdsFrame::OffAdsResult);
    if (amsError == 0 && adsResult == 0)
        return false;
    *result = {ErrorCode, amsError != 0 ? amsError : adsResult, amsError != 0};
    return true;
}

bool AdsReplyCheck::dataFits(const QByteArray &request, const QByteArray &reply)
{
    return AdsCommand::replyFits(request, reply);
}

LinkResult AdsReplyCheck::linkResult(Verdict verdict)
{
    switch (verdict) {
    case Accepted: return LinkOk;
    case NoReply: return LinkNoReply;
    case WrongReply:
    case ErrorCode: break;
    }
    return LinkWrongReply;
}
