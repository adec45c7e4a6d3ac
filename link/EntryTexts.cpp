#include "link/EntryTexts.h"

#include <cstring>

namespace {
struct Text {
    const char *what;
    qint64 at;
    qint64 length;
};

// The caller has checked that the text and its zero lie inside the entry.
QString textFault(const QByteArray &bytes, const Text &t)
{
    const char *start = bytes.constData() + t.at;
    if (start[t.length] != '\0')
        return QStringLiteral("its %1 has no zero after its %2 bytes")
            .arg(QLatin1String(t.what))
            .arg(t.length);
    if (t.length > 0 && memchr(start, '\0', size_t(t.length)))
        return QStringLiteral("its %1 holds a zero within its %2 bytes")
            .arg(QLatin1String(t.what))
            .arg(t.length);
    return QString();
}
} // namespace

QString EntryTexts::fault(const QByteArray &bytes, qint64 at, qint64 fixed, qint64 length, qint64 *end) const
{
    if (fixed + nameLength + 1 + typeLength + 1 + commentLength + 1 > length)
        return QStringLiteral("its name, type name and comment (%1, %2 and %3 bytes, each with a zero after "
                              "it) run past its length, %4")
            .arg(nameLength)
            .arg(typeLength)
            .arg(commentLength)
            .arg(length);
    if (nameLength == 0)
        return QStringLiteral("its name is empty");
    const qint64 typeAt = at + fixed + nameLength + 1;
    const qint64 commentAt = typeAt + typeLength + 1;
    for (const Text &t : {Text{"name", at + fixed, nameLength}, Text{"type name", typeAt, typeLength},
                          Text{"comment", commentAt, commentLength}}) {
        QString fault = textFault(bytes, t);
        if (!fault.isEmpty())
            return fault;
    }
    *end = commentAt + commentLength + 1;
    return QString();
}
