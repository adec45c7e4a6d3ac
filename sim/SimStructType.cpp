#include "sim/SimStructType.h"

#include "sim/SimArrayType.h"

bool SimStructType::member(const QString &memberName, Member *out) const
{
    for (const Member &m : members) {
        if (m.name.compare(memberName, Qt::CaseInsensitive) == 0) {
            *out = m;
            return true;
        }
    }
    return false;
}

bool SimStructType::usedBy(const QString &typeName) const
{
    // Arrays of arrays too: each step takes an ARRAY prefix off the name.
    QString element = typeName;
    SimArrayType array;
    while (SimArrayType::parse(element, &array))
        element = array.elementType;
    return element.trimmed().compare(name, Qt::CaseInsensitive) == 0;
}
