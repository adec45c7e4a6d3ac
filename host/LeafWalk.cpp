#include "host/LeafWalk.h"

#include <QRegularExpression>

#include <algorithm>
#include <limits>

namespace {
using Text = SymbolTable::Text;

char foldAscii(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// Type names compare without regard to ASCII case; other bytes as they are.
int compareNames(const Text &a, const Text &b)
{
    const int common = qMin(a.size, b.size);
    for (int i = 0; i < common; ++i) {
        const int diff = int(quint8(foldAscii(a.bytes[i]))) - int(quint8(foldAscii(b.bytes[i])));
        if (diff != 0)
            return diff;
    }
    return a.size - b.size;
}

// "ARRAY [1..3] OF ST_Axis": the bounds' text and where the element's type
// name starts; false for a name of another form.
bool arrayText(const Text &typeName, QString *bounds, int *elementAt)
{
    if (typeName.size < 5 || foldAscii(typeName.bytes[0]) != 'A')
        return false; // the common case, without a pattern
    static const QRegularExpression form(QStringLiteral("^\\s*ARRAY\\s*\\[([^\\]]*)\\]\\s*OF\\s+(?=\\S)"),
                                         QRegularExpression::CaseInsensitiveOption);
    // One character per byte, so that positions in the text are positions in the bytes.
    const QRegularExpressionMatch m = form.match(QString::fromLatin1(typeName.bytes, typeName.size));
    if (!m.hasMatch())
        return false;
    *bounds = m.captured(1);
    *elementAt = m.capturedEnd(0);
    return true;
}

// "1..3, -2..2": lower bound and element count of each dimension.
bool boundsOf(const QString &text, QVector<DataTypeTable::Dimension> *out)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*(-?[0-9]{1,10})\\s*\\.\\.\\s*(-?[0-9]{1,10})\\s*$"));
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QRegularExpressionMatch m = form.match(part);
        const qint64 low = m.captured(1).toLongLong();
        const qint64 high = m.captured(2).toLongLong();
        if (!m.hasMatch() || low < std::numeric_limits<qint32>::min()
            || low > std::numeric_limits<qint32>::max() || high < low || high - low >= qint64(1) << 32)
            return false;
        out->append(DataTypeTable::Dimension{qint32(low), quint32(high - low + 1)});
    }
    return true;
}
} // namespace

struct LeafWalk::Shape {
    QVector<DataTypeTable::Dimension> dimensions;
    Text element;

    quint64 count() const
    {
        quint64 n = 1;
        for (const DataTypeTable::Dimension &d : dimensions)
            n = d.elements != 0 && n > std::numeric_limits<quint64>::max() / d.elements
                    ? std::numeric_limits<quint64>::max()
                    : n * d.elements;
        return n;
    }
};

LeafWalk::LeafWalk(const QByteArray &types, const QVector<quint32> &typeOffsets)
    : m_types(types), m_sorted(typeOffsets)
{
    std::sort(m_sorted.begin(), m_sorted.end(), [this](quint32 a, quint32 b) {
        return compareNames(DataTypeTable::entryAt(m_types, a).name, DataTypeTable::entryAt(m_types, b).name)
               < 0;
    });
}

bool LeafWalk::walk(const QByteArray &symbols, quint32 at, const Sink &sink, QString *error, quint32 limit)
{
    const SymbolTable::Entry s = SymbolTable::entryAt(symbols, at);
    m_name = QByteArray(s.name.bytes, s.name.size);
    m_group = s.group;
    m_sink = &sink;
    m_limit = limit;
    m_error.clear();
    const bool ok = place(s.typeName, nullptr, s.size, s.offset, s.comment, 0);
    m_sink = nullptr;
    if (!ok)
        *error = QStringLiteral("%1: %2").arg(SymbolTable::fromCodePage(s.name), m_error);
    return ok;
}

// The index of the entry of that name in m_sorted; -1 when there is none.
int LeafWalk::find(const Text &name) const
{
    const auto at =
        std::lower_bound(m_sorted.begin(), m_sorted.end(), name, [this](quint32 entry, const Text &n) {
            return compareNames(DataTypeTable::entryAt(m_types, entry).name, n) < 0;
        });
    if (at == m_sorted.end() || compareNames(DataTypeTable::entryAt(m_types, *at).name, name) != 0)
        return -1;
    return int(at - m_sorted.begin());
}

