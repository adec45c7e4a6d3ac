#include "host/DriverSession.h"

#include "host/AdsctlOptions.h"
#include "host/ResultText.h"
#include "sim/SimController.h"

namespace {
void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) { }
} // namespace

DriverSession::DriverSession(QTextStream &err) : m_err(err) { }

DriverSession::~DriverSession()
{
    // The driver reports its own closing of the link as a lost link
    // ("lib[Beckhoff]HOST:PORT QAbstractSocket::UnknownSocketError"); that
    // says nothing about the controller, so it is not shown.
    const QtMessageHandler previous = qInstallMessageHandler(&dropMessage);
    // The driver first: it closes its connection while the controller is there.
    PluginHandle::dispose(m_driver);
    qInstallMessageHandler(previous);
    m_sim.reset();
}

bool DriverSession::load(const QString &path, const QString &programPath)
{
    m_pluginPath = path.isEmpty() ? PluginHandle::besideProgram(programPath) : path;
    if (!m_plugin.load(m_pluginPath)) {
        m_err << "adsctl: cannot load the plug-in: " << m_plugin.errorString() << Qt::endl;
        return false;
    }
    m_driver = m_plugin.create();
    if (!m_driver) {
        m_err << "adsctl: the plug-in " << m_pluginPath << " gave no driver" << Qt::endl;
        return false;
    }
    return true;
}

bool DriverSession::connect(const AdsctlOptions &options)
{
    QString text = options.connectText;
    if (text.isEmpty()) {
        m_sim = std::make_unique<SimController>();
        if (!m_sim->startTcp()) {
            m_err << "adsctl: cannot start the simulated controller on 127.0.0.1" << Qt::endl;
            return false;
        }
        text = m_sim->connectionText();
        m_err << "adsctl: no --connect given: using a simulated controller inside adsctl at " << text
              << " (zeroed memory, gone when adsctl ends)" << Qt::endl;
    }
    const QString par = options.connectPar();
    if (!par.isEmpty()) {
        // The answer is the AMS port in force: the one asked for, if any.
        const int set = m_driver->SetConnectPar(par);
        if (set <= 0 || (options.amsPort != 0 && set != options.amsPort)) {
            m_err << "adsctl: " << ResultText::ofConnectPar(set, par) << Qt::endl;
            return false;
        }
    }
    if (options.trace)
        m_driver->DebugCmd(DC_StartDebug);
    m_connectCode = m_driver->ConnectDrive(text);
    if (m_connectCode != 0) {
        m_err << "adsctl: cannot connect to " << text << ": " << ResultText::ofConnect(m_connectCode, text)
              << Qt::endl;
        return false;
    }
    return true;
}
