// The walk both uploaded tables share: entries one after another, each
// checked by the table's own rule before the next is looked at. The walk
// stops at the first entry that does not hold together (naming it by number
// and byte offset), or one entry past `limit`: what came before is kept.
#ifndef ENTRYWALK_H
#define ENTRYWALK_H

#include <QByteArray>
#include <QString>
#include <QVector>

// `faultOf(at, &length)`: empty, with the entry's length, when the entry at
// `at` holds together; otherwise what is wrong with it. `minEntryBytes`
// bounds how many entries the table can hold.
template <typename FaultOf>
QVector<quint32> walkEntries(const QByteArray &bytes, QString *error, int limit, qint64 minEntryBytes,
                             FaultOf faultOf)
{
    error->clear();
    QVector<quint32> found;
    // Never more than the table can hold: the vector is not grown (and
    // copied) again and again for a large table.
    found.reserve(int(qMin<qint64>(bytes.size() / minEntryBytes + 1, qint64(limit) + 1)));
    qint64 at = 0;
    while (at < bytes.size() && found.size() <= limit) {
        qint64 length = 0;
        const QString fault = faultOf(at, &length);
        if (!fault.isEmpty()) {
            *error = QStringLiteral("entry %1 (at byte %2 of the table): %3")
                         .arg(found.size() + 1)
                         .arg(at)
                         .arg(fault);
            break;
        }
        found.append(quint32(at));
        at += length;
    }
    return found;
}

#endif // ENTRYWALK_H
