// An array's shape, read from its type name as a controller's symbol table
// writes it: "ARRAY [0..9] OF REAL", "ARRAY [1..10] OF INT",
// "ARRAY [-5..5] OF STRING(80)", "ARRAY [0..2,0..3] OF INT". The element
// type is whatever follows OF, an array type too.
#ifndef SIMARRAYTYPE_H
#define SIMARRAYTYPE_H

#include <QList>
#include <QString>

class SimArrayType
{
public:
    struct Bounds {
        qint64 low = 0;
        qint64 high = 0;
    };

    // False when `typeName` is not an array type with sound bounds.
    static bool parse(const QString &typeName, SimArrayType *out);

    qint64 elementCount() const;
    // Where the element at `indexes` lies, counted in elements from the
    // first, the last index running fastest (row-major); -1 when the
    // indexes do not name an element.
    qint64 position(const QList<qint64> &indexes) const;

    QList<Bounds> dimensions;
    QString elementType;
};

#endif // SIMARRAYTYPE_H
