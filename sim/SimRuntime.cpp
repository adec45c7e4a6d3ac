#include "sim/SimRuntime.h"

#include <QHash>

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

void SimRuntime::onlineChange(const QList<SimImageFile::Entry> &program)
{
    // The old values first: the new program's bytes may lie over them.
    QHash<QString, QByteArray> kept;
    for (const SimImageFile::Entry &e : program) {
        SimSymbols::Symbol old;
        if (e.isSymbol && symbols.declared(e.symbol.name, &old) && old.size == e.symbol.size
            && old.size <= quint32(SimImage::kMaxImageBytes))
            kept.insert(e.symbol.name.toUpper(), image.bytes(old.group, old.offset, int(old.size)));
    }
    symbols = SimSymbols(); // the retired places of earlier moves go with the old table
    for (const SimImageFile::Entry &e : program) {
        if (e.isSymbol)
            image.zero(e.symbol.group, e.symbol.offset, e.symbol.size);
    }
    load(program);
    for (const SimSymbols::Symbol &s : symbols.all()) {
        const auto value = kept.constFind(s.name.toUpper());
        if (value != kept.constEnd())
            image.setBytes(s.group, s.offset, *value);
    }
    ++symbolVersion;
}

void SimRuntime::restart(const QList<SimImageFile::Entry> &program)
{
    image = SimImage();
    symbols = SimSymbols();
    load(program);
    ++symbolVersion;
}

void SimRuntime::load(const QList<SimImageFile::Entry> &program)
{
    for (const SimImageFile::Entry &e : program) {
        if (e.isType)
            symbols.addType(e.type);
        else if (e.isSymbol)
            addSymbol(e.symbol);
        else
            image.write(e.group, e.offset, e.bytes);
    }
}
