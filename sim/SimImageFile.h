// The simulated controller's starting memory as a text file, one write per
// line: index group, index offset, then the bytes, all in hex.
//
//   # the M area from offset 0x10
//   4020 10 34 12 56
//   F030 0 ff          # outputs
//
// "#" starts a comment; blank lines are skipped; group and offset may carry
// a 0x prefix. A bit group (4021, F021, F031) takes one byte 00 or 01 per
// bit from the bit offset on, as a write to it does.
//
// A symbol line names a place for lookups by name: the name, group and
// offset in hex as above, the size in bytes in decimal, then the type name
// (the rest of the line, optional).
//
//   symbol MAIN.nCounter 4020 100 4 DINT
//   symbol GVL.aTemps 4020 200 40 ARRAY [0..9] OF REAL
#ifndef SIMIMAGEFILE_H
#define SIMIMAGEFILE_H

#include <QByteArray>
#include <QList>
#include <QString>

#include "SimSymbols.h"

class SimServer;

class SimImageFile
{
public:
    // A write of bytes, or (isSymbol) a symbol.
    struct Entry {
        quint32 group = 0;
        quint32 offset = 0;
        QByteArray bytes;
        bool isSymbol = false;
        SimSymbols::Symbol symbol;
    };

    // The entries of `text`; on the first bad line, none, and `error` names
    // the line ("line 3: ...").
    static QList<Entry> parse(const QByteArray &text, QString *error);
    // As parse(), from a file; `error` starts with the file name.
    static QList<Entry> read(const QString &path, QString *error);
    static void apply(const QList<Entry> &entries, SimServer *server);
};

#endif // SIMIMAGEFILE_H
