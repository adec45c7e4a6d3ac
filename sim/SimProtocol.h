// The controller's side of ADS: a request frame in, its reply frame out.
#ifndef SIMPROTOCOL_H
#define SIMPROTOCOL_H

#include "sim/SimDevice.h"
#include "sim/SimFault.h"
#include "sim/SimSymbols.h"

#include <QByteArray>

class SimHandles;
class SimNotifications;
struct SimRuntime;

class SimProtocol
{
public:
    enum : quint32 {
        AmsTargetPortNotFound = 0x6,
        AmsTargetMachineNotFound = 0x7,
        AdsServiceNotSupported = 0x701,
        AdsInvalidSize = 0x705,
        AdsInvalidParameter = 0x70B,
        AdsSymbolNotFound = 0x710,
        AdsSymbolVersionInvalid = 0x711,
        // The upload's counts as runtimes before 0xF00F answer them: 8 bytes.
        GroupSymbolInfoOld = 0xF00C,
        // Handles: ReadWrite of a name gives one, Read and Write with it
        // as the offset reach the variable, Write of it releases it.
        GroupHandleByName = 0xF003,
        GroupValueByHandle = 0xF005,
        GroupReleaseHandle = 0xF006,
        // One byte that changes with every online change and restart.
        GroupSymbolVersion = 0xF008,
    };

    // What a request reaches beside its runtime: the controller's handles
    // (null: not served, 0x701), the connection it came on, the
    // controller's refusals (0: served), what it tells of itself (null:
    // a SimDevice as it starts) and its notifications (null: not served).
    struct Services {
        SimHandles *handles = nullptr;
        const void *line = nullptr;
        quint32 handlesRefused = 0;
        quint32 versionRefused = 0;
        quint32 dataTypesRefused = 0;
        const SimDevice *device = nullptr;
        SimNotifications *notifications = nullptr;
    };
    // What a read names: index group, index offset and length.
    struct Place {
        quint32 group = 0;
        quint32 offset = 0;
        quint32 length = 0;
    };

    // The whole AMS/TCP frame size that the start of `buffer` announces, or
    // -1 when fewer than 6 bytes are there.
    static qint64 frameSize(const QByteArray &buffer);

    // Answers one request frame as `runtime` does, into `reply`: resized
    // to the reply, so a buffer kept from one request to the next serves
    // every reply without a fresh allocation. Empty for a request too short
    // to answer; null `runtime`: no runtime on the request's target port
    // (AMS error 0x6). `fault` may add an AMS error or an ADS result.
    static void answer(const QByteArray &request, SimRuntime *runtime, const SimFault &fault,
                       QByteArray *reply, const Services &services);

    // The reply of the router itself: the request's header mirrored, with
    // `amsError` and no data.
    static QByteArray errorReply(const QByteArray &request, quint32 amsError);

    // Applies the reply-shaping parts of `fault` to a well-formed reply.
    static QByteArray shape(const QByteArray &reply, const SimFault &fault);

    // What a Read of `place` from `source` (the requester's NetId and port)
    // gets: 0 and the bytes in `out`, or the ADS error it is refused with.
    static quint32 readPlace(const Place &place, const QByteArray &source, const SimRuntime *runtime,
                             const Services &services, QByteArray *out);
    // Appends one sample of a DeviceNotification: the handle, the size, the bytes.
    static void appendSample(QByteArray *samples, quint32 handle, const QByteArray &bytes);
    // A DeviceNotification from `controller` to `subscriber` (NetId and port
    // each): a request never answered, with one stamp at `fileTime` holding
    // `count` samples.
    static QByteArray notificationFrame(const QByteArray &controller, const QByteArray &subscriber,
                                        quint32 invokeId, quint64 fileTime, int count,
                                        const QByteArray &samples);

private:
    static char *startReply(const QByteArray &request, quint32 amsError, int dataSize, QByteArray *out);
    static char *startRead(const QByteArray &request, quint32 result, int size, QByteArray *out);
    static void resultReply(const QByteArray &request, quint32 result, QByteArray *out);
    static void readReply(const QByteArray &request, quint32 result, const QByteArray &bytes,
                          QByteArray *out);
    static void read(const QByteArray &request, SimRuntime *runtime, quint32 adsResult,
                     const Services &services, QByteArray *out);
    static void write(const QByteArray &request, SimRuntime *runtime, quint32 adsResult,
                      const Services &services, QByteArray *out);
    static void readWrite(const QByteArray &request, SimRuntime *runtime, quint32 adsResult,
                          const Services &services, QByteArray *out);
    static void lookup(const QByteArray &request, const SimSymbols &symbols, QByteArray *out);
    static QString writtenName(const QByteArray &request);
    static quint32 locate(Place *place, const QByteArray &source, const SimRuntime *runtime,
                          const Services &services, bool *computed, QByteArray *bytes);
    static void addNotification(const QByteArray &request, const SimRuntime *runtime, quint32 adsResult,
                                const Services &services, QByteArray *out);
    static quint32 subscribe(const QByteArray &request, const SimRuntime *runtime, const Services &services,
                             quint32 *handle);
    static void deleteNotification(const QByteArray &request, const SimRuntime *runtime, quint32 adsResult,
                                   const Services &services, QByteArray *out);
    static void obtainHandle(const QByteArray &request, const SimRuntime *runtime, const Services &services,
                             QByteArray *out);
    static quint32 resolveHandle(const Place &place, const QByteArray &source, const SimRuntime *runtime,
                                 const Services &services, SimSymbols::Symbol *symbol);
    static void releaseHandle(const QByteArray &request, const SimRuntime *runtime, const Services &services,
                              QByteArray *out);
    static void readState(const QByteArray &request, quint32 adsResult, const SimDevice &device,
                          QByteArray *out);
    static void deviceInfo(const QByteArray &request, quint32 adsResult, const SimDevice &device,
                           QByteArray *out);
    static bool uploadBytes(quint32 group, const SimSymbols &symbols, QByteArray *bytes);
    static quint32 slice(const QByteArray &bytes, quint32 offset, quint32 length, QByteArray *out);
};

#endif // SIMPROTOCOL_H
