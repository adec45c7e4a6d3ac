#include "SimImageFile.h"

#include "SimImage.h"
#include "SimServer.h"

#include <QFile>
#include <QRegularExpression>

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

// symbol NAME GROUP OFFSET SIZE [TYPE NAME...]
QString symbolLine(const QList<QByteArray> &fields, SimImageFile::Entry *e)
{
    if (fields.size() < 5)
        return QStringLiteral("expected symbol NAME GROUP OFFSET SIZE [TYPE]");
    e->isSymbol = true;
    e->symbol.name = QString::fromLatin1(fields.at(1));
    if (!hexWord(fields.at(2), &e->symbol.group))
        return quoted(fields.at(2)) + QStringLiteral(" is not a hex index group");
    if (!hexWord(fields.at(3), &e->symbol.offset))
        return quoted(fields.at(3)) + QStringLiteral(" is not a hex offset");
    bool ok = false;
    e->symbol.size = fields.at(4).toUInt(&ok, 10);
    if (!ok || e->symbol.size == 0)
        return quoted(fields.at(4)) + QStringLiteral(" is not a size in bytes (decimal, above 0)");
    e->symbol.typeName = QString::fromLatin1(fields.mid(5).join(' '));
    return QString();
}
} // namespace

QList<SimImageFile::Entry> SimImageFile::parse(const QByteArray &text, QString *error)
{
    QList<Entry> entries;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        QByteArray line = lines.at(i);
        const int hash = line.indexOf('#');
        if (hash >= 0)
            line.truncate(hash);
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() == 1 && fields.first().isEmpty())
            continue;
        const QString where = QStringLiteral("line %1: ").arg(i + 1);
        auto fail = [&](const QString &what) {
            *error = where + what;
            return QList<Entry>();
        };
        Entry e;
        if (fields.first() == "symbol") {
            const QString problem = symbolLine(fields, &e);
            if (!problem.isEmpty())
                return fail(problem);
            entries.append(e);
            continue;
        }
        if (fields.size() < 3)
            return fail(QStringLiteral("expected GROUP OFFSET BYTE..., all hex"));
        if (!hexWord(fields.at(0), &e.group))
            return fail(quoted(fields.at(0)) + QStringLiteral(" is not a hex index group"));
        if (!hexWord(fields.at(1), &e.offset))
            return fail(quoted(fields.at(1)) + QStringLiteral(" is not a hex offset"));
        for (int f = 2; f < fields.size(); ++f) {
            char b = 0;
            if (!hexByte(fields.at(f), &b))
                return fail(quoted(fields.at(f)) + QStringLiteral(" is not a hex byte (00 to ff)"));
            e.bytes.append(b);
        }
        // The controller refuses to grow an image past this; say so here
        // rather than start with memory the file did not describe.
        if (quint64(e.offset) + quint64(e.bytes.size()) > quint64(SimImage::kMaxImageBytes))
            return fail(
                QStringLiteral("ends past the %1 bytes an image can hold").arg(SimImage::kMaxImageBytes));
        entries.append(e);
    }
    error->clear();
    return entries;
}

QList<SimImageFile::Entry> SimImageFile::read(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return {};
    }
    const QList<Entry> entries = parse(file.readAll(), error);
    if (!error->isEmpty())
        *error = QStringLiteral("%1: %2").arg(path, *error);
    return entries;
}

void SimImageFile::apply(const QList<Entry> &entries, SimServer *server)
{
    for (const Entry &e : entries) {
        if (e.isSymbol)
            server->addSymbol(e.symbol);
        else
            server->writeImage(e.group, e.offset, e.bytes);
    }
}
