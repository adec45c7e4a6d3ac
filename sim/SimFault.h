// How the simulated controller misbehaves when it answers one request.
#ifndef SIMFAULT_H
#define SIMFAULT_H

#include <QByteArray>
#include <QList>

#include <functional>

struct SimFault {
    int delayMs = 0; // answer this late
    QList<int> splitAt; // send the reply in pieces, cut at these offsets
    int pauseMs = 0; // between pieces
    bool otherInvokeId = false; // answer with the request's invoke id + 0x10000 + 1
    quint32 amsError = 0; // AMS error code in the header
    quint32 adsResult = 0; // ADS result in the data
    int truncateBy = 0; // drop bytes from the end, lengths adjusted to match
    int cutBy = 0; // drop bytes from the end, lengths as for the whole reply
    int padBy = 0; // add zero bytes at the end, lengths adjusted to match
    qint64 announce = -1; // force the AMS/TCP length field to this value
    bool noAnswer = false; // never answer
    int closeAfter = -1; // close the connection after this many reply bytes
    QByteArray before; // bytes sent just before the reply, unasked
    QByteArray rawReply; // send these bytes instead of the reply
    // Last: what is sent, given the request and the reply shaped so far.
    std::function<QByteArray(const QByteArray &request, const QByteArray &reply)> reshape;
};

#endif // SIMFAULT_H
