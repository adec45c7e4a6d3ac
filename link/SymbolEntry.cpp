#include "link/SymbolEntry.h"

#include "link/AdsLayout.h"
#include "link/WireBytes.h"

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
    if (bytes.size() < AdsLayout::EntryFixedSize)
        return false;
    const qint64 nameLength = le16At(bytes, AdsLayout::EntryNameLength);
    const qint64 typeLength = le16At(bytes, AdsLayout::EntryTypeLength);
    const qint64 commentLength = le16At(bytes, AdsLayout::EntryCommentLength);
    const qint64 typeAt = AdsLayout::EntryFixedSize + nameLength + 1;
    const qint64 end = typeAt + typeLength + 1 + commentLength + 1;
    if (end > bytes.size() || bytes.at(int(typeAt - 1)) != '\0' || bytes.at(int(typeAt + typeLength)) != '\0')
        return false;
    out->indexGroup = le32At(bytes, AdsLayout::EntryGroup);
    out->indexOffset = le32At(bytes, AdsLayout::EntryOffset);
    out->size = le32At(bytes, AdsLayout::EntrySize);
    out->dataType = le32At(bytes, AdsLayout::EntryDataType);
    out->typeName = QString::fromLatin1(bytes.constData() + typeAt, int(typeLength));
    return true;
}
