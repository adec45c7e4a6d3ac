#include "driver/SymbolAccess.h"

#include "driver/ResultCodes.h"
#include "driver/SymbolTypeRule.h"
#include "driver/ValueCodec.h"
#include "link/AdsLayout.h"
#include "link/CmdBeckhoff_ADS.h"
#include "link/WireBytes.h"

namespace {
// ADS errors about a request's symbol.
const quint32 kServiceNotSupported = 0x701;
const quint32 kInvalidGroup = 0x702;
const quint32 kSymbolNotFound = 0x710;
const quint32 kSymbolVersionInvalid = 0x711;
// A controller that refuses handles has its symbol version read at most
// this often while names are used: the window in which a moved variable
// may still be read at its old place.
const qint64 kVersionCheckMs = 1000;
} // namespace

SymbolAccess::SymbolAccess(CmdBeckhoff_ADS &link) : m_link(link) { }

SymbolAccess::Outcome SymbolAccess::Outcome::of(const LinkOutcome &failed)
{
    return {resultCodeOf(failed.result), failed.controllerError, failed.reason};
}

SymbolAccess::Outcome SymbolAccess::Outcome::unfit(int refusal, const SymbolFacts &symbol)
{
    const QString declared = QStringLiteral("%1 (ADS type %2, %3 bytes)")
                                 .arg(symbol.entry.typeName)
                                 .arg(symbol.entry.dataType)
                                 .arg(symbol.entry.size);
    return {refusal, 0,
            refusal == CLabelVariable::RC_TypeNotHandled
                ? QStringLiteral("the type asked for does not suit the symbol, a %1; nothing was sent")
                      .arg(declared)
                : QStringLiteral("more than the symbol holds, a %1; nothing was sent").arg(declared)};
}

SymbolAccess::Outcome SymbolAccess::run(const SymbolBinding &binding, const QString &name, Fits fits,
                                        Attempt attempt)
{
    bind(binding);
    if (m_mode == ByPlace || m_mode == LookupEvery)
        return byPlace(name, fits, attempt);
    if (const SymbolHandles::Handle *known = m_handles.find(m_bound, name)) {
        if (const int refused = fits(known->symbol))
            return Outcome::unfit(refused, known->symbol);
        const LinkOutcome tried = attempt(handlePlace(known->handle, known->symbol.entry));
        if (!tried.adsError(kSymbolNotFound) && !tried.adsError(kSymbolVersionInvalid))
            return {0, tried.controllerError};
        m_handles.remove(m_bound, name); // the program changed: once more, from the name
    }
    return obtain(name, fits, attempt);
}

// A new connection may reach a restarted controller with another program,
// another target or source another controller or runtime: a place learned
// under the old binding may now belong to another variable. Handles stay
// with their bindings, those of a connection gone with it.
void SymbolAccess::bind(const SymbolBinding &binding)
{
    if (binding == m_bound)
        return;
    if (binding.connection != m_bound.connection)
        m_handles.keepOnly(binding.connection);
    m_places.clear();
    m_mode = Unknown;
    m_versionKnown = false;
    m_bound = binding;
}

// The entry and a handle for it, as two requests, then the data request.
// The handle is kept even when the request does not fit the symbol: a host
// asking again in the same way is refused without a request.
SymbolAccess::Outcome SymbolAccess::obtain(const QString &name, Fits fits, Attempt attempt)
{
    SymbolFacts symbol;
    Outcome looked = lookup(name, &symbol);
    if (looked.refusal)
        return looked;
    quint32 handle = 0;
    const LinkOutcome got = m_link.readSymbolHandle(m_bound.amsPort, name, &handle);
    if (got.adsError(kServiceNotSupported) || got.adsError(kInvalidGroup)) {
        m_mode = ByPlace;
        return byPlace(name, fits, attempt);
    }
    if (got.result != LinkOk)
        return Outcome::of(got);
    m_mode = ByHandle;
    SymbolHandles::Owned evicted;
    if (m_handles.insert(m_bound, name, {handle, symbol}, &evicted))
        giveBack(evicted);
    if (const int refused = fits(symbol))
        return Outcome::unfit(refused, symbol);
    return {0, attempt(handlePlace(handle, symbol.entry)).controllerError};
}

// The fallback: a place is used only while the symbol version says the
// program has not changed since it was learned.
SymbolAccess::Outcome SymbolAccess::byPlace(const QString &name, Fits fits, Attempt attempt)
{
    Outcome checked = checkVersion(name);
    if (checked.refusal)
        return checked;
    SymbolFacts symbol;
    const bool fromCache = m_mode == ByPlace && m_places.find(m_bound.amsPort, name, &symbol);
    if (!fromCache) {
        Outcome looked = lookup(name, &symbol);
        if (looked.refusal)
            return looked;
        if (m_mode == ByPlace)
            m_places.insert(m_bound.amsPort, name, symbol);
    }
    if (const int refused = fits(symbol))
        return Outcome::unfit(refused, symbol);
    LinkOutcome tried = attempt(symbol.entry);
    if (tried.result == LinkWrongReply && tried.controllerError != 0) {
        // The place may have gone: a fresh lookup that then fails at its
        // place is not tried again.
        m_places.remove(m_bound.amsPort, name);
        if (fromCache) {
            Outcome looked = lookup(name, &symbol);
            if (looked.refusal)
                return looked;
            if (const int refused = fits(symbol))
                return Outcome::unfit(refused, symbol);
            m_places.insert(m_bound.amsPort, name, symbol);
            tried = attempt(symbol.entry);
        }
    }
    return {0, tried.controllerError};
}

