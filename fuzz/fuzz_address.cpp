// Address texts as a host may send them: area, offset, explicit group and
// byte length from AddressResolver, symbol names, and what the driver's read
// and write paths make of the same text. Without a link the driver answers a
// request it would have sent (a read or write, or the lookup of a symbol)
// with "link down"; every other answer is a refusal, so the result code
// tells whether a text reached the wire.
#include "driver/AddressResolver.h"
#include "driver/LibBeckhoff_ADS.h"
#include "driver/SymbolName.h"
#include "driver/ValueCodec.h"
#include "fuzz/FuzzSupport.h"
#include "link/SymbolEntry.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <climits>

using fuzzsupport::ByteReader;
using AR = AddressResolver;

namespace {

const AR::AreaType kAreas[] = {AR::AT_None,  AR::AT_MByte, AR::AT_MBit,  AR::AT_Data,
                               AR::AT_IByte, AR::AT_IBit,  AR::AT_QByte, AR::AT_QBit};

bool isArea(int value)
{
    for (AR::AreaType a : kAreas) {
        if (value == a)
            return true;
    }
    return false;
}

bool isBitArea(int area)
{
    return area == AR::AT_MBit || area == AR::AT_IBit || area == AR::AT_QBit;
}

bool hasAsciiLetter(const QString &text, char upper)
{
    return text.contains(QLatin1Char(upper)) || text.contains(QLatin1Char(char(upper + ('a' - 'A'))));
}

// One driver outlives all inputs: it never connects, so every read or
// write it would send ends at the closed link.
LibBeckhoff_ADS &driver()
{
    static LibBeckhoff_ADS *d = new LibBeckhoff_ADS;
    return *d;
}

bool isRefusal(int code)
{
    return code == CLabelVariable::RC_TypeNotHandled || code == CLabelVariable::RC_NoArea
           || code == CLabelVariable::RC_CountBelowOne || code == CLabelVariable::RC_BadOffsetOrCount;
}

template <typename T>
QVariant listOf(int n)
{
    QList<T> list;
    for (int i = 0; i < n; ++i)
        list.append(T(i));
    return QVariant::fromValue(list);
}

QVariant heldList(DataType type, int n)
{
    QVariant v;
    fuzzsupport::withElementType(type, [&](auto tag) { v = listOf<typename decltype(tag)::type>(n); });
    return v;
}

// A converted offset is made of numbers that each converted whole: a
// hexadecimal byte offset, decimal byte and bit numbers, or the hexadecimal
// part after the ":" of the explicit form.
void checkConvertedOffset(const QString &text, AR::AreaType area, int offset)
{
    const QString rest = text.mid(2);
    bool ok = false;
    switch (area) {
    case AR::AT_MByte:
    case AR::AT_IByte:
    case AR::AT_QByte: FUZZ_CHECK(rest.toUtf8().toInt(&ok, 16) == offset && ok); break;
    case AR::AT_MBit:
    case AR::AT_IBit:
    case AR::AT_QBit: {
        const QStringList parts = rest.split(QLatin1Char('.'));
        FUZZ_CHECK(parts.size() >= 2);
        bool bitOk = false;
        const qint64 byte = parts.at(0).toInt(&ok, 10);
        const qint64 bit = parts.at(1).toInt(&bitOk, 10);
        FUZZ_CHECK(ok && bitOk && byte * 8 + bit == offset);
        break;
    }
    case AR::AT_Data: {
        const QStringList parts = rest.split(QLatin1Char(':'));
        FUZZ_CHECK(parts.size() >= 2);
        FUZZ_CHECK(parts.at(1).toUtf8().toInt(&ok, 16) == offset && ok);
        break;
    }
    default: FUZZ_CHECK(!"an area without an offset converted one");
    }
}

struct Resolved {
    int area;
    int offset;
    bool converted;
    int group;
    bool groupConverted;
};

Resolved resolveAndCheck(const QString &text)
{
    Resolved r{};
    r.area = AR::area(text);
    FUZZ_CHECK(isArea(r.area));

    // The rules the header states, for the letters they name.
    if (r.area != AR::AT_None && r.area != AR::AT_Data)
        FUZZ_CHECK(isBitArea(r.area) == text.contains(QLatin1Char('.')));
    if (hasAsciiLetter(text, 'M'))
        FUZZ_CHECK(r.area == AR::AT_MByte || r.area == AR::AT_MBit);
    else if (hasAsciiLetter(text, 'Q'))
        FUZZ_CHECK(r.area == AR::AT_QByte || r.area == AR::AT_QBit);
    else if (hasAsciiLetter(text, 'I'))
        FUZZ_CHECK(r.area == AR::AT_IByte || r.area == AR::AT_IBit);
    if (r.area == AR::AT_Data)
        FUZZ_CHECK(text.contains(QLatin1Char(':')) && text.size() >= 5);

    r.converted = true; // must be overwritten either way
    r.offset = AR::offset(text, AR::AreaType(r.area), &r.converted);
    if (!r.converted)
        FUZZ_CHECK(r.offset == 0);
    if (r.area == AR::AT_None)
        FUZZ_CHECK(!r.converted);
    // The flag is optional; leaving it out changes nothing.
    FUZZ_CHECK(AR::offset(text, AR::AreaType(r.area)) == r.offset);
    FUZZ_CHECK(driver().getAddr(text, AR::AreaType(r.area)) == r.offset);
    FUZZ_CHECK(driver().getArea(text) == r.area);

    // Any area may be asked for, not only the one the text names.
    for (AR::AreaType a : kAreas) {
        bool ok = true;
        const int off = AR::offset(text, a, &ok);
        if (!ok)
            FUZZ_CHECK(off == 0);
        else
            checkConvertedOffset(text, a, off);
        // The first two characters never enter the offset.
        if (text.size() >= 2) {
            bool okOther = !ok;
            FUZZ_CHECK(AR::offset(QStringLiteral("ZZ") + text.mid(2), a, &okOther) == off);
            FUZZ_CHECK(okOther == ok);
        }
    }

    r.groupConverted = true;
    r.group = AR::explicitGroup(text, &r.groupConverted);
    if (!r.groupConverted)
        FUZZ_CHECK(r.group == 0);
    return r;
}

void checkByteLengths(ByteReader &in)
{
    const int counts[] = {INT_MIN, -1, 0, 1, 3, INT_MAX, in.i32()};
    for (int type = -1; type <= 45; ++type) {
        const qint64 width = ValueCodec::elementWidth(type);
        FUZZ_CHECK(width == 0 || width == 1 || width == 2 || width == 4 || width == 8);
        FUZZ_CHECK((width != 0) == (type >= DT_Bool && type <= DT_Double));
        for (int count : counts) {
            // Every caller passes an int count; the product of width and
            // count then always fits: UBSan reports it if it did not.
            const qint64 n = ValueCodec::byteLength(type, count);
            FUZZ_CHECK(n == width * qint64(count));
            const int asInt = driver().getBytelen(DataType(type), count);
            FUZZ_CHECK(asInt == ((n >= INT_MIN && n <= INT_MAX) ? int(n) : 0));
        }
    }
}

struct Probe {
    DataType type;
    int count;
    int held; // elements the written value holds
};

// A symbol name goes to the controller as its Latin-1 bytes and a zero:
// only a name that survives that unchanged may be looked up.
void checkSymbolName(const QString &text)
{
    if (!SymbolName::isSymbolPath(text))
        return;
    FUZZ_CHECK(text.contains(QLatin1Char('.')) && !text.endsWith(QLatin1Char('.')));
    for (QChar c : text) {
        const ushort u = c.unicode();
        FUZZ_CHECK((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_'
                   || u == '.' || u == '[' || u == ']' || u == ',' || u == '-');
    }
    const QByteArray lookup = SymbolEntry::lookupData(text);
    FUZZ_CHECK(lookup.size() == text.size() + 1 && lookup.endsWith('\0'));
    FUZZ_CHECK(fuzzsupport::latin1(lookup.left(text.size())) == text);
    FUZZ_CHECK(!lookup.left(text.size()).contains('\0'));
}

// The same address read and written with counts on both sides of each
// limit: a text the resolver refuses never reaches the link unless it is a
// symbol name (then its lookup does), and a text it accepts, with a count
// and type that fit, always does.
void checkDriverPaths(const QString &text, const Resolved &r)
{
    static const Probe probes[] = {
        {DT_Int16, 1, 1},
        {DT_Double, 3, 2},
        {DT_Bool, 0, 1},
        {DT_None, 1, 1},
        {DT_String, 1, 1},
        {DT_UInt8, 70000, 0},
        {DT_Double, INT_MAX / 8, 0},
        {DT_Int32, -4, 0},
        {DataType(13), 2, 2},
    };
    const bool symbolPath = SymbolName::isSymbolPath(text);
    // Only what the area grammar refuses can be a name: MB10 stays an address.
    const bool readParsed =
        r.area != AR::AT_None && r.converted && (r.area != AR::AT_Data || r.groupConverted);
    // And no name reads as an address, which lets the resolver take a name
    // without parsing it as one.
    FUZZ_CHECK(!(symbolPath && readParsed));
    const bool readUsable = (readParsed && r.offset >= 0) || (!readParsed && symbolPath);
    // The explicit form names its group for writes as for reads.
    const bool writeParsed = readParsed;
    const bool writeUsable = (writeParsed && r.offset >= 0) || (!writeParsed && symbolPath);
    for (const Probe &p : probes) {
        const bool knownType = ValueCodec::elementWidth(p.type) > 0;
        const bool lengthFits = ValueCodec::byteLength(p.type, p.count) <= INT_MAX - 46;

        const CLabelVariable read = driver().ReadVariable(text, p.type, p.count);
        FUZZ_CHECK(read.name == text && read.count == p.count && read.type == p.type);
        if (!readUsable)
            FUZZ_CHECK(read.resultCode == CLabelVariable::RC_NoArea
                       || read.resultCode == CLabelVariable::RC_BadOffsetOrCount);
        else if (knownType && p.count >= 1 && lengthFits)
            FUZZ_CHECK(read.resultCode == CLabelVariable::RC_LinkDown);
        else
            FUZZ_CHECK(isRefusal(read.resultCode) || read.resultCode == CLabelVariable::RC_LinkDown);

        CLabelVariable value;
        value.value = heldList(p.type, p.held);
        const CLabelVariable written = driver().WriteVariable(text, p.type, value, p.count);
        FUZZ_CHECK(written.name == text && written.count == p.count && written.type == p.type);
        const bool writeSent =
            writeUsable && knownType && p.count >= 1 && p.count <= 65535 && p.held >= p.count;
        if (writeSent)
            FUZZ_CHECK(written.resultCode == CLabelVariable::RC_LinkDown);
        else
            FUZZ_CHECK(isRefusal(written.resultCode));
    }
}

void checkText(const QString &text, ByteReader &in, bool withDriver)
{
    const Resolved r = resolveAndCheck(text);
    checkByteLengths(in);
    checkSymbolName(text);
    if (withDriver)
        checkDriverPaths(text, r);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray raw(reinterpret_cast<const char *>(data), int(size));
    ByteReader in(data, size);
    // A host may hand over text decoded either way; invalid UTF-8 becomes
    // replacement characters, Latin-1 keeps every byte as a character.
    const QString utf8 = fuzzsupport::utf8(raw);
    const QString latin1 = fuzzsupport::latin1(raw);
    checkText(utf8, in, true);
    checkText(latin1, in, utf8 != latin1);
    return 0;
}
