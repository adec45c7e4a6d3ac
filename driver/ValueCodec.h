// Element lists to and from the data bytes of ADS requests and replies.
// Every element travels least significant byte first; a bool is one byte
// per value, non-zero meaning true.
#ifndef VALUECODEC_H
#define VALUECODEC_H

#include "CLabelVariable.h"

#include <QByteArray>
#include <QList>
#include <QVariant>

#include <cstring>
#include <type_traits>

class ValueCodec
{
public:
    // `count` elements from `bytes`; positions past the end read as 0.
    template <typename T>
    static QVariant decode(const QByteArray &bytes, int count);

    // Appends the first `count` elements of the QList<T> in `value`; appends
    // nothing when `value` holds another type, and stops at the list's end.
    template <typename T>
    static void encode(const QVariant &value, int count, QByteArray *out);

    // The number of elements `value` holds as the list of `type`, or -1 when
    // it holds no such list (or the type has no list to transfer).
    static int elementsHeld(int type, const QVariant &value);

private:
    template <typename T>
    using Bits = std::conditional_t<sizeof(T) == 1, quint8,
                 std::conditional_t<sizeof(T) == 2, quint16,
                 std::conditional_t<sizeof(T) == 4, quint32, quint64>>>;

    template <typename T>
    static T fromBits(Bits<T> bits)
    {
        if constexpr (std::is_same_v<T, bool>) {
            return bits != 0;
        } else {
            T v;
            std::memcpy(&v, &bits, sizeof v); // same width: the IEEE or two's-complement pattern
            return v;
        }
    }

    template <typename T>
    static Bits<T> toBits(T v)
    {
        if constexpr (std::is_same_v<T, bool>) {
            return v ? 1 : 0;
        } else {
            Bits<T> bits;
            std::memcpy(&bits, &v, sizeof v);
            return bits;
        }
    }
};

template <typename T>
QVariant ValueCodec::decode(const QByteArray &bytes, int count)
{
    constexpr int width = int(sizeof(T));
    QList<T> list;
    if (count > 0) {
        list.reserve(count);
        const char *data = bytes.constData();
        const qint64 size = bytes.size();
        for (qint64 k = 0, end = qint64(count) * width; k < end; k += width) {
            Bits<T> bits = 0;
            for (int i = width - 1; i >= 0; --i) {
                const quint8 b = k + i < size ? quint8(data[k + i]) : 0;
                bits = Bits<T>((quint64(bits) << 8) | b);
            }
            list.append(fromBits<T>(bits));
        }
    }
    return QVariant::fromValue(list);
}

template <typename T>
void ValueCodec::encode(const QVariant &value, int count, QByteArray *out)
{
    constexpr int width = int(sizeof(T));
    if (value.userType() != qMetaTypeId<QList<T>>() || count <= 0)
        return;
    const QList<T> &list = *static_cast<const QList<T> *>(value.constData());
    const int n = qMin(count, list.size());
    const int start = out->size();
    out->resize(start + n * width);
    char *p = out->data() + start;
    for (int e = 0; e < n; ++e) {
        quint64 bits = toBits<T>(list.at(e));
        for (int i = 0; i < width; ++i, bits >>= 8)
            *p++ = char(bits & 0xff);
    }
}

#endif // VALUECODEC_H
