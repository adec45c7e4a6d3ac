#include "driver/ArrayBounds.h"

#include <QRegularExpression>

qint64 ArrayBounds::elementsOf(const QString &typeName, QString *elementType)
{
    static const QRegularExpression array(QStringLiteral("^\\s*ARRAY\\s*\\[([^\\]]*)\\]\\s*OF\\s+(.*?)\\s*$"),
                                          QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = array.match(typeName);
    if (!m.hasMatch()) {
        if (elementType)
            *elementType = typeName.trimmed();
        return 1;
    }
    if (elementType)
        *elementType = m.captured(2);
    return countOf(m.captured(1));
}

qint64 ArrayBounds::countOf(const QString &bounds)
{
    static const QRegularExpression range(QStringLiteral("^\\s*(-?\\d{1,9})\\s*\\.\\.\\s*(-?\\d{1,9})\\s*$"));
    qint64 elements = 1;
    for (const QString &part : bounds.split(QLatin1Char(','))) {
        const QRegularExpressionMatch m = range.match(part);
        if (!m.hasMatch())
            return 0;
        const qint64 length = m.captured(2).toLongLong() - m.captured(1).toLongLong() + 1;
        if (length < 1 || elements > (qint64(1) << 40) / length)
            return 0;
        elements *= length;
    }
    return elements;
}
