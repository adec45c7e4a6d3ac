#include "sim/SimArrayType.h"

#include <QRegularExpression>
#include <QStringList>

namespace {
// No controller declares more elements; checked before each product, so
// none overflows.
const qint64 kMaxElements = qint64(1) << 40;

bool parseBounds(const QString &text, SimArrayType::Bounds *out)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*(-?[0-9]{1,10})\\s*\\.\\.\\s*(-?[0-9]{1,10})\\s*$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return false;
    out->low = m.captured(1).toLongLong();
    out->high = m.captured(2).toLongLong();
    return out->low <= out->high;
}
} // namespace

bool SimArrayType::parse(const QString &typeName, SimArrayType *out)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*ARRAY\\s*\\[([^\\]]*)\\]\\s*OF\\s+(\\S.*?)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(typeName);
    if (!m.hasMatch())
        return false;
    SimArrayType type;
    type.elementType = m.captured(2);
    qint64 count = 1;
    for (const QString &part : m.captured(1).split(QLatin1Char(','))) {
        Bounds bounds;
        if (!parseBounds(part, &bounds))
            return false;
        const qint64 length = bounds.high - bounds.low + 1;
        if (length > kMaxElements / count)
            return false;
        count *= length;
        type.dimensions.append(bounds);
    }
    *out = type;
    return true;
}

qint64 SimArrayType::elementCount() const
{
    qint64 count = 1;
    for (const Bounds &b : dimensions)
        count *= b.high - b.low + 1;
    return count;
}

qint64 SimArrayType::position(const QList<qint64> &indexes) const
{
    if (indexes.size() != dimensions.size())
        return -1;
    qint64 at = 0;
    for (int i = 0; i < dimensions.size(); ++i) {
        const Bounds &b = dimensions.at(i);
        if (indexes.at(i) < b.low || indexes.at(i) > b.high)
            return -1;
        at = at * (b.high - b.low + 1) + (indexes.at(i) - b.low);
    }
    return at;
}
