#include "AdsSimOptions.h"

#include <QCommandLineParser>

namespace {
// Decimal, or hex with 0x; nothing else, so that "12abc" is refused.
bool number(const QString &text, quint64 limit, quint64 *out)
{
    bool ok = false;
    const bool hex = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const QString digits = hex ? text.mid(2) : text;
    if (digits.isEmpty() || digits.startsWith(QLatin1Char('+')) || digits.startsWith(QLatin1Char('-')))
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
} // namespace

AdsSimOptions AdsSimOptions::parse(const QStringList &arguments)
{
    AdsSimOptions o;
    QCommandLineParser p;
    const QCommandLineOption listen(QStringLiteral("listen"), QString(), QStringLiteral("ADDR:PORT"));
    const QCommandLineOption serial(QStringLiteral("serial"));
    const QCommandLineOption amsPort(QStringLiteral("ams-port"), QString(), QStringLiteral("N"));
    const QCommandLineOption image(QStringLiteral("image"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption verbose(QStringLiteral("verbose"));
    const QCommandLineOption delay(QStringLiteral("delay-ms"), QString(), QStringLiteral("N"));
    const QCommandLineOption drop(QStringLiteral("drop-every"), QString(), QStringLiteral("N"));
    const QCommandLineOption adsError(QStringLiteral("ads-error"), QString(), QStringLiteral("CODE"));
    const QCommandLineOption help(QStringList{QStringLiteral("help"), QStringLiteral("h")});
    p.addOptions({listen, serial, amsPort, image, verbose, delay, drop, adsError, help});
    if (!p.parse(QStringList{QStringLiteral("ads-sim")} + arguments)) {
        o.error = p.errorText();
        return o;
    }
    if (!p.positionalArguments().isEmpty()) {
        o.error = QStringLiteral("unexpected argument '%1'").arg(p.positionalArguments().first());
        return o;
    }
    o.help = p.isSet(help);
    o.serial = p.isSet(serial);
    o.verbose = p.isSet(verbose);
    o.imagePath = p.value(image);
    if (p.isSet(image) && o.imagePath.isEmpty()) {
        o.error = QStringLiteral("--image needs a file name");
        return o;
    }
    if (p.isSet(listen) && !listenText(p.value(listen), &o.listenAddress, &o.listenPort)) {
        o.error =
            QStringLiteral("--listen wants ADDR:PORT with an IP address and a port 0 to 65535, not '%1'")
                .arg(p.value(listen));
        return o;
    }
    quint64 n = 0;
    if (p.isSet(amsPort)) {
        if (!number(p.value(amsPort), 65535, &n) || n == 0) {
            o.error = QStringLiteral("--ams-port wants a port 1 to 65535, not '%1'").arg(p.value(amsPort));
            return o;
        }
        o.amsPort = int(n);
    }
    if (p.isSet(delay)) {
        if (!number(p.value(delay), 3600000, &n)) {
            o.error =
                QStringLiteral("--delay-ms wants milliseconds 0 to 3600000, not '%1'").arg(p.value(delay));
            return o;
        }
        o.delayMs = int(n);
    }
    if (p.isSet(drop)) {
        if (!number(p.value(drop), 1000000, &n)) {
            o.error = QStringLiteral("--drop-every wants a count 0 to 1000000, not '%1'").arg(p.value(drop));
            return o;
        }
        o.dropEvery = int(n);
    }
    if (p.isSet(adsError)) {
        if (!number(p.value(adsError), 0xFFFFFFFFu, &n) || n == 0) {
            o.error = QStringLiteral("--ads-error wants a non-zero 32-bit code (decimal or 0x hex), not '%1'")
                          .arg(p.value(adsError));
            return o;
        }
        o.adsError = quint32(n);
    }
    return o;
}

QString AdsSimOptions::usage()
{
    return QStringLiteral(
        "usage: ads-sim [--listen ADDR:PORT] [--serial] [--ams-port N] [--image FILE] [--verbose]\n"
        "               [--delay-ms N] [--drop-every N] [--ads-error CODE]\n"
        "\n"
        "A simulated ADS controller. It prints \"tcp ADDR:PORT\" and, with --serial,\n"
        "\"serial PTY-PATH\" on stdout once it serves, and runs until SIGINT or SIGTERM.\n"
        "\n"
        "  --listen ADDR:PORT  TCP address (default 127.0.0.1:48898; port 0: any free port)\n"
        "  --serial            also serve on a pseudo-terminal; its path is the serial port name\n"
        "  --ams-port N        the AMS port it answers (default 851)\n"
        "  --image FILE        starting memory: lines of hex GROUP OFFSET BYTE...\n"
        "  --verbose           one line per request served\n"
        "  --delay-ms N        answer every request N ms late\n"
        "  --drop-every N      leave every N-th request unanswered\n"
        "  --ads-error CODE    answer every request with this ADS error (e.g. 0x710)\n");
}
