#include "value/CLabelVariable.h"

namespace {

// Reads one element of the list of type T held in `value`, recording the
// outcome in `status`. Checking the held type directly is what a convertible
// test amounts to here: no conversions between the list types exist.
template <typename T>
T elementAt(const QVariant &value, int index, qint32 &status, const T &failure = T())
{
    if (value.userType() != qMetaTypeId<QList<T>>()) {
        status = CLabelVariable::AS_WrongListType;
        return failure;
    }
    const QList<T> &list = *static_cast<const QList<T> *>(value.constData());
    if (index < 0 || index >= list.size()) {
        status = CLabelVariable::AS_OutOfRange;
        return failure;
    }
    status = CLabelVariable::AS_Read;
    return list.at(index);
}

} // namespace

CLabelVariable::CLabelVariable()
    : resultCode(RC_NotDone), accessStatus(AS_NotAccessed), count(0), type(DT_None), auxNumber(0)
{
}

CLabelVariable::CLabelVariable(const CLabelVariable &other) = default;

CLabelVariable &CLabelVariable::operator=(const CLabelVariable &other)
{
    resultCode = other.resultCode;
    value = other.value;
    timeStamp = other.timeStamp;
    name = other.name;
    count = other.count;
    type = other.type;
    auxText = other.auxText;
    return *this;
}

CLabelVariable::~CLabelVariable() = default;

bool CLabelVariable::atbool(int index)
{
    return elementAt<bool>(value, index, accessStatus, false);
}
char CLabelVariable::atchar(int index)
{
    return elementAt<char>(value, index, accessStatus, 0);
}
char CLabelVariable::atInt8(int index)
{
    return atchar(index);
}
unsigned char CLabelVariable::atUInt8(int index)
{
    return elementAt<unsigned char>(value, index, accessStatus, 0);
}
short CLabelVariable::atInt16(int index)
{
    return elementAt<short>(value, index, accessStatus, 0);
}
unsigned short CLabelVariable::atUInt16(int index)
{
    return elementAt<unsigned short>(value, index, accessStatus, 0);
}
int CLabelVariable::atInt32(int index)
{
    return elementAt<int>(value, index, accessStatus, 0);
}
unsigned int CLabelVariable::atUInt32(int index)
{
    return elementAt<unsigned int>(value, index, accessStatus, 0u);
}
float CLabelVariable::atFloat(int index)
{
    return elementAt<float>(value, index, accessStatus, 0.0f);
}
long long CLabelVariable::atInt64(int index)
{
    return elementAt<long long>(value, index, accessStatus, 0LL);
}
unsigned long long CLabelVariable::atUInt64(int index)
{
    return elementAt<unsigned long long>(value, index, accessStatus, 0ULL);
}
double CLabelVariable::atDouble(int index)
{
    return elementAt<double>(value, index, accessStatus, 0.0);
}
QString CLabelVariable::atQString(int index)
{
    return elementAt<QString>(value, index, accessStatus, QString());
}
