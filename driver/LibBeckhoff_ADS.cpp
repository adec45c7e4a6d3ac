#include "LibBeckhoff_ADS.h"

#include "AdsFrame.h"
#include "BuildStamp.h"
#include "ConnectionText.h"
#include "LinkResult.h"
#include "SymbolName.h"
#include "ValueCodec.h"

#include <QDateTime>

#include <climits>
#include <new>

namespace {
const int kDefaultAmsPort = 851;
// A write moves at most this many elements in one request.
const int kMaxWriteCount = 65535;
// A QList holds at most this many entries (a pointer-sized slot each,
// counted in int bytes), a QByteArray a little less than INT_MAX bytes.
const qint64 kMaxListEntries = (INT_MAX - 64) / qint64(sizeof(void *));
const qint64 kMaxReplyBytes = INT_MAX - 64;

// Nothing may throw into the host: memory running out becomes a result.
template <typename F, typename R>
R guarded(F &&f, R onFailure)
{
    try {
        return f();
    } catch (...) {
        return onFailure;
    }
}
} // namespace

// The link is a child, so moveToThread of the driver carries the link and its
// sockets along.
LibBeckhoff_ADS::LibBeckhoff_ADS()
    : QObject(nullptr), adsLink(this), amsPort(kDefaultAmsPort), serialBaud(0), serialDataBits(0), serialStopBits(0),
      ethPort(0)
{
}

LibBeckhoff_ADS::~LibBeckhoff_ADS() = default;

// ---------------------------------------------------------------- identity

QString LibBeckhoff_ADS::getDriveName()
{
    return QStringLiteral("Beckhoff");
}

QString LibBeckhoff_ADS::getversion_number()
{
    return QStringLiteral("V1.0.1 20230221");
}

QString LibBeckhoff_ADS::DebugCmd(EDebugCmdType cmd)
{
    switch (cmd) {
    case DC_StartDebug: adsLink.debugFlag = true; return QStringLiteral("StartDebug");
    case DC_StopDebug: adsLink.debugFlag = false; return QStringLiteral("StopDebug");
    case DC_Version: return BuildStamp::current();
    case DC_DriveName: return getDriveName();
    }
    return QString();
}

// ---------------------------------------------------------------- connection

// A refused or failed connect leaves the line in use as it was.
int LibBeckhoff_ADS::ConnectDrive(QString connectionText)
{
    if (!adsLink.callerOwnsLink() || adsLink.busy())
        return -1;
    return guarded(
        [&]() {
            int rc = -4;
            switch (ConnectionText::formOf(connectionText)) {
            case ConnectionText::SerialForm: {
                const ConnectionText::Serial s = ConnectionText::serial(connectionText);
                serialPortName = s.portName;
                serialBaud = s.baud;
                serialDataBits = s.dataBits;
                serialStopBits = s.stopBits;
                serialParity = s.parity;
                if (!ConnectionText::acceptable(s))
                    return -1;
                rc = adsLink.serialConnectDrive(serialPortName, serialBaud, serialDataBits, serialStopBits,
                                                serialParity);
                break;
            }
            case ConnectionText::EthernetForm: {
                const ConnectionText::Ethernet e = ConnectionText::ethernet(connectionText);
                ethIp = e.ip;
                ethPort = e.port;
                if (!ConnectionText::acceptable(e))
                    return -1;
                rc = adsLink.EthConnectDrive(ethIp, ethPort);
                break;
            }
            case ConnectionText::NoForm: break;
            }
            if (rc == 0)
                symbolCache.clear(); // another controller, or the same one restarted
            return rc;
        },
        -1);
}

int LibBeckhoff_ADS::SetConnectPar(QString parameterText)
{
    // AMS ports are 16 bits: a larger number would reach another port.
    const uint port = parameterText.toUInt(nullptr, 10);
    amsPort = port <= 65535 ? int(port) : 0;
    return amsPort;
}

int LibBeckhoff_ADS::DisConnectDrive()
{
    if (!adsLink.callerOwnsLink())
        return -1;
    symbolCache.clear();
    return adsLink.DisConnectDrive();
}

int LibBeckhoff_ADS::DestroyFree()
{
    if (!adsLink.callerOwnsLink())
        return -1;
    symbolCache.clear();
    return guarded([&]() { return adsLink.DestroyFree(); }, -1);
}

// ---------------------------------------------------------------- addresses

int LibBeckhoff_ADS::getArea(const QString &address)
{
    return AddressResolver::area(address);
}

int LibBeckhoff_ADS::getAddr(const QString &address, AreaType area)
{
    return AddressResolver::offset(address, area);
}

