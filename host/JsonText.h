// Texts as JSON strings: quotes and backslashes escaped, control characters
// and lone surrogates as \uXXXX, everything else as it is (UTF-8 once
// written out).
#ifndef JSONTEXT_H
#define JSONTEXT_H

#include <QString>
#include <QStringList>

class JsonText
{
public:
    // "say \"hi\"" for say "hi".
    static QString string(const QString &text);
    // ["a","b"]
    static QString array(const QStringList &texts);
};

#endif // JSONTEXT_H
