// Variables by name: where the controller says a name lives, remembered per
// runtime, and the policy around it. A name is located once, the request
// tried at its place, and when the controller refuses a remembered place
// (the program changed online) the name is located once more and the
// request repeated there.
#ifndef SYMBOLACCESS_H
#define SYMBOLACCESS_H

#include "driver/SymbolCache.h"
#include "link/LinkResult.h"

#include <functional>

class SymbolAccess
{
public:
    // Asks the controller for the entry of `name`.
    using Lookup = std::function<LinkOutcome(const QString &name, QByteArray *entry)>;
    // The read or write at a place.
    using Attempt = std::function<LinkOutcome(quint32 group, quint32 offset)>;

    struct Outcome {
        // A result code when the last step was the lookup's or the size's
        // refusal; 0 when it was an attempt, whose own result stands.
        int refusal;
        quint32 controllerError; // the controller's own, 0 when it gave none
    };

    // `byteLength` must fit the symbol's size, or the request is refused with 5.
    Outcome run(int amsPort, const QString &name, qint64 byteLength, const Lookup &lookup,
                const Attempt &attempt);
    void forgetAll() { m_cache.clear(); }

private:
    int locate(int amsPort, const QString &name, qint64 byteLength, const Lookup &lookup, SymbolEntry *entry,
               bool *fromCache, quint32 *controllerError);

    SymbolCache m_cache;
};

#endif // SYMBOLACCESS_H
