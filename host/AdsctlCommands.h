// adsctl's one-shot commands: info, read and write, on a driver already
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
    // The elements on `out`, the driver's result on `err`.
    static int read(CDriveBaseClass *driver, const AdsctlOptions &options, QTextStream &out,
                    QTextStream &err);
    static int write(CDriveBaseClass *driver, const AdsctlOptions &options, QTextStream &err);
};

#endif // ADSCTLCOMMANDS_H
