// What the driver's numbers mean, for people: the result code of a read or
// write, and the answer of ConnectDrive.
#ifndef RESULTTEXT_H
#define RESULTTEXT_H

#include <QString>

class ResultText
{
public:
    // "9: link down, nothing sent"
    static QString ofResult(int code);
    // "-3: no TCP connection"
    static QString ofConnect(int code);
};

#endif // RESULTTEXT_H
