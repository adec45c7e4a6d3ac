// The simulated controller's symbol table: names (compared without regard
// to case) with their index group, offset, size and type name. A symbol
// moved by an online change leaves its old place refused.
#ifndef SIMSYMBOLS_H
#define SIMSYMBOLS_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

class SimSymbols
{
public:
    struct Symbol {
        QString name;
        quint32 group = 0;
        quint32 offset = 0;
        quint32 size = 0;
        QString typeName;
    };

    void add(const Symbol &symbol);
    bool find(const QString &name, Symbol *out) const;
    // Moves a symbol; returns its old place through `old`.
    bool move(const QString &name, quint32 group, quint32 offset, Symbol *old);
    // Whether [offset, offset + length) of `group` touches a place a symbol left.
    bool retired(quint32 group, quint32 offset, quint32 length) const;

    // The entry a lookup by name answers with.
    static QByteArray entry(const Symbol &symbol);

private:
    QMap<QString, Symbol> m_byName; // keyed by the upper-case name
    QList<Symbol> m_retired;
};

#endif // SIMSYMBOLS_H
