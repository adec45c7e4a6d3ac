#include "sim/SimProtocol.h"

#include "link/AdsLayout.h"
#include "link/WireBytes.h"
#include "sim/SimHandles.h"
#include "sim/SimNotifications.h"
#include "sim/SimRuntime.h"

using namespace WireBytes;

namespace {
const quint16 kStateReply = AdsLayout::StateResponse | AdsLayout::StateAdsCommand;
// A NetId and its AMS port, as they follow each other in the header.
const int kAddressSize = AdsLayout::OffSourceNetId - AdsLayout::OffTargetNetId;
// The read reply's result and length, before its data.
const int kReadFieldsSize = AdsLayout::ReadReplyHeaderSize - AdsLayout::HeaderSize;
const int kResultSize = 4;

// Overwrites four bytes of `frame` at `at`.
void patchLe32(QByteArray &frame, int at, quint32 v)
{
    char bytes[4];
    putLe32(bytes, v);
    frame.replace(at, 4, bytes, 4);
}

// The requester's NetId and port, as a view of the request's bytes: for
// comparing only, never to keep.
QByteArray sourceView(const QByteArray &request)
{
    return QByteArray::fromRawData(request.constData() + AdsLayout::OffSourceNetId, kAddressSize);
}

// Who presents a handle, as the handles judge it.
SimHandles::Owner owner(const QByteArray &request, const SimRuntime *runtime,
                        const SimProtocol::Services &services)
{
    return {services.line, runtime->amsPort, request.mid(AdsLayout::OffSourceNetId, kAddressSize)};
}
} // namespace

qint64 SimProtocol::frameSize(const QByteArray &buffer)
{
    if (buffer.size() < AdsLayout::TcpHeaderSize)
        return -1;
    return AdsLayout::TcpHeaderSize + qint64(le32(buffer.constData() + AdsLayout::OffTcpLength));
}

// The reply mirrors the request's AMS header: addresses swapped, same
// command and invoke id, response flags. Returns where its data goes.
char *SimProtocol::startReply(const QByteArray &request, quint32 amsError, int dataSize, QByteArray *out)
{
    char p[AdsLayout::HeaderSize] = {0};
    const char *q = request.constData();
    putLe32(p + AdsLayout::OffTcpLength, quint32(AdsLayout::AmsHeaderSize + dataSize));
    memcpy(p + AdsLayout::OffTargetNetId, q + AdsLayout::OffSourceNetId, kAddressSize); // the requester
    memcpy(p + AdsLayout::OffSourceNetId, q + AdsLayout::OffTargetNetId, kAddressSize); // this controller
    putLe16(p + AdsLayout::OffCommand, le16(q + AdsLayout::OffCommand));
    putLe16(p + AdsLayout::OffStateFlags, kStateReply);
    putLe32(p + AdsLayout::OffAmsLength, quint32(dataSize));
    putLe32(p + AdsLayout::OffErrorCode, amsError);
    putLe32(p + AdsLayout::OffInvokeId, le32(q + AdsLayout::OffInvokeId));
    out->resize(AdsLayout::HeaderSize + dataSize);
    out->replace(0, AdsLayout::HeaderSize, p, AdsLayout::HeaderSize);
    return out->data() + AdsLayout::HeaderSize;
}

// A write's reply, and any command's refusal: the ADS result alone.
void SimProtocol::resultReply(const QByteArray &request, quint32 result, QByteArray *out)
{
    startReply(request, 0, kResultSize, out);
    patchLe32(*out, AdsLayout::OffAdsResult, result);
}

// Starts a read reply with room for `size` bytes of data.
char *SimProtocol::startRead(const QByteArray &request, quint32 result, int size, QByteArray *out)
{
    startReply(request, 0, kReadFieldsSize + size, out);
    patchLe32(*out, AdsLayout::OffAdsResult, result);
    patchLe32(*out, AdsLayout::OffReadLength, quint32(size));
    return out->data() + AdsLayout::OffReadData;
}

void SimProtocol::readReply(const QByteArray &request, quint32 result, const QByteArray &bytes,
                            QByteArray *out)
{
    const int size = result == 0 ? bytes.size() : 0;
    startRead(request, result, size, out);
    out->replace(AdsLayout::OffReadData, size, bytes.constData(), size);
}

