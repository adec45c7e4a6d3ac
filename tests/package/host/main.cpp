// Loads the installed plug-in by the path the package gives (or the one
// given as its argument, for a tree installed under another root), reads its
// name and proves the label library links: prints "Beckhoff 1".
#include <CDriveBaseClass.h>
#include <CLabelVariable.h>

#include <QCoreApplication>

#include <cstdio>
#include <dlfcn.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const char *path = argc > 1 ? argv[1] : PLUGIN_PATH;
    void *lib = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto entry = reinterpret_cast<CDriveBaseClass *(*)()>(dlsym(lib, "getSharedLibrary"));
    if (!entry)
        return 1;
    CDriveBaseClass *driver = entry();
    CLabelVariable label;
    std::printf("%s %d\n", qPrintable(driver->getDriveName()), label.resultCode);
    driver->DestroyFree();
    delete static_cast<QObject *>(dynamic_cast<void *>(driver));
    return 0;
}
