#include "driver/SymbolCache.h"

namespace {
// One unit per entry, one more per 256 characters of name and type name, so
// that a host inventing huge names cannot hold megabytes through it.
int costOf(const QString &name, const SymbolFacts &symbol)
{
    return 1 + (name.size() + symbol.entry.typeName.size()) / 256;
}
} // namespace

SymbolCache::SymbolCache(int capacity) : m_entries(capacity) { }

bool SymbolCache::find(int amsPort, const QString &name, SymbolFacts *out)
{
    const SymbolFacts *entry = m_entries.object(Key(amsPort, name));
    if (!entry)
        return false;
    *out = *entry;
    return true;
}

void SymbolCache::insert(int amsPort, const QString &name, const SymbolFacts &symbol)
{
    m_entries.insert(Key(amsPort, name), new SymbolFacts(symbol), costOf(name, symbol)); // the cache owns it
}

void SymbolCache::remove(int amsPort, const QString &name)
{
    m_entries.remove(Key(amsPort, name));
}

void SymbolCache::clear()
{
    m_entries.clear();
}

int SymbolCache::size() const
{
    return m_entries.size();
}
