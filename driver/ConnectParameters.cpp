#include "driver/ConnectParameters.h"

#include "link/AmsRoute.h"

#include <QStringList>

namespace {
const int kMaxWaitMs = 3600000; // an hour: any longer is a typing error
// A notification's cycle travels in units of 100 ns, in 32 bits: 7 minutes.
const int kMaxNotifyMs = 400000;
const int kMaxNotifications = 100000;
} // namespace

bool ConnectParameters::number(const QString &text, int min, int max, int *out)
{
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok, 10);
    if (!ok || v < min || v > max)
        return false;
    *out = int(v);
    return true;
}

bool ConnectParameters::parseNetId(const QString &text, QByteArray *netId)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 6)
        return false;
    QByteArray id(6, '\0');
    for (int i = 0; i < 6; ++i) {
        int byte = 0;
        if (parts.at(i).isEmpty() || !number(parts.at(i), 0, 255, &byte))
            return false;
        id[i] = char(byte);
    }
    *netId = id;
    return true;
}

QString ConnectParameters::netIdText(const QByteArray &netId)
{
    return AmsRoute::netIdText(netId);
}

bool ConnectParameters::apply(const QString &text, int *amsPort, LinkSettings *link)
{
    const QStringList segments = text.split(QLatin1Char(';'));
    const QString first = segments.first().trimmed();
    // NETID:PORT: six dot-separated parts before the last ":".
    const int colon = first.lastIndexOf(QLatin1Char(':'));
    const bool addressForm = colon > 0 && first.left(colon).count(QLatin1Char('.')) == 5;
    QByteArray netId;
    if (addressForm && !parseNetId(first.left(colon), &netId))
        return false;
    if (!text.contains(QLatin1Char(':')) && !text.contains(QLatin1Char(';'))
        && !text.contains(QLatin1Char('='))) {
        // The AMS port as always. Ports are 16 bits: a larger number would
        // reach another port, so it is 0 like a text that is not a number.
        const uint port = text.toUInt(nullptr, 10);
        *amsPort = port <= 65535 ? int(port) : 0;
        return true;
    }
    int nextPort = *amsPort;
    LinkSettings next = *link;
    for (int i = 0; i < segments.size(); ++i) {
        const QString segment = segments.at(i).trimmed();
        if (segment.isEmpty())
            continue;
        const int equals = segment.indexOf(QLatin1Char('='));
        if (equals >= 0) {
            if (!applyOption(segment.left(equals).trimmed(), segment.mid(equals + 1).trimmed(), &next))
                return false;
        } else if (i == 0 && addressForm) {
            next.targetNetId = netId;
            if (!number(first.mid(colon + 1), 1, 65535, &nextPort))
                return false;
        } else if (i != 0 || !number(segment, 1, 65535, &nextPort)) {
            return false;
        }
    }
    *amsPort = nextPort;
    *link = next;
    return true;
}

bool ConnectParameters::applyOption(const QString &key, const QString &value, LinkSettings *link)
{
    if (key == QLatin1String("target"))
        return parseNetId(value, &link->targetNetId);
    if (key == QLatin1String("source")) {
        if (value == QLatin1String("auto")) {
            link->sourceAuto = true;
            link->sourceNetId.clear();
            return true;
        }
        link->sourceAuto = false;
        return parseNetId(value, &link->sourceNetId);
    }
    int n = 0;
    if (key == QLatin1String("source-port") && number(value, 1, 65535, &n)) {
        link->sourcePort = quint16(n);
        return true;
    }
    if (key == QLatin1String("connect-ms"))
        return number(value, 1, kMaxWaitMs, &link->connectMs);
    if (key == QLatin1String("reply-ms"))
        return number(value, 1, kMaxWaitMs, &link->replyMs);
    if (key == QLatin1String("reconnect-ms"))
        return number(value, 0, kMaxWaitMs, &link->reconnectMs);
    if (key == QLatin1String("reconnect-max-ms"))
        return number(value, 1, kMaxWaitMs, &link->reconnectMaxMs);
    if (key == QLatin1String("down-after"))
        return number(value, 0, 1000, &link->downAfter);
    if (key == QLatin1String("event-loop-ms"))
        return number(value, 0, kMaxWaitMs, &link->eventLoopMs);
    if (key == QLatin1String("notify-ms"))
        return number(value, 0, kMaxNotifyMs, &link->notifyMs);
    if (key == QLatin1String("notify-max"))
        return number(value, 1, kMaxNotifications, &link->notifyMax);
    if (key == QLatin1String("type-check") && number(value, 0, 1, &n)) {
        link->typeCheck = n == 1;
        return true;
    }
    return false;
}
