// Reads a line's descriptor straight into the exchange's buffer, past the
// Qt device's own buffer: a reply crosses one copy from the kernel, and a
// large one takes no buffer of its own on the way. The Qt device never
// misses anything: what it already buffered is taken first, and an end of
// file or an error is left for it to find and report.
#ifndef DESCRIPTORREAD_H
#define DESCRIPTORREAD_H

#include <QtGlobal>

class AdsExchange;
class QIODevice;

class DescriptorRead
{
public:
    // Moves what `device` buffered, then one read of what the kernel holds
    // for `fd`, into `exchange`: the number of bytes moved, or -1 when the
    // read found an end of file or an error (the device has to look).
    static qint64 moveTo(QIODevice *device, int fd, AdsExchange &exchange);
};

#endif // DESCRIPTORREAD_H
