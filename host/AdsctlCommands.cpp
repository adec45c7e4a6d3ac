#include "host/AdsctlCommands.h"

#include "host/AdsctlOptions.h"
#include "host/ResultText.h"
#include "host/ValueText.h"

int AdsctlCommands::info(CDriveBaseClass *driver, QTextStream &out)
{
    out << "name:    " << driver->getDriveName() << '\n'
        << "version: " << driver->getversion_number() << '\n'
        << "build:   " << driver->DebugCmd(DC_Version) << Qt::endl;
    return 0;
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
