#include "sim/SimRuntime.h"

bool SimRuntime::moveSymbol(const QString &name, quint32 group, quint32 offset)
{
    SimSymbols::Symbol old;
    if (!symbols.move(name, group, offset, &old))
        return false;
    image.write(group, offset, image.bytes(old.group, old.offset, int(old.size)));
    return true;
}
