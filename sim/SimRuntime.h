// One PLC runtime of the simulated controller: the AMS port it answers on,
// its own memory images and its own symbol table.
#ifndef SIMRUNTIME_H
#define SIMRUNTIME_H

#include "sim/SimImage.h"
#include "sim/SimImageFile.h"
#include "sim/SimSymbols.h"

#include <QList>
#include <QString>

struct SimRuntime {
    int amsPort = 851;
    SimImage image;
    SimSymbols symbols;
    // Changes with every online change and restart, so that a client
    // knows its handles and places may be stale (wraps after 255).
    quint8 symbolVersion = 1;

    // A declared variable has memory: the symbol's bytes exist (zeroed)
    // from the start, in any byte group, as a controller's would.
    void addSymbol(const SimSymbols::Symbol &symbol);
    // Moves a symbol and copies its bytes to the new place; the old place
    // then refuses requests, as after an online change.
    bool moveSymbol(const QString &name, quint32 group, quint32 offset);

    // A new program loaded under live connections: its symbols replace the
    // table, its data lines are written, and every variable that keeps its
    // name and size keeps its value at its new place; new or resized ones
    // start from the data lines or zero.
    void onlineChange(const QList<SimImageFile::Entry> &program);
    // The runtime started anew with `program` alone: nothing is kept.
    void restart(const QList<SimImageFile::Entry> &program);

private:
    void load(const QList<SimImageFile::Entry> &program);
};

#endif // SIMRUNTIME_H
