#include "host/ResultText.h"

#include "value/CLabelVariable.h"

namespace {
const char *resultMeaning(int code)
{
    switch (code) {
    case CLabelVariable::RC_Success: return "success";
    case CLabelVariable::RC_NotDone: return "not done";
    case CLabelVariable::RC_TypeNotHandled:
        return "data type not handled, or the value is not a list of that type";
    case CLabelVariable::RC_NoArea: return "the address names no known area or does not parse";
    case CLabelVariable::RC_CountBelowOne: return "count below 1";
    case CLabelVariable::RC_BadOffsetOrCount:
        return "negative offset, count too large, or fewer values than the count";
    case CLabelVariable::RC_WrongReply: return "wrong reply, or the controller reported an error";
    case CLabelVariable::RC_NoReply: return "no reply";
    case CLabelVariable::RC_LinkDown: return "link down, nothing sent";
    default: return "unknown result code";
    }
}

const char *connectMeaning(int code)
{
    switch (code) {
    case 0: return "connected";
    case -4: return "the connection text has no separator (':' for Ethernet, ',' for serial)";
    case -1: return "a field is missing, out of range or unsupported, or the port cannot be opened";
    case -3: return "no TCP connection";
    default: return "unknown connect result";
    }
}
} // namespace

QString ResultText::ofResult(int code)
{
    return QStringLiteral("%1: %2").arg(code).arg(QLatin1String(resultMeaning(code)));
}

QString ResultText::ofConnect(int code)
{
    return QStringLiteral("%1: %2").arg(code).arg(QLatin1String(connectMeaning(code)));
}
