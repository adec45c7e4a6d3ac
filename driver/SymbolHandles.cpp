#include "driver/SymbolHandles.h"

SymbolHandles::SymbolHandles(int capacity) : m_capacity(qMax(1, capacity)) { }

int SymbolHandles::bindingId(const SymbolBinding &binding, bool add)
{
    if (m_lastId >= 0 && m_bindings.at(m_lastId) == binding)
        return m_lastId;
    int id = m_bindings.indexOf(binding);
    if (id < 0 && add) {
        m_bindings.append(binding);
        id = m_bindings.size() - 1;
    }
    if (id >= 0)
        m_lastId = id;
    return id;
}

const SymbolHandles::Handle *SymbolHandles::find(const SymbolBinding &binding, const QString &name)
{
    const int id = bindingId(binding, false);
    if (id < 0)
        return nullptr;
    const auto it = m_items.find(Key(id, name));
    if (it == m_items.end())
        return nullptr;
    it->used = ++m_clock;
    return &it->handle;
}

bool SymbolHandles::insert(const SymbolBinding &binding, const QString &name, const Handle &handle,
                           Owned *evicted)
{
    const Key key(bindingId(binding, true), name);
    bool made = false;
    if (!m_items.contains(key) && m_items.size() >= m_capacity) {
        // A linear search, once per handle obtained beyond the capacity: far
        // rarer than the reads it spares a bookkeeping cost.
        auto oldest = m_items.begin();
        for (auto it = m_items.begin(); it != m_items.end(); ++it) {
            if (it->used < oldest->used)
                oldest = it;
        }
        evicted->binding = m_bindings.at(oldest.key().first);
        evicted->handle = oldest->handle.handle;
        m_items.erase(oldest);
        made = true;
    }
    Item &item = m_items[key];
    item.handle = handle;
    item.used = ++m_clock;
    return made;
}

void SymbolHandles::remove(const SymbolBinding &binding, const QString &name)
{
    const int id = bindingId(binding, false);
    if (id >= 0)
        m_items.remove(Key(id, name));
}

QList<SymbolHandles::Owned> SymbolHandles::takeAll(quint64 connection)
{
    QList<Owned> owned;
    for (auto it = m_items.cbegin(); it != m_items.cend(); ++it) {
        const SymbolBinding &b = m_bindings.at(it.key().first);
        if (b.connection == connection)
            owned.append({b, it->handle.handle});
    }
    m_items.clear();
    m_bindings.clear();
    m_lastId = -1;
    return owned;
}

void SymbolHandles::keepOnly(quint64 connection)
{
    // Rebuilt, so that the bindings of connections long gone do not pile up.
    const QHash<Key, Item> items = m_items;
    const QList<SymbolBinding> bindings = m_bindings;
    m_items.clear();
    m_bindings.clear();
    m_lastId = -1;
    for (auto it = items.cbegin(); it != items.cend(); ++it) {
        const SymbolBinding &b = bindings.at(it.key().first);
        if (b.connection == connection)
            m_items.insert(Key(bindingId(b, true), it.key().second), it.value());
    }
}
