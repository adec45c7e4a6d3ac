// The host's driver: the contract's operations, each turned into an address
// resolved, the refusals, and one request on the link.
#include "driver/LibBeckhoff_ADS.h"

#include "driver/BuildStamp.h"
#include "driver/ConnectParameters.h"
#include "driver/ConnectionText.h"
#include "driver/NoThrow.h"
#include "driver/RequestRefusal.h"
#include "driver/ResultCodes.h"
#include "driver/SymbolName.h"
#include "driver/ValueCodec.h"
#include "link/AdsFrame.h"
#include "link/WireBytes.h"

#include <QDateTime>

#include <climits>

namespace {
const int kDefaultAmsPort = 851;
} // namespace

// The link is a child, so moveToThread of the driver carries the link and its
// sockets along.
LibBeckhoff_ADS::LibBeckhoff_ADS()
    : QObject(nullptr), adsLink(this), amsPort(kDefaultAmsPort), serialBaud(0), serialDataBits(0),
      serialStopBits(0), ethPort(0), symbols(adsLink), subscriptions(adsLink)
{
    ValueCodec::registerListTypes();
    connect(&adsLink, &CmdBeckhoff_ADS::linkUpChanged, this, &LibBeckhoff_ADS::linkChanged);
}

LibBeckhoff_ADS::CallScope::CallScope(LibBeckhoff_ADS &driver) : m_driver(driver), m_outer(!driver.inCall)
{
    m_driver.inCall = true;
}

LibBeckhoff_ADS::CallScope::~CallScope()
{
    if (!m_outer)
        return;
    m_driver.inCall = false;
    if (m_driver.announcePending)
        m_driver.postAnnouncement();
}

// The link's state changed: the host hears of it from its event loop, never
// from inside a call, where a slot of its own might call the driver again.
void LibBeckhoff_ADS::linkChanged()
{
    if (!adsLink.linkUp())
        subscriptions.forgetAll(); // no value outlives its link
    announcePending = true;
    if (!inCall)
        postAnnouncement();
}

// Once: a host that runs no event loop must not collect an event per call.
void LibBeckhoff_ADS::postAnnouncement()
{
    if (announcePosted)
        return;
    announcePosted = true;
    QMetaObject::invokeMethod(this, &LibBeckhoff_ADS::announceLinkUp, Qt::QueuedConnection);
}

void LibBeckhoff_ADS::announceLinkUp()
{
    announcePosted = false;
    if (inCall || !announcePending)
        return; // the call's end posts it again
    announcePending = false;
    if (linkUp() == announced)
        return;
    announced = linkUp();
    emit linkUpChanged(announced);
}

LibBeckhoff_ADS::~LibBeckhoff_ADS() = default;

// ---------------------------------------------------------------- identity

QString LibBeckhoff_ADS::getDriveName()
{
    return QStringLiteral("Beckhoff");
}

QString LibBeckhoff_ADS::getversion_number()
{
    return QStringLiteral("V1.0.1 20230221");
}

QString LibBeckhoff_ADS::DebugCmd(EDebugCmdType cmd)
{
    switch (cmd) {
    case DC_StartDebug: adsLink.debugFlag = true; return QStringLiteral("StartDebug");
    case DC_StopDebug: adsLink.debugFlag = false; return QStringLiteral("StopDebug");
    case DC_Version: return BuildStamp::current();
    case DC_DriveName: return getDriveName();
    }
    return QString();
}

// ---------------------------------------------------------------- connection

// A refused or failed connect leaves the line in use as it was.
int LibBeckhoff_ADS::ConnectDrive(QString connectionText)
{
    if (!adsLink.callerOwnsLink() || adsLink.busy())
        return -1;
    const CallScope call(*this);
    return guarded(
        [&]() {
            int rc = -4;
            switch (ConnectionText::formOf(connectionText)) {
            case ConnectionText::SerialForm: {
                const ConnectionText::Serial s = ConnectionText::serial(connectionText);
                serialPortName = s.portName;
                serialBaud = s.baud;
                serialDataBits = s.dataBits;
                serialStopBits = s.stopBits;
                serialParity = s.parity;
                if (!ConnectionText::acceptable(s))
                    return -1;
                rc = adsLink.serialConnectDrive(serialPortName, serialBaud, serialDataBits, serialStopBits,
                                                serialParity);
                break;
            }
            case ConnectionText::EthernetForm: {
                const ConnectionText::Ethernet e = ConnectionText::ethernet(connectionText);
                ethIp = e.ip;
                ethPort = e.port;
                if (!ConnectionText::acceptable(e))
                    return -1;
                rc = adsLink.EthConnectDrive(ethIp, ethPort);
                break;
            }
            case ConnectionText::NoForm: break;
            }
            return rc;
        },
        -1);
}

