// The texts of the tools, without processes: typed values at the edges of
// their types, the shortest float texts reading back exactly, adsctl's
// command line and result texts, the symbol table's entries and listing
// (the upload through a controller the test plays behind the driver's
// interface), and the image file and command line of ads-sim.
#include "host/AdsctlOptions.h"
#include "host/JsonText.h"
#include "host/LeafWalk.h"
#include "host/ResultText.h"
#include "host/SymbolBrowser.h"
#include "host/SymbolListing.h"
#include "host/SymbolUpload.h"
#include "host/ValueText.h"
#include "host/WatchLine.h"
#include "link/AdsErrorText.h"
#include "link/AdsLayout.h"
#include "link/DataTypeTable.h"
#include "link/SymbolTable.h"
#include "link/WireBytes.h"
#include "sim/AdsSimOptions.h"
#include "sim/SimImageFile.h"
#include "sim/SimRouter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <cfloat>
#include <cmath>
#include <limits>

namespace {
// One symbol entry as a controller lays it out; `after` stands for the bytes
// newer runtimes add behind the comment.
QByteArray entry(const QByteArray &name, const QByteArray &type = "INT", const QByteArray &comment = "",
                 quint32 group = 0x4020, quint32 offset = 0, quint32 size = 2,
                 const QByteArray &after = QByteArray())
{
    using L = AdsLayout;
    const QByteArray texts = name + '\0' + type + '\0' + comment + '\0' + after;
    char fixed[L::EntryFixedSize] = {0};
    WireBytes::putLe32(fixed + L::EntryLength, quint32(L::EntryFixedSize + texts.size()));
    WireBytes::putLe32(fixed + L::EntryGroup, group);
    WireBytes::putLe32(fixed + L::EntryOffset, offset);
    WireBytes::putLe32(fixed + L::EntrySize, size);
    WireBytes::putLe16(fixed + L::EntryNameLength, quint16(name.size()));
    WireBytes::putLe16(fixed + L::EntryTypeLength, quint16(type.size()));
    WireBytes::putLe16(fixed + L::EntryCommentLength, quint16(comment.size()));
    return QByteArray(fixed, L::EntryFixedSize) + texts;
}

QByteArray with16(QByteArray bytes, int at, quint16 v)
{
    char le[2];
    WireBytes::putLe16(le, v);
    return bytes.replace(at, 2, le, 2);
}

QByteArray with32(QByteArray bytes, int at, quint32 v)
{
    char le[4];
    WireBytes::putLe32(le, v);
    return bytes.replace(at, 4, le, 4);
}

SymbolTable::Symbol symbol(const QString &name, const QString &type = QString(), quint32 size = 1,
                           quint32 group = 0x4020, quint32 offset = 0, const QString &comment = QString())
{
    SymbolTable::Symbol s;
    s.name = name;
    s.typeName = type;
    s.size = size;
    s.group = group;
    s.offset = offset;
    s.comment = comment;
    return s;
}

QStringList namesOf(const QList<SymbolTable::Symbol> &symbols)
{
    QStringList names;
    for (const SymbolTable::Symbol &s : symbols)
        names << s.name;
    return names;
}

// One data type entry, its fields in the order a controller writes them:
// length, version, hashValue, typeHashValue, size, offs, dataType, flags
// (4 bytes each), the lengths of name, type name and comment, arrayDim and
// subItems (2 bytes each), the three texts with a zero after each, the
// dimensions (lower bound, element count), the sub-items, then `after`.
struct TypeBytes {
    QByteArray name;
    QByteArray type;
    QByteArray comment;
    quint32 size = 2;
    quint32 offs = 0;
    quint32 dataType = 2;
    QList<QPair<qint32, quint32>> dims;
    QList<QByteArray> members;
    QByteArray after;
    quint32 flags = 0;
    quint32 version = 1;
    quint32 hash = 0;
    quint32 typeHash = 0;

    QByteArray bytes() const
    {
        QByteArray body;
        const auto le = [&body](quint32 v, int width) {
            for (int i = 0; i < width; ++i)
                body.append(char((v >> (8 * i)) & 0xFF));
        };
        for (const quint32 v : {version, hash, typeHash, size, offs, dataType, flags})
            le(v, 4);
        for (const int v : {name.size(), type.size(), comment.size(), dims.size(), members.size()})
            le(quint32(v), 2);
        body += name + '\0' + type + '\0' + comment + '\0';
        for (const auto &d : dims) {
            le(quint32(d.first), 4);
            le(d.second, 4);
        }
        for (const QByteArray &m : members)
            body += m;
        body += after;
        QByteArray entry;
        for (int i = 0; i < 4; ++i)
            entry.append(char(((body.size() + 4) >> (8 * i)) & 0xFF));
        return entry + body;
    }
};

TypeBytes member(const QByteArray &name, const QByteArray &type, quint32 offs, quint32 size, quint32 id)
{
    TypeBytes m;
    m.name = name;
    m.type = type;
    m.offs = offs;
    m.size = size;
    m.dataType = id;
    return m;
}

// A decoded data type as one line: NAME:TYPE 'COMMENT' size offs id, the
// other fields when set, dimensions, members in braces.
QString described(const DataTypeTable::DataType &t)
{
    QString text = QStringLiteral("%1:%2 '%3' %4 %5 %6")
                       .arg(t.name, t.typeName, t.comment)
                       .arg(t.size)
                       .arg(t.offs)
                       .arg(t.dataType);
    if (t.flags != 0 || t.version != 1 || t.hashValue != 0 || t.typeHashValue != 0)
        text += QStringLiteral(" flags=%1 v=%2 hash=%3/%4")
                    .arg(t.flags)
                    .arg(t.version)
                    .arg(t.hashValue)
                    .arg(t.typeHashValue);
    for (const DataTypeTable::Dimension &d : t.dimensions)
        text += QStringLiteral(" [%1+%2]").arg(d.lowerBound).arg(d.elements);
    if (!t.members.isEmpty()) {
        QStringList members;
        for (const DataTypeTable::DataType &m : t.members)
            members << described(m);
        text += QStringLiteral(" {") + members.join(QStringLiteral("; ")) + QLatin1Char('}');
    }
    return text;
}

QStringList described(const QList<DataTypeTable::DataType> &types)
{
    QStringList texts;
    for (const DataTypeTable::DataType &t : types)
        texts << described(t);
    return texts;
}

// Text in the controller's code page, Windows-1252; every character given
// is one of its 256.
QByteArray codePage(const QString &text)
{
    QByteArray bytes;
    for (const QChar c : text) {
        int b = 0;
        while (b < 255 && SymbolTable::unitOf(quint8(b)) != c.unicode())
            ++b;
        bytes.append(char(b));
    }
    return bytes;
}

// The symbols as a controller's table, and the offsets of their entries in
// the order given.
struct Listed {
    QByteArray table;
    QVector<quint32> entries;

    explicit Listed(const QList<SymbolTable::Symbol> &symbols)
    {
        for (const SymbolTable::Symbol &s : symbols) {
            entries << quint32(table.size());
            table +=
                entry(codePage(s.name), codePage(s.typeName), codePage(s.comment), s.group, s.offset, s.size);
        }
    }
    Listed &select(const QString &pattern)
    {
        SymbolListing::select(table, &entries, pattern);
        return *this;
    }
    QStringList names() const
    {
        QStringList names;
        for (const quint32 at : entries)
            names << SymbolTable::symbolAt(table, at).name;
        return names;
    }
    QString written(bool json) const
    {
        QString text;
        QTextStream out(&text);
        if (json)
            SymbolListing::writeJson(table, entries, out);
        else
            SymbolListing::writeTable(table, entries, out);
        out.flush();
        return text;
    }
};

// A controller behind the driver's interface that serves the symbol upload
// from `table` and writes down every read it is asked for
// ("F00B:400 uint64 128"). A read for other bytes than there are answers as
// a driver does when the reply's length is wrong: 7, with no controller error.
class UploadController final : public CDriveBaseClass
{
public:
    QByteArray table;
    quint32 announced = 0; // the symbol count in the sizes
    qint64 announcedSize = -1; // the table size in them; -1: the table's
    quint32 infoError = 0; // 0xF00F refused with this controller error
    int infoResult = 0; // 0xF00F answered with this result code
    qint64 failAt = -1; // the 0xF00B read at this offset is not answered
    QStringList calls;

    QString getDriveName() override { return QStringLiteral("upload"); }
    QString getversion_number() override { return QString(); }
    QString DebugCmd(EDebugCmdType) override { return QString(); }
    int ConnectDrive(QString) override { return 0; }
    int SetConnectPar(QString) override { return 851; }
    int DisConnectDrive() override { return 0; }
    CLabelVariable ReadVariable(QString address, DataType type) override
    {
        return ReadVariable(address, type, 1);
    }
    CLabelVariable ReadVariable(QString address, DataType type, int count) override
    {
        calls << QStringLiteral("%1 %2 %3").arg(address, ValueText::typeName(type)).arg(count);
        CLabelVariable r;
        r.resultCode = 0;
        const quint32 group = address.section(QLatin1Char(':'), 0, 0).toUInt(nullptr, 16);
        const quint32 offset = address.section(QLatin1Char(':'), 1).toUInt(nullptr, 16);
        QByteArray bytes;
        if (group == 0xF00F && (infoError != 0 || infoResult != 0)) {
            r.resultCode = infoError != 0 ? 7 : infoResult;
            r.auxNumber = qint32(infoError);
            return r;
        }
        if (group == 0xF00F || group == 0xF00C) {
            bytes = QByteArray(group == 0xF00F ? 24 : 8, '\0');
            WireBytes::putLe32(bytes.data(), announced);
            WireBytes::putLe32(bytes.data() + 4, quint32(announcedSize < 0 ? table.size() : announcedSize));
        } else if (group == 0xF00B && qint64(offset) == failAt) {
            r.resultCode = 8;
            return r;
        } else if (group == 0xF00B) {
            bytes = table.mid(int(offset), type == DT_UInt64 ? count * 8 : count);
        }
        if (bytes.size() != (type == DT_UInt64 ? count * 8 : count)) {
            r.resultCode = 7;
            return r;
        }
        if (type == DT_UInt64) {
            QList<unsigned long long> words;
            for (int i = 0; i < count; ++i)
                words << WireBytes::le64(bytes.constData() + 8 * i);
            r.value = QVariant::fromValue(words);
        } else {
            QList<unsigned char> list;
            for (const char b : qAsConst(bytes))
                list << quint8(b);
            r.value = QVariant::fromValue(list);
        }
        return r;
    }
    CLabelVariable WriteVariable(QString, DataType, CLabelVariable) override { return CLabelVariable(); }
    CLabelVariable WriteVariable(QString, DataType, CLabelVariable, int) override { return CLabelVariable(); }
    int DestroyFree() override { return 0; }
};
} // namespace

class TestToolTexts : public QObject
{
    Q_OBJECT
private slots:
    void integerEdges_data();
    void integerEdges();
    void floatTextsReadBackExactly();
    void floatEdges();
    void adsctlConnectPar_data();
    void adsctlConnectPar();
    void adsctlOptionErrors_data();
    void adsctlOptionErrors();
    void adsctlHelpAndVersion();
    void adsErrorTexts_data();
    void adsErrorTexts();
    void adsctlErrorCommand_data();
    void adsctlErrorCommand();
    void errorCodesInTheManualPage();
    void resultTexts_data();
    void resultTexts();
    void watchLines_data();
    void watchLines();
    void connectTexts_data();
    void connectTexts();
    void connectParAnswers_data();
    void connectParAnswers();
    void imageFile();
    void imageFileSymbolTypesAndComments_data();
    void imageFileSymbolTypesAndComments();
    void imageFileErrorsNameTheLine_data();
    void imageFileErrorsNameTheLine();
    void imageFilePortLines_data();
    void imageFilePortLines();
    void simOptions();
    void simOptionErrors_data();
    void simOptionErrors();
    void netIdTexts_data();
    void netIdTexts();
    void stringValues();
    void jsonStrings_data();
    void jsonStrings();
    void adsctlSymbolsAndStringOptions_data();
    void adsctlSymbolsAndStringOptions();
    void symbolTableEntries_data();
    void symbolTableEntries();
    void symbolTableFieldsAndCodePage();
    void symbolTableCutAnywhere();
    void symbolTableUpToALimit_data();
    void symbolTableUpToALimit();
    void dataTypeTableEntries_data();
    void dataTypeTableEntries();
    void symbolListingSelects_data();
    void symbolListingSelects();
    void symbolListingSortsAsTexts();
    void symbolListingTable();
    void symbolListingJson();
    void symbolListingCsv();
    void leafWalk_data();
    void leafWalk();
    void symbolUploadPlan_data();
    void symbolUploadPlan();
    void symbolUploadInPiecesWithProgress();
    void symbolBrowser_data();
    void symbolBrowser();
};

void TestToolTexts::integerEdges_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("low"); // the smallest value that fits
    QTest::addColumn<QString>("high"); // the largest
    QTest::addColumn<QString>("below");
    QTest::addColumn<QString>("above");
    QTest::newRow("int8") << "int8"
                          << "-128"
                          << "127"
                          << "-129"
                          << "128";
    QTest::newRow("uint8") << "uint8"
                           << "0"
                           << "255"
                           << "-1"
                           << "256";
    QTest::newRow("int16") << "int16"
                           << "-32768"
                           << "32767"
                           << "-32769"
                           << "32768";
    QTest::newRow("uint16") << "uint16"
                            << "0"
                            << "65535"
                            << "-1"
                            << "65536";
    QTest::newRow("int32") << "int32"
                           << "-2147483648"
                           << "2147483647"
                           << "-2147483649"
                           << "2147483648";
    QTest::newRow("uint32") << "uint32"
                            << "0"
                            << "4294967295"
                            << "-1"
                            << "4294967296";
    QTest::newRow("int64") << "int64"
                           << "-9223372036854775808"
                           << "9223372036854775807"
                           << "-9223372036854775809"
                           << "9223372036854775808";
    QTest::newRow("uint64") << "uint64"
                            << "0"
                            << "18446744073709551615"
                            << "-1"
                            << "18446744073709551616";
}

