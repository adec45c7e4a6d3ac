// The data of DeviceNotification frames as the fuzz targets build them from
// their input, and the samples DeviceNotification::samples hands over, so
// that the two can be compared.
#ifndef NOTIFICATIONSAMPLES_H
#define NOTIFICATIONSAMPLES_H

#include "fuzz/FuzzSupport.h"
#include "link/DeviceNotification.h"
#include "link/WireBytes.h"

#include <QByteArray>
#include <QList>

namespace notificationsamples {

struct Sample {
    quint32 handle = 0;
    QByteArray bytes;
    bool operator==(const Sample &other) const { return handle == other.handle && bytes == other.bytes; }
};

// The handles samples carry. None of their bytes spell part of a NetId, so
// that no frame header can be read into a built notification's fields.
const quint32 kHandles[8] = {1, 2, 7, 0x20, 0x1234, 0x10000, 0x7FFFFFFF, 0xFFFFFFFF};

inline void put32(QByteArray *out, quint32 v)
{
    char b[4];
    WireBytes::putLe32(b, v);
    out->append(b, 4);
}

// The data part of a notification (what follows the AMS header): its
// length, the stamps, per stamp a FILETIME and its samples, per sample a
// handle, a size and the bytes. `shape`:
//   bits0-2 the first sample's handle (kHandles; each next sample the next)
//   bits4-5 stamps - 1, bits6-7 samples per stamp
// then from `in`, per sample: u8 size (% 17) and that many bytes. The
// stamps' times tell notifications of different `serial` apart. With
// `nonzero`, a zero byte of a sample becomes 0x55: no frame header can
// hide in bytes without a zero.
inline QByteArray build(fuzzsupport::ByteReader &in, quint8 shape, quint32 serial, bool nonzero,
                        QList<Sample> *samples)
{
    const quint32 stamps = ((shape >> 4) & 3) + 1;
    const quint32 perStamp = (shape >> 6) & 3;
    QByteArray body;
    put32(&body, stamps);
    int next = shape & 7;
    for (quint32 s = 0; s < stamps; ++s) {
        char time[8];
        WireBytes::putLe64(time, 0x01D9000012345678ULL + (quint64(serial) << 8) + s);
        body.append(time, 8);
        put32(&body, perStamp);
        for (quint32 i = 0; i < perStamp; ++i) {
            Sample sample;
            sample.handle = kHandles[next++ % 8];
            sample.bytes = in.bytes(in.u8() % 17);
            if (nonzero)
                sample.bytes.replace('\0', '\x55');
            put32(&body, sample.handle);
            put32(&body, quint32(sample.bytes.size()));
            body += sample.bytes;
            samples->append(sample);
        }
    }
    QByteArray data;
    put32(&data, quint32(body.size()));
    return data + body;
}

// The samples the parser hands over, each checked to lie within the bytes,
// after its own header and after the sample before it.
inline QList<Sample> parse(const char *data, qint64 size, bool *ok)
{
    QList<Sample> out;
    qint64 last = 4 + 4; // the length and the stamp count
    *ok = DeviceNotification::samples(data, size, [&](quint32 handle, const char *bytes, quint32 n) {
        FUZZ_CHECK(data && bytes >= data && bytes <= data + size);
        const qint64 at = bytes - data;
        FUZZ_CHECK(at >= last + 8 && qint64(n) <= size - at);
        last = at + n;
        out.append(Sample{handle, QByteArray(bytes, int(n))});
    });
    return out;
}

} // namespace notificationsamples

#endif // NOTIFICATIONSAMPLES_H
