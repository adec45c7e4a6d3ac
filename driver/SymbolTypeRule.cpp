#include "driver/SymbolTypeRule.h"

#include "driver/ValueCodec.h"

int SymbolTypeRule::check(DataType type, const SymbolFacts &symbol)
{
    if (type == DT_UInt8)
        return 0;
    const quint32 id = symbol.entry.dataType;
    const qint64 width = symbol.elementWidth;
    bool suits = false;
    switch (type) {
    case DT_Float: suits = id == AdsReal32 && width == 4; break;
    case DT_Double: suits = id == AdsReal64 && width == 8; break;
    case DT_Bool: suits = id == AdsBit && width == 1; break;
    case DT_Int8:
    case DT_Int16:
    case DT_UInt16:
    case DT_Int32:
    case DT_UInt32:
    case DT_Int64:
    case DT_UInt64: suits = numeric(id) && width == ValueCodec::elementWidth(type); break;
    default: break; // strings have a rule of their own
    }
    return suits ? 0 : int(CLabelVariable::RC_TypeNotHandled);
}

bool SymbolTypeRule::numeric(quint32 id)
{
    switch (id) {
    case AdsInt16:
    case AdsInt32:
    case AdsReal32:
    case AdsReal64:
    case AdsInt8:
    case AdsUInt8:
    case AdsUInt16:
    case AdsUInt32:
    case AdsInt64:
    case AdsUInt64:
    case AdsBit: return true;
    default: return false;
    }
}
