// Element lists to and from the data bytes of ADS requests and replies.
// Every element travels least significant byte first; a bool is one byte
// per value, non-zero meaning true.
#ifndef VALUECODEC_H
#define VALUECODEC_H

#include "value/CLabelVariable.h"

#include <QByteArray>
#include <QList>
#include <QVariant>
#include <QtEndian>

#include <cstring>
#include <type_traits>

class ValueCodec
{
public:
    // `count` elements from `bytes`; positions past the end read as 0.
    template <typename T>
    static QVariant decode(const char *bytes, qint64 size, int count);
    template <typename T>
    static QVariant decode(const QByteArray &bytes, int count)
    {
        return decode<T>(bytes.constData(), bytes.size(), count);
    }

    // Appends the first `count` elements of the QList<T> in `value`; appends
    // nothing when `value` holds another type, and stops at the list's end.
    template <typename T>
    static void encode(const QVariant &value, int count, QByteArray *out);

    // The same for a type code, chosen at run time: an invalid QVariant, or
    // nothing appended, for a type that has no elements to transfer.
    static QVariant decode(int type, const char *bytes, qint64 size, int count);
    static QVariant decode(int type, const QByteArray &bytes, int count)
    {
        return decode(type, bytes.constData(), bytes.size(), count);
    }
    static void encode(int type, const QVariant &value, int count, QByteArray *out);

    // The number of elements `value` holds as the list of `type`, or -1 when
    // it holds no such list (or the type has no list to transfer). Strings
    // are a QList<QString>, or the QStringList a host may hand in instead.
    static int elementsHeld(int type, const QVariant &value);

    // Registers with Qt every list type a label of the driver holds, once per
    // process and safely from any thread: registered lazily, two threads
    // building their first list at once would register a type twice.
    static void registerListTypes();

    // Bytes per element on the controller; 0 for a type that cannot be transferred.
    static int elementWidth(int type);
    // Element width times count.
    static qint64 byteLength(int type, qint64 count);

private:
    template <typename T>
    static QList<T> sizedList(int count);

    // Whether the elements of `list` lie one after another as an array of
    // T, in the wire's byte order: a QList keeps a type as wide as a pointer
    // in place, and a little-endian host orders its bytes as the wire does.
    template <typename T>
    static bool storedAsArray(QList<T> &list)
    {
        if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN && sizeof(T) == sizeof(void *)
                      && !std::is_same_v<T, bool> && !QTypeInfo<T>::isLarge && !QTypeInfo<T>::isStatic)
            return list.size() < 2 || &list.last() == &list.first() + (list.size() - 1);
        else
            return false;
    }

    template <typename T>
    using Bits = std::conditional_t<
        sizeof(T) == 1, quint8,
        std::conditional_t<sizeof(T) == 2, quint16, std::conditional_t<sizeof(T) == 4, quint32, quint64>>>;

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
QList<T> ValueCodec::sizedList(int count)
{
    // QList has no resize. Appending the list to itself copies its nodes in
    // bulk, so the size is built from its binary digits, highest first:
    // double, then add one where the digit is set. About `count` nodes are
    // copied in all, into the one reserved block and no other. Appending to
    // itself is safe only because the reserve keeps the nodes in place.
    QList<T> list;
    list.reserve(count);
    int bit = 1;
    while (bit <= count / 2)
        bit <<= 1;
    for (; bit > 0; bit >>= 1) {
        list.append(list);
        if (count & bit)
            list.append(T());
    }
    return list;
}

template <typename T>
QVariant ValueCodec::decode(const char *data, qint64 size, int count)
{
    constexpr int width = int(sizeof(T));
    if (count <= 0)
        return QVariant::fromValue(QList<T>());
    QList<T> list = sizedList<T>(count);
    if (!data)
        size = 0;
    const int whole = int(qMin<qint64>(count, size / width));
    auto it = list.begin();
    if (whole > 0 && storedAsArray<T>(list)) {
        // The wire's order is the host's, and the list an array of T: one copy.
        std::memcpy(&list.first(), data, size_t(whole) * width);
        it += whole;
    } else {
        for (int e = 0; e < whole; ++e, ++it)
            *it = fromBits<T>(qFromLittleEndian<Bits<T>>(data + qint64(e) * width));
    }
    // An element only partly there keeps its bytes, the missing ones read 0.
    for (int e = whole; e < count; ++e, ++it) {
        Bits<T> bits = 0;
        for (int i = width - 1; i >= 0; --i) {
            const qint64 k = qint64(e) * width + i;
            bits = Bits<T>((quint64(bits) << 8) | (k < size ? quint8(data[k]) : 0));
        }
        *it = fromBits<T>(bits);
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
