#include "driver/StringCodec.h"

#include "driver/ArrayBounds.h"

#include <QRegularExpression>

namespace {
// Windows-1252 from 0x80 to 0x9F; the five bytes it leaves undefined stand
// for the control characters of the same number, so they come back as sent.
const char16_t kHighHalf[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// A declared string without a length holds 80 characters.
const int kDefaultChars = 80;

const QRegularExpression &typePattern()
{
    static const QRegularExpression pattern(
        QStringLiteral(
            "^\\s*(?:ARRAY\\s*\\[([^\\]]*)\\]\\s*OF\\s+)?(W?)STRING\\s*(?:\\(\\s*(\\d{1,7})\\s*\\))?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern;
}

} // namespace

bool StringCodec::layoutOf(const QString &typeName, Layout *out)
{
    const QRegularExpressionMatch m = typePattern().match(typeName);
    if (!m.hasMatch())
        return false;
    Layout layout;
    layout.wide = !m.captured(2).isEmpty();
    layout.chars = m.captured(3).isEmpty() ? kDefaultChars : m.captured(3).toInt();
    if (layout.chars < 1)
        return false;
    if (m.capturedStart(1) >= 0) {
        layout.elements = ArrayBounds::countOf(m.captured(1));
        if (layout.elements < 1)
            return false;
    }
    *out = layout;
    return true;
}

QChar StringCodec::fromCodePage(quint8 byte)
{
    if (byte >= 0x80 && byte < 0xA0)
        return QChar(ushort(kHighHalf[byte - 0x80]));
    return QChar(ushort(byte));
}

bool StringCodec::toCodePage(QChar c, char *byte)
{
    const ushort u = c.unicode();
    if (u == 0)
        return false;
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
        *byte = char(u);
        return true;
    }
    for (int i = 0; i < 32; ++i) {
        if (kHighHalf[i] == u) {
            *byte = char(0x80 + i);
            return true;
        }
    }
    return false;
}

QList<QString> StringCodec::decode(const Layout &layout, const char *bytes, qint64 size, int count)
{
    QList<QString> strings;
    strings.reserve(qMax(0, count));
    const qint64 width = layout.width();
    for (int e = 0; e < count; ++e) {
        const qint64 from = qint64(e) * width;
        const qint64 available = qBound<qint64>(0, size - from, width);
        const char *p = bytes + from;
        QString s;
        if (layout.wide) {
            qint64 units = 0;
            while (units < available / 2 && (p[2 * units] != 0 || p[2 * units + 1] != 0))
                ++units;
            s.resize(int(units));
            for (qint64 i = 0; i < units; ++i)
                s[int(i)] = QChar(ushort(quint8(p[2 * i]) | quint8(p[2 * i + 1]) << 8));
        } else {
            qint64 length = 0;
            while (length < available && p[length] != 0)
                ++length;
            s.resize(int(length));
            for (qint64 i = 0; i < length; ++i)
                s[int(i)] = fromCodePage(quint8(p[i]));
        }
        strings.append(s);
    }
    return strings;
}

bool StringCodec::encode(const Layout &layout, const QList<QString> &strings, int count, QByteArray *out)
{
    if (count > strings.size())
        return false;
    const qint64 width = layout.width();
    QByteArray bytes(int(width * count), '\0');
    for (int e = 0; e < count; ++e) {
        const QString &s = strings.at(e);
        if (s.size() > layout.chars)
            return false;
        char *p = bytes.data() + qint64(e) * width;
        for (const QChar c : s) {
            if (layout.wide) {
                if (c.unicode() == 0)
                    return false;
                *p++ = char(c.unicode() & 0xff);
                *p++ = char(c.unicode() >> 8);
            } else if (!toCodePage(c, p++)) {
                return false;
            }
        }
    }
    out->append(bytes);
    return true;
}
