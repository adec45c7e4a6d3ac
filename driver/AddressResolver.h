// Address texts to the ADS index group, index offset and byte length.
//
// Area letters are searched anywhere and in either case, M before Q before I;
// a "." makes it a bit address. Byte offsets are hexadecimal, byte and bit
// numbers of bit addresses decimal. The explicit form is GROUP:OFFSET.
// The first two characters never enter the offset (MW10, MB10, MX10.3).
// Only a text this grammar refuses can name a PLC variable (MB10 stays an
// address); such a name is located on the controller.
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

    // Where an address points.
    struct Target {
        int area = AT_None; // the area found, AT_None for none
        int group = 0; // the index group a request carries
        int offset = 0; // the index offset; below 0 is refused
        bool parsed = false; // every number the area needs converted whole
        bool symbol = false; // a PLC variable by name: group and offset come from the controller
        // Whether a request can go out: an area that parsed, or a name.
        bool usable() const { return symbol || (area != AT_None && parsed); }
    };
    // The whole grammar: area, offset and group, or a name. The explicit form
    // GROUP:OFFSET names its group for writes as for reads.
    static Target resolve(const QString &address);

    static AreaType area(const QString &address);
    // The index offset. `converted` tells whether every number the area
    // needs converted as a whole; when not, the result is 0.
    static int offset(const QString &address, AreaType area, bool *converted = nullptr);
    // The index group a read of the explicit form uses: the text before the
    // first ":" read as hexadecimal.
    static int explicitGroup(const QString &address, bool *converted = nullptr);

private:
    static int hexNumber(const QStringRef &text, bool *converted);
    static int decimalNumber(const QStringRef &text, bool *converted);
};

#endif // ADDRESSRESOLVER_H
