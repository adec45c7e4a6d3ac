// The parameter text of SetConnectPar.
//
//   851                                   the AMS port, as always
//   5.12.34.56.1.1:851                    target NetId and AMS port
//   851;source=auto;reply-ms=500          either form, then options
//
// Options are key=value, separated by ";": target=NETID,
// source=NETID|auto, source-port=N, connect-ms=N, reply-ms=N,
// reconnect-ms=N (0: off), reconnect-max-ms=N, down-after=N (0: never),
// event-loop-ms=N (0: a wait blocks), notify-ms=N (0: every read asks),
// notify-max=N, type-check=0|1. A NetId is six numbers 0 to 255 joined by dots.
// A text without ":", ";" and "=" is read as the AMS port exactly as always
// (not a number, or above 65535: 0). Any other text follows the grammar
// above or is refused whole: "1.2.3:851" must not quietly become port 0.
#ifndef CONNECTPARAMETERS_H
#define CONNECTPARAMETERS_H

#include "link/LinkSettings.h"

#include <QString>

class ConnectParameters
{
public:
    // Applies `text` to the AMS port and the link's settings; false, with
    // nothing changed, when it names an unknown key, a bad NetId or a value
    // out of range.
    static bool apply(const QString &text, int *amsPort, LinkSettings *link);

    // Six numbers 0 to 255 joined by dots; false for anything else.
    static bool parseNetId(const QString &text, QByteArray *netId);
    static QString netIdText(const QByteArray &netId);

private:
    static bool applyOption(const QString &key, const QString &value, LinkSettings *link);
    static bool number(const QString &text, int min, int max, int *out);
};

#endif // CONNECTPARAMETERS_H
