// What a declared type says of its elements: "ARRAY [0..9] OF REAL" holds
// 10 REALs, "ARRAY [1..3, 1..2] OF T_MaxString" 6 elements of T_MaxString,
// any other type name one element of itself.
#ifndef ARRAYBOUNDS_H
#define ARRAYBOUNDS_H

#include <QString>

class ArrayBounds
{
public:
    // The element count and, through `elementType`, the element's type name;
    // 0 when the bounds do not read (or exceed 2^40 elements).
    static qint64 elementsOf(const QString &typeName, QString *elementType = nullptr);
    // The count of bounds alone: "0..9" or "1..3, 1..2"; 0 when they do not read.
    static qint64 countOf(const QString &bounds);
};

#endif // ARRAYBOUNDS_H
