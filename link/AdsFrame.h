// ADS request frames: the 6-byte AMS/TCP header, the 32-byte AMS header and
// the command data, every integer little-endian.
#ifndef ADSFRAME_H
#define ADSFRAME_H

#include "link/AdsLayout.h"

#include <QByteArray>
#include <QString>

class AdsFrame : public AdsLayout
{
public:
    // A NetId and an AMS port.
    struct AmsAddress {
        QByteArray netId;
        quint16 port = 0;
    };
    // The driver's own address as a controller sees it unless told
    // otherwise: 192.168.10.100.1.1, port 32957.
    static AmsAddress defaultSource();

    // The target NetId: the four parts of the IP text (missing parts 0) then 1.1.
    static QByteArray targetNetId(const QString &ipText);

    static QByteArray readRequest(const QByteArray &netId, int amsPort, quint32 invokeId, quint32 indexGroup,
                                  quint32 indexOffset, quint32 length,
                                  const AmsAddress &source = defaultSource());
    // Carries exactly `length` data bytes: those of `data`, zero-filled if it is shorter.
    static QByteArray writeRequest(const QByteArray &netId, int amsPort, quint32 invokeId, quint32 indexGroup,
                                   quint32 indexOffset, const QByteArray &data, int length,
                                   const AmsAddress &source = defaultSource());

    // Writes `writeData`, then reads up to `readLength` bytes back, in one exchange.
    static QByteArray readWriteRequest(const QByteArray &netId, int amsPort, quint32 invokeId,
                                       quint32 indexGroup, quint32 indexOffset, quint32 readLength,
                                       const QByteArray &writeData,
                                       const AmsAddress &source = defaultSource());

    // Subscribes to (group, offset, length): `mode` 3 cyclic, 4 on change;
    // the delay and the cycle in units of 100 ns, as the protocol has them.
    static QByteArray addNotificationRequest(const QByteArray &netId, int amsPort, quint32 invokeId,
                                             quint32 indexGroup, quint32 indexOffset, quint32 length,
                                             quint32 mode, quint32 maxDelay100ns, quint32 cycle100ns,
                                             const AmsAddress &source = defaultSource());
    static QByteArray deleteNotificationRequest(const QByteArray &netId, int amsPort, quint32 invokeId,
                                                quint32 handle, const AmsAddress &source = defaultSource());
    // A command without request data: ReadDeviceInfo, ReadState.
    static QByteArray bareRequest(quint16 command, const QByteArray &netId, int amsPort, quint32 invokeId,
                                  const AmsAddress &source = defaultSource());

    // The size of the largest reply a request can rightly get.
    static qint64 expectedReplySize(const QByteArray &request);
    static quint32 invokeIdOf(const QByteArray &frame);
    static quint16 commandOf(const QByteArray &frame);

private:
    // Fills the 38 header bytes at `h`.
    static void header(char *h, const QByteArray &netId, int amsPort, const AmsAddress &source,
                       quint16 command, quint32 invokeId, int dataLength);
};

#endif // ADSFRAME_H
