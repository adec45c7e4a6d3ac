#include "sim/SimHandles.h"

quint32 SimHandles::obtain(const QString &name, const SimSymbols::Symbol &symbol, const Owner &owner)
{
    const quint32 handle = m_next++;
    m_handles.insert(handle, {owner, name, symbol.size});
    ++m_obtained;
    return handle;
}

quint32 SimHandles::resolve(quint32 handle, const Owner &owner, const SimSymbols &symbols,
                            SimSymbols::Symbol *out) const
{
    const auto it = m_handles.constFind(handle);
    if (it == m_handles.constEnd() || !(it->owner == owner) || !symbols.find(it->name, out))
        return SymbolNotFound;
    return out->size == it->size ? NoError : SymbolVersionInvalid;
}

quint32 SimHandles::release(quint32 handle, const Owner &owner)
{
    const auto it = m_handles.find(handle);
    if (it == m_handles.end() || !(it->owner == owner))
        return SymbolNotFound;
    m_handles.erase(it);
    ++m_released;
    return NoError;
}

void SimHandles::dropLine(const void *line)
{
    for (auto it = m_handles.begin(); it != m_handles.end();) {
        if (it->owner.line == line)
            it = m_handles.erase(it);
        else
            ++it;
    }
}

void SimHandles::clear()
{
    m_handles.clear();
}
