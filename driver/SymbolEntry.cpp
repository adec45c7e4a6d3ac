#include "SymbolEntry.h"

#include "WireBytes.h"

namespace {
// entry length, group, offset, size, data type, flags (4 each), then the
// name, type name and comment lengths (2 each)
const int kFixedPart = 30;
} // namespace

QByteArray SymbolEntry::lookupData(const QString &name)
{
    QByteArray data = name.toLatin1();
    data.append('\0');
    return data;
}

bool SymbolEntry::parse(const QByteArray &bytes, SymbolEntry *out)
{
    using WireBytes::le16At;
    using WireBytes::le32At;
    if (bytes.size() < kFixedPart)
        return false;
    const qint64 nameLength = le16At(bytes, 24);
    const qint64 typeLength = le16At(bytes, 26);
    const qint64 commentLength = le16At(bytes, 28);
    const qint64 typeAt = kFixedPart + nameLength + 1;
    const qint64 end = typeAt + typeLength + 1 + commentLength + 1;
    if (end > bytes.size() || bytes.at(int(typeAt - 1)) != '\0' || bytes.at(int(typeAt + typeLength)) != '\0')
        return false;
    out->indexGroup = le32At(bytes, 4);
    out->indexOffset = le32At(bytes, 8);
    out->size = le32At(bytes, 12);
    out->typeName = QString::fromLatin1(bytes.constData() + typeAt, int(typeLength));
    return true;
}