int LibBeckhoff_ADS::getBytelen(DataType type, int count)
{
    const qint64 n = AddressResolver::byteLength(type, count);
    return n >= INT_MIN && n <= INT_MAX ? int(n) : 0;
}

// The explicit form GROUP:OFFSET names its index group, for writes as for
// reads: a write must land where the host said.
LibBeckhoff_ADS::Target LibBeckhoff_ADS::resolve(const QString &address)
{
    Target t;
    t.area = AddressResolver::area(address);
    t.offset = AddressResolver::offset(address, AreaType(t.area), &t.parsed);
    t.group = t.area;
    if (t.area == AddressResolver::AT_Data) {
        bool groupParsed = false;
        t.group = AddressResolver::explicitGroup(address, &groupParsed);
        t.parsed = t.parsed && groupParsed;
    }
    // Only what the area grammar refuses can be a name: MB10 stays an address.
    if ((t.area == AddressResolver::AT_None || !t.parsed) && SymbolName::isSymbolPath(address)) {
        t.symbol = true;
        t.offset = 0;
    }
    return t;
}

// The refusals shared by reads and writes, first match wins; 0 when none.
int LibBeckhoff_ADS::refusal(const Target &target, DataType type, int count, int maxCount)
{
    if (target.offset < 0)
        return CLabelVariable::RC_BadOffsetOrCount;
    if (!target.symbol && (target.area == AddressResolver::AT_None || !target.parsed))
        return CLabelVariable::RC_NoArea;
    if (count < 1)
        return CLabelVariable::RC_CountBelowOne;
    if (count > maxCount)
        return CLabelVariable::RC_BadOffsetOrCount;
    if (type == DT_None)
        return CLabelVariable::RC_TypeNotHandled;
    return 0;
}

// A read the driver could not hand over: a list longer than Qt can hold
// (a bool read unpacks 8 entries per byte and one byte more), or a reply
// longer than a byte array can.
bool LibBeckhoff_ADS::readTooLarge(DataType type, int count)
{
    const qint64 entries =
        type == DT_Bool ? 8 * (qint64(count) / 8 + (count % 8 ? 1 : 0) + 1) : qint64(count);
    return entries > kMaxListEntries
           || AddressResolver::byteLength(type, count) > kMaxReplyBytes - AdsFrame::ReadReplyHeaderSize;
}

// ---------------------------------------------------------------- read path

CLabelVariable LibBeckhoff_ADS::ReadVariable(QString address, DataType type)
{
    return ReadVariable(address, type, 1);
}

CLabelVariable LibBeckhoff_ADS::ReadVariable(QString address, DataType type, int count)
{
    CLabelVariable answer;
    if (!adsLink.callerOwnsLink()) {
        answer.resultCode = CLabelVariable::RC_LinkDown;
    } else {
        CLabelVariable outOfMemory;
        outOfMemory.resultCode = CLabelVariable::RC_BadOffsetOrCount;
        answer = guarded([&]() { return readVariable(address, type, count); }, outOfMemory);
    }
    answer.name = address;
    answer.count = count;
    answer.type = type;
    return answer;
}

CLabelVariable LibBeckhoff_ADS::readVariable(const QString &address, DataType type, int count)
{
    CLabelVariable answer;
    const Target target = resolve(address);
    int refused = refusal(target, type, count, INT_MAX);
    if (!refused && readTooLarge(type, count))
        refused = CLabelVariable::RC_BadOffsetOrCount;
    if (refused)
        answer.resultCode = refused;
    else if (target.symbol)
        answer = readSymbol(address, type, count);
    else
        answer = Read_data(target.offset, type, count, target.group, address);
    return answer;
}

CLabelVariable LibBeckhoff_ADS::Read_data(int indexOffset, DataType type, int count, int indexGroup,
                                          const QString &address)
{
    CLabelVariable inner;
    QByteArray bytes;
    const int byteLength = int(AddressResolver::byteLength(type, count));
    const int rc = adsLink.Read_area(amsPort, indexOffset, byteLength, &bytes, indexGroup, address);
    inner.resultCode = resultOfLink(rc);
    if (rc == 0) {
        inner.timeStamp = QDateTime::currentDateTime();
        inner.value = decode(type, bytes, count);
        if (!inner.value.isValid())
            inner.resultCode = CLabelVariable::RC_TypeNotHandled;
    }
    return inner;
}

