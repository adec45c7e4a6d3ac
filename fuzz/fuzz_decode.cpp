// The element codec on its own: ValueCodec::decode<T> for the eleven
// element types with any bytes and count, the run-time dispatch Read_data
// uses, and ValueCodec::encode<T> back, which must give the data bytes
// again (bool: one canonical 0 or 1 per element).
//
// Input layout: u8 type (% 11 + 1), i16 count (% 4097: negative, zero, and
// up to 4096 elements; larger counts only add zero elements past the data),
// u8 flags (encode count and prefix), then the data bytes.
#include "driver/ValueCodec.h"
#include "fuzz/FuzzSupport.h"

#include <QList>

using fuzzsupport::ByteReader;

namespace {

// The decoder for `type`, as Read_data reaches it.
QVariant driverDecode(int type, const QByteArray &bytes, int count)
{
    return ValueCodec::decode(type, bytes, count);
}

// The element's bit pattern, read little-endian from the bytes with zeros
// past their end: the reference the decoder is measured against.
quint64 expectedBits(const QByteArray &bytes, qint64 first, int width)
{
    quint64 bits = 0;
    for (int i = 0; i < width; ++i) {
        const qint64 at = first + i;
        const quint64 b = at < bytes.size() ? quint8(bytes.at(int(at))) : 0;
        bits |= b << (8 * i);
    }
    return bits;
}

template <typename T>
quint64 bitsOf(T v)
{
    quint64 bits = 0;
    std::memcpy(&bits, &v, sizeof v); // little-endian host: the low bytes
    return bits;
}

template <typename T>
void checkType(int type, const QByteArray &bytes, int count, quint8 flags)
{
    constexpr int width = int(sizeof(T));
    const int n = qMax(0, count);

    const QVariant v = ValueCodec::decode<T>(bytes, count);
    FUZZ_CHECK(v.userType() == qMetaTypeId<QList<T>>());
    const QList<T> &list = *static_cast<const QList<T> *>(v.constData());
    FUZZ_CHECK(list.size() == n);
    FUZZ_CHECK(ValueCodec::elementsHeld(type, v) == n);
    // No other type code claims this list.
    for (int other = -1; other <= 13; ++other) {
        if (other != type)
            FUZZ_CHECK(ValueCodec::elementsHeld(other, v) == -1);
    }

    for (int k = 0; k < n; ++k) {
        const quint64 want = expectedBits(bytes, qint64(k) * width, width);
        if constexpr (std::is_same_v<T, bool>)
            FUZZ_CHECK(list.at(k) == (want != 0));
        else
            FUZZ_CHECK(bitsOf(list.at(k)) == want);
    }

    // The driver's decoder for the type gives the same list.
    const QVariant viaDriver = driverDecode(type, bytes, count);
    FUZZ_CHECK(viaDriver.userType() == v.userType());
    const QList<T> &driverList = *static_cast<const QList<T> *>(viaDriver.constData());
    FUZZ_CHECK(driverList.size() == n);
    for (int k = 0; k < n; ++k)
        FUZZ_CHECK(bitsOf(driverList.at(k)) == bitsOf(list.at(k)));

    // Encode back, after a prefix that must stay, with a count at, below or
    // above the list's size.
    const QByteArray prefix = QByteArray(flags & 0x03, 'p');
    int encodeCount = count;
    switch ((flags >> 2) & 0x03) {
    case 1: encodeCount = count / 2; break;
    case 2: encodeCount = count + 1 + (flags >> 4); break;
    case 3: encodeCount = -(flags >> 4); break;
    default: break;
    }
    QByteArray out = prefix;
    ValueCodec::encode<T>(v, encodeCount, &out);
    FUZZ_CHECK(out.startsWith(prefix));
    const int encoded = qBound(0, encodeCount, n);
    FUZZ_CHECK(out.size() == prefix.size() + encoded * width);
    const QByteArray tail = out.mid(prefix.size());
    for (int i = 0; i < tail.size(); ++i) {
        const quint8 original = i < bytes.size() ? quint8(bytes.at(i)) : 0;
        if constexpr (std::is_same_v<T, bool>)
            FUZZ_CHECK(quint8(tail.at(i)) == (original != 0 ? 1 : 0));
        else
            FUZZ_CHECK(quint8(tail.at(i)) == original); // floats too: bit for bit
    }

    // A list of any other element type encodes to nothing.
    for (int other = DT_Bool; other <= DT_Double; ++other) {
        if (other == type)
            continue;
        fuzzsupport::withElementType(other, [&](auto tag) {
            QByteArray untouched = prefix;
            ValueCodec::encode<typename decltype(tag)::type>(v, count, &untouched);
            FUZZ_CHECK(untouched == prefix);
        });
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ByteReader in(data, size);
    const int type = in.u8() % 11 + 1;
    const int count = in.i16() % 4097;
    const quint8 flags = in.u8();
    const QByteArray bytes = in.rest();
    const bool known = fuzzsupport::withElementType(
        type, [&](auto tag) { checkType<typename decltype(tag)::type>(type, bytes, count, flags); });
    FUZZ_CHECK(known);
    return 0;
}
