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
    if (quint64(image.size()) < size)
        image.append(QByteArray(int(size - quint64(image.size())), '\0'));
    return image;
}

quint32 SimImage::read(quint32 group, quint32 offset, quint32 length, QByteArray *out) const
{
    if (isBitGroup(group)) {
        if (!fits((quint64(offset) + length + 7) / 8, 0))
            return InvalidOffset;
        const QByteArray image = m_images.value(group - 1);
        out->resize(int(length));
        for (quint32 i = 0; i < length; ++i) {
            const quint64 bit = quint64(offset) + i;
            const quint64 byte = bit / 8;
            out->data()[i] =
                byte < quint64(image.size()) ? char((quint8(image.at(int(byte))) >> (bit % 8)) & 1) : 0;
        }
        return NoError;
    }
    if (!m_images.contains(group))
        return InvalidGroup;
    if (!fits(offset, length))
        return InvalidOffset;
    *out = bytes(group, offset, int(length));
    return NoError;
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
