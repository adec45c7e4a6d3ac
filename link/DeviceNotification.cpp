#include "link/DeviceNotification.h"

#include "link/WireBytes.h"

namespace {
const qint64 kLengthSize = 4;
const qint64 kStampHeaderSize = 8 + 4; // FILETIME, sample count
const qint64 kSampleHeaderSize = 4 + 4; // handle, size
} // namespace

bool DeviceNotification::samples(const char *data, qint64 size, Sample sample)
{
    if (size < kLengthSize + 4)
        return false;
    const qint64 length = WireBytes::le32(data);
    if (length > size - kLengthSize)
        return false;
    const char *at = data + kLengthSize;
    const char *const end = at + length;
    if (end - at < 4)
        return false;
    const quint32 stamps = WireBytes::le32(at);
    at += 4;
    for (quint32 s = 0; s < stamps; ++s) {
        if (end - at < kStampHeaderSize)
            return false;
        const quint32 count = WireBytes::le32(at + 8);
        at += kStampHeaderSize;
        for (quint32 i = 0; i < count; ++i) {
            if (end - at < kSampleHeaderSize)
                return false;
            const quint32 handle = WireBytes::le32(at);
            const quint32 bytes = WireBytes::le32(at + 4);
            at += kSampleHeaderSize;
            if (qint64(bytes) > end - at)
                return false;
            sample(handle, at, bytes);
            at += bytes;
        }
    }
    return true;
}
