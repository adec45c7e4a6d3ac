// The simulated controller's symbol table: names (compared without regard
// to case) with their index group, offset, size, type name, data type id
// and comment, in the order they were added. A symbol moved by an online change leaves its
// old place refused.
//
// A name the table does not hold may still be an element of an array it
// holds, as on a controller: GVL.aTemps[3] of GVL.aTemps, ARRAY [0..9] OF
// REAL, 40 bytes, is the REAL 12 bytes further on. Or a member of a
// structure it holds: MAIN.stMotor.nSpeed of MAIN.stMotor, of a declared
// structure type, is the member at its offset within the structure; and so
// on, GVL.aAxes[2].stMotor.aSteps[3].
//
// The structure types are the program's data types, listed in the data
// type table of the upload.
#ifndef SIMSYMBOLS_H
#define SIMSYMBOLS_H

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include "sim/SimStructType.h"

class SimSymbols
{
public:
    // A symbol's data type id to be derived from its type name (SimDataType).
    static constexpr quint32 DeriveType = 0xFFFFFFFF;

    struct Symbol {
        Symbol() = default;
        Symbol(const QString &name, quint32 group, quint32 offset, quint32 size,
               const QString &typeName = QString(), const QString &comment = QString(),
               quint32 dataType = DeriveType)
            : name(name), group(group), offset(offset), size(size), typeName(typeName), comment(comment),
              dataType(dataType)
        {
        }
        QString name;
        quint32 group = 0;
        quint32 offset = 0;
        quint32 size = 0;
        QString typeName;
        QString comment;
        quint32 dataType = DeriveType; // an array's element carries the array's
    };

    // A second symbol of the same name replaces the first in its place.
    void add(const Symbol &symbol);
    // The symbol of that name, or the array element it names.
    bool find(const QString &name, Symbol *out) const;
    // The symbol of that name as it was added: no array element.
    bool declared(const QString &name, Symbol *out) const;
    // Every symbol, in the order they were added.
    QList<Symbol> all() const;
    // Moves a symbol; returns its old place through `old`.
    bool move(const QString &name, quint32 group, quint32 offset, Symbol *old);
    // Whether [offset, offset + length) of `group` touches a place a symbol left.
    bool retired(quint32 group, quint32 offset, quint32 length) const;

    // A second type of the same name replaces the first in its place.
    void addType(const SimStructType &type);
    bool type(const QString &name, SimStructType *out) const;
    QList<SimStructType> types() const;

    int count() const { return m_order.size(); }
    // Every symbol's entry, one after another, as the symbol upload reads them.
    QByteArray table() const;
    // Every structure type's entry with its members as sub-items, one after
    // another, as the data type upload reads them.
    QByteArray dataTypeTable() const;
    // Symbol count, table bytes, data type count, data type table bytes,
    // then two further counts, all 0: the 24 bytes before an upload.
    QByteArray uploadInfo() const;

    // The entry a lookup by name answers with.
    static QByteArray entry(const Symbol &symbol);
    // A data type table's entry: a structure with its members, or a member.
    static QByteArray typeEntry(const SimStructType &type);
    static QByteArray memberEntry(const SimStructType::Member &member);

private:
    bool find(const QString &name, Symbol *out, int nesting) const;
    bool findElement(const QString &name, Symbol *out, int nesting) const;
    bool findMember(const QString &name, Symbol *out, int nesting) const;

    QMap<QString, Symbol> m_byName; // keyed by the upper-case name
    QStringList m_order; // the keys, as added
    QList<Symbol> m_retired;
    mutable QByteArray m_table; // built on demand, dropped on every change
    QMap<QString, SimStructType> m_types; // keyed by the upper-case name
    QStringList m_typeOrder; // the keys, as added
    mutable QByteArray m_typeTable; // built on demand, dropped on every change
};

#endif // SIMSYMBOLS_H
