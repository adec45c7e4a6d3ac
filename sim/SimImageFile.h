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
#ifndef SIMIMAGEFILE_H
#define SIMIMAGEFILE_H

#include <QByteArray>
#include <QList>
#include <QString>

class SimServer;

class SimImageFile
{
public:
    struct Entry {
        quint32 group = 0;
        quint32 offset = 0;
        QByteArray bytes;
    };

    // The entries of `text`; on the first bad line, none, and `error` names
    // the line ("line 3: ...").
    static QList<Entry> parse(const QByteArray &text, QString *error);
    // As parse(), from a file; `error` starts with the file name.
    static QList<Entry> read(const QString &path, QString *error);
    static void apply(const QList<Entry> &entries, SimServer *server);
};

#endif // SIMIMAGEFILE_H
