#include "driver/AddressResolver.h"

#include "driver/SymbolName.h"
#include "value/CLabelVariable.h"

#include <QStringList>

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

QString AddressResolver::rest(const QString &address)
{
    return address.mid(2);
}

// Reads hexadecimal as QByteArray::toInt(base 16) does: optional sign and
// 0x prefix, either case; empty or partly numeric text does not convert.
int AddressResolver::hexNumber(const QString &text, bool *converted)
{
    bool ok = false;
    const int value = text.toUtf8().toInt(&ok, 16);
    setConverted(converted, ok);
    return ok ? value : 0;
}

int AddressResolver::offset(const QString &address, AreaType area, bool *converted)
{
    setConverted(converted, false);
    switch (area) {
    case AT_MByte:
    case AT_IByte:
    case AT_QByte: return hexNumber(rest(address), converted);
    case AT_MBit:
    case AT_IBit:
    case AT_QBit: {
        const QStringList parts = rest(address).split(QLatin1Char('.'));
        if (parts.size() < 2)
            return 0;
        bool byteOk = false;
        bool bitOk = false;
        const qint64 byte = parts.at(0).toInt(&byteOk, 10);
        const qint64 bit = parts.at(1).toInt(&bitOk, 10);
        const qint64 bits = byte * 8 + bit;
        if (!byteOk || !bitOk || bits < INT_MIN || bits > INT_MAX)
            return 0;
        setConverted(converted, true);
        return int(bits);
    }
    case AT_Data: {
        const QStringList parts = rest(address).split(QLatin1Char(':'));
        if (parts.size() < 2)
            return 0;
        return hexNumber(parts.at(1), converted);
    }
    default: return 0;
    }
}

int AddressResolver::explicitGroup(const QString &address, bool *converted)
{
    return hexNumber(address.section(QLatin1Char(':'), 0, 0), converted);
}

AddressResolver::Target AddressResolver::resolve(const QString &address)
{
    Target t;
    t.area = area(address);
    t.offset = offset(address, AreaType(t.area), &t.parsed);
    t.group = t.area;
    if (t.area == AT_Data) {
        bool groupParsed = false;
        t.group = explicitGroup(address, &groupParsed);
        t.parsed = t.parsed && groupParsed;
    }
    if ((t.area == AT_None || !t.parsed) && SymbolName::isSymbolPath(address)) {
        t.symbol = true;
        t.offset = 0;
    }
    return t;
}
