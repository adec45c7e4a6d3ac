#include "link/SymbolTable.h"

#include "link/AdsLayout.h"
#include "link/WireBytes.h"

#include <cstring>

namespace {
// Windows-1252 from 0x80 to 0x9F; from 0xA0 on it is Latin-1.
const char16_t kHighHalf[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// One text of an entry: where it starts in the table and its length field.
struct Text {
    const char *what;
    qint64 at;
    qint64 length;
};

// Why the text does not hold together; empty when it does. The caller has
// checked that the text and its zero lie inside the entry.
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

// Why the entry at `at` does not hold together; empty when it does, with
// its length in `length`.
QString entryFault(const QByteArray &bytes, qint64 at, qint64 *length)
{
    using namespace WireBytes;
    const qint64 left = bytes.size() - at;
    const qint64 fixed = AdsLayout::EntryFixedSize;
    if (left < fixed)
        return QStringLiteral("only %1 bytes are left, fewer than an entry's fixed part of %2")
            .arg(left)
            .arg(fixed);
    const char *entry = bytes.constData() + at;
    *length = le32(entry + AdsLayout::EntryLength);
    if (*length < fixed)
        return QStringLiteral("its length, %1, is less than an entry's fixed part of %2")
            .arg(*length)
            .arg(fixed);
    if (*length > left)
        return QStringLiteral("its length, %1, runs past the end of the table (%2 bytes left)")
            .arg(*length)
            .arg(left);
    const qint64 nameLength = le16(entry + AdsLayout::EntryNameLength);
    const qint64 typeLength = le16(entry + AdsLayout::EntryTypeLength);
    const qint64 commentLength = le16(entry + AdsLayout::EntryCommentLength);
    if (fixed + nameLength + 1 + typeLength + 1 + commentLength + 1 > *length)
        return QStringLiteral("its name, type name and comment (%1, %2 and %3 bytes, each with a zero after "
                              "it) run past its length, %4")
            .arg(nameLength)
            .arg(typeLength)
            .arg(commentLength)
            .arg(*length);
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
    return QString();
}

SymbolTable::Symbol symbolAt(const QByteArray &bytes, qint64 at)
{
    using namespace WireBytes;
    const char *entry = bytes.constData() + at;
    const int nameLength = le16(entry + AdsLayout::EntryNameLength);
    const int typeLength = le16(entry + AdsLayout::EntryTypeLength);
    const int commentLength = le16(entry + AdsLayout::EntryCommentLength);
    const char *name = entry + AdsLayout::EntryFixedSize;
    const char *type = name + nameLength + 1;
    SymbolTable::Symbol s;
    s.name = SymbolTable::fromCodePage(name, nameLength);
    s.typeName = SymbolTable::fromCodePage(type, typeLength);
    s.comment = SymbolTable::fromCodePage(type + typeLength + 1, commentLength);
    s.size = le32(entry + AdsLayout::EntrySize);
    s.group = le32(entry + AdsLayout::EntryGroup);
    s.offset = le32(entry + AdsLayout::EntryOffset);
    return s;
}
} // namespace

QList<SymbolTable::Symbol> SymbolTable::parse(const QByteArray &bytes, QString *error)
{
    error->clear();
    QList<Symbol> symbols;
    qint64 at = 0;
    while (at < bytes.size()) {
        qint64 length = 0;
        const QString fault = entryFault(bytes, at, &length);
        if (!fault.isEmpty()) {
            *error = QStringLiteral("entry %1 (at byte %2 of the table): %3")
                         .arg(symbols.size() + 1)
                         .arg(at)
                         .arg(fault);
            break;
        }
        symbols.append(symbolAt(bytes, at));
        at += length;
    }
    return symbols;
}

QString SymbolTable::fromCodePage(const char *bytes, int size)
{
    QString text(size, Qt::Uninitialized);
    QChar *out = text.data();
    for (int i = 0; i < size; ++i) {
        const quint8 b = quint8(bytes[i]);
        out[i] = b >= 0x80 && b < 0xA0 ? QChar(kHighHalf[b - 0x80]) : QChar(b);
    }
    return text;
}
