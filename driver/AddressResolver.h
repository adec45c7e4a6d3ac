// Address texts to the ADS index group, index offset and byte length.
//
// Area letters are searched anywhere and in either case, M before Q before I;
// a "." makes it a bit address. Byte offsets are hexadecimal, byte and bit
// numbers of bit addresses decimal. The explicit form is GROUP:OFFSET.
// The first two characters never enter the offset (MW10, MB10, MX10.3).
#ifndef ADDRESSRESOLVER_H
#define ADDRESSRESOLVER_H

#include <QString>

class AddressResolver
{
public:
    enum AreaType : int {
        AT_None = 0,
        AT_MByte = 0x4020,
        AT_MBit = 0x4021,
        AT_Data = 0x4040,
        AT_IByte = 0xF020,
        AT_IBit = 0xF021,
        AT_QByte = 0xF030,
        AT_QBit = 0xF031
    };

    static AreaType area(const QString &address);
    // The index offset. `converted` tells whether every number the area
    // needs converted as a whole; when not, the result is 0.
    static int offset(const QString &address, AreaType area, bool *converted = nullptr);
    // The index group a read of the explicit form uses: the text before the
    // first ":" read as hexadecimal.
    static int explicitGroup(const QString &address, bool *converted = nullptr);
    // Element width times count; 0 for a type that cannot be transferred.
    static qint64 byteLength(int type, qint64 count);
    static int elementWidth(int type);

private:
    static int hexNumber(const QString &text, bool *converted);
    static QString rest(const QString &address);
};

#endif // ADDRESSRESOLVER_H
