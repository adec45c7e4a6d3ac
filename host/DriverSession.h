// One driver of the plug-in, connected the way adsctl's options say: to the
// controller of --connect, or to a simulated controller started in this
// process when there is none.
#ifndef DRIVERSESSION_H
#define DRIVERSESSION_H

#include "host/PluginHandle.h"

#include <QString>
#include <QTextStream>

#include <memory>

class AdsctlOptions;
class SimController;

class DriverSession
{
public:
    explicit DriverSession(QTextStream &err);
    ~DriverSession();
    DriverSession(const DriverSession &) = delete;
    DriverSession &operator=(const DriverSession &) = delete;

    // Loads the plug-in (`path`, or the one beside `programPath`) and creates
    // a driver; false, with the reason on `err`, when it cannot.
    bool load(const QString &path, const QString &programPath);
    // Hands SetConnectPar its text and sets the trace, then connects; false, with the
    // driver's code and its meaning on `err`, when it cannot.
    bool connect(const AdsctlOptions &options);

    // What ConnectDrive answered; 0 until connect() called it.
    int connectCode() const { return m_connectCode; }

    CDriveBaseClass *driver() const { return m_driver; }
    // The plug-in load() took, or tried.
    QString pluginPath() const { return m_pluginPath; }

private:
    QTextStream &m_err;
    PluginHandle m_plugin;
    QString m_pluginPath;
    CDriveBaseClass *m_driver = nullptr;
    int m_connectCode = 0;
    std::unique_ptr<SimController> m_sim;
};

#endif // DRIVERSESSION_H
