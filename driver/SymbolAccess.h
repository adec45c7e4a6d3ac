// Variables by name. A place learned from a lookup is never trusted on its
// own: where the controller gives handles, a name is read and written
// through its handle, which the controller resolves at every access, so a
// variable moved by an online change is still the one the host named.
//
// The first access to a name looks its entry up (size, type, string layout)
// and asks for its handle; later accesses send the data request alone. A
// handle the controller no longer knows (0x710, 0x711) is asked for once
// more in the same call. Handles belong to their binding (connection,
// target and source): nothing learned under one is used under another.
//
// A controller that refuses handles (0x701, 0x702) gets the guarded
// fallback: places are kept, but its symbol version is read before the
// first access after a connect and at most once a second while names are
// used, and every place is forgotten when it changed. A controller that
// refuses the version too has every name looked up at every access.
#ifndef SYMBOLACCESS_H
#define SYMBOLACCESS_H

#include "driver/StringCodec.h"
#include "driver/SymbolBinding.h"
#include "driver/SymbolCache.h"
#include "driver/SymbolHandles.h"
#include "link/CmdBeckhoff_ADS.h"
#include "link/FunctionRef.h"
#include "link/LinkResult.h"
#include "value/CLabelVariable.h"

#include <QElapsedTimer>

class SymbolAccess
{
public:
    // Whether the request fits the symbol: 0, or the result code that
    // refuses it before any data request.
    using Fits = FunctionRef<int(const SymbolFacts &symbol)>;
    // The read or write at `place` (its index group and offset).
    using Attempt = FunctionRef<LinkOutcome(const SymbolEntry &place)>;

    struct Outcome {
        Outcome(int refusal = 0, quint32 controllerError = 0, QString reason = QString())
            : refusal(refusal), controllerError(controllerError), reason(std::move(reason))
        {
        }
        // A result code when the last step was a lookup, a handle request or
        // a refusal; 0 when it was an attempt, whose own result stands.
        int refusal;
        quint32 controllerError; // the controller's own, 0 when it gave none
        QString reason; // for a refusal: what happened, in English

        static Outcome of(const LinkOutcome &failed);
        static Outcome unfit(int refusal, const SymbolFacts &symbol);
    };

    explicit SymbolAccess(CmdBeckhoff_ADS &link);

    // `binding` says whom the requests go to now.
    Outcome run(const SymbolBinding &binding, const QString &name, Fits fits, Attempt attempt);
    // The connection ends: the releases of the handles obtained on it, and
    // everything learned is forgotten.
    QList<CmdBeckhoff_ADS::Write> takeReleases();
    int handleCount() const { return m_handles.size(); }

    // The usual fit: the type rule (when `typeCheck`), then the elements
    // asked for within the symbol's size (5). Fewer elements read its head.
    static int fitsValue(const SymbolFacts &symbol, DataType type, int count, bool typeCheck);
    // Strings: 2 when the symbol holds none, 5 when `count` are more than it
    // holds; `layout` becomes the symbol's.
    static int holdsStrings(const SymbolFacts &symbol, int count, bool typeCheck,
                            StringCodec::Layout *layout);
    // As holdsStrings, and 5 when one of `strings` does not fit its element
    // whole; `data` becomes the strings as the symbol holds them.
    static int takesStrings(const SymbolFacts &symbol, const QList<QString> &strings, int count,
                            bool typeCheck, StringCodec::Layout *layout, QByteArray *data);

private:
    enum Mode {
        Unknown, // nothing asked yet under this binding
        ByHandle,
        ByPlace, // handles refused: places, guarded by the symbol version
        LookupEvery // the version refused too: no place is kept
    };

    void bind(const SymbolBinding &binding);
    Outcome obtain(const QString &name, Fits fits, Attempt attempt);
    Outcome byPlace(const QString &name, Fits fits, Attempt attempt);
    Outcome checkVersion(const QString &name);
    Outcome lookup(const QString &name, SymbolFacts *symbol);
    void giveBack(const SymbolHandles::Owned &owned);
    static CmdBeckhoff_ADS::Write releaseOf(const SymbolHandles::Owned &owned);
    static SymbolEntry handlePlace(quint32 handle, const SymbolEntry &entry);

    CmdBeckhoff_ADS &m_link;
    SymbolHandles m_handles;
    SymbolCache m_places;
    SymbolBinding m_bound;
    Mode m_mode = Unknown;
    bool m_versionKnown = false;
    quint8 m_version = 0;
    QElapsedTimer m_versionAge;
};

#endif // SYMBOLACCESS_H
