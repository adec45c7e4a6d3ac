// Variables by name: where the controller says a name lives, remembered per
// runtime, and the policy around it. A name is located once, the request
// tried at its place, and when the controller refuses a remembered place
// (the program changed online) the name is located once more and the
// request repeated there.
#ifndef SYMBOLACCESS_H
#define SYMBOLACCESS_H

#include "driver/StringCodec.h"
#include "driver/SymbolBinding.h"
#include "driver/SymbolCache.h"
#include "link/LinkResult.h"

#include <functional>

class SymbolAccess
{
public:
    // Asks the controller for the entry of `name`.
    using Lookup = std::function<LinkOutcome(const QString &name, QByteArray *entry)>;
    // Whether the request fits the symbol the entry describes: 0, or the
    // result code that refuses it before any data request.
    using Fits = std::function<int(const SymbolEntry &entry)>;
    // The read or write at the entry's place.
    using Attempt = std::function<LinkOutcome(const SymbolEntry &entry)>;

    struct Outcome {
        // A result code when the last step was the lookup's or the size's
        // refusal; 0 when it was an attempt, whose own result stands.
        int refusal;
        quint32 controllerError; // the controller's own, 0 when it gave none
    };

    // `binding` says whom the requests go to now: places learned under
    // another binding are forgotten first.
    Outcome run(const SymbolBinding &binding, const QString &name, const Fits &fits, const Lookup &lookup,
                const Attempt &attempt);
    void forgetAll() { m_cache.clear(); }

    // The usual fit: `byteLength` within the symbol's size, or 5. Reading
    // fewer elements than the symbol holds reads its head.
    static Fits withinSize(qint64 byteLength);
    // Strings: 2 when the symbol is no string type, 5 when `count` strings
    // are more than it holds; `layout` becomes the symbol's.
    static Fits holdsStrings(int count, StringCodec::Layout *layout);
    // As holdsStrings, and 5 when one of `strings` does not fit its element
    // whole; `data` becomes the strings as the symbol holds them. Both
    // pointers and `strings` must outlive the fit.
    static Fits takesStrings(const QList<QString> &strings, int count, StringCodec::Layout *layout,
                             QByteArray *data);

private:
    int locate(int amsPort, const QString &name, const Fits &fits, const Lookup &lookup, SymbolEntry *entry,
               bool *fromCache, quint32 *controllerError);

    void bind(const SymbolBinding &binding);

    SymbolCache m_cache;
    SymbolBinding m_bound;
};

#endif // SYMBOLACCESS_H
