#include "driver/Subscriptions.h"

#include "link/AdsLayout.h"
#include "link/DeviceNotification.h"
#include "link/WireBytes.h"

#include <cstring>

namespace {
const quint32 kNoMoreNotificationHandles = 0x716;
const int kEndsAfterNoMore = 10;
const qint64 kUnreadMs = 30000;
const qint64 kSweepEveryMs = 1000;
const int kDeletionsPerCall = 16;
// What a notification frame may weigh, per live subscription: a stamp and
// a sample header besides its bytes, in a few stamps at most.
const qint64 kFrameOverhead = 1024;
const qint64 kStampsPerFrame = 4;
} // namespace

uint qHash(const Subscriptions::Place &p, uint seed)
{
    return qHash(p.indexOffset, seed) ^ qHash(p.indexGroup, seed) ^ uint(p.amsPort) ^ (p.length << 8);
}

Subscriptions::Subscriptions(CmdBeckhoff_ADS &link) : m_link(link)
{
    m_clock.start();
}

void Subscriptions::configure(int notifyMs, int maxLive, int replyMs)
{
    if (notifyMs != m_notifyMs && !m_entries.isEmpty())
        m_deletions += takeDeletions(); // subscribed at another rate: they go, and come back as reads ask
    m_notifyMs = notifyMs;
    m_maxLive = qMax(1, maxLive);
    m_replyMs = replyMs;
}

Subscriptions::Place Subscriptions::placeOf(int amsPort, quint32 indexGroup, quint32 indexOffset,
                                            quint32 length) const
{
    Place p;
    p.connection = m_link.connectionSerial();
    p.target = m_link.targetNetId();
    p.amsPort = amsPort;
    p.indexGroup = indexGroup;
    p.indexOffset = indexOffset;
    p.length = length;
    return p;
}

void Subscriptions::beforeCall()
{
    if (m_entries.isEmpty() && m_deletions.isEmpty() && m_refused.isEmpty())
        return;
    if (m_link.connectionSerial() != m_connection || !m_link.linkUp()) {
        forgetAll(); // another connection, or none: nothing of the old one holds
        return;
    }
    m_link.dispatchWaiting();
    if (now() - m_lastSweep >= kSweepEveryMs) {
        m_lastSweep = now();
        QList<quint32> unread;
        for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
            if (!it->version && now() - it->readAt >= kUnreadMs)
                unread << it.key();
        }
        for (quint32 handle : unread)
            end(handle);
    }
    for (int sent = 0; sent < kDeletionsPerCall && !m_deletions.isEmpty(); ++sent) {
        if (!m_link.writeUnawaited(m_deletions.first()))
            break;
        m_deletions.removeFirst();
    }
}

const QByteArray *Subscriptions::serve(const Place &place)
{
    if (m_entries.isEmpty() || !liveLink())
        return nullptr;
    const quint32 handle = m_byPlace.value(place, 0);
    const auto it = m_entries.find(handle);
    if (handle == 0 || it == m_entries.end() || it->sampleAt < 0 || it->bytes.size() != int(place.length))
        return nullptr;
    if (m_wroteAt >= 0) {
        if (now() > m_wroteAt + qint64(2) * m_notifyMs + m_replyMs)
            m_wroteAt = -1; // no notification came: the write changed nothing pushed
        else if (it->sampleAt <= m_wroteAt + m_notifyMs)
            return nullptr; // may predate the write
    }
    it->readAt = now();
    return &it->bytes;
}

void Subscriptions::readAnswered(const Place &place, Kind kind, const QString &varName)
{
    if (!enabled() || m_endsBeforeAdding > 0 || m_byPlace.contains(place) || m_refused.contains(place))
        return;
    if (place.connection != m_connection) {
        forgetAll();
        m_connection = place.connection;
    }
    if (kind == NameAtPlace && (m_namesRefused || !ensureVersion(place, varName)))
        return;
    add(place, kind, false, varName);
}

void Subscriptions::wrote()
{
    if (!m_entries.isEmpty())
        m_wroteAt = now();
}

bool Subscriptions::add(const Place &place, Kind kind, bool version, const QString &varName)
{
    makeRoom();
    quint32 handle = 0;
    const LinkOutcome added = m_link.addNotification(place.amsPort, place.indexGroup, place.indexOffset,
                                                     place.length, m_notifyMs, &handle, varName);
    if (added.result == LinkOk && handle != 0 && !m_entries.contains(handle)) {
        Entry e;
        e.place = place;
        e.kind = kind;
        e.version = version;
        e.readAt = now();
        m_entries.insert(handle, e);
        m_byPlace.insert(place, handle);
        m_sampleBytes += place.length;
        updateSink();
        return true;
    }
    if (added.result == LinkWrongReply && added.controllerError != 0) {
        m_refused.insert(place); // polled from now on, on this connection
        if (added.adsError(kNoMoreNotificationHandles))
            m_endsBeforeAdding = kEndsAfterNoMore;
    }
    return false;
}

