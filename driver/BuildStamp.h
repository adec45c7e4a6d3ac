// The build stamp a host asks for with DC_Version: "v1.0.2 yyyy-MM-dd hh:mm:ss".
#ifndef BUILDSTAMP_H
#define BUILDSTAMP_H

#include <QString>

class BuildStamp
{
public:
    // The stamp of this build, from the compiler's date and time texts.
    static QString current();
    // The stamp for a compiler date text such as "Dec 26 2023" or "Dec  8 2026"
    // and a time text such as "15:46:08".
    static QString fromCompilerTexts(const char *date, const char *time);
};

#endif // BUILDSTAMP_H
