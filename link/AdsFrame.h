// ADS request frames: the 6-byte AMS/TCP header, the 32-byte AMS header and
// the command data, every integer little-endian.
#ifndef ADSFRAME_H
#define ADSFRAME_H

#include <QByteArray>
#include <QString>

class AdsFrame
{
public:
    enum : int {
        TcpHeaderSize = 6,
        AmsHeaderSize = 32,
        HeaderSize = TcpHeaderSize + AmsHeaderSize, // 38
        ReadRequestSize = HeaderSize + 12, // 50
        WriteReplySize = HeaderSize + 4, // 42
        ReadReplyHeaderSize = HeaderSize + 8, // 46: result and length before the data
        ReadWriteRequestSize = HeaderSize + 16 // 54, and the write data after it
    };
    enum Command : quint16 { CmdRead = 2, CmdWrite = 3, CmdReadWrite = 9 };
    enum StateFlag : quint16 { StateResponse = 0x0001, StateAdsCommand = 0x0004 };
    // Offsets of the header fields, the same in requests and replies.
    enum Offset : int {
        OffTcpLength = 2,
        OffTargetNetId = 6,
        OffTargetPort = 12,
        OffSourceNetId = 14,
        OffSourcePort = 20,
        OffCommand = 22,
        OffStateFlags = 24,
        OffAmsLength = 26,
        OffErrorCode = 30,
        OffInvokeId = 34,
        OffAdsResult = 38, // replies
        OffIndexGroup = 38, // requests
        OffIndexOffset = 42,
        OffRequestLength = 46, // the bytes to read (read, read-write) or written (write)
        OffWriteLength = 50, // read-write: the bytes written
        OffReadLength = 42, // replies: the data bytes that follow
        OffReadData = 46
    };

    // The target NetId: the four parts of the IP text (missing parts 0) then 1.1.
    static QByteArray targetNetId(const QString &ipText);

    static QByteArray readRequest(const QByteArray &netId, int amsPort, quint32 invokeId, quint32 indexGroup,
                                  quint32 indexOffset, quint32 length);
    // Carries exactly `length` data bytes: those of `data`, zero-filled if it is shorter.
    static QByteArray writeRequest(const QByteArray &netId, int amsPort, quint32 invokeId, quint32 indexGroup,
                                   quint32 indexOffset, const QByteArray &data, int length);

    // Writes `writeData`, then reads up to `readLength` bytes back, in one exchange.
    static QByteArray readWriteRequest(const QByteArray &netId, int amsPort, quint32 invokeId,
                                       quint32 indexGroup, quint32 indexOffset, quint32 readLength,
                                       const QByteArray &writeData);

    // The size of the largest reply a request can rightly get.
    static qint64 expectedReplySize(const QByteArray &request);
    static quint32 invokeIdOf(const QByteArray &frame);
    static quint16 commandOf(const QByteArray &frame);

private:
    // Fills the 38 header bytes at `h`.
    static void header(char *h, const QByteArray &netId, int amsPort, quint16 command, quint32 invokeId,
                       int dataLength);
};

#endif // ADSFRAME_H
