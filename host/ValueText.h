// Typed values as the shell writes and reads them: type names, command-line
// texts to the element lists the driver takes, and read elements back to
// text. Floating-point values print in their shortest form that reads back
// to the same value; strings (DT_String, "string") are taken and given as
// they are.
#ifndef VALUETEXT_H
#define VALUETEXT_H

#include "value/CLabelVariable.h"

#include <QString>
#include <QStringList>
#include <QVariant>

class ValueText
{
public:
    // "int16", "INT16", ... ; DT_None for any other text.
    static DataType typeFromName(const QString &name);
    static QString typeName(DataType type);
    static QStringList typeNames();

    // The texts as the QList<T> of `type`; an invalid QVariant, and a one-line
    // `error` naming the first text that does not parse or fit, otherwise.
    static QVariant parse(DataType type, const QStringList &texts, QString *error);

    // The elements of the QList<T> of `type` in `value`, one text each;
    // empty when `value` holds no such list.
    static QStringList elements(DataType type, const QVariant &value);
    // The same as a JSON array; NaN and infinities, which JSON lacks, as null.
    static QString jsonArray(DataType type, const QVariant &value);
    // The elements on one line, joined by blanks; strings as JSON strings,
    // so that blanks and line breaks in them keep the line readable.
    static QString line(DataType type, const QVariant &value);
};

#endif // VALUETEXT_H
