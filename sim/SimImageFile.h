// The simulated controller's starting memory as a text file, one write per
// line: index group, index offset, then the bytes, all in hex.
//
//   # the M area from offset 0x10
//   4020 10 34 12 56
//   F030 0 ff          # outputs
//
// "#" starts a comment; blank lines are skipped; group and offset may carry
// a 0x prefix. A bit group (4021, F021, F031) takes one byte 00 or 01 per
// bit from the bit offset on, as a write to it does; any other byte there
// is refused.
//
// A symbol line names a place for lookups by name: the name, group and
// offset in hex as above, the size in bytes in decimal, then the type name
// (the rest of the line, optional) and, after "//", a comment (optional; a
// "#" still ends the line). A name is identifiers (a letter or _, then
// letters, digits, _) joined by dots, with an optional leading dot and an
// optional [n] or [n,m] index (decimal) after any identifier. Type names
// are taken as written (STRING(80), ARRAY [1..10] OF WSTRING(20)); the
// size says how many bytes the variable takes.
//
//   symbol MAIN.nCounter 4020 100 4 DINT
//   symbol GVL.aTemps 4020 200 40 ARRAY [0..9] OF REAL   // hall, in 0.1 degC
//   symbol MAIN.sName 4040 400 81 STRING(80)
//
// A port line, "port N" with N decimal, says which runtime (AMS port) the
// lines after it fill, up to the next port line; lines before any port
// line fill the first runtime.
//
//   4020 0 01          # the first runtime
//   port 852
//   4020 0 02          # the runtime on port 852
//   symbol MAIN.n 4020 0 1 BYTE
//
// A structure type is a "type NAME SIZE" line (size in bytes, decimal;
// optional "// comment"), member lines, and a line "end". A member line is
// "member NAME OFFSET SIZE TYPE [// comment]": the offset within the
// structure in hex, the size in decimal, the type name the rest of the line
// (any type: another structure, an array of one). A structure is declared
// before a member or a symbol uses it, and then their sizes must agree
// (an array of it: its element count times its size). Symbols of the type,
// or of an array of it, have members by name (MAIN.stMotor.nSpeed,
// GVL.aAxes[2].stMotor.fPos), and the data type upload lists the type.
//
//   type ST_Motor 8       // a drive
//   member nSpeed 0 2 INT // rpm
//   member fPos 4 4 REAL
//   end
//   type ST_Axis 28
//   member stMotor 0 8 ST_Motor
//   member aSteps 8 20 ARRAY [1..5] OF DINT
//   end
//   symbol MAIN.stMotor 4020 100 8 ST_Motor
//   symbol GVL.aAxes 4020 200 84 ARRAY [1..3] OF ST_Axis
#ifndef SIMIMAGEFILE_H
#define SIMIMAGEFILE_H

#include <QByteArray>
#include <QList>
#include <QString>

#include "sim/SimStructType.h"
#include "sim/SimSymbols.h"

class SimServer;

class SimImageFile
{
public:
    // A write of bytes, a symbol (isSymbol) or a structure type (isType),
    // for the runtime on `amsPort` (0: the first runtime).
    struct Entry {
        quint32 group = 0;
        quint32 offset = 0;
        QByteArray bytes;
        bool isSymbol = false;
        SimSymbols::Symbol symbol;
        bool isType = false;
        SimStructType type;
        int amsPort = 0;
    };

    // The entries of `text`; on the first bad line, none, and `error` names
    // the line ("line 3: ..."). When `amsPorts` is given, a port line must
    // name one of them.
    static QList<Entry> parse(const QByteArray &text, QString *error, const QList<int> &amsPorts = {});
    // As parse(), from a file; `error` starts with the file name.
    static QList<Entry> read(const QString &path, QString *error, const QList<int> &amsPorts = {});
    static void apply(const QList<Entry> &entries, SimServer *server);
};

#endif // SIMIMAGEFILE_H
