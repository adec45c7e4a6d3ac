#include "SimProtocol.h"

#include "WireBytes.h"

using namespace WireBytes;

namespace {
const int kHeader = 38;
const quint16 kStateResponse = 0x0005;
const quint16 kCmdRead = 2;
const quint16 kCmdWrite = 3;

QByteArray le32Bytes(quint32 v)
{
    QByteArray b(4, Qt::Uninitialized);
    putLe32(b.data(), v);
    return b;
}
} // namespace

qint64 SimProtocol::frameSize(const QByteArray &buffer)
{
    if (buffer.size() < 6)
        return -1;
    return 6 + qint64(le32(buffer.constData() + 2));
}

// The reply mirrors the request's AMS header: addresses swapped, same
// command and invoke id, response flags.
QByteArray SimProtocol::replyFrame(const QByteArray &request, quint32 amsError, const QByteArray &data)
{
    char p[kHeader] = {0};
    const char *q = request.constData();
    putLe32(p + 2, quint32(32 + data.size()));
    memcpy(p + 6, q + 14, 8);  // target: the requester
    memcpy(p + 14, q + 6, 8);  // source: this controller
    memcpy(p + 22, q + 22, 2); // command id
    putLe16(p + 24, kStateResponse);
    putLe32(p + 26, quint32(data.size()));
    putLe32(p + 30, amsError);
    memcpy(p + 34, q + 34, 4); // invoke id
    QByteArray frame;
    frame.reserve(kHeader + data.size());
    frame.append(p, kHeader).append(data);
    return frame;
}

QByteArray SimProtocol::answer(const QByteArray &request, SimImage &image, int amsPort, const SimFault &fault)
{
    if (request.size() < kHeader)
        return QByteArray();
    const char *q = request.constData();
    const quint16 command = le16(q + 22);
    if (fault.amsError != 0)
        return replyFrame(request, fault.amsError, QByteArray());
    if (le16(q + 12) != quint16(amsPort))
        return replyFrame(request, AmsTargetPortNotFound, QByteArray());

    const QByteArray data = request.mid(kHeader);
    if (command == kCmdRead && data.size() >= 12) {
        QByteArray bytes;
        quint32 result = fault.adsResult;
        if (result == 0)
            result = image.read(le32(data.constData()), le32(data.constData() + 4), le32(data.constData() + 8), &bytes);
        if (result != 0)
            bytes.clear();
        return replyFrame(request, 0, le32Bytes(result) + le32Bytes(quint32(bytes.size())) + bytes);
    }
    if (command == kCmdWrite && data.size() >= 12) {
        const quint32 length = le32(data.constData() + 8);
        quint32 result = fault.adsResult;
        if (result == 0 && quint64(data.size()) - 12 != length)
            result = AdsInvalidSize;
        if (result == 0)
            result = image.write(le32(data.constData()), le32(data.constData() + 4), data.mid(12));
        return replyFrame(request, 0, le32Bytes(result));
    }
    return replyFrame(request, 0, le32Bytes(fault.adsResult ? fault.adsResult : AdsServiceNotSupported));
}

QByteArray SimProtocol::shape(const QByteArray &reply, const SimFault &fault)
{
    if (!fault.rawReply.isNull())
        return fault.rawReply;
    QByteArray out = reply;
    if (fault.otherInvokeId && out.size() >= kHeader)
        putLe32(out.data() + 34, le32(out.constData() + 34) + 0x10001);
    auto relength = [&out]() {
        if (out.size() >= 30) {
            putLe32(out.data() + 2, quint32(out.size() - 6));
            putLe32(out.data() + 26, quint32(out.size() - kHeader));
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
    if (fault.announce >= 0 && out.size() >= 6)
        putLe32(out.data() + 2, quint32(fault.announce));
    return out;
}
