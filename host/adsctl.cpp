// adsctl: a host for the driver plug-in, for the shell.
#include "PluginHandle.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);

    QString pluginPath = PluginHandle::besideProgram(QCoreApplication::applicationFilePath());
    QStringList args = app.arguments().mid(1);
    const int pluginOption = args.indexOf(QStringLiteral("--plugin"));
    if (pluginOption >= 0 && pluginOption + 1 < args.size()) {
        pluginPath = args.at(pluginOption + 1);
        args.erase(args.begin() + pluginOption, args.begin() + pluginOption + 2);
    }
    if (args.value(0, QStringLiteral("info")) != QLatin1String("info")) {
        err << "usage: adsctl [--plugin PATH] info\n";
        return 2;
    }

    PluginHandle plugin;
    if (!plugin.load(pluginPath)) {
        err << "adsctl: cannot load the plug-in: " << plugin.errorString() << '\n';
        return 1;
    }
    CDriveBaseClass *driver = plugin.create();
    out << "name:    " << driver->getDriveName() << '\n'
        << "version: " << driver->getversion_number() << '\n'
        << "build:   " << driver->DebugCmd(DC_Version) << '\n';
    PluginHandle::dispose(driver);
    return 0;
}
