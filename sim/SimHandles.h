// The symbol handles a controller hands out: a number for a variable's
// name, good on the line and for the sender that obtained it, on the
// runtime it was obtained from.
//
// A handle names a variable, not a place: every use looks the name up
// again, so that it follows its variable through an online change. Numbers
// are never given twice in a run, so a stale handle is never taken for a
// new one.
#ifndef SIMHANDLES_H
#define SIMHANDLES_H

#include "sim/SimSymbols.h"

#include <QByteArray>
#include <QHash>
#include <QString>

class SimHandles
{
public:
    enum AdsError : quint32 {
        NoError = 0,
        SymbolNotFound = 0x710,
        SymbolVersionInvalid = 0x711,
    };

    // Who presents a handle: the connection (the TCP socket or the serial
    // line), the runtime's AMS port, and the request's source NetId and port.
    struct Owner {
        const void *line = nullptr;
        int amsPort = 0;
        QByteArray source;
        bool operator==(const Owner &other) const
        {
            return line == other.line && amsPort == other.amsPort && source == other.source;
        }
    };

    // A new handle for `symbol`, found by `name`.
    quint32 obtain(const QString &name, const SimSymbols::Symbol &symbol, const Owner &owner);
    // The variable the handle names now: NoError and its place in `out`;
    // SymbolNotFound for a handle `owner` does not hold or whose name is
    // gone; SymbolVersionInvalid when its variable changed its size.
    quint32 resolve(quint32 handle, const Owner &owner, const SimSymbols &symbols,
                    SimSymbols::Symbol *out) const;
    quint32 release(quint32 handle, const Owner &owner);
    // A connection closed: its handles go.
    void dropLine(const void *line);
    // Every handle goes; the numbers go on from where they were.
    void clear();

    int count() const { return m_handles.size(); }
    int obtained() const { return m_obtained; }
    int released() const { return m_released; }

private:
    struct Handle {
        Owner owner;
        QString name;
        quint32 size = 0;
    };

    QHash<quint32, Handle> m_handles;
    // Neither 0 nor 1, which a client may take for "no handle".
    quint32 m_next = 0x10000000;
    int m_obtained = 0;
    int m_released = 0;
};

#endif // SIMHANDLES_H