void TestToolTexts::integerEdges()
{
    QFETCH(QString, type);
    QFETCH(QString, low);
    QFETCH(QString, high);
    QFETCH(QString, below);
    QFETCH(QString, above);
    const DataType t = ValueText::typeFromName(type);
    QString error;
    const QVariant edges =
        ValueText::parse(t, {low, high, QStringLiteral("+0"), QStringLiteral("0x1F")}, &error);
    QVERIFY2(edges.isValid(), qPrintable(error));
    QCOMPARE(ValueText::elements(t, edges), (QStringList{low, high, "0", "31"}));
    for (const QString &bad :
         {below, above, QStringLiteral("1.0"), QStringLiteral("1e2"), QStringLiteral("0x"),
          QStringLiteral("--1"), QStringLiteral("12abc"), QString()}) {
        error.clear();
        QVERIFY2(!ValueText::parse(t, {QStringLiteral("1"), bad}, &error).isValid(), qPrintable(bad));
        QVERIFY2(error.contains(QStringLiteral("'%1' for %2").arg(bad, type)), qPrintable(error));
    }
}

void TestToolTexts::floatTextsReadBackExactly()
{
    const QList<double> doubles = {0.1,      1.0 / 3,       -2.5e-308, DBL_MAX, DBL_MIN,
                                   4.9e-324, 123456789.125, -0.0,      1e21};
    const QList<float> floats = {0.1f, 1.0f / 3, FLT_MAX, -FLT_MIN, 1.4e-45f, 16777217.0f, 3.14159274f};
    QString error;
    QVariant dv = QVariant::fromValue(doubles);
    const QStringList dTexts = ValueText::elements(DT_Double, dv);
    QCOMPARE(dTexts.first(), QStringLiteral("0.1")); // shortest, not 0.10000000000000001
    const QList<double> dBack = ValueText::parse(DT_Double, dTexts, &error).value<QList<double>>();
    QCOMPARE(dBack.size(), doubles.size());
    for (int i = 0; i < doubles.size(); ++i) {
        QVERIFY2(memcmp(&dBack.at(i), &doubles.at(i), sizeof(double)) == 0, qPrintable(dTexts.at(i)));
    }
    const QStringList fTexts = ValueText::elements(DT_Float, QVariant::fromValue(floats));
    QCOMPARE(fTexts.first(), QStringLiteral("0.1"));
    QCOMPARE(fTexts.at(2), QStringLiteral("3.4028235e+38"));
    const QList<float> fBack = ValueText::parse(DT_Float, fTexts, &error).value<QList<float>>();
    QCOMPARE(fBack.size(), floats.size());
    for (int i = 0; i < floats.size(); ++i)
        QVERIFY2(memcmp(&fBack.at(i), &floats.at(i), sizeof(float)) == 0, qPrintable(fTexts.at(i)));
}

void TestToolTexts::floatEdges()
{
    QString error;
    const QVariant special = ValueText::parse(DT_Double, {"inf", "-inf", "nan", "+2"}, &error);
    QCOMPARE(ValueText::elements(DT_Double, special), (QStringList{"inf", "-inf", "nan", "2"}));
    QCOMPARE(ValueText::jsonArray(DT_Double, special), QStringLiteral("[null,null,null,2]"));
    for (const char *bad : {"3.4028236e38", "1e39", "1e-50", "1,5", "0x10", "", "1.5.2", "+-1"}) {
        error.clear();
        QVERIFY2(!ValueText::parse(DT_Float, {QString::fromLatin1(bad)}, &error).isValid(), bad);
        QVERIFY(!error.isEmpty());
    }
    QVERIFY(!ValueText::parse(DT_Double, {"1e400"}, &error).isValid());
    QVERIFY2(error.contains(QStringLiteral("does not fit a double")), qPrintable(error));
}

void TestToolTexts::adsctlConnectPar_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("text"); // what SetConnectPar is given; empty: not called
    QTest::addColumn<QStringList>("command");
    const QString id = QStringLiteral("5.12.34.56.1.1");
    const QStringList info{"info"};
    const QStringList watch{"watch", "MW0", "int16"};
    QTest::newRow("none") << QStringList{} << "" << info;
    QTest::newRow("port alone, as always") << QStringList{"--ams-port", "852"} << "852" << info;
    QTest::newRow("target alone keeps the port") << QStringList{"--target", id} << "target=" + id << info;
    QTest::newRow("target and port: the address form")
        << QStringList{"--ams-port=851", "--target", id} << id + ":851" << info;
    QTest::newRow("source auto") << QStringList{"--source", "auto"} << "source=auto" << info;
    QTest::newRow("waits at their edges")
        << QStringList{"--connect-ms", "1", "--reply-ms=3600000"} << "connect-ms=1;reply-ms=3600000" << info;
    QTest::newRow("everything") << QStringList{"--reply-ms",   "500",  "--source", "10.1.2.3.1.1",
                                               "--connect-ms", "3000", "--target", "0.255.0.255.0.255",
                                               "--ams-port",   "852"}
                                << "0.255.0.255.0.255:852;source=10.1.2.3.1.1;connect-ms=3000;reply-ms=500"
                                << info;
    QTest::newRow("par as it is") << QStringList{"--par", " 851 ;reconnect-ms=0;bogus"}
                                  << " 851 ;reconnect-ms=0;bogus" << info;
    // A watch without --every reads from the controller's change notifications.
    QTest::newRow("watch subscribes") << QStringList{} << "notify-ms=100" << watch;
    QTest::newRow("watch adds to the options")
        << QStringList{"--ams-port", "852"} << "852;notify-ms=100" << watch;
    QTest::newRow("watch adds to --par")
        << QStringList{"--par", "851;reconnect-ms=0"} << "851;reconnect-ms=0;notify-ms=100" << watch;
    QTest::newRow("watch keeps the host's notify-ms")
        << QStringList{"--par", "851; notify-ms =0"} << "851; notify-ms =0" << watch;
    QTest::newRow("watch with --every asks every time") << QStringList{"--every", "20"} << "" << watch;
    QTest::newRow("read asks every time") << QStringList{} << "" << QStringList{"read", "MW0", "int16"};
}

void TestToolTexts::adsctlConnectPar()
{
    QFETCH(QStringList, options);
    QFETCH(QString, text);
    QFETCH(QStringList, command);
    const AdsctlOptions o =
        AdsctlOptions::parse(QStringList{"--connect", "127.0.0.1:48898"} + options + command);
    QCOMPARE(o.error, QString());
    QCOMPARE(o.connectPar(), text);
}

void TestToolTexts::adsctlOptionErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");
    const QString netId = QStringLiteral("a NetId, six numbers 0 to 255 joined by dots (5.12.34.56.1.1), ");
    for (const char *bad : {"5.12.34.56.1", "5.12.34.56.1.1.1", "5.12.34.56.1.256", "5.12.34.56..1",
                            "+5.12.34.56.1.1", " 5.12.34.56.1.1", "0x5.12.34.56.1.1", "a.b.c.d.e.f",
                            "5,12,34,56,1,1", "1000.1.1.1.1.1", "auto", "١.2.3.4.1.1"}) {
        const QString text = QString::fromUtf8(bad);
        QTest::newRow(qPrintable("target '" + text + "'"))
            << QStringList{"--target", text, "info"} << "--target wants " + netId + "not '" + text + "'";
    }
    for (const char *bad : {"Auto", "10.1.2.3.1", "localhost"})
        QTest::newRow(qPrintable(QStringLiteral("source '%1'").arg(QLatin1String(bad))))
            << QStringList{"--source", bad, "info"}
            << QStringLiteral("--source wants %1or auto, not '%2'").arg(netId, QLatin1String(bad));
    for (const char *key : {"connect-ms", "reply-ms"}) {
        for (const char *bad : {"0", "3600001", "-5", "1.5", "", "x"})
            QTest::newRow(qPrintable(QStringLiteral("%1 '%2'").arg(QLatin1String(key), QLatin1String(bad))))
                << QStringList{QStringLiteral("--%1=%2").arg(QLatin1String(key), QLatin1String(bad)), "info"}
                << QStringLiteral("--%1 wants milliseconds 1 to 3600000, not '%2'")
                       .arg(QLatin1String(key), QLatin1String(bad));
    }
    QTest::newRow("par empty") << QStringList{"--par=", "info"} << "--par needs a parameter text";
    QTest::newRow("target without value")
        << QStringList{"--target", "--trace", "info"} << "--target needs a value";
    for (const char *other :
         {"ams-port=851", "target=1.2.3.4.1.1", "source=auto", "connect-ms=5", "reply-ms=5"}) {
        const QString option = QString::fromLatin1(other).section(QLatin1Char('='), 0, 0);
        QTest::newRow(qPrintable("par with " + option))
            << QStringList{"--" + QString::fromLatin1(other), "read", "MW0", "int16", "--par", "851"}
            << QStringLiteral("--par and --%1 do not mix: --par goes to SetConnectPar as it is, so write "
                              "what --%1 says in its text")
                   .arg(option);
    }
}

void TestToolTexts::adsctlOptionErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    QCOMPARE(AdsctlOptions::parse(args).error, error);
}

void TestToolTexts::adsctlHelpAndVersion()
{
    // --version wins over the rest of the line but keeps the plug-in to ask.
    AdsctlOptions o = AdsctlOptions::parse({"--plugin", "/x/p.so", "read", "MW0", "--version"});
    QCOMPARE(o.error, QString());
    QCOMPARE(o.command, AdsctlOptions::Version);
    QCOMPARE(o.pluginPath, QStringLiteral("/x/p.so"));
    o = AdsctlOptions::parse({"--version", "--help"});
    QCOMPARE(o.command, AdsctlOptions::Help);
    o = AdsctlOptions::parse({"--version=1"});
    QCOMPARE(o.error, QStringLiteral("--version takes no value"));

    // Every option the parser takes is in --help, and every address form.
    const QString usage = AdsctlOptions::usage();
    for (const char *option :
         {"--connect ", "--ams-port ", "--target ", "--source ", "--connect-ms ", "--reply-ms ", "--par ",
          "--json ", "--every ", "--times ", "--trace ", "--plugin ", "--version ", "--help "}) {
        QVERIFY2(usage.contains(QLatin1String(option)), option);
        const QString name = QString::fromLatin1(option).trimmed();
        QVERIFY2(!AdsctlOptions::parse({name + "=1"}).error.startsWith(QStringLiteral("unknown option")),
                 option);
    }
    for (const char *address : {"MB20", "MW20", "MX10.3", "IB/IW/IX", "QB/QW/QX", "F030:10", "MAIN.nCounter",
                                "GVL.aTemps[3]", ".bRun"})
        QVERIFY2(usage.contains(QLatin1String(address)), address);
}

void TestToolTexts::adsErrorTexts_data()
{
    QTest::addColumn<quint32>("code");
    QTest::addColumn<QString>("reported");
    const QString ads = QStringLiteral("the controller reported ADS error ");
    QTest::newRow("0x1") << 0x1u << ads + "0x1: internal error";
    QTest::newRow("0x6") << 0x6u
                         << ads + "0x6: target port not found: no ADS server (runtime) on that AMS port";
    QTest::newRow("0x7") << 0x7u << ads + "0x7: target machine not found: no AMS route to that NetId";
    QTest::newRow("0x1e") << 0x1Eu << ads + "0x1e: access denied: secure ADS refused the access";
    QTest::newRow("0x50d") << 0x50Du << ads + "0x50d: router: port removed";
    QTest::newRow("0x700") << 0x700u << ads + "0x700: general device error";
    QTest::newRow("0x701") << 0x701u << ads + "0x701: service not supported by the server";
    QTest::newRow("0x705") << 0x705u << ads + "0x705: parameter size not correct";
    QTest::newRow("0x70a") << 0x70Au << ads + "0x70a: out of memory";
    QTest::newRow("0x710") << 0x710u << ads + "0x710: symbol not found";
    QTest::newRow("0x745") << 0x745u << ads + "0x745: timeout: the remote device did not answer in time";
    QTest::newRow("0x755") << 0x755u << ads + "0x755: sync port locked";
    const QString other = QStringLiteral("the controller reported error ");
    QTest::newRow("0 is no code") << 0x0u << other + "0x0";
    QTest::newRow("just after the router's") << 0x1Fu << other + "0x1f";
    QTest::newRow("between the ranges") << 0x73Au << other + "0x73a";
    QTest::newRow("just after the client's") << 0x756u << other + "0x756";
    QTest::newRow("0x1234") << 0x1234u << other + "0x1234";
    QTest::newRow("all bits") << 0xFFFFFFFFu << other + "0xffffffff";
}

void TestToolTexts::adsErrorTexts()
{
    QFETCH(quint32, code);
    QFETCH(QString, reported);
    QCOMPARE(AdsErrorText::reported(code), reported);
    // Every code of the ranges a controller commonly answers is found: a
    // table out of order would lose some of them to the search.
    for (const auto &range : {qMakePair(0x1u, 0x1Eu), qMakePair(0x500u, 0x50Du), qMakePair(0x700u, 0x739u),
                              qMakePair(0x740u, 0x749u), qMakePair(0x750u, 0x755u)}) {
        for (quint32 c = range.first; c <= range.second; ++c)
            QVERIFY2(!AdsErrorText::meaning(c).isEmpty(), qPrintable(QString::number(c, 16)));
    }
}

void TestToolTexts::adsctlErrorCommand_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("line");
    const QString usage = QStringLiteral("usage: adsctl error CODE, CODE hex (0x705) or decimal (1797)");
    QTest::newRow("hex") << QStringList{"error", "0x705"} << ""
                         << "0x705 (1797): parameter size not correct";
    QTest::newRow("decimal") << QStringList{"error", "1797"} << ""
                             << "0x705 (1797): parameter size not correct";
    QTest::newRow("a leading zero is decimal") << QStringList{"error", "01797"} << ""
                                               << "0x705 (1797): parameter size not correct";
    QTest::newRow("upper-case hex") << QStringList{"error", "0X70A"} << ""
                                    << "0x70a (1802): out of memory";
    QTest::newRow("a router code")
        << QStringList{"error", "6"} << ""
        << "0x6 (6): target port not found: no ADS server (runtime) on that AMS port";
    QTest::newRow("unknown") << QStringList{"error", "0x1234"} << ""
                             << "0x1234 (4660): unknown code";
    QTest::newRow("zero") << QStringList{"error", "0"} << ""
                          << "0x0 (0): unknown code";
    QTest::newRow("32 bits") << QStringList{"error", "4294967295"} << ""
                             << "0xffffffff (4294967295): unknown code";
    QTest::newRow("past 32 bits") << QStringList{"error", "4294967296"} << usage + ", not '4294967296'"
                                  << "";
    QTest::newRow("past 32 bits, hex") << QStringList{"error", "0x100000000"} << usage + ", not '0x100000000'"
                                       << "";
    for (const char *bad : {"abc", "-1", "0x", "12abc", " 12", "0x-5", "1e3", ""})
        QTest::newRow(qPrintable(QStringLiteral("'%1'").arg(QLatin1String(bad))))
            << QStringList{"error", bad} << usage + QStringLiteral(", not '%1'").arg(QLatin1String(bad))
            << "";
    QTest::newRow("no code") << QStringList{"error"} << usage << "";
    QTest::newRow("two codes") << QStringList{"error", "1", "2"} << usage + "; '2' is one too many"
                               << "";
    QTest::newRow("json") << QStringList{"error", "1", "--json"}
                          << "--json is for read, watch and symbols only"
                          << "";
}

