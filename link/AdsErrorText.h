// What a controller's own error code means: the AMS router's codes
// (0x1-0x1E, 0x500-0x50D) and the ADS device and client codes (0x700-0x755),
// in the words of the ADS return code list, shortened.
#ifndef ADSERRORTEXT_H
#define ADSERRORTEXT_H

#include <QList>
#include <QString>

class AdsErrorText
{
public:
    // "symbol not found" for 0x710; empty for a code not in the table.
    static QString meaning(quint32 code);
    // "the controller reported ADS error 0x710: symbol not found", or
    // "the controller reported error 0x1234" for a code not in the table.
    static QString reported(quint32 code);
    // adsctl error: "0x705 (1797): parameter size not correct", or
    // "0x1234 (4660): unknown code".
    static QString line(quint32 code);
    // Every code the table holds, ascending.
    static QList<quint32> codes();
};

#endif // ADSERRORTEXT_H
