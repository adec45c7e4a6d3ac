// What the fuzz targets share: the check that stops a run when an invariant
// breaks, a reader that turns fuzz input into numbers and pieces, and a
// dispatch over the eleven element types a read or write moves.
#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include "value/CLabelVariable.h"

#include "value/ElementType.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

// A broken invariant aborts, which libFuzzer records as a crash with the
// input that caused it. assert() would vanish under NDEBUG.
#define FUZZ_CHECK(cond)                                                                                     \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            ::fuzzsupport::fail(#cond, __FILE__, __LINE__);                                                  \
    } while (0)

namespace fuzzsupport {

[[noreturn]] inline void fail(const char *what, const char *file, int line)
{
    std::fprintf(stderr, "\nINVARIANT BROKEN: %s\n  at %s:%d\n", what, file, line);
    std::fflush(stderr);
    std::abort();
}

// Reads little-endian numbers and length-prefixed pieces from the front of
// the input. Past the end everything reads as 0 or empty, so every input is
// a valid one and mutations never make the layout "invalid".
class ByteReader
{
public:
    ByteReader(const uint8_t *data, size_t size) : m_data(data), m_size(size) { }

    bool atEnd() const { return m_pos >= m_size; }
    size_t left() const { return m_size - m_pos; }

    quint8 u8() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    quint16 u16()
    {
        const quint16 lo = u8();
        return quint16(lo | (quint16(u8()) << 8));
    }
    quint32 u32()
    {
        const quint32 lo = u16();
        return lo | (quint32(u16()) << 16);
    }
    qint16 i16() { return qint16(u16()); }
    qint32 i32() { return qint32(u32()); }

    QByteArray bytes(size_t n)
    {
        const size_t take = n < left() ? n : left();
        QByteArray out(reinterpret_cast<const char *>(m_data + m_pos), int(take));
        m_pos += take;
        return out;
    }
    // A piece announced by a 16-bit length before it.
    QByteArray piece() { return bytes(u16()); }
    // A short text announced by one byte, at most `limit` bytes long.
    QByteArray shortText(int limit) { return bytes(u8() % (limit + 1)); }
    QByteArray rest() { return bytes(left()); }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Text from bytes, every byte of them: Qt 5's QByteArray overloads of
// fromLatin1 and fromUtf8 stop at the first zero byte, and a host's text
// may well hold one.
inline QString latin1(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.constData(), bytes.size());
}
inline QString utf8(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes.constData(), bytes.size());
}

// The project's one dispatch over element types.
template <typename T>
using Tag = ElementTag<T>;
using ::withElementType;

} // namespace fuzzsupport

#endif // FUZZSUPPORT_H
