#include "host/AdsctlOptions.h"

#include "host/SymbolListing.h"
#include "host/ValueText.h"

#include <QRegularExpression>

namespace {
const int kMaxWaitMs = 3600000; // the driver's own limit: an hour

// A plain decimal integer from `low` to `high`.
bool decimal(const QString &text, qint64 low, qint64 high, int *out)
{
    static const QRegularExpression form(QStringLiteral("^[+-]?[0-9]{1,12}$"));
    if (!form.match(text).hasMatch())
        return false;
    const qint64 v = text.toLongLong();
    if (v < low || v > high)
        return false;
    *out = int(v);
    return true;
}

// An AMS NetId: six numbers 0 to 255 joined by dots.
bool netId(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^[0-9]{1,3}(\\.[0-9]{1,3}){5}$"));
    if (!form.match(text).hasMatch())
        return false;
    for (const QString &part : text.split(QLatin1Char('.'))) {
        if (part.toInt() > 255)
            return false;
    }
    return true;
}

const char *kNetIdWanted = "six numbers 0 to 255 joined by dots (5.12.34.56.1.1)";

struct Parser {
    AdsctlOptions o;
    QStringList positional;
    QStringList given; // options seen, for the ones only some commands take

    bool fail(const QString &message)
    {
        if (o.error.isEmpty())
            o.error = message;
        return false;
    }

    bool option(const QString &name, const QStringList &args, int *i)
    {
        const QStringList withValue = {QStringLiteral("plugin"),   QStringLiteral("connect"),
                                       QStringLiteral("ams-port"), QStringLiteral("target"),
                                       QStringLiteral("source"),   QStringLiteral("connect-ms"),
                                       QStringLiteral("reply-ms"), QStringLiteral("par"),
                                       QStringLiteral("every"),    QStringLiteral("times")};
        const QStringList flags = {QStringLiteral("trace"), QStringLiteral("json"),
                                   QStringLiteral("help"),  QStringLiteral("version"),
                                   QStringLiteral("csv"),   QStringLiteral("leaves")};
        QString key = name;
        QString value;
        bool hasValue = false;
        const int eq = name.indexOf(QLatin1Char('='));
        if (eq >= 0) {
            key = name.left(eq);
            value = name.mid(eq + 1);
            hasValue = true;
        }
        if (flags.contains(key)) {
            if (hasValue)
                return fail(QStringLiteral("--%1 takes no value").arg(key));
        } else if (withValue.contains(key)) {
            if (!hasValue) {
                if (*i + 1 >= args.size() || args.at(*i + 1).startsWith(QLatin1String("--")))
                    return fail(QStringLiteral("--%1 needs a value").arg(key));
                value = args.at(++*i);
            }
        } else {
            return fail(QStringLiteral("unknown option --%1").arg(key));
        }
        given << key;

        if (key == QLatin1String("help") || key == QLatin1String("version"))
            return true; // they replace the command, once the line is read
        if (key == QLatin1String("trace"))
            o.trace = true;
        else if (key == QLatin1String("json"))
            o.json = true;
        else if (key == QLatin1String("csv"))
            o.csv = true;
        else if (key == QLatin1String("leaves"))
            o.leaves = true;
        else if (key == QLatin1String("plugin"))
            o.pluginPath = value;
        else if (key == QLatin1String("connect")) {
            if (value.isEmpty())
                return fail(QStringLiteral("--connect needs a connection text"));
            o.connectText = value;
        } else if (key == QLatin1String("ams-port")) {
            if (!decimal(value, 1, 65535, &o.amsPort))
                return fail(QStringLiteral("--ams-port wants a port 1 to 65535, not '%1'").arg(value));
        } else if (key == QLatin1String("target")) {
            if (!netId(value))
                return fail(QStringLiteral("--target wants a NetId, %1, not '%2'")
                                .arg(QLatin1String(kNetIdWanted), value));
            o.targetNetId = value;
        } else if (key == QLatin1String("source")) {
            if (value != QLatin1String("auto") && !netId(value))
                return fail(QStringLiteral("--source wants a NetId, %1, or auto, not '%2'")
                                .arg(QLatin1String(kNetIdWanted), value));
            o.source = value;
        } else if (key == QLatin1String("connect-ms") || key == QLatin1String("reply-ms")) {
            int *ms = key == QLatin1String("connect-ms") ? &o.connectMs : &o.replyMs;
            if (!decimal(value, 1, kMaxWaitMs, ms))
                return fail(QStringLiteral("--%1 wants milliseconds 1 to %2, not '%3'")
                                .arg(key)
                                .arg(kMaxWaitMs)
                                .arg(value));
        } else if (key == QLatin1String("par")) {
            if (value.isEmpty())
                return fail(QStringLiteral("--par needs a parameter text"));
            o.parText = value;
        } else if (key == QLatin1String("every")) {
            if (!decimal(value, 0, 86400000, &o.everyMs))
                return fail(QStringLiteral("--every wants milliseconds 0 to 86400000, not '%1'").arg(value));
            o.everyGiven = true;
        } else if (key == QLatin1String("times")) {
            if (!decimal(value, 1, 2147483647, &o.times))
                return fail(QStringLiteral("--times wants a count of 1 or more, not '%1'").arg(value));
        }
        return true;
    }

