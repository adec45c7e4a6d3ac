// The host's driver interface. A host calls a driver only through these
// eleven operations, by their position in the virtual table: their order,
// arguments and results must never change.
#ifndef CDRIVEBASECLASS_H
#define CDRIVEBASECLASS_H

#include "CLabelVariable.h"

#include <QString>

enum EDebugCmdType {
    DC_StartDebug = 0, // frame trace on
    DC_StopDebug = 1, // frame trace off
    DC_Version = 2, // build stamp
    DC_DriveName = 3 // driver name
};

class CDriveBaseClass
{
public:
    virtual QString getDriveName() = 0;
    virtual QString getversion_number() = 0;
    virtual QString DebugCmd(EDebugCmdType cmd) = 0;
    // 0 connected; -4 the text has no separator; -1 a field is missing or out
    // of range, or the link refused; -3 no connection.
    virtual int ConnectDrive(QString connectionText) = 0;
    // Sets the target AMS port (decimal text) and returns it, 0 when the text
    // is not a number; or takes the address form NETID:PORT and options
    // (README: "The parameter text"), -1 with nothing changed for a bad one.
    virtual int SetConnectPar(QString parameterText) = 0;
    virtual int DisConnectDrive() = 0;
    virtual CLabelVariable ReadVariable(QString address, DataType type) = 0;
    virtual CLabelVariable ReadVariable(QString address, DataType type, int count) = 0;
    virtual CLabelVariable WriteVariable(QString address, DataType type, CLabelVariable value) = 0;
    virtual CLabelVariable WriteVariable(QString address, DataType type, CLabelVariable value, int count) = 0;
    virtual int DestroyFree() = 0;

protected:
    // Not virtual, so never delete a driver through this interface: delete it
    // as the QObject it is, `delete static_cast<QObject *>(dynamic_cast<void *>(driver))`.
    ~CDriveBaseClass() = default;
};

#endif // CDRIVEBASECLASS_H
