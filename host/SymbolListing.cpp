#include "host/SymbolListing.h"

#include "host/JsonText.h"

#include <algorithm>

namespace {
using Text = SymbolTable::Text;

// Each byte's UTF-16 unit, and that unit case-folded: names are compared as
// QString compares them, without decoding them first.
struct CodePageOrder {
    char16_t unit[256];
    char16_t folded[256];
    CodePageOrder()
    {
        for (int b = 0; b < 256; ++b) {
            unit[b] = SymbolTable::unitOf(quint8(b));
            folded[b] = QChar(unit[b]).toCaseFolded().unicode();
        }
    }
};

const CodePageOrder &codePageOrder()
{
    static const CodePageOrder order;
    return order;
}

// As QString::compare of the decoded texts, with each byte's unit from `units`.
int compareBy(const char16_t *units, const Text &a, const Text &b)
{
    const int common = qMin(a.size, b.size);
    for (int i = 0; i < common; ++i) {
        const int diff = int(units[quint8(a.bytes[i])]) - int(units[quint8(b.bytes[i])]);
        if (diff != 0)
            return diff;
    }
    return a.size - b.size;
}

// One line whatever the text holds: control characters as blanks.
void appendOneLine(QString *line, const Text &text)
{
    for (int i = 0; i < text.size; ++i) {
        const char16_t unit = SymbolTable::unitOf(quint8(text.bytes[i]));
        line->append(unit < 0x20 || unit == 0x7F ? QLatin1Char(' ') : QChar(unit));
    }
}

void appendNumber(QString *line, quint32 v, int base)
{
    char digits[10];
    int at = sizeof digits;
    do {
        digits[--at] = "0123456789ABCDEF"[v % quint32(base)];
        v /= quint32(base);
    } while (v != 0);
    line->append(QLatin1String(digits + at, int(sizeof digits) - at));
}

int digitCount(quint32 v, int base)
{
    int count = 1;
    while (v >= quint32(base)) {
        v /= quint32(base);
        ++count;
    }
    return count;
}

// The widths of the aligned columns; the comment, last, is not padded.
struct Widths {
    int name = 4;
    int type = 4;
    int size = 4;
    int group = 5;
    int offset = 6;

    void widen(const SymbolTable::Entry &e)
    {
        name = qMax(name, e.name.size);
        type = qMax(type, e.typeName.size);
        size = qMax(size, digitCount(e.size, 10));
        group = qMax(group, digitCount(e.group, 16));
        offset = qMax(offset, digitCount(e.offset, 16));
    }
};

// Blanks up to the column's width from `start`, and the two between columns.
void padColumn(QString *line, int start, int width)
{
    const int end = start + width + 2;
    while (line->size() < end)
        line->append(QLatin1Char(' '));
}

// No blanks at the end of a line without a comment.
void writeLine(QString *line, QTextStream &out)
{
    int end = line->size();
    while (end > 0 && line->at(end - 1) == QLatin1Char(' '))
        --end;
    line->truncate(end);
    out << *line << '\n';
}

// One CSV field into `field` (emptied first): as it is, or in quotes with
// its quotes doubled when it holds a comma, a quote or a line break.
void csvField(const Text &text, QString *field)
{
    field->resize(0);
    bool quote = false;
    for (int i = 0; i < text.size && !quote; ++i)
        quote =
            text.bytes[i] == ',' || text.bytes[i] == '"' || text.bytes[i] == '\r' || text.bytes[i] == '\n';
    if (quote)
        field->append(QLatin1Char('"'));
    for (int i = 0; i < text.size; ++i) {
        const char16_t unit = SymbolTable::unitOf(quint8(text.bytes[i]));
        if (unit == u'"')
            field->append(QLatin1Char('"'));
        field->append(QChar(unit));
    }
    if (quote)
        field->append(QLatin1Char('"'));
}

void writeHeader(const Widths &w, QString *line, QTextStream &out)
{
    line->resize(0);
    const QLatin1String names[] = {QLatin1String("NAME"), QLatin1String("TYPE"), QLatin1String("SIZE"),
                                   QLatin1String("GROUP"), QLatin1String("OFFSET")};
    const int widths[] = {w.name, w.type, w.size, w.group, w.offset};
    for (int c = 0; c < 5; ++c) {
        const int start = line->size();
        line->append(names[c]);
        padColumn(line, start, widths[c]);
    }
    line->append(QLatin1String("COMMENT"));
    writeLine(line, out);
}

void writeRow(const SymbolTable::Entry &e, const Widths &w, QString *line, QTextStream &out)
{
    line->resize(0);
    int start = 0;
    appendOneLine(line, e.name);
    padColumn(line, start, w.name);
    start = line->size();
    appendOneLine(line, e.typeName);
    padColumn(line, start, w.type);
    start = line->size();
    appendNumber(line, e.size, 10);
    padColumn(line, start, w.size);
    start = line->size();
    appendNumber(line, e.group, 16);
    padColumn(line, start, w.group);
    start = line->size();
    appendNumber(line, e.offset, 16);
    padColumn(line, start, w.offset);
    appendOneLine(line, e.comment);
    writeLine(line, out);
}
} // namespace

