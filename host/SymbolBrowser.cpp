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
    const QList<SymbolTable::Symbol> symbols = SymbolTable::parse(bytes, &fault);
    if (!fault.isEmpty()) {
        err << "adsctl: the symbol table does not hold together, nothing listed: " << fault << Qt::endl;
        return 1;
    }
    if (quint32(symbols.size()) != announced) {
        err << "adsctl: the controller announced " << announced << " symbols, but its table of "
            << bytes.size() << " bytes holds " << symbols.size() << "; nothing listed" << Qt::endl;
        return 1;
    }

    const QList<SymbolTable::Symbol> shown = SymbolListing::select(symbols, options.pattern);
    out << (options.json ? SymbolListing::json(shown) : SymbolListing::table(shown)) << Qt::flush;
    if (options.pattern.isEmpty())
        err << "adsctl: " << symbols.size() << " symbols" << Qt::endl;
    else
        err << "adsctl: " << shown.size() << " of " << symbols.size() << " symbols match " << options.pattern
            << Qt::endl;
    return 0;
}
