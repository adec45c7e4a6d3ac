// The label operators + - * / and == on labels a host could build: any type
// code (the base codes, the host's further codes 13 to 40, codes without a
// base type, negative ones), any count, and values holding lists of any
// element type and length, or no list at all.
//
// Counts are bounded to a few hundred on purpose: an element-wise operator
// appends left.count entries whatever the lists' lengths (missing elements
// read as 0), so a count of two thousand million would make it append that
// many by design, which is memory the operator is asked for, not a fault.
//
// Input layout: u8 flags (bit0 right gets left's list kind and length,
// bit1 left's count, bit2 left's type, bit3 left's result code and texts),
// then left and right, each:
//   u8 type (0xff: an i32 code follows; else % 47 - 1, i.e. -1 to 45)
//   i16 count (% 401), u8 list kind (% 16), u16 length (% 301),
//   the elements (numbers: a pick byte, below 16 a special value, else the
//   raw bytes follow), u8 result code, name (u8 length % 9), aux text (% 5)
#include "fuzz/FuzzSupport.h"

#include <QStringList>

#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

using fuzzsupport::ByteReader;

namespace {

enum class Op { Add, Sub, Mul, Div };

// The element list a type code's elements are read from, as the header
// describes the host's further codes.
int baseType(int code)
{
    if (code >= DT_None && code <= DT_String)
        return code;
    if (code == 13 || code == 14)
        return DT_Int16;
    if (code == 15 || code == 16)
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

template <typename F>
bool withBaseType(int base, F &&f)
{
    return withListType(base, f);
}

// ---------------------------------------------------------------- building labels

// The values where arithmetic goes wrong first, picked by one byte: random
// bytes alone hardly ever spell MIN next to -1, or a NaN.
template <typename T>
bool specialValue(quint8 pick, T *out)
{
    using L = std::numeric_limits<T>;
    if constexpr (std::is_floating_point_v<T>) {
        const T values[] = {T(0),           -T(0),
                            T(1),           T(-1),
                            L::infinity(),  -L::infinity(),
                            L::quiet_NaN(), L::denorm_min(),
                            L::max(),       L::lowest(),
                            L::min(),       L::epsilon(),
                            T(0.5),         T(3)};
        if (pick >= sizeof values / sizeof values[0])
            return false;
        *out = values[pick];
    } else {
        const T values[] = {T(0),
                            T(1),
                            T(-1),
                            L::min(),
                            L::max(),
                            T(L::min() + 1),
                            T(L::max() - 1),
                            T(2),
                            T(-2),
                            T(L::max() / 2 + 1),
                            T(3),
                            T(7)};
        if (pick >= sizeof values / sizeof values[0])
            return false;
        *out = values[pick];
    }
    return true;
}

// One element: a pick byte, then the raw bytes when it picks no special value.
template <typename T>
T elementFrom(ByteReader &in)
{
    if constexpr (std::is_same_v<T, bool>) {
        return (in.u8() & 1) != 0;
    } else if constexpr (std::is_same_v<T, QString>) {
        return fuzzsupport::latin1(in.shortText(6));
    } else {
        T v;
        if (specialValue(in.u8(), &v))
            return v;
        quint64 bits = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            bits |= quint64(in.u8()) << (8 * i);
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
}

template <typename T>
QVariant listFrom(ByteReader &in, int length)
{
    QList<T> list;
    for (int i = 0; i < length; ++i)
        list.append(elementFrom<T>(in));
    return QVariant::fromValue(list);
}

QVariant valueFrom(ByteReader &in, int kind, int length)
{
    switch (kind) {
    case 0: return QVariant();
    case 12: return listFrom<QString>(in, length);
    case 13: {
        QStringList list;
        for (int i = 0; i < length; ++i)
            list.append(elementFrom<QString>(in));
        return QVariant(list);
    }
    case 14: {
        QVariantList list;
        for (int i = 0; i < length; ++i)
            list.append(QVariant(elementFrom<int>(in)));
        return QVariant(list);
    }
    case 15: return QVariant(elementFrom<int>(in));
    default: {
        QVariant v;
        fuzzsupport::withElementType(
            kind, [&](auto tag) { v = listFrom<typename decltype(tag)::type>(in, length); });
        return v;
    }
    }
}

struct Shape {
    int kind = 0;
    int length = 0;
};

CLabelVariable labelFrom(ByteReader &in, Shape *shape, const Shape *mirror)
{
    CLabelVariable label;
    const quint8 typeByte = in.u8();
    label.type = DataType(typeByte == 0xff ? in.i32() : typeByte % 47 - 1);
    label.count = in.i16() % 401;
    shape->kind = in.u8() % 16;
    shape->length = in.u16() % 301;
    if (mirror)
        *shape = *mirror;
    label.value = valueFrom(in, shape->kind, shape->length);
    label.resultCode = in.u8();
    label.name = fuzzsupport::utf8(in.shortText(8));
    label.auxText = fuzzsupport::utf8(in.shortText(4));
    label.auxNumber = 77;
    return label;
}

// ---------------------------------------------------------------- expected results

template <typename T>
bool holdsExactly(const QVariant &v)
{
    return v.userType() == qMetaTypeId<QList<T>>();
}

template <typename T>
const QList<T> &listIn(const QVariant &v)
{
    return *static_cast<const QList<T> *>(v.constData());
}

// Integers wrap as two's complement of their width; x / 0 is 0 and MIN / -1 is MIN.
template <typename T>
T expectInt(Op op, T a, T b)
{
    using U = quint64;
    switch (op) {
    case Op::Add: return T(U(a) + U(b));
    case Op::Sub: return T(U(a) - U(b));
    case Op::Mul: return T(U(a) * U(b));
    case Op::Div:
        if (b == 0)
            return T(0);
        if constexpr (std::is_signed_v<T>) {
            if (b == T(-1))
                return T(U(0) - U(a));
        }
        return T(a / b);
    }
    return T(0);
}

// Plain IEEE 754 arithmetic, division by zero included.
template <typename T>
__attribute__((no_sanitize("float-divide-by-zero"))) T expectFloat(Op op, T a, T b)
{
    static_assert(std::numeric_limits<T>::is_iec559, "IEEE 754 floats");
    switch (op) {
    case Op::Add: return a + b;
    case Op::Sub: return a - b;
    case Op::Mul: return a * b;
    case Op::Div: return a / b;
    }
    return T(0);
}

bool expectBool(Op op, bool a, bool b)
{
    switch (op) {
    case Op::Add: return a || b;
    case Op::Sub: return a != b;
    case Op::Mul:
    case Op::Div: return a && b;
    }
    return false;
}

template <typename T>
bool sameElement(const T &got, const T &want)
{
    if constexpr (std::is_floating_point_v<T>) {
        if (std::isnan(got) || std::isnan(want))
            return std::isnan(got) && std::isnan(want);
        return std::memcmp(&got, &want, sizeof got) == 0; // -0 and +0 differ
    } else {
        return got == want;
    }
}

template <typename T>
T expectElement(Op op, const T &a, const T &b)
{
    if constexpr (std::is_same_v<T, QString>)
        return a + b;
    else if constexpr (std::is_same_v<T, bool>)
        return expectBool(op, a, b);
    else if constexpr (std::is_floating_point_v<T>)
        return expectFloat(op, a, b);
    else
        return expectInt(op, a, b);
}

bool isDefault(const CLabelVariable &l)
{
    return l.resultCode == CLabelVariable::RC_NotDone && l.type == DT_None && !l.value.isValid()
           && l.count == 0 && l.name.isEmpty() && l.auxText.isEmpty() && !l.timeStamp.isValid();
}

bool validAccessStatus(qint32 s)
{
    return s == CLabelVariable::AS_Read || s == CLabelVariable::AS_NotAccessed
           || s == CLabelVariable::AS_OutOfRange || s == CLabelVariable::AS_WrongListType;
}

// What an operator may change on its operands: the access status only.
struct Snapshot {
    explicit Snapshot(const CLabelVariable &l)
        : resultCode(l.resultCode), name(l.name), count(l.count), type(l.type), auxText(l.auxText),
          auxNumber(l.auxNumber), valueType(l.value.userType())
    {
    }
    bool matches(const CLabelVariable &l) const
    {
        return resultCode == l.resultCode && name == l.name && count == l.count && type == l.type
               && auxText == l.auxText && auxNumber == l.auxNumber && valueType == l.value.userType()
               && validAccessStatus(l.accessStatus);
    }
    qint32 resultCode;
    QString name;
    qint32 count;
    DataType type;
    QString auxText;
    qint32 auxNumber;
    int valueType;
};

template <typename T>
void checkElements(Op op, const CLabelVariable &left, const CLabelVariable &right,
                   const CLabelVariable &result)
{
    FUZZ_CHECK(holdsExactly<T>(result.value));
    const int got = listIn<T>(result.value).size();
    const int n = qMax(0, left.count);
    FUZZ_CHECK(got == 0 || got == n);
    if (!holdsExactly<T>(left.value) || !holdsExactly<T>(right.value))
        return;
    const QList<T> &a = listIn<T>(left.value);
    const QList<T> &b = listIn<T>(right.value);
    // Lists of different lengths do not pair up; equal ones always do.
    FUZZ_CHECK(got == (a.size() == b.size() ? n : 0));
    const QList<T> &r = listIn<T>(result.value);
    for (int i = 0; i < got; ++i) {
        const T x = i < a.size() ? a.at(i) : T();
        const T y = i < b.size() ? b.at(i) : T();
        FUZZ_CHECK(sameElement(r.at(i), expectElement(op, x, y)));
    }
}

void checkArithmetic(Op op, CLabelVariable &left, const CLabelVariable &right)
{
    const Snapshot leftBefore(left);
    const Snapshot rightBefore(right);
    CLabelVariable result;
    switch (op) {
    case Op::Add: result = left + right; break;
    case Op::Sub: result = left - right; break;
    case Op::Mul: result = left * right; break;
    case Op::Div: result = left / right; break;
    }
    FUZZ_CHECK(leftBefore.matches(left));
    FUZZ_CHECK(rightBefore.matches(right));

    const int base = baseType(left.type);
    const bool handled = base != DT_None && (base != DT_String || op == Op::Add);
    if (!handled) {
        FUZZ_CHECK(isDefault(result));
        return;
    }
    // The result describes the right operand, with the left's element type.
    FUZZ_CHECK(result.resultCode == right.resultCode && result.name == right.name
               && result.count == right.count && result.type == right.type
               && result.auxText == right.auxText);
    FUZZ_CHECK(result.timeStamp.isValid());
    withBaseType(base,
                 [&](auto tag) { checkElements<typename decltype(tag)::type>(op, left, right, result); });
}

// A label equals a copy of itself unless a NaN among its first `count`
// elements makes one element unequal to itself.
bool hasNaNInReach(const CLabelVariable &l)
{
    const int base = baseType(l.type);
    auto scan = [&](auto tag) {
        using T = typename decltype(tag)::type;
        if (!holdsExactly<T>(l.value))
            return false;
        const QList<T> &list = listIn<T>(l.value);
        for (int i = 0; i < qMin(l.count, list.size()); ++i) {
            if (std::isnan(list.at(i)))
                return true;
        }
        return false;
    };
    if (base == DT_Float)
        return scan(fuzzsupport::Tag<float>{});
    if (base == DT_Double)
        return scan(fuzzsupport::Tag<double>{});
    return false;
}

void checkEquality(CLabelVariable &left, CLabelVariable &right)
{
    const Snapshot leftBefore(left);
    const Snapshot rightBefore(right);
    const bool equal = left == right;
    FUZZ_CHECK(leftBefore.matches(left));
    FUZZ_CHECK(rightBefore.matches(right));
    if (equal)
        FUZZ_CHECK(left.resultCode == right.resultCode && left.name == right.name && left.count == right.count
                   && left.type == right.type && left.auxText == right.auxText);

    CLabelVariable copy(left);
    FUZZ_CHECK((left == copy) == !hasNaNInReach(left));
}

// Assignment takes the outcome but keeps the target's access status and
// aux number.
void checkAssignment(const CLabelVariable &from)
{
    CLabelVariable to;
    to.accessStatus = CLabelVariable::AS_OutOfRange;
    to.auxNumber = -3;
    to = from;
    FUZZ_CHECK(to.accessStatus == CLabelVariable::AS_OutOfRange && to.auxNumber == -3);
    FUZZ_CHECK(to.resultCode == from.resultCode && to.name == from.name && to.count == from.count
               && to.type == from.type && to.auxText == from.auxText
               && to.value.userType() == from.value.userType());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ByteReader in(data, size);
    const quint8 flags = in.u8();
    Shape leftShape;
    Shape rightShape;
    CLabelVariable left = labelFrom(in, &leftShape, nullptr);
    CLabelVariable right = labelFrom(in, &rightShape, (flags & 0x01) ? &leftShape : nullptr);
    if (flags & 0x02)
        right.count = left.count;
    if (flags & 0x04)
        right.type = left.type;
    if (flags & 0x08) {
        right.resultCode = left.resultCode;
        right.name = left.name;
        right.auxText = left.auxText;
    }

    for (Op op : {Op::Add, Op::Sub, Op::Mul, Op::Div}) {
        checkArithmetic(op, left, right);
        checkArithmetic(op, right, left);
    }
    checkEquality(left, right);
    checkEquality(right, left);
    checkAssignment(left);
    return 0;
}
