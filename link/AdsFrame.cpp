#include "AdsFrame.h"

#include "WireBytes.h"

#include <QStringList>

using namespace WireBytes;

namespace {
// The driver's own address as the controller sees it: 192.168.10.100.1.1, port 32957.
const char kSourceNetId[6] = {char(0xc0), char(0xa8), 0x0a, 0x64, 0x01, 0x01};
const quint16 kSourcePort = 32957;
const quint16 kStateRequest = 0x0004;
} // namespace

QByteArray AdsFrame::targetNetId(const QString &ipText)
{
    QByteArray id(6, 0);
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
    putLe32(h + 2, quint32(AmsHeaderSize + dataLength));
    for (int i = 0; i < 6; ++i)
        h[6 + i] = i < netId.size() ? netId.at(i) : 0;
    putLe16(h + 12, quint16(amsPort));
    for (int i = 0; i < 6; ++i)
        h[14 + i] = kSourceNetId[i];
    putLe16(h + 20, kSourcePort);
    putLe16(h + 22, command);
    putLe16(h + 24, kStateRequest);
    putLe32(h + 26, quint32(dataLength));
    putLe32(h + 30, 0);
    putLe32(h + 34, invokeId);
}

QByteArray AdsFrame::readRequest(const QByteArray &netId, int amsPort, quint32 invokeId, quint32 indexGroup,
                                 quint32 indexOffset, quint32 length)
{
    char p[ReadRequestSize];
    header(p, netId, amsPort, CmdRead, invokeId, 12);
    putLe32(p + 38, indexGroup);
    putLe32(p + 42, indexOffset);
    putLe32(p + 46, length);
    return QByteArray(p, ReadRequestSize);
}

QByteArray AdsFrame::writeRequest(const QByteArray &netId, int amsPort, quint32 invokeId, quint32 indexGroup,
                                  quint32 indexOffset, const QByteArray &data, int length)
{
    const int n = qMax(0, length);
    char p[ReadRequestSize];
    header(p, netId, amsPort, CmdWrite, invokeId, 12 + n);
    putLe32(p + 38, indexGroup);
    putLe32(p + 42, indexOffset);
    putLe32(p + 46, quint32(n));
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
    header(p, netId, amsPort, CmdReadWrite, invokeId, 16 + n);
    putLe32(p + 38, indexGroup);
    putLe32(p + 42, indexOffset);
    putLe32(p + 46, readLength);
    putLe32(p + 50, quint32(n));
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
    case CmdReadWrite: return ReadReplyHeaderSize + qint64(le32At(request, 46));
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
