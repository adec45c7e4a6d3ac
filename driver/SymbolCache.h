// The places of PLC symbols as the controller described them, per runtime
// (AMS port) and name: a place belongs to the runtime that gave it. Bounded:
// the least recently used are forgotten, and long names count for more.
#ifndef SYMBOLCACHE_H
#define SYMBOLCACHE_H

#include "driver/SymbolFacts.h"

#include <QCache>
#include <QPair>
#include <QString>

class SymbolCache
{
public:
    // About this many names of ordinary length.
    explicit SymbolCache(int capacity = 4096);

    // Marks the entry as used.
    bool find(int amsPort, const QString &name, SymbolFacts *out);
    void insert(int amsPort, const QString &name, const SymbolFacts &symbol);
    void remove(int amsPort, const QString &name);
    void clear();
    int size() const;

private:
    using Key = QPair<int, QString>;
    QCache<Key, SymbolFacts> m_entries;
};

#endif // SYMBOLCACHE_H
