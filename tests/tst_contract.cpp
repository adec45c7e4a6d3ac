// The host's contract, seen exactly as a host sees it: this test knows only
// the two public headers, loads the plug-in with dlopen, and calls every
// slot of CDriveBaseClass through the pointer getSharedLibrary returns. Each
// slot answers in a way no other slot would, so a slot out of place fails.
#include "CDriveBaseClass.h"
#include "CLabelVariable.h"

#include <QtTest>

#include <functional>

#include <cstdio>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace {

// A bare controller on loopback: answers ADS Read with the bytes 34 12 34 12
// ... and ADS Write with success, mirroring the request's invoke id.
class BareController
{
public:
    BareController()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        ::listen(m_listener, 1);
        socklen_t len = sizeof addr;
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~BareController()
    {
        ::shutdown(m_listener, SHUT_RDWR);
        ::close(m_listener);
        if (m_client >= 0)
            ::shutdown(m_client, SHUT_RDWR);
        m_thread.join();
    }
    quint16 port() const { return m_port; }
    int requests() const { return m_requests; }

private:
    static bool readAll(int fd, unsigned char *p, size_t n)
    {
        while (n > 0) {
            const ssize_t got = ::read(fd, p, n);
            if (got <= 0)
                return false;
            p += got;
            n -= size_t(got);
        }
        return true;
    }
    void serve()
    {
        m_client = ::accept(m_listener, nullptr, nullptr);
        if (m_client < 0)
            return;
        unsigned char req[65536];
        while (readAll(m_client, req, 6)) {
            const size_t len = req[2] | (req[3] << 8);
            if (len + 6 > sizeof req || !readAll(m_client, req + 6, len))
                break;
            ++m_requests;
            const bool read = req[22] == 2;
            const unsigned n = read ? unsigned(req[46] | (req[47] << 8)) : 0;
            std::vector<unsigned char> reply(38 + (read ? 8 + n : 4), 0);
            const size_t amsLen = reply.size() - 6;
            reply[2] = amsLen & 0xff;
            reply[3] = (amsLen >> 8) & 0xff;
            std::copy(req + 14, req + 22, reply.begin() + 6); // the requester's address
            std::copy(req + 6, req + 14, reply.begin() + 14); // and ours
            reply[22] = req[22];
            reply[24] = 5;
            reply[26] = (amsLen - 32) & 0xff;
            reply[27] = ((amsLen - 32) >> 8) & 0xff;
            std::copy(req + 34, req + 38, reply.begin() + 34);
            if (read) {
                reply[42] = n & 0xff;
                reply[43] = (n >> 8) & 0xff;
                for (unsigned i = 0; i < n; ++i)
                    reply[46 + i] = i % 2 ? 0x12 : 0x34;
            }
            if (::write(m_client, reply.data(), reply.size()) != ssize_t(reply.size()))
                break;
        }
        ::close(m_client);
    }

    int m_listener = -1;
    int m_client = -1;
    quint16 m_port = 0;
    std::atomic<int> m_requests{0};
    std::thread m_thread;
};

CLabelVariable int16Label(QList<short> values)
{
    CLabelVariable v;
    v.value = QVariant::fromValue(values);
    return v;
}

} // namespace

class TestContract : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void exportsOnlyTheEntryPoint();
    void everySlotInItsPlace();
    void driversAreIndependent();
    void firstDriverRegistersEveryListType();

private:
    using Entry = CDriveBaseClass *(*)();
    void *m_handle = nullptr;
    Entry m_entry = nullptr;
};

void TestContract::initTestCase()
{
    const QByteArray path = qgetenv("ADS_PLUGIN");
    QVERIFY2(!path.isEmpty(), "ADS_PLUGIN names the plug-in");
    m_handle = ::dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
    QVERIFY2(m_handle, ::dlerror());
    m_entry = reinterpret_cast<Entry>(::dlsym(m_handle, "getSharedLibrary"));
    QVERIFY(m_entry);
}

void TestContract::exportsOnlyTheEntryPoint()
{
    // Internals stay hidden, so two plug-ins in one host cannot collide.
    QVERIFY(!::dlsym(m_handle, "_ZN15LibBeckhoff_ADSC1Ev"));
    QVERIFY(!::dlsym(m_handle, "_ZN15CmdBeckhoff_ADS9Read_areaEiiiP10QByteArrayi7QString"));
}

