#include "link/AdsCommand.h"

#include "link/AdsLayout.h"
#include "link/WireBytes.h"

namespace {
using L = AdsLayout;

// id, name, request fields, reply fields, carries data, exactly as asked, ours, traced as a read
const AdsCommand kCommands[] = {
    {L::CmdReadDeviceInfo, "read device info", 0, 4 + 4 + 16, false, false, true, true},
    {L::CmdRead, "read", 12, 8, true, true, true, true},
    {L::CmdWrite, "write", 12, 4, false, false, true, false},
    {L::CmdReadState, "read state", 0, 4 + 4, false, false, true, true},
    {L::CmdWriteControl, "write control", 8, 4, false, false, true, false},
    {L::CmdAddNotification, "add notification", 40, 8, false, false, true, true},
    {L::CmdDeleteNotification, "delete notification", 4, 4, false, false, true, true},
    {L::CmdNotification, "notification", 0, 0, false, false, false, true},
    {L::CmdReadWrite, "read write", 16, 8, true, false, true, true},
};
} // namespace

const AdsCommand *AdsCommand::of(quint16 id)
{
    for (const AdsCommand &c : kCommands) {
        if (c.id == id)
            return &c;
    }
    return nullptr;
}

const AdsCommand *AdsCommand::of(const QByteArray &frame)
{
    return frame.size() >= L::OffCommand + 2 ? of(WireBytes::le16At(frame, L::OffCommand)) : nullptr;
}

qint64 AdsCommand::expectedReplySize(const QByteArray &request)
{
    const AdsCommand *c = of(request);
    if (!c)
        return L::HeaderSize;
    const qint64 data = c->replyCarriesData ? qint64(WireBytes::le32At(request, L::OffRequestLength)) : 0;
    return L::HeaderSize + c->replyFields + data;
}

bool AdsCommand::replyFits(const QByteArray &request, const QByteArray &reply)
{
    const AdsCommand *c = of(request);
    if (!c || !c->sentByClient)
        return false;
    const qint64 fixed = L::HeaderSize + c->replyFields;
    if (!c->replyCarriesData)
        return reply.size() == fixed;
    if (reply.size() < fixed)
        return false;
    const qint64 announced = WireBytes::le32At(reply, L::OffReadLength);
    const qint64 asked = WireBytes::le32At(request, L::OffRequestLength);
    const bool amount = c->replyExactlyAsAsked ? announced == asked : announced <= asked;
    return amount && reply.size() == fixed + announced;
}

bool AdsCommand::answersOurs(quint16 id)
{
    const AdsCommand *c = of(id);
    return c && c->sentByClient;
}
