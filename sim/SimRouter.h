// The router in front of the controller's runtimes. It knows the
// controller's own AMS NetId and the routes, the source NetIds allowed to
// talk to it, and judges each frame before any runtime sees it:
//
// - a frame from a source without a route is not answered at all (a real
//   router closes such a TCP connection);
// - a frame for another target NetId is answered with AMS error 0x7.
//
// With no NetId set any target is this controller; with no routes any
// source is allowed.
#ifndef SIMROUTER_H
#define SIMROUTER_H

#include <QByteArray>
#include <QList>
#include <QString>

class SimRouter
{
public:
    enum Verdict {
        Pass, // for a runtime to answer
        UnknownTarget, // answer with AMS error 0x7
        NoRoute, // do not answer
    };

    // Six bytes; anything else means "answer any target".
    void setNetId(const QByteArray &netId);
    // Six bytes each; other sizes are ignored. Empty: no route check.
    void setRoutes(const QList<QByteArray> &sourceNetIds);

    // A whole request frame (at least 38 bytes).
    Verdict check(const QByteArray &request) const;

    static QByteArray targetNetId(const QByteArray &request);
    static QByteArray sourceNetId(const QByteArray &request);

    // "5.12.34.56.1.1": six decimal numbers 0 to 255 joined by dots. Empty
    // when the text is anything else.
    static QByteArray netIdFromText(const QString &text);
    static QString netIdText(const QByteArray &netId);

private:
    QByteArray m_netId;
    QList<QByteArray> m_routes;
};

#endif // SIMROUTER_H