void TestContract::everySlotInItsPlace()
{
    CDriveBaseClass *driver = m_entry();
    QVERIFY(driver);
    // Slots 1 to 6 by position, each with an answer no other slot gives.
    struct Row {
        const char *call;
        std::function<QString()> answer;
        QString expected; // null: a null string
    };
    const auto number = [](int n) { return QString::number(n); };
    const Row rows[] = {
        {"1 getDriveName", [&] { return driver->getDriveName(); }, QStringLiteral("Beckhoff")},
        {"2 getversion_number", [&] { return driver->getversion_number(); },
         QStringLiteral("V1.0.1 20230221")},
        {"3 DebugCmd(DC_DriveName)", [&] { return driver->DebugCmd(DC_DriveName); },
         QStringLiteral("Beckhoff")},
        {"3 DebugCmd(DC_StartDebug)", [&] { return driver->DebugCmd(DC_StartDebug); },
         QStringLiteral("StartDebug")},
        {"3 DebugCmd(DC_StopDebug)", [&] { return driver->DebugCmd(DC_StopDebug); },
         QStringLiteral("StopDebug")},
        {"3 DebugCmd(4)", [&] { return driver->DebugCmd(EDebugCmdType(4)); }, QString()},
        {"3 DebugCmd(-1)", [&] { return driver->DebugCmd(EDebugCmdType(-1)); }, QString()},
        {"4 ConnectDrive", [&] { return number(driver->ConnectDrive(QStringLiteral("no separator"))); },
         QStringLiteral("-4")},
        {"5 SetConnectPar", [&] { return number(driver->SetConnectPar(QStringLiteral("852"))); },
         QStringLiteral("852")},
        {"6 DisConnectDrive", [&] { return number(driver->DisConnectDrive()); }, QStringLiteral("1")},
    };
    for (const Row &row : rows) {
        const QString answer = row.answer();
        QVERIFY2(answer == row.expected && answer.isNull() == row.expected.isNull(),
                 qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(row.call), answer)));
    }
    QVERIFY(driver->DebugCmd(DC_Version).startsWith(QStringLiteral("v1.0.2 ")));
    QCOMPARE(driver->DebugCmd(DC_Version), driver->DebugCmd(DC_Version));

    BareController controller;
    QCOMPARE(driver->SetConnectPar(QStringLiteral("851")), 851);
    QCOMPARE(driver->ConnectDrive(QStringLiteral("127.0.0.1:%1").arg(controller.port())), 0);

    const CLabelVariable one = driver->ReadVariable(QStringLiteral("MW10"), DT_Int16); // 7
    QCOMPARE(one.resultCode, 0);
    QCOMPARE(one.count, 1);
    QCOMPARE(one.name, QStringLiteral("MW10"));
    QCOMPARE(one.value.value<QList<short>>(), QList<short>{0x1234});
    QVERIFY(one.timeStamp.isValid());

    const CLabelVariable three = driver->ReadVariable(QStringLiteral("MW10"), DT_Int16, 3); // 8
    QCOMPARE(three.resultCode, 0);
    QCOMPARE(three.count, 3);
    QCOMPARE(three.value.value<QList<short>>(), (QList<short>{0x1234, 0x1234, 0x1234}));

    CLabelVariable written = driver->WriteVariable(QStringLiteral("MW10"), DT_Int16, int16Label({7})); // 9
    QCOMPARE(written.resultCode, 0);
    QCOMPARE(written.count, 1);
    written = driver->WriteVariable(QStringLiteral("MW10"), DT_Int16, int16Label({7, 8}), 2); // 10
    QCOMPARE(written.resultCode, 0);
    QCOMPARE(written.count, 2);
    QCOMPARE(controller.requests(), 4);

    QCOMPARE(driver->DisConnectDrive(), 0);
    QCOMPARE(driver->ReadVariable(QStringLiteral("MW10"), DT_Int16).resultCode, 9);
    QCOMPARE(driver->DestroyFree(), 0); // 11
    QCOMPARE(driver->DestroyFree(), 1);
    delete static_cast<QObject *>(dynamic_cast<void *>(driver));
}

void TestContract::driversAreIndependent()
{
    CDriveBaseClass *a = m_entry();
    CDriveBaseClass *b = m_entry();
    QVERIFY(a != b);
    BareController controller;
    QCOMPARE(a->ConnectDrive(QStringLiteral("127.0.0.1:%1").arg(controller.port())), 0);
    QCOMPARE(a->ReadVariable(QStringLiteral("MB0"), DT_UInt8).resultCode, 0);
    QCOMPARE(b->ReadVariable(QStringLiteral("MB0"), DT_UInt8).resultCode, 9);
    QCOMPARE(b->DestroyFree(), 1);
    QCOMPARE(a->DestroyFree(), 0);
    delete static_cast<QObject *>(dynamic_cast<void *>(a));
    delete static_cast<QObject *>(dynamic_cast<void *>(b));
}

namespace {
// As Qt names them.
const char *const kListTypes[] = {"QList<bool>",      "QList<char>",       "QList<uchar>",  "QList<short>",
                                  "QList<ushort>",    "QList<int>",        "QList<uint>",   "QList<float>",
                                  "QList<qlonglong>", "QList<qulonglong>", "QList<double>", "QList<QString>"};

// In a process of its own, where nothing has touched the types yet: the
// list types a driver hands out are all known to Qt once the first driver
// exists, so threads that then build lists never register one twice.
int freshProcessCheck(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    for (const char *name : kListTypes) {
        if (QMetaType::type(name) != QMetaType::UnknownType)
            return 3; // known already: the check would prove nothing
    }
    void *handle = ::dlopen(qgetenv("ADS_PLUGIN").constData(), RTLD_NOW | RTLD_LOCAL);
    auto entry =
        handle ? reinterpret_cast<CDriveBaseClass *(*)()>(::dlsym(handle, "getSharedLibrary")) : nullptr;
    CDriveBaseClass *driver = entry ? entry() : nullptr;
    if (!driver)
        return 4;
    int missing = 0;
    for (const char *name : kListTypes) {
        if (QMetaType::type(name) == QMetaType::UnknownType) {
            std::fprintf(stderr, "not registered: %s\n", name);
            ++missing;
        }
    }
    delete static_cast<QObject *>(dynamic_cast<void *>(driver));
    return missing == 0 ? 0 : 1;
}
} // namespace

void TestContract::firstDriverRegistersEveryListType()
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ADS_CONTRACT_FRESH_PROCESS"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), QStringList());
    QVERIFY(child.waitForFinished(30000));
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             qPrintable(QStringLiteral("exit %1: %2")
                            .arg(child.exitCode())
                            .arg(QString::fromLocal8Bit(child.readAllStandardError()))));
}

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsSet("ADS_CONTRACT_FRESH_PROCESS"))
        return freshProcessCheck(argc, argv);
    QCoreApplication app(argc, argv);
    TestContract test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_contract.moc"
