// How the link reaches a controller and how long it waits. What the host
// does not set keeps the values existing installations rely on.
#ifndef LINKSETTINGS_H
#define LINKSETTINGS_H

#include <QByteArray>

struct LinkSettings {
    enum : int {
        DefaultConnectMs = 30000,
        DefaultReplyMs = 2050,
        DefaultReconnectMs = 1000,
        DefaultReconnectMaxMs = 5000,
        DefaultDownAfter = 3,
        DefaultNotifyMax = 500
    };

    QByteArray targetNetId; // empty: the IP address of the connection text, then .1.1
    QByteArray sourceNetId; // empty: 192.168.10.100.1.1
    bool sourceAuto = false; // the local IPv4 address of the TCP connection, then .1.1
    quint16 sourcePort = 32957;
    int connectMs = DefaultConnectMs; // the wait for a TCP connection
    int replyMs = DefaultReplyMs; // the whole wait for one reply
    int reconnectMs = DefaultReconnectMs; // the first retry after a loss; 0: none
    int reconnectMaxMs = DefaultReconnectMaxMs; // the retries' delay doubles up to this
    int downAfter = DefaultDownAfter; // requests unanswered in a row that make the link down; 0: never
    int eventLoopMs = 0; // 0: a wait blocks; above: it blocks at most this long, then runs the event loop
    int notifyMs = 0; // 0: every read asks; above: reads answered from change notifications at this rate
    int notifyMax = DefaultNotifyMax; // live subscriptions at most
    bool typeCheck = true; // by name: the host's type must suit the symbol's declared type

    bool operator==(const LinkSettings &o) const
    {
        return targetNetId == o.targetNetId && sourceNetId == o.sourceNetId && sourceAuto == o.sourceAuto
               && sourcePort == o.sourcePort && connectMs == o.connectMs && replyMs == o.replyMs
               && reconnectMs == o.reconnectMs && reconnectMaxMs == o.reconnectMaxMs
               && downAfter == o.downAfter && eventLoopMs == o.eventLoopMs && notifyMs == o.notifyMs
               && notifyMax == o.notifyMax && typeCheck == o.typeCheck;
    }
};

#endif // LINKSETTINGS_H
