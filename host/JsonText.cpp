#include "host/JsonText.h"

namespace {
void appendEscape(QString *out, ushort unit)
{
    out->append(QStringLiteral("\\u%1").arg(unit, 4, 16, QLatin1Char('0')));
}
} // namespace

QString JsonText::string(const QString &text)
{
    QString out;
    out.reserve(text.size() + 2);
    out.append(QLatin1Char('"'));
    const int size = text.size();
    for (int i = 0; i < size; ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('"') || c == QLatin1Char('\\')) {
            out.append(QLatin1Char('\\')).append(c);
        } else if (c.isHighSurrogate() && i + 1 < size && text.at(i + 1).isLowSurrogate()) {
            out.append(c).append(text.at(++i));
        } else if (c.unicode() < 0x20 || c.isSurrogate()) {
            // Half a surrogate pair has no UTF-8 form; the escape keeps it.
            appendEscape(&out, c.unicode());
        } else {
            out.append(c);
        }
    }
    out.append(QLatin1Char('"'));
    return out;
}

QString JsonText::array(const QStringList &texts)
{
    QString out(QLatin1Char('['));
    for (int i = 0; i < texts.size(); ++i) {
        if (i > 0)
            out.append(QLatin1Char(','));
        out.append(string(texts.at(i)));
    }
    out.append(QLatin1Char(']'));
    return out;
}
