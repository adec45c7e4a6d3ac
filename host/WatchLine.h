// One line of adsctl watch's story: a read that succeeded shows its values,
// one that failed its result code, what it means and the driver's reason
// (the label's auxText), both after the time stamp, as text or as JSON.
#ifndef WATCHLINE_H
#define WATCHLINE_H

#include "value/CLabelVariable.h"

#include <QString>

class WatchLine
{
public:
    // "2026-03-01T10:00:00.125 1 -2", or for a failure
    // "2026-03-01T10:00:00.125 8: no reply (no reply within 2050 ms)".
    static QString text(const QString &stamp, DataType type, const CLabelVariable &read);
    // {"time":"...","result":0,"values":[1,-2]}, or for a failure
    // {"time":"...","result":7,"error":"...","adsError":1808,"reason":"..."};
    // adsError only when the controller gave a code, reason only when the
    // driver gave one.
    static QString json(const QString &stamp, DataType type, const CLabelVariable &read);
    // The controller's own code: it rides in auxNumber only on a failed read.
    static quint32 controllerError(const CLabelVariable &read);
};

#endif // WATCHLINE_H
