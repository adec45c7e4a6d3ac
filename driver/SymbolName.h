// Whether an address text names a PLC symbol, as MAIN.nCounter,
// GVL.aTemps[3], .bRun or Main.st.aMatrix[1,2].x do: identifiers joined by
// ".", at least one "." in all, an optional leading ".", and optional
// indexes after any identifier: decimal, possibly negative, separated by
// "," ([n], [n,m], [-1], [1,2,3]).
#ifndef SYMBOLNAME_H
#define SYMBOLNAME_H

#include <QString>

class SymbolName
{
public:
    static bool isSymbolPath(const QString &text);

private:
    static bool identifierAt(const QString &text, int *at);
    static bool indexAt(const QString &text, int *at);
    static bool numberAt(const QString &text, int *at);
};

#endif // SYMBOLNAME_H