int LibBeckhoff_ADS::resultOfLink(int linkResult)
{
    switch (linkResult) {
    case LinkOk: return CLabelVariable::RC_Success;
    case LinkWrongReply: return CLabelVariable::RC_WrongReply;
    case LinkNoReply: return CLabelVariable::RC_NoReply;
    case LinkDown: return CLabelVariable::RC_LinkDown;
    case LinkBusy: return CLabelVariable::RC_Busy;
    default: return CLabelVariable::RC_NotDone;
    }
}

// ---------------------------------------------------------------- symbols

int LibBeckhoff_ADS::locateSymbol(const QString &name, DataType type, int count, Target *target,
                                  bool *fromCache)
{
    SymbolEntry entry;
    *fromCache = symbolCache.find(amsPort, name, &entry);
    if (!*fromCache) {
        QByteArray answer;
        const int rc =
            adsLink.ReadWrite_area(amsPort, SymbolEntry::LookupGroup, 0, SymbolEntry::LookupReadLength,
                                   SymbolEntry::lookupData(name), &answer, name);
        if (rc != 0)
            return resultOfLink(rc);
        if (!SymbolEntry::parse(answer, &entry))
            return CLabelVariable::RC_WrongReply;
        symbolCache.insert(amsPort, name, entry);
    }
    // Reading fewer elements than the symbol holds reads its head; more is refused.
    if (AddressResolver::byteLength(type, count) > qint64(entry.size))
        return CLabelVariable::RC_BadOffsetOrCount;
    target->group = int(entry.indexGroup);
    target->offset = int(entry.indexOffset);
    return 0;
}

bool LibBeckhoff_ADS::placeWentStale(int resultCode) const
{
    return resultCode == CLabelVariable::RC_WrongReply && adsLink.lastErrorCode() != 0;
}

CLabelVariable LibBeckhoff_ADS::readSymbol(const QString &name, DataType type, int count)
{
    CLabelVariable inner;
    Target place;
    bool fromCache = false;
    int refused = locateSymbol(name, type, count, &place, &fromCache);
    if (!refused) {
        inner = Read_data(place.offset, type, count, place.group, name);
        if (placeWentStale(inner.resultCode)) {
            symbolCache.remove(amsPort, name);
            if (fromCache && !(refused = locateSymbol(name, type, count, &place, &fromCache)))
                inner = Read_data(place.offset, type, count, place.group, name);
        }
    }
    if (refused)
        inner.resultCode = refused;
    return inner;
}

void LibBeckhoff_ADS::writeSymbol(const QString &name, DataType type, int count, CLabelVariable &value)
{
    Target place;
    bool fromCache = false;
    int refused = locateSymbol(name, type, count, &place, &fromCache);
    if (!refused) {
        Write_D(place.offset, type, count, value, place.group, name);
        if (placeWentStale(value.resultCode)) {
            symbolCache.remove(amsPort, name);
            if (fromCache && !(refused = locateSymbol(name, type, count, &place, &fromCache)))
                Write_D(place.offset, type, count, value, place.group, name);
        }
    }
    if (refused)
        value.resultCode = refused;
}

QVariant LibBeckhoff_ADS::decode(DataType type, const QByteArray &bytes, int count)
{
    switch (type) {
    case DT_Bool: return set_variant_bool(bytes, count);
    case DT_Int8: return set_variant_Int8(bytes, count);
    case DT_UInt8: return set_variant_UInt8(bytes, count);
    case DT_Int16: return set_variant_Int16(bytes, count);
    case DT_UInt16: return set_variant_UInt16(bytes, count);
    case DT_Int32: return set_variant_Int32(bytes, count);
    case DT_UInt32: return set_variant_UInt32(bytes, count);
    case DT_Float: return set_variant_fload(bytes, count);
    case DT_Int64: return set_variant_Int64(bytes, count);
    case DT_UInt64: return set_variant_UInt64(bytes, count);
    case DT_Double: return set_variant_double(bytes, count);
    default: return QVariant();
    }
}

#define ADS_DECODER(name, T)                                                                                 \
    QVariant LibBeckhoff_ADS::name(const QByteArray &bytes, int count)                                       \
    {                                                                                                        \
        return ValueCodec::decode<T>(bytes, count);                                                          \
    }

ADS_DECODER(set_variant_bool, bool)
ADS_DECODER(set_variant_Int8, char)
ADS_DECODER(set_variant_UInt8, unsigned char)
ADS_DECODER(set_variant_Int16, short)
ADS_DECODER(set_variant_UInt16, unsigned short)
ADS_DECODER(set_variant_Int32, int)
ADS_DECODER(set_variant_UInt32, unsigned int)
ADS_DECODER(set_variant_fload, float)
ADS_DECODER(set_variant_Int64, long long)
ADS_DECODER(set_variant_UInt64, unsigned long long)
ADS_DECODER(set_variant_double, double)

