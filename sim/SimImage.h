// The memory of the simulated controller: one byte image per index group.
// The M, I and Q areas always exist; their bit groups (byte group + 1) read
// and write single bits of the same image, one byte 0 or 1 per bit. Any other
// group exists once something was written to it.
#ifndef SIMIMAGE_H
#define SIMIMAGE_H

#include <QByteArray>
#include <QMap>

class SimImage
{
public:
    enum AdsError : quint32 {
        NoError = 0,
        InvalidGroup = 0x702,
        InvalidOffset = 0x703,
    };
    // No image grows beyond this: a request past it is refused, not allocated.
    static const qint64 kMaxImageBytes = 64 * 1024 * 1024;

    SimImage();

    // The error a read of these bytes gets, or NoError.
    quint32 refusal(quint32 group, quint32 offset, quint32 length) const;
    quint32 read(quint32 group, quint32 offset, quint32 length, QByteArray *out) const;
    // As read(), into `length` bytes at `out`: a reply's own buffer.
    quint32 readInto(quint32 group, quint32 offset, quint32 length, char *out) const;
    quint32 write(quint32 group, quint32 offset, const QByteArray &data);
    // Makes [offset, offset + length) of a byte group exist, zeroed where
    // nothing was written yet; what is there stays.
    void provide(quint32 group, quint32 offset, quint32 length);
    // Makes [offset, offset + length) of a byte group exist, all zeros.
    void zero(quint32 group, quint32 offset, quint32 length);

    // Direct access for tests and image files; byte groups only.
    QByteArray bytes(quint32 group, quint32 offset, int length) const;
    void setBytes(quint32 group, quint32 offset, const QByteArray &data);

    static bool isBitGroup(quint32 group);

private:
    bool fits(quint64 offset, quint64 length) const;
    void readBits(const QByteArray &image, quint32 offset, quint32 length, char *out) const;
    QByteArray &grow(quint32 group, quint64 size);

    QMap<quint32, QByteArray> m_images;
};

#endif // SIMIMAGE_H
