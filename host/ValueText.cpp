#include "host/ValueText.h"

#include "host/JsonText.h"
#include "value/ElementType.h"

#include <QRegularExpression>

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <type_traits>

namespace {
const char *const kNames[] = {nullptr,  "bool",  "int8",  "uint8",  "int16",  "uint16", "int32",
                              "uint32", "float", "int64", "uint64", "double", "string"};

// ---------------------------------------------------------------- parsing

// Decimal, or hex after 0x, with an optional sign; the magnitude only.
bool wholeNumber(const QString &text, bool *negative, quint64 *magnitude)
{
    static const QRegularExpression form(QStringLiteral("^([+-]?)(0[xX][0-9A-Fa-f]+|[0-9]+)$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return false;
    const QString digits = m.captured(2);
    const bool hex =
        digits.size() > 1 && (digits.at(1) == QLatin1Char('x') || digits.at(1) == QLatin1Char('X'));
    bool ok = false;
    *magnitude = hex ? digits.mid(2).toULongLong(&ok, 16) : digits.toULongLong(&ok, 10);
    *negative = m.captured(1) == QLatin1String("-");
    return ok; // false past 64 bits
}

template <typename T>
QString rangeText()
{
    using L = std::numeric_limits<T>;
    if constexpr (std::is_signed_v<T>)
        return QStringLiteral("%1 to %2").arg(qint64(L::min())).arg(qint64(L::max()));
    else
        return QStringLiteral("0 to %1").arg(quint64(L::max()));
}

template <typename T>
bool parseOne(const QString &text, T *out, QString *why)
{
    if constexpr (std::is_same_v<T, bool>) {
        const QString t = text.toLower();
        if (t == QLatin1String("true") || t == QLatin1String("1"))
            *out = true;
        else if (t == QLatin1String("false") || t == QLatin1String("0"))
            *out = false;
        else {
            *why = QStringLiteral("is not a bool (true, false, 1 or 0)");
            return false;
        }
        return true;
    } else if constexpr (std::is_floating_point_v<T>) {
        // from_chars rounds correctly and ignores the locale: the largest
        // float prints as 3.4028235e+38 and must read back, where Qt's
        // toFloat() calls that an overflow.
        const QByteArray latin = text.toLatin1();
        const char *begin = latin.constData();
        const char *end = begin + latin.size();
        if (begin != end && *begin == '+' && begin + 1 != end && begin[1] != '-')
            ++begin;
        T v{};
        const std::from_chars_result r = std::from_chars(begin, end, v);
        if (r.ec == std::errc::result_out_of_range && r.ptr == end) {
            *why =
                QStringLiteral("does not fit a %1").arg(QLatin1String(sizeof(T) == 4 ? "float" : "double"));
            return false;
        }
        if (r.ec != std::errc() || r.ptr != end || latin.isEmpty()) {
            *why = QStringLiteral("is not a number");
            return false;
        }
        *out = v;
        return true;
    } else {
        bool negative = false;
        quint64 magnitude = 0;
        if (!wholeNumber(text, &negative, &magnitude)) {
            *why = QStringLiteral("is not a whole number (%1)").arg(rangeText<T>());
            return false;
        }
        using L = std::numeric_limits<T>;
        bool fits;
        if (!negative)
            fits = magnitude <= quint64(L::max());
        else if constexpr (std::is_signed_v<T>)
            fits = magnitude <= quint64(-(qint64(L::min()) + 1)) + 1;
        else
            fits = magnitude == 0;
        if (!fits) {
            *why = QStringLiteral("does not fit (%1)").arg(rangeText<T>());
            return false;
        }
        if (negative && magnitude != 0) {
            // -(m - 1) - 1 stays inside qint64 for m up to 2^63.
            *out = T(-qint64(magnitude - 1) - 1);
        } else {
            *out = T(magnitude);
        }
        return true;
    }
}

template <typename T>
QVariant parseList(DataType type, const QStringList &texts, QString *error)
{
    QList<T> list;
    for (const QString &text : texts) {
        T v{};
        QString why;
        if (!parseOne<T>(text, &v, &why)) {
            *error = QStringLiteral("value '%1' for %2 %3").arg(text, ValueText::typeName(type), why);
            return QVariant();
        }
        list.append(v);
    }
    return QVariant::fromValue(list);
}

// ---------------------------------------------------------------- printing

template <typename T>
QString textOf(T v)
{
    if constexpr (std::is_same_v<T, bool>) {
        return v ? QStringLiteral("true") : QStringLiteral("false");
    } else if constexpr (std::is_floating_point_v<T>) {
        if (std::isnan(v))
            return QStringLiteral("nan");
        if (std::isinf(v))
            return v < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
        // Shortest text that reads back to the same float or double.
        char buffer[64];
        const std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, v);
        return QString::fromLatin1(buffer, int(r.ptr - buffer));
    } else if constexpr (std::is_signed_v<T>) {
        return QString::number(qint64(v)); // int8 as a number, not a character
    } else {
        return QString::number(quint64(v));
    }
}

template <typename T>
QStringList textsOf(const QVariant &value, bool json)
{
    QStringList out;
    if (value.userType() != qMetaTypeId<QList<T>>())
        return out;
    const QList<T> list = value.value<QList<T>>();
    for (const T &v : list) {
        if constexpr (std::is_floating_point_v<T>) {
            if (json && !std::isfinite(v)) {
                out << QStringLiteral("null");
                continue;
            }
        }
        out << textOf(v);
    }
    return out;
}

QStringList strings(const QVariant &value)
{
    if (value.userType() != qMetaTypeId<QList<QString>>())
        return QStringList();
    return QStringList(value.value<QList<QString>>());
}

QStringList texts(DataType type, const QVariant &value, bool json)
{
    QStringList out;
    if (type == DT_String) {
        out = strings(value);
        if (json) {
            for (QString &s : out)
                s = JsonText::string(s);
        }
        return out;
    }
    withElementType(type, [&](auto tag) { out = textsOf<typename decltype(tag)::type>(value, json); });
    return out;
}
} // namespace

DataType ValueText::typeFromName(const QString &name)
{
    const QString lower = name.toLower();
    for (int t = DT_Bool; t <= DT_String; ++t) {
        if (lower == QLatin1String(kNames[t]))
            return DataType(t);
    }
    return DT_None;
}

QString ValueText::typeName(DataType type)
{
    return type >= DT_Bool && type <= DT_String ? QString::fromLatin1(kNames[type]) : QString();
}

QStringList ValueText::typeNames()
{
    QStringList names;
    for (int t = DT_Bool; t <= DT_String; ++t)
        names << QString::fromLatin1(kNames[t]);
    return names;
}

QVariant ValueText::parse(DataType type, const QStringList &texts, QString *error)
{
    if (type == DT_String) // any text: whether the PLC string can hold it is the driver's to say
        return QVariant::fromValue(QList<QString>(texts));
    QVariant list;
    if (!withElementType(
            type, [&](auto tag) { list = parseList<typename decltype(tag)::type>(type, texts, error); }))
        *error = QStringLiteral("no values of this type");
    return list;
}

QStringList ValueText::elements(DataType type, const QVariant &value)
{
    return texts(type, value, false);
}

QString ValueText::jsonArray(DataType type, const QVariant &value)
{
    return QLatin1Char('[') + texts(type, value, true).join(QLatin1Char(',')) + QLatin1Char(']');
}

QString ValueText::line(DataType type, const QVariant &value)
{
    return texts(type, value, type == DT_String).join(QLatin1Char(' '));
}
