#include "driver/SymbolAccess.h"

#include "driver/ResultCodes.h"

SymbolAccess::Outcome SymbolAccess::run(const SymbolBinding &binding, const QString &name, const Fits &fits,
                                        const Lookup &lookup, const Attempt &attempt)
{
    bind(binding);
    const int amsPort = binding.amsPort;
    SymbolEntry entry;
    bool fromCache = false;
    quint32 error = 0;
    if (const int refused = locate(amsPort, name, fits, lookup, &entry, &fromCache, &error))
        return {refused, error};
    LinkOutcome tried = attempt(entry);
    if (tried.result == LinkWrongReply && tried.controllerError != 0) {
        // The place may have gone: a fresh lookup that then fails at its
        // place is not tried again.
        m_cache.remove(amsPort, name);
        if (fromCache) {
            if (const int refused = locate(amsPort, name, fits, lookup, &entry, &fromCache, &error))
                return {refused, error};
            tried = attempt(entry);
        }
    }
    return {0, tried.controllerError};
}

// A new connection may reach a restarted controller with another program,
// another target or source another controller or runtime: a place learned
// under the old binding may now belong to another variable.
void SymbolAccess::bind(const SymbolBinding &binding)
{
    if (binding == m_bound)
        return;
    m_cache.clear();
    m_bound = binding;
}

// 0 with the entry, or a result code.
int SymbolAccess::locate(int amsPort, const QString &name, const Fits &fits, const Lookup &lookup,
                         SymbolEntry *entry, bool *fromCache, quint32 *controllerError)
{
    *fromCache = m_cache.find(amsPort, name, entry);
    if (!*fromCache) {
        QByteArray answer;
        const LinkOutcome found = lookup(name, &answer);
        *controllerError = found.controllerError;
        if (found.result != LinkOk)
            return resultCodeOf(found.result);
        if (!SymbolEntry::parse(answer, entry))
            return CLabelVariable::RC_WrongReply;
        m_cache.insert(amsPort, name, *entry);
    }
    return fits(*entry);
}

SymbolAccess::Fits SymbolAccess::withinSize(qint64 byteLength)
{
    return [byteLength](const SymbolEntry &entry) {
        return byteLength > qint64(entry.size) ? int(CLabelVariable::RC_BadOffsetOrCount) : 0;
    };
}

SymbolAccess::Fits SymbolAccess::holdsStrings(int count, StringCodec::Layout *layout)
{
    return [count, layout](const SymbolEntry &entry) {
        if (!StringCodec::layoutOf(entry.typeName, layout))
            return int(CLabelVariable::RC_TypeNotHandled);
        return layout->width() * count > qint64(entry.size) ? int(CLabelVariable::RC_BadOffsetOrCount) : 0;
    };
}

SymbolAccess::Fits SymbolAccess::takesStrings(const QList<QString> &strings, int count,
                                              StringCodec::Layout *layout, QByteArray *data)
{
    const Fits holds = holdsStrings(count, layout);
    return [holds, &strings, count, layout, data](const SymbolEntry &entry) {
        data->clear();
        const int refused = holds(entry);
        if (refused == 0 && !StringCodec::encode(*layout, strings, count, data))
            return int(CLabelVariable::RC_BadOffsetOrCount);
        return refused;
    };
}
