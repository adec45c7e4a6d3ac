// PLC strings on the wire. STRING(n) is n + 1 bytes, one a character in the
// controller's code page (Windows-1252), ended by a zero byte; WSTRING(n) is
// n + 1 UTF-16LE code units ended by a zero unit. Arrays of them lie element
// after element, each its declared width.
#ifndef STRINGCODEC_H
#define STRINGCODEC_H

#include <QByteArray>
#include <QList>
#include <QString>

class StringCodec
{
public:
    struct Layout {
        bool wide = false; // WSTRING
        int chars = 0; // n: the characters one element holds
        qint64 elements = 1; // of an array, by its bounds
        qint64 width() const { return (qint64(chars) + 1) * (wide ? 2 : 1); }
    };

    // The layout a symbol's type name declares: STRING(n), WSTRING(n), STRING
    // or WSTRING (80 characters), or an ARRAY [a..b(, c..d)] OF one of them,
    // in any case. False for any other type.
    static bool layoutOf(const QString &typeName, Layout *out);

    // `count` strings from `bytes`, each up to its first zero; elements past
    // the end read as empty strings.
    static QList<QString> decode(const Layout &layout, const char *bytes, qint64 size, int count);
    // Appends the first `count` strings of `strings`, each padded with zeros
    // to its element's width. False, with nothing appended, when one is
    // longer than n or holds a character the element cannot carry (a zero
    // would end it early, so it is one of them): never cut or replaced.
    static bool encode(const Layout &layout, const QList<QString> &strings, int count, QByteArray *out);

private:
    static bool toCodePage(QChar c, char *byte);
    static QChar fromCodePage(quint8 byte);
};

#endif // STRINGCODEC_H
