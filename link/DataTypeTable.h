// The data type table a controller uploads (index group 0xF00E): entries one
// after another, each a fixed part (AdsLayout::DataTypeEntryField), then
// name, type name and comment, each ended by a zero byte, then `arrayDim`
// pairs of lower bound and element count, then `subItems` entries of the
// same form, the members of a structure, nested within their parent's
// length. Whatever follows up to an entry's length is skipped: newer
// runtimes append fields there. Texts are Windows-1252.
//
// As with the symbol table, a large table is kept as its bytes and the
// offsets of its top-level entries; an entry is read in place.
#ifndef DATATYPETABLE_H
#define DATATYPETABLE_H

#include "link/SymbolTable.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

#include <limits>

class DataTypeTable
{
public:
    using Text = SymbolTable::Text;

    struct Dimension {
        qint32 lowerBound = 0;
        quint32 elements = 0;
        bool operator==(const Dimension &o) const
        {
            return lowerBound == o.lowerBound && elements == o.elements;
        }
    };

    // An entry read in place: the texts point into the table.
    struct Entry {
        quint32 at = 0; // where it starts in the table
        quint32 length = 0;
        quint32 version = 0;
        quint32 hashValue = 0;
        quint32 typeHashValue = 0;
        quint32 size = 0;
        quint32 offs = 0; // within its parent
        quint32 dataType = 0; // the ADS data type id
        quint32 flags = 0;
        Text name;
        Text typeName;
        Text comment;
        quint16 arrayDim = 0;
        quint16 subItems = 0;
        quint32 dimensionsAt = 0; // the first pair
        quint32 subItemsAt = 0; // the first sub-item
    };

    // An entry decoded, its members with it.
    struct DataType {
        QString name;
        QString typeName;
        QString comment;
        quint32 version = 0;
        quint32 hashValue = 0;
        quint32 typeHashValue = 0;
        quint32 size = 0;
        quint32 offs = 0;
        quint32 dataType = 0;
        quint32 flags = 0;
        QList<Dimension> dimensions;
        QList<DataType> members;
    };

    enum : int {
        // Sub-items within sub-items, at most this deep below a top-level entry.
        MaxNesting = 16,
        // The fixed part, a name of one byte and three zero bytes.
        MinEntryBytes = 46
    };

    // The byte offset of every top-level entry of `bytes`, in their order,
    // each checked whole with its sub-items. An entry whose lengths do not
    // hold together (shorter than its fixed part, past its end or the
    // table's, a text without its zero or with one inside it, an empty
    // name, dimensions or sub-items overflowing it, sub-items nested deeper
    // than MaxNesting) ends the walk: the entries before it are returned
    // and `error` names the entry by number (from 1) and byte offset, and
    // the faulty sub-item likewise; `error` is empty otherwise. The walk
    // also ends, without an error, once it has found `limit` + 1 entries.
    // Nothing past the end of `bytes` is ever read.
    static QVector<quint32> offsets(const QByteArray &bytes, QString *error,
                                    int limit = std::numeric_limits<int>::max() - 1);
    // Every entry of `bytes`, decoded, as offsets() finds them.
    static QList<DataType> parse(const QByteArray &bytes, QString *error);

    // The entry at `at`: an offset offsets() gave for the same bytes, or
    // one of the sub-items of an entry read from one.
    static Entry entryAt(const QByteArray &bytes, quint32 at);
    static Dimension dimensionAt(const QByteArray &bytes, const Entry &entry, int index);
    // Where the sub-items of `entry` start, in their order.
    static QVector<quint32> subItemOffsets(const QByteArray &bytes, const Entry &entry);
    static DataType dataTypeAt(const QByteArray &bytes, quint32 at);
};

#endif // DATATYPETABLE_H
