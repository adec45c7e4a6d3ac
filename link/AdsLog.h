// The link's lines in the Qt message log. Frame trace lines go to qDebug and
// only while the trace is on; warnings go to qWarning always.
#ifndef ADSLOG_H
#define ADSLOG_H

#include "link/AdsExchange.h"
#include "link/AdsReplyCheck.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QString>

class QThread;

class AdsLog
{
public:
    // What every line of one exchange shows about it.
    struct Context {
        QString host;
        int tcpPort = 0;
        int amsPort = 0;
        QString varName;
        qint64 byteLength = 0;
    };

    static QString readCommand(const Context &c, const QByteArray &frame);
    static QString readResponse(const Context &c, const QByteArray &reply);
    static QString writeCommand(const Context &c, const QByteArray &frame);
    static QString writeResponse(const Context &c, const QByteArray &reply);
    // Warnings show at most kWarningBytes of a frame; `size` is the whole
    // frame's length when only part of it is at hand.
    static QString emptyReply(const Context &c, const QByteArray &reply);
    static QString wrongLength(const Context &c, const QByteArray &reply, qint64 size = -1);
    static QString wrongSequence(const Context &c, const QByteArray &reply, qint64 size = -1);
    static QString errorCode(const Context &c, quint32 code, const QByteArray &reply);
    static QString linkLost(const QString &host, int tcpPort);
    static QString foreignThread(const QThread *caller, const QThread *owner);

    enum { kWarningBytes = 1024 };
    // The hex of a frame in a warning: whole up to kWarningBytes, else cut
    // there with "...(N bytes)" after it.
    static QString warningHex(const QByteArray &bytes, qint64 size = -1);

    static void trace(const QString &line);
    static void warn(const QString &line);
    static void info(const QString &line);
    // The loss of a TCP connection the host did not ask for, with the socket's error.
    static void warnLinkLost(const QString &host, int tcpPort, QAbstractSocket::SocketError error);
    // The warning a verdict calls for: none when accepted, and none for a
    // write that got no reply.
    // Each is followed by `reason`, a line in English.
    static void warnVerdict(const Context &c, const AdsReplyCheck::Result &check, const QByteArray &reply,
                            bool isRead, const QString &reason);
    // A stranger gets the sequence line, noise the length line; after
    // kSkipsShown in one exchange, one line at its end counts the rest.
    enum { kSkipsShown = 3 };
    static void warnSkipped(const Context &c, AdsExchange::Skipped kind, const QByteArray &bytes, qint64 size,
                            int *skipped);
    static void warnMoreSkipped(const Context &c, int skipped);

private:
    static QString exchangeLine(const char *pattern, const Context &c, const QString &hex);
    static QString areaLine(const char *pattern, const Context &c, const QByteArray &bytes);
};

#endif // ADSLOG_H
