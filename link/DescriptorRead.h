// Reads a line's descriptor straight into the exchange's buffer, past the
// Qt device's own buffer: a reply crosses one copy from the kernel, and a
// large one takes no buffer of its own on the way. The Qt device never
// misses anything: what it already buffered is taken first, and anything
// other than bytes (an end of file, an error) is left for it to find.
#ifndef DESCRIPTORREAD_H
#define DESCRIPTORREAD_H

#include <QtGlobal>

class AdsExchange;
class QIODevice;

class DescriptorRead
{
public:
    enum Wait {
        Bytes, // bytes are ready
        Quiet, // nothing came in the time
        Other // an end of file or an error: the device has to look
    };

    // Moves what `device` buffered, then what the kernel holds for `fd`,
    // into `exchange`; the number of bytes moved.
    static qint64 moveTo(QIODevice *device, int fd, AdsExchange &exchange);
    // Waits up to `ms` for `fd` to become readable.
    static Wait waitReadable(int fd, int ms);

private:
    static qint64 pending(int fd);
};

#endif // DESCRIPTORREAD_H
