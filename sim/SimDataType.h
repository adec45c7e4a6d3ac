// The ADS data type id a symbol entry carries at its data-type field, as a
// controller derives it from the variable's type name: BOOL 33, INT 2,
// REAL 4, STRING(80) 30 and so on. An array carries its element's id;
// pointers, references, structures, function blocks and aliases are all
// "big types", 65.
#ifndef SIMDATATYPE_H
#define SIMDATATYPE_H

#include <QString>

class SimDataType
{
public:
    enum Id : quint32 {
        Int16 = 2,
        Int32 = 3,
        Real32 = 4,
        Real64 = 5,
        Int8 = 16,
        UInt8 = 17,
        UInt16 = 18,
        UInt32 = 19,
        Int64 = 20,
        UInt64 = 21,
        String = 30,
        WString = 31,
        Bit = 33,
        BigType = 65,
    };

    // Without regard to case or blanks around the name.
    static quint32 idOf(const QString &typeName);

private:
    static quint32 idOf(const QString &typeName, int nesting);
};

#endif // SIMDATATYPE_H
