// Little-endian integers on the wire, built and read byte by byte.
#ifndef WIREBYTES_H
#define WIREBYTES_H

#include <QByteArray>
#include <QtGlobal>

namespace WireBytes {

inline void putLe16(char *at, quint16 v)
{
    at[0] = char(v & 0xff);
    at[1] = char(v >> 8);
}

inline void putLe32(char *at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        at[i] = char((v >> (8 * i)) & 0xff);
}

inline void putLe64(char *at, quint64 v)
{
    for (int i = 0; i < 8; ++i)
        at[i] = char((v >> (8 * i)) & 0xff);
}

inline quint16 le16(const char *at)
{
    return quint16(quint8(at[0]) | (quint16(quint8(at[1])) << 8));
}

inline quint32 le32(const char *at)
{
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | quint8(at[i]);
    return v;
}

inline quint64 le64(const char *at)
{
    quint64 v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | quint8(at[i]);
    return v;
}

// Reads a field of `frame` at `offset`; 0 when the frame is too short to hold it.
inline quint32 le32At(const QByteArray &frame, int offset)
{
    return frame.size() >= offset + 4 ? le32(frame.constData() + offset) : 0;
}

inline quint16 le16At(const QByteArray &frame, int offset)
{
    return frame.size() >= offset + 2 ? le16(frame.constData() + offset) : 0;
}

} // namespace WireBytes

#endif // WIREBYTES_H
