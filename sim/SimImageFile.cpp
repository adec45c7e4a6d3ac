#include "sim/SimImageFile.h"

#include "sim/SimArrayType.h"
#include "sim/SimImage.h"
#include "sim/SimServer.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
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

// "// comment" after the fields of a symbol, type or member line, taken
// off `line`; empty when none.
QByteArray takeComment(QByteArray *line)
{
    const int slashes = line->indexOf("//");
    const QByteArray start = line->simplified();
    if (slashes < 0
        || !(start.startsWith("symbol ") || start.startsWith("type ") || start.startsWith("member ")))
        return QByteArray();
    QByteArray comment = line->mid(slashes + 2).trimmed();
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

// The structure types a text declared so far, by runtime and name, with
// their sizes; and the type names its members and symbols used.
struct Declared {
    QHash<QString, quint32> sizes;
    QSet<QString> used;
    static QString key(int port, const QString &name)
    {
        return QString::number(port) + QLatin1Char(':') + name.trimmed().toUpper();
    }
};

bool identifier(const QByteArray &field)
{
    static const QRegularExpression form(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    return form.match(QString::fromLatin1(field.constData(), field.size())).hasMatch();
}

bool decimalSize(const QByteArray &field, quint32 *out)
{
    bool ok = false;
    *out = field.toUInt(&ok, 10);
    return ok && *out > 0;
}

// Why `size` bytes do not hold `typeName` when it is a structure declared
// before, or an array of one; empty when they do or it names none.
QString sizeFault(const QString &typeName, quint32 size, int port, Declared *declared)
{
    const qint64 kMany = qint64(1) << 33; // more than any 32-bit size holds
    QString element = typeName;
    qint64 count = 1;
    SimArrayType array;
    while (SimArrayType::parse(element, &array)) {
        const qint64 n = array.elementCount();
        count = n > kMany / count ? kMany : count * n;
        element = array.elementType;
    }
    const QString key = Declared::key(port, element);
    declared->used.insert(key);
    const auto it = declared->sizes.constFind(key);
    if (it == declared->sizes.constEnd() || (size % *it == 0 && size / *it == quint64(count)))
        return QString();
    const QString many = count == kMany ? QStringLiteral("that many") : QString::number(count);
    return count == 1 ? QStringLiteral("%1 bytes do not hold a %2 of %3 bytes")
                            .arg(size)
                            .arg(element.trimmed())
                            .arg(*it)
                      : QStringLiteral("%1 bytes do not hold %2 %3 of %4 bytes each")
                            .arg(size)
                            .arg(many, element.trimmed())
                            .arg(*it);
}

QString tooLong(const char *what, int size)
{
    return QStringLiteral("the %1 is %2 bytes; an entry holds at most 65535")
        .arg(QLatin1String(what))
        .arg(size);
}

// type NAME SIZE [// COMMENT]
QString typeLine(const QList<QByteArray> &fields, const QByteArray &comment, int port,
                 const Declared &declared, SimImageFile::Entry *e)
{
    if (fields.size() != 3)
        return QStringLiteral("expected type NAME SIZE");
    if (!identifier(fields.at(1)))
        return quoted(fields.at(1))
               + QStringLiteral(" is not a type name (a letter or _, then letters, digits, _)");
    e->isType = true;
    e->type.name = QString::fromLatin1(fields.at(1));
    if (!decimalSize(fields.at(2), &e->type.size))
        return quoted(fields.at(2)) + QStringLiteral(" is not a size in bytes (decimal, above 0)");
    const QString key = Declared::key(port, e->type.name);
    if (declared.sizes.contains(key))
        return QStringLiteral("type %1 is declared twice").arg(e->type.name);
    if (declared.used.contains(key))
        return QStringLiteral(
                   "type %1 comes after a member or symbol of it: declare a structure before its use")
            .arg(e->type.name);
    if (fields.at(1).size() > 0xFFFF || comment.size() > 0xFFFF)
        return tooLong(comment.size() > 0xFFFF ? "comment" : "name",
                       qMax(fields.at(1).size(), comment.size()));
    e->type.comment = QString::fromLatin1(comment);
    return QString();
}

// member NAME OFFSET SIZE TYPE... [// COMMENT], into the open `type`
QString memberLine(const QList<QByteArray> &fields, const QByteArray &comment, int port, Declared *declared,
                   SimStructType *type)
{
    if (fields.size() < 5)
        return QStringLiteral("expected member NAME OFFSET SIZE TYPE");
    SimStructType::Member m;
    if (!identifier(fields.at(1)))
        return quoted(fields.at(1))
               + QStringLiteral(" is not a member name (a letter or _, then letters, digits, _)");
    m.name = QString::fromLatin1(fields.at(1));
    if (!hexWord(fields.at(2), &m.offset))
        return quoted(fields.at(2)) + QStringLiteral(" is not a hex offset");
    if (!decimalSize(fields.at(3), &m.size))
        return quoted(fields.at(3)) + QStringLiteral(" is not a size in bytes (decimal, above 0)");
    const QByteArray typeName = fields.mid(4).join(' ');
    if (fields.at(1).size() > 0xFFFF || typeName.size() > 0xFFFF || comment.size() > 0xFFFF)
        return tooLong("name, type name or comment",
                       qMax(qMax(fields.at(1).size(), typeName.size()), comment.size()));
    m.typeName = QString::fromLatin1(typeName);
    m.comment = QString::fromLatin1(comment);
    SimStructType::Member twice;
    if (type->member(m.name, &twice))
        return QStringLiteral("member %1 appears twice in %2").arg(m.name, type->name);
    if (type->members.size() >= 0xFFFF)
        return QStringLiteral("%1 has more members than an entry holds (65535)").arg(type->name);
    if (quint64(m.offset) + m.size > type->size)
        return QStringLiteral("member %1 (at 0x%2, %3 bytes) ends past the %4 bytes of %5")
            .arg(m.name)
            .arg(m.offset, 0, 16)
            .arg(m.size)
            .arg(type->size)
            .arg(type->name);
    if (type->usedBy(m.typeName))
        return QStringLiteral("member %1: %2 cannot hold itself").arg(m.name, type->name);
    const QString fault = sizeFault(m.typeName, m.size, port, declared);
    if (!fault.isEmpty())
        return QStringLiteral("member %1: %2").arg(m.name, fault);
    type->members.append(m);
    return QString();
}

// Reads the lines of one text; `error` names the first bad one.
class TextReader
{
public:
    TextReader(const QList<int> &amsPorts, QString *error) : m_amsPorts(amsPorts), m_error(error) { }

    bool line(int number, QByteArray line);
    bool finish();
    QList<SimImageFile::Entry> entries;

private:
    bool fail(int number, const QString &what)
    {
        *m_error = QStringLiteral("line %1: ").arg(number) + what;
        return false;
    }
    QString typeFields(const QList<QByteArray> &fields, const QByteArray &comment);

    const QList<int> &m_amsPorts;
    QString *m_error;
    int m_port = 0;
    Declared m_declared;
    int m_open = -1; // the entry of the type whose end has not come yet
    int m_openLine = 0;
};

// The lines of a type, from its type line to its end.
QString TextReader::typeFields(const QList<QByteArray> &fields, const QByteArray &comment)
{
    const QByteArray &first = fields.first();
    SimImageFile::Entry *open = m_open >= 0 ? &entries[m_open] : nullptr;
    if (first == "type") {
        if (open)
            return QStringLiteral("type inside type %1, which has no end yet").arg(open->type.name);
        SimImageFile::Entry e;
        e.amsPort = m_port;
        QString problem = typeLine(fields, comment, m_port, m_declared, &e);
        if (problem.isEmpty()) {
            entries.append(e);
            m_open = entries.size() - 1;
        }
        return problem;
    }
    if (!open)
        return QStringLiteral("%1 outside a type (type NAME SIZE first)").arg(QString::fromLatin1(first));
    if (first == "member")
        return memberLine(fields, comment, m_port, &m_declared, &open->type);
    if (fields.size() != 1)
        return QStringLiteral("expected end alone on its line");
    if (open->type.members.isEmpty())
        return QStringLiteral("type %1 has no members").arg(open->type.name);
    m_declared.sizes.insert(Declared::key(m_port, open->type.name), open->type.size);
    m_open = -1;
    return QString();
}

bool TextReader::line(int number, QByteArray line)
{
    const int hash = line.indexOf('#');
    if (hash >= 0)
        line.truncate(hash);
    const QByteArray comment = takeComment(&line);
    const QList<QByteArray> fields = line.simplified().split(' ');
    const QByteArray &first = fields.first();
    if (fields.size() == 1 && first.isEmpty())
        return true;
    if (first == "type" || first == "member" || first == "end") {
        const QString problem = typeFields(fields, comment);
        if (first == "type")
            m_openLine = number;
        return problem.isEmpty() || fail(number, problem);
    }
    if (m_open >= 0)
        return fail(number, QStringLiteral("expected member NAME OFFSET SIZE TYPE or end in type %1")
                                .arg(entries.at(m_open).type.name));
    if (first == "port") {
        const QString problem = portLine(fields, m_amsPorts, &m_port);
        return problem.isEmpty() || fail(number, problem);
    }
    SimImageFile::Entry e;
    e.amsPort = m_port;
    QString problem = first == "symbol" ? symbolLine(fields, comment, &e) : dataLine(fields, &e);
    if (problem.isEmpty() && e.isSymbol)
        problem = sizeFault(e.symbol.typeName, e.symbol.size, m_port, &m_declared);
    if (!problem.isEmpty())
        return fail(number, problem);
    entries.append(e);
    return true;
}

bool TextReader::finish()
{
    if (m_open < 0)
        return true;
    return fail(m_openLine, QStringLiteral("type %1 has no end").arg(entries.at(m_open).type.name));
}
} // namespace

QList<SimImageFile::Entry> SimImageFile::parse(const QByteArray &text, QString *error,
                                               const QList<int> &amsPorts)
{
    TextReader reader(amsPorts, error);
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        if (!reader.line(i + 1, lines.at(i)))
            return {};
    }
    if (!reader.finish())
        return {};
    error->clear();
    return reader.entries;
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
        if (e.isType && e.amsPort == 0)
            server->addType(e.type);
        else if (e.isType)
            server->addType(e.amsPort, e.type);
        else if (e.isSymbol && e.amsPort == 0)
            server->addSymbol(e.symbol);
        else if (e.isSymbol)
            server->addSymbol(e.amsPort, e.symbol);
        else if (e.amsPort == 0)
            server->writeImage(e.group, e.offset, e.bytes);
        else
            server->writeImage(e.amsPort, e.group, e.offset, e.bytes);
    }
}
