// Element-wise arithmetic and comparison of labels.
#include "value/CLabelVariable.h"
#include "value/ElementType.h"

#include <cmath>
#include <limits>
#include <new>
#include <type_traits>

namespace {

enum class Arith { Add, Sub, Mul, Div };

// Maps the host's further codes onto the base type whose element list they
// carry. Codes without a base type (25 to 32, above 40, negative) count as
// DT_None, which no operator handles.
DataType foldType(DataType type)
{
    const qint32 code = type;
    if (code >= DT_None && code <= DT_String)
        return type;
    if (code >= 13 && code <= 14)
        return DT_Int16;
    if (code >= 15 && code <= 16)
        return DT_UInt16;
    if (code >= 17 && code <= 20)
        return DT_Int32;
    if (code >= 21 && code <= 24)
        return DT_UInt32;
    if (code >= 33 && code <= 36)
        return DT_Float;
    if (code >= 37 && code <= 40)
        return DT_Double;
    return DT_None;
}

// The accessor that reads elements of type T.
template <typename T>
constexpr auto accessorOf()
{
    if constexpr (std::is_same_v<T, bool>)
        return &CLabelVariable::atbool;
    else if constexpr (std::is_same_v<T, char>)
        return &CLabelVariable::atInt8;
    else if constexpr (std::is_same_v<T, unsigned char>)
        return &CLabelVariable::atUInt8;
    else if constexpr (std::is_same_v<T, short>)
        return &CLabelVariable::atInt16;
    else if constexpr (std::is_same_v<T, unsigned short>)
        return &CLabelVariable::atUInt16;
    else if constexpr (std::is_same_v<T, int>)
        return &CLabelVariable::atInt32;
    else if constexpr (std::is_same_v<T, unsigned int>)
        return &CLabelVariable::atUInt32;
    else if constexpr (std::is_same_v<T, float>)
        return &CLabelVariable::atFloat;
    else if constexpr (std::is_same_v<T, long long>)
        return &CLabelVariable::atInt64;
    else if constexpr (std::is_same_v<T, unsigned long long>)
        return &CLabelVariable::atUInt64;
    else if constexpr (std::is_same_v<T, double>)
        return &CLabelVariable::atDouble;
    else
        return &CLabelVariable::atQString;
}

// Calls f with the accessor that reads the element type of `base`.
// Returns false, without calling f, when the type carries no elements.
template <typename F>
bool withAccessor(DataType base, F &&f)
{
    return withListType(base, [&](auto tag) { f(accessorOf<typename decltype(tag)::type>()); });
}

// The accessors change nothing but the mutable accessStatus, so calling them
// on a label received as const is well defined.
CLabelVariable &accessible(const CLabelVariable &label)
{
    return const_cast<CLabelVariable &>(label);
}

// A QList holds at most this many entries (one pointer-sized slot each,
// counted in int bytes); a count beyond it could never be built.
const qint64 kMaxListEntries = (std::numeric_limits<int>::max() - 64) / qint64(sizeof(void *));

template <typename T>
int listSize(const QVariant &value)
{
    return qvariant_cast<QList<T>>(value).size();
}

bool boolOp(Arith op, bool a, bool b)
{
    switch (op) {
    case Arith::Add: return a || b;
    case Arith::Sub: return a != b;
    case Arith::Mul: return a && b;
    case Arith::Div: return b && a;
    }
    return false;
}

// PLC integers wrap, so the arithmetic runs in an unsigned type at least as
// wide as int: narrower types would promote to signed int, and a product
// such as 65535 * 65535 would then overflow it.
template <typename T>
T intOp(Arith op, T a, T b)
{
    using U = std::make_unsigned_t<T>;
    using W = std::conditional_t<(sizeof(T) < sizeof(unsigned)), unsigned, U>;
    // Through the unsigned type of T: the bit pattern, not a sign extension.
    const W x = static_cast<W>(static_cast<U>(a));
    const W y = static_cast<W>(static_cast<U>(b));
    switch (op) {
    case Arith::Add: return static_cast<T>(x + y);
    case Arith::Sub: return static_cast<T>(x - y);
    case Arith::Mul: return static_cast<T>(x * y);
    case Arith::Div:
        if (b == 0)
            return T(0);
        if constexpr (std::is_signed_v<T>) {
            // The only quotient that overflows is MIN / -1; negating in the
            // unsigned type yields its low bits, MIN again.
            if (b == T(-1))
                return static_cast<T>(W(0) - x);
        }
        return static_cast<T>(a / b);
    }
    return T(0);
}

// IEEE 754 results. Division by zero is spelled out instead of left to the
// hardware, so the code stays clean even under a float-divide-by-zero check.
template <typename T>
T floatOp(Arith op, T a, T b)
{
    switch (op) {
    case Arith::Add: return a + b;
    case Arith::Sub: return a - b;
    case Arith::Mul: return a * b;
    case Arith::Div:
        if (b == T(0)) {
            if (a == T(0) || std::isnan(a))
                return std::numeric_limits<T>::quiet_NaN();
            const T inf = std::numeric_limits<T>::infinity();
            return std::signbit(a) != std::signbit(b) ? -inf : inf;
        }
        return a / b;
    }
    return T(0);
}

template <typename T>
T elementOp(Arith op, const T &a, const T &b)
{
    if constexpr (std::is_same_v<T, QString>)
        return a + b; // only + reaches strings
    else if constexpr (std::is_same_v<T, bool>)
        return boolOp(op, a, b);
    else if constexpr (std::is_floating_point_v<T>)
        return floatOp(op, a, b);
    else
        return intOp(op, a, b);
}

CLabelVariable arithmetic(CLabelVariable &left, const CLabelVariable &right, Arith op)
{
    const DataType base = foldType(left.type);
    if (base == DT_String && op != Arith::Add)
        return CLabelVariable();

    CLabelVariable result;
    result.resultCode = right.resultCode;
    result.name = right.name;
    result.count = right.count;
    result.type = right.type;
    result.auxText = right.auxText;
    result.timeStamp = QDateTime::currentDateTime();

    const bool handled = withAccessor(base, [&](auto at) {
        using T = std::decay_t<decltype((left.*at)(0))>;
        QList<T> combined;
        // Lists of different lengths do not pair up; then nothing is read.
        // Nor for a count no list can hold, and memory running out leaves
        // the list empty rather than throwing into the host.
        if (listSize<T>(left.value) == listSize<T>(right.value) && left.count <= kMaxListEntries) {
            try {
                for (int i = 0; i < left.count; ++i) {
                    const T a = (left.*at)(i);
                    const T b = (accessible(right).*at)(i);
                    combined.append(elementOp(op, a, b));
                }
            } catch (const std::bad_alloc &) {
                combined = QList<T>();
            }
        }
        result.value = QVariant::fromValue(combined);
    });
    return handled ? result : CLabelVariable();
}

} // namespace