// The AMS port as always, or the ADS address and options; -1 with nothing
// changed for a text with a bad part.
int LibBeckhoff_ADS::SetConnectPar(QString parameterText)
{
    // Another thread would change the settings under the owner's request.
    if (!adsLink.callerOwnsLink() || !ConnectParameters::apply(parameterText, &amsPort, &linkSettings))
        return -1;
    adsLink.setSettings(linkSettings);
    subscriptions.configure(linkSettings.notifyMs, linkSettings.notifyMax, linkSettings.replyMs);
    return amsPort;
}

// The handles obtained on the line go back to the controller first.
int LibBeckhoff_ADS::DisConnectDrive()
{
    if (!adsLink.callerOwnsLink())
        return -1;
    const CallScope call(*this);
    return guarded(
        [&]() {
            giveBackAll();
            return adsLink.DisConnectDrive();
        },
        -1);
}

int LibBeckhoff_ADS::DestroyFree()
{
    if (!adsLink.callerOwnsLink())
        return -1;
    const CallScope call(*this);
    return guarded(
        [&]() {
            giveBackAll();
            return adsLink.DestroyFree();
        },
        -1);
}

// The handles and subscriptions of the line in use go back to the
// controller, in one go: without a wait for each reply, at most the reply
// wait in all, nothing when the link is down.
void LibBeckhoff_ADS::giveBackAll()
{
    if (adsLink.busy())
        return;
    adsLink.writeEach(symbols.takeReleases() + subscriptions.takeDeletions());
}

// ---------------------------------------------------------------- the controller

namespace {
bool failed(const LinkOutcome &done, QVariantMap *info)
{
    if (done.result == LinkOk)
        return false;
    info->insert(QStringLiteral("result"), resultCodeOf(done.result));
    if (done.controllerError != 0)
        info->insert(QStringLiteral("adsError"), done.controllerError);
    info->insert(QStringLiteral("reason"), done.reason);
    info->insert(QStringLiteral("lineWent"), done.lineWent);
    return true;
}
} // namespace

QVariantMap LibBeckhoff_ADS::deviceInfo()
{
    QVariantMap info;
    if (!adsLink.callerOwnsLink()) {
        info.insert(QStringLiteral("result"), int(CLabelVariable::RC_LinkDown));
        return info;
    }
    const CallScope call(*this);
    return guarded(
        [&]() {
            QByteArray device;
            if (failed(adsLink.readDeviceInfo(amsPort, &device), &info))
                return info;
            const char *d = device.constData();
            const QByteArray name(d + 4, int(qstrnlen(d + 4, 16)));
            info.insert(QStringLiteral("name"), QString::fromLatin1(name));
            info.insert(
                QStringLiteral("version"),
                QStringLiteral("%1.%2.%3").arg(quint8(d[0])).arg(quint8(d[1])).arg(WireBytes::le16(d + 2)));
            QByteArray state;
            if (failed(adsLink.readState(amsPort, &state), &info))
                return info;
            info.insert(QStringLiteral("adsState"), WireBytes::le16(state.constData()));
            info.insert(QStringLiteral("deviceState"), WireBytes::le16(state.constData() + 2));
            info.insert(QStringLiteral("result"), int(CLabelVariable::RC_Success));
            return info;
        },
        QVariantMap{{QStringLiteral("result"), int(CLabelVariable::RC_BadOffsetOrCount)}});
}

// ---------------------------------------------------------------- addresses

int LibBeckhoff_ADS::getArea(const QString &address)
{
    return AddressResolver::area(address);
}

int LibBeckhoff_ADS::getAddr(const QString &address, AreaType area)
{
    return AddressResolver::offset(address, area);
}

