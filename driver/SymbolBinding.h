// What a place or a handle learned by name belongs to: the connection it
// was learned on, the target (NetId and AMS port) and the source (NetId and
// port) of the requests. A change of any of them means another program may
// answer, so nothing learned under the old one is used under the new.
#ifndef SYMBOLBINDING_H
#define SYMBOLBINDING_H

#include <QByteArray>
#include <QHash>

struct SymbolBinding {
    quint64 connection = 0; // the link's count of lines adopted; 0: none yet
    QByteArray target;
    int amsPort = 0;
    QByteArray source;
    quint16 sourcePort = 0;

    bool operator==(const SymbolBinding &o) const
    {
        return connection == o.connection && amsPort == o.amsPort && sourcePort == o.sourcePort
               && target == o.target && source == o.source;
    }
    bool operator!=(const SymbolBinding &o) const { return !(*this == o); }
};

inline uint qHash(const SymbolBinding &b, uint seed = 0)
{
    return qHash(b.target, seed) ^ qHash(b.connection, seed) ^ uint(b.amsPort) ^ (uint(b.sourcePort) << 16);
}

#endif // SYMBOLBINDING_H
