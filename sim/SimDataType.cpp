#include "sim/SimDataType.h"

#include <QRegularExpression>

namespace {
// Arrays of arrays nest no deeper on a controller.
const int kMaxNesting = 8;

struct Named {
    const char *name;
    quint32 id;
};

// The elementary types; time and date types are 32-bit counts on the wire.
const Named kElementary[] = {
    {"BOOL", SimDataType::Bit},
    {"BIT", SimDataType::Bit},
    {"SINT", SimDataType::Int8},
    {"USINT", SimDataType::UInt8},
    {"BYTE", SimDataType::UInt8},
    {"INT", SimDataType::Int16},
    {"UINT", SimDataType::UInt16},
    {"WORD", SimDataType::UInt16},
    {"DINT", SimDataType::Int32},
    {"UDINT", SimDataType::UInt32},
    {"DWORD", SimDataType::UInt32},
    {"TIME", SimDataType::UInt32},
    {"TOD", SimDataType::UInt32},
    {"TIME_OF_DAY", SimDataType::UInt32},
    {"DATE", SimDataType::UInt32},
    {"DT", SimDataType::UInt32},
    {"DATE_AND_TIME", SimDataType::UInt32},
    {"REAL", SimDataType::Real32},
    {"LREAL", SimDataType::Real64},
    {"LINT", SimDataType::Int64},
    {"ULINT", SimDataType::UInt64},
    {"LWORD", SimDataType::UInt64},
};
} // namespace

quint32 SimDataType::idOf(const QString &typeName)
{
    return idOf(typeName, 0);
}

quint32 SimDataType::idOf(const QString &typeName, int nesting)
{
    const QString name = typeName.trimmed().toUpper();
    for (const Named &type : kElementary) {
        if (name == QLatin1String(type.name))
            return type.id;
    }
    static const QRegularExpression text(QStringLiteral("^(W?)STRING\\s*(\\(\\s*[0-9]+\\s*\\))?$"));
    const QRegularExpressionMatch m = text.match(name);
    if (m.hasMatch())
        return m.capturedLength(1) > 0 ? WString : String;
    static const QRegularExpression array(QStringLiteral("^ARRAY\\s*\\[[^\\]]*\\]\\s*OF\\s+(\\S.*)$"));
    const QRegularExpressionMatch a = array.match(name);
    if (a.hasMatch() && nesting < kMaxNesting)
        return idOf(a.captured(1), nesting + 1);
    return BigType;
}