CLabelVariable CLabelVariable::operator+(const CLabelVariable &right)
{
    return arithmetic(*this, right, Arith::Add);
}
CLabelVariable CLabelVariable::operator-(const CLabelVariable &right)
{
    return arithmetic(*this, right, Arith::Sub);
}
CLabelVariable CLabelVariable::operator*(const CLabelVariable &right)
{
    return arithmetic(*this, right, Arith::Mul);
}
CLabelVariable CLabelVariable::operator/(const CLabelVariable &right)
{
    return arithmetic(*this, right, Arith::Div);
}

bool CLabelVariable::operator==(const CLabelVariable &right)
{
    const bool headerEqual = resultCode == right.resultCode && name == right.name && count == right.count
                             && type == right.type && auxText == right.auxText;

    bool equal = headerEqual;
    withAccessor(foldType(type), [&](auto at) {
        using T = std::decay_t<decltype((this->*at)(0))>;
        if (listSize<T>(value) != listSize<T>(right.value)) {
            equal = false;
            return;
        }
        // The first element is read even when the header already differs;
        // the loop stops at the first mismatch either way.
        for (int i = 0; i < count; ++i) {
            const T a = (this->*at)(i);
            const T b = (accessible(right).*at)(i);
            if (!headerEqual || !(a == b)) {
                equal = false;
                return;
            }
        }
        // Every element matched (so the header did too), or there were none.
    });
    return equal;
}