int LibBeckhoff_ADS::getBytelen(DataType type, int count)
{
    const qint64 n = ValueCodec::byteLength(type, count);
    return n >= INT_MIN && n <= INT_MAX ? int(n) : 0;
}

// ---------------------------------------------------------------- read path

CLabelVariable LibBeckhoff_ADS::ReadVariable(QString address, DataType type)
{
    return ReadVariable(address, type, 1);
}

CLabelVariable LibBeckhoff_ADS::ReadVariable(QString address, DataType type, int count)
{
    CLabelVariable answer;
    if (!adsLink.callerOwnsLink()) {
        answer.resultCode = CLabelVariable::RC_LinkDown;
    } else {
        const CallScope call(*this);
        if (!guarded([&]() { return readVariable(answer, address, type, count); }, false)) {
            answer = CLabelVariable();
            answer.auxNumber = 0;
            answer.resultCode = CLabelVariable::RC_BadOffsetOrCount;
        }
    }
    answer.name = address;
    answer.count = count;
    answer.type = type;
    return answer;
}

bool LibBeckhoff_ADS::readVariable(CLabelVariable &answer, const QString &address, DataType type, int count)
{
    subscriptions.beforeCall();
    const Target target = AddressResolver::resolve(address);
    if (const int refused = RequestRefusal::read(target, type, count)) {
        answer.resultCode = refused;
    } else if (target.symbol) {
        const bool typeCheck = linkSettings.typeCheck;
        const SymbolAccess::Outcome done =
            type == DT_String ? readStrings(answer, address, count)
                              : symbols.run(
                                  symbolBinding(), address,
                                  [&](const SymbolFacts &symbol) {
                                      return SymbolAccess::fitsValue(symbol, type, count, typeCheck);
                                  },
                                  [&](const SymbolEntry &place) {
                                      return readAt(answer, int(place.indexOffset), type, count,
                                                    int(place.indexGroup), address);
                                  });
        if (done.refusal) {
            answer.resultCode = done.refusal;
            answer.auxNumber = int(done.controllerError);
            answer.auxText = done.reason;
        }
    } else {
        readAt(answer, target.offset, type, count, target.group, address);
    }
    return true;
}

CLabelVariable LibBeckhoff_ADS::Read_data(int indexOffset, DataType type, int count, int indexGroup,
                                          const QString &address)
{
    CLabelVariable inner;
    readAt(inner, indexOffset, type, count, indexGroup, address);
    return inner;
}

LinkOutcome LibBeckhoff_ADS::readAt(CLabelVariable &inner, int indexOffset, DataType type, int count,
                                    int indexGroup, const QString &address)
{
    if (ValueCodec::elementWidth(type) == 0) {
        inner = CLabelVariable();
        inner.resultCode = CLabelVariable::RC_TypeNotHandled; // no bytes to ask for: nothing sent
        return {LinkOk, 0};
    }
    return readDecoded(
        inner, indexOffset, indexGroup, ValueCodec::byteLength(type, count),
        [type, count](const char *data, qint64 size) { return ValueCodec::decode(type, data, size, count); },
        address);
}

// A read's label carries the controller's own error in auxNumber: reads'
// labels have no other use for it.
LinkOutcome LibBeckhoff_ADS::readDecoded(CLabelVariable &inner, int indexOffset, int indexGroup,
                                         qint64 byteLength, const Decoder &decode, const QString &address)
{
    inner = CLabelVariable();
    // Decoded where the reply lies: the list is the only copy of the data.
    // One captured pointer keeps the callable free of an allocation.
    struct Decoding {
        QVariant *value;
        const Decoder *decode;
        bool done;
    } decoding{&inner.value, &decode, false};
    const auto sink = [&decoding](const char *data, int size) {
        *decoding.value = (*decoding.decode)(data, size);
        decoding.done = true;
    };
    Subscriptions::Place place;
    const QByteArray *pushed = nullptr;
    if (subscriptions.enabled()) {
        place =
            subscriptions.placeOf(amsPort, quint32(indexGroup), quint32(indexOffset), quint32(byteLength));
        // From the controller's latest push, when it may answer: no request.
        // A re-entrant call is not served: the link refuses it below, as it
        // refuses any request then.
        if (!adsLink.busy())
            pushed = subscriptions.serve(place);
    }
    LinkOutcome done{LinkOk, 0};
    if (pushed) {
        sink(pushed->constData(), pushed->size());
    } else {
        done = adsLink.readArea(amsPort, indexGroup, indexOffset, int(byteLength), sink, address);
        if (done.result == LinkOk && subscriptions.enabled()) {
            const bool nameAtPlace = quint32(indexGroup) != AdsFrame::GroupSymbolValueByHandle
                                     && SymbolName::isSymbolPath(address);
            subscriptions.readAnswered(
                place, nameAtPlace ? Subscriptions::NameAtPlace : Subscriptions::Address, address);
        }
    }
    inner.resultCode = resultCodeOf(done.result);
    inner.auxNumber = int(done.controllerError);
    inner.auxText = done.reason; // a read's label says what happened, in English
    if (done.result == LinkOk) {
        inner.timeStamp = clock.now();
        if (!decoding.done)
            inner.value = decode(nullptr, 0);
        if (!inner.value.isValid())
            inner.resultCode = CLabelVariable::RC_TypeNotHandled;
    }
    return done;
}