void TestToolTexts::adsctlErrorCommand()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    QFETCH(QString, line);
    const AdsctlOptions o = AdsctlOptions::parse(args);
    QCOMPARE(o.error, error);
    if (error.isEmpty()) {
        QCOMPARE(o.command, AdsctlOptions::Error);
        QCOMPARE(AdsErrorText::line(o.errorCode), line);
    }
}

// The manual page lists every code of the table with its meaning, and no other.
void TestToolTexts::errorCodesInTheManualPage()
{
    QFile page(QStringLiteral(ADS_SOURCE_DIR "/packaging/man/adsctl.1"));
    QVERIFY(page.open(QIODevice::ReadOnly | QIODevice::Text));
    const QString text = QString::fromUtf8(page.readAll()).replace(QLatin1String("\\-"), QLatin1String("-"));
    const int start = text.indexOf(QLatin1String("\n.SH ERROR CODES\n"));
    QVERIFY(start >= 0);
    const int end = text.indexOf(QLatin1String("\n.SH "), start + 1);
    static const QRegularExpression row(QStringLiteral("^(0x[0-9a-f]+)\\s+(\\S.*)$"));
    QStringList listed;
    for (const QString &line : text.mid(start, end - start).split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = row.match(line);
        if (m.hasMatch())
            listed << m.captured(1) + QLatin1Char(' ') + m.captured(2);
    }
    QStringList table;
    for (const quint32 code : AdsErrorText::codes())
        table << QStringLiteral("0x%1 %2").arg(code, 0, 16).arg(AdsErrorText::meaning(code));
    QCOMPARE(listed, table);
}

void TestToolTexts::resultTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<quint32>("controllerError");
    QTest::addColumn<QString>("text");
    QTest::newRow("success") << 0 << 0u << "0: success";
    QTest::newRow("bad offset")
        << 5 << 0u
        << "5: negative offset, count too large, or fewer values than the count, or a "
           "string that does not fit (too long, a character its code page lacks, a "
           "zero inside)";
    QTest::newRow("busy") << 6 << 0u
                          << "6: busy: another request of this driver is waiting for its reply; nothing sent";
    QTest::newRow("wrong reply") << 7 << 0u << "7: wrong reply, or the controller reported an error";
    QTest::newRow("controller's error")
        << 7 << 0x710u << "7: the controller reported ADS error 0x710: symbol not found";
    QTest::newRow("controller's unknown error") << 7 << 0x1234u << "7: the controller reported error 0x1234";
    QTest::newRow("no reply") << 8 << 0u << "8: no reply";
    // Only 7 is the controller's answer; another code keeps its own text.
    QTest::newRow("link down") << 9 << 0x710u << "9: link down, nothing sent";
    QTest::newRow("unknown") << 10 << 0u << "10: unknown result code";
}

void TestToolTexts::resultTexts()
{
    QFETCH(int, code);
    QFETCH(quint32, controllerError);
    QFETCH(QString, text);
    QCOMPARE(ResultText::ofRead(code, controllerError), text);
    QCOMPARE(ResultText::readMeaning(code, controllerError), text.section(QStringLiteral(": "), 1));
    if (controllerError == 0)
        QCOMPARE(ResultText::ofResult(code), text);
}

void TestToolTexts::watchLines_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("auxNumber");
    QTest::addColumn<QString>("auxText");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("text"); // after the stamp and a blank
    QTest::addColumn<QString>("json"); // after {"time":"T",
    const QVariant none;
    QTest::newRow("values") << int(DT_Int16) << 0 << 0 << "" << QVariant::fromValue(QList<short>{1, -2})
                            << "1 -2"
                            << "\"result\":0,\"values\":[1,-2]}";
    // A success's auxNumber and auxText are no failure's.
    QTest::newRow("strings, a success with stray aux fields")
        << int(DT_String) << 0 << 0x710 << "stale" << QVariant::fromValue(QList<QString>{"a b", ""})
        << "\"a b\" \"\""
        << "\"result\":0,\"values\":[\"a b\",\"\"]}";
    QTest::newRow("no reply, with the driver's reason")
        << int(DT_Int16) << 8 << 0 << "no reply within 2050 ms" << none
        << "8: no reply (no reply within 2050 ms)"
        << "\"result\":8,\"error\":\"no reply\",\"reason\":\"no reply within 2050 ms\"}";
    QTest::newRow("the controller's code")
        << int(DT_Int32) << 7 << 0x710 << "controller error 0x710: symbol not found" << none
        << "7: the controller reported ADS error 0x710: symbol not found (controller error 0x710: symbol not "
           "found)"
        << "\"result\":7,\"error\":\"the controller reported ADS error 0x710: symbol not "
           "found\",\"adsError\":1808,\"reason\":\"controller error 0x710: symbol not found\"}";
    QTest::newRow("no reason given") << int(DT_Int16) << 9 << 0 << "" << none << "9: link down, nothing sent"
                                     << "\"result\":9,\"error\":\"link down, nothing sent\"}";
    QTest::newRow("a reason to escape")
        << int(DT_Int16) << 7 << 0 << "a \"quoted\" %1 word" << none
        << "7: wrong reply, or the controller reported an error (a \"quoted\" %1 word)"
        << "\"result\":7,\"error\":\"wrong reply, or the controller reported an error\",\"reason\":\"a "
           "\\\"quoted\\\" %1 word\"}";
}

// One line of watch's story from one read's label, as text and as JSON.
void TestToolTexts::watchLines()
{
    QFETCH(int, type);
    QFETCH(int, code);
    QFETCH(int, auxNumber);
    QFETCH(QString, auxText);
    QFETCH(QVariant, value);
    QFETCH(QString, text);
    QFETCH(QString, json);
    CLabelVariable read;
    read.resultCode = code;
    read.auxNumber = auxNumber;
    read.auxText = auxText;
    read.value = value;
    const QString stamp = QStringLiteral("2026-03-01T10:00:00.125");
    QCOMPARE(WatchLine::text(stamp, DataType(type), read), stamp + " " + text);
    const QString line = WatchLine::json(stamp, DataType(type), read);
    QCOMPARE(line, "{\"time\":\"" + stamp + "\"," + json);
    QJsonParseError error{};
    const QJsonObject parsed = QJsonDocument::fromJson(line.toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(parsed.value(QStringLiteral("result")).toInt(-1), code);
    QCOMPARE(parsed.contains(QStringLiteral("values")), code == 0);
    QCOMPARE(parsed.value(QStringLiteral("reason")).toString(), code == 0 ? QString() : auxText);
}

void TestToolTexts::connectTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("connectionText");
    QTest::addColumn<QString>("text");
    const QString generic =
        QStringLiteral("-1: a field is missing, out of range or unsupported, or the port cannot be opened");
    const QString name =
        QStringLiteral("-1: '%1' is a host name, and names are not looked up: give a numeric "
                       "address (%2)");
    QTest::newRow("localhost") << -1 << "localhost:48898" << name.arg("localhost", "127.0.0.1:48898");
    QTest::newRow("LocalHost") << -1 << "LocalHost:851" << name.arg("LocalHost", "127.0.0.1:851");
    QTest::newRow("a name") << -1 << "plc-7.example:48898"
                            << name.arg("plc-7.example", "the controller's IP address, IP:PORT");
    QTest::newRow("numeric out of range") << -1 << "300.1.1.1:48898" << generic;
    QTest::newRow("port out of range") << -1 << "127.0.0.1:70000" << generic;
    QTest::newRow("serial port with letters") << -1 << "/dev/ttyUSB9,9600,8,1,N" << generic;
    QTest::newRow("no host") << -1 << ":48898" << generic;
    QTest::newRow("a name that connected") << 0 << "localhost:48898"
                                           << "0: connected";
    QTest::newRow("no separator") << -4 << "localhost"
                                  << "-4: the connection text has no separator (':' for Ethernet, ',' for "
                                     "serial)";
    QTest::newRow("no connection") << -3 << "127.0.0.1:1"
                                   << "-3: no TCP connection";
}

void TestToolTexts::connectTexts()
{
    QFETCH(int, code);
    QFETCH(QString, connectionText);
    QFETCH(QString, text);
    QCOMPARE(ResultText::ofConnect(code, connectionText), text);
}

void TestToolTexts::connectParAnswers_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("text");
    QTest::newRow("refused") << -1
                             << "SetConnectPar(\"bogus=1\") answered -1: an unknown key, a bad NetId or a "
                                "value out of range; nothing changed";
    QTest::newRow("no port") << 0
                             << "SetConnectPar(\"bogus=1\") answered 0: the driver read no AMS port in it";
    QTest::newRow("another port")
        << 851 << "SetConnectPar(\"bogus=1\") answered 851: AMS port 851 in force, not the one asked for";
}

void TestToolTexts::connectParAnswers()
{
    QFETCH(int, answer);
    QFETCH(QString, text);
    QCOMPARE(ResultText::ofConnectPar(answer, QStringLiteral("bogus=1")), text);
}

void TestToolTexts::imageFile()
{
    QString error = QStringLiteral("stale");
    const QList<SimImageFile::Entry> entries = SimImageFile::parse("# memory\n"
                                                                   "4020 10 34 12 56 # M\r\n"
                                                                   "   \n"
                                                                   "0xf030\t0X2 A f\n",
                                                                   &error);
    QCOMPARE(error, QString());
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries.at(0).group, 0x4020u);
    QCOMPARE(entries.at(0).offset, 0x10u);
    QCOMPARE(entries.at(0).bytes, QByteArray::fromHex("341256"));
    QCOMPARE(entries.at(1).group, 0xF030u);
    QCOMPARE(entries.at(1).offset, 2u);
    QCOMPARE(entries.at(1).bytes, QByteArray::fromHex("0a0f"));

    const QList<SimImageFile::Entry> symbols =
        SimImageFile::parse("symbol MAIN.nCounter 4020 100 4 DINT\n"
                            "symbol GVL.a 0x4020 200 40 ARRAY [0..9] OF REAL\n"
                            "symbol .bRun F030 4 1\n"
                            "symbol _n 4020 0 1\n"
                            "symbol GVL.a[3].b_2 4020 0 1\n"
                            "symbol GVL.m[1,2] 4020 0 1\n"
                            "F021 7 00 01 1 0\n",
                            &error);
    QCOMPARE(error, QString());
    QCOMPARE(symbols.size(), 7);
    QCOMPARE(symbols.at(6).bytes, QByteArray::fromHex("00010100"));
    QVERIFY(symbols.at(0).isSymbol);
    QCOMPARE(symbols.at(0).symbol.name, QStringLiteral("MAIN.nCounter"));
    QCOMPARE(symbols.at(0).symbol.offset, 0x100u);
    QCOMPARE(symbols.at(1).symbol.size, 40u); // sizes are decimal
    QCOMPARE(symbols.at(1).symbol.typeName, QStringLiteral("ARRAY [0..9] OF REAL"));
    QCOMPARE(symbols.at(2).symbol.group, 0xF030u);
    QVERIFY(symbols.at(2).symbol.typeName.isEmpty());

    // Structure types, each with its members, before the symbols that use them.
    const QList<SimImageFile::Entry> typed =
        SimImageFile::parse("type ST_Motor 8 // a drive\n"
                            "  member nSpeed 0 2 INT   // rpm, at most 3000\n"
                            "  member fPos 0x4 4 REAL  # no comment\n"
                            "end\n"
                            "type ST_Axis 0x1c\n",
                            &error);
    QVERIFY2(error.startsWith(QStringLiteral("line 5: '0x1c' is not a size")), qPrintable(error));
    QVERIFY(typed.isEmpty());
    const QList<SimImageFile::Entry> types =
        SimImageFile::parse("type ST_Motor 8 // a drive\n"
                            "  member nSpeed 0 2 INT   // rpm, at most 3000\n"
                            "  member fPos 0x4 4 REAL  # no comment\n"
                            "end\n"
                            "port 852\n"
                            "type ST_Axis 28\n"
                            "member aMotors 0 24 ARRAY [1..3] OF st_motor\n"
                            "member stDrive 18 4 ST_Drive\n"
                            "end\n"
                            "symbol GVL.aAxes 4020 200 56 ARRAY [0..1] OF ST_Axis\n",
                            &error);
    QCOMPARE(error, QString());
    QCOMPARE(types.size(), 3);
    QVERIFY(types.at(0).isType && !types.at(0).isSymbol);
    const SimStructType &motor = types.at(0).type;
    QCOMPARE(motor.name, QStringLiteral("ST_Motor"));
    QCOMPARE(motor.size, 8u);
    QCOMPARE(motor.comment, QStringLiteral("a drive"));
    QCOMPARE(motor.members.size(), 2);
    QCOMPARE(motor.members.at(0).comment, QStringLiteral("rpm, at most 3000"));
    QCOMPARE(motor.members.at(1).offset, 4u);
    QCOMPARE(motor.members.at(1).typeName, QStringLiteral("REAL"));
    QCOMPARE(types.at(1).amsPort, 852);
    // A type it does not know (ST_Drive here) is taken as it is, of any size.
    QCOMPARE(types.at(1).type.members.at(1).offset, 0x18u);
    QCOMPARE(types.at(2).symbol.typeName, QStringLiteral("ARRAY [0..1] OF ST_Axis"));
}

