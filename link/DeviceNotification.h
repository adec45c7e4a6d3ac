// The data of a DeviceNotification, the frame a controller sends by itself
// when subscribed values change: a length, a count of stamps; per stamp an
// 8-byte FILETIME (UTC) and a count of samples; per sample the notification
// handle, a size and that many bytes. Read in place, every length checked
// against the bytes there are.
#ifndef DEVICENOTIFICATION_H
#define DEVICENOTIFICATION_H

#include "link/FunctionRef.h"

#include <QtGlobal>

class DeviceNotification
{
public:
    // One sample: where its bytes lie, valid during the call only.
    using Sample = FunctionRef<void(quint32 handle, const char *data, quint32 size)>;

    // Walks the samples of the data part of a notification frame (what
    // follows the AMS header). False when its lengths do not hold together;
    // the samples before the fault have been handed over.
    static bool samples(const char *data, qint64 size, Sample sample);
};

#endif // DEVICENOTIFICATION_H
