// The controller's side of ADS: a request frame in, its reply frame out.
#ifndef SIMPROTOCOL_H
#define SIMPROTOCOL_H

#include "SimFault.h"
#include "SimImage.h"
#include "SimSymbols.h"

#include <QByteArray>

class SimProtocol
{
public:
    enum : quint32 {
        AmsTargetPortNotFound = 0x6,
        AdsServiceNotSupported = 0x701,
        AdsInvalidSize = 0x705,
        AdsSymbolNotFound = 0x710,
        SymbolLookupGroup = 0xF009,
    };

    // The whole AMS/TCP frame size that the start of `buffer` announces, or
    // -1 when fewer than 6 bytes are there.
    static qint64 frameSize(const QByteArray &buffer);

    // Answers one request frame against `image` as a controller on AMS port
    // `amsPort` does. `fault` may add an AMS error or an ADS result.
    static QByteArray answer(const QByteArray &request, SimImage &image, const SimSymbols &symbols,
                             int amsPort, const SimFault &fault);

    // Applies the reply-shaping parts of `fault` to a well-formed reply.
    static QByteArray shape(const QByteArray &reply, const SimFault &fault);

private:
    static QByteArray readReply(const QByteArray &request, quint32 result, const QByteArray &bytes);
    static QByteArray lookup(const QByteArray &request, const SimSymbols &symbols, const QByteArray &data);
    static QByteArray replyFrame(const QByteArray &request, quint32 amsError, const QByteArray &data);
};

#endif // SIMPROTOCOL_H