void TestToolTexts::imageFileSymbolTypesAndComments_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<quint32>("size");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("comment");

    QTest::newRow("string") << QByteArray("symbol MAIN.sName 4040 400 81 STRING(80)") << 81u << "STRING(80)"
                            << "";
    QTest::newRow("wide string") << QByteArray("symbol MAIN.wsName 4040 500 162 WSTRING(80)") << 162u
                                 << "WSTRING(80)"
                                 << "";
    QTest::newRow("array of strings")
        << QByteArray("symbol GVL.aNames 4040 600 324 ARRAY [0..3] OF STRING(80)") << 324u
        << "ARRAY [0..3] OF STRING(80)"
        << "";
    QTest::newRow("array of wide strings")
        << QByteArray("symbol GVL.aW 4040 800 44 ARRAY [1..2] OF WSTRING(10)") << 44u
        << "ARRAY [1..2] OF WSTRING(10)"
        << "";
    QTest::newRow("comment after the type")
        << QByteArray("symbol GVL.aTemps 4020 200 40 ARRAY [0..9] OF REAL   // hall,  in 0.1 degC\r") << 40u
        << "ARRAY [0..9] OF REAL"
        << "hall,  in 0.1 degC";
    QTest::newRow("comment without a type") << QByteArray("symbol .bRun F030 4 1 //the line runs") << 1u << ""
                                            << "the line runs";
    QTest::newRow("comment ends at #")
        << QByteArray("symbol A.b 4020 0 2 INT // set point # not kept") << 2u << "INT"
        << "set point";
    QTest::newRow("empty comment") << QByteArray("symbol A.b 4020 0 2 INT //") << 2u << "INT"
                                   << "";
    QTest::newRow("slashes in a comment")
        << QByteArray("symbol A.b 4020 0 2 INT // m/s // or km/h") << 2u << "INT"
        << "m/s // or km/h";
    QTest::newRow("bytes beyond ASCII") << QByteArray("symbol A.b 4020 0 2 INT // \xb0"
                                                      "C")
                                        << 2u << "INT"
                                        << QString::fromLatin1("\xb0"
                                                               "C");
}

void TestToolTexts::imageFileSymbolTypesAndComments()
{
    QFETCH(QByteArray, line);
    QFETCH(quint32, size);
    QFETCH(QString, type);
    QFETCH(QString, comment);
    QString error;
    const QList<SimImageFile::Entry> entries = SimImageFile::parse(line + '\n', &error);
    QCOMPARE(error, QString());
    QCOMPARE(entries.size(), 1);
    QVERIFY(entries.first().isSymbol);
    QCOMPARE(entries.first().symbol.size, size);
    QCOMPARE(entries.first().symbol.typeName, type);
    QCOMPARE(entries.first().symbol.comment, comment);
}

void TestToolTexts::imageFileErrorsNameTheLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("error");
    QTest::newRow("no bytes") << QByteArray("4020 0 1\n\n4020 10\n") << "line 3: expected GROUP OFFSET BYTE";
    QTest::newRow("bad byte") << QByteArray("4020 0 100\n") << "line 1: '100' is not a hex byte";
    QTest::newRow("bad group") << QByteArray("# x\nM 0 1\n") << "line 2: 'M' is not a hex index group";
    QTest::newRow("group past 32 bits") << QByteArray("100000000 0 1\n") << "line 1: '100000000'";
    QTest::newRow("signed offset") << QByteArray("4020 -1 1\n") << "line 1: '-1' is not a hex offset";
    QTest::newRow("past the image") << QByteArray("4020 3ffffff 1 2\n") << "line 1: ends past";
    QTest::newRow("zero byte in a byte") << QByteArray("4020 0 1\0 2\n", 12) << "line 1: '1";
    QTest::newRow("symbol without size")
        << QByteArray("symbol A.b 4020 0\n") << "line 1: expected symbol NAME";
    QTest::newRow("symbol size zero") << QByteArray("symbol A.b 4020 0 0\n") << "line 1: '0' is not a size";
    QTest::newRow("symbol bad group")
        << QByteArray("symbol A.b G 0 4\n") << "line 1: 'G' is not a hex index group";
    QTest::newRow("symbol size in the comment")
        << QByteArray("symbol A.b 4020 0 // 4 INT\n") << "line 1: expected symbol NAME";
    QTest::newRow("comment past 16 bits")
        << (QByteArray("symbol A.b 4020 0 4 INT // ") + QByteArray(65536, 'c') + '\n')
        << "line 1: the comment is 65536 bytes; an entry holds at most 65535";
    QTest::newRow("type name past 16 bits")
        << (QByteArray("\nsymbol A.b 4020 0 4 ") + QByteArray(65536, 'T') + '\n')
        << "line 2: the type name is 65536 bytes";
    const QByteArray motor = "type ST_Motor 8\nmember nSpeed 0 2 INT\nmember fPos 4 4 REAL\nend\n";
    QTest::newRow("member outside a type")
        << QByteArray("member n 0 2 INT\n") << "line 1: member outside a type (type NAME SIZE first)";
    QTest::newRow("end without a type")
        << QByteArray("4020 0 01\nend\n") << "line 2: end outside a type (type NAME SIZE first)";
    QTest::newRow("type without end")
        << QByteArray("\ntype ST_A 4\nmember n 0 2 INT\n") << "line 2: type ST_A has no end";
    QTest::newRow("type inside a type")
        << QByteArray("type ST_A 4\ntype ST_B 4\n") << "line 2: type inside type ST_A, which has no end yet";
    QTest::newRow("a data line inside a type")
        << QByteArray("type ST_A 4\n4020 0 01\n") << "line 2: expected member NAME OFFSET SIZE TYPE or end";
    QTest::newRow("type without members")
        << QByteArray("type ST_A 4\nend\n") << "line 2: type ST_A has no members";
    QTest::newRow("type size zero") << QByteArray("type ST_A 0\n") << "line 1: '0' is not a size in bytes";
    QTest::newRow("type name") << QByteArray("type ST.A 4\n") << "line 1: 'ST.A' is not a type name";
    QTest::newRow("member without a type")
        << QByteArray("type ST_A 4\nmember n 0 2\n") << "line 2: expected member NAME OFFSET SIZE TYPE";
    QTest::newRow("member past the structure")
        << QByteArray("type ST_A 4\nmember n 3 2 INT\n")
        << "line 2: member n (at 0x3, 2 bytes) ends past the 4 bytes of ST_A";
    QTest::newRow("member offset in hex")
        << QByteArray("type ST_A 16\nmember n 10 2 INT\n") << "line 2: member n (at 0x10, 2 bytes) ends past";
    QTest::newRow("member twice") << QByteArray("type ST_A 4\nmember n 0 2 INT\nmember N 2 2 INT\n")
                                  << "line 3: member N appears twice in ST_A";
    QTest::newRow("structure within itself") << QByteArray("type ST_A 8\nmember a 0 8 ARRAY [0..1] OF st_a\n")
                                             << "line 2: member a: ST_A cannot hold itself";
    QTest::newRow("member of a structure's size")
        << motor + "type ST_Axis 16\nmember m 0 6 ST_Motor\n"
        << "line 6: member m: 6 bytes do not hold a ST_Motor of 8 bytes";
    QTest::newRow("member array of structures' size")
        << motor + "type ST_Axis 32\nmember m 0 16 ARRAY [1..3] OF ST_Motor\n"
        << "line 6: member m: 16 bytes do not hold 3 ST_Motor of 8 bytes each";
    QTest::newRow("symbol of a structure's size") << motor + "symbol MAIN.st 4020 0 4 ST_Motor\n"
                                                  << "line 5: 4 bytes do not hold a ST_Motor of 8 bytes";
    QTest::newRow("structure after its use") << QByteArray("symbol MAIN.st 4020 0 8 ST_Motor\n") + motor
                                             << "line 2: type ST_Motor comes after a member or symbol of it";
    QTest::newRow("structure twice") << motor + motor << "line 5: type ST_Motor is declared twice";
    QTest::newRow("no comment on a data line")
        << QByteArray("4020 0 01 // one\n") << "line 1: '//' is not a hex byte";
    const char *notAName = " is not a symbol name (identifiers joined by dots";
    const QList<const char *> badNames = {"1bad",       "A..b", "A.",    "..A",       "A.b[1", "A.b[x]",
                                          "A.b[1,2,3]", "A-b",  "A.b[]", "A.b[1][2]", "A.1b",  "Ä.b"};
    for (const char *name : badNames)
        QTest::newRow(qPrintable(QStringLiteral("symbol name %1").arg(QString::fromUtf8(name))))
            << QByteArray("4020 0 1\nsymbol ") + name + " 4020 0 4 INT\n"
            << QStringLiteral("line 2: '%1'").arg(QString::fromUtf8(name)) + notAName;
    QTest::newRow("bit 02") << QByteArray("4021 0 01 02\n")
                            << "line 1: '02' is not a bit (00 or 01) for bit group 4021";
    QTest::newRow("bit ff in outputs")
        << QByteArray("F031 3 00 ff\n") << "line 1: 'ff' is not a bit (00 or 01) for bit group F031";
    QTest::newRow("bit 10 in inputs") << QByteArray("0xf021 0 10\n") << "line 1: '10' is not a bit";
}

void TestToolTexts::imageFileErrorsNameTheLine()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, error);
    QString got;
    QVERIFY(SimImageFile::parse(text, &got).isEmpty());
    QVERIFY2(got.startsWith(error), qPrintable(got));
}

void TestToolTexts::imageFilePortLines_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<int>>("runtimes"); // the ports ads-sim was given; empty: not checked
    QTest::addColumn<QString>("error"); // empty: good
    QTest::addColumn<QList<int>>("ports"); // each entry's port, when good
    const QByteArray both = "4020 0 01\nport 852\n4020 0 02\nsymbol A.b 4020 0 1\nport 851\n4020 1 03\n";
    QTest::newRow("ports switch the runtime")
        << both << QList<int>{851, 852} << "" << QList<int>{0, 852, 852, 851};
    QTest::newRow("unchecked") << both << QList<int>() << "" << QList<int>{0, 852, 852, 851};
    QTest::newRow("port without a runtime")
        << both << QList<int>{851, 853} << "line 2: port 852 has no runtime (the runtimes are on 851, 853)"
        << QList<int>();
    QTest::newRow("no number") << QByteArray("port\n") << QList<int>() << "line 1: expected port N"
                               << QList<int>();
    QTest::newRow("two numbers") << QByteArray("port 851 852\n") << QList<int>() << "line 1: expected port N"
                                 << QList<int>();
    QTest::newRow("port 0") << QByteArray("port 0\n") << QList<int>()
                            << "line 1: '0' is not an AMS port (decimal, 1 to 65535)" << QList<int>();
    QTest::newRow("port 65536") << QByteArray("port 65536\n") << QList<int>()
                                << "line 1: '65536' is not an AMS port (decimal, 1 to 65535)" << QList<int>();
    QTest::newRow("hex port") << QByteArray("port 0x353\n") << QList<int>()
                              << "line 1: '0x353' is not an AMS port (decimal, 1 to 65535)" << QList<int>();
    QTest::newRow("signed port") << QByteArray("port +851\n") << QList<int>()
                                 << "line 1: '+851' is not an AMS port (decimal, 1 to 65535)" << QList<int>();
}

void TestToolTexts::imageFilePortLines()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<int>, runtimes);
    QFETCH(QString, error);
    QFETCH(QList<int>, ports);
    QString got;
    const QList<SimImageFile::Entry> entries = SimImageFile::parse(text, &got, runtimes);
    QCOMPARE(got, error);
    QList<int> entryPorts;
    for (const SimImageFile::Entry &e : entries)
        entryPorts << e.amsPort;
    QCOMPARE(entryPorts, ports);
}

void TestToolTexts::simOptions()
{
    const AdsSimOptions defaults = AdsSimOptions::parse({});
    QCOMPARE(defaults.error, QString());
    QCOMPARE(defaults.amsPorts, QList<int>{851});
    QVERIFY(defaults.netId.isEmpty());
    QVERIFY(defaults.routes.isEmpty());
    QCOMPARE(defaults.dropEvery, 0);

    const AdsSimOptions o = AdsSimOptions::parse({"--ams-port",
                                                  "852,851",
                                                  "--ams-port=900",
                                                  "--netid",
                                                  "5.12.34.56.1.1",
                                                  "--route",
                                                  "192.168.10.100.1.1",
                                                  "--route=0.0.0.0.255.255",
                                                  "--drop-every",
                                                  "1",
                                                  "--listen",
                                                  "[::1]:0",
                                                  "--serial",
                                                  "-h",
                                                  "--image",
                                                  "a.txt",
                                                  "--image=b.txt",
                                                  "--no-handles",
                                                  "--no-symbol-version",
                                                  "--state",
                                                  "Stop",
                                                  "--device-name",
                                                  "PLC 1",
                                                  "--no-data-types",
                                                  "--version"});
    QCOMPARE(o.error, QString());
    QCOMPARE(o.amsPorts, (QList<int>{852, 851, 900}));
    QCOMPARE(o.netId, QByteArray::fromHex("050c22380101"));
    QCOMPARE(o.routes,
             (QList<QByteArray>{QByteArray::fromHex("c0a80a640101"), QByteArray::fromHex("00000000ffff")}));
    QCOMPARE(o.dropEvery, 1);
    QCOMPARE(o.listenAddress, QHostAddress(QHostAddress::LocalHostIPv6));
    QCOMPARE(o.listenPort, quint16(0));
    QVERIFY(o.serial && o.help);
    QCOMPARE(o.imagePaths, (QStringList{"a.txt", "b.txt"}));
    QVERIFY(o.noHandles && o.noSymbolVersion && !defaults.noHandles && !defaults.noSymbolVersion);
    QVERIFY(o.noDataTypes && o.version && !defaults.noDataTypes && !defaults.version);
    QCOMPARE(o.adsState, quint16(6));
    QCOMPARE(defaults.adsState, quint16(5));
    QCOMPARE(AdsSimOptions::parse({"--state=config"}).adsState, quint16(15));
    QCOMPARE(o.deviceName, QStringLiteral("PLC 1"));
    QCOMPARE(defaults.deviceName, QStringLiteral("ads-sim"));

    // --help names every option it takes.
    const QString usage = AdsSimOptions::usage();
    for (const char *name : {"--listen",        "--serial",       "--ams-port",
                             "--netid",         "--route",        "--image",
                             "--verbose",       "--delay-ms",     "--drop-every",
                             "--ads-error",     "--no-handles",   "--no-symbol-version",
                             "--no-data-types", "--state",        "--device-name",
                             "--version",       "type NAME SIZE", "member NAME OFFSET SIZE TYPE",
                             "SIGHUP",          "SIGUSR1"})
        QVERIFY2(usage.contains(QLatin1String(name)), name);
    QVERIFY(usage.contains(QStringLiteral("(N 1 or more)")));
}

