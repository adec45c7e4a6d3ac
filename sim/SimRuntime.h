// One PLC runtime of the simulated controller: the AMS port it answers on,
// its own memory images and its own symbol table.
#ifndef SIMRUNTIME_H
#define SIMRUNTIME_H

#include "sim/SimImage.h"
#include "sim/SimSymbols.h"

#include <QString>

struct SimRuntime {
    int amsPort = 851;
    SimImage image;
    SimSymbols symbols;

    // Moves a symbol and copies its bytes to the new place; the old place
    // then refuses requests, as after an online change.
    bool moveSymbol(const QString &name, quint32 group, quint32 offset);
};

#endif // SIMRUNTIME_H
