// The three texts an entry of an uploaded table (symbols or data types)
// carries after its fixed part: name, type name and comment, each with a
// zero after it. Both tables check them the same way.
#ifndef ENTRYTEXTS_H
#define ENTRYTEXTS_H

#include <QByteArray>
#include <QString>

struct EntryTexts {
    qint64 nameLength = 0;
    qint64 typeLength = 0;
    qint64 commentLength = 0;

    // Why the texts of the entry at `at`, `fixed` bytes of fixed part and
    // `length` in all, do not hold together; empty when they do, with where
    // they end in `end`.
    QString fault(const QByteArray &bytes, qint64 at, qint64 fixed, qint64 length, qint64 *end) const;
};

#endif