    bool addressAndType(const QString &command)
    {
        if (positional.size() < 3)
            return fail(QStringLiteral("%1 needs ADDRESS and TYPE").arg(command));
        o.address = positional.at(1);
        o.type = ValueText::typeFromName(positional.at(2));
        if (o.type == DT_None)
            return fail(QStringLiteral("unknown type '%1' (one of %2)")
                            .arg(positional.at(2), ValueText::typeNames().join(QStringLiteral(", "))));
        return true;
    }

    bool optionalCount(const QString &command)
    {
        if (positional.size() > 4)
            return fail(QStringLiteral("%1 takes at most ADDRESS TYPE COUNT; '%2' is one too many")
                            .arg(command, positional.at(4)));
        if (positional.size() == 4 && !decimal(positional.at(3), 1, 2147483647, &o.count))
            return fail(
                QStringLiteral("count '%1' is not a whole number of 1 or more").arg(positional.at(3)));
        return true;
    }

    // --par goes to SetConnectPar as it is: what the other options would
    // add to it belongs in its text.
    void parAlone()
    {
        if (!given.contains(QStringLiteral("par")))
            return;
        for (const char *other : {"ams-port", "target", "source", "connect-ms", "reply-ms"}) {
            if (given.contains(QLatin1String(other))) {
                fail(QStringLiteral("--par and --%1 do not mix: --par goes to SetConnectPar as it is, so "
                                    "write what --%1 says in its text")
                         .arg(QLatin1String(other)));
                return;
            }
        }
    }

    void symbolsPattern()
    {
        if (positional.size() > 2) {
            fail(QStringLiteral("symbols takes at most a PATTERN; '%1' is one too many")
                     .arg(positional.at(2)));
            return;
        }
        if (positional.size() < 2)
            return;
        o.pattern = positional.at(1);
        if (o.pattern.isEmpty() || !SymbolListing::glob(o.pattern).isValid())
            fail(QStringLiteral("pattern '%1' is no glob (MAIN.*, *Temp*, GVL.?Run)").arg(o.pattern));
    }

    // error CODE: hex with 0x, or decimal; 32 bits.
    void errorCode()
    {
        static const QRegularExpression form(QStringLiteral("^(0[xX][0-9A-Fa-f]{1,8}|[0-9]{1,10})$"));
        const QString text = positional.value(1);
        bool ok = positional.size() == 2 && form.match(text).hasMatch();
        const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
        const quint64 code = ok ? (hex ? text.mid(2).toULongLong(&ok, 16) : text.toULongLong(&ok, 10)) : 0;
        if (!ok || code > 0xFFFFFFFFu) {
            fail(QStringLiteral("usage: adsctl error CODE, CODE hex (0x705) or decimal (1797)%1")
                     .arg(positional.size() > 2
                              ? QStringLiteral("; '%1' is one too many").arg(positional.at(2))
                          : positional.size() < 2 ? QString()
                                                  : QStringLiteral(", not '%1'").arg(text)));
            return;
        }
        o.errorCode = quint32(code);
    }

    bool onlyFor(const QString &key, const QList<AdsctlOptions::Command> &commands, const QString &which)
    {
        if (given.contains(key) && !commands.contains(o.command))
            return fail(QStringLiteral("--%1 is for %2 only").arg(key, which));
        return true;
    }

