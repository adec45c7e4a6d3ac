#include "sim/AdsSimOptions.h"

#include "sim/SimRouter.h"

#include <QRegularExpression>

namespace {
const QStringList kWithValue = {
    QStringLiteral("listen"),
    QStringLiteral("ams-port"),
    QStringLiteral("image"),
    QStringLiteral("delay-ms"),
    QStringLiteral("drop-every"),
    QStringLiteral("ads-error"),
    QStringLiteral("netid"),
    QStringLiteral("route"),
    QStringLiteral("state"),
    QStringLiteral("device-name"),
    QStringLiteral("max-notifications"),
    QStringLiteral("clock"),
};
const QStringList kFlags = {QStringLiteral("serial"),       QStringLiteral("verbose"),
                            QStringLiteral("help"),         QStringLiteral("version"),
                            QStringLiteral("no-handles"),   QStringLiteral("no-symbol-version"),
                            QStringLiteral("no-data-types")};

// Decimal, or hex with 0x; nothing else, so that "12abc" is refused.
bool number(const QString &text, quint64 limit, quint64 *out)
{
    bool ok = false;
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const QString digits = hex ? text.mid(2) : text;
    // toULongLong alone would also take a sign and blanks around the digits.
    static const QRegularExpression form(QStringLiteral("^[0-9A-Fa-f]+$"));
    if (!form.match(digits).hasMatch())
        return false;
    const quint64 value = digits.toULongLong(&ok, hex ? 16 : 10);
    if (!ok || value > limit)
        return false;
    *out = value;
    return true;
}

bool listenText(const QString &text, QHostAddress *address, quint16 *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    quint64 p = 0;
    if (!address->setAddress(host) || !number(text.mid(colon + 1), 65535, &p))
        return false;
    *port = quint16(p);
    return true;
}

// "851,852": ports 1 to 65535, each once.
bool portList(const QString &text, QList<int> *ports)
{
    for (const QString &part : text.split(QLatin1Char(','))) {
        quint64 p = 0;
        if (!number(part, 65535, &p) || p == 0 || ports->contains(int(p)))
            return false;
        ports->append(int(p));
    }
    return true;
}

struct Parser {
    AdsSimOptions o;
    bool portsGiven = false;

    bool fail(const QString &message)
    {
        if (o.error.isEmpty())
            o.error = message;
        return false;
    }

    // `args[*i]` starts with "--"; a value is "--name=value" or the next argument.
    bool option(const QStringList &args, int *i)
    {
        QString key = args.at(*i).mid(2);
        QString value;
        bool hasValue = false;
        const int eq = key.indexOf(QLatin1Char('='));
        if (eq >= 0) {
            value = key.mid(eq + 1);
            key = key.left(eq);
            hasValue = true;
        }
        if (kFlags.contains(key)) {
            if (hasValue)
                return fail(QStringLiteral("--%1 takes no value").arg(key));
        } else if (kWithValue.contains(key)) {
            if (!hasValue) {
                if (*i + 1 >= args.size() || args.at(*i + 1).startsWith(QLatin1String("--")))
                    return fail(QStringLiteral("--%1 needs a value").arg(key));
                value = args.at(++*i);
            }
        } else {
            return fail(QStringLiteral("unknown option --%1").arg(key));
        }
        return apply(key, value);
    }

