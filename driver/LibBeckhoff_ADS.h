// The driver a host holds: identification, connection, and the read and
// write paths from address texts and labels to ADS requests on the link.
//
// Members: the eleven overrides are the host contract's, in the slot order
// of CDriveBaseClass. The driver's design also names `adsLink`, `amsPort`,
// the connection fields (`serialPortName` ... `ethPort`), the address
// operations, `Read_data`, `Write_D` and the per-type decoders and encoders;
// they keep those names. The connection fields record the last connection
// text as it was parsed and are never read again: the link keeps what it
// needs of the line in use, so a refused text cannot disturb it. The
// symbol access and the link settings are the project's own.
#ifndef LIBBECKHOFF_ADS_H
#define LIBBECKHOFF_ADS_H

#include "driver/AddressResolver.h"
#include "driver/CDriveBaseClass.h"
#include "driver/LocalClock.h"
#include "driver/StringCodec.h"
#include "driver/Subscriptions.h"
#include "driver/SymbolAccess.h"
#include "link/CmdBeckhoff_ADS.h"
#include "value/CLabelVariable.h"

#include <QObject>
#include <QVariantMap>

#include <functional>

class LibBeckhoff_ADS : public QObject, public CDriveBaseClass
{
    Q_OBJECT
    // Whether the link carries requests, for a host that wants to show it:
    // reached from the CDriveBaseClass* through the QObject it also is. The
    // signal is never emitted inside a call of this driver: it is posted.
    Q_PROPERTY(bool linkUp READ linkUp NOTIFY linkUpChanged)
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

    bool linkUp() const { return adsLink.linkUp(); }

    // The controller's own account, asked on the line in use (ReadDeviceInfo
    // and ReadState): "result" (0, or the call's result code), "adsError"
    // (the controller's code, when it gave one), "reason" (in English, on a
    // failure), "lineWent" (the connection went during the request: a
    // controller drops a source it has no route for), "name", "version"
    // ("major.minor.build"), "adsState" and "deviceState" (16-bit numbers).
    // Reached like linkUp, through the QObject: QMetaObject::invokeMethod.
    Q_INVOKABLE QVariantMap deviceInfo();

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

signals:
    void linkUpChanged(bool up);

private:
    using Target = AddressResolver::Target;
    // Marks a call of the host under way; at its end, a change of the
    // link's state that came during it is posted.
    class CallScope
    {
    public:
        explicit CallScope(LibBeckhoff_ADS &driver);
        ~CallScope();
        CallScope(const CallScope &) = delete;
        CallScope &operator=(const CallScope &) = delete;

    private:
        LibBeckhoff_ADS &m_driver;
        bool m_outer;
    };
    void linkChanged();
    void giveBackAll();
    void postAnnouncement();
    void announceLinkUp();
    bool readVariable(CLabelVariable &answer, const QString &address, DataType type, int count);
    void writeVariable(const QString &address, DataType type, CLabelVariable &value, int count);
    SymbolBinding symbolBinding() const;
    // The value of a reply's data, decoded where it lies.
    using Decoder = std::function<QVariant(const char *data, qint64 size)>;
    // One request at a place, told as the link's outcome.
    LinkOutcome readAt(CLabelVariable &inner, int indexOffset, DataType type, int count, int indexGroup,
                       const QString &address);
    LinkOutcome readDecoded(CLabelVariable &inner, int indexOffset, int indexGroup, qint64 byteLength,
                            const Decoder &decode, const QString &address);
    LinkOutcome writeAt(CLabelVariable &value, int indexOffset, DataType type, int count, int indexGroup,
                        const QString &address);
    LinkOutcome writeBytes(CLabelVariable &value, int indexOffset, int indexGroup, const QByteArray &data,
                           const QString &address);
    // PLC strings by name: the layout comes from the symbol's type name.
    SymbolAccess::Outcome readStrings(CLabelVariable &answer, const QString &name, int count);
    SymbolAccess::Outcome writeStrings(CLabelVariable &value, const QString &name, int count);

    CmdBeckhoff_ADS adsLink;
    int amsPort;
    QString serialPortName;
    int serialBaud;
    int serialDataBits;
    int serialStopBits;
    QString serialParity;
    QString ethIp;
    int ethPort;
    SymbolAccess symbols;
    Subscriptions subscriptions; // reads answered from the controller's pushes
    LinkSettings linkSettings; // addresses and waits from SetConnectPar
    LocalClock clock; // the labels' time stamps
    bool inCall = false;
    bool announcePending = false;
    bool announcePosted = false;
    bool announced = false; // what the host was last told of linkUp
};

#endif // LIBBECKHOFF_ADS_H
