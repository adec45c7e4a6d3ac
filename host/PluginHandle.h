// Loads the driver plug-in the way a host does: dlopen, then
// getSharedLibrary for each driver.
#ifndef PLUGINHANDLE_H
#define PLUGINHANDLE_H

#include "driver/CDriveBaseClass.h"

#include <QString>

class PluginHandle
{
public:
    PluginHandle() = default;
    ~PluginHandle();
    PluginHandle(const PluginHandle &) = delete;
    PluginHandle &operator=(const PluginHandle &) = delete;

    bool load(const QString &path);
    QString errorString() const { return m_error; }

    // A new driver, owned by the caller until dispose().
    CDriveBaseClass *create() const;
    // Releases the driver's link and deletes it as the QObject it is (the
    // interface has no virtual destructor).
    static void dispose(CDriveBaseClass *driver);

    // The plug-in built or installed beside the program `argv0`.
    static QString besideProgram(const QString &programPath);

private:
    void *m_handle = nullptr;
    CDriveBaseClass *(*m_entry)() = nullptr;
    QString m_error;
};

#endif // PLUGINHANDLE_H
