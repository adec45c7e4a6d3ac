// A notification's data part as a controller may send it: any bytes, to
// DeviceNotification::samples. Nothing is read past them (they are parsed
// from a copy of exactly their size, so AddressSanitizer sees a read past
// it); every sample lies within them, after its own header and after the
// sample before it; bytes after what the length announces change nothing.
// A notification built from the input parses back exactly as built, and
// with its length cut anywhere before its end it is refused, the samples
// handed over before the cut being the first of those built.
//
// Input layout (ByteReader: little-endian, zero past the end):
//   u8 mode   bit0 the rest describes a notification to build: u8 shape
//             and the samples, as NotificationSamples.h reads them; else
//             the rest is the data part as it came; bits1-3 how many bytes
//             follow the data part in the second look (+ 1), each `mode`
#include "fuzz/FuzzSupport.h"
#include "fuzz/NotificationSamples.h"

#include <vector>

using fuzzsupport::ByteReader;
using notificationsamples::Sample;

namespace {

QList<Sample> parseExact(const QByteArray &bytes, bool *ok)
{
    const std::vector<char> copy(bytes.constBegin(), bytes.constEnd());
    return notificationsamples::parse(copy.data(), qint64(copy.size()), ok);
}

// The bytes with the length they announce set to `length`, and cut after it.
QByteArray withLength(const QByteArray &bytes, quint32 length)
{
    QByteArray cut = bytes.left(int(4 + length));
    WireBytes::putLe32(cut.data(), length);
    return cut;
}

bool startsWith(const QList<Sample> &whole, const QList<Sample> &head)
{
    return head.size() <= whole.size() && std::equal(head.begin(), head.end(), whole.begin());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ByteReader in(data, size);
    const quint8 mode = in.u8();
    const bool build = mode & 1;
    QList<Sample> built;
    const QByteArray bytes = build ? notificationsamples::build(in, in.u8(), 1, false, &built) : in.rest();

    bool ok = false;
    const QList<Sample> samples = parseExact(bytes, &ok);
    if (build)
        FUZZ_CHECK(ok && samples == built);

    if (ok) {
        bool again = false;
        const QByteArray longer = bytes + QByteArray(1 + ((mode >> 1) & 7), char(mode));
        FUZZ_CHECK(parseExact(longer, &again) == samples && again);
    }

    if (build) {
        const quint32 length = WireBytes::le32(bytes.constData());
        FUZZ_CHECK(qint64(length) + 4 == bytes.size());
        for (quint32 k = 0; k < length; ++k) {
            bool cutOk = true;
            const QList<Sample> head = parseExact(withLength(bytes, k), &cutOk);
            FUZZ_CHECK(!cutOk && startsWith(samples, head));
        }
    }
    return 0;
}
