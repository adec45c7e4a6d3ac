#include "host/SymbolBrowser.h"

#include "host/AdsctlOptions.h"
#include "host/LeafWalk.h"
#include "host/SymbolListing.h"
#include "host/SymbolUpload.h"
#include "link/DataTypeTable.h"
#include "link/SymbolTable.h"

#include <limits>

namespace {
void write(const SymbolListing::Entries &entries, const AdsctlOptions &options, QTextStream &out)
{
    if (options.json)
        SymbolListing::writeJson(entries, out);
    else if (options.csv)
        SymbolListing::writeCsv(entries, out);
    else
        SymbolListing::writeTable(entries, out);
    out.flush();
}

// The symbol table's entries, checked whole against the count announced.
bool symbolEntries(const QByteArray &bytes, quint32 announced, QVector<quint32> *entries, QTextStream &err)
{
    QString fault;
    *entries = SymbolTable::offsets(bytes, &fault, SymbolUpload::MaxSymbols);
    if (!fault.isEmpty()) {
        err << "adsctl: the symbol table does not hold together, nothing listed: " << fault << Qt::endl;
        return false;
    }
    if (entries->size() > int(SymbolUpload::MaxSymbols)) {
        err << "adsctl: the symbol table holds more than the " << quint32(SymbolUpload::MaxSymbols)
            << " symbols adsctl lists; nothing listed" << Qt::endl;
        return false;
    }
    if (quint32(entries->size()) != announced) {
        err << "adsctl: the controller announced " << announced << " symbols, but its table of "
            << bytes.size() << " bytes holds " << entries->size() << "; nothing listed" << Qt::endl;
        return false;
    }
    return true;
}

// The data type table, uploaded and checked whole against the count announced.
bool uploadTypes(CDriveBaseClass *driver, quint32 pieceBytes, QTextStream &err, QByteArray *bytes,
                 QVector<quint32> *entries)
{
    SymbolUpload upload(driver, err, SymbolUpload::Table::DataTypes);
    upload.setPieceBytes(pieceBytes);
    quint32 announced = 0;
    if (!upload.run(&announced, bytes))
        return false;
    QString fault;
    *entries = DataTypeTable::offsets(*bytes, &fault, SymbolUpload::MaxSymbols);
    if (!fault.isEmpty()) {
        err << "adsctl: the data type table does not hold together, nothing listed: " << fault << Qt::endl;
        return false;
    }
    if (quint32(entries->size()) != announced) {
        err << "adsctl: the controller announced " << announced << " data types, but its table of "
            << bytes->size() << " bytes holds " << entries->size() << "; nothing listed" << Qt::endl;
        return false;
    }
    return true;
}

int listSymbols(const QByteArray &bytes, QVector<quint32> entries, const AdsctlOptions &options,
                QTextStream &out, QTextStream &err)
{
    const int total = entries.size();
    SymbolListing::select(bytes, &entries, options.pattern);
    write(SymbolListing::entriesOf(bytes, entries), options, out);
    if (options.pattern.isEmpty())
        err << "adsctl: " << total << " symbols" << Qt::endl;
    else
        err << "adsctl: " << entries.size() << " of " << total << " symbols match " << options.pattern
            << Qt::endl;
    return 0;
}

// Every leaf is made once before any goes out: nothing is listed unless all
// of them hold together and they are not too many.
int listLeaves(const QByteArray &symbols, QVector<quint32> entries, const QByteArray &types,
               const QVector<quint32> &typeEntries, const AdsctlOptions &options, QTextStream &out,
               QTextStream &err)
{
    // Every symbol, sorted: a leaf's name may match where its symbol's does not.
    SymbolListing::select(symbols, &entries, QString());
    const QRegularExpression pattern = SymbolListing::glob(options.pattern);
    QString name; // one buffer for every name
    const auto matches = [&](const SymbolTable::Entry &leaf) {
        if (options.pattern.isEmpty())
            return true;
        SymbolTable::fromCodePage(leaf.name, &name);
        return pattern.match(name).hasMatch();
    };
    LeafWalk walk(types, typeEntries);
    quint64 matched = 0;
    QString fault;
    for (const quint32 at : entries) {
        if (!walk.walk(
                symbols, at, [&](const SymbolTable::Entry &leaf) { matched += matches(leaf) ? 1 : 0; },
                &fault)) {
            if (walk.leafCount() > LeafWalk::MaxLeaves)
                err << "adsctl: the symbols hold more than the " << quint32(LeafWalk::MaxLeaves)
                    << " leaves adsctl lists; nothing listed" << Qt::endl;
            else
                err << "adsctl: the data types do not hold together, nothing listed: " << fault << Qt::endl;
            return 1;
        }
    }
    const quint64 total = walk.leafCount();
    write(
        [&](const SymbolListing::Visitor &visit) {
            QString unused; // the first pass found no fault
            for (const quint32 at : entries)
                walk.walk(
                    symbols, at,
                    [&](const SymbolTable::Entry &leaf) {
                        if (matches(leaf))
                            visit(leaf);
                    },
                    &unused, std::numeric_limits<quint32>::max());
        },
        options, out);
    if (options.pattern.isEmpty())
        err << "adsctl: " << total << " leaves of " << entries.size() << " symbols" << Qt::endl;
    else
        err << "adsctl: " << matched << " of " << total << " leaves match " << options.pattern << Qt::endl;
    return 0;
}
} // namespace

int SymbolBrowser::run(CDriveBaseClass *driver, const AdsctlOptions &options, QTextStream &out,
                       QTextStream &err)
{
    // A serial line carries about a kilobyte a second at 9600 baud.
    const bool serial = options.connectText.contains(QLatin1Char(','));
    const quint32 pieceBytes = serial ? SymbolUpload::SerialPieceBytes : SymbolUpload::TcpPieceBytes;
    // The data types first: a controller without them is told before the
    // symbol table's upload.
    QByteArray types;
    QVector<quint32> typeEntries;
    if (options.leaves && !uploadTypes(driver, pieceBytes, err, &types, &typeEntries))
        return 1;

    SymbolUpload upload(driver, err);
    upload.setPieceBytes(pieceBytes);
    quint32 announced = 0;
    QByteArray bytes;
    if (!upload.run(&announced, &bytes))
        return 1;
    QVector<quint32> entries;
    if (!symbolEntries(bytes, announced, &entries, err))
        return 1;
    if (options.leaves)
        return listLeaves(bytes, entries, types, typeEntries, options, out, err);
    return listSymbols(bytes, entries, options, out, err);
}
