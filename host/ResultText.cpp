#include "host/ResultText.h"

#include "link/AdsErrorText.h"
#include "value/CLabelVariable.h"

#include <QRegularExpression>

namespace {
const char *resultMeaning(int code)
{
    switch (code) {
    case CLabelVariable::RC_Success: return "success";
    case CLabelVariable::RC_NotDone: return "not done";
    case CLabelVariable::RC_TypeNotHandled:
        return "data type not handled, or the value is not a list of that type, or a string at an area "
               "address or of a symbol that holds none";
    case CLabelVariable::RC_NoArea: return "the address names no known area or does not parse";
    case CLabelVariable::RC_CountBelowOne: return "count below 1";
    case CLabelVariable::RC_BadOffsetOrCount:
        return "negative offset, count too large, or fewer values than the count, or a string that does "
               "not fit (too long, a character its code page lacks, a zero inside)";
    case CLabelVariable::RC_Busy:
        return "busy: another request of this driver is waiting for its reply; nothing sent";
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

// The host of an Ethernet text when it is a name (letters in it), as the
// driver reads the text: serial with a ',', else the host before the first ':'.
QString hostName(const QString &text)
{
    static const QRegularExpression name(
        QStringLiteral("^(?=.*[A-Za-z])[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?"
                       "(\\.[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?)*\\.?$"));
    const int colon = text.indexOf(QLatin1Char(':'));
    if (text.contains(QLatin1Char(',')) || colon <= 0)
        return QString();
    const QString host = text.left(colon);
    return name.match(host).hasMatch() ? host : QString();
}
} // namespace

QString ResultText::ofResult(int code)
{
    return QStringLiteral("%1: %2").arg(code).arg(QLatin1String(resultMeaning(code)));
}

QString ResultText::ofAdsState(int state)
{
    static const char *const names[] = {"INVALID",   "IDLE",     "RESET",    "INIT",         "START",
                                        "RUN",       "STOP",     "SAVECFG",  "LOADCFG",      "POWERFAILURE",
                                        "POWERGOOD", "ERROR",    "SHUTDOWN", "SUSPEND",      "RESUME",
                                        "CONFIG",    "RECONFIG", "STOPPING", "INCOMPATIBLE", "EXCEPTION"};
    const int count = int(sizeof names / sizeof names[0]);
    return state >= 0 && state < count ? QStringLiteral("%1 %2").arg(state).arg(QLatin1String(names[state]))
                                       : QStringLiteral("%1 (no known state)").arg(state);
}

QString ResultText::ofRead(int code, quint32 controllerError)
{
    return QStringLiteral("%1: %2").arg(code).arg(readMeaning(code, controllerError));
}

QString ResultText::readMeaning(int code, quint32 controllerError)
{
    if (code != CLabelVariable::RC_WrongReply || controllerError == 0)
        return QLatin1String(resultMeaning(code));
    return AdsErrorText::reported(controllerError);
}

QString ResultText::ofConnect(int code, const QString &connectionText)
{
    const QString host = code == -1 ? hostName(connectionText) : QString();
    if (host.isEmpty())
        return QStringLiteral("%1: %2").arg(code).arg(QLatin1String(connectMeaning(code)));
    const QString numeric = host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0
                                ? QStringLiteral("127.0.0.1%1").arg(connectionText.mid(host.size()))
                                : QStringLiteral("the controller's IP address, IP:PORT");
    return QStringLiteral("%1: '%2' is a host name, and names are not looked up: give a numeric address (%3)")
        .arg(code)
        .arg(host, numeric);
}

QString ResultText::ofConnectPar(int answer, const QString &text)
{
    QString why;
    if (answer == -1)
        why = QStringLiteral("an unknown key, a bad NetId or a value out of range; nothing changed");
    else if (answer == 0)
        why = QStringLiteral("the driver read no AMS port in it");
    else
        why = QStringLiteral("AMS port %1 in force, not the one asked for").arg(answer);
    return QStringLiteral("SetConnectPar(\"%1\") answered %2: %3").arg(text).arg(answer).arg(why);
}
