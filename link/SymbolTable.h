// The symbol table a controller uploads: entries one after another, each
// laid out as a lookup by name answers (fixed part, then name, type name and
// comment, each ended by a zero byte), possibly with more bytes after the
// comment that newer runtimes add. Texts are in the controller's code page,
// Windows-1252.
#ifndef SYMBOLTABLE_H
#define SYMBOLTABLE_H

#include <QByteArray>
#include <QList>
#include <QString>

class SymbolTable
{
public:
    struct Symbol {
        QString name;
        QString typeName;
        QString comment;
        quint32 size = 0;
        quint32 group = 0;
        quint32 offset = 0;
    };

    // Every entry of `bytes`, in their order. An entry whose lengths do not
    // hold together (past its end or the table's, a text without its zero,
    // a zero inside a text, an empty name) ends the walk: the entries before
    // it are returned and `error` names the entry by number (from 1) and
    // byte offset; `error` is empty when the whole table was read. Nothing
    // past the end of `bytes` is ever read.
    static QList<Symbol> parse(const QByteArray &bytes, QString *error);

    // Windows-1252 bytes as text; the five bytes the code page leaves
    // undefined come back as the control characters of the same number.
    static QString fromCodePage(const char *bytes, int size);
};

#endif // SYMBOLTABLE_H