// A name read as strings: 2 when its symbol is no string type, 5 when the
// strings asked for are more than it holds, both before any data request.
SymbolAccess::Outcome LibBeckhoff_ADS::readStrings(CLabelVariable &answer, const QString &name, int count)
{
    StringCodec::Layout layout;
    const bool typeCheck = linkSettings.typeCheck;
    return symbols.run(
        symbolBinding(), name,
        [&](const SymbolFacts &symbol) {
            return SymbolAccess::holdsStrings(symbol, count, typeCheck, &layout);
        },
        [&](const SymbolEntry &place) {
            return readDecoded(
                answer, int(place.indexOffset), int(place.indexGroup), layout.width() * count,
                [&layout, count](const char *data, qint64 size) {
                    return QVariant::fromValue(StringCodec::decode(layout, data, size, count));
                },
                name);
        });
}

SymbolBinding LibBeckhoff_ADS::symbolBinding() const
{
    SymbolBinding b;
    b.connection = adsLink.connectionSerial();
    b.target = adsLink.targetNetId();
    b.amsPort = amsPort;
    const AdsFrame::AmsAddress source = adsLink.sourceAddress();
    b.source = source.netId;
    b.sourcePort = source.port;
    return b;
}

#define ADS_DECODER(name, T)                                                                                 \
    QVariant LibBeckhoff_ADS::name(const QByteArray &bytes, int count)                                       \
    {                                                                                                        \
        return ValueCodec::decode<T>(bytes, count);                                                          \
    }

ADS_DECODER(set_variant_bool, bool)
ADS_DECODER(set_variant_Int8, char)
ADS_DECODER(set_variant_UInt8, unsigned char)
ADS_DECODER(set_variant_Int16, short)
ADS_DECODER(set_variant_UInt16, unsigned short)
ADS_DECODER(set_variant_Int32, int)
ADS_DECODER(set_variant_UInt32, unsigned int)
ADS_DECODER(set_variant_fload, float)
ADS_DECODER(set_variant_Int64, long long)
ADS_DECODER(set_variant_UInt64, unsigned long long)
ADS_DECODER(set_variant_double, double)

// ---------------------------------------------------------------- write path

CLabelVariable LibBeckhoff_ADS::WriteVariable(QString address, DataType type, CLabelVariable value)
{
    return WriteVariable(address, type, value, 1);
}

CLabelVariable LibBeckhoff_ADS::WriteVariable(QString address, DataType type, CLabelVariable value, int count)
{
    if (!adsLink.callerOwnsLink()) {
        value.resultCode = CLabelVariable::RC_LinkDown;
    } else {
        const CallScope call(*this);
        const bool done = guarded(
            [&]() {
                writeVariable(address, type, value, count);
                return true;
            },
            false);
        if (!done)
            value.resultCode = CLabelVariable::RC_BadOffsetOrCount;
    }
    value.name = address;
    value.count = count;
    value.type = type;
    return value;
}

