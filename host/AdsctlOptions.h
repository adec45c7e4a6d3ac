// The command line of adsctl. Everything a command needs is checked here,
// before the plug-in is loaded, so that bad input never reaches a controller.
#ifndef ADSCTLOPTIONS_H
#define ADSCTLOPTIONS_H

#include "value/CLabelVariable.h"

#include <QString>
#include <QStringList>
#include <QVariant>

class AdsctlOptions
{
public:
    enum Command { Help, Info, Read, Write, Watch };

    Command command = Help; // --help, -h
    QString address;
    DataType type = DT_None;
    int count = 1;
    QVariant values; // write: the QList<T> of `type`, `count` elements

    QString pluginPath; // empty: the plug-in beside the program
    QString connectText; // empty: a simulated controller in this process
    int amsPort = 0; // 0: the driver's default
    bool trace = false;
    bool json = false;
    int everyMs = 500;
    int times = 0; // watch: reads before it stops; 0 until interrupted

    // A one-line message naming the problem; empty when the line was good.
    QString error;

    // `arguments` without the program name.
    static AdsctlOptions parse(const QStringList &arguments);
    static QString usage();
};

#endif // ADSCTLOPTIONS_H
