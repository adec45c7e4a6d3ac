#include "sim/SimRuntime.h"

void SimRuntime::addSymbol(const SimSymbols::Symbol &symbol)
{
    symbols.add(symbol);
    image.provide(symbol.group, symbol.offset, symbol.size);
}

bool SimRuntime::moveSymbol(const QString &name, quint32 group, quint32 offset)
{
    SimSymbols::Symbol old;
    if (!symbols.move(name, group, offset, &old))
        return false;
    image.write(group, offset, image.bytes(old.group, old.offset, int(old.size)));
    return true;
}
