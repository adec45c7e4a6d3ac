// What the driver's numbers mean, for people: the result code of a read or
// write, the answer of ConnectDrive and that of SetConnectPar.
#ifndef RESULTTEXT_H
#define RESULTTEXT_H

#include <QString>

class ResultText
{
public:
    // "9: link down, nothing sent"
    static QString ofResult(int code);
    // A read's result with the controller's own error it carries (the
    // label's auxNumber): "7: the controller reported ADS error 0x710:
    // symbol not found"; 0 or any other code as ofResult.
    static QString ofRead(int code, quint32 controllerError);
    // ofRead without the code in front: "the controller reported ADS error
    // 0x710: symbol not found", "link down, nothing sent".
    static QString readMeaning(int code, quint32 controllerError);
    // "-3: no TCP connection"; a -1 for an Ethernet text whose host is a
    // name says that names are not looked up.
    static QString ofConnect(int code, const QString &connectionText = QString());
    // Why SetConnectPar answered `answer` to `text` instead of a port in force.
    static QString ofConnectPar(int answer, const QString &text);
    // "5 RUN", "6 STOP", "15 CONFIG" ... by the ADS state's usual names.
    static QString ofAdsState(int state);
};

#endif // RESULTTEXT_H
