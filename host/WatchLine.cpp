#include "host/WatchLine.h"

#include "host/JsonText.h"
#include "host/ResultText.h"
#include "host/ValueText.h"

namespace {
bool succeeded(const CLabelVariable &read)
{
    return read.resultCode == CLabelVariable::RC_Success;
}
} // namespace

quint32 WatchLine::controllerError(const CLabelVariable &read)
{
    return succeeded(read) ? 0 : quint32(read.auxNumber);
}

QString WatchLine::text(const QString &stamp, DataType type, const CLabelVariable &read)
{
    if (succeeded(read))
        return stamp + QLatin1Char(' ') + ValueText::line(type, read.value);
    QString line = stamp + QLatin1Char(' ') + ResultText::ofRead(read.resultCode, controllerError(read));
    if (!read.auxText.isEmpty())
        line += QStringLiteral(" (%1)").arg(read.auxText);
    return line;
}

QString WatchLine::json(const QString &stamp, DataType type, const CLabelVariable &read)
{
    QString line = QStringLiteral("{\"time\":") + JsonText::string(stamp) + QStringLiteral(",\"result\":")
                   + QString::number(read.resultCode);
    if (succeeded(read))
        return line + QStringLiteral(",\"values\":%1}").arg(ValueText::jsonArray(type, read.value));
    const quint32 code = controllerError(read);
    line +=
        QStringLiteral(",\"error\":%1").arg(JsonText::string(ResultText::readMeaning(read.resultCode, code)));
    if (code != 0)
        line += QStringLiteral(",\"adsError\":%1").arg(code);
    if (!read.auxText.isEmpty())
        line += QStringLiteral(",\"reason\":%1").arg(JsonText::string(read.auxText));
    return line + QLatin1Char('}');
}
