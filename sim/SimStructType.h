// A structure type of the simulated controller's program: its size and its
// members, each at an offset within it, of any type (another structure, an
// array of one). Names compare without regard to case, as on a controller.
#ifndef SIMSTRUCTTYPE_H
#define SIMSTRUCTTYPE_H

#include <QList>
#include <QString>

class SimStructType
{
public:
    struct Member {
        QString name;
        QString typeName;
        quint32 offset = 0; // from the structure's start
        quint32 size = 0;
        QString comment;
    };

    // The member of that name; false when there is none.
    bool member(const QString &memberName, Member *out) const;
    // Whether `typeName` is this type, or an array of it.
    bool usedBy(const QString &typeName) const;

    QString name;
    quint32 size = 0;
    QString comment;
    QList<Member> members;
};

#endif // SIMSTRUCTTYPE_H
