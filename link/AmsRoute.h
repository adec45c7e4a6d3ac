// The AMS addresses of the link's frames: the target (the controller's
// NetId and the AMS port of each request) and the source (the driver's own).
// By default the target NetId is the connection's IP address + .1.1 and the
// source 192.168.10.100.1.1:32957, as every existing installation expects.
#ifndef AMSROUTE_H
#define AMSROUTE_H

#include "link/AdsFrame.h"
#include "link/LinkSettings.h"

#include <QHostAddress>
#include <QString>

// Where one request goes and whom it comes from.
struct AmsEnds {
    QByteArray target;
    int amsPort = 0;
    AdsFrame::AmsAddress source;
};

class AmsRoute
{
public:
    void setSettings(const LinkSettings &settings);
    // A TCP connection to `ip` from `local`; a serial line has neither.
    void connectedTo(const QString &ip, const QHostAddress &local);
    void onSerialLine();
    // "5.12.34.56.1.1": how a NetId is written.
    static QString netIdText(const QByteArray &netId);

    QString ip() const { return m_ip; }
    QByteArray target() const { return m_target; }
    AdsFrame::AmsAddress source() const { return m_source; }
    // What log lines show as the controller: the address, and the target
    // NetId after it when it is not the default.
    QString logHost(const QString &hostText) const;

private:
    void derive();

    LinkSettings m_settings;
    QString m_ip;
    QHostAddress m_local;
    QByteArray m_target = AdsFrame::targetNetId(QString());
    AdsFrame::AmsAddress m_source = AdsFrame::defaultSource();
    bool m_defaultTarget = true; // decided once: every request logs its host
};

#endif // AMSROUTE_H
