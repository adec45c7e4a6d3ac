// The binary contract a host compiles into its own code: the label type's
// layout (public members, passed and returned by value) and the driver
// interface's virtual-table slots (called by position). Changing either
// still compiles everywhere but crashes every host built before it, so the
// tables below are the reference as built on x86-64 Linux. A change that is
// meant must come with a new SOVERSION and package name (see the README).
#include "CDriveBaseClass.h"
#include "CLabelVariable.h"

#include <QtTest>

#include <cstddef>
#include <cstring>
#include <type_traits>
#include <typeinfo>

namespace {
struct Member {
    const char *name;
    std::size_t offset;
    std::size_t size;
    const char *type; // the type's mangled name
};

#define ADS_MEMBER(m)                                                                                        \
    Member                                                                                                   \
    {                                                                                                        \
#m, offsetof(CLabelVariable, m), sizeof(CLabelVariable::m),                                          \
            typeid(decltype(CLabelVariable::m)).name()                                                       \
    }

// The members as this build lays them out, in the order the header
// declares them.
const Member kBuilt[] = {ADS_MEMBER(resultCode), ADS_MEMBER(accessStatus), ADS_MEMBER(value),
                         ADS_MEMBER(timeStamp),  ADS_MEMBER(name),         ADS_MEMBER(count),
                         ADS_MEMBER(type),       ADS_MEMBER(auxNumber),    ADS_MEMBER(auxText)};

// Under the Itanium C++ ABI a pointer to a virtual member function holds one
// plus the slot's byte offset in the virtual table; a non-virtual one holds
// the function's address, which is even.
template <typename Pmf>
int slotOf(Pmf pmf)
{
    static_assert(sizeof(Pmf) == 2 * sizeof(std::ptrdiff_t), "an Itanium pointer to member function");
    std::ptrdiff_t words[2];
    std::memcpy(words, &pmf, sizeof words);
    if ((words[0] & 1) == 0)
        return -1;
    return int((words[0] - 1) / std::ptrdiff_t(sizeof(void *)));
}

using B = CDriveBaseClass;
// The slot of each operation, taken from the header alone: a signature that
// changes no longer matches its cast here and stops this test compiling.
const QHash<QByteArray, int> &builtSlots()
{
    static const QHash<QByteArray, int> table{
        {"getDriveName", slotOf(static_cast<QString (B::*)()>(&B::getDriveName))},
        {"getversion_number", slotOf(static_cast<QString (B::*)()>(&B::getversion_number))},
        {"DebugCmd", slotOf(static_cast<QString (B::*)(EDebugCmdType)>(&B::DebugCmd))},
        {"ConnectDrive", slotOf(static_cast<int (B::*)(QString)>(&B::ConnectDrive))},
        {"SetConnectPar", slotOf(static_cast<int (B::*)(QString)>(&B::SetConnectPar))},
        {"DisConnectDrive", slotOf(static_cast<int (B::*)()>(&B::DisConnectDrive))},
        {"ReadVariable(address,type)",
         slotOf(static_cast<CLabelVariable (B::*)(QString, DataType)>(&B::ReadVariable))},
        {"ReadVariable(address,type,count)",
         slotOf(static_cast<CLabelVariable (B::*)(QString, DataType, int)>(&B::ReadVariable))},
        {"WriteVariable(address,type,value)",
         slotOf(static_cast<CLabelVariable (B::*)(QString, DataType, CLabelVariable)>(&B::WriteVariable))},
        {"WriteVariable(address,type,value,count)",
         slotOf(
             static_cast<CLabelVariable (B::*)(QString, DataType, CLabelVariable, int)>(&B::WriteVariable))},
        {"DestroyFree", slotOf(static_cast<int (B::*)()>(&B::DestroyFree))},
    };
    return table;
}

bool pinnedPlatform()
{
#if defined(__x86_64__) && defined(__LP64__) && defined(__GXX_ABI_VERSION)
    return true;
#else
    return false;
#endif
}
} // namespace

class TestAbi : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void labelSizeAndAlignment();
    void labelMembers_data();
    void labelMembers();
    void labelHasNoHiddenParts();
    void interfaceSlots_data();
    void interfaceSlots();
    void interfaceHasNoOtherVirtuals();
    void enumerationWidths();
};