void TestToolTexts::simOptionErrors_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");
    const QString netIdWant =
        QStringLiteral("wants six numbers 0 to 255 joined by dots (5.12.34.56.1.1), not '%1'");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "unknown option --bogus";
    QTest::newRow("unknown short option") << QStringList{"-x"} << "unknown option -x";
    QTest::newRow("argument") << QStringList{"now"}
                              << "unexpected argument 'now' (ads-sim takes options only)";
    QTest::newRow("missing value") << QStringList{"--listen"} << "--listen needs a value";
    QTest::newRow("option as value") << QStringList{"--netid", "--serial"} << "--netid needs a value";
    QTest::newRow("flag with value") << QStringList{"--serial=yes"} << "--serial takes no value";
    QTest::newRow("empty image") << QStringList{"--image="} << "--image needs a file name";
    QTest::newRow("drop every 0") << QStringList{"--drop-every", "0"}
                                  << "--drop-every wants a count 1 to 1000000, not '0'";
    QTest::newRow("drop every x") << QStringList{"--drop-every", "x"}
                                  << "--drop-every wants a count 1 to 1000000, not 'x'";
    QTest::newRow("delay with blanks")
        << QStringList{"--delay-ms", " 5"} << "--delay-ms wants milliseconds 0 to 3600000, not ' 5'";
    QTest::newRow("delay negative") << QStringList{"--delay-ms", "-1"}
                                    << "--delay-ms wants milliseconds 0 to 3600000, not '-1'";
    QTest::newRow("ads error 0") << QStringList{"--ads-error", "0"}
                                 << "--ads-error wants a non-zero 32-bit code (decimal or 0x hex), not '0'";
    const QString portsWant =
        QStringLiteral("--ams-port wants ports 1 to 65535, each once, joined by commas, not '%1'");
    for (const char *ports : {"0", "851,", ",851", "851,851", "65536", "851;852", "851, 852", ""})
        QTest::newRow(qPrintable(QStringLiteral("ams port '%1'").arg(QLatin1String(ports))))
            << QStringList{QStringLiteral("--ams-port=%1").arg(QLatin1String(ports))}
            << portsWant.arg(QLatin1String(ports));
    QTest::newRow("same port twice over two options")
        << QStringList{"--ams-port", "851", "--ams-port", "851"} << portsWant.arg("851");
    QTest::newRow("netid five numbers")
        << QStringList{"--netid", "5.12.34.56.1"} << "--netid " + netIdWant.arg("5.12.34.56.1");
    QTest::newRow("route 256") << QStringList{"--route", "1.2.3.4.1.256"}
                               << "--route " + netIdWant.arg("1.2.3.4.1.256");
    QTest::newRow("listen") << QStringList{
        "--listen",
        "nowhere:5"} << "--listen wants ADDR:PORT with an IP address and a port 0 to 65535, not 'nowhere:5'";
    QTest::newRow("first error wins")
        << QStringList{"--drop-every", "0", "--bogus"} << "--drop-every wants a count 1 to 1000000, not '0'";
    QTest::newRow("state") << QStringList{"--state", "sleep"}
                           << "--state wants run, stop or config, not 'sleep'";
    QTest::newRow("state as a number")
        << QStringList{"--state=5"} << "--state wants run, stop or config, not '5'";
    QTest::newRow("empty device name") << QStringList{"--device-name="} << "--device-name needs a name";
}

void TestToolTexts::simOptionErrors()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    QCOMPARE(AdsSimOptions::parse(args).error, error);
}

void TestToolTexts::netIdTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("netId"); // empty: refused
    QTest::newRow("usual") << "5.12.34.56.1.1" << QByteArray::fromHex("050c22380101");
    QTest::newRow("edges") << "0.255.0.255.0.255" << QByteArray::fromHex("00ff00ff00ff");
    QTest::newRow("leading zeros") << "005.012.1.1.1.1" << QByteArray::fromHex("050c01010101");
    for (const char *bad : {"", "1.2.3.4.1", "1.2.3.4.1.1.1", "1.2.3.4.1.256", "1.2.3.4.1.1000", "1.2.3.4..1",
                            "1.2.3.4.1.", "+1.2.3.4.1.1", " 1.2.3.4.1.1", "1.2.3.4.1.-1", "0x1.2.3.4.1.1",
                            "a.b.c.d.e.f", "1,2,3,4,1,1", "١.2.3.4.1.1"})
        QTest::newRow(qPrintable(QStringLiteral("'%1'").arg(QString::fromUtf8(bad))))
            << QString::fromUtf8(bad) << QByteArray();
}

void TestToolTexts::netIdTexts()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, netId);
    QCOMPARE(SimRouter::netIdFromText(text), netId);
    if (!netId.isEmpty())
        QCOMPARE(SimRouter::netIdFromText(SimRouter::netIdText(netId)), netId);
}

void TestToolTexts::stringValues()
{
    QCOMPARE(ValueText::typeFromName(QStringLiteral("STRING")), DT_String);
    QCOMPARE(ValueText::typeName(DT_String), QStringLiteral("string"));
    QCOMPARE(ValueText::typeNames().last(), QStringLiteral("string"));
    QString error;
    const QStringList texts = {"Batch 42", "",
                               QString::fromUtf8("Gr\xc3\xbc\xc3\x9f"
                                                 "e \xe2\x82\xac"),
                               "-5", "a\nb"};
    const QVariant value = ValueText::parse(DT_String, texts, &error);
    QCOMPARE(error, QString());
    // The list type the driver takes: QList<QString>, not QStringList.
    QCOMPARE(value.userType(), qMetaTypeId<QList<QString>>());
    QCOMPARE(ValueText::elements(DT_String, value), texts);
    QCOMPARE(ValueText::jsonArray(DT_String, value),
             QString::fromUtf8("[\"Batch 42\",\"\",\"Gr\xc3\xbc\xc3\x9f"
                               "e \xe2\x82\xac\",\"-5\",\"a\\u000ab\"]"));
    // watch's one line: strings quoted, so that blanks and breaks stay readable.
    QCOMPARE(ValueText::line(DT_String, value), QString::fromUtf8("\"Batch 42\" \"\" \"Gr\xc3\xbc\xc3\x9f"
                                                                  "e \xe2\x82\xac\" \"-5\" \"a\\u000ab\""));
    QCOMPARE(ValueText::line(DT_Int16, QVariant::fromValue(QList<short>{1, -2})), QStringLiteral("1 -2"));
    // A label of another type holds no strings.
    QCOMPARE(ValueText::elements(DT_String, QVariant::fromValue(QList<int>{1})), QStringList());
}

void TestToolTexts::jsonStrings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("json");
    QTest::newRow("plain") << "abc"
                           << "\"abc\"";
    QTest::newRow("empty") << ""
                           << "\"\"";
    QTest::newRow("quotes") << "say \"hi\""
                            << "\"say \\\"hi\\\"\"";
    QTest::newRow("backslash") << "a\\b"
                               << "\"a\\\\b\"";
    QTest::newRow("control characters")
        << QStringLiteral("\n\t\r") + QChar(0) + QChar(0x1f) << "\"\\u000a\\u0009\\u000d\\u0000\\u001f\"";
    QTest::newRow("delete is no control character for JSON") << QString(QChar(0x7f)) << "\"\x7f\"";
    QTest::newRow("beyond ASCII as it is") << QString::fromUtf8("Gr\xc3\xbc\xc3\x9f"
                                                                "e \xe2\x82\xac \xf0\x9f\x98\x80")
                                           << QString::fromUtf8("\"Gr\xc3\xbc\xc3\x9f"
                                                                "e \xe2\x82\xac \xf0\x9f\x98\x80\"");
    QTest::newRow("half a pair, high") << QString(QChar(0xD83D)) + "x"
                                       << "\"\\ud83dx\"";
    QTest::newRow("half a pair, low") << QString(QChar(0xDE00)) << "\"\\ude00\"";
    QTest::newRow("two highs") << QString(QChar(0xD83D)) + QChar(0xD83D) + QChar(0xDE00)
                               << QString::fromUtf8("\"\\ud83d\xf0\x9f\x98\x80\"");
    QTest::newRow("placeholders stay") << "%1 %2"
                                       << "\"%1 %2\"";
}

void TestToolTexts::jsonStrings()
{
    QFETCH(QString, text);
    QFETCH(QString, json);
    QCOMPARE(JsonText::string(text), json);
    QCOMPARE(JsonText::array({text, text}), "[" + json + "," + json + "]");
    QCOMPARE(JsonText::array({}), QStringLiteral("[]"));
}

void TestToolTexts::adsctlSymbolsAndStringOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("json");
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<int>("count");
    const int symbols = AdsctlOptions::Symbols;
    QTest::newRow("symbols") << QStringList{"symbols"} << "" << symbols << "" << false << 0 << QStringList()
                             << 1;
    QTest::newRow("pattern and json") << QStringList{"--json", "symbols", "MAIN.*"} << "" << symbols
                                      << "MAIN.*" << true << 0 << QStringList() << 1;
    QTest::newRow("options after the pattern")
        << QStringList{"symbols", "*Temp*", "--json", "--connect", "127.0.0.1:1"} << "" << symbols << "*Temp*"
        << true << 0 << QStringList() << 1;
    QTest::newRow("read strings") << QStringList{"read", "MAIN.sName", "STRING", "2"} << ""
                                  << int(AdsctlOptions::Read) << "" << false << int(DT_String)
                                  << QStringList() << 2;
    QTest::newRow("write strings, one a value each")
        << QStringList{"write", "MAIN.sName", "string", "Batch 42", "-5", ""} << ""
        << int(AdsctlOptions::Write) << "" << false << int(DT_String) << QStringList{"Batch 42", "-5", ""}
        << 3;
    const QStringList none;
    QTest::newRow("two patterns") << QStringList{"symbols", "a", "b"}
                                  << "symbols takes at most a PATTERN; 'b' is one too many" << 0 << ""
                                  << false << 0 << none << 0;
    QTest::newRow("empty pattern") << QStringList{"symbols", ""}
                                   << "pattern '' is no glob (MAIN.*, *Temp*, GVL.?Run)" << 0 << "" << false
                                   << 0 << none << 0;
    QTest::newRow("every") << QStringList{"symbols", "--every", "5"} << "--every is for watch only" << 0 << ""
                           << false << 0 << none << 0;
    QTest::newRow("json on write") << QStringList{"write", "MW0", "int16", "1", "--json"}
                                   << "--json is for read, watch and symbols only" << 0 << "" << false << 0
                                   << none << 0;
    QTest::newRow("unknown type names string")
        << QStringList{"read", "MW0", "text"}
        << "unknown type 'text' (one of bool, int8, uint8, int16, uint16, int32, uint32, float, int64, "
           "uint64, double, string)"
        << 0 << "" << false << 0 << none << 0;
    QTest::newRow("no command names symbols")
        << QStringList{} << "no command given (info, read, write, watch, symbols or error; --help tells more)"
        << 0 << "" << false << 0 << none << 0;
    QTest::newRow("leaves as CSV") << QStringList{"symbols", "--leaves", "*.fPos", "--csv"} << "" << symbols
                                   << "*.fPos" << false << 0 << QStringList() << 1;
    QTest::newRow("leaves as JSON") << QStringList{"--leaves", "--json", "symbols"} << "" << symbols << ""
                                    << true << 0 << QStringList() << 1;
    QTest::newRow("csv on read") << QStringList{"read", "MW0", "int16", "--csv"}
                                 << "--csv is for symbols only" << 0 << "" << false << 0 << none << 0;
    QTest::newRow("leaves on watch") << QStringList{"watch", "MW0", "int16", "--leaves"}
                                     << "--leaves is for symbols only" << 0 << "" << false << 0 << none << 0;
    QTest::newRow("json and csv") << QStringList{"symbols", "--json", "--csv"}
                                  << "--json and --csv do not mix: choose one form" << 0 << "" << false << 0
                                  << none << 0;
}

void TestToolTexts::adsctlSymbolsAndStringOptions()
{
    QFETCH(QStringList, args);
    QFETCH(QString, error);
    const AdsctlOptions o = AdsctlOptions::parse(args);
    QCOMPARE(o.error, error);
    if (!error.isEmpty())
        return;
    QFETCH(int, command);
    QFETCH(QString, pattern);
    QFETCH(bool, json);
    QFETCH(int, type);
    QFETCH(QStringList, values);
    QFETCH(int, count);
    QCOMPARE(int(o.command), command);
    QCOMPARE(o.pattern, pattern);
    QCOMPARE(o.json, json);
    QCOMPARE(int(o.type), type);
    QCOMPARE(o.count, count);
    QCOMPARE(QStringList(o.values.value<QList<QString>>()), values);
    QCOMPARE(o.csv, args.contains(QStringLiteral("--csv")));
    QCOMPARE(o.leaves, args.contains(QStringLiteral("--leaves")));

    const QString usage = AdsctlOptions::usage();
    QVERIFY(usage.contains(QStringLiteral("adsctl [OPTIONS] symbols [PATTERN] [--leaves] [--json | --csv]")));
    QVERIFY(usage.contains(QStringLiteral("adsctl error CODE")));
    QVERIFY(usage.contains(QStringLiteral("uint64, double,\n         string")));
}

