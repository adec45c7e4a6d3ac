// What the link knows of each ADS command, in one table: how its request's
// data is laid out, how its reply's, and so what a reply may rightly weigh.
// Every check of a frame by its command goes through here.
#ifndef ADSCOMMAND_H
#define ADSCOMMAND_H

#include <QByteArray>
#include <QtGlobal>

struct AdsCommand {
    quint16 id;
    const char *name;
    // The request's data before any payload: index group, offset and the
    // lengths, say (a ReadWrite's write data follows these).
    int requestFields;
    // The reply's data before any payload: the result, and for replies that
    // carry data their length.
    int replyFields;
    // The reply carries data, its length at the reply's length field, up to
    // the request's length field.
    bool replyCarriesData;
    // ... exactly as much as asked for (a Read), or at most (a ReadWrite).
    bool replyExactlyAsAsked;
    bool sentByClient; // a request of ours, answered by the controller
    bool tracedAsRead; // the trace and warnings show it with the read lines

    // The command of `id`; null for one the link does not know.
    static const AdsCommand *of(quint16 id);
    static const AdsCommand *of(const QByteArray &frame);

    // The size of the largest reply `request` can rightly get.
    static qint64 expectedReplySize(const QByteArray &request);
    // Whether `reply`'s size and its own length field agree with its
    // command's layout and with what `request` asked for.
    static bool replyFits(const QByteArray &request, const QByteArray &reply);
    // Whether a frame with this command can be a reply to one of our requests.
    static bool answersOurs(quint16 id);
};

#endif // ADSCOMMAND_H
