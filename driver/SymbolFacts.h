// What the driver keeps of a symbol's entry: the entry itself and what its
// type name says, worked out once when the entry comes rather than at every
// access.
#ifndef SYMBOLFACTS_H
#define SYMBOLFACTS_H

#include "driver/StringCodec.h"
#include "link/SymbolEntry.h"

struct SymbolFacts {
    SymbolEntry entry;
    qint64 elementWidth = 0; // the size shared by the declared element count; 0 when uneven
    bool namedString = false; // the type name declares strings: namedLayout
    StringCodec::Layout namedLayout;

    static SymbolFacts of(const SymbolEntry &entry);

    // The strings the symbol holds: as its type name declares them, or, with
    // `byId`, as its data type id (STRING, WSTRING) and size give them, so
    // that an alias such as T_MaxString is a string too. False: no strings.
    bool stringLayout(bool byId, StringCodec::Layout *out) const;
};

#endif // SYMBOLFACTS_H
