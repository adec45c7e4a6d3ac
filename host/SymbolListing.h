// What adsctl symbols prints: the symbols whose names match a glob, sorted
// by name without regard to case, as an aligned table, as JSON or as CSV.
// The leaves of --leaves go out the same way, from entries made one at a
// time.
//
// It works on the uploaded table's bytes and the offsets of its entries
// (SymbolTable::offsets), decoding one entry at a time, and writes line by
// line: a large table is held once, as its bytes, and never as texts.
#ifndef SYMBOLLISTING_H
#define SYMBOLLISTING_H

#include "link/SymbolTable.h"

#include <QRegularExpression>
#include <QString>
#include <QTextStream>
#include <QVector>

#include <functional>

class SymbolListing
{
public:
    // Hands each entry to be listed to the visitor, in order; called once
    // for every pass a form makes over them.
    using Visitor = std::function<void(const SymbolTable::Entry &)>;
    using Entries = std::function<void(const Visitor &)>;

    // A glob on the whole name, any case: * any run of characters, ? one,
    // [abc] one of them. An empty pattern matches every name.
    static QRegularExpression glob(const QString &pattern);

    // Keeps the entries of `table` at `entries` whose names match `pattern`,
    // sorted by name in any case; names differing only in case, then equal
    // names, keep a fixed order.
    static void select(const QByteArray &table, QVector<quint32> *entries, const QString &pattern);

    // A header NAME TYPE SIZE GROUP OFFSET COMMENT and one line per entry,
    // columns aligned, group and offset in hex as the GROUP:OFFSET address
    // takes them; control characters (line breaks in a comment) as blanks.
    // Nothing for no entries.
    static void writeTable(const QByteArray &table, const QVector<quint32> &entries, QTextStream &out);
    // A JSON array, one object a line: name, type, size, group, offset,
    // comment; the numbers as JSON numbers.
    static void writeJson(const QByteArray &table, const QVector<quint32> &entries, QTextStream &out);
    // CSV (RFC 4180): a header line name,type,size,group,offset,comment and
    // one record per entry, each ended by CR LF; a text holding a comma, a
    // quote or a line break in quotes, its quotes doubled; the numbers in
    // decimal.
    static void writeCsv(const QByteArray &table, const QVector<quint32> &entries, QTextStream &out);

    // The same forms, of the entries `entries` hands over.
    static void writeTable(const Entries &entries, QTextStream &out);
    static void writeJson(const Entries &entries, QTextStream &out);
    static void writeCsv(const Entries &entries, QTextStream &out);
    // The entries of `table` at `offsets`, as the forms take them.
    static Entries entriesOf(const QByteArray &table, const QVector<quint32> &offsets);
};

#endif // SYMBOLLISTING_H
