#include "link/AdsFrame.h"

#include "link/AdsCommand.h"
#include "link/WireBytes.h"

#include <QStringList>

using namespace WireBytes;

AdsFrame::AmsAddress AdsFrame::defaultSource()
{
    static const AmsAddress source{QByteArray("\xc0\xa8\x0a\x64\x01\x01", NetIdSize), 32957};
    return source;
}

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

void AdsFrame::header(char *h, const QByteArray &netId, int amsPort, const AmsAddress &source,
                      quint16 command, quint32 invokeId, int dataLength)
{
    putLe16(h, 0);
    putLe32(h + OffTcpLength, quint32(AmsHeaderSize + dataLength));
    for (int i = 0; i < NetIdSize; ++i)
        h[OffTargetNetId + i] = i < netId.size() ? netId.at(i) : 0;
    putLe16(h + OffTargetPort, quint16(amsPort));
    for (int i = 0; i < NetIdSize; ++i)
        h[OffSourceNetId + i] = i < source.netId.size() ? source.netId.at(i) : 0;
    putLe16(h + OffSourcePort, source.port);
    putLe16(h + OffCommand, command);
    putLe16(h + OffStateFlags, StateAdsCommand);
    putLe32(h + OffAmsLength, quint32(dataLength));
    putLe32(h + OffErrorCode, 0);
    putLe32(h + OffInvokeId, invokeId);
}

QByteArray AdsFrame::readRequest(const QByteArray &netId, int amsPort, quint32 invokeId, quint32 indexGroup,
                                 quint32 indexOffset, quint32 length, const AmsAddress &source)
{
    char p[ReadRequestSize];
    header(p, netId, amsPort, source, CmdRead, invokeId, ReadRequestSize - HeaderSize);
    putLe32(p + OffIndexGroup, indexGroup);
    putLe32(p + OffIndexOffset, indexOffset);
    putLe32(p + OffRequestLength, length);
    return QByteArray(p, ReadRequestSize);
}

QByteArray AdsFrame::writeRequest(const QByteArray &netId, int amsPort, quint32 invokeId, quint32 indexGroup,
                                  quint32 indexOffset, const QByteArray &data, int length,
                                  const AmsAddress &source)
{
    const int n = qMax(0, length);
    char p[ReadRequestSize];
    header(p, netId, amsPort, source, CmdWrite, invokeId, ReadRequestSize - HeaderSize + n);
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
                                      const QByteArray &writeData, const AmsAddress &source)
{
    const int n = writeData.size();
    char p[ReadWriteRequestSize];
    header(p, netId, amsPort, source, CmdReadWrite, invokeId, ReadWriteRequestSize - HeaderSize + n);
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

QByteArray AdsFrame::addNotificationRequest(const QByteArray &netId, int amsPort, quint32 invokeId,
                                            quint32 indexGroup, quint32 indexOffset, quint32 length,
                                            quint32 mode, quint32 maxDelay100ns, quint32 cycle100ns,
                                            const AmsAddress &source)
{
    char p[AddNotificationRequestSize] = {0}; // the 16 reserved bytes stay zero
    header(p, netId, amsPort, source, CmdAddNotification, invokeId, AddNotificationRequestSize - HeaderSize);
    putLe32(p + OffIndexGroup, indexGroup);
    putLe32(p + OffIndexOffset, indexOffset);
    putLe32(p + OffRequestLength, length);
    putLe32(p + OffTransmissionMode, mode);
    putLe32(p + OffMaxDelay, maxDelay100ns);
    putLe32(p + OffCycleTime, cycle100ns);
    return QByteArray(p, AddNotificationRequestSize);
}

QByteArray AdsFrame::deleteNotificationRequest(const QByteArray &netId, int amsPort, quint32 invokeId,
                                               quint32 handle, const AmsAddress &source)
{
    char p[HeaderSize + 4];
    header(p, netId, amsPort, source, CmdDeleteNotification, invokeId, 4);
    putLe32(p + HeaderSize, handle);
    return QByteArray(p, HeaderSize + 4);
}

QByteArray AdsFrame::bareRequest(quint16 command, const QByteArray &netId, int amsPort, quint32 invokeId,
                                 const AmsAddress &source)
{
    char p[HeaderSize];
    header(p, netId, amsPort, source, command, invokeId, 0);
    return QByteArray(p, HeaderSize);
}

qint64 AdsFrame::expectedReplySize(const QByteArray &request)
{
    return AdsCommand::expectedReplySize(request);
}

quint16 AdsFrame::commandOf(const QByteArray &frame)
{
    return le16At(frame, OffCommand);
}

quint32 AdsFrame::invokeIdOf(const QByteArray &frame)
{
    return le32At(frame, OffInvokeId);
}
