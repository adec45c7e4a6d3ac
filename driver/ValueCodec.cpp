#include "ValueCodec.h"

namespace {
template <typename T>
int sizeIfHeld(const QVariant &value)
{
    if (value.userType() != qMetaTypeId<QList<T>>())
        return -1;
    return static_cast<const QList<T> *>(value.constData())->size();
}
} // namespace

int ValueCodec::elementsHeld(int type, const QVariant &value)
{
    switch (type) {
    case DT_Bool: return sizeIfHeld<bool>(value);
    case DT_Int8: return sizeIfHeld<char>(value);
    case DT_UInt8: return sizeIfHeld<unsigned char>(value);
    case DT_Int16: return sizeIfHeld<short>(value);
    case DT_UInt16: return sizeIfHeld<unsigned short>(value);
    case DT_Int32: return sizeIfHeld<int>(value);
    case DT_UInt32: return sizeIfHeld<unsigned int>(value);
    case DT_Float: return sizeIfHeld<float>(value);
    case DT_Int64: return sizeIfHeld<long long>(value);
    case DT_UInt64: return sizeIfHeld<unsigned long long>(value);
    case DT_Double: return sizeIfHeld<double>(value);
    default: return -1;
    }
}
