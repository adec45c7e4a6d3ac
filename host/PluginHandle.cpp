#include "host/PluginHandle.h"

#include <QDir>
#include <QFileInfo>
#include <QObject>

#include <dlfcn.h>

PluginHandle::~PluginHandle()
{
    // Qt keeps meta-objects of the plug-in registered; unloading it while the
    // process runs would leave them dangling. The process end releases it.
}

bool PluginHandle::load(const QString &path)
{
    m_handle = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        m_error = QString::fromLocal8Bit(::dlerror());
        return false;
    }
    m_entry = reinterpret_cast<CDriveBaseClass *(*)()>(::dlsym(m_handle, "getSharedLibrary"));
    if (!m_entry) {
        m_error = QStringLiteral("%1 has no getSharedLibrary").arg(path);
        return false;
    }
    return true;
}

CDriveBaseClass *PluginHandle::create() const
{
    return m_entry ? m_entry() : nullptr;
}

void PluginHandle::dispose(CDriveBaseClass *driver)
{
    if (!driver)
        return;
    driver->DestroyFree();
    // The driver is a QObject first: its most derived object starts with it.
    delete static_cast<QObject *>(dynamic_cast<void *>(driver));
}

QString PluginHandle::besideProgram(const QString &programPath)
{
    const QDir bin = QFileInfo(programPath).absoluteDir();
    const QString installed = QDir::cleanPath(bin.filePath(QStringLiteral(ADS_PLUGIN_INSTALLED_PATH)));
    if (QFileInfo::exists(installed))
        return installed;
    return QDir::cleanPath(bin.filePath(QStringLiteral(ADS_PLUGIN_BUILT_PATH)));
}