// Names at the places a lookup gave are subscribed only while the symbol
// version is: its change tells that they may have moved.
bool Subscriptions::ensureVersion(const Place &like, const QString &varName)
{
    for (const Entry &e : qAsConst(m_entries)) {
        if (e.version && e.place.amsPort == like.amsPort && e.place.target == like.target)
            return true;
    }
    Place version = like;
    version.indexGroup = AdsLayout::GroupSymbolVersion;
    version.indexOffset = 0;
    version.length = 1;
    const bool refusedBefore = m_refused.contains(version);
    if (!refusedBefore && add(version, Address, true, varName))
        return true;
    m_namesRefused = m_refused.contains(version);
    return false;
}

void Subscriptions::onNotification(const char *data, qint64 size)
{
    DeviceNotification::samples(data, size, [this](quint32 handle, const char *bytes, quint32 count) {
        sample(handle, bytes, count);
    });
}

void Subscriptions::sample(quint32 handle, const char *data, quint32 size)
{
    const auto it = m_entries.find(handle);
    if (it == m_entries.end())
        return; // one we do not hold, or no longer: skipped without a word
    it->bytes.resize(int(size));
    std::memcpy(it->bytes.data(), data, size);
    it->sampleAt = now();
    if (it->version && size == 1) {
        const quint8 version = quint8(data[0]);
        const bool changed = m_versionKnown && version != m_version;
        m_version = version;
        m_versionKnown = true;
        if (changed)
            endNamesAtPlaces();
    }
}

void Subscriptions::endNamesAtPlaces()
{
    QList<quint32> names;
    for (auto it = m_entries.cbegin(); it != m_entries.cend(); ++it) {
        if (it->kind == NameAtPlace)
            names << it.key();
    }
    for (quint32 handle : names)
        end(handle);
}

void Subscriptions::end(quint32 handle)
{
    const auto it = m_entries.find(handle);
    if (it == m_entries.end())
        return;
    CmdBeckhoff_ADS::Write deletion;
    deletion.to = m_link.ends(it->place.amsPort);
    deletion.to.target = it->place.target;
    deletion.command = AdsLayout::CmdDeleteNotification;
    deletion.data.resize(4);
    WireBytes::putLe32(deletion.data.data(), handle);
    m_deletions << deletion;
    m_byPlace.remove(it->place);
    m_sampleBytes -= it->place.length;
    m_entries.erase(it);
    if (m_endsBeforeAdding > 0)
        --m_endsBeforeAdding;
    updateSink();
}

// The least recently read one goes to make room.
void Subscriptions::makeRoom()
{
    while (m_entries.size() >= m_maxLive) {
        auto oldest = m_entries.end();
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
            if (!it->version && (oldest == m_entries.end() || it->readAt < oldest->readAt))
                oldest = it;
        }
        if (oldest == m_entries.end())
            return;
        end(oldest.key());
    }
}

void Subscriptions::forgetAll()
{
    m_entries.clear();
    m_byPlace.clear();
    m_sampleBytes = 0;
    m_deletions.clear();
    m_refused.clear();
    m_endsBeforeAdding = 0;
    m_wroteAt = -1;
    m_namesRefused = false;
    m_versionKnown = false;
    m_connection = m_link.connectionSerial();
    updateSink();
}

QList<CmdBeckhoff_ADS::Write> Subscriptions::takeDeletions()
{
    const QList<quint32> handles = m_entries.keys();
    for (quint32 handle : handles)
        end(handle);
    const QList<CmdBeckhoff_ADS::Write> deletions = m_deletions;
    forgetAll();
    return deletions;
}

void Subscriptions::updateSink()
{
    if (m_entries.isEmpty()) {
        if (m_sinkSet)
            m_link.setNotificationSink(nullptr, 0);
        m_sinkSet = false;
        return;
    }
    const qint64 limit = kFrameOverhead + kStampsPerFrame * (20 * qint64(m_entries.size()) + m_sampleBytes);
    if (!m_sinkSet)
        m_link.setNotificationSink([this](const char *data, qint64 size) { onNotification(data, size); },
                                   limit);
    else
        m_link.setNotificationLimit(limit);
    m_sinkSet = true;
}

bool Subscriptions::liveLink() const
{
    const qint64 heard = m_link.msSinceHeard();
    return heard >= 0 && heard <= qMax<qint64>(m_notifyMs, 1000);
}
