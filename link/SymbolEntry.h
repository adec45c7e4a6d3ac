// Where a PLC symbol lives, as the controller describes it in answer to a
// lookup by name: index group, index offset, size in bytes and type name.
#ifndef SYMBOLENTRY_H
#define SYMBOLENTRY_H

#include <QByteArray>
#include <QString>

class SymbolEntry
{
public:
    // The lookup: index group 0xF009, offset 0, the name and a zero byte as
    // write data, up to 0xFFFF bytes of answer.
    enum : int { LookupGroup = 0xF009, LookupReadLength = 0xFFFF };
    static QByteArray lookupData(const QString &name);

    // Reads the entry the controller answered with; false when it does not
    // hold together (lengths past its end, missing terminators).
    static bool parse(const QByteArray &bytes, SymbolEntry *out);

    quint32 indexGroup = 0;
    quint32 indexOffset = 0;
    quint32 size = 0;
    quint32 dataType = 0; // the ADS data type id: 3 DINT, 4 REAL, 30 STRING, 65 a structure ...
    QString typeName;
};

#endif // SYMBOLENTRY_H
