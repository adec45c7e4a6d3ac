#include "driver/SymbolFacts.h"

#include "driver/ArrayBounds.h"
#include "driver/SymbolTypeRule.h"

SymbolFacts SymbolFacts::of(const SymbolEntry &entry)
{
    SymbolFacts f;
    f.entry = entry;
    const qint64 count = ArrayBounds::elementsOf(entry.typeName);
    f.elementWidth = count >= 1 && entry.size % count == 0 ? entry.size / count : 0;
    f.namedString = StringCodec::layoutOf(entry.typeName, &f.namedLayout);
    return f;
}

bool SymbolFacts::stringLayout(bool byId, StringCodec::Layout *out) const
{
    const quint32 id = entry.dataType;
    const bool stringId = id == SymbolTypeRule::AdsString || id == SymbolTypeRule::AdsWString;
    if (byId && !stringId)
        return false;
    if (namedString) {
        *out = namedLayout;
        return true;
    }
    if (!byId || elementWidth < 1)
        return false;
    StringCodec::Layout layout;
    layout.wide = id == SymbolTypeRule::AdsWString;
    const qint64 unit = layout.wide ? 2 : 1;
    layout.elements = entry.size / elementWidth;
    if (elementWidth % unit != 0 || elementWidth / unit < 2 || elementWidth / unit > (1 << 24))
        return false;
    layout.chars = int(elementWidth / unit - 1);
    *out = layout;
    return true;
}
