#include "bench/BenchText.h"

#include <cmath>

namespace BenchText {

QString num(double v, int decimals)
{
    return std::isfinite(v) ? QString::number(v, 'f', decimals) : QStringLiteral("-");
}

QString bytes(double bytes)
{
    if (!std::isfinite(bytes))
        return QStringLiteral("-");
    if (bytes >= 1024 * 1024)
        return QStringLiteral("%1 MiB").arg(num(bytes / (1024 * 1024)));
    if (bytes >= 1024)
        return QStringLiteral("%1 KiB").arg(num(bytes / 1024));
    return QStringLiteral("%1 B").arg(num(bytes, 0));
}

} // namespace BenchText
