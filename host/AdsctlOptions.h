// The command line of adsctl. Everything a command needs is checked here,
// before the plug-in is loaded, so that bad input never reaches a controller.
#ifndef ADSCTLOPTIONS_H
#define ADSCTLOPTIONS_H

#include "value/CLabelVariable.h"

#include <QString>
#include <QStringList>
#include <QVariant>

class AdsctlOptions
{
public:
    enum Command { Help, Version, Info, Read, Write, Watch, Symbols, Error };
    static constexpr int kWatchNotifyMs = 100;

    Command command = Help; // --help, -h; --version
    QString address;
    DataType type = DT_None;
    int count = 1;
    QVariant values; // write: the QList<T> of `type`, `count` elements
    QString pattern; // symbols: a glob on the names; empty for all
    quint32 errorCode = 0; // error: the code to tell the meaning of

    QString pluginPath; // empty: the plug-in beside the program
    QString connectText; // empty: a simulated controller in this process
    int amsPort = 0; // 0: the driver's default
    QString targetNetId; // empty: the driver's default
    QString source; // a NetId or "auto"; empty: the driver's default
    int connectMs = 0; // 0: the driver's default
    int replyMs = 0; // 0: the driver's default
    QString parText; // --par: SetConnectPar's text as given, instead of the five above
    bool trace = false;
    bool json = false;
    bool csv = false; // symbols
    bool leaves = false; // symbols: structures expanded into their members
    // watch: the time between reads. Without --every the driver answers them
    // from the controller's change notifications (notify-ms, kWatchNotifyMs).
    int everyMs = kWatchNotifyMs;
    bool everyGiven = false;
    int times = 0; // watch: lines printed before it stops; 0 until interrupted

    // A one-line message naming the problem; empty when the line was good.
    QString error;

    // The text for SetConnectPar: --par as given, or built from --ams-port,
    // --target, --source, --connect-ms and --reply-ms; empty when none was given.
    // A watch without --every adds notify-ms=100 unless the text names notify-ms.
    QString connectPar() const;

    // `arguments` without the program name.
    static AdsctlOptions parse(const QStringList &arguments);
    // The --help text; it names where adsctl looks for the plug-in.
    static QString usage();

private:
    // connectPar() as the connection options alone make it.
    QString givenPar() const;
};

#endif // ADSCTLOPTIONS_H
