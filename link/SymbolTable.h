// The symbol table a controller uploads: entries one after another, each
// laid out as a lookup by name answers (fixed part, then name, type name and
// comment, each ended by a zero byte), possibly with more bytes after the
// comment that newer runtimes add. Texts are in the controller's code page,
// Windows-1252.
//
// A large table is best kept as its bytes and the offsets of its entries:
// an entry is a few dozen bytes, its texts as QStrings several times that.
#ifndef SYMBOLTABLE_H
#define SYMBOLTABLE_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

#include <limits>

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

    // A text of an entry as it lies in the table, undecoded.
    struct Text {
        const char *bytes = nullptr;
        int size = 0;
    };
    // An entry read in place: the texts point into the table.
    struct Entry {
        Text name;
        Text typeName;
        Text comment;
        quint32 size = 0;
        quint32 group = 0;
        quint32 offset = 0;
    };

    enum : int {
        // The fixed part, a name of one byte and three zero bytes.
        MinEntryBytes = 34
    };

    // The byte offset of every entry of `bytes`, in their order. An entry
    // whose lengths do not hold together (past its end or the table's, a
    // text without its zero, a zero inside a text, an empty name) ends the
    // walk: the entries before it are returned and `error` names the entry
    // by number (from 1) and byte offset; `error` is empty otherwise. The
    // walk also ends, without an error, once it has found `limit` + 1
    // entries, so that a caller with a limit never holds more. Nothing past
    // the end of `bytes` is ever read.
    static QVector<quint32> offsets(const QByteArray &bytes, QString *error,
                                    int limit = std::numeric_limits<int>::max() - 1);
    // Every entry of `bytes`, decoded, as offsets() finds them.
    static QList<Symbol> parse(const QByteArray &bytes, QString *error);

    // The entry at `at`, an offset that offsets() gave for the same bytes.
    static Entry entryAt(const QByteArray &bytes, quint32 at);
    static Symbol symbolAt(const QByteArray &bytes, quint32 at);

    // Windows-1252 bytes as text; the five bytes the code page leaves
    // undefined come back as the control characters of the same number.
    static QString fromCodePage(const char *bytes, int size);
    static QString fromCodePage(const Text &text) { return fromCodePage(text.bytes, text.size); }
    // The same into `out`, whose buffer is reused when it is large enough.
    static void fromCodePage(const Text &text, QString *out);
    // The UTF-16 unit of one Windows-1252 byte.
    static char16_t unitOf(quint8 byte);
};

#endif // SYMBOLTABLE_H
