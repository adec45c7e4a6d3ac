#include "driver/ExportTCPDLL.h"

#include "driver/LibBeckhoff_ADS.h"

CDriveBaseClass *getSharedLibrary()
{
    return new LibBeckhoff_ADS(); // owned by the host
}