SymbolAccess::Outcome SymbolAccess::checkVersion(const QString &name)
{
    if (m_mode == LookupEvery || (m_versionKnown && m_versionAge.elapsed() < kVersionCheckMs))
        return {0, 0};
    quint8 version = 0;
    const LinkOutcome read = m_link.readSymbolVersion(m_bound.amsPort, name, &version);
    if (read.result == LinkOk) {
        if (m_versionKnown && version != m_version)
            m_places.clear(); // another program: every place may belong to another variable
        m_version = version;
        m_versionKnown = true;
        m_versionAge.start();
        return {0, 0};
    }
    if (read.result == LinkWrongReply && read.controllerError != 0 && !read.amsError) {
        m_mode = LookupEvery; // nothing tells a change: no place can be kept
        m_places.clear();
        return {0, 0};
    }
    return Outcome::of(read);
}

SymbolAccess::Outcome SymbolAccess::lookup(const QString &name, SymbolFacts *symbol)
{
    QByteArray answer;
    const LinkOutcome found = m_link.readSymbolEntry(m_bound.amsPort, name, &answer);
    if (found.result != LinkOk)
        return Outcome::of(found);
    SymbolEntry entry;
    if (!SymbolEntry::parse(answer, &entry))
        return {CLabelVariable::RC_WrongReply, 0,
                QStringLiteral("the controller's entry for the name does not hold together")};
    *symbol = SymbolFacts::of(entry);
    return {0, 0};
}

SymbolEntry SymbolAccess::handlePlace(quint32 handle, const SymbolEntry &entry)
{
    SymbolEntry place = entry;
    place.indexGroup = AdsLayout::GroupSymbolValueByHandle;
    place.indexOffset = handle;
    return place;
}

// A handle let go to make room goes back to the controller, without a
// wait: its reply is taken whenever it comes.
void SymbolAccess::giveBack(const SymbolHandles::Owned &owned)
{
    if (owned.binding.connection != m_link.connectionSerial())
        return; // its connection is gone, and the handle with it
    m_link.writeUnawaited(releaseOf(owned));
}

QList<CmdBeckhoff_ADS::Write> SymbolAccess::takeReleases()
{
    const QList<SymbolHandles::Owned> owned = m_handles.takeAll(m_link.connectionSerial());
    m_places.clear();
    m_mode = Unknown;
    m_versionKnown = false;
    m_bound = SymbolBinding();
    QList<CmdBeckhoff_ADS::Write> releases;
    releases.reserve(owned.size());
    for (const SymbolHandles::Owned &o : owned)
        releases << releaseOf(o);
    return releases;
}

CmdBeckhoff_ADS::Write SymbolAccess::releaseOf(const SymbolHandles::Owned &owned)
{
    CmdBeckhoff_ADS::Write w;
    w.to.target = owned.binding.target;
    w.to.amsPort = owned.binding.amsPort;
    w.to.source.netId = owned.binding.source;
    w.to.source.port = owned.binding.sourcePort;
    w.indexGroup = AdsLayout::GroupReleaseSymbolHandle;
    w.indexOffset = 0;
    w.data.resize(4);
    WireBytes::putLe32(w.data.data(), owned.handle);
    return w;
}

// ---------------------------------------------------------------- fits

int SymbolAccess::fitsValue(const SymbolFacts &symbol, DataType type, int count, bool typeCheck)
{
    if (typeCheck) {
        if (const int refused = SymbolTypeRule::check(type, symbol))
            return refused;
    }
    return ValueCodec::byteLength(type, count) > qint64(symbol.entry.size)
               ? int(CLabelVariable::RC_BadOffsetOrCount)
               : 0;
}

int SymbolAccess::holdsStrings(const SymbolFacts &symbol, int count, bool typeCheck,
                               StringCodec::Layout *layout)
{
    if (!symbol.stringLayout(typeCheck, layout))
        return CLabelVariable::RC_TypeNotHandled;
    return layout->width() * count > qint64(symbol.entry.size) ? int(CLabelVariable::RC_BadOffsetOrCount) : 0;
}

int SymbolAccess::takesStrings(const SymbolFacts &symbol, const QList<QString> &strings, int count,
                               bool typeCheck, StringCodec::Layout *layout, QByteArray *data)
{
    data->clear();
    const int refused = holdsStrings(symbol, count, typeCheck, layout);
    if (refused == 0 && !StringCodec::encode(*layout, strings, count, data))
        return CLabelVariable::RC_BadOffsetOrCount;
    return refused;
}