// Reads of the symbol upload: its counts, and the table itself.
bool SimProtocol::uploadBytes(quint32 group, const SimSymbols &symbols, QByteArray *bytes)
{
    switch (group) {
    case AdsLayout::GroupSymbolInfo: *bytes = symbols.uploadInfo(); return true;
    case GroupSymbolInfoOld: *bytes = symbols.uploadInfo().left(8); return true;
    case AdsLayout::GroupSymbolTable: *bytes = symbols.table(); return true;
    case AdsLayout::GroupDataTypeTable: *bytes = symbols.dataTypeTable(); return true;
    default: return false;
    }
}

// A client may read the upload in pieces at increasing offsets, or ask for
// more than there is: it gets what lies from `offset` on, up to `length`.
quint32 SimProtocol::slice(const QByteArray &bytes, quint32 offset, quint32 length, QByteArray *out)
{
    if (offset > quint32(bytes.size()))
        return SimImage::InvalidOffset;
    *out = bytes.mid(int(offset), int(qMin<quint32>(length, quint32(bytes.size()) - offset)));
    return 0;
}

// Image reads go straight into the reply: the one copy of the data.
void SimProtocol::read(const QByteArray &request, SimRuntime *runtime, quint32 adsResult,
                       const Services &services, QByteArray *out)
{
    if (adsResult != 0)
        return readReply(request, adsResult, QByteArray(), out);
    Place place{le32At(request, AdsLayout::OffIndexGroup), le32At(request, AdsLayout::OffIndexOffset),
                le32At(request, AdsLayout::OffRequestLength)};
    bool computed = false;
    QByteArray bytes;
    const quint32 result = locate(&place, sourceView(request), runtime, services, &computed, &bytes);
    if (result != 0 || computed)
        return readReply(request, result, bytes, out);
    runtime->image.readInto(place.group, place.offset, place.length,
                            startRead(request, 0, int(place.length), out));
}

// Where a read of `place` finds its bytes: its refusal; or 0 and, for the
// upload and the symbol version, the bytes in `bytes` (`computed`); or 0
// and `place` turned into the memory it reads. A handle reads its
// variable's place as it is now.
quint32 SimProtocol::locate(Place *place, const QByteArray &source, const SimRuntime *runtime,
                            const Services &services, bool *computed, QByteArray *bytes)
{
    *computed = false;
    if (place->group == GroupSymbolVersion) {
        *computed = true;
        if (services.versionRefused != 0)
            return services.versionRefused;
        if (place->length != 1)
            return AdsInvalidSize;
        *bytes = QByteArray(1, char(runtime->symbolVersion));
        return 0;
    }
    quint32 result = 0;
    if (place->group == GroupValueByHandle) {
        SimSymbols::Symbol symbol;
        result = resolveHandle(*place, source, runtime, services, &symbol);
        place->group = symbol.group;
        place->offset = symbol.offset;
    } else if (runtime->symbols.retired(place->group, place->offset, place->length)) {
        result = SimImage::InvalidOffset; // the program changed online
    } else if (services.dataTypesRefused != 0
               && (place->group == AdsLayout::GroupSymbolInfo
                   || place->group == AdsLayout::GroupDataTypeTable)) {
        result = services.dataTypesRefused;
    }
    if (result != 0)
        return result;
    QByteArray upload;
    if (uploadBytes(place->group, runtime->symbols, &upload)) {
        *computed = true;
        return slice(upload, place->offset, place->length, bytes);
    }
    return runtime->image.refusal(place->group, place->offset, place->length);
}

quint32 SimProtocol::readPlace(const Place &place, const QByteArray &source, const SimRuntime *runtime,
                               const Services &services, QByteArray *out)
{
    Place at = place;
    bool computed = false;
    const quint32 result = locate(&at, source, runtime, services, &computed, out);
    if (result == 0 && !computed)
        runtime->image.read(at.group, at.offset, at.length, out);
    return result;
}

void SimProtocol::write(const QByteArray &request, SimRuntime *runtime, quint32 adsResult,
                        const Services &services, QByteArray *out)
{
    quint32 group = le32At(request, AdsLayout::OffIndexGroup);
    quint32 offset = le32At(request, AdsLayout::OffIndexOffset);
    const quint32 length = le32At(request, AdsLayout::OffRequestLength);
    const qint64 carried = request.size() - qint64(AdsLayout::ReadRequestSize);
    quint32 result = adsResult;
    if (result == 0 && carried != length)
        result = AdsInvalidSize;
    if (result == 0 && group == GroupReleaseHandle)
        return releaseHandle(request, runtime, services, out);
    if (result == 0 && group == GroupValueByHandle) {
        SimSymbols::Symbol symbol;
        result = resolveHandle({group, offset, length}, sourceView(request), runtime, services, &symbol);
        group = symbol.group;
        offset = symbol.offset;
    } else if (result == 0 && runtime->symbols.retired(group, offset, length)) {
        result = SimImage::InvalidOffset;
    }
    QByteArray upload;
    if (result == 0 && uploadBytes(group, runtime->symbols, &upload))
        result = AdsServiceNotSupported; // the symbol table is the program's, not the client's
    if (result == 0) {
        // The image copies the bytes; a view of the request spares one more copy.
        const QByteArray data =
            QByteArray::fromRawData(request.constData() + AdsLayout::ReadRequestSize, int(length));
        result = runtime->image.write(group, offset, data);
    }
    resultReply(request, result, out);
}