void TestToolTexts::symbolTableEntries_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QStringList>("names"); // the entries read before any fault
    QTest::addColumn<QString>("error");
    using L = AdsLayout;
    const QByteArray a = entry("MAIN.a"); // 42 bytes
    const QByteArray b = entry("GVL.b"); // 41 bytes
    const QStringList none;
    QTest::newRow("empty table") << QByteArray() << none << "";
    QTest::newRow("two entries") << a + b << QStringList{"MAIN.a", "GVL.b"} << "";
    QTest::newRow("bytes after the comment") << entry("MAIN.a", "INT", "c", 0x4020, 0, 2, "\x01\x02\x03") + b
                                             << QStringList{"MAIN.a", "GVL.b"} << "";
    QTest::newRow("length past the end of the table")
        << a + with32(b, L::EntryLength, 42) << QStringList{"MAIN.a"}
        << "entry 2 (at byte 42 of the table): its length, 42, runs past the end of the table (41 bytes "
           "left)";
    QTest::newRow("length past the end, the largest")
        << with32(a, L::EntryLength, 0xFFFFFFFF) << none
        << "entry 1 (at byte 0 of the table): its length, 4294967295, runs past the end of the table (42 "
           "bytes left)";
    // A walk that trusted it would stand still for ever.
    QTest::newRow("length zero")
        << with32(a, L::EntryLength, 0) + b << none
        << "entry 1 (at byte 0 of the table): its length, 0, is less than an entry's "
           "fixed part of 30";
    QTest::newRow("length below the fixed part")
        << a + with32(b, L::EntryLength, 29) << QStringList{"MAIN.a"}
        << "entry 2 (at byte 42 of the table): its length, 29, is less than an entry's fixed part of 30";
    QTest::newRow("fewer bytes than a fixed part") << a + b.left(29) << QStringList{"MAIN.a"}
                                                   << "entry 2 (at byte 42 of the table): only 29 bytes are "
                                                      "left, fewer than an entry's fixed part of 30";
    QTest::newRow("texts past a length of the fixed part alone")
        << with32(a, L::EntryLength, 30) + a << none
        << "entry 1 (at byte 0 of the table): its name, type name and comment (6, 3 and 0 bytes, each with a "
           "zero after it) run past its length, 30";
    QTest::newRow("name length past the entry")
        << a + with16(b, L::EntryNameLength, 200) << QStringList{"MAIN.a"}
        << "entry 2 (at byte 42 of the table): its name, type name and comment (200, 3 and 0 bytes, each "
           "with "
           "a zero after it) run past its length, 41";
    QTest::newRow("comment length past the table")
        << with16(a, L::EntryCommentLength, 0xFFFF) << none
        << "entry 1 (at byte 0 of the table): its name, type name and comment (6, 3 and 65535 bytes, each "
           "with a zero after it) run past its length, 42";
    QTest::newRow("name without its zero")
        << with16(a, L::EntryNameLength, 5) << none
        << "entry 1 (at byte 0 of the table): its name has no zero after its 5 bytes";
    QTest::newRow("type name without its zero")
        << a + with16(b, L::EntryTypeLength, 2) << QStringList{"MAIN.a"}
        << "entry 2 (at byte 42 of the table): its type name has no zero after its 2 bytes";
    QTest::newRow("comment without its zero")
        << with16(entry("MAIN.a", "INT", "xyz"), L::EntryCommentLength, 2) << none
        << "entry 1 (at byte 0 of the table): its comment has no zero after its 2 bytes";
    QTest::newRow("a zero inside the name")
        << entry(QByteArray("MA\0N.a", 6)) << none
        << "entry 1 (at byte 0 of the table): its name holds a zero within its 6 bytes";
    QTest::newRow("a zero inside the comment")
        << a + entry("GVL.b", "INT", QByteArray("ab\0", 3)) << QStringList{"MAIN.a"}
        << "entry 2 (at byte 42 of the table): its comment holds a zero within its 3 bytes";
    QTest::newRow("empty name") << a + entry("") << QStringList{"MAIN.a"}
                                << "entry 2 (at byte 42 of the table): its name is empty";
}

void TestToolTexts::symbolTableEntries()
{
    QFETCH(QByteArray, table);
    QFETCH(QStringList, names);
    QFETCH(QString, error);
    QString got = QStringLiteral("stale");
    // A copy of its own: a read past its end would be one past a heap block.
    const QByteArray exact(table.constData(), table.size());
    QCOMPARE(namesOf(SymbolTable::parse(exact, &got)), names);
    QCOMPARE(got, error);
}

void TestToolTexts::symbolTableFieldsAndCodePage()
{
    QString error;
    const QList<SymbolTable::Symbol> symbols = SymbolTable::parse(entry("GVL.aTemps", "ARRAY [0..9] OF REAL",
                                                                        "hall \x80 \xb0"
                                                                        "C \x81\x9f",
                                                                        0xF030, 0x12345678, 40),
                                                                  &error);
    QCOMPARE(error, QString());
    QCOMPARE(symbols.size(), 1);
    const SymbolTable::Symbol &s = symbols.first();
    QCOMPARE(s.name, QStringLiteral("GVL.aTemps"));
    QCOMPARE(s.typeName, QStringLiteral("ARRAY [0..9] OF REAL"));
    // Windows-1252: the euro sign at 0x80, Latin-1 from 0xA0, an undefined byte as its control character.
    QCOMPARE(s.comment,
             QStringLiteral("hall ") + QChar(0x20AC) + " " + QChar(0xB0) + "C " + QChar(0x81) + QChar(0x178));
    QCOMPARE(s.group, 0xF030u);
    QCOMPARE(s.offset, 0x12345678u);
    QCOMPARE(s.size, 40u);
}

// Cut a sound table anywhere: whole entries before the cut are read, and
// a cut inside an entry is named, never read past.
void TestToolTexts::symbolTableCutAnywhere()
{
    QByteArray table;
    QList<int> ends;
    QStringList names;
    for (int i = 0; i < 6; ++i) {
        names << QStringLiteral("GVL.n%1").arg(QString(i * 3, QLatin1Char('x')));
        table += entry(names.last().toLatin1(), QByteArray(i, 'T'), QByteArray(i * 2, 'c'), 0x4020, 0, 2,
                       QByteArray(i % 3, '\xee'));
        ends << table.size();
    }
    for (int cut = 0; cut <= table.size(); ++cut) {
        QString error;
        const QByteArray piece(table.constData(), cut);
        const QStringList got = namesOf(SymbolTable::parse(piece, &error));
        int whole = 0;
        while (whole < ends.size() && ends.at(whole) <= cut)
            ++whole;
        QCOMPARE(got, names.mid(0, whole));
        const int start = whole == 0 ? 0 : ends.at(whole - 1);
        if (start == cut)
            QCOMPARE(error, QString());
        else
            QVERIFY2(error.startsWith(
                         QStringLiteral("entry %1 (at byte %2 of the table): ").arg(whole + 1).arg(start)),
                     qPrintable(QStringLiteral("cut %1: %2").arg(cut).arg(error)));
    }
}

void TestToolTexts::symbolTableUpToALimit_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("error");
    const QByteArray three = entry("MAIN.a") + entry("MAIN.b", "BOOL", "on") + entry("GVL.c");
    const QByteArray faulty = entry("");
    QTest::newRow("below the limit") << three << 5 << 3 << "";
    QTest::newRow("at the limit") << three << 3 << 3 << "";
    QTest::newRow("one more than the limit, and no further") << three + three << 2 << 3 << "";
    QTest::newRow("none allowed: one, to tell") << three << 0 << 1 << "";
    QTest::newRow("a fault past the limit is not reached") << three + faulty << 1 << 2 << "";
    QTest::newRow("a fault within the limit")
        << three + faulty + three << 10 << 3 << "entry 4 (at byte 128 of the table): its name is empty";
}

// The offsets of the entries, each where its name's length field says, up
// to one more than the limit.
void TestToolTexts::symbolTableUpToALimit()
{
    QFETCH(QByteArray, table);
    QFETCH(int, limit);
    QFETCH(int, count);
    QFETCH(QString, error);
    QString got = QStringLiteral("stale");
    const QVector<quint32> offsets = SymbolTable::offsets(table, &got, limit);
    QCOMPARE(got, error);
    QCOMPARE(offsets.size(), count);
    QString all;
    const QList<SymbolTable::Symbol> symbols = SymbolTable::parse(table, &all);
    for (int i = 0; i < count; ++i) {
        const SymbolTable::Entry e = SymbolTable::entryAt(table, offsets.at(i));
        QCOMPARE(SymbolTable::fromCodePage(e.name), symbols.at(i).name);
        QCOMPARE(SymbolTable::fromCodePage(e.typeName), symbols.at(i).typeName);
        QCOMPARE(SymbolTable::fromCodePage(e.comment), symbols.at(i).comment);
        QCOMPARE(e.size, symbols.at(i).size);
    }
}

void TestToolTexts::dataTypeTableEntries_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QStringList>("types"); // the entries read before any fault
    QTest::addColumn<QString>("error");

    TypeBytes speed;
    speed.name = "T_Speed";
    speed.type = "INT";
    speed.comment = "rpm";
    const QByteArray plain = speed.bytes(); // 42 + 8 + 4 + 4 = 58 bytes
    QCOMPARE(plain.size(), 58);
    TypeBytes motor;
    motor.name = "ST_Motor";
    motor.size = 8;
    motor.dataType = 65;
    motor.members = {member("nSpeed", "INT", 0, 2, 2).bytes(), member("fPos", "REAL", 4, 4, 4).bytes()};
    const QByteArray structure = motor.bytes();
    const QString motorText = "ST_Motor: '' 8 0 65 {nSpeed:INT '' 2 0 2; fPos:REAL '' 4 4 4}";
    TypeBytes row;
    row.name = "T_Row";
    row.type = "INT";
    row.size = 24;
    row.dims = {{-2, 4}, {0, 3}};
    row.flags = 0x80000001;
    row.version = 7;
    row.hash = 0xDEADBEEF;
    row.typeHash = 5;
    const QStringList none;

    QTest::newRow("empty table") << QByteArray() << none << "";
    QTest::newRow("one plain type") << plain << QStringList{"T_Speed:INT 'rpm' 2 0 2"} << "";
    // The bytes themselves, so that the helper is not only checked against itself.
    QTest::newRow("one plain type, byte by byte") << QByteArray::fromHex("3a000000"
                                                                         "01000000"
                                                                         "00000000"
                                                                         "00000000"
                                                                         "02000000"
                                                                         "00000000"
                                                                         "02000000"
                                                                         "00000000"
                                                                         "0700"
                                                                         "0300"
                                                                         "0300"
                                                                         "0000"
                                                                         "0000")
                                                         + QByteArray("T_Speed\0INT\0rpm\0", 16)
                                                  << QStringList{"T_Speed:INT 'rpm' 2 0 2"} << "";
    QTest::newRow("a structure with two members")
        << structure + plain << QStringList{motorText, "T_Speed:INT 'rpm' 2 0 2"} << "";
    QTest::newRow("array dimensions, every field")
        << row.bytes()
        << QStringList{"T_Row:INT '' 24 0 2 flags=2147483649 v=7 hash=3735928559/5 [-2+4] [0+3]"} << "";
    TypeBytes newer = speed;
    newer.after = QByteArray("\x01\x02\x03\x04\x05", 5);
    QTest::newRow("bytes after the entry's fields are skipped")
        << newer.bytes() + structure << QStringList{"T_Speed:INT 'rpm' 2 0 2", motorText} << "";
    TypeBytes newerMember = motor;
    TypeBytes withTail = member("nSpeed", "INT", 0, 2, 2);
    withTail.after = "xyz";
    newerMember.members.first() = withTail.bytes();
    newerMember.after = "more";
    QTest::newRow("bytes after a member and after its parent")
        << newerMember.bytes() << QStringList{motorText} << "";
    TypeBytes axis;
    axis.name = "ST_Axis";
    axis.size = 12;
    axis.dataType = 65;
    TypeBytes nested = member("stMotor", "ST_Motor", 4, 8, 65);
    nested.members = motor.members;
    TypeBytes steps = member("aSteps", "ARRAY [1..2] OF INT", 0, 4, 2);
    steps.dims = {{1, 2}};
    axis.members = {steps.bytes(), nested.bytes()};
    QTest::newRow("members of members, an array member")
        << axis.bytes()
        << QStringList{"ST_Axis: '' 12 0 65 {aSteps:ARRAY [1..2] OF INT '' 4 0 2 [1+2]; stMotor:ST_Motor '' "
                       "8 4 65 "
                       "{nSpeed:INT '' 2 0 2; fPos:REAL '' 4 4 4}}"}
        << "";

    // Lying and cut entries: what was read before stays.
    QTest::newRow("cut in the fixed part")
        << plain + structure.left(41) << QStringList{"T_Speed:INT 'rpm' 2 0 2"}
        << "entry 2 (at byte 58 of the table): only 41 bytes are left in the table, fewer than an entry's "
           "fixed "
           "part of 42";
    QTest::newRow("cut in a member")
        << plain + structure.left(structure.size() - 1) << QStringList{"T_Speed:INT 'rpm' 2 0 2"}
        << QStringLiteral(
               "entry 2 (at byte 58 of the table): its length, %1, runs past the end of the table (%2 "
               "bytes left)")
               .arg(structure.size())
               .arg(structure.size() - 1);
    QTest::newRow("length zero")
        << with32(plain, 0, 0) + plain << none
        << "entry 1 (at byte 0 of the table): its length, 0, is less than an entry's "
           "fixed part of 42";
    QTest::newRow("texts past the length") << with16(plain, 32, 20) << none
                                           << "entry 1 (at byte 0 of the table): its name, type name and "
                                              "comment (20, 3 and 3 bytes, each with a "
                                              "zero after it) run past its length, 58";
    QTest::newRow("type name without its zero")
        << with16(plain, 34, 2) << none
        << "entry 1 (at byte 0 of the table): its type name has no zero after its 2 bytes";
    TypeBytes zeroInside = speed;
    zeroInside.comment = QByteArray("r\0m", 3);
    QTest::newRow("a zero inside the comment")
        << zeroInside.bytes() << none
        << "entry 1 (at byte 0 of the table): its comment holds a zero within its 3 bytes";
    QTest::newRow("dimensions past the length")
        << with16(plain, 38, 1) << none
        << "entry 1 (at byte 0 of the table): its 1 array dimensions (8 bytes) run past its length, 58";
    QTest::newRow("more sub-items than the entry holds")
        << plain + with16(structure, 40, 3) << QStringList{"T_Speed:INT 'rpm' 2 0 2"}
        << "entry 2 (at byte 58 of the table): its sub-item 3 (at byte 218 of the table): only 0 bytes are "
           "left "
           "in its parent, fewer than an entry's fixed part of 42";
    TypeBytes overflowing = motor;
    overflowing.members.last() = with32(overflowing.members.last(), 0, 100);
    QTest::newRow("a member overflowing its parent") << overflowing.bytes() + plain << none
                                                     << "entry 1 (at byte 0 of the table): its sub-item 2 "
                                                        "(at byte 107 of the table): its length, 100, runs "
                                                        "past the end of its parent (53 bytes left)";
    TypeBytes unnamed = motor;
    unnamed.members.first() = member("", "INT", 0, 2, 2).bytes();
    QTest::newRow("a member without a name")
        << unnamed.bytes() << none
        << "entry 1 (at byte 0 of the table): its sub-item 1 (at byte 53 of the table): its name is empty";
    // Sixteen levels of sub-items are read, a seventeenth is refused.
    const auto nestedOf = [](int levels) {
        TypeBytes inner = member("x", "INT", 0, 2, 2);
        for (int i = 0; i < levels; ++i) {
            TypeBytes outer = member("s", "ST", 0, 2, 65);
            outer.members = {inner.bytes()};
            inner = outer;
        }
        return inner.bytes();
    };
    QTest::newRow("sixteen levels of members")
        << nestedOf(16)
        << QStringList{QStringLiteral("s:ST '' 2 0 65 {").repeated(16) + "x:INT '' 2 0 2" + QString(16, '}')}
        << "";
    QString deep = QStringLiteral("entry 1 (at byte 0 of the table): ");
    for (int i = 1; i <= 16; ++i)
        deep += QStringLiteral("its sub-item 1 (at byte %1 of the table): ").arg(i * 48);
    QTest::newRow("seventeen levels of members")
        << nestedOf(17) << none << deep + "its sub-items nest deeper than 16 levels";
}

