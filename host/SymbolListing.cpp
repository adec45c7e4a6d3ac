#include "host/SymbolListing.h"

#include "host/JsonText.h"

#include <algorithm>

namespace {
// One line whatever the text holds.
QString oneLine(QString text)
{
    for (QChar &c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            c = QLatin1Char(' ');
    }
    return text;
}

QString hex(quint32 v)
{
    return QString::number(v, 16).toUpper();
}
} // namespace

QRegularExpression SymbolListing::glob(const QString &pattern)
{
    return QRegularExpression(
        QRegularExpression::anchoredPattern(QRegularExpression::wildcardToRegularExpression(pattern)),
        QRegularExpression::CaseInsensitiveOption);
}

QList<SymbolTable::Symbol> SymbolListing::select(QList<SymbolTable::Symbol> symbols, const QString &pattern)
{
    if (!pattern.isEmpty()) {
        const QRegularExpression match = glob(pattern);
        symbols.erase(std::remove_if(
                          symbols.begin(), symbols.end(),
                          [&match](const SymbolTable::Symbol &s) { return !match.match(s.name).hasMatch(); }),
                      symbols.end());
    }
    // Names differing only in case keep a fixed order too.
    std::sort(symbols.begin(), symbols.end(), [](const SymbolTable::Symbol &a, const SymbolTable::Symbol &b) {
        const int byCase = a.name.compare(b.name, Qt::CaseInsensitive);
        return byCase != 0 ? byCase < 0 : a.name < b.name;
    });
    return symbols;
}

QString SymbolListing::table(const QList<SymbolTable::Symbol> &symbols)
{
    if (symbols.isEmpty())
        return QString();
    QList<QStringList> rows;
    rows.reserve(symbols.size() + 1);
    rows.append({QStringLiteral("NAME"), QStringLiteral("TYPE"), QStringLiteral("SIZE"),
                 QStringLiteral("GROUP"), QStringLiteral("OFFSET"), QStringLiteral("COMMENT")});
    for (const SymbolTable::Symbol &s : symbols)
        rows.append({oneLine(s.name), oneLine(s.typeName), QString::number(s.size), hex(s.group),
                     hex(s.offset), oneLine(s.comment)});
    const int columns = rows.first().size();
    QVector<int> widths(columns - 1, 0);
    for (const QStringList &row : qAsConst(rows)) {
        for (int c = 0; c < columns - 1; ++c)
            widths[c] = qMax(widths[c], row.at(c).size());
    }
    QString out;
    for (const QStringList &row : qAsConst(rows)) {
        QString line;
        for (int c = 0; c < columns - 1; ++c)
            line += row.at(c).leftJustified(widths[c]) + QLatin1String("  ");
        line += row.last();
        // No blanks at the end of a line without a comment.
        int end = line.size();
        while (end > 0 && line.at(end - 1) == QLatin1Char(' '))
            --end;
        line.truncate(end);
        out += line + QLatin1Char('\n');
    }
    return out;
}

QString SymbolListing::json(const QList<SymbolTable::Symbol> &symbols)
{
    QString out(QLatin1Char('['));
    for (int i = 0; i < symbols.size(); ++i) {
        const SymbolTable::Symbol &s = symbols.at(i);
        out += i == 0 ? QLatin1String("\n") : QLatin1String(",\n");
        // Concatenated, not arg(): a text holding "%1" must stay as it is.
        out += QLatin1String("{\"name\":") + JsonText::string(s.name) + QLatin1String(",\"type\":")
               + JsonText::string(s.typeName) + QLatin1String(",\"size\":") + QString::number(s.size)
               + QLatin1String(",\"group\":") + QString::number(s.group) + QLatin1String(",\"offset\":")
               + QString::number(s.offset) + QLatin1String(",\"comment\":") + JsonText::string(s.comment)
               + QLatin1Char('}');
    }
    out += symbols.isEmpty() ? QLatin1String("]\n") : QLatin1String("\n]\n");
    return out;
}