    void command()
    {
        if (positional.isEmpty()) {
            fail(QStringLiteral(
                "no command given (info, read, write, watch, symbols or error; --help tells more)"));
            return;
        }
        const QString name = positional.first();
        if (name == QLatin1String("info")) {
            o.command = AdsctlOptions::Info;
            if (positional.size() > 1)
                fail(QStringLiteral("info takes no arguments; '%1' is one too many").arg(positional.at(1)));
        } else if (name == QLatin1String("read")) {
            o.command = AdsctlOptions::Read;
            if (addressAndType(name))
                optionalCount(name);
        } else if (name == QLatin1String("watch")) {
            o.command = AdsctlOptions::Watch;
            if (addressAndType(name))
                optionalCount(name);
        } else if (name == QLatin1String("write")) {
            o.command = AdsctlOptions::Write;
            if (!addressAndType(name))
                return;
            if (positional.size() < 4) {
                fail(QStringLiteral("write needs at least one VALUE after ADDRESS and TYPE"));
                return;
            }
            QString error;
            o.values = ValueText::parse(o.type, positional.mid(3), &error);
            if (!o.values.isValid())
                fail(error);
            o.count = positional.size() - 3;
        } else if (name == QLatin1String("symbols")) {
            o.command = AdsctlOptions::Symbols;
            symbolsPattern();
        } else if (name == QLatin1String("error")) {
            o.command = AdsctlOptions::Error;
            errorCode();
        } else {
            fail(QStringLiteral("unknown command '%1' (info, read, write, watch, symbols or error)")
                     .arg(name));
        }
    }
};
} // namespace

AdsctlOptions AdsctlOptions::parse(const QStringList &arguments)
{
    Parser p;
    bool optionsEnd = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (!optionsEnd && a == QLatin1String("--")) {
            optionsEnd = true;
        } else if (!optionsEnd && a.startsWith(QLatin1String("--"))) {
            if (!p.option(a.mid(2), arguments, &i))
                return p.o;
        } else if (!optionsEnd && a == QLatin1String("-h")) {
            p.given << QStringLiteral("help");
        } else {
            // Anything else, "-5" too, is an argument: values may be negative.
            p.positional << a;
        }
    }
    const bool help = p.given.contains(QStringLiteral("help"));
    const bool version = p.given.contains(QStringLiteral("version"));
    if (help || version) {
        // Whatever else the line holds, only the plug-in matters to --version.
        AdsctlOptions only;
        only.command = help ? Help : Version;
        only.pluginPath = p.o.pluginPath;
        return only;
    }
    p.command();
    if (p.o.error.isEmpty()) {
        p.parAlone();
        p.onlyFor(QStringLiteral("json"), {Read, Watch, Symbols}, QStringLiteral("read, watch and symbols"));
        p.onlyFor(QStringLiteral("every"), {Watch}, QStringLiteral("watch"));
        p.onlyFor(QStringLiteral("times"), {Watch}, QStringLiteral("watch"));
        p.onlyFor(QStringLiteral("csv"), {Symbols}, QStringLiteral("symbols"));
        p.onlyFor(QStringLiteral("leaves"), {Symbols}, QStringLiteral("symbols"));
        if (p.o.json && p.o.csv)
            p.fail(QStringLiteral("--json and --csv do not mix: choose one form"));
    }
    return p.o;
}

namespace {
// Whether SetConnectPar's text sets notify-ms itself: then the host's word stands.
bool namesNotifyMs(const QString &text)
{
    for (const QString &segment : text.split(QLatin1Char(';'))) {
        if (segment.section(QLatin1Char('='), 0, 0).trimmed() == QLatin1String("notify-ms"))
            return true;
    }
    return false;
}
} // namespace

QString AdsctlOptions::connectPar() const
{
    const QString given = givenPar();
    if (command != Watch || everyGiven || namesNotifyMs(given))
        return given;
    const QString notify = QStringLiteral("notify-ms=%1").arg(kWatchNotifyMs);
    return given.isEmpty() ? notify : given + QLatin1Char(';') + notify;
}

QString AdsctlOptions::givenPar() const
{
    if (!parText.isEmpty())
        return parText;
    QStringList parts;
    // The ADS address form when both are known, as a controller's is written.
    if (!targetNetId.isEmpty() && amsPort != 0)
        parts << QStringLiteral("%1:%2").arg(targetNetId).arg(amsPort);
    else if (amsPort != 0)
        parts << QString::number(amsPort);
    else if (!targetNetId.isEmpty())
        parts << QStringLiteral("target=") + targetNetId;
    if (!source.isEmpty())
        parts << QStringLiteral("source=") + source;
    if (connectMs != 0)
        parts << QStringLiteral("connect-ms=%1").arg(connectMs);
    if (replyMs != 0)
        parts << QStringLiteral("reply-ms=%1").arg(replyMs);
    return parts.join(QLatin1Char(';'));
}

