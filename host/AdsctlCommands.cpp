#include "host/AdsctlCommands.h"

#include "host/AdsctlOptions.h"
#include "host/ResultText.h"
#include "host/ValueText.h"

#include <QObject>
#include <QVariantMap>

int AdsctlCommands::info(CDriveBaseClass *driver, QTextStream &out)
{
    out << "name:    " << driver->getDriveName() << '\n'
        << "version: " << driver->getversion_number() << '\n'
        << "build:   " << driver->DebugCmd(DC_Version) << Qt::endl;
    return 0;
}

// What the controller says of itself, through the driver's deviceInfo();
// when it says nothing, which of the usual failures it was.
int AdsctlCommands::infoConnected(CDriveBaseClass *driver, QTextStream &out, QTextStream &err)
{
    info(driver, out);
    QObject *object = static_cast<QObject *>(dynamic_cast<void *>(driver));
    QVariantMap device;
    if (!QMetaObject::invokeMethod(object, "deviceInfo", Qt::DirectConnection,
                                   Q_RETURN_ARG(QVariantMap, device))) {
        err << "adsctl: this plug-in cannot ask the controller about itself" << Qt::endl;
        return 1;
    }
    const int result = device.value(QStringLiteral("result")).toInt();
    if (result == CLabelVariable::RC_Success) {
        out << "controller: " << device.value(QStringLiteral("name")).toString() << '\n'
            << "controller version: " << device.value(QStringLiteral("version")).toString() << '\n'
            << "ADS state: " << ResultText::ofAdsState(device.value(QStringLiteral("adsState")).toInt())
            << '\n'
            << "device state: " << device.value(QStringLiteral("deviceState")).toInt() << Qt::endl;
        return 0;
    }
    const QString reason = device.value(QStringLiteral("reason")).toString();
    if (device.value(QStringLiteral("lineWent")).toBool())
        err << "adsctl: no route: " << reason << Qt::endl;
    else if (result == CLabelVariable::RC_NoReply)
        err << "adsctl: no answer: the TCP connection stands, but the controller answered nothing (" << reason
            << "); is the target NetId right (SetConnectPar NETID:PORT)?" << Qt::endl;
    else
        err << "adsctl: the controller did not answer as asked: "
            << ResultText::ofRead(result, device.value(QStringLiteral("adsError")).toUInt()) << Qt::endl;
    return 1;
}

int AdsctlCommands::version(CDriveBaseClass *driver, const QString &pluginPath, QTextStream &out)
{
    out << "plug-in: " << pluginPath << '\n'
        << "version: " << driver->getversion_number() << '\n'
        << "build:   " << driver->DebugCmd(DC_Version) << Qt::endl;
    return 0;
}

int AdsctlCommands::read(CDriveBaseClass *driver, const AdsctlOptions &options, QTextStream &out,
                         QTextStream &err)
{
    const CLabelVariable r = driver->ReadVariable(options.address, options.type, options.count);
    if (r.resultCode == CLabelVariable::RC_Success) {
        const QStringList elements = ValueText::elements(options.type, r.value);
        if (elements.size() != options.count) {
            err << "adsctl: the driver reported success but gave " << elements.size() << " of "
                << options.count << " elements" << Qt::endl;
            return 1;
        }
        if (options.json)
            out << ValueText::jsonArray(options.type, r.value) << '\n';
        else
            out << elements.join(QLatin1Char('\n')) << '\n';
        out.flush();
    }
    err << ResultText::ofRead(r.resultCode, quint32(r.auxNumber)) << Qt::endl;
    return r.resultCode == CLabelVariable::RC_Success ? 0 : 1;
}

int AdsctlCommands::write(CDriveBaseClass *driver, const AdsctlOptions &options, QTextStream &err)
{
    CLabelVariable value;
    value.value = options.values;
    const CLabelVariable w = driver->WriteVariable(options.address, options.type, value, options.count);
    err << ResultText::ofResult(w.resultCode) << Qt::endl;
    return w.resultCode == CLabelVariable::RC_Success ? 0 : 1;
}
