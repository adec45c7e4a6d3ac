#include "link/AdsErrorText.h"

#include <algorithm>

namespace {
struct Entry {
    quint32 code;
    const char *meaning;
};

// Sorted by code.
const Entry kTable[] = {
    {0x1, "internal error"},
    {0x2, "no real time"},
    {0x3, "allocation locked: memory error"},
    {0x4, "mailbox full: too many ADS messages at once"},
    {0x5, "wrong message handle"},
    {0x6, "target port not found: no ADS server (runtime) on that AMS port"},
    {0x7, "target machine not found: no AMS route to that NetId"},
    {0x8, "unknown command ID"},
    {0x9, "invalid task ID"},
    {0xA, "no IO"},
    {0xB, "unknown AMS command"},
    {0xC, "Win32 error"},
    {0xD, "port not connected"},
    {0xE, "invalid AMS length"},
    {0xF, "invalid AMS NetId"},
    {0x10, "installation level too low"},
    {0x11, "no debugging available"},
    {0x12, "port disabled: the system service is not started"},
    {0x13, "port already connected"},
    {0x14, "AMS sync: Win32 error"},
    {0x15, "AMS sync: timeout"},
    {0x16, "AMS sync: error"},
    {0x17, "AMS sync: no index map"},
    {0x18, "invalid AMS port"},
    {0x19, "no memory"},
    {0x1A, "TCP send error"},
    {0x1B, "host unreachable"},
    {0x1C, "invalid AMS fragment"},
    {0x1D, "TLS send error: the secure connection failed"},
    {0x1E, "access denied: secure ADS refused the access"},
    {0x500, "router: locked memory cannot be allocated"},
    {0x501, "router: memory size could not be changed"},
    {0x502, "router: mailbox full"},
    {0x503, "router: debug mailbox full"},
    {0x504, "router: unknown port type"},
    {0x505, "router: not initialised"},
    {0x506, "router: port number already assigned"},
    {0x507, "router: port not registered"},
    {0x508, "router: the most ports there can be are in use"},
    {0x509, "router: invalid port"},
    {0x50A, "router: not active"},
    {0x50B, "router: mailbox full for fragmented messages"},
    {0x50C, "router: fragment timeout"},
    {0x50D, "router: port removed"},
    {0x700, "general device error"},
    {0x701, "service not supported by the server"},
    {0x702, "invalid index group"},
    {0x703, "invalid index offset"},
    {0x704, "reading or writing not permitted"},
    {0x705, "parameter size not correct"},
    {0x706, "invalid data values"},
    {0x707, "device not ready to operate"},
    {0x708, "device busy"},
    {0x709, "invalid operating system context"},
    {0x70A, "out of memory"},
    {0x70B, "invalid parameter values"},
    {0x70C, "not found"},
    {0x70D, "syntax error in file or command"},
    {0x70E, "objects do not match"},
    {0x70F, "object already exists"},
    {0x710, "symbol not found"},
    {0x711, "invalid symbol version: the program changed online"},
    {0x712, "device in an invalid state"},
    {0x713, "transmission mode not supported"},
    {0x714, "notification handle invalid"},
    {0x715, "notification client not registered"},
    {0x716, "no more handles"},
    {0x717, "notification size too large"},
    {0x718, "device not initialised"},
    {0x719, "device timeout"},
    {0x71A, "interface query failed"},
    {0x71B, "wrong interface requested"},
    {0x71C, "invalid class ID"},
    {0x71D, "invalid object ID"},
    {0x71E, "request pending"},
    {0x71F, "request aborted"},
    {0x720, "signal warning"},
    {0x721, "invalid array index"},
    {0x722, "symbol not active"},
    {0x723, "access denied"},
    {0x724, "licence missing"},
    {0x725, "licence expired"},
    {0x726, "licence exceeded"},
    {0x727, "licence invalid"},
    {0x728, "licence: invalid system ID"},
    {0x729, "licence not limited in time"},
    {0x72A, "licence: issued in the future"},
    {0x72B, "licence period too long"},
    {0x72C, "exception at system start"},
    {0x72D, "licence file read twice"},
    {0x72E, "invalid signature"},
    {0x72F, "invalid certificate"},
    {0x730, "public key of the OEM not known"},
    {0x731, "licence not valid for this system ID"},
    {0x732, "demo licence prohibited"},
    {0x733, "invalid function ID"},
    {0x734, "outside the valid range"},
    {0x735, "invalid alignment"},
    {0x736, "invalid platform level"},
    {0x737, "context: forward to passive level"},
    {0x738, "context: forward to dispatch level"},
    {0x739, "context: forward to real time"},
    {0x740, "client error"},
    {0x741, "invalid parameter in the service"},
    {0x742, "polling list empty"},
    {0x743, "variable connection already in use"},
    {0x744, "invoke ID already in use"},
    {0x745, "timeout: the remote device did not answer in time"},
    {0x746, "Win32 subsystem error"},
    {0x747, "invalid client timeout value"},
    {0x748, "port not open"},
    {0x749, "no AMS address"},
    {0x750, "internal error in ADS sync"},
    {0x751, "hash table overflow"},
    {0x752, "key not found in the table"},
    {0x753, "no symbols in the cache"},
    {0x754, "invalid response received"},
    {0x755, "sync port locked"},
};

QString hex(quint32 code)
{
    // Lower case, as the driver's own warning lines write the code.
    return QStringLiteral("0x") + QString::number(code, 16);
}
} // namespace

QString AdsErrorText::meaning(quint32 code)
{
    const Entry *end = kTable + sizeof(kTable) / sizeof(kTable[0]);
    const Entry *at =
        std::lower_bound(kTable, end, code, [](const Entry &e, quint32 c) { return e.code < c; });
    return at != end && at->code == code ? QLatin1String(at->meaning) : QString();
}

QString AdsErrorText::reported(quint32 code)
{
    const QString text = meaning(code);
    if (text.isEmpty())
        return QStringLiteral("the controller reported error %1").arg(hex(code));
    return QStringLiteral("the controller reported ADS error %1: %2").arg(hex(code), text);
}

QString AdsErrorText::line(quint32 code)
{
    const QString text = meaning(code);
    return QStringLiteral("%1 (%2): %3")
        .arg(hex(code))
        .arg(code)
        .arg(text.isEmpty() ? QStringLiteral("unknown code") : text);
}

QList<quint32> AdsErrorText::codes()
{
    QList<quint32> all;
    for (const Entry &e : kTable)
        all.append(e.code);
    return all;
}
