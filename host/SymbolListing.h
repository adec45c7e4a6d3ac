// What adsctl symbols prints: the symbols whose names match a glob, sorted
// by name without regard to case, as an aligned table or as JSON.
#ifndef SYMBOLLISTING_H
#define SYMBOLLISTING_H

#include "link/SymbolTable.h"

#include <QList>
#include <QRegularExpression>
#include <QString>

class SymbolListing
{
public:
    // A glob on the whole name, any case: * any run of characters, ? one,
    // [abc] one of them. An empty pattern matches every name.
    static QRegularExpression glob(const QString &pattern);

    static QList<SymbolTable::Symbol> select(QList<SymbolTable::Symbol> symbols, const QString &pattern);

    // A header NAME TYPE SIZE GROUP OFFSET COMMENT and one line per symbol,
    // columns aligned, group and offset in hex as the GROUP:OFFSET address
    // takes them; control characters (line breaks in a comment) as blanks.
    // Empty for no symbols.
    static QString table(const QList<SymbolTable::Symbol> &symbols);
    // A JSON array, one object a line: name, type, size, group, offset,
    // comment; the numbers as JSON numbers.
    static QString json(const QList<SymbolTable::Symbol> &symbols);
};

#endif // SYMBOLLISTING_H
