// What the tests of program changes share: two programs of a controller,
// the second with the valve at the set-point's old place, and the means to
// load them into the simulated controller and look at its memory.
#ifndef PROGRAMCHANGES_H
#define PROGRAMCHANGES_H

#include "sim/SimImageFile.h"
#include "sim/SimServer.h"
#include "value/CLabelVariable.h"

#include <QtGlobal>

namespace ProgramChanges {

const quint32 kM = 0x4020;

// The set-point at 0 (1000), the valve after it (5).
const char *const kProgramA = "symbol MAIN.nSetpoint 4020 0 2 INT\n"
                              "symbol MAIN.nValve 4020 2 2 INT\n"
                              "4020 0 e8 03 05 00\n";
// The valve at the set-point's old place, the set-point at 8.
const char *const kProgramB = "symbol MAIN.nValve 4020 0 2 INT\n"
                              "symbol MAIN.nSetpoint 4020 8 2 INT\n"
                              "4020 0 05 00\n"
                              "4020 8 e8 03\n";

inline QList<SimImageFile::Entry> program(const char *text)
{
    QString error;
    const QList<SimImageFile::Entry> entries = SimImageFile::parse(QByteArray(text), &error);
    if (!error.isEmpty())
        qFatal("%s", qPrintable(error));
    return entries;
}

inline CLabelVariable shorts(QList<short> values)
{
    CLabelVariable v;
    v.value = QVariant::fromValue(values);
    return v;
}

// The INT at `offset` of the M area.
inline short valueAt(SimServer *server, quint32 offset)
{
    const QByteArray b = server->readImage(kM, offset, 2);
    return short(quint16(quint8(b.at(0)) | quint8(b.at(1)) << 8));
}

} // namespace ProgramChanges

#endif // PROGRAMCHANGES_H
