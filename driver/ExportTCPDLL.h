// The plug-in's one entry point. Each call creates a new, independent driver
// that the host owns from then on.
#ifndef EXPORTTCPDLL_H
#define EXPORTTCPDLL_H

#include "driver/CDriveBaseClass.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT CDriveBaseClass *getSharedLibrary();

#endif // EXPORTTCPDLL_H
