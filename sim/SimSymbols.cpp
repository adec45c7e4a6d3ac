#include "sim/SimSymbols.h"

#include "link/AdsLayout.h"
#include "link/WireBytes.h"
#include "sim/SimArrayType.h"
#include "sim/SimDataType.h"

#include <QRegularExpression>

namespace {
const int kUploadInfoSize = 24;
// Arrays of arrays nest no deeper on a controller; a name of a thousand
// indexes is refused before it recurses that deep.
const int kMaxNesting = 8;

// "GVL.aTemps[3]" as "GVL.aTemps" and {3}; false when the name does not end
// in an index.
bool splitIndex(const QString &name, QString *base, QList<qint64> *indexes)
{
    static const QRegularExpression form(QStringLiteral("^(.+)\\[([^\\[\\]]+)\\]$"));
    static const QRegularExpression number(QStringLiteral("^\\s*-?[0-9]{1,10}\\s*$"));
    const QRegularExpressionMatch m = form.match(name);
    if (!m.hasMatch())
        return false;
    for (const QString &part : m.captured(2).split(QLatin1Char(','))) {
        if (!number.match(part).hasMatch())
            return false;
        indexes->append(part.trimmed().toLongLong());
    }
    *base = m.captured(1);
    return true;
}

QString indexText(const QList<qint64> &indexes)
{
    QStringList parts;
    for (qint64 i : indexes)
        parts << QString::number(i);
    return QLatin1Char('[') + parts.join(QLatin1Char(',')) + QLatin1Char(']');
}
} // namespace

void SimSymbols::add(const Symbol &symbol)
{
    const QString key = symbol.name.toUpper();
    if (!m_byName.contains(key))
        m_order.append(key);
    Symbol &added = m_byName[key];
    added = symbol;
    if (added.dataType == DeriveType)
        added.dataType = SimDataType::idOf(added.typeName);
    m_table.clear();
}

bool SimSymbols::declared(const QString &name, Symbol *out) const
{
    const auto it = m_byName.constFind(name.toUpper());
    if (it == m_byName.constEnd())
        return false;
    *out = *it;
    return true;
}

QList<SimSymbols::Symbol> SimSymbols::all() const
{
    QList<Symbol> symbols;
    for (const QString &key : m_order)
        symbols.append(m_byName.value(key));
    return symbols;
}

bool SimSymbols::find(const QString &name, Symbol *out) const
{
    return find(name, out, 0);
}

bool SimSymbols::find(const QString &name, Symbol *out, int nesting) const
{
    return declared(name, out) || (nesting < kMaxNesting && findElement(name, out, nesting));
}

// The element's place: the array's, plus its position times the element
// size, the array's size shared evenly among its elements. Its data type id
// is the array's, which is its elements' own.
bool SimSymbols::findElement(const QString &name, Symbol *out, int nesting) const
{
    QString base;
    QList<qint64> indexes;
    Symbol array;
    SimArrayType type;
    if (!splitIndex(name, &base, &indexes) || !find(base, &array, nesting + 1)
        || !SimArrayType::parse(array.typeName, &type))
        return false;
    const qint64 count = type.elementCount();
    const qint64 position = type.position(indexes);
    if (position < 0 || array.size % count != 0)
        return false;
    const qint64 elementSize = array.size / count;
    const qint64 offset = qint64(array.offset) + position * elementSize;
    if (elementSize == 0 || offset > qint64(0xFFFFFFFF))
        return false;
    *out = array;
    out->name = array.name + indexText(indexes);
    out->offset = quint32(offset);
    out->size = quint32(elementSize);
    out->typeName = type.elementType;
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
    m_table.clear();
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

QByteArray SimSymbols::table() const
{
    if (m_table.isEmpty()) {
        for (const QString &key : m_order)
            m_table.append(entry(m_byName.value(key)));
    }
    return m_table;
}

QByteArray SimSymbols::uploadInfo() const
{
    char info[kUploadInfoSize] = {0};
    WireBytes::putLe32(info, quint32(count()));
    WireBytes::putLe32(info + 4, quint32(table().size()));
    return QByteArray(info, kUploadInfoSize);
}

QByteArray SimSymbols::entry(const Symbol &symbol)
{
    const QByteArray name = symbol.name.toLatin1();
    const QByteArray type = symbol.typeName.toLatin1();
    const QByteArray comment = symbol.comment.toLatin1();
    const int length = AdsLayout::EntryFixedSize + name.size() + 1 + type.size() + 1 + comment.size() + 1;
    char fixed[AdsLayout::EntryFixedSize] = {0};
    WireBytes::putLe32(fixed + AdsLayout::EntryLength, quint32(length));
    WireBytes::putLe32(fixed + AdsLayout::EntryGroup, symbol.group);
    WireBytes::putLe32(fixed + AdsLayout::EntryOffset, symbol.offset);
    WireBytes::putLe32(fixed + AdsLayout::EntrySize, symbol.size);
    const quint32 dataType =
        symbol.dataType == DeriveType ? SimDataType::idOf(symbol.typeName) : symbol.dataType;
    WireBytes::putLe32(fixed + AdsLayout::EntryDataType, dataType); // the flags stay 0
    WireBytes::putLe16(fixed + AdsLayout::EntryNameLength, quint16(name.size()));
    WireBytes::putLe16(fixed + AdsLayout::EntryTypeLength, quint16(type.size()));
    WireBytes::putLe16(fixed + AdsLayout::EntryCommentLength, quint16(comment.size()));
    QByteArray out;
    out.reserve(length);
    out.append(fixed, AdsLayout::EntryFixedSize).append(name).append('\0').append(type).append('\0');
    out.append(comment).append('\0');
    return out;
}
