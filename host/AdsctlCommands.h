// adsctl's one-shot commands: info, --version, read and write, on a driver already
// created (and, for read and write, connected). Each returns the exit status.
#ifndef ADSCTLCOMMANDS_H
#define ADSCTLCOMMANDS_H

#include "driver/CDriveBaseClass.h"

#include <QTextStream>

class AdsctlOptions;

class AdsctlCommands
{
public:
    static int info(CDriveBaseClass *driver, QTextStream &out);
    // info, then the controller's name, version and state, asked through
    // the connected driver; 1 with the kind of failure on `err`.
    static int infoConnected(CDriveBaseClass *driver, QTextStream &out, QTextStream &err);
    // The plug-in's path, version and build stamp (--version; adsctl's own
    // version comes first, before the plug-in is loaded).
    static int version(CDriveBaseClass *driver, const QString &pluginPath, QTextStream &out);
    // The elements on `out`, the driver's result on `err`.
    static int read(CDriveBaseClass *driver, const AdsctlOptions &options, QTextStream &out,
                    QTextStream &err);
    static int write(CDriveBaseClass *driver, const AdsctlOptions &options, QTextStream &err);
};

#endif // ADSCTLCOMMANDS_H