    bool apply(const QString &key, const QString &value)
    {
        quint64 n = 0;
        if (key == QLatin1String("help"))
            o.help = true;
        else if (key == QLatin1String("serial"))
            o.serial = true;
        else if (key == QLatin1String("verbose"))
            o.verbose = true;
        else if (key == QLatin1String("no-handles"))
            o.noHandles = true;
        else if (key == QLatin1String("no-symbol-version"))
            o.noSymbolVersion = true;
        else if (key == QLatin1String("no-data-types"))
            o.noDataTypes = true;
        else if (key == QLatin1String("version"))
            o.version = true;
        else if (key == QLatin1String("state")) {
            const QStringList states = {QStringLiteral("run"), QStringLiteral("stop"),
                                        QStringLiteral("config")};
            const quint16 codes[] = {5, 6, 15};
            const int which = states.indexOf(value.toLower());
            if (which < 0)
                return fail(QStringLiteral("--state wants run, stop or config, not '%1'").arg(value));
            o.adsState = codes[which];
        } else if (key == QLatin1String("device-name")) {
            // A longer name is cut on the wire, as ReadDeviceInfo holds 15 bytes of it.
            if (value.isEmpty())
                return fail(QStringLiteral("--device-name needs a name"));
            o.deviceName = value;
        } else if (key == QLatin1String("max-notifications")) {
            if (!number(value, 1000000, &n))
                return fail(
                    QStringLiteral("--max-notifications wants a count 0 to 1000000, not '%1'").arg(value));
            o.maxNotifications = int(n);
        } else if (key == QLatin1String("clock")) {
            if (value.isEmpty())
                return fail(QStringLiteral("--clock needs a symbol name"));
            o.clockSymbol = value;
        } else if (key == QLatin1String("image")) {
            if (value.isEmpty())
                return fail(QStringLiteral("--image needs a file name"));
            o.imagePaths.append(value);
        } else if (key == QLatin1String("listen")) {
            if (!listenText(value, &o.listenAddress, &o.listenPort))
                return fail(QStringLiteral(
                                "--listen wants ADDR:PORT with an IP address and a port 0 to 65535, not '%1'")
                                .arg(value));
        } else if (key == QLatin1String("ams-port")) {
            // Repeated or comma-joined: every port given is a runtime.
            if (!portsGiven)
                o.amsPorts.clear();
            portsGiven = true;
            if (!portList(value, &o.amsPorts))
                return fail(
                    QStringLiteral("--ams-port wants ports 1 to 65535, each once, joined by commas, not '%1'")
                        .arg(value));
        } else if (key == QLatin1String("netid") || key == QLatin1String("route")) {
            const QByteArray netId = SimRouter::netIdFromText(value);
            if (netId.isEmpty())
                return fail(QStringLiteral(
                                "--%1 wants six numbers 0 to 255 joined by dots (5.12.34.56.1.1), not '%2'")
                                .arg(key, value));
            if (key == QLatin1String("netid"))
                o.netId = netId;
            else
                o.routes.append(netId);
        } else if (key == QLatin1String("delay-ms")) {
            if (!number(value, 3600000, &n))
                return fail(
                    QStringLiteral("--delay-ms wants milliseconds 0 to 3600000, not '%1'").arg(value));
            o.delayMs = int(n);
        } else if (key == QLatin1String("drop-every")) {
            if (!number(value, 1000000, &n) || n == 0)
                return fail(QStringLiteral("--drop-every wants a count 1 to 1000000, not '%1'").arg(value));
            o.dropEvery = int(n);
        } else if (key == QLatin1String("ads-error")) {
            if (!number(value, 0xFFFFFFFFu, &n) || n == 0)
                return fail(
                    QStringLiteral("--ads-error wants a non-zero 32-bit code (decimal or 0x hex), not '%1'")
                        .arg(value));
            o.adsError = quint32(n);
        }
        return true;
    }
};
} // namespace

AdsSimOptions AdsSimOptions::parse(const QStringList &arguments)
{
    Parser p;
    for (int i = 0; i < arguments.size() && p.o.error.isEmpty(); ++i) {
        const QString &arg = arguments.at(i);
        if (arg == QLatin1String("-h"))
            p.o.help = true;
        else if (arg.startsWith(QLatin1String("--")))
            p.option(arguments, &i);
        else if (arg.startsWith(QLatin1Char('-')))
            p.fail(QStringLiteral("unknown option %1").arg(arg));
        else
            p.fail(QStringLiteral("unexpected argument '%1' (ads-sim takes options only)").arg(arg));
    }
    return p.o;
}

