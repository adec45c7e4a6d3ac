// What the simulated controller tells of itself: its ADS state, answered
// by ReadState, and its name and version, answered by ReadDeviceInfo.
#ifndef SIMDEVICE_H
#define SIMDEVICE_H

#include <QByteArray>
#include <QString>

struct SimDevice {
    enum AdsState : quint16 { Run = 5, Stop = 6, Config = 15 };
    enum : int { NameFieldSize = 16 };

    // The project's version, and the name "ads-sim", in the running state.
    SimDevice();

    // The name as ReadDeviceInfo carries it: its bytes zero padded to 16;
    // a longer name cut to 15 and a zero.
    QByteArray nameField() const;

    quint16 adsState = Run;
    QString name;
    quint8 major = 0;
    quint8 minor = 0;
    quint16 build = 0;
};

#endif // SIMDEVICE_H
