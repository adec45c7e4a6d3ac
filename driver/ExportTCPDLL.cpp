#include "ExportTCPDLL.h"

#include "LibBeckhoff_ADS.h"

CDriveBaseClass *getSharedLibrary()
{
    return new LibBeckhoff_ADS(); // owned by the host
}
