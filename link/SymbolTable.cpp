#include "link/SymbolTable.h"

#include "link/AdsLayout.h"
#include "link/EntryTexts.h"
#include "link/EntryWalk.h"
#include "link/WireBytes.h"

namespace {
// Windows-1252 from 0x80 to 0x9F; from 0xA0 on it is Latin-1.
const char16_t kHighHalf[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

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
    const EntryTexts texts{le16(entry + AdsLayout::EntryNameLength), le16(entry + AdsLayout::EntryTypeLength),
                           le16(entry + AdsLayout::EntryCommentLength)};
    qint64 textsEnd = 0;
    return texts.fault(bytes, at, fixed, *length, &textsEnd);
}

} // namespace

QVector<quint32> SymbolTable::offsets(const QByteArray &bytes, QString *error, int limit)
{
    return walkEntries(bytes, error, limit, MinEntryBytes,
                       [&bytes](qint64 at, qint64 *length) { return entryFault(bytes, at, length); });
}

QList<SymbolTable::Symbol> SymbolTable::parse(const QByteArray &bytes, QString *error)
{
    QList<Symbol> symbols;
    for (const quint32 at : offsets(bytes, error))
        symbols.append(symbolAt(bytes, at));
    return symbols;
}

SymbolTable::Entry SymbolTable::entryAt(const QByteArray &bytes, quint32 at)
{
    using namespace WireBytes;
    const char *entry = bytes.constData() + at;
    Entry e;
    e.name = Text{entry + AdsLayout::EntryFixedSize, le16(entry + AdsLayout::EntryNameLength)};
    e.typeName = Text{e.name.bytes + e.name.size + 1, le16(entry + AdsLayout::EntryTypeLength)};
    e.comment = Text{e.typeName.bytes + e.typeName.size + 1, le16(entry + AdsLayout::EntryCommentLength)};
    e.size = le32(entry + AdsLayout::EntrySize);
    e.group = le32(entry + AdsLayout::EntryGroup);
    e.offset = le32(entry + AdsLayout::EntryOffset);
    return e;
}

SymbolTable::Symbol SymbolTable::symbolAt(const QByteArray &bytes, quint32 at)
{
    const Entry e = entryAt(bytes, at);
    Symbol s;
    s.name = fromCodePage(e.name);
    s.typeName = fromCodePage(e.typeName);
    s.comment = fromCodePage(e.comment);
    s.size = e.size;
    s.group = e.group;
    s.offset = e.offset;
    return s;
}

QString SymbolTable::fromCodePage(const char *bytes, int size)
{
    QString text;
    fromCodePage(Text{bytes, size}, &text);
    return text;
}

void SymbolTable::fromCodePage(const Text &text, QString *out)
{
    out->resize(text.size);
    QChar *to = out->data();
    for (int i = 0; i < text.size; ++i)
        to[i] = QChar(unitOf(quint8(text.bytes[i])));
}

char16_t SymbolTable::unitOf(quint8 byte)
{
    return byte >= 0x80 && byte < 0xA0 ? kHighHalf[byte - 0x80] : char16_t(byte);
}
