#include "link/AmsRoute.h"

#include <QStringList>

QString AmsRoute::netIdText(const QByteArray &netId)
{
    QStringList parts;
    for (char b : netId)
        parts << QString::number(quint8(b));
    return parts.join(QLatin1Char('.'));
}

void AmsRoute::setSettings(const LinkSettings &settings)
{
    m_settings = settings;
    derive();
}

void AmsRoute::connectedTo(const QString &ip, const QHostAddress &local)
{
    m_ip = ip;
    m_local = local;
    derive();
}

void AmsRoute::onSerialLine()
{
    m_local = QHostAddress();
    derive();
}

void AmsRoute::derive()
{
    const QByteArray derived = AdsFrame::targetNetId(m_ip);
    m_target = m_settings.targetNetId.isEmpty() ? derived : m_settings.targetNetId;
    m_defaultTarget = m_target == derived;
    m_source = AdsFrame::defaultSource();
    if (m_settings.sourceAuto && m_local.protocol() == QAbstractSocket::IPv4Protocol)
        m_source.netId = AdsFrame::targetNetId(m_local.toString());
    else if (!m_settings.sourceNetId.isEmpty())
        m_source.netId = m_settings.sourceNetId;
    m_source.port = m_settings.sourcePort;
}

QString AmsRoute::logHost(const QString &hostText) const
{
    if (m_defaultTarget)
        return hostText;
    return hostText + QLatin1Char('/') + netIdText(m_target);
}