void LibBeckhoff_ADS::writeVariable(const QString &address, DataType type, CLabelVariable &value, int count)
{
    subscriptions.beforeCall();
    const Target target = AddressResolver::resolve(address);
    int refused = RequestRefusal::write(target, type, count);
    if (!refused && target.symbol)
        refused = RequestRefusal::value(type, count, value); // before any lookup goes out
    if (refused) {
        value.resultCode = refused;
    } else if (target.symbol) {
        const bool typeCheck = linkSettings.typeCheck;
        const SymbolAccess::Outcome done =
            type == DT_String ? writeStrings(value, address, count)
                              : symbols.run(
                                  symbolBinding(), address,
                                  [&](const SymbolFacts &symbol) {
                                      return SymbolAccess::fitsValue(symbol, type, count, typeCheck);
                                  },
                                  [&](const SymbolEntry &place) {
                                      return writeAt(value, int(place.indexOffset), type, count,
                                                     int(place.indexGroup), address);
                                  });
        if (done.refusal)
            value.resultCode = done.refusal;
    } else {
        Write_D(target.offset, type, count, value, target.group, address);
    }
}

void LibBeckhoff_ADS::Write_D(int indexOffset, DataType type, int count, CLabelVariable &value,
                              int indexGroup, const QString &address)
{
    writeAt(value, indexOffset, type, count, indexGroup, address);
}

// Records the outcome in the host's label: its result code and, on
// success, its time stamp.
LinkOutcome LibBeckhoff_ADS::writeAt(CLabelVariable &value, int indexOffset, DataType type, int count,
                                     int indexGroup, const QString &address)
{
    if (const int refused = RequestRefusal::value(type, count, value)) {
        value.resultCode = refused;
        return {LinkOk, 0};
    }
    QByteArray data;
    data.reserve(int(ValueCodec::byteLength(type, count)));
    ValueCodec::encode(type, value.value, count, &data);
    return writeBytes(value, indexOffset, indexGroup, data, address);
}

LinkOutcome LibBeckhoff_ADS::writeBytes(CLabelVariable &value, int indexOffset, int indexGroup,
                                        const QByteArray &data, const QString &address)
{
    LinkOutcome done = adsLink.writeArea(amsPort, indexGroup, indexOffset, data.size(), data, address);
    if (done.result != LinkDown && done.result != LinkBusy)
        subscriptions.wrote(); // sent: what was pushed before may be older than it
    if (done.result == LinkOk)
        value.timeStamp = clock.now();
    value.resultCode = resultCodeOf(done.result);
    return done;
}

// Strings written by name: 2 when the symbol is no string type; 5 when the
// strings asked for are more than it holds, or one of them does not fit its
// element whole (too long, or a character the element cannot carry). Each
// refusal comes before any data request.
SymbolAccess::Outcome LibBeckhoff_ADS::writeStrings(CLabelVariable &value, const QString &name, int count)
{
    StringCodec::Layout layout;
    QByteArray data;
    const QList<QString> strings = value.value.userType() == QMetaType::QStringList
                                       ? QList<QString>(value.value.toStringList())
                                       : value.value.value<QList<QString>>();
    const bool typeCheck = linkSettings.typeCheck;
    return symbols.run(
        symbolBinding(), name,
        [&](const SymbolFacts &symbol) {
            return SymbolAccess::takesStrings(symbol, strings, count, typeCheck, &layout, &data);
        },
        [&](const SymbolEntry &place) {
            return writeBytes(value, int(place.indexOffset), int(place.indexGroup), data, name);
        });
}

#define ADS_ENCODER(name, T)                                                                                 \
    int LibBeckhoff_ADS::name(const CLabelVariable &value, int count, QByteArray *out)                       \
    {                                                                                                        \
        ValueCodec::encode<T>(value.value, count, out);                                                      \
        return 0;                                                                                            \
    }

ADS_ENCODER(Wset_variant_bool, bool)
ADS_ENCODER(Wset_variant_Int8, char)
ADS_ENCODER(Wset_variant_UInt8, unsigned char)
ADS_ENCODER(Wset_variant_Int16, short)
ADS_ENCODER(Wset_variant_uInt16, unsigned short)
ADS_ENCODER(Wset_variant_Int32, int)
ADS_ENCODER(Wset_variant_UInt32, unsigned int)
ADS_ENCODER(Wset_variant_float, float)
ADS_ENCODER(Wset_variant_Int64, long long)
ADS_ENCODER(Wset_variant_UInt64, unsigned long long)
ADS_ENCODER(Wset_variant_double, double)