void TestAbi::init()
{
    if (!pinnedPlatform())
        QSKIP("the reference tables are those of x86-64 Linux (Itanium C++ ABI)");
}

void TestAbi::labelSizeAndAlignment()
{
    QCOMPARE(sizeof(CLabelVariable), std::size_t(64));
    QCOMPARE(alignof(CLabelVariable), std::size_t(8));
}

void TestAbi::labelMembers_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("type");
    const struct {
        const char *name;
        int offset;
        int size;
        const char *type;
    } reference[] = {
        {"resultCode", 0, 4, "i"},          {"accessStatus", 4, 4, "i"}, {"value", 8, 16, "8QVariant"},
        {"timeStamp", 24, 8, "9QDateTime"}, {"name", 32, 8, "7QString"}, {"count", 40, 4, "i"},
        {"type", 44, 4, "8DataType"},       {"auxNumber", 48, 4, "i"},   {"auxText", 56, 8, "7QString"},
    };
    QCOMPARE(std::size(kBuilt), std::size(reference));
    int index = 0;
    for (const auto &r : reference) {
        QTest::newRow(r.name) << index << QByteArray(r.name) << r.offset << r.size << QByteArray(r.type);
        ++index;
    }
}

void TestAbi::labelMembers()
{
    QFETCH(int, index);
    QFETCH(QByteArray, name);
    QFETCH(int, offset);
    QFETCH(int, size);
    QFETCH(QByteArray, type);
    const Member &built = kBuilt[index];
    QCOMPARE(QByteArray(built.name), name);
    QCOMPARE(int(built.offset), offset);
    QCOMPARE(int(built.size), size);
    QCOMPARE(QByteArray(built.type), type);
}

void TestAbi::labelHasNoHiddenParts()
{
    // No base, no virtual table pointer, nothing between or after the
    // members that a host's copy of the type would not know about.
    QVERIFY(!std::is_polymorphic_v<CLabelVariable>);
    std::size_t end = 0;
    for (const Member &m : kBuilt) {
        QVERIFY2(m.offset >= end, m.name);
        end = m.offset + m.size;
    }
    QCOMPARE(end, sizeof(CLabelVariable));
}

void TestAbi::interfaceSlots_data()
{
    QTest::addColumn<QByteArray>("operation");
    QTest::addColumn<int>("slot");
    const char *order[] = {"getDriveName",
                           "getversion_number",
                           "DebugCmd",
                           "ConnectDrive",
                           "SetConnectPar",
                           "DisConnectDrive",
                           "ReadVariable(address,type)",
                           "ReadVariable(address,type,count)",
                           "WriteVariable(address,type,value)",
                           "WriteVariable(address,type,value,count)",
                           "DestroyFree"};
    int slot = 0;
    for (const char *operation : order) {
        QTest::newRow(operation) << QByteArray(operation) << slot;
        ++slot;
    }
}

void TestAbi::interfaceSlots()
{
    QFETCH(QByteArray, operation);
    QFETCH(int, slot);
    QVERIFY2(builtSlots().contains(operation), operation.constData());
    QCOMPARE(builtSlots().value(operation), slot);
}

void TestAbi::interfaceHasNoOtherVirtuals()
{
    // Eleven distinct slots from 0: a virtual destructor or any other
    // virtual declared in front would move them; only the object's own
    // virtual table pointer makes up the interface.
    QSet<int> seen;
    for (int slot : builtSlots())
        seen.insert(slot);
    QCOMPARE(seen.size(), 11);
    QCOMPARE(*std::min_element(seen.begin(), seen.end()), 0);
    QCOMPARE(*std::max_element(seen.begin(), seen.end()), 10);
    QVERIFY(!std::has_virtual_destructor_v<CDriveBaseClass>);
    QCOMPARE(sizeof(CDriveBaseClass), sizeof(void *));
}

void TestAbi::enumerationWidths()
{
    QCOMPARE(sizeof(DataType), std::size_t(4));
    QCOMPARE(sizeof(EDebugCmdType), std::size_t(4));
}

QTEST_GUILESS_MAIN(TestAbi)
#include "tst_abi.moc"