// The handle is the place's offset; at most the variable's bytes may be
// read or written, fewer are its head.
quint32 SimProtocol::resolveHandle(const Place &place, const QByteArray &source, const SimRuntime *runtime,
                                   const Services &services, SimSymbols::Symbol *symbol)
{
    if (!services.handles)
        return AdsSymbolNotFound;
    const quint32 result = services.handles->resolve(place.offset, {services.line, runtime->amsPort, source},
                                                     runtime->symbols, symbol);
    if (result == 0 && place.length > symbol->size)
        return AdsInvalidSize;
    return result;
}

// ReadWrite of group 0xF003: the write data is a name, the answer a handle.
void SimProtocol::obtainHandle(const QByteArray &request, const SimRuntime *runtime, const Services &services,
                               QByteArray *out)
{
    if (services.handlesRefused != 0)
        return readReply(request, services.handlesRefused, QByteArray(), out);
    if (!services.handles)
        return readReply(request, AdsServiceNotSupported, QByteArray(), out);
    if (le32At(request, AdsLayout::OffRequestLength) < 4)
        return readReply(request, AdsInvalidSize, QByteArray(), out);
    const QString name = writtenName(request);
    SimSymbols::Symbol symbol;
    if (!runtime->symbols.find(name, &symbol))
        return readReply(request, AdsSymbolNotFound, QByteArray(), out);
    const quint32 handle = services.handles->obtain(name, symbol, owner(request, runtime, services));
    putLe32(startRead(request, 0, 4, out), handle);
}

// Write of group 0xF006: the data is the handle to let go.
void SimProtocol::releaseHandle(const QByteArray &request, const SimRuntime *runtime,
                                const Services &services, QByteArray *out)
{
    if (le32At(request, AdsLayout::OffRequestLength) != 4)
        return resultReply(request, AdsInvalidSize, out);
    const quint32 handle = le32At(request, AdsLayout::ReadRequestSize);
    resultReply(request,
                services.handles ? services.handles->release(handle, owner(request, runtime, services))
                                 : quint32(AdsSymbolNotFound),
                out);
}

// The name a ReadWrite carries as its write data, up to its zero byte if
// it has one.
QString SimProtocol::writtenName(const QByteArray &request)
{
    const QByteArray written =
        request.mid(AdsLayout::ReadWriteRequestSize,
                    int(qMin<quint32>(le32At(request, AdsLayout::OffWriteLength), quint32(request.size()))));
    const int end = written.indexOf('\0');
    return QString::fromLatin1(end < 0 ? written : written.left(end));
}

// ReadWrite of group 0xF009: the write data is a name, the answer its entry.
void SimProtocol::lookup(const QByteArray &request, const SimSymbols &symbols, QByteArray *out)
{
    const quint32 readLength = le32At(request, AdsLayout::OffRequestLength);
    SimSymbols::Symbol symbol;
    if (!symbols.find(writtenName(request), &symbol))
        return readReply(request, AdsSymbolNotFound, QByteArray(), out);
    const QByteArray entry = SimSymbols::entry(symbol);
    if (quint32(entry.size()) > readLength)
        return readReply(request, AdsInvalidSize, QByteArray(), out);
    readReply(request, 0, entry, out);
}

void SimProtocol::readWrite(const QByteArray &request, SimRuntime *runtime, quint32 adsResult,
                            const Services &services, QByteArray *out)
{
    const quint32 group = le32At(request, AdsLayout::OffIndexGroup);
    if (group != AdsLayout::GroupSymbolByName && group != GroupHandleByName)
        return resultReply(request, adsResult ? adsResult : quint32(AdsServiceNotSupported), out);
    if (adsResult != 0)
        return readReply(request, adsResult, QByteArray(), out);
    if (group == GroupHandleByName)
        return obtainHandle(request, runtime, services, out);
    lookup(request, runtime->symbols, out);
}

