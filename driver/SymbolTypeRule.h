// Whether the host's type suits a symbol as the controller declares it, so
// that a tag imported with the wrong type is refused instead of showing
// plausible garbage. The symbol's ADS data type id decides:
//
// - DT_Float and DT_Double need a REAL (4) or LREAL (5) element of their width;
// - the integer types need an element of their width of any numeric kind or
//   BIT (raw bits: an INT read as DT_UInt16, a REAL as DT_UInt32);
// - DT_Bool needs BIT (33);
// - DT_String needs STRING (30) or WSTRING (31), see StringLayout;
// - DT_UInt8 takes any symbol as its raw bytes;
// - every other id (0, structures 65, pointers, interfaces) DT_UInt8 only.
//
// An array's element id is the entry's own (unless 65), its element width
// the symbol's size divided by the element count its bounds give.
#ifndef SYMBOLTYPERULE_H
#define SYMBOLTYPERULE_H

#include "driver/SymbolFacts.h"
#include "value/CLabelVariable.h"

class SymbolTypeRule
{
public:
    enum AdsTypeId : quint32 {
        AdsInt16 = 2,
        AdsInt32 = 3,
        AdsReal32 = 4,
        AdsReal64 = 5,
        AdsInt8 = 16,
        AdsUInt8 = 17,
        AdsUInt16 = 18,
        AdsUInt32 = 19,
        AdsInt64 = 20,
        AdsUInt64 = 21,
        AdsString = 30,
        AdsWString = 31,
        AdsBit = 33,
        AdsBigType = 65
    };

    // 0 when `type` may read or write the symbol's elements, else the
    // result code that refuses it (2).
    static int check(DataType type, const SymbolFacts &symbol);

private:
    static bool numeric(quint32 id);
};

#endif // SYMBOLTYPERULE_H
