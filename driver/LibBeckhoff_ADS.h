// The driver a host holds: identification, connection, and the read and
// write paths from address texts and labels to ADS requests on the link.
#ifndef LIBBECKHOFF_ADS_H
#define LIBBECKHOFF_ADS_H

#include "AddressResolver.h"
#include "CDriveBaseClass.h"
#include "CLabelVariable.h"
#include "CmdBeckhoff_ADS.h"
#include "SymbolCache.h"

#include <QObject>

class LibBeckhoff_ADS : public QObject, public CDriveBaseClass
{
    Q_OBJECT
public:
    using AreaType = AddressResolver::AreaType;

    LibBeckhoff_ADS();
    ~LibBeckhoff_ADS() override;

    QString getDriveName() override;
    QString getversion_number() override;
    QString DebugCmd(EDebugCmdType cmd) override;
    int DisConnectDrive() override;
    int ConnectDrive(QString connectionText) override;
    int SetConnectPar(QString parameterText) override;
    CLabelVariable ReadVariable(QString address, DataType type) override;
    CLabelVariable ReadVariable(QString address, DataType type, int count) override;
    CLabelVariable WriteVariable(QString address, DataType type, CLabelVariable value) override;
    CLabelVariable WriteVariable(QString address, DataType type, CLabelVariable value, int count) override;
    int DestroyFree() override;

    // Addresses.
    int getArea(const QString &address);
    int getAddr(const QString &address, AreaType area);
    int getBytelen(DataType type, int count);

    // One exchange each, after the checks of ReadVariable / WriteVariable.
    CLabelVariable Read_data(int indexOffset, DataType type, int count, int indexGroup,
                             const QString &address);
    // Writes the elements of `value` and records the outcome in it: its
    // result code and, on success, its time stamp.
    void Write_D(int indexOffset, DataType type, int count, CLabelVariable &value, int indexGroup,
                 const QString &address);

    // Reply data bytes to element lists, `count` elements each.
    QVariant set_variant_bool(const QByteArray &bytes, int count);
    QVariant set_variant_Int8(const QByteArray &bytes, int count);
    QVariant set_variant_UInt8(const QByteArray &bytes, int count);
    QVariant set_variant_Int16(const QByteArray &bytes, int count);
    QVariant set_variant_UInt16(const QByteArray &bytes, int count);
    QVariant set_variant_Int32(const QByteArray &bytes, int count);
    QVariant set_variant_UInt32(const QByteArray &bytes, int count);
    QVariant set_variant_fload(const QByteArray &bytes, int count);
    QVariant set_variant_Int64(const QByteArray &bytes, int count);
    QVariant set_variant_UInt64(const QByteArray &bytes, int count);
    QVariant set_variant_double(const QByteArray &bytes, int count);

    // Element lists to request data bytes, appended to `out`; always 0.
    int Wset_variant_bool(const CLabelVariable &value, int count, QByteArray *out);
    int Wset_variant_Int8(const CLabelVariable &value, int count, QByteArray *out);
    int Wset_variant_UInt8(const CLabelVariable &value, int count, QByteArray *out);
    int Wset_variant_Int16(const CLabelVariable &value, int count, QByteArray *out);
    int Wset_variant_uInt16(const CLabelVariable &value, int count, QByteArray *out);
    int Wset_variant_Int32(const CLabelVariable &value, int count, QByteArray *out);
    int Wset_variant_UInt32(const CLabelVariable &value, int count, QByteArray *out);
    int Wset_variant_float(const CLabelVariable &value, int count, QByteArray *out);
    int Wset_variant_Int64(const CLabelVariable &value, int count, QByteArray *out);
    int Wset_variant_UInt64(const CLabelVariable &value, int count, QByteArray *out);
    int Wset_variant_double(const CLabelVariable &value, int count, QByteArray *out);

private:
    // Where an address points, and whether it parsed at all.
    struct Target {
        int area = AddressResolver::AT_None;
        int offset = 0;
        int group = 0;
        bool parsed = false;
        bool symbol = false; // a PLC symbol name, located by asking the controller
    };
    static Target resolve(const QString &address);
    static int refusal(const Target &target, DataType type, int count, int maxCount);
    static bool readTooLarge(DataType type, int count);
    static int valueRefusal(DataType type, int count, const CLabelVariable &value);
    static int resultOfLink(int linkResult);
    CLabelVariable readVariable(const QString &address, DataType type, int count);
    void writeVariable(const QString &address, DataType type, CLabelVariable &value, int count);

    // Symbols: located once per name and connection, and again when the
    // controller refuses a place the cache gave (the program changed online).
    int locateSymbol(const QString &name, DataType type, int count, Target *target, bool *fromCache);
    bool placeWentStale(int resultCode) const;
    CLabelVariable readSymbol(const QString &name, DataType type, int count);
    void writeSymbol(const QString &name, DataType type, int count, CLabelVariable &value);
    QVariant decode(DataType type, const QByteArray &bytes, int count);
    void encode(DataType type, const CLabelVariable &value, int count, QByteArray *out);

    CmdBeckhoff_ADS adsLink;
    int amsPort;
    QString serialPortName;
    int serialBaud;
    int serialDataBits;
    int serialStopBits;
    QString serialParity;
    QString ethIp;
    int ethPort;
    SymbolCache symbolCache;
};

#endif // LIBBECKHOFF_ADS_H
