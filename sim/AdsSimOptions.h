// The command line of ads-sim, the simulated controller as a program.
#ifndef ADSSIMOPTIONS_H
#define ADSSIMOPTIONS_H

#include "sim/SimNotifications.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

class AdsSimOptions
{
public:
    QHostAddress listenAddress = QHostAddress(QHostAddress::LocalHost);
    quint16 listenPort = 48898; // 0: an ephemeral port, printed on start
    bool serial = false;
    QList<int> amsPorts = {851}; // one runtime per port; the first is the default
    QByteArray netId; // 6 bytes; empty: answer any target NetId
    QList<QByteArray> routes; // source NetIds allowed; empty: any
    QStringList imagePaths; // applied in order, at the start and at every reload
    bool verbose = false;
    int delayMs = 0;
    int dropEvery = 0; // 0: drop nothing (the option itself wants 1 or more)
    quint32 adsError = 0;
    bool noHandles = false; // symbol handles (0xF003) answer 0x701
    bool noSymbolVersion = false; // the symbol version (0xF008) answers 0x701
    bool noDataTypes = false; // the upload's sizes (0xF00F) and data types (0xF00E) answer 0x701
    quint16 adsState = 5; // ReadState's answer: 5 run, 6 stop, 15 config
    QString deviceName = QStringLiteral("ads-sim"); // ReadDeviceInfo's name
    int maxNotifications = SimNotifications::kDefaultLimit; // live subscriptions over all connections
    QString clockSymbol; // written with the monotonic clock every millisecond; empty: none
    bool help = false;
    bool version = false;

    // A one-line message naming the problem; empty when the line was good.
    QString error;

    // `arguments` without the program name.
    static AdsSimOptions parse(const QStringList &arguments);
    static QString usage();
};

#endif // ADSSIMOPTIONS_H
