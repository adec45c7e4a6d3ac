#include "driver/AddressResolver.h"

#include "driver/SymbolName.h"
#include "value/CLabelVariable.h"

namespace {
bool contains(const QString &text, char letter)
{
    return text.contains(QLatin1Char(letter), Qt::CaseInsensitive);
}

void setConverted(bool *converted, bool value)
{
    if (converted)
        *converted = value;
}

// The `index`th field of `text` cut at `separator`, as split() would give
// it; null when there are fewer fields. No allocation.
QStringRef field(const QStringRef &text, QChar separator, int index)
{
    int from = 0;
    for (int i = 0; i < index; ++i) {
        const int at = text.indexOf(separator, from);
        if (at < 0)
            return QStringRef();
        from = at + 1;
    }
    const int to = text.indexOf(separator, from);
    return text.mid(from, to < 0 ? -1 : to - from);
}

// The value of `text` when it is nothing but at most `maxDigits` digits of
// `base` (10 or 16), or -1. Such text cannot overflow an int.
int plainDigits(const QStringRef &text, int base, int maxDigits)
{
    if (text.isEmpty() || text.size() > maxDigits)
        return -1;
    int value = 0;
    for (const QChar c : text) {
        const ushort u = c.unicode();
        int digit = -1;
        if (u >= '0' && u <= '9')
            digit = u - '0';
        else if (base == 16 && u >= 'a' && u <= 'f')
            digit = u - 'a' + 10;
        else if (base == 16 && u >= 'A' && u <= 'F')
            digit = u - 'A' + 10;
        if (digit < 0)
            return -1;
        value = value * base + digit;
    }
    return value;
}
} // namespace

AddressResolver::AreaType AddressResolver::area(const QString &address)
{
    const bool bit = address.contains(QLatin1Char('.'));
    if (contains(address, 'M'))
        return bit ? AT_MBit : AT_MByte;
    if (contains(address, 'Q'))
        return bit ? AT_QBit : AT_QByte;
    if (contains(address, 'I'))
        return bit ? AT_IBit : AT_IByte;
    if (address.contains(QLatin1Char(':')) && address.size() >= 5)
        return AT_Data;
    return AT_None;
}

// Reads hexadecimal as QByteArray::toInt(base 16) does: optional sign and
// 0x prefix, either case; empty or partly numeric text does not convert.
// Plain digits, the text of nearly every address, are read in place.
int AddressResolver::hexNumber(const QStringRef &text, bool *converted)
{
    int value = plainDigits(text, 16, 7);
    bool ok = value >= 0;
    if (!ok)
        value = text.toString().toUtf8().toInt(&ok, 16);
    setConverted(converted, ok);
    return ok ? value : 0;
}

// Reads decimal as QString::toInt(base 10) does.
int AddressResolver::decimalNumber(const QStringRef &text, bool *converted)
{
    int value = plainDigits(text, 10, 9);
    bool ok = value >= 0;
    if (!ok)
        value = text.toInt(&ok, 10); // in place: a name's parts land here on every read
    setConverted(converted, ok);
    return ok ? value : 0;
}

int AddressResolver::offset(const QString &address, AreaType area, bool *converted)
{
    setConverted(converted, false);
    const QStringRef rest = address.midRef(2);
    switch (area) {
    case AT_MByte:
    case AT_IByte:
    case AT_QByte: return hexNumber(rest, converted);
    case AT_MBit:
    case AT_IBit:
    case AT_QBit: {
        const QStringRef bitText = field(rest, QLatin1Char('.'), 1);
        if (bitText.isNull())
            return 0;
        bool byteOk = false;
        bool bitOk = false;
        const qint64 byte = decimalNumber(field(rest, QLatin1Char('.'), 0), &byteOk);
        const qint64 bit = decimalNumber(bitText, &bitOk);
        const qint64 bits = byte * 8 + bit;
        if (!byteOk || !bitOk || bits < INT_MIN || bits > INT_MAX)
            return 0;
        setConverted(converted, true);
        return int(bits);
    }
    case AT_Data: {
        const QStringRef offsetText = field(rest, QLatin1Char(':'), 1);
        if (offsetText.isNull())
            return 0;
        return hexNumber(offsetText, converted);
    }
    default: return 0;
    }
}

int AddressResolver::explicitGroup(const QString &address, bool *converted)
{
    return hexNumber(field(QStringRef(&address), QLatin1Char(':'), 0), converted);
}

AddressResolver::Target AddressResolver::resolve(const QString &address)
{
    Target t;
    t.area = area(address);
    // A name never reads as an area address: after its first dot come
    // identifiers, where an address has numbers. So a name costs no number
    // parsing, on every read by name.
    if (SymbolName::isSymbolPath(address)) {
        t.group = t.area;
        t.symbol = true;
        return t;
    }
    t.offset = offset(address, AreaType(t.area), &t.parsed);
    t.group = t.area;
    if (t.area == AT_Data) {
        bool groupParsed = false;
        t.group = explicitGroup(address, &groupParsed);
        t.parsed = t.parsed && groupParsed;
    }
    return t;
}
