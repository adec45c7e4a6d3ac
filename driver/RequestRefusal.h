// What the read and write paths refuse before anything is sent, as the
// host's result codes; 0 when a request may go out.
#ifndef REQUESTREFUSAL_H
#define REQUESTREFUSAL_H

#include "driver/AddressResolver.h"
#include "value/CLabelVariable.h"

class RequestRefusal
{
public:
    // A write moves at most this many elements in one request.
    enum { MaxWriteCount = 65535 };

    // First match wins: offset below 0, no area, count below 1, count
    // above 65535 (writes), a type with nothing to transfer (strings only by
    // name); then a list the driver could not build.
    static int read(const AddressResolver::Target &target, DataType type, int count);
    static int write(const AddressResolver::Target &target, DataType type, int count);
    // A request never announces more data than the host's value can fill.
    static int value(DataType type, int count, const CLabelVariable &value);

private:
    static int common(const AddressResolver::Target &target, DataType type, int count, int maxCount);
    static bool readTooLarge(DataType type, int count);
};

#endif // REQUESTREFUSAL_H
