// The handles the controller gave for names, each with the entry that came
// with it, per binding (connection, target and source): a handle is used
// only under the binding it was obtained under. Bounded: beyond the
// capacity the least recently used one makes room, and is handed back to
// the caller to give back to the controller.
#ifndef SYMBOLHANDLES_H
#define SYMBOLHANDLES_H

#include "driver/SymbolBinding.h"
#include "driver/SymbolFacts.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

class SymbolHandles
{
public:
    enum : int { DefaultCapacity = 4096 };

    struct Handle {
        quint32 handle = 0;
        SymbolFacts symbol;
    };
    // A handle and whom it belongs to, to give it back.
    struct Owned {
        SymbolBinding binding;
        quint32 handle = 0;
    };

    explicit SymbolHandles(int capacity = DefaultCapacity);

    // The handle of `name` under `binding`, marked as used; null when none.
    const Handle *find(const SymbolBinding &binding, const QString &name);
    // Keeps `handle`; true, with `evicted`, when another one made room.
    bool insert(const SymbolBinding &binding, const QString &name, const Handle &handle, Owned *evicted);
    void remove(const SymbolBinding &binding, const QString &name);
    // Forgets every handle, handing back those of connection `connection`.
    QList<Owned> takeAll(quint64 connection);
    // Forgets the handles of every connection but `connection`: the
    // controller let them go with their connections.
    void keepOnly(quint64 connection);
    int size() const { return m_items.size(); }

private:
    using Key = QPair<int, QString>;
    struct Item {
        Handle handle;
        quint64 used = 0;
    };
    int bindingId(const SymbolBinding &binding, bool add);

    QHash<Key, Item> m_items;
    QList<SymbolBinding> m_bindings; // a key's int is its binding's place here
    int m_lastId = -1; // the binding asked for last, found without a search
    quint64 m_clock = 0;
    int m_capacity;
};

#endif // SYMBOLHANDLES_H