// ReadState: the result, the ADS state and the device state (0), 2 bytes each.
void SimProtocol::readState(const QByteArray &request, quint32 adsResult, const SimDevice &device,
                            QByteArray *out)
{
    if (adsResult != 0)
        return resultReply(request, adsResult, out);
    char *data = startReply(request, 0, kResultSize + 4, out);
    putLe32(data, 0);
    putLe16(data + kResultSize, device.adsState);
    putLe16(data + kResultSize + 2, 0);
}

// ReadDeviceInfo: the result, major and minor version (a byte each), the
// build (2 bytes) and the name (16 bytes).
void SimProtocol::deviceInfo(const QByteArray &request, quint32 adsResult, const SimDevice &device,
                             QByteArray *out)
{
    if (adsResult != 0)
        return resultReply(request, adsResult, out);
    const QByteArray name = device.nameField();
    char *data = startReply(request, 0, kResultSize + 4 + name.size(), out);
    putLe32(data, 0);
    data[kResultSize] = char(device.major);
    data[kResultSize + 1] = char(device.minor);
    putLe16(data + kResultSize + 2, device.build);
    memcpy(data + kResultSize + 4, name.constData(), size_t(name.size()));
}

// AddDeviceNotification: the result and the new subscription's handle (0
// when refused).
void SimProtocol::addNotification(const QByteArray &request, const SimRuntime *runtime, quint32 adsResult,
                                  const Services &services, QByteArray *out)
{
    quint32 handle = 0;
    const quint32 result = adsResult != 0 ? adsResult : subscribe(request, runtime, services, &handle);
    char *data = startReply(request, 0, kResultSize + 4, out);
    putLe32(data, result);
    putLe32(data + kResultSize, handle);
}

// The watched place must read as a Read of it would: the same refusals.
// Modes other than cyclic and on change are refused rather than guessed at.
quint32 SimProtocol::subscribe(const QByteArray &request, const SimRuntime *runtime, const Services &services,
                               quint32 *handle)
{
    if (!services.notifications)
        return AdsServiceNotSupported;
    if (request.size() < AdsLayout::AddNotificationRequestSize)
        return AdsInvalidSize;
    SimNotifications::Subscription s;
    s.group = le32At(request, AdsLayout::OffIndexGroup);
    s.offset = le32At(request, AdsLayout::OffIndexOffset);
    s.length = le32At(request, AdsLayout::OffRequestLength);
    s.mode = le32At(request, AdsLayout::OffTransmissionMode);
    s.cycleMs = SimNotifications::cycleMs(le32At(request, AdsLayout::OffCycleTime));
    if (s.mode != AdsLayout::NotifyCyclic && s.mode != AdsLayout::NotifyOnChange)
        return AdsInvalidParameter;
    QByteArray bytes;
    const quint32 refusal =
        readPlace({s.group, s.offset, s.length}, sourceView(request), runtime, services, &bytes);
    if (refusal != 0)
        return refusal;
    s.owner = owner(request, runtime, services);
    s.controller = request.mid(AdsLayout::OffTargetNetId, kAddressSize);
    return services.notifications->add(s, handle);
}

// DeleteDeviceNotification: only the connection and source that added it end it.
void SimProtocol::deleteNotification(const QByteArray &request, const SimRuntime *runtime, quint32 adsResult,
                                     const Services &services, QByteArray *out)
{
    quint32 result = adsResult;
    if (result == 0 && !services.notifications)
        result = AdsServiceNotSupported;
    if (result == 0 && request.size() < AdsLayout::HeaderSize + 4)
        result = AdsInvalidSize;
    if (result == 0)
        result = services.notifications->remove(le32At(request, AdsLayout::HeaderSize),
                                                owner(request, runtime, services));
    resultReply(request, result, out);
}

void SimProtocol::appendSample(QByteArray *samples, quint32 handle, const QByteArray &bytes)
{
    char head[8];
    putLe32(head, handle);
    putLe32(head + 4, quint32(bytes.size()));
    samples->append(head, sizeof head);
    samples->append(bytes);
}

