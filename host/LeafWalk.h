// adsctl symbols --leaves: a symbol's leaves, found through the data type
// table. A symbol of a structure type stands for its members, each at the
// symbol's offset plus its own; an array of structures for each element's
// members, the element at its index times the structure's size; and so on
// down. Whatever is no structure (an elementary type, an array of them, a
// type the table does not list) is a leaf. Types are found by name without
// regard to ASCII case; array bounds come from a member's dimensions, or
// from the type name (ARRAY [1..3] OF ST_Axis, ARRAY [0..1,0..2] OF ST_X).
//
// Leaves are made one at a time, not kept: a leaf's name is built in one
// buffer, its other texts point into the tables. A symbol's leaves come in
// the order of its type's members, array elements by index.
#ifndef LEAFWALK_H
#define LEAFWALK_H

#include "link/DataTypeTable.h"
#include "link/SymbolTable.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>

class LeafWalk
{
public:
    enum : quint32 {
        // More than any project holds; a listing of more is refused, not made.
        MaxLeaves = 4000000u
    };
    // A leaf, its name and texts valid during the call.
    using Sink = std::function<void(const SymbolTable::Entry &leaf)>;

    // `types`: the data type table, and the offsets of its entries as
    // DataTypeTable::offsets() gave them; both outlive the walk.
    LeafWalk(const QByteArray &types, const QVector<quint32> &typeOffsets);

    // Hands each leaf of the symbol at `at` of `symbols` (an offset
    // SymbolTable::offsets() gave) to `sink`. False, with `error` naming the
    // symbol, when its types nest deeper than DataTypeTable::MaxNesting (a
    // type within itself), a leaf's offset runs past 32 bits, or the leaves
    // of every walk so far come to more than `limit`.
    bool walk(const QByteArray &symbols, quint32 at, const Sink &sink, QString *error,
              quint32 limit = MaxLeaves);
    // The leaves of every walk so far.
    quint64 leafCount() const { return m_leaves; }

private:
    struct Shape;
    int find(const SymbolTable::Text &name) const;
    bool arrayShape(const SymbolTable::Text &typeName, const DataTypeTable::Entry *member,
                    Shape *shape) const;
    bool place(const SymbolTable::Text &typeName, const DataTypeTable::Entry *member, quint32 size,
               quint64 offset, const SymbolTable::Text &comment, int depth);
    bool elements(const Shape &shape, const DataTypeTable::Entry &element, quint64 offset, int depth);
    bool members(const DataTypeTable::Entry &structure, quint64 offset, int depth);
    bool leaf(const SymbolTable::Text &typeName, quint32 size, quint64 offset,
              const SymbolTable::Text &comment);
    bool fail(const QString &why);

    const QByteArray &m_types;
    QVector<quint32> m_sorted; // the entries' offsets, by name in any case
    quint64 m_leaves = 0;
    // The walk under way.
    const Sink *m_sink = nullptr;
    QByteArray m_name;
    quint32 m_group = 0;
    quint32 m_limit = MaxLeaves;
    QString m_error;
};

#endif // LEAFWALK_H