void TestToolTexts::dataTypeTableEntries()
{
    QFETCH(QByteArray, table);
    QFETCH(QStringList, types);
    QFETCH(QString, error);
    QString got = QStringLiteral("stale");
    // A copy of its own: a read past its end would be one past a heap block.
    const QByteArray exact(table.constData(), table.size());
    QCOMPARE(described(DataTypeTable::parse(exact, &got)), types);
    QCOMPARE(got, error);
    // In place, the same fields, and no more entries than the limit and one.
    const QVector<quint32> one = DataTypeTable::offsets(exact, &got, 0);
    QCOMPARE(one.size(), qMin(1, types.size()));
    if (!one.isEmpty()) {
        const DataTypeTable::Entry e = DataTypeTable::entryAt(exact, one.first());
        QCOMPARE(described(DataTypeTable::dataTypeAt(exact, one.first())), types.first());
        QCOMPARE(types.first().startsWith(SymbolTable::fromCodePage(e.name) + ':'), true);
        QCOMPARE(DataTypeTable::subItemOffsets(exact, e).size(), int(e.subItems));
    }
}

// CSV as RFC 4180 has it: CR LF after each record, a field with a comma, a
// quote or a line break in quotes and its quotes doubled, others as they are.
void TestToolTexts::symbolListingCsv()
{
    const QList<SymbolTable::Symbol> symbols = {
        symbol("GVL.aTemps", "ARRAY [0..9] OF REAL", 40, 0x4020, 0x200,
               QString::fromUtf8("hall, in \xc2\xb0"
                                 "C")),
        symbol("MAIN.s", "STRING(80)", 81, 0x4040, 0xFFFFFFFF, "say \"hi\"\nthen go"),
        symbol(".bRun", "BOOL", 1, 0xF030, 4, "plain; text")};
    QString text;
    QTextStream out(&text);
    const Listed listed(symbols);
    SymbolListing::writeCsv(listed.table, listed.entries, out);
    out.flush();
    QCOMPARE(text, QString::fromUtf8("name,type,size,group,offset,comment\r\n"
                                     "GVL.aTemps,ARRAY [0..9] OF REAL,40,16416,512,\"hall, in \xc2\xb0"
                                     "C\"\r\n"
                                     "MAIN.s,STRING(80),81,16448,4294967295,\"say \"\"hi\"\"\nthen go\"\r\n"
                                     ".bRun,BOOL,1,61488,4,plain; text\r\n"));
    QString none;
    QTextStream empty(&none);
    SymbolListing::writeCsv(Listed({}).table, {}, empty);
    empty.flush();
    QCOMPARE(none, QStringLiteral("name,type,size,group,offset,comment\r\n"));
}

// Leaves from tables built by hand: each row's symbols and data types, and
// the leaves as "NAME TYPE SIZE GROUP:OFFSET COMMENT", in order.
void TestToolTexts::leafWalk_data()
{
    QTest::addColumn<QByteArray>("symbols");
    QTest::addColumn<QByteArray>("types");
    QTest::addColumn<QStringList>("leaves");
    QTest::addColumn<QString>("error");
    QTest::addColumn<quint32>("limit");

    TypeBytes motor;
    motor.name = "ST_Motor";
    motor.size = 8;
    motor.dataType = 65;
    TypeBytes speed = member("nSpeed", "INT", 0, 2, 2);
    speed.comment = "rpm";
    motor.members = {speed.bytes(), member("fPos", "REAL", 4, 4, 4).bytes()};
    TypeBytes axis;
    axis.name = "ST_Axis";
    axis.size = 28;
    axis.dataType = 65;
    TypeBytes steps = member("aSteps", "ARRAY [1..5] OF DINT", 8, 20, 3);
    steps.dims = {{1, 5}};
    axis.members = {member("stMotor", "st_motor", 0, 8, 65).bytes(), steps.bytes()};
    const QByteArray types = motor.bytes() + axis.bytes();

    QTest::newRow("a plain symbol is its own leaf")
        << entry("MAIN.n", "DINT", "count", 0x4020, 0x10, 4) << types
        << QStringList{"MAIN.n DINT 4 4020:10 count"} << "" << 100u;
    QTest::newRow("a structure's members")
        << entry("MAIN.stMotor", "ST_Motor", "", 0x4020, 0x100, 8) << types
        << QStringList{"MAIN.stMotor.nSpeed INT 2 4020:100 rpm", "MAIN.stMotor.fPos REAL 4 4020:104 "} << ""
        << 100u;
    QTest::newRow("an array of structures by its bounds, members of members, plain arrays whole")
        << entry("GVL.aAxes", "ARRAY [2..3] OF ST_Axis", "", 0xF030, 0x200, 56) << types
        << QStringList{"GVL.aAxes[2].stMotor.nSpeed INT 2 F030:200 rpm",
                       "GVL.aAxes[2].stMotor.fPos REAL 4 F030:204 ",
                       "GVL.aAxes[2].aSteps ARRAY [1..5] OF DINT 20 F030:208 ",
                       "GVL.aAxes[3].stMotor.nSpeed INT 2 F030:21C rpm",
                       "GVL.aAxes[3].stMotor.fPos REAL 4 F030:220 ",
                       "GVL.aAxes[3].aSteps ARRAY [1..5] OF DINT 20 F030:224 "}
        << "" << 100u;
    QTest::newRow("two dimensions, the last fastest")
        << entry("G.m", "array [0..1, -1..0] of ST_MOTOR", "", 0x4020, 0, 32) << types
        << QStringList{"G.m[0,-1].nSpeed INT 2 4020:0 rpm",  "G.m[0,-1].fPos REAL 4 4020:4 ",
                       "G.m[0,0].nSpeed INT 2 4020:8 rpm",   "G.m[0,0].fPos REAL 4 4020:C ",
                       "G.m[1,-1].nSpeed INT 2 4020:10 rpm", "G.m[1,-1].fPos REAL 4 4020:14 ",
                       "G.m[1,0].nSpeed INT 2 4020:18 rpm",  "G.m[1,0].fPos REAL 4 4020:1C "}
        << "" << 100u;
    TypeBytes recipe;
    recipe.name = "ST_Recipe";
    recipe.size = 16;
    recipe.dataType = 65;
    TypeBytes recipeSteps = member("aSteps", "ST_Motor", 0, 16, 65); // dimensions without ARRAY in the name
    recipeSteps.dims = {{0, 2}};
    TypeBytes none = member("aNone", "ARRAY [0..-1] OF ST_Motor", 16, 0, 65);
    none.dims = {{0, 0}};
    recipe.members = {recipeSteps.bytes(), none.bytes()};
    QTest::newRow("a member's dimensions, an empty array")
        << entry("MAIN.r", "ST_Recipe", "", 0x4020, 0x40, 16) << types + recipe.bytes()
        << QStringList{"MAIN.r.aSteps[0].nSpeed INT 2 4020:40 rpm", "MAIN.r.aSteps[0].fPos REAL 4 4020:44 ",
                       "MAIN.r.aSteps[1].nSpeed INT 2 4020:48 rpm", "MAIN.r.aSteps[1].fPos REAL 4 4020:4C "}
        << "" << 100u;
    TypeBytes alias;
    alias.name = "T_Motors";
    alias.type = "ST_Motor";
    alias.size = 16;
    alias.dataType = 65;
    alias.dims = {{1, 2}};
    QTest::newRow("a type that is an array of structures")
        << entry("MAIN.t", "T_Motors", "", 0x4020, 0, 16) << types + alias.bytes()
        << QStringList{"MAIN.t[1].nSpeed INT 2 4020:0 rpm", "MAIN.t[1].fPos REAL 4 4020:4 ",
                       "MAIN.t[2].nSpeed INT 2 4020:8 rpm", "MAIN.t[2].fPos REAL 4 4020:C "}
        << "" << 100u;
    QTest::newRow("an array of plain elements is one leaf")
        << entry("GVL.a", "ARRAY [0..9] OF INT", "", 0x4020, 0, 20) << types
        << QStringList{"GVL.a ARRAY [0..9] OF INT 20 4020:0 "} << "" << 100u;
    QTest::newRow("a type the table does not list")
        << entry("MAIN.fb", "FB_Unknown", "", 0x4020, 0, 100) << types
        << QStringList{"MAIN.fb FB_Unknown 100 4020:0 "} << "" << 100u;
    QTest::newRow("no data types at all")
        << entry("MAIN.stMotor", "ST_Motor", "", 0x4020, 0, 8) << QByteArray()
        << QStringList{"MAIN.stMotor ST_Motor 8 4020:0 "} << "" << 100u;
    TypeBytes loop;
    loop.name = "ST_Loop";
    loop.size = 4;
    loop.dataType = 65;
    loop.members = {member("next", "ST_Loop", 0, 4, 65).bytes()};
    QTest::newRow("a structure within itself")
        << entry("MAIN.l", "ST_Loop", "", 0x4020, 0, 4) << types + loop.bytes() << QStringList()
        << "MAIN.l: its types nest deeper than 16 levels (a structure within itself?)" << 100u;
    QTest::newRow("an offset past 32 bits")
        << entry("MAIN.stMotor", "ST_Motor", "", 0x4020, 0xFFFFFFFE, 8) << types
        << QStringList{"MAIN.stMotor.nSpeed INT 2 4020:FFFFFFFE rpm"}
        << "MAIN.stMotor: the offset of MAIN.stMotor.fPos runs past 32 bits" << 100u;
    QTest::newRow("more leaves than the limit")
        << entry("GVL.aAxes", "ARRAY [0..999999] OF ST_Motor", "", 0x4020, 0, 8000000) << types
        << QStringList{"GVL.aAxes[0].nSpeed INT 2 4020:0 rpm", "GVL.aAxes[0].fPos REAL 4 4020:4 ",
                       "GVL.aAxes[1].nSpeed INT 2 4020:8 rpm"}
        << "GVL.aAxes: the symbols hold more than 3 leaves" << 3u;
}

void TestToolTexts::leafWalk()
{
    QFETCH(QByteArray, symbols);
    QFETCH(QByteArray, types);
    QFETCH(QStringList, leaves);
    QFETCH(QString, error);
    QFETCH(quint32, limit);
    QString fault;
    const QVector<quint32> typeOffsets = DataTypeTable::offsets(types, &fault);
    QCOMPARE(fault, QString());
    LeafWalk walk(types, typeOffsets);
    QStringList got;
    const bool ok = walk.walk(
        symbols, 0,
        [&got](const SymbolTable::Entry &e) {
            got << QStringLiteral("%1 %2 %3 %4:%5 %6")
                       .arg(SymbolTable::fromCodePage(e.name), SymbolTable::fromCodePage(e.typeName))
                       .arg(e.size)
                       .arg(QString::number(e.group, 16).toUpper(), QString::number(e.offset, 16).toUpper(),
                            SymbolTable::fromCodePage(e.comment));
        },
        &fault, limit);
    QCOMPARE(got, leaves);
    QCOMPARE(ok, error.isEmpty());
    QCOMPARE(fault, error);
}

void TestToolTexts::symbolListingSelects_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("names");
    QTest::newRow("all, by name in any case")
        << ""
        << QStringList{".bRun", "GVL.aTemps", "GVL.nTempMax", "main.aTemp", "MAIN.b", "Main.B", "MAIN.sName"};
    QTest::newRow("one program") << "MAIN.*" << QStringList{"main.aTemp", "MAIN.b", "Main.B", "MAIN.sName"};
    QTest::newRow("a part in any case")
        << "*temp*" << QStringList{"GVL.aTemps", "GVL.nTempMax", "main.aTemp"};
    QTest::newRow("one character") << "GVL.?Temps" << QStringList{"GVL.aTemps"};
    QTest::newRow("the whole name, not a part") << "main" << QStringList();
    QTest::newRow("an ending") << "*.b" << QStringList{"MAIN.b", "Main.B"};
    QTest::newRow("a leading dot") << ".b*" << QStringList{".bRun"};
    QTest::newRow("a set") << "[.g]*" << QStringList{".bRun", "GVL.aTemps", "GVL.nTempMax"};
    QTest::newRow("none") << "nothing*" << QStringList();
}

void TestToolTexts::symbolListingSelects()
{
    QFETCH(QString, pattern);
    QFETCH(QStringList, names);
    const QList<SymbolTable::Symbol> symbols = {
        symbol("MAIN.sName"), symbol("main.aTemp"), symbol("Main.B"),    symbol("GVL.nTempMax"),
        symbol("MAIN.b"),     symbol(".bRun"),      symbol("GVL.aTemps")};
    QCOMPARE(Listed(symbols).select(pattern).names(), names);
}

