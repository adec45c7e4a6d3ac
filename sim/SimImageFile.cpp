#include "sim/SimImageFile.h"

#include "sim/SimImage.h"
#include "sim/SimServer.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

namespace {
bool hexWord(const QByteArray &field, quint32 *out)
{
    QByteArray digits = field;
    if (digits.startsWith("0x") || digits.startsWith("0X"))
        digits = digits.mid(2);
    // toUInt alone would also take a sign or a second prefix.
    static const QRegularExpression hexOnly(QStringLiteral("^[0-9A-Fa-f]{1,8}$"));
    // The size given: a zero byte must not end the text the pattern sees.
    if (!hexOnly.match(QString::fromLatin1(digits.constData(), digits.size())).hasMatch())
        return false;
    *out = digits.toUInt(nullptr, 16);
    return true;
}

bool hexByte(const QByteArray &field, char *out)
{
    static const QRegularExpression twoDigits(QStringLiteral("^[0-9A-Fa-f]{1,2}$"));
    if (!twoDigits.match(QString::fromLatin1(field.constData(), field.size())).hasMatch())
        return false;
    *out = char(field.toUInt(nullptr, 16));
    return true;
}

QString quoted(const QByteArray &field)
{
    return QStringLiteral("'%1'").arg(QString::fromUtf8(field));
}

// Identifiers joined by dots, each with an optional [n] or [n,m]; an
// optional leading dot. The driver looks names up in this form.
bool symbolName(const QByteArray &field)
{
    static const QRegularExpression form(
        QStringLiteral("^\\.?[A-Za-z_][A-Za-z0-9_]*(\\[[0-9]+(,[0-9]+)?\\])?"
                       "(\\.[A-Za-z_][A-Za-z0-9_]*(\\[[0-9]+(,[0-9]+)?\\])?)*$"));
    return form.match(QString::fromLatin1(field.constData(), field.size())).hasMatch();
}

QString portList(const QList<int> &ports)
{
    QStringList texts;
    for (int port : ports)
        texts << QString::number(port);
    return texts.join(QStringLiteral(", "));
}

// port N: the runtime the following lines fill.
QString portLine(const QList<QByteArray> &fields, const QList<int> &amsPorts, int *port)
{
    if (fields.size() != 2)
        return QStringLiteral("expected port N");
    static const QRegularExpression decimal(QStringLiteral("^[0-9]{1,5}$"));
    const int value = fields.at(1).toInt();
    if (!decimal.match(QString::fromLatin1(fields.at(1))).hasMatch() || value < 1 || value > 65535)
        return quoted(fields.at(1)) + QStringLiteral(" is not an AMS port (decimal, 1 to 65535)");
    if (!amsPorts.isEmpty() && !amsPorts.contains(value))
        return QStringLiteral("port %1 has no runtime (the runtimes are on %2)")
            .arg(value)
            .arg(portList(amsPorts));
    *port = value;
    return QString();
}

// GROUP OFFSET BYTE...
QString dataLine(const QList<QByteArray> &fields, SimImageFile::Entry *e)
{
    if (fields.size() < 3)
        return QStringLiteral("expected GROUP OFFSET BYTE..., all hex");
    if (!hexWord(fields.at(0), &e->group))
        return quoted(fields.at(0)) + QStringLiteral(" is not a hex index group");
    if (!hexWord(fields.at(1), &e->offset))
        return quoted(fields.at(1)) + QStringLiteral(" is not a hex offset");
    const bool bits = SimImage::isBitGroup(e->group);
    for (int f = 2; f < fields.size(); ++f) {
        char b = 0;
        if (!hexByte(fields.at(f), &b))
            return quoted(fields.at(f)) + QStringLiteral(" is not a hex byte (00 to ff)");
        if (bits && b != 0 && b != 1)
            return quoted(fields.at(f))
                   + QStringLiteral(" is not a bit (00 or 01) for bit group %1")
                         .arg(QString::number(e->group, 16).toUpper());
        e->bytes.append(b);
    }
    // The controller refuses to grow an image past this; say so here
    // rather than start with memory the file did not describe.
    if (quint64(e->offset) + quint64(e->bytes.size()) > quint64(SimImage::kMaxImageBytes))
        return QStringLiteral("ends past the %1 bytes an image can hold").arg(SimImage::kMaxImageBytes);
    return QString();
}

// "// comment" after a symbol's fields, taken off `line`; empty when none.
QByteArray takeSymbolComment(QByteArray *line)
{
    const int slashes = line->indexOf("//");
    if (slashes < 0 || !line->simplified().startsWith("symbol "))
        return QByteArray();
    const QByteArray comment = line->mid(slashes + 2).trimmed();
    line->truncate(slashes);
    return comment;
}

// symbol NAME GROUP OFFSET SIZE [TYPE NAME...] [// COMMENT]
QString symbolLine(const QList<QByteArray> &fields, const QByteArray &comment, SimImageFile::Entry *e)
{
    if (fields.size() < 5)
        return QStringLiteral("expected symbol NAME GROUP OFFSET SIZE [TYPE]");
    e->isSymbol = true;
    if (!symbolName(fields.at(1)))
        return quoted(fields.at(1))
               + QStringLiteral(" is not a symbol name (identifiers joined by dots, each a letter or _ "
                                "then letters, digits, _; optional [n] or [n,m])");
    e->symbol.name = QString::fromLatin1(fields.at(1));
    if (!hexWord(fields.at(2), &e->symbol.group))
        return quoted(fields.at(2)) + QStringLiteral(" is not a hex index group");
    if (!hexWord(fields.at(3), &e->symbol.offset))
        return quoted(fields.at(3)) + QStringLiteral(" is not a hex offset");
    bool ok = false;
    e->symbol.size = fields.at(4).toUInt(&ok, 10);
    if (!ok || e->symbol.size == 0)
        return quoted(fields.at(4)) + QStringLiteral(" is not a size in bytes (decimal, above 0)");
    const QByteArray typeName = fields.mid(5).join(' ');
    // An upload entry gives each text's length in 16 bits.
    const QString tooLong = QStringLiteral("the %1 is %2 bytes; an entry holds at most 65535");
    if (fields.at(1).size() > 0xFFFF)
        return tooLong.arg(QStringLiteral("name")).arg(fields.at(1).size());
    if (typeName.size() > 0xFFFF)
        return tooLong.arg(QStringLiteral("type name")).arg(typeName.size());
    if (comment.size() > 0xFFFF)
        return tooLong.arg(QStringLiteral("comment")).arg(comment.size());
    e->symbol.typeName = QString::fromLatin1(typeName);
    e->symbol.comment = QString::fromLatin1(comment); // the bytes as they are, back on the wire
    return QString();
}
} // namespace

