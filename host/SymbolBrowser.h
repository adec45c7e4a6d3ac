// adsctl symbols: the controller's symbol table, uploaded through the host's
// interface, checked whole, then listed. Nothing goes to stdout unless the
// whole table held together: a listing cut short at a faulty entry, sorted
// and perhaps imported as tags, would pass for the complete one. With
// --leaves the data type table comes too, and the symbols are listed as
// their leaves (LeafWalk), again only when every one of them holds together.
#ifndef SYMBOLBROWSER_H
#define SYMBOLBROWSER_H

#include "driver/CDriveBaseClass.h"

#include <QTextStream>

class AdsctlOptions;

class SymbolBrowser
{
public:
    // The exit status: 0 listed, 1 a read failed, a table does not hold
    // together, or there are too many leaves (one line on `err`).
    static int run(CDriveBaseClass *driver, const AdsctlOptions &options, QTextStream &out, QTextStream &err);
};

#endif // SYMBOLBROWSER_H
