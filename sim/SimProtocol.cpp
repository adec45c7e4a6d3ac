#include "sim/SimProtocol.h"

#include "link/WireBytes.h"
#include "sim/SimRuntime.h"

using namespace WireBytes;

namespace {
const int kHeader = 38;
const quint16 kStateResponse = 0x0005;
const quint16 kCmdRead = 2;
const quint16 kCmdWrite = 3;
const quint16 kCmdReadWrite = 9;

QByteArray le32Bytes(quint32 v)
{
    QByteArray b(4, Qt::Uninitialized);
    putLe32(b.data(), v);
    return b;
}

// Overwrites four bytes of `frame` at `at`.
void patchLe32(QByteArray &frame, int at, quint32 v)
{
    frame.replace(at, 4, le32Bytes(v));
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
    memcpy(p + 6, q + 14, 8); // target: the requester
    memcpy(p + 14, q + 6, 8); // source: this controller
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

QByteArray SimProtocol::readReply(const QByteArray &request, quint32 result, const QByteArray &bytes)
{
    const QByteArray data = result == 0 ? bytes : QByteArray();
    return replyFrame(request, 0, le32Bytes(result) + le32Bytes(quint32(data.size())) + data);
}

// ReadWrite of group 0xF009: the write data is a name, the answer its entry.
QByteArray SimProtocol::lookup(const QByteArray &request, const SimSymbols &symbols, const QByteArray &data)
{
    const quint32 readLength = le32(data.constData() + 8);
    const QByteArray written = data.mid(16, int(le32(data.constData() + 12)));
    const int end = written.indexOf('\0');
    SimSymbols::Symbol symbol;
    if (!symbols.find(QString::fromLatin1(end < 0 ? written : written.left(end)), &symbol))
        return readReply(request, AdsSymbolNotFound, QByteArray());
    const QByteArray entry = SimSymbols::entry(symbol);
    if (quint32(entry.size()) > readLength)
        return readReply(request, AdsInvalidSize, QByteArray());
    return readReply(request, 0, entry);
}

QByteArray SimProtocol::errorReply(const QByteArray &request, quint32 amsError)
{
    return request.size() < kHeader ? QByteArray() : replyFrame(request, amsError, QByteArray());
}

QByteArray SimProtocol::answer(const QByteArray &request, SimRuntime *runtime, const SimFault &fault)
{
    if (request.size() < kHeader)
        return QByteArray();
    const char *q = request.constData();
    const quint16 command = le16(q + 22);
    if (fault.amsError != 0)
        return replyFrame(request, fault.amsError, QByteArray());
    if (!runtime)
        return replyFrame(request, AmsTargetPortNotFound, QByteArray());
    SimImage &image = runtime->image;
    const SimSymbols &symbols = runtime->symbols;

    const QByteArray data = request.mid(kHeader);
    const quint32 group = data.size() >= 12 ? le32(data.constData()) : 0;
    const quint32 offset = data.size() >= 12 ? le32(data.constData() + 4) : 0;
    const quint32 length = data.size() >= 12 ? le32(data.constData() + 8) : 0;
    if (command == kCmdRead && data.size() >= 12) {
        QByteArray bytes;
        quint32 result = fault.adsResult;
        if (result == 0 && symbols.retired(group, offset, length))
            result = SimImage::InvalidOffset; // the program changed online
        if (result == 0)
            result = image.read(group, offset, length, &bytes);
        return readReply(request, result, bytes);
    }
    if (command == kCmdWrite && data.size() >= 12) {
        quint32 result = fault.adsResult;
        if (result == 0 && quint64(data.size()) - 12 != length)
            result = AdsInvalidSize;
        if (result == 0 && symbols.retired(group, offset, length))
            result = SimImage::InvalidOffset;
        if (result == 0)
            result = image.write(group, offset, data.mid(12));
        return replyFrame(request, 0, le32Bytes(result));
    }
    if (command == kCmdReadWrite && data.size() >= 16 && group == SymbolLookupGroup) {
        if (fault.adsResult)
            return readReply(request, fault.adsResult, QByteArray());
        return lookup(request, symbols, data);
    }
    return replyFrame(request, 0, le32Bytes(fault.adsResult ? fault.adsResult : AdsServiceNotSupported));
}

QByteArray SimProtocol::shape(const QByteArray &reply, const SimFault &fault)
{
    if (!fault.rawReply.isNull())
        return fault.rawReply;
    QByteArray out = reply;
    if (fault.otherInvokeId && out.size() >= kHeader)
        patchLe32(out, 34, le32(out.constData() + 34) + 0x10001);
    auto relength = [&out]() {
        if (out.size() >= 30) {
            patchLe32(out, 2, quint32(out.size() - 6));
            patchLe32(out, 26, quint32(out.size() - kHeader));
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
        patchLe32(out, 2, quint32(fault.announce));
    return out;
}