QList<SimImageFile::Entry> SimImageFile::parse(const QByteArray &text, QString *error,
                                               const QList<int> &amsPorts)
{
    QList<Entry> entries;
    int port = 0;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        const int hash = line.indexOf('#');
        if (hash >= 0)
            line.truncate(hash);
        const QByteArray comment = takeSymbolComment(&line);
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() == 1 && fields.first().isEmpty())
            continue;
        const QString where = QStringLiteral("line %1: ").arg(i + 1);
        auto fail = [&](const QString &what) {
            *error = where + what;
            return QList<Entry>();
        };
        if (fields.first() == "port") {
            const QString problem = portLine(fields, amsPorts, &port);
            if (!problem.isEmpty())
                return fail(problem);
            continue;
        }
        Entry e;
        e.amsPort = port;
        const QString problem =
            fields.first() == "symbol" ? symbolLine(fields, comment, &e) : dataLine(fields, &e);
        if (!problem.isEmpty())
            return fail(problem);
        entries.append(e);
    }
    error->clear();
    return entries;
}

QList<SimImageFile::Entry> SimImageFile::read(const QString &path, QString *error, const QList<int> &amsPorts)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return {};
    }
    const QList<Entry> entries = parse(file.readAll(), error, amsPorts);
    if (!error->isEmpty())
        *error = QStringLiteral("%1: %2").arg(path, *error);
    return entries;
}

void SimImageFile::apply(const QList<Entry> &entries, SimServer *server)
{
    for (const Entry &e : entries) {
        if (e.isSymbol && e.amsPort == 0)
            server->addSymbol(e.symbol);
        else if (e.isSymbol)
            server->addSymbol(e.amsPort, e.symbol);
        else if (e.amsPort == 0)
            server->writeImage(e.group, e.offset, e.bytes);
        else
            server->writeImage(e.amsPort, e.group, e.offset, e.bytes);
    }
}