QString AdsSimOptions::usage()
{
    return QStringLiteral(
        "usage: ads-sim [--listen ADDR:PORT] [--serial] [--ams-port N[,N...]] [--netid NETID]\n"
        "               [--route NETID]... [--image FILE]... [--verbose]\n"
        "               [--delay-ms N] [--drop-every N] [--ads-error CODE]\n"
        "               [--no-handles] [--no-symbol-version] [--no-data-types]\n"
        "               [--state run|stop|config] [--device-name TEXT]\n"
        "               [--max-notifications N] [--clock NAME]\n"
        "       ads-sim --version\n"
        "\n"
        "A simulated ADS controller. It prints \"tcp ADDR:PORT\" and, with --serial,\n"
        "\"serial PTY-PATH\" on stdout once it serves, and runs until SIGINT or SIGTERM.\n"
        "SIGHUP reads the image files again and loads them as an online change (values\n"
        "of variables that keep name and size stay, connections and handles stay);\n"
        "SIGUSR1 reads them again and restarts (memory from the files alone, every\n"
        "connection closed). Each prints \"online change: symbol version N\" or\n"
        "\"restart: symbol version N\"; a file that does not parse changes nothing.\n"
        "Besides reads and writes it serves lookups by name (0xF009), the symbol upload\n"
        "(0xF00F, 0xF00C, 0xF00B), the data type upload (0xF00F, 0xF00E), symbol handles\n"
        "(0xF003, 0xF005, 0xF006), the symbol version (0xF008), ReadState and\n"
        "ReadDeviceInfo. Names reach array elements and structure members\n"
        "(GVL.aAxes[2].stMotor.nSpeed). Device notifications (AddDeviceNotification,\n"
        "DeleteDeviceNotification): cyclic (mode 3) or on change (mode 4) on any place a\n"
        "read reaches, checked every cycle time (100 ns units, 1 ms at least), samples\n"
        "due together in one DeviceNotification frame per connection; other modes get\n"
        "ADS error 0x70B. A subscription ends with its connection and at a restart.\n"
        "\n"
        "  --listen ADDR:PORT  TCP address (default 127.0.0.1:48898; port 0: any free port)\n"
        "  --serial            also serve on a pseudo-terminal; its path is the serial port name\n"
        "  --ams-port N,N...   the runtimes' AMS ports, each with memory and symbols of its own\n"
        "                      (default 851; the first is the one image lines fill by default);\n"
        "                      other ports get AMS error 0x6\n"
        "  --netid NETID       the controller's AMS NetId, e.g. 5.12.34.56.1.1: a frame for\n"
        "                      another target gets AMS error 0x7 (default: answer any target)\n"
        "  --route NETID       a source NetId allowed to talk to it (repeatable); once one is\n"
        "                      given, a frame from any other source is not answered and its\n"
        "                      TCP connection is closed (default: any source)\n"
        "  --image FILE        starting memory: lines of hex GROUP OFFSET BYTE..., symbol lines,\n"
        "                      and port N lines naming the runtime the lines after them fill;\n"
        "                      repeatable, the files applied in order. Symbol lines:\n"
        "                        symbol NAME GROUP OFFSET SIZE [TYPE] [// COMMENT]\n"
        "                      Structure types, before the symbols and members that use them:\n"
        "                        type NAME SIZE [// COMMENT]\n"
        "                        member NAME OFFSET SIZE TYPE [// COMMENT]   (one per member)\n"
        "                        end\n"
        "                      GROUP and OFFSET in hex, SIZE in bytes, decimal; TYPE the rest\n"
        "                      of the line (INT, STRING(80), ST_Motor, ARRAY [1..3] OF ST_Axis)\n"
        "  --verbose           one line per request served and per notification frame sent\n"
        "  --delay-ms N        answer every request N ms late, and send every notification\n"
        "                      frame N ms after it fell due\n"
        "  --drop-every N      leave every N-th request unanswered (N 1 or more)\n"
        "  --ads-error CODE    answer every request with this ADS error (e.g. 0x710)\n"
        "  --no-handles        answer symbol handle requests (0xF003) with ADS error 0x701,\n"
        "                      as runtimes without handles do\n"
        "  --no-symbol-version answer reads of the symbol version (0xF008) with ADS error 0x701\n"
        "  --no-data-types     answer reads of the upload's sizes (0xF00F) and of the data type\n"
        "                      table (0xF00E) with ADS error 0x701, as runtimes without a data\n"
        "                      type upload do (the symbol upload still works through 0xF00C)\n"
        "  --state STATE       what ReadState answers: run (ADS state 5, the default), stop (6)\n"
        "                      or config (15)\n"
        "  --device-name TEXT  the name ReadDeviceInfo answers (default ads-sim; 15 bytes of\n"
        "                      it go on the wire), with the version of --version\n"
        "  --max-notifications N\n"
        "                      at most N subscriptions live at once over all connections;\n"
        "                      an add beyond answers ADS error 0x716 (default 10000)\n"
        "  --clock NAME        write CLOCK_MONOTONIC in ms (4 bytes, little-endian, wrapping)\n"
        "                      into the first runtime's symbol NAME every millisecond, for\n"
        "                      telling how old a value is; NAME must be a symbol of 4 bytes\n"
        "  --version           ads-sim's version\n"
        "  --help              this text\n");
}