QByteArray SimProtocol::notificationFrame(const QByteArray &controller, const QByteArray &subscriber,
                                          quint32 invokeId, quint64 fileTime, int count,
                                          const QByteArray &samples)
{
    // A length, the stamp count (1), the stamp's time and its sample count.
    const int fields = 4 + 4 + 8 + 4;
    const int dataSize = fields + samples.size();
    // Built on the stack: the optimiser's bounds check cannot follow a
    // QByteArray's data through its size.
    char p[AdsLayout::HeaderSize + fields] = {0};
    putLe32(p + AdsLayout::OffTcpLength, quint32(AdsLayout::AmsHeaderSize + dataSize));
    memcpy(p + AdsLayout::OffTargetNetId, subscriber.constData(), kAddressSize);
    memcpy(p + AdsLayout::OffSourceNetId, controller.constData(), kAddressSize);
    putLe16(p + AdsLayout::OffCommand, AdsLayout::CmdNotification);
    putLe16(p + AdsLayout::OffStateFlags, AdsLayout::StateAdsCommand);
    putLe32(p + AdsLayout::OffAmsLength, quint32(dataSize));
    putLe32(p + AdsLayout::OffInvokeId, invokeId);
    char *data = p + AdsLayout::HeaderSize;
    putLe32(data, quint32(dataSize - 4));
    putLe32(data + 4, 1);
    putLe64(data + 8, fileTime);
    putLe32(data + 16, quint32(count));
    QByteArray frame;
    frame.reserve(int(sizeof p) + samples.size());
    frame.append(p, int(sizeof p));
    frame.append(samples);
    return frame;
}

QByteArray SimProtocol::errorReply(const QByteArray &request, quint32 amsError)
{
    QByteArray reply;
    if (request.size() >= AdsLayout::HeaderSize)
        startReply(request, amsError, 0, &reply);
    return reply;
}

void SimProtocol::answer(const QByteArray &request, SimRuntime *runtime, const SimFault &fault,
                         QByteArray *reply, const Services &services)
{
    if (request.size() < AdsLayout::HeaderSize) {
        reply->resize(0);
        return;
    }
    if (fault.amsError != 0 || !runtime) {
        startReply(request, fault.amsError != 0 ? fault.amsError : quint32(AmsTargetPortNotFound), 0, reply);
        return;
    }
    const quint16 command = le16At(request, AdsLayout::OffCommand);
    if (command == AdsLayout::CmdRead && request.size() >= AdsLayout::ReadRequestSize)
        return read(request, runtime, fault.adsResult, services, reply);
    if (command == AdsLayout::CmdWrite && request.size() >= AdsLayout::ReadRequestSize)
        return write(request, runtime, fault.adsResult, services, reply);
    if (command == AdsLayout::CmdReadWrite && request.size() >= AdsLayout::ReadWriteRequestSize)
        return readWrite(request, runtime, fault.adsResult, services, reply);
    if (command == AdsLayout::CmdAddNotification)
        return addNotification(request, runtime, fault.adsResult, services, reply);
    if (command == AdsLayout::CmdDeleteNotification)
        return deleteNotification(request, runtime, fault.adsResult, services, reply);
    const SimDevice device = services.device ? *services.device : SimDevice();
    if (command == AdsLayout::CmdReadState)
        return readState(request, fault.adsResult, device, reply);
    if (command == AdsLayout::CmdReadDeviceInfo)
        return deviceInfo(request, fault.adsResult, device, reply);
    resultReply(request, fault.adsResult ? fault.adsResult : quint32(AdsServiceNotSupported), reply);
}

QByteArray SimProtocol::shape(const QByteArray &reply, const SimFault &fault)
{
    if (!fault.rawReply.isNull())
        return fault.rawReply;
    QByteArray out = reply;
    if (fault.otherInvokeId && out.size() >= AdsLayout::HeaderSize)
        patchLe32(out, AdsLayout::OffInvokeId, le32At(out, AdsLayout::OffInvokeId) + 0x10001);
    auto relength = [&out]() {
        if (out.size() >= AdsLayout::OffAmsLength + 4) {
            patchLe32(out, AdsLayout::OffTcpLength, quint32(out.size() - AdsLayout::TcpHeaderSize));
            patchLe32(out, AdsLayout::OffAmsLength, quint32(out.size() - AdsLayout::HeaderSize));
        }
    };
    if (fault.truncateBy > 0) {
        out.chop(fault.truncateBy);
        relength();
    }
    if (fault.padBy > 0) {
        out.append(QByteArray(fault.padBy, '\0'));
        relength();
    }
    if (fault.cutBy > 0)
        out.chop(fault.cutBy);
    if (fault.announce >= 0 && out.size() >= AdsLayout::TcpHeaderSize)
        patchLe32(out, AdsLayout::OffTcpLength, quint32(fault.announce));
    return out;
}
