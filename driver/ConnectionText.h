// The connection text of a host: "address:port" for Ethernet, or
// "port name,baud,data bits,stop bits,parity" for a serial line.
#ifndef CONNECTIONTEXT_H
#define CONNECTIONTEXT_H

#include <QString>

class ConnectionText
{
public:
    enum Form { NoForm, EthernetForm, SerialForm };

    struct Ethernet {
        QString ip;
        int port = 0;
    };
    struct Serial {
        QString portName;
        int baud = 0;
        int dataBits = 0;
        int stopBits = 0;
        QString parity;
    };

    // A "," anywhere makes it serial; else ":" or ";" makes it Ethernet.
    static Form formOf(const QString &text);
    static Ethernet ethernet(const QString &text);
    // Fewer than five fields repeat the last one present; more are ignored.
    static Serial serial(const QString &text);

    // The refusals before any connect is tried.
    static bool acceptable(const Ethernet &e);
    static bool acceptable(const Serial &s);
};

#endif // CONNECTIONTEXT_H
