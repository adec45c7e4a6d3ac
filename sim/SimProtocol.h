// The controller's side of ADS: a request frame in, its reply frame out.
#ifndef SIMPROTOCOL_H
#define SIMPROTOCOL_H

#include "sim/SimFault.h"
#include "sim/SimSymbols.h"

#include <QByteArray>

struct SimRuntime;

class SimProtocol
{
public:
    enum : quint32 {
        AmsTargetPortNotFound = 0x6,
        AmsTargetMachineNotFound = 0x7,
        AdsServiceNotSupported = 0x701,
        AdsInvalidSize = 0x705,
        AdsSymbolNotFound = 0x710,
        SymbolLookupGroup = 0xF009,
    };

    // The whole AMS/TCP frame size that the start of `buffer` announces, or
    // -1 when fewer than 6 bytes are there.
    static qint64 frameSize(const QByteArray &buffer);

    // Answers one request frame as `runtime` does; null when no runtime is
    // on the request's target port (AMS error 0x6). `fault` may add an AMS
    // error or an ADS result.
    static QByteArray answer(const QByteArray &request, SimRuntime *runtime, const SimFault &fault);

    // The reply of the router itself: the request's header mirrored, with
    // `amsError` and no data.
    static QByteArray errorReply(const QByteArray &request, quint32 amsError);

    // Applies the reply-shaping parts of `fault` to a well-formed reply.
    static QByteArray shape(const QByteArray &reply, const SimFault &fault);

private:
    static QByteArray readReply(const QByteArray &request, quint32 result, const QByteArray &bytes);
    static QByteArray lookup(const QByteArray &request, const SimSymbols &symbols, const QByteArray &data);
    static QByteArray replyFrame(const QByteArray &request, quint32 amsError, const QByteArray &data);
};

#endif // SIMPROTOCOL_H
