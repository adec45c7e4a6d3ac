#include "sim/SimImage.h"

namespace {
const quint32 kAreaGroups[] = {0x4020, 0xF020, 0xF030};
}

SimImage::SimImage()
{
    for (quint32 g : kAreaGroups)
        m_images.insert(g, QByteArray());
}

bool SimImage::isBitGroup(quint32 group)
{
    for (quint32 g : kAreaGroups) {
        if (group == g + 1)
            return true;
    }
    return false;
}

bool SimImage::fits(quint64 offset, quint64 length) const
{
    return offset + length <= quint64(kMaxImageBytes);
}

QByteArray &SimImage::grow(quint32 group, quint64 size)
{
    QByteArray &image = m_images[group];
    const int old = image.size();
    if (quint64(old) < size) {
        image.resize(int(size));
        memset(image.data() + old, 0, size_t(size - quint64(old)));
    }
    return image;
}

quint32 SimImage::refusal(quint32 group, quint32 offset, quint32 length) const
{
    // A bit read answers a byte per bit: no more of them than an image has bytes.
    if (isBitGroup(group))
        return fits((quint64(offset) + length + 7) / 8, 0) && fits(0, length) ? NoError : InvalidOffset;
    if (!m_images.contains(group))
        return InvalidGroup;
    return fits(offset, length) ? NoError : InvalidOffset;
}

quint32 SimImage::read(quint32 group, quint32 offset, quint32 length, QByteArray *out) const
{
    const quint32 refused = refusal(group, offset, length);
    if (refused != NoError)
        return refused;
    out->resize(int(length));
    return readInto(group, offset, length, out->data());
}

quint32 SimImage::readInto(quint32 group, quint32 offset, quint32 length, char *out) const
{
    const quint32 refused = refusal(group, offset, length);
    if (refused != NoError)
        return refused;
    if (isBitGroup(group)) {
        readBits(m_images.value(group - 1), offset, length, out);
        return NoError;
    }
    const QByteArray &image = *m_images.constFind(group);
    // Past what was written, memory reads as zeros.
    const qint64 available = qBound<qint64>(0, qint64(image.size()) - qint64(offset), qint64(length));
    if (available > 0)
        memcpy(out, image.constData() + offset, size_t(available));
    memset(out + available, 0, size_t(qint64(length) - available));
    return NoError;
}

void SimImage::readBits(const QByteArray &image, quint32 offset, quint32 length, char *out) const
{
    for (quint32 i = 0; i < length; ++i) {
        const quint64 bit = quint64(offset) + i;
        const quint64 byte = bit / 8;
        out[i] = byte < quint64(image.size()) ? char((quint8(image.at(int(byte))) >> (bit % 8)) & 1) : 0;
    }
}

void SimImage::provide(quint32 group, quint32 offset, quint32 length)
{
    if (!isBitGroup(group) && fits(offset, length))
        grow(group, quint64(offset) + length);
}

void SimImage::zero(quint32 group, quint32 offset, quint32 length)
{
    if (isBitGroup(group) || !fits(offset, length))
        return;
    QByteArray &image = grow(group, quint64(offset) + length);
    memset(image.data() + offset, 0, length);
}

quint32 SimImage::write(quint32 group, quint32 offset, const QByteArray &data)
{
    if (isBitGroup(group)) {
        const quint64 lastBit = quint64(offset) + quint64(data.size());
        if (!fits((lastBit + 7) / 8, 0))
            return InvalidOffset;
        QByteArray &image = grow(group - 1, (lastBit + 7) / 8);
        for (int i = 0; i < data.size(); ++i) {
            const quint64 bit = quint64(offset) + quint64(i);
            char &byte = image.data()[bit / 8];
            const quint8 mask = quint8(1u << (bit % 8));
            byte = char(data.at(i) ? quint8(byte) | mask : quint8(byte) & ~mask);
        }
        return NoError;
    }
    if (!fits(offset, quint64(data.size())))
        return InvalidOffset;
    setBytes(group, offset, data);
    return NoError;
}

QByteArray SimImage::bytes(quint32 group, quint32 offset, int length) const
{
    QByteArray out(length, '\0');
    const QByteArray image = m_images.value(group);
    const qint64 available = qMax<qint64>(0, qint64(image.size()) - qint64(offset));
    const int copied = int(qMin<qint64>(available, length));
    if (copied > 0)
        memcpy(out.data(), image.constData() + offset, size_t(copied));
    return out;
}

void SimImage::setBytes(quint32 group, quint32 offset, const QByteArray &data)
{
    if (!fits(offset, quint64(data.size())))
        return;
    QByteArray &image = grow(group, quint64(offset) + quint64(data.size()));
    memcpy(image.data() + offset, data.constData(), size_t(data.size()));
}
