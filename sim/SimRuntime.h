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

    // A declared variable has memory: the symbol's bytes exist (zeroed)
    // from the start, in any byte group, as a controller's would.
    void addSymbol(const SimSymbols::Symbol &symbol);
    // Moves a symbol and copies its bytes to the new place; the old place
    // then refuses requests, as after an online change.
    bool moveSymbol(const QString &name, quint32 group, quint32 offset);
};

#endif // SIMRUNTIME_H
