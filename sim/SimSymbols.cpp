#include "sim/SimSymbols.h"

#include "link/AdsLayout.h"
#include "link/WireBytes.h"
#include "sim/SimArrayType.h"
#include "sim/SimDataType.h"

#include <QRegularExpression>

namespace {
using L = AdsLayout;

// Arrays of arrays and structures within structures nest no deeper on a
// controller; a name of a thousand parts is refused before it recurses
// that deep.
const int kMaxNesting = 40;

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

// "MAIN.stMotor.nSpeed" as "MAIN.stMotor" and "nSpeed"; false when the
// name does not end in a member.
bool splitMember(const QString &name, QString *base, QString *member)
{
    static const QRegularExpression form(QStringLiteral("^(.+)\\.([A-Za-z_][A-Za-z0-9_]*)$"));
    const QRegularExpressionMatch m = form.match(name);
    if (!m.hasMatch())
        return false;
    *base = m.captured(1);
    *member = m.captured(2);
    return true;
}

// A data type table's entry: the fixed part, the three texts with their
// zeros, the array's dimensions (lower bound, element count), then the
// sub-items' bytes.
QByteArray dataTypeEntry(const QString &name, const QString &typeName, const QString &comment, quint32 size,
                         quint32 offs, quint32 dataType, const QList<SimArrayType::Bounds> &dimensions,
                         int subItems, const QByteArray &subItemBytes)
{
    const QByteArray n = name.toLatin1();
    const QByteArray t = typeName.toLatin1();
    const QByteArray c = comment.toLatin1();
    const int length = L::TypeEntryFixedSize + n.size() + 1 + t.size() + 1 + c.size() + 1
                       + dimensions.size() * L::TypeDimensionSize + subItemBytes.size();
    char fixed[L::TypeEntryFixedSize] = {0};
    WireBytes::putLe32(fixed + L::TypeEntryLength, quint32(length));
    WireBytes::putLe32(fixed + L::TypeEntryVersion, 1);
    WireBytes::putLe32(fixed + L::TypeEntrySize, size);
    WireBytes::putLe32(fixed + L::TypeEntryOffs, offs);
    WireBytes::putLe32(fixed + L::TypeEntryDataType, dataType);
    WireBytes::putLe16(fixed + L::TypeEntryNameLength, quint16(n.size()));
    WireBytes::putLe16(fixed + L::TypeEntryTypeLength, quint16(t.size()));
    WireBytes::putLe16(fixed + L::TypeEntryCommentLength, quint16(c.size()));
    WireBytes::putLe16(fixed + L::TypeEntryArrayDim, quint16(dimensions.size()));
    WireBytes::putLe16(fixed + L::TypeEntrySubItems, quint16(subItems));
    QByteArray out;
    out.reserve(length);
    out.append(fixed, L::TypeEntryFixedSize)
        .append(n)
        .append('\0')
        .append(t)
        .append('\0')
        .append(c)
        .append('\0');
    for (const SimArrayType::Bounds &b : dimensions) {
        char pair[L::TypeDimensionSize];
        WireBytes::putLe32(pair, quint32(qint32(b.low)));
        WireBytes::putLe32(pair + 4, quint32(b.high - b.low + 1));
        out.append(pair, L::TypeDimensionSize);
    }
    return out.append(subItemBytes);
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
    return declared(name, out)
           || (nesting < kMaxNesting && (findElement(name, out, nesting) || findMember(name, out, nesting)));
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

// The member's place: the structure's, plus the member's offset within it.
bool SimSymbols::findMember(const QString &name, Symbol *out, int nesting) const
{
    QString base;
    QString memberName;
    Symbol parent;
    SimStructType structure;
    SimStructType::Member m;
    if (!splitMember(name, &base, &memberName) || !find(base, &parent, nesting + 1)
        || !type(parent.typeName, &structure) || !structure.member(memberName, &m))
        return false;
    // Within the variable as the symbol declares it, and within 32 bits.
    const quint64 offset = quint64(parent.offset) + m.offset;
    if (quint64(m.offset) + m.size > parent.size || offset > 0xFFFFFFFFu)
        return false;
    *out = parent;
    out->name = parent.name + QLatin1Char('.') + m.name;
    out->offset = quint32(offset);
    out->size = m.size;
    out->typeName = m.typeName;
    out->comment = m.comment;
    out->dataType = SimDataType::idOf(m.typeName);
    return true;
}

void SimSymbols::addType(const SimStructType &type)
{
    const QString key = type.name.trimmed().toUpper();
    if (!m_types.contains(key))
        m_typeOrder.append(key);
    m_types.insert(key, type);
    m_typeTable.clear();
}

bool SimSymbols::type(const QString &name, SimStructType *out) const
{
    const auto it = m_types.constFind(name.trimmed().toUpper());
    if (it == m_types.constEnd())
        return false;
    *out = *it;
    return true;
}

QList<SimStructType> SimSymbols::types() const
{
    QList<SimStructType> all;
    for (const QString &key : m_typeOrder)
        all.append(m_types.value(key));
    return all;
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

QByteArray SimSymbols::dataTypeTable() const
{
    if (m_typeTable.isEmpty()) {
        for (const QString &key : m_typeOrder)
            m_typeTable.append(typeEntry(m_types.value(key)));
    }
    return m_typeTable;
}

QByteArray SimSymbols::uploadInfo() const
{
    char info[L::InfoSize] = {0};
    WireBytes::putLe32(info + L::InfoSymbolCount, quint32(count()));
    WireBytes::putLe32(info + L::InfoSymbolBytes, quint32(table().size()));
    WireBytes::putLe32(info + L::InfoDataTypeCount, quint32(m_typeOrder.size()));
    WireBytes::putLe32(info + L::InfoDataTypeBytes, quint32(dataTypeTable().size()));
    return QByteArray(info, L::InfoSize);
}

QByteArray SimSymbols::typeEntry(const SimStructType &type)
{
    QByteArray members;
    for (const SimStructType::Member &m : type.members)
        members.append(memberEntry(m));
    return dataTypeEntry(type.name, QString(), type.comment, type.size, 0, SimDataType::BigType, {},
                         type.members.size(), members);
}

// An array member carries its dimensions; a structure member names its
// type, whose own entry lists the members.
QByteArray SimSymbols::memberEntry(const SimStructType::Member &member)
{
    SimArrayType array;
    const QList<SimArrayType::Bounds> dimensions =
        SimArrayType::parse(member.typeName, &array) ? array.dimensions : QList<SimArrayType::Bounds>();
    return dataTypeEntry(member.name, member.typeName, member.comment, member.size, member.offset,
                         SimDataType::idOf(member.typeName), dimensions, 0, QByteArray());
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
