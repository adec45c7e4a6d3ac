#include "link/AdsFrame.h"

#include "link/WireBytes.h"

#include <QStringList>

using namespace WireBytes;

namespace {
// The driver's own address as the controller sees it: 192.168.10.100.1.1, port 32957.
const char kSourceNetId[6] = {char(0xc0), char(0xa8), 0x0a, 0x64, 0x01, 0x01};
const quint16 kSourcePort = 32957;
} // namespace

QByteArray AdsFrame::targetNetId(const QString &ipText)
{
    QByteArray id(NetIdSize, 0);
    const QStringList parts = ipText.split(QLatin1Char('.'));
    for (int i = 0; i < 4 && i < parts.size(); ++i)
        id[i] = char(parts.at(i).toInt(nullptr, 10) & 0xff);
    id[4] = 1;
    id[5] = 1;
    return id;
}

void AdsFrame::header(char *h, const QByteArray &netId, int amsPort, quint16 command, quint32 invokeId,
                      int dataLength)
{
    putLe16(h, 0);
    putLe32(h + OffTcpLength, quint32(AmsHeaderSize + dataLength));
    for (int i = 0; i < NetIdSize; ++i)
        h[OffTargetNetId + i] = i < netId.size() ? netId.at(i) : 0;
    putLe16(h + OffTargetPort, quint16(amsPort));
    for (int i = 0; i < NetIdSize; ++i)
        h[OffSourceNetId + i] = kSourceNetId[i];
    putLe16(h + OffSourcePort, kSourcePort);
    putLe16(h + OffCommand, command);
    putLe16(h + OffStateFlags, StateAdsCommand);
    putLe32(h + OffAmsLength, quint32(dataLength));
    putLe32(h + OffErrorCode, 0);
    putLe32(h + OffInvokeId, invokeId);
}

QByteArray AdsFrame::readRequest(const QByteArray &netId, int amsPort, quint32 invokeId, quint32 indexGroup,
                                 quint32 indexOffset, quint32 length)
{
    char p[ReadRequestSize];
    header(p, netId, amsPort, CmdRead, invokeId, ReadRequestSize - HeaderSize);
    putLe32(p + OffIndexGroup, indexGroup);
    putLe32(p + OffIndexOffset, indexOffset);
    putLe32(p + OffRequestLength, length);
    return QByteArray(p, ReadRequestSize);
}

QByteArray AdsFrame::writeRequest(const QByteArray &netId, int amsPort, quint32 invokeId, quint32 indexGroup,
                                  quint32 indexOffset, const QByteArray &data, int length)
{
    const int n = qMax(0, length);
    char p[ReadRequestSize];
    header(p, netId, amsPort, CmdWrite, invokeId, ReadRequestSize - HeaderSize + n);
    putLe32(p + OffIndexGroup, indexGroup);
    putLe32(p + OffIndexOffset, indexOffset);
    putLe32(p + OffRequestLength, quint32(n));
    QByteArray frame;
    frame.reserve(ReadRequestSize + n);
    frame.append(p, ReadRequestSize);
    frame.append(data.constData(), qMin(n, data.size()));
    if (n > data.size())
        frame.append(QByteArray(n - data.size(), '\0'));
    return frame;
}

QByteArray AdsFrame::readWriteRequest(const QByteArray &netId, int amsPort, quint32 invokeId,
                                      quint32 indexGroup, quint32 indexOffset, quint32 readLength,
                                      const QByteArray &writeData)
{
    const int n = writeData.size();
    char p[ReadWriteRequestSize];
    header(p, netId, amsPort, CmdReadWrite, invokeId, ReadWriteRequestSize - HeaderSize + n);
    putLe32(p + OffIndexGroup, indexGroup);
    putLe32(p + OffIndexOffset, indexOffset);
    putLe32(p + OffRequestLength, readLength);
    putLe32(p + OffWriteLength, quint32(n));
    QByteArray frame;
    frame.reserve(ReadWriteRequestSize + n);
    frame.append(p, ReadWriteRequestSize);
    frame.append(writeData);
    return frame;
}

qint64 AdsFrame::expectedReplySize(const QByteArray &request)
{
    switch (commandOf(request)) {
    case CmdRead:
    case CmdReadWrite: return ReadReplyHeaderSize + qint64(le32At(request, OffRequestLength));
    case CmdWrite: return WriteReplySize;
    default: return HeaderSize;
    }
}

quint16 AdsFrame::commandOf(const QByteArray &frame)
{
    return le16At(frame, OffCommand);
}

quint32 AdsFrame::invokeIdOf(const QByteArray &frame)
{
    return le32At(frame, OffInvokeId);
}
