#include "sim/SimSymbols.h"

#include "link/WireBytes.h"

void SimSymbols::add(const Symbol &symbol)
{
    m_byName.insert(symbol.name.toUpper(), symbol);
}

bool SimSymbols::find(const QString &name, Symbol *out) const
{
    const auto it = m_byName.constFind(name.toUpper());
    if (it == m_byName.constEnd())
        return false;
    *out = *it;
    return true;
}

bool SimSymbols::move(const QString &name, quint32 group, quint32 offset, Symbol *old)
{
    const auto it = m_byName.find(name.toUpper());
    if (it == m_byName.end())
        return false;
    *old = *it;
    m_retired.append(*it);
    it->group = group;
    it->offset = offset;
    return true;
}

bool SimSymbols::retired(quint32 group, quint32 offset, quint32 length) const
{
    for (const Symbol &s : m_retired) {
        const quint64 end = quint64(offset) + qMax<quint32>(length, 1);
        if (s.group == group && quint64(s.offset) < end && offset < quint64(s.offset) + s.size)
            return true;
    }
    return false;
}

QByteArray SimSymbols::entry(const Symbol &symbol)
{
    const QByteArray name = symbol.name.toLatin1();
    const QByteArray type = symbol.typeName.toLatin1();
    const QByteArray comment;
    char fixed[30];
    const quint32 length = quint32(30 + name.size() + 1 + type.size() + 1 + comment.size() + 1);
    WireBytes::putLe32(fixed, length);
    WireBytes::putLe32(fixed + 4, symbol.group);
    WireBytes::putLe32(fixed + 8, symbol.offset);
    WireBytes::putLe32(fixed + 12, symbol.size);
    WireBytes::putLe32(fixed + 16, 0); // data type id: not used by the driver
    WireBytes::putLe32(fixed + 20, 0); // flags
    WireBytes::putLe16(fixed + 24, quint16(name.size()));
    WireBytes::putLe16(fixed + 26, quint16(type.size()));
    WireBytes::putLe16(fixed + 28, quint16(comment.size()));
    QByteArray out(fixed, 30);
    out.append(name).append('\0').append(type).append('\0').append(comment).append('\0');
    return out;
}