// ---------------------------------------------------------------- write path

CLabelVariable LibBeckhoff_ADS::WriteVariable(QString address, DataType type, CLabelVariable value)
{
    return WriteVariable(address, type, value, 1);
}

CLabelVariable LibBeckhoff_ADS::WriteVariable(QString address, DataType type, CLabelVariable value, int count)
{
    if (!adsLink.callerOwnsLink()) {
        value.resultCode = CLabelVariable::RC_LinkDown;
    } else {
        const bool done = guarded(
            [&]() {
                writeVariable(address, type, value, count);
                return true;
            },
            false);
        if (!done)
            value.resultCode = CLabelVariable::RC_BadOffsetOrCount;
    }
    value.name = address;
    value.count = count;
    value.type = type;
    return value;
}

void LibBeckhoff_ADS::writeVariable(const QString &address, DataType type, CLabelVariable &value, int count)
{
    const Target target = resolve(address);
    int refused = refusal(target, type, count, kMaxWriteCount);
    if (!refused && target.symbol)
        refused = valueRefusal(type, count, value); // before any lookup goes out
    if (refused)
        value.resultCode = refused;
    else if (target.symbol)
        writeSymbol(address, type, count, value);
    else
        Write_D(target.offset, type, count, value, target.group, address);
}

void LibBeckhoff_ADS::Write_D(int indexOffset, DataType type, int count, CLabelVariable &value,
                              int indexGroup, const QString &address)
{
    if (const int refused = valueRefusal(type, count, value)) {
        value.resultCode = refused;
        return;
    }
    QByteArray data;
    const int byteLength = int(AddressResolver::byteLength(type, count));
    data.reserve(byteLength);
    encode(type, value, count, &data);
    const int rc = adsLink.Write_area(amsPort, indexOffset, byteLength, data, indexGroup, address);
    if (rc == 0)
        value.timeStamp = QDateTime::currentDateTime();
    value.resultCode = resultOfLink(rc);
}

// A request never announces more data than the host's value can fill.
int LibBeckhoff_ADS::valueRefusal(DataType type, int count, const CLabelVariable &value)
{
    const int held = ValueCodec::elementsHeld(type, value.value);
    if (AddressResolver::elementWidth(type) == 0 || held < 0)
        return CLabelVariable::RC_TypeNotHandled;
    if (held < count)
        return CLabelVariable::RC_BadOffsetOrCount;
    return 0;
}

void LibBeckhoff_ADS::encode(DataType type, const CLabelVariable &value, int count, QByteArray *out)
{
    switch (type) {
    case DT_Bool: Wset_variant_bool(value, count, out); break;
    case DT_Int8: Wset_variant_Int8(value, count, out); break;
    case DT_UInt8: Wset_variant_UInt8(value, count, out); break;
    case DT_Int16: Wset_variant_Int16(value, count, out); break;
    case DT_UInt16: Wset_variant_uInt16(value, count, out); break;
    case DT_Int32: Wset_variant_Int32(value, count, out); break;
    case DT_UInt32: Wset_variant_UInt32(value, count, out); break;
    case DT_Float: Wset_variant_float(value, count, out); break;
    case DT_Int64: Wset_variant_Int64(value, count, out); break;
    case DT_UInt64: Wset_variant_UInt64(value, count, out); break;
    case DT_Double: Wset_variant_double(value, count, out); break;
    default: break;
    }
}

#define ADS_ENCODER(name, T)                                                                                 \
    int LibBeckhoff_ADS::name(const CLabelVariable &value, int count, QByteArray *out)                       \
    {                                                                                                        \
        ValueCodec::encode<T>(value.value, count, out);                                                      \
        return 0;                                                                                            \
    }

ADS_ENCODER(Wset_variant_bool, bool)
ADS_ENCODER(Wset_variant_Int8, char)
ADS_ENCODER(Wset_variant_UInt8, unsigned char)
ADS_ENCODER(Wset_variant_Int16, short)
ADS_ENCODER(Wset_variant_uInt16, unsigned short)
ADS_ENCODER(Wset_variant_Int32, int)
ADS_ENCODER(Wset_variant_UInt32, unsigned int)
ADS_ENCODER(Wset_variant_float, float)
ADS_ENCODER(Wset_variant_Int64, long long)
ADS_ENCODER(Wset_variant_UInt64, unsigned long long)
ADS_ENCODER(Wset_variant_double, double)
