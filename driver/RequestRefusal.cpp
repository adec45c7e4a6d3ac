#include "driver/RequestRefusal.h"

#include "driver/ValueCodec.h"
#include "link/AdsLayout.h"

#include <climits>

namespace {
// A QList holds at most this many entries (a pointer-sized slot each,
// counted in int bytes), a QByteArray a little less than INT_MAX bytes.
const qint64 kMaxListEntries = (INT_MAX - 64) / qint64(sizeof(void *));
const qint64 kMaxReplyBytes = INT_MAX - 64;
} // namespace

int RequestRefusal::common(const AddressResolver::Target &target, DataType type, int count, int maxCount)
{
    if (target.offset < 0)
        return CLabelVariable::RC_BadOffsetOrCount;
    if (!target.usable())
        return CLabelVariable::RC_NoArea;
    if (count < 1)
        return CLabelVariable::RC_CountBelowOne;
    if (count > maxCount)
        return CLabelVariable::RC_BadOffsetOrCount;
    // A type with no width of its own has nothing to ask for at an address;
    // strings take theirs from a symbol's type.
    if (ValueCodec::elementWidth(type) == 0 && !(type == DT_String && target.symbol))
        return CLabelVariable::RC_TypeNotHandled;
    return 0;
}

int RequestRefusal::read(const AddressResolver::Target &target, DataType type, int count)
{
    if (const int refused = common(target, type, count, INT_MAX))
        return refused;
    return readTooLarge(type, count) ? int(CLabelVariable::RC_BadOffsetOrCount) : 0;
}

int RequestRefusal::write(const AddressResolver::Target &target, DataType type, int count)
{
    return common(target, type, count, MaxWriteCount);
}

// A read the driver could not hand over: a list longer than Qt can hold
// (a bool read unpacks 8 entries per byte and one byte more), or a reply
// longer than a byte array can.
bool RequestRefusal::readTooLarge(DataType type, int count)
{
    const qint64 entries =
        type == DT_Bool ? 8 * (qint64(count) / 8 + (count % 8 ? 1 : 0) + 1) : qint64(count);
    return entries > kMaxListEntries
           || ValueCodec::byteLength(type, count) > kMaxReplyBytes - AdsLayout::ReadReplyHeaderSize;
}

int RequestRefusal::value(DataType type, int count, const CLabelVariable &value)
{
    const int held = ValueCodec::elementsHeld(type, value.value);
    if ((ValueCodec::elementWidth(type) == 0 && type != DT_String) || held < 0)
        return CLabelVariable::RC_TypeNotHandled;
    if (held < count)
        return CLabelVariable::RC_BadOffsetOrCount;
    return 0;
}
