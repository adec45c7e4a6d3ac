#include "driver/SymbolName.h"

namespace {
bool isLetter(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
           || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || c == QLatin1Char('_');
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}
} // namespace

bool SymbolName::identifierAt(const QString &text, int *at)
{
    if (*at >= text.size() || !isLetter(text.at(*at)))
        return false;
    while (*at < text.size() && (isLetter(text.at(*at)) || isDigit(text.at(*at))))
        ++*at;
    return true;
}

bool SymbolName::numberAt(const QString &text, int *at)
{
    if (*at < text.size() && text.at(*at) == QLatin1Char('-'))
        ++*at; // arrays may start below 0
    const int start = *at;
    while (*at < text.size() && isDigit(text.at(*at)))
        ++*at;
    return *at > start;
}

// [n], [n,m], [n,m,k] ...: whether the array has those dimensions and
// bounds is the controller's to judge.
bool SymbolName::indexAt(const QString &text, int *at)
{
    if (text.at(*at) != QLatin1Char('['))
        return false;
    ++*at;
    if (!numberAt(text, at))
        return false;
    while (*at < text.size() && text.at(*at) == QLatin1Char(',')) {
        ++*at;
        if (!numberAt(text, at))
            return false;
    }
    if (*at >= text.size() || text.at(*at) != QLatin1Char(']'))
        return false;
    ++*at;
    return true;
}

bool SymbolName::isSymbolPath(const QString &text)
{
    int at = 0;
    int dots = 0;
    if (text.startsWith(QLatin1Char('.'))) {
        ++at;
        ++dots;
    }
    for (;;) {
        if (!identifierAt(text, &at))
            return false;
        while (at < text.size() && text.at(at) == QLatin1Char('[')) {
            if (!indexAt(text, &at))
                return false;
        }
        if (at == text.size())
            return dots > 0;
        if (text.at(at) != QLatin1Char('.'))
            return false;
        ++at;
        ++dots;
    }
}