QString AdsctlOptions::usage()
{
    return QStringLiteral(
               "usage: adsctl [OPTIONS] info\n"
               "       adsctl [OPTIONS] read ADDRESS TYPE [COUNT] [--json]\n"
               "       adsctl [OPTIONS] write ADDRESS TYPE VALUE...\n"
               "       adsctl [OPTIONS] watch ADDRESS TYPE [COUNT] [--every MS] [--times N] [--json]\n"
               "       adsctl [OPTIONS] symbols [PATTERN] [--leaves] [--json | --csv]\n"
               "       adsctl error CODE\n"
               "       adsctl [--plugin PATH] --version\n"
               "\n"
               "ADDRESS  MB20, MW20 (M area, hex byte offset), MX10.3 (bit: decimal byte.bit),\n"
               "         IB/IW/IX and QB/QW/QX likewise, GROUP:OFFSET in hex (F030:10),\n"
               "         or a PLC variable by name (MAIN.nCounter, GVL.aTemps[3], .bRun)\n"
               "TYPE     bool, int8, uint8, int16, uint16, int32, uint32, float, int64, uint64, double,\n"
               "         string (a PLC STRING or WSTRING by name; one VALUE, one line, per string)\n"
               "PATTERN  a glob on symbol names, any case (MAIN.*, *Temp*); default: all\n"
               "CODE     an ADS or AMS error code, hex (0x705) or decimal (1797)\n"
               "\n"
               "CONNECTION\n"
               "  --connect TEXT    IP:PORT (127.0.0.1:48898; a numeric address: names are not\n"
               "                    looked up) or PORT,BAUD,DATABITS,STOPBITS,PARITY\n"
               "                    (/dev/ttyUSB0,115200,8,1,N); without it adsctl starts a\n"
               "                    simulated controller in its own process, with zeroed memory\n"
               "  --ams-port N      the controller's AMS port (driver default 851)\n"
               "  --target NETID    the controller's AMS NetId, e.g. 5.12.34.56.1.1 (driver\n"
               "                    default: the IP address of --connect, then .1.1)\n"
               "  --source NETID    the NetId adsctl speaks as, the one the controller's route\n"
               "                    names; auto: this machine's IP address towards the\n"
               "                    controller, then .1.1 (driver default 192.168.10.100.1.1)\n"
               "  --connect-ms MS   the wait for the TCP connection (driver default 30000)\n"
               "  --reply-ms MS     the wait for each reply (driver default 2050)\n"
               "  --par TEXT        SetConnectPar's text as it is, instead of the five options\n"
               "                    above (5.12.34.56.1.1:851;source=auto;reconnect-ms=0)\n"
               "\n"
               "OTHER OPTIONS\n"
               "  --json            read: the elements as a JSON array; watch: a JSON object a\n"
               "                    line (time, result, values; or error and reason); symbols:\n"
               "                    one object per symbol (name, type, size, group, offset,\n"
               "                    comment)\n"
               "  --csv             symbols: CSV (RFC 4180) with a header line, the same fields,\n"
               "                    numbers in decimal\n"
               "  --leaves          symbols: structures and arrays of structures expanded into\n"
               "                    their members, down to the leaves (MAIN.stMotor.nSpeed,\n"
               "                    GVL.aAxes[1].fPos), from the data type upload; PATTERN\n"
               "                    matches the leaves' names\n"
               "  --every MS        watch: read every MS ms, each read a request (default: every\n"
               "                    100 ms, answered from the controller's change notifications,\n"
               "                    SetConnectPar notify-ms=100)\n"
               "  --times N         watch: stop after N lines, values or outages (default: until\n"
               "                    SIGINT or SIGTERM)\n"
               "  --trace           the driver's frame trace on stderr\n"
               "  --plugin PATH     the driver plug-in; without it, the first that exists of\n"
               "                    %1 (installed) and\n"
               "                    %2 (build tree), from adsctl's folder\n"
               "  --version         adsctl's version, the plug-in's version and build stamp\n"
               "  --help            this text\n"
               "\n"
               "Values go to stdout, one per line (or a JSON array with --json); the driver's\n"
               "result goes to stderr. watch prints on stdout a time-stamped line when the\n"
               "value or the result changes (a failed read with its code, meaning and the\n"
               "driver's reason), and goes on through a lost connection, which the driver\n"
               "brings back by itself. symbols uploads the controller's symbol table and\n"
               "lists the matching names with type, size, GROUP and OFFSET (hex), and\n"
               "comment. error prints what an ADS or AMS error code means, without loading\n"
               "the plug-in.\n"
               "Exit status: 0 the driver reported success (error: always; watch: N lines\n"
               "printed, or stopped after a read that succeeded), 1 it did not (watch: no read\n"
               "ever succeeded, or stopped during an outage; or the connection failed, or the\n"
               "symbol or data type table does not hold together or was refused), 2 bad input\n"
               "(nothing was sent).\n")
        .arg(QStringLiteral(ADS_PLUGIN_INSTALLED_PATH), QStringLiteral(ADS_PLUGIN_BUILT_PATH));
}
