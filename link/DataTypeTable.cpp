#include "link/DataTypeTable.h"

#include "link/AdsLayout.h"
#include "link/EntryTexts.h"
#include "link/EntryWalk.h"
#include "link/WireBytes.h"

namespace {
using namespace WireBytes;

const qint64 kFixed = AdsLayout::TypeEntryFixedSize;

// Why the fixed part and the texts of the entry at `at`, which must end by
// `end`, do not hold together; empty when they do, with the entry's length
// and where its texts end.
QString headFault(const QByteArray &bytes, qint64 at, qint64 end, bool nested, qint64 *length,
                  qint64 *textsEnd)
{
    const QLatin1String within = nested ? QLatin1String("its parent") : QLatin1String("the table");
    const qint64 left = end - at;
    if (left < kFixed)
        return QStringLiteral("only %1 bytes are left in %2, fewer than an entry's fixed part of %3")
            .arg(left)
            .arg(within)
            .arg(kFixed);
    const char *entry = bytes.constData() + at;
    *length = le32(entry + AdsLayout::TypeEntryLength);
    if (*length < kFixed)
        return QStringLiteral("its length, %1, is less than an entry's fixed part of %2")
            .arg(*length)
            .arg(kFixed);
    if (*length > left)
        return QStringLiteral("its length, %1, runs past the end of %2 (%3 bytes left)")
            .arg(*length)
            .arg(within)
            .arg(left);
    const EntryTexts texts{le16(entry + AdsLayout::TypeEntryNameLength),
                           le16(entry + AdsLayout::TypeEntryTypeLength),
                           le16(entry + AdsLayout::TypeEntryCommentLength)};
    return texts.fault(bytes, at, kFixed, *length, textsEnd);
}

// Why the entry at `at`, `depth` levels below the top, which must end by
// `end`, does not hold together with its dimensions and sub-items; empty
// when it does, with its length in `length`.
QString entryFault(const QByteArray &bytes, qint64 at, qint64 end, int depth, qint64 *length)
{
    qint64 cursor = 0;
    QString head = headFault(bytes, at, end, depth > 0, length, &cursor);
    if (!head.isEmpty())
        return head;
    const char *entry = bytes.constData() + at;
    const qint64 entryEnd = at + *length;
    const qint64 dimensions = le16(entry + AdsLayout::TypeEntryArrayDim);
    if (cursor + dimensions * AdsLayout::TypeDimensionSize > entryEnd)
        return QStringLiteral("its %1 array dimensions (%2 bytes) run past its length, %3")
            .arg(dimensions)
            .arg(dimensions * AdsLayout::TypeDimensionSize)
            .arg(*length);
    cursor += dimensions * AdsLayout::TypeDimensionSize;
    const int subItems = le16(entry + AdsLayout::TypeEntrySubItems);
    if (subItems > 0 && depth >= DataTypeTable::MaxNesting)
        return QStringLiteral("its sub-items nest deeper than %1 levels").arg(int(DataTypeTable::MaxNesting));
    for (int i = 0; i < subItems; ++i) {
        qint64 subLength = 0;
        const QString fault = entryFault(bytes, cursor, entryEnd, depth + 1, &subLength);
        if (!fault.isEmpty())
            return QStringLiteral("its sub-item %1 (at byte %2 of the table): %3")
                .arg(i + 1)
                .arg(cursor)
                .arg(fault);
        cursor += subLength;
    }
    return QString();
}
} // namespace

QVector<quint32> DataTypeTable::offsets(const QByteArray &bytes, QString *error, int limit)
{
    return walkEntries(bytes, error, limit, MinEntryBytes, [&bytes](qint64 at, qint64 *length) {
        return entryFault(bytes, at, bytes.size(), 0, length);
    });
}

QList<DataTypeTable::DataType> DataTypeTable::parse(const QByteArray &bytes, QString *error)
{
    QList<DataType> types;
    for (const quint32 at : offsets(bytes, error))
        types.append(dataTypeAt(bytes, at));
    return types;
}

DataTypeTable::Entry DataTypeTable::entryAt(const QByteArray &bytes, quint32 at)
{
    const char *entry = bytes.constData() + at;
    Entry e;
    e.at = at;
    e.length = le32(entry + AdsLayout::TypeEntryLength);
    e.version = le32(entry + AdsLayout::TypeEntryVersion);
    e.hashValue = le32(entry + AdsLayout::TypeEntryHashValue);
    e.typeHashValue = le32(entry + AdsLayout::TypeEntryTypeHashValue);
    e.size = le32(entry + AdsLayout::TypeEntrySize);
    e.offs = le32(entry + AdsLayout::TypeEntryOffs);
    e.dataType = le32(entry + AdsLayout::TypeEntryDataType);
    e.flags = le32(entry + AdsLayout::TypeEntryFlags);
    e.name = Text{entry + AdsLayout::TypeEntryFixedSize, le16(entry + AdsLayout::TypeEntryNameLength)};
    e.typeName = Text{e.name.bytes + e.name.size + 1, le16(entry + AdsLayout::TypeEntryTypeLength)};
    e.comment = Text{e.typeName.bytes + e.typeName.size + 1, le16(entry + AdsLayout::TypeEntryCommentLength)};
    e.arrayDim = le16(entry + AdsLayout::TypeEntryArrayDim);
    e.subItems = le16(entry + AdsLayout::TypeEntrySubItems);
    e.dimensionsAt = quint32(e.comment.bytes + e.comment.size + 1 - bytes.constData());
    e.subItemsAt = e.dimensionsAt + quint32(e.arrayDim) * AdsLayout::TypeDimensionSize;
    return e;
}

DataTypeTable::Dimension DataTypeTable::dimensionAt(const QByteArray &bytes, const Entry &entry, int index)
{
    const char *pair =
        bytes.constData() + entry.dimensionsAt + size_t(index) * size_t(AdsLayout::TypeDimensionSize);
    Dimension d;
    d.lowerBound = qint32(le32(pair));
    d.elements = le32(pair + 4);
    return d;
}

QVector<quint32> DataTypeTable::subItemOffsets(const QByteArray &bytes, const Entry &entry)
{
    QVector<quint32> found;
    found.reserve(entry.subItems);
    quint32 at = entry.subItemsAt;
    for (int i = 0; i < entry.subItems; ++i) {
        found.append(at);
        at += le32(bytes.constData() + at + AdsLayout::TypeEntryLength);
    }
    return found;
}

DataTypeTable::DataType DataTypeTable::dataTypeAt(const QByteArray &bytes, quint32 at)
{
    const Entry e = entryAt(bytes, at);
    DataType t;
    t.name = SymbolTable::fromCodePage(e.name);
    t.typeName = SymbolTable::fromCodePage(e.typeName);
    t.comment = SymbolTable::fromCodePage(e.comment);
    t.version = e.version;
    t.hashValue = e.hashValue;
    t.typeHashValue = e.typeHashValue;
    t.size = e.size;
    t.offs = e.offs;
    t.dataType = e.dataType;
    t.flags = e.flags;
    for (int i = 0; i < e.arrayDim; ++i)
        t.dimensions.append(dimensionAt(bytes, e, i));
    for (const quint32 member : subItemOffsets(bytes, e))
        t.members.append(dataTypeAt(bytes, member));
    return t;
}
