// A data type table as a controller's upload may bring it: any bytes. The
// walk never reads past them, every entry and every member it returns has a
// name, members nest no deeper than the limit, and a table it read whole
// reads the same twice over when it comes twice, so no entry's end depends
// on anything but its own lengths. A walk with a limit finds the same
// entries, never more than one past the limit.
#include "fuzz/FuzzSupport.h"
#include "link/DataTypeTable.h"

#include <QByteArray>

namespace {

// Every entry named, and at most `depth` levels of members below it.
bool sound(const DataTypeTable::DataType &t, int depth)
{
    if (t.name.isEmpty() || (!t.members.isEmpty() && depth == 0))
        return false;
    for (const DataTypeTable::DataType &m : t.members) {
        if (!sound(m, depth - 1))
            return false;
    }
    return true;
}

bool same(const DataTypeTable::DataType &a, const DataTypeTable::DataType &b)
{
    if (a.name != b.name || a.typeName != b.typeName || a.comment != b.comment || a.size != b.size
        || a.offs != b.offs || a.dataType != b.dataType || a.flags != b.flags || a.version != b.version
        || a.hashValue != b.hashValue || a.typeHashValue != b.typeHashValue || a.dimensions != b.dimensions
        || a.members.size() != b.members.size())
        return false;
    for (int i = 0; i < a.members.size(); ++i) {
        if (!same(a.members.at(i), b.members.at(i)))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A copy of exactly `size` bytes, so that AddressSanitizer sees a read past them.
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QString error;
    const QList<DataTypeTable::DataType> types = DataTypeTable::parse(bytes, &error);
    for (const DataTypeTable::DataType &t : types)
        FUZZ_CHECK(sound(t, DataTypeTable::MaxNesting));

    const int limit = size > 0 ? data[0] % 4 : 0;
    QString limitedError;
    const QVector<quint32> limited = DataTypeTable::offsets(bytes, &limitedError, limit);
    FUZZ_CHECK(limited.size() <= limit + 1);
    FUZZ_CHECK(limited.size() <= types.size());
    FUZZ_CHECK(limited.size() == types.size() || limitedError.isEmpty());
    for (int i = 0; i < limited.size(); ++i)
        FUZZ_CHECK(same(DataTypeTable::dataTypeAt(bytes, limited.at(i)), types.at(i)));

    if (!error.isEmpty() || types.isEmpty())
        return 0;

    QString twiceError;
    const QList<DataTypeTable::DataType> twice = DataTypeTable::parse(bytes + bytes, &twiceError);
    FUZZ_CHECK(twiceError.isEmpty());
    FUZZ_CHECK(twice.size() == 2 * types.size());
    for (int i = 0; i < twice.size(); ++i)
        FUZZ_CHECK(same(twice.at(i), types.at(i % types.size())));
    return 0;
}
