// adsctl: a host for the driver plug-in, for the shell. It loads the plug-in
// with dlopen and knows the driver only as a CDriveBaseClass.
#include "host/AdsctlCommands.h"
#include "host/AdsctlOptions.h"
#include "host/DriverSession.h"
#include "host/SymbolBrowser.h"
#include "host/WatchLoop.h"
#include "link/AdsErrorText.h"
#include "sim/StopSignals.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    const AdsctlOptions options = AdsctlOptions::parse(app.arguments().mid(1));
    if (!options.error.isEmpty()) {
        err << "adsctl: " << options.error << Qt::endl;
        return 2;
    }
    if (options.json || options.csv)
        out.setCodec("UTF-8"); // JSON and CSV are UTF-8 whatever the terminal's code page
    if (options.command == AdsctlOptions::Help) {
        out << AdsctlOptions::usage() << Qt::flush;
        return 0;
    }

    if (options.command == AdsctlOptions::Error) {
        // A meaning from adsctl's own table: no plug-in, no controller.
        out << AdsErrorText::line(options.errorCode) << Qt::endl;
        return 0;
    }

    if (options.command == AdsctlOptions::Version) {
        // adsctl's own version even when the plug-in does not load.
        out << "adsctl:  " << ADSCTL_VERSION << Qt::endl;
    }

    DriverSession session(err);
    if (!session.load(options.pluginPath, QCoreApplication::applicationFilePath()))
        return 1;
    if (options.command == AdsctlOptions::Version)
        return AdsctlCommands::version(session.driver(), session.pluginPath(), out);
    if (options.command == AdsctlOptions::Info && options.connectText.isEmpty())
        return AdsctlCommands::info(session.driver(), out); // offline: the plug-in alone
    if (options.command == AdsctlOptions::Info) {
        if (!session.connect(options)) {
            if (session.connectCode() != -3)
                return 1; // refused before any connection was tried: said above
            err << "adsctl: no TCP connection: the controller's address or port is wrong, or it is off, or a "
                   "firewall is between (ADS over TCP is port 48898)"
                << Qt::endl;
            return 1;
        }
        return AdsctlCommands::infoConnected(session.driver(), out, err);
    }
    if (!session.connect(options))
        return 1;

    switch (options.command) {
    case AdsctlOptions::Read: return AdsctlCommands::read(session.driver(), options, out, err);
    case AdsctlOptions::Write: return AdsctlCommands::write(session.driver(), options, err);
    case AdsctlOptions::Symbols: return SymbolBrowser::run(session.driver(), options, out, err);
    case AdsctlOptions::Watch: {
        WatchLoop watch(session.driver(), options, out);
        StopSignals stop;
        if (!stop.install()) {
            err << "adsctl: cannot handle SIGINT and SIGTERM" << Qt::endl;
            return 1;
        }
        QObject::connect(&stop, &StopSignals::stopRequested, &watch, &WatchLoop::stop);
        return watch.run();
    }
    default: return 2;
    }
}