QRegularExpression SymbolListing::glob(const QString &pattern)
{
    return QRegularExpression(
        QRegularExpression::anchoredPattern(QRegularExpression::wildcardToRegularExpression(pattern)),
        QRegularExpression::CaseInsensitiveOption);
}

void SymbolListing::select(const QByteArray &table, QVector<quint32> *entries, const QString &pattern)
{
    if (!pattern.isEmpty()) {
        const QRegularExpression match = glob(pattern);
        QString name; // one buffer for every name
        const auto unmatched = [&](quint32 at) {
            SymbolTable::fromCodePage(SymbolTable::entryAt(table, at).name, &name);
            return !match.match(name).hasMatch();
        };
        entries->erase(std::remove_if(entries->begin(), entries->end(), unmatched), entries->end());
    }
    const CodePageOrder &order = codePageOrder();
    std::sort(entries->begin(), entries->end(), [&](quint32 a, quint32 b) {
        const Text nameA = SymbolTable::entryAt(table, a).name;
        const Text nameB = SymbolTable::entryAt(table, b).name;
        const int byCase = compareBy(order.folded, nameA, nameB);
        if (byCase != 0)
            return byCase < 0;
        const int exact = compareBy(order.unit, nameA, nameB);
        return exact != 0 ? exact < 0 : a < b;
    });
}

void SymbolListing::writeTable(const QByteArray &table, const QVector<quint32> &entries, QTextStream &out)
{
    writeTable(entriesOf(table, entries), out);
}

void SymbolListing::writeJson(const QByteArray &table, const QVector<quint32> &entries, QTextStream &out)
{
    writeJson(entriesOf(table, entries), out);
}

void SymbolListing::writeCsv(const QByteArray &table, const QVector<quint32> &entries, QTextStream &out)
{
    writeCsv(entriesOf(table, entries), out);
}

SymbolListing::Entries SymbolListing::entriesOf(const QByteArray &table, const QVector<quint32> &offsets)
{
    return [&table, &offsets](const Visitor &visit) {
        for (const quint32 at : offsets)
            visit(SymbolTable::entryAt(table, at));
    };
}

void SymbolListing::writeTable(const Entries &entries, QTextStream &out)
{
    // The widths first, so that each line can go out as soon as it is made.
    Widths widths;
    bool any = false;
    entries([&](const SymbolTable::Entry &e) {
        widths.widen(e);
        any = true;
    });
    if (!any)
        return;
    QString line;
    writeHeader(widths, &line, out);
    entries([&](const SymbolTable::Entry &e) { writeRow(e, widths, &line, out); });
}

void SymbolListing::writeJson(const Entries &entries, QTextStream &out)
{
    out << '[';
    bool first = true;
    QString text; // one buffer for every text
    entries([&](const SymbolTable::Entry &e) {
        out << (first ? "\n" : ",\n") << "{\"name\":";
        SymbolTable::fromCodePage(e.name, &text);
        out << JsonText::string(text) << ",\"type\":";
        SymbolTable::fromCodePage(e.typeName, &text);
        out << JsonText::string(text) << ",\"size\":" << e.size << ",\"group\":" << e.group
            << ",\"offset\":" << e.offset << ",\"comment\":";
        SymbolTable::fromCodePage(e.comment, &text);
        out << JsonText::string(text) << '}';
        first = false;
    });
    out << (first ? "]\n" : "\n]\n");
}

void SymbolListing::writeCsv(const Entries &entries, QTextStream &out)
{
    out << "name,type,size,group,offset,comment\r\n";
    QString text;
    entries([&](const SymbolTable::Entry &e) {
        csvField(e.name, &text);
        out << text << ',';
        csvField(e.typeName, &text);
        out << text << ',' << e.size << ',' << e.group << ',' << e.offset << ',';
        csvField(e.comment, &text);
        out << text << "\r\n";
    });
}