// Sorted from the bytes in the order of the decoded names, compared in any
// case and then exactly: letters whose cases lie apart in the code page
// (Š at 0x8A, š at 0x9A; Ÿ at 0x9F, ÿ at 0xFF), µ folding to Greek mu, the
// euro sign, an undefined byte, and names equal in every byte.
void TestToolTexts::symbolListingSortsAsTexts()
{
    const QByteArray alphabet("aAbB_.0\x8a\x9a\x9f\xff\xc4\xe4\xdf\xb5\x80\x81\xd7\xf7\xcc\xec\x8c\x9c");
    QList<SymbolTable::Symbol> symbols;
    for (int i = 0; i < alphabet.size() * alphabet.size() * 2; ++i) {
        // Out of order, and each name twice, the second time with another offset.
        const int k = (i * 37) % (alphabet.size() * alphabet.size());
        const QByteArray name =
            QByteArray(1, alphabet.at(k / alphabet.size())) + alphabet.at(k % alphabet.size());
        symbols << symbol(SymbolTable::fromCodePage(name.constData(), 1 + (k % 3 != 0)), QString(), 1, 0x4020,
                          quint32(i));
    }
    QList<SymbolTable::Symbol> sorted = symbols;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const SymbolTable::Symbol &a, const SymbolTable::Symbol &b) {
                         const int byCase = a.name.compare(b.name, Qt::CaseInsensitive);
                         return byCase != 0 ? byCase < 0 : a.name < b.name;
                     });
    Listed listed(symbols);
    listed.select(QString());
    QStringList got;
    QStringList expected;
    for (int i = 0; i < sorted.size(); ++i) {
        const SymbolTable::Symbol s = SymbolTable::symbolAt(listed.table, listed.entries.at(i));
        got << QStringLiteral("%1@%2").arg(s.name).arg(s.offset);
        expected << QStringLiteral("%1@%2").arg(sorted.at(i).name).arg(sorted.at(i).offset);
    }
    QCOMPARE(got, expected);
}

void TestToolTexts::symbolListingTable()
{
    const QList<SymbolTable::Symbol> symbols = {
        symbol("MAIN.sName", "STRING(80)", 81, 0x4040, 0x400, "operator"),
        symbol("GVL.aTemps", "ARRAY [0..9] OF REAL", 40, 0x4020, 0x200, "hall,\r\nin degC"),
        symbol(".bRun", "", 1, 0xF030, 4, "")};
    QCOMPARE(Listed(symbols).select(QString()).written(false),
             QStringLiteral("NAME        TYPE                  SIZE  GROUP  OFFSET  COMMENT\n"
                            ".bRun                             1     F030   4\n"
                            "GVL.aTemps  ARRAY [0..9] OF REAL  40    4020   200     hall,  in degC\n"
                            "MAIN.sName  STRING(80)            81    4040   400     operator\n"));
    QCOMPARE(Listed({}).written(false), QString());
}

void TestToolTexts::symbolListingJson()
{
    const QList<SymbolTable::Symbol> symbols = {symbol("GVL.aTemps", "ARRAY [0..9] OF REAL", 40, 0x4020,
                                                       0x200,
                                                       QString::fromUtf8("say \"hi\" \\ \t %1 \xc2\xb0"
                                                                         "C \xe2\x82\xac")),
                                                symbol(".bRun", "BOOL", 1, 0xF030, 0xFFFFFFFF, "")};
    const QString text = Listed(symbols).written(true);
    QCOMPARE(text.count(QLatin1Char('\n')), 4); // one object a line
    QVERIFY(text.contains(QStringLiteral("\\u0009")));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    QCOMPARE(error.error, QJsonParseError::NoError);
    const QJsonArray array = doc.array();
    QCOMPARE(array.size(), symbols.size());
    for (int i = 0; i < symbols.size(); ++i) {
        const QJsonObject o = array.at(i).toObject();
        QCOMPARE(o.keys(), (QStringList{"comment", "group", "name", "offset", "size", "type"}));
        QCOMPARE(o.value("name").toString(), symbols.at(i).name);
        QCOMPARE(o.value("type").toString(), symbols.at(i).typeName);
        QCOMPARE(o.value("comment").toString(), symbols.at(i).comment);
        QVERIFY(o.value("size").isDouble() && o.value("group").isDouble() && o.value("offset").isDouble());
        QCOMPARE(quint32(o.value("size").toDouble()), symbols.at(i).size);
        QCOMPARE(quint32(o.value("group").toDouble()), symbols.at(i).group);
        QCOMPARE(quint32(o.value("offset").toDouble()), symbols.at(i).offset);
    }
    QCOMPARE(Listed({}).written(true), QStringLiteral("[]\n"));
}

void TestToolTexts::symbolUploadPlan_data()
{
    QTest::addColumn<quint32>("size");
    QTest::addColumn<quint32>("pieceBytes");
    QTest::addColumn<QStringList>("pieces");
    QTest::newRow("nothing") << 0u << 64u << QStringList();
    QTest::newRow("less than a word") << 7u << 64u << QStringList{"0 uint8 7"};
    QTest::newRow("a word") << 8u << 64u << QStringList{"0 uint64 1"};
    QTest::newRow("one piece") << 64u << 64u << QStringList{"0 uint64 8"};
    QTest::newRow("a byte more") << 65u << 64u << QStringList{"0 uint64 8", "64 uint8 1"};
    QTest::newRow("the last piece sized to the rest")
        << 203u << 64u
        << QStringList{"0 uint64 8", "64 uint64 8", "128 uint64 8", "192 uint64 1", "200 uint8 3"};
    QTest::newRow("near 4 GiB without wrapping")
        << 0xFFFFFFFFu << 0x80000000u
        << QStringList{"0 uint64 268435456", "2147483648 uint64 268435455", "4294967288 uint8 7"};
}

void TestToolTexts::symbolUploadPlan()
{
    QFETCH(quint32, size);
    QFETCH(quint32, pieceBytes);
    QFETCH(QStringList, pieces);
    QStringList got;
    for (const SymbolUpload::Piece &p : SymbolUpload::plan(size, pieceBytes))
        got << QStringLiteral("%1 %2 %3").arg(p.offset).arg(ValueText::typeName(p.type)).arg(p.count);
    QCOMPARE(got, pieces);
}

void TestToolTexts::symbolUploadInPiecesWithProgress()
{
    UploadController plc;
    plc.announced = 60;
    for (int i = 0; plc.table.size() < 2400; ++i)
        plc.table += entry(QStringLiteral("GVL.n%1").arg(i).toLatin1());
    // Exactly 2500 bytes: two pieces of 1 KiB, then 452 = 56 words and 4 bytes.
    plc.table += QByteArray(2500 - plc.table.size(), '\xa5');

    QString errText;
    QTextStream err(&errText);
    SymbolUpload upload(&plc, err);
    upload.setPieceBytes(1024);
    upload.setProgressAfterMs(0);
    quint32 count = 0;
    QByteArray table;
    QVERIFY(upload.run(&count, &table));
    QCOMPARE(count, 60u);
    QCOMPARE(table, plc.table);
    // One buffer of the table's size, never grown: a grown one is held twice while it is copied.
    QCOMPARE(table.capacity(), table.size());
    QCOMPARE(plc.calls, (QStringList{"F00F:0 uint8 24", "F00B:0 uint64 128", "F00B:400 uint64 128",
                                     "F00B:800 uint64 56", "F00B:9C0 uint8 4"}));
    QCOMPARE(errText, QStringLiteral("\radsctl: symbol table 1 of 3 KB\radsctl: symbol table 2 of 3 KB"
                                     "\radsctl: symbol table 2 of 3 KB\radsctl: symbol table 3 of 3 KB\n"));

    // Megabytes, and no line at all before the upload has taken its time.
    plc.table = QByteArray(1200000, '\x11');
    plc.calls.clear();
    errText.clear();
    upload.setPieceBytes(SymbolUpload::TcpPieceBytes);
    QVERIFY(upload.run(&count, &table));
    QCOMPARE(table, plc.table);
    QCOMPARE(plc.calls.size(), 1 + 19);
    QVERIFY2(errText.startsWith(QStringLiteral("\radsctl: symbol table 0.1 of 1.2 MB\r")),
             qPrintable(errText));
    QVERIFY2(errText.endsWith(QStringLiteral("\radsctl: symbol table 1.2 of 1.2 MB\n")), qPrintable(errText));
    errText.clear();
    upload.setProgressAfterMs(3600000);
    QVERIFY(upload.run(&count, &table));
    QCOMPARE(errText, QString());
}

void TestToolTexts::symbolBrowser_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<int>("announced");
    QTest::addColumn<qint64>("announcedSize"); // -1: the table's
    QTest::addColumn<quint32>("infoError");
    QTest::addColumn<int>("infoResult");
    QTest::addColumn<qint64>("failAt");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    QTest::addColumn<QStringList>("calls");
    // 43 and 50 bytes: 11 words and 5 bytes.
    const QByteArray two =
        entry("MAIN.b", "BOOL", "", 0x4020, 0x10, 1) + entry("GVL.a", "INT", "set point", 0x4020, 0x20, 2);
    const QStringList whole = {"F00F:0 uint8 24", "F00B:0 uint64 11", "F00B:58 uint8 5"};
    const QString listing = QStringLiteral("NAME    TYPE  SIZE  GROUP  OFFSET  COMMENT\n"
                                           "GVL.a   INT   2     4020   20      set point\n"
                                           "MAIN.b  BOOL  1     4020   10\n");
    QTest::newRow("listed") << two << 2 << qint64(-1) << 0u << 0 << qint64(-1) << QStringList() << 0
                            << listing << "adsctl: 2 symbols\n"
                            << whole;
    QTest::newRow("an older runtime")
        << two << 2 << qint64(-1) << 0x701u << 0 << qint64(-1) << QStringList() << 0 << listing
        << "adsctl: 2 symbols\n"
        << QStringList{"F00F:0 uint8 24", "F00C:0 uint8 8", "F00B:0 uint64 11", "F00B:58 uint8 5"};
    QTest::newRow("pattern and json")
        << two << 2 << qint64(-1) << 0u << 0 << qint64(-1) << QStringList{"gvl.*", "--json"} << 0
        << "[\n{\"name\":\"GVL.a\",\"type\":\"INT\",\"size\":2,\"group\":16416,\"offset\":32,\"comment\":"
           "\"set "
           "point\"}\n]\n"
        << "adsctl: 1 of 2 symbols match gvl.*\n"
        << whole;
    QTest::newRow("an empty table") << QByteArray() << 0 << qint64(-1) << 0u << 0 << qint64(-1)
                                    << QStringList() << 0 << ""
                                    << "adsctl: 0 symbols\n"
                                    << QStringList{"F00F:0 uint8 24"};
    QTest::newRow("no reply for the sizes: no second try")
        << two << 2 << qint64(-1) << 0u << 8 << qint64(-1) << QStringList() << 1 << ""
        << "adsctl: reading the symbol table's size at F00F:0: 8: no reply\n"
        << QStringList{"F00F:0 uint8 24"};
    QTest::newRow("a piece without reply")
        << two << 2 << qint64(-1) << 0u << 0 << qint64(0x58) << QStringList() << 1 << ""
        << "adsctl: reading the symbol table at F00B:58 (5 bytes): 8: no reply\n"
        << whole;
    QTest::newRow("an entry that lies about its lengths")
        << two.left(43) + with16(two.mid(43), AdsLayout::EntryNameLength, 300) << 2 << qint64(-1) << 0u << 0
        << qint64(-1) << QStringList() << 1 << ""
        << "adsctl: the symbol table does not hold together, nothing listed: entry 2 (at byte 43 of the "
           "table): its name, type name and comment (300, 3 and 9 bytes, each with a zero after it) run past "
           "its length, 50\n"
        << whole;
    QTest::newRow("a count the table does not hold")
        << two << 3 << qint64(-1) << 0u << 0 << qint64(-1) << QStringList() << 1 << ""
        << "adsctl: the controller announced 3 symbols, but its table of 93 bytes holds 2; nothing listed\n"
        << whole;
    QTest::newRow("a size past the end of the table")
        << two << 2 << qint64(100) << 0u << 0 << qint64(-1) << QStringList() << 1 << ""
        << "adsctl: reading the symbol table at F00B:0 (96 bytes): 7: wrong reply, or the controller "
           "reported "
           "an error\n"
        << QStringList{"F00F:0 uint8 24", "F00B:0 uint64 12"};
    QTest::newRow("as many symbols as adsctl lists, announced")
        << two << 4000000 << qint64(-1) << 0u << 0 << qint64(-1) << QStringList() << 1 << ""
        << "adsctl: the controller announced 4000000 symbols, but its table of 93 bytes holds 2; nothing "
           "listed\n"
        << whole;
    QTest::newRow("more symbols announced than adsctl lists: the table is not read")
        << two << 4000001 << qint64(-1) << 0u << 0 << qint64(-1) << QStringList() << 1 << ""
        << "adsctl: the controller announced 4000001 symbols, more than the 4000000 adsctl lists\n"
        << QStringList{"F00F:0 uint8 24"};
    QTest::newRow("a size beyond belief") << two << 2 << qint64(SymbolUpload::MaxTableBytes) + 1 << 0u << 0
                                          << qint64(-1) << QStringList() << 1 << ""
                                          << "adsctl: the controller announced a symbol table of 268435457 "
                                             "bytes, more than the 268435456 adsctl "
                                             "takes\n"
                                          << QStringList{"F00F:0 uint8 24"};
}

void TestToolTexts::symbolBrowser()
{
    QFETCH(QByteArray, table);
    QFETCH(int, announced);
    QFETCH(qint64, announcedSize);
    QFETCH(quint32, infoError);
    QFETCH(int, infoResult);
    QFETCH(qint64, failAt);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QFETCH(QStringList, calls);
    UploadController plc;
    plc.table = table;
    plc.announced = quint32(announced);
    plc.announcedSize = announcedSize;
    plc.infoError = infoError;
    plc.infoResult = infoResult;
    plc.failAt = failAt;
    const AdsctlOptions options = AdsctlOptions::parse(QStringList{"symbols"} + args);
    QCOMPARE(options.error, QString());
    QString outText;
    QString errText;
    QTextStream outStream(&outText);
    QTextStream errStream(&errText);
    QCOMPARE(SymbolBrowser::run(&plc, options, outStream, errStream), exitCode);
    outStream.flush();
    errStream.flush();
    QCOMPARE(outText, out);
    QCOMPARE(errText, err);
    QCOMPARE(plc.calls, calls);
}

QTEST_GUILESS_MAIN(TestToolTexts)
#include "tst_tooltexts.moc"