// A member's dimensions when it has them, else those its type name
// declares; the element's type name after OF, or the whole name.
bool LeafWalk::arrayShape(const Text &typeName, const DataTypeTable::Entry *member, Shape *shape) const
{
    QString bounds;
    int elementAt = 0;
    const bool named = arrayText(typeName, &bounds, &elementAt);
    shape->element = named ? Text{typeName.bytes + elementAt, typeName.size - elementAt} : typeName;
    if (member && member->arrayDim > 0) {
        for (int i = 0; i < member->arrayDim; ++i)
            shape->dimensions.append(DataTypeTable::dimensionAt(m_types, *member, i));
        return true;
    }
    return named && boundsOf(bounds, &shape->dimensions);
}

bool LeafWalk::place(const Text &typeName, const DataTypeTable::Entry *member, quint32 size, quint64 offset,
                     const Text &comment, int depth)
{
    Shape shape;
    if (arrayShape(typeName, member, &shape)) {
        const int element = find(shape.element);
        if (element >= 0) {
            const DataTypeTable::Entry e = DataTypeTable::entryAt(m_types, m_sorted.at(element));
            if (e.subItems > 0)
                return elements(shape, e, offset, depth);
        }
        return leaf(typeName, size, offset, comment); // an array of plain elements is one leaf
    }
    // Members listed with the member itself, as some tables nest them.
    if (member && member->subItems > 0)
        return members(*member, offset, depth);
    const int type = find(typeName);
    if (type < 0)
        return leaf(typeName, size, offset, comment);
    const DataTypeTable::Entry t = DataTypeTable::entryAt(m_types, m_sorted.at(type));
    if (t.subItems > 0)
        return members(t, offset, depth);
    if (t.arrayDim > 0) {
        // A type that names an array of structures: its own dimensions, its type name the element's.
        Shape alias;
        for (int i = 0; i < t.arrayDim; ++i)
            alias.dimensions.append(DataTypeTable::dimensionAt(m_types, t, i));
        const int element = find(t.typeName);
        if (element >= 0) {
            const DataTypeTable::Entry e = DataTypeTable::entryAt(m_types, m_sorted.at(element));
            if (e.subItems > 0)
                return elements(alias, e, offset, depth);
        }
    }
    return leaf(typeName, size, offset, comment);
}

// Each element's members, named by its indexes, the last running fastest.
bool LeafWalk::elements(const Shape &shape, const DataTypeTable::Entry &element, quint64 offset, int depth)
{
    const int mark = m_name.size();
    QVector<qint64> index;
    for (const DataTypeTable::Dimension &d : shape.dimensions)
        index.append(d.lowerBound);
    const quint64 count = shape.count();
    for (quint64 k = 0; k < count; ++k) {
        const quint64 before = m_leaves;
        m_name.append('[');
        for (int i = 0; i < index.size(); ++i)
            m_name.append(i > 0 ? "," : "").append(QByteArray::number(index.at(i)));
        m_name.append(']');
        if (!members(element, offset + k * element.size, depth))
            return false;
        m_name.truncate(mark);
        // Elements are alike: when the first has no leaf (its arrays are
        // empty), none has, however many there are.
        if (m_leaves == before)
            return true;
        for (int i = index.size() - 1; i >= 0; --i) {
            if (++index[i] < shape.dimensions.at(i).lowerBound + qint64(shape.dimensions.at(i).elements))
                break;
            index[i] = shape.dimensions.at(i).lowerBound;
        }
    }
    return true;
}

bool LeafWalk::members(const DataTypeTable::Entry &structure, quint64 offset, int depth)
{
    if (depth >= DataTypeTable::MaxNesting)
        return fail(QStringLiteral("its types nest deeper than %1 levels (a structure within itself?)")
                        .arg(int(DataTypeTable::MaxNesting)));
    const int mark = m_name.size();
    for (const quint32 at : DataTypeTable::subItemOffsets(m_types, structure)) {
        const DataTypeTable::Entry m = DataTypeTable::entryAt(m_types, at);
        m_name.append('.').append(m.name.bytes, m.name.size);
        if (!place(m.typeName, &m, m.size, offset + m.offs, m.comment, depth + 1))
            return false;
        m_name.truncate(mark);
    }
    return true;
}

bool LeafWalk::leaf(const Text &typeName, quint32 size, quint64 offset, const Text &comment)
{
    if (offset > 0xFFFFFFFFu)
        return fail(QStringLiteral("the offset of %1 runs past 32 bits")
                        .arg(SymbolTable::fromCodePage(m_name.constData(), m_name.size())));
    if (++m_leaves > m_limit)
        return fail(QStringLiteral("the symbols hold more than %1 leaves").arg(m_limit));
    SymbolTable::Entry e;
    e.name = Text{m_name.constData(), m_name.size()};
    e.typeName = typeName;
    e.comment = comment;
    e.size = size;
    e.group = m_group;
    e.offset = quint32(offset);
    (*m_sink)(e);
    return true;
}

bool LeafWalk::fail(const QString &why)
{
    m_error = why;
    return false;
}
