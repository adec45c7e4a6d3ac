#include "host/SymbolBrowser.h"

#include "host/AdsctlOptions.h"
#include "host/SymbolListing.h"
#include "host/SymbolUpload.h"
#include "link/SymbolTable.h"

int SymbolBrowser::run(CDriveBaseClass *driver, const AdsctlOptions &options, QTextStream &out,
                       QTextStream &err)
{
    SymbolUpload upload(driver, err);
    // A serial line carries about a kilobyte a second at 9600 baud.
    const bool serial = options.connectText.contains(QLatin1Char(','));
    upload.setPieceBytes(serial ? SymbolUpload::SerialPieceBytes : SymbolUpload::TcpPieceBytes);
    quint32 announced = 0;
    QByteArray bytes;
    if (!upload.run(&announced, &bytes))
        return 1;

    QString fault;
    QVector<quint32> entries = SymbolTable::offsets(bytes, &fault, SymbolUpload::MaxSymbols);
    if (!fault.isEmpty()) {
        err << "adsctl: the symbol table does not hold together, nothing listed: " << fault << Qt::endl;
        return 1;
    }
    if (entries.size() > int(SymbolUpload::MaxSymbols)) {
        err << "adsctl: the symbol table holds more than the " << quint32(SymbolUpload::MaxSymbols)
            << " symbols adsctl lists; nothing listed" << Qt::endl;
        return 1;
    }
    const int total = entries.size();
    if (quint32(total) != announced) {
        err << "adsctl: the controller announced " << announced << " symbols, but its table of "
            << bytes.size() << " bytes holds " << total << "; nothing listed" << Qt::endl;
        return 1;
    }

    SymbolListing::select(bytes, &entries, options.pattern);
    if (options.json)
        SymbolListing::writeJson(bytes, entries, out);
    else
        SymbolListing::writeTable(bytes, entries, out);
    out.flush();
    if (options.pattern.isEmpty())
        err << "adsctl: " << total << " symbols" << Qt::endl;
    else
        err << "adsctl: " << entries.size() << " of " << total << " symbols match " << options.pattern
            << Qt::endl;
    return 0;
}
