#include "sim/SimRouter.h"

#include "link/AdsLayout.h"

#include <QRegularExpression>
#include <QStringList>

void SimRouter::setNetId(const QByteArray &netId)
{
    m_netId = netId.size() == AdsLayout::NetIdSize ? netId : QByteArray();
}

void SimRouter::setRoutes(const QList<QByteArray> &sourceNetIds)
{
    m_routes.clear();
    for (const QByteArray &netId : sourceNetIds) {
        if (netId.size() == AdsLayout::NetIdSize)
            m_routes.append(netId);
    }
}

SimRouter::Verdict SimRouter::check(const QByteArray &request) const
{
    // The route first: a router says nothing at all to a stranger.
    if (!m_routes.isEmpty() && !m_routes.contains(sourceNetId(request)))
        return NoRoute;
    if (!m_netId.isEmpty() && targetNetId(request) != m_netId)
        return UnknownTarget;
    return Pass;
}

QByteArray SimRouter::targetNetId(const QByteArray &request)
{
    return request.mid(AdsLayout::OffTargetNetId, AdsLayout::NetIdSize);
}

QByteArray SimRouter::sourceNetId(const QByteArray &request)
{
    return request.mid(AdsLayout::OffSourceNetId, AdsLayout::NetIdSize);
}

QByteArray SimRouter::netIdFromText(const QString &text)
{
    // Plain digits only: toInt alone would take signs and blanks.
    static const QRegularExpression form(QStringLiteral("^[0-9]{1,3}(\\.[0-9]{1,3}){5}$"));
    if (!form.match(text).hasMatch())
        return QByteArray();
    QByteArray netId;
    for (const QString &part : text.split(QLatin1Char('.'))) {
        const int value = part.toInt();
        if (value > 255)
            return QByteArray();
        netId.append(char(value));
    }
    return netId;
}

QString SimRouter::netIdText(const QByteArray &netId)
{
    QStringList parts;
    for (char byte : netId)
        parts << QString::number(quint8(byte));
    return parts.join(QLatin1Char('.'));
}
