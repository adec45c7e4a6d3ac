// ads-sim: the simulated controller of the tests as a program, for trying a
// host without a PLC and for hosts' own fault tests.
#include "sim/AdsSimOptions.h"
#include "sim/SimController.h"
#include "sim/SimImageFile.h"
#include "sim/SimProtocol.h"
#include "sim/SimRuntime.h"
#include "sim/SimServer.h"
#include "sim/StopSignals.h"

#include <QCoreApplication>
#include <QMutex>

#include <csignal>
#include <cstdio>

namespace {
// The largest reply readied before the first request: an 800 KB read and more.
const int kWarmReplyBytes = 1024 * 1024;

// Request lines come from the server's thread, the start lines from this
// one; each goes out whole and at once, so a script reading stdout sees it.
void printLine(FILE *stream, const QString &line)
{
    static QMutex mutex;
    QMutexLocker lock(&mutex);
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

int refuse(const QString &message)
{
    printLine(stderr, QStringLiteral("ads-sim: ") + message);
    return 2;
}

// The image files in order, as one program; on the first bad file, none,
// and `error` names it.
QList<SimImageFile::Entry> readImages(const AdsSimOptions &options, QString *error)
{
    QList<SimImageFile::Entry> program;
    for (const QString &path : options.imagePaths) {
        program += SimImageFile::read(path, error, options.amsPorts);
        if (!error->isEmpty())
            return {};
    }
    error->clear();
    return program;
}

// SIGHUP: the files again, as an online change; SIGUSR1: a restart with them.
void reload(SimServer *server, const AdsSimOptions &options, int signalNumber)
{
    QString error;
    const QList<SimImageFile::Entry> program = readImages(options, &error);
    if (!error.isEmpty()) {
        printLine(stderr, QStringLiteral("ads-sim: reload refused: ") + error);
        return;
    }
    const bool restart = signalNumber == SIGUSR1;
    if (restart)
        server->restart(program);
    else
        server->onlineChange(program);
    printLine(stdout, QStringLiteral("%1: symbol version %2")
                          .arg(restart ? QStringLiteral("restart") : QStringLiteral("online change"))
                          .arg(server->symbolVersion()));
}

// The clock goes into the first runtime: its symbol must be there, 4 bytes.
QString clockRefusal(const AdsSimOptions &options, const QList<SimImageFile::Entry> &image)
{
    QList<SimImageFile::Entry> first;
    for (const SimImageFile::Entry &e : image) {
        if (e.amsPort == 0 || e.amsPort == options.amsPorts.first())
            first.append(e);
    }
    SimRuntime probe;
    probe.restart(first);
    SimSymbols::Symbol symbol;
    if (!probe.symbols.find(options.clockSymbol, &symbol))
        return QStringLiteral(
                   "--clock wants a symbol of the image files' first runtime, and there is no '%1'")
            .arg(options.clockSymbol);
    if (symbol.size != 4)
        return QStringLiteral("--clock wants a symbol of 4 bytes, and '%1' has %2")
            .arg(options.clockSymbol)
            .arg(symbol.size);
    return QString();
}

QString hostText(const QHostAddress &address)
{
    return address.protocol() == QAbstractSocket::IPv6Protocol
               ? QStringLiteral("[%1]").arg(address.toString())
               : address.toString();
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const AdsSimOptions options = AdsSimOptions::parse(app.arguments().mid(1));
    if (!options.error.isEmpty())
        return refuse(options.error);
    if (options.help) {
        std::fputs(qPrintable(AdsSimOptions::usage()), stdout);
        return 0;
    }
    if (options.version) {
        printLine(stdout, QStringLiteral("ads-sim: " ADS_SIM_VERSION));
        return 0;
    }

    // The files first: a bad one must not leave a controller half started.
    QString error;
    const QList<SimImageFile::Entry> image = readImages(options, &error);
    if (!error.isEmpty())
        return refuse(error);
    if (!options.clockSymbol.isEmpty()) {
        const QString refusal = clockRefusal(options, image);
        if (!refusal.isEmpty())
            return refuse(refusal);
    }

    StopSignals handlers;
    if (!handlers.install(true)) {
        printLine(stderr, QStringLiteral("ads-sim: cannot handle SIGINT, SIGTERM, SIGHUP and SIGUSR1"));
        return 1;
    }
    QObject::connect(&handlers, &StopSignals::stopRequested, &app, &QCoreApplication::quit);

    SimController sim;
    if (!sim.startTcp(options.listenAddress, options.listenPort)) {
        printLine(stderr, QStringLiteral("ads-sim: cannot listen on %1:%2 (in use, or not an address here)")
                              .arg(hostText(options.listenAddress))
                              .arg(options.listenPort));
        return 1;
    }
    SimServer *server = sim.server();
    if (options.serial && !sim.startPty()) {
        printLine(stderr, QStringLiteral("ads-sim: cannot open a pseudo-terminal"));
        return 1;
    }
    // A program serving for hours keeps no request, and its first large
    // reply goes out as fast as the later ones.
    server->setRecording(false);
    sim.warmUp(kWarmReplyBytes);
    server->setAmsPorts(options.amsPorts);
    server->setNetId(options.netId);
    server->setRoutes(options.routes);
    SimImageFile::apply(image, server);
    SimFault standing;
    standing.delayMs = options.delayMs;
    standing.adsResult = options.adsError;
    server->setStandingFault(standing);
    server->setDropEvery(options.dropEvery);
    server->setHandlesRefused(options.noHandles ? quint32(SimProtocol::AdsServiceNotSupported) : 0u);
    server->setSymbolVersionRefused(options.noSymbolVersion ? quint32(SimProtocol::AdsServiceNotSupported)
                                                            : 0u);
    server->setDataTypesRefused(options.noDataTypes ? quint32(SimProtocol::AdsServiceNotSupported) : 0u);
    server->setAdsState(options.adsState);
    server->setDeviceName(options.deviceName);
    server->setMaxNotifications(options.maxNotifications);
    server->setClockSymbol(options.clockSymbol);
    // Reloads wait until it serves, so that a signal never meets a half-set controller.
    QObject::connect(&handlers, &StopSignals::reloadRequested, &app,
                     [server, &options](int signalNumber) { reload(server, options, signalNumber); });
    if (options.verbose)
        server->setLogger([](const QString &line) { printLine(stdout, line); });

    printLine(stdout, QStringLiteral("tcp %1:%2").arg(hostText(options.listenAddress)).arg(sim.tcpPort()));
    if (options.serial)
        printLine(stdout, QStringLiteral("serial %1").arg(sim.ptyPath()));

    return app.exec();
}
