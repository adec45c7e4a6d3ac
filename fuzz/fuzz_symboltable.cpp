// A symbol table as a controller's upload may bring it: any bytes. The walk
// never reads past them, every entry it returns has a name, and a table it
// read whole reads the same twice over when it comes twice, so no entry's
// end depends on anything but its own lengths. A walk with a limit finds
// the same entries, never more than one past the limit.
#include "fuzz/FuzzSupport.h"
#include "link/SymbolTable.h"

#include <QByteArray>

namespace {

bool same(const SymbolTable::Symbol &a, const SymbolTable::Symbol &b)
{
    return a.name == b.name && a.typeName == b.typeName && a.comment == b.comment && a.size == b.size
           && a.group == b.group && a.offset == b.offset;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A copy of exactly `size` bytes, so that AddressSanitizer sees a read past them.
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    QString error;
    const QList<SymbolTable::Symbol> symbols = SymbolTable::parse(bytes, &error);
    for (const SymbolTable::Symbol &s : symbols)
        FUZZ_CHECK(!s.name.isEmpty());

    const int limit = size > 0 ? data[0] % 4 : 0;
    QString limitedError;
    const QVector<quint32> limited = SymbolTable::offsets(bytes, &limitedError, limit);
    FUZZ_CHECK(limited.size() <= limit + 1);
    FUZZ_CHECK(limited.size() <= symbols.size());
    FUZZ_CHECK(limited.size() == symbols.size() || limitedError.isEmpty());
    for (int i = 0; i < limited.size(); ++i)
        FUZZ_CHECK(same(SymbolTable::symbolAt(bytes, limited.at(i)), symbols.at(i)));

    if (!error.isEmpty() || symbols.isEmpty())
        return 0;

    QString twiceError;
    const QList<SymbolTable::Symbol> twice = SymbolTable::parse(bytes + bytes, &twiceError);
    FUZZ_CHECK(twiceError.isEmpty());
    FUZZ_CHECK(twice.size() == 2 * symbols.size());
    for (int i = 0; i < twice.size(); ++i)
        FUZZ_CHECK(same(twice.at(i), symbols.at(i % symbols.size())));
    return 0;
}
