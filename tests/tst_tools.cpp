// adsctl and ads-sim run as a user runs them: as processes, judged by what
// they print and how they exit. Every connection stays on 127.0.0.1.
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char **environ;

namespace {
const int kRunMs = 20000;

// What befalls the controller while adsctl watch runs.
enum WatchEvent { Nothing, Write, Restart, ControllerGone };

QString program(const char *name)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromLatin1(name));
}

struct Run {
    int exitCode = -1;
    bool finished = false;
    QString out;
    QString err;
    QStringList outLines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    QStringList errLines() const { return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

Run adsctl(const QStringList &args)
{
    QProcess p;
    p.start(program("adsctl"), args);
    Run r;
    r.finished = p.waitForFinished(kRunMs) && p.exitStatus() == QProcess::NormalExit;
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(5000);
    }
    r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// A running program whose stdout is read line by line as it comes.
class Child
{
public:
    // `merged`: stderr comes in the lines too, in the order written.
    explicit Child(const char *name, const QStringList &args, bool merged = false)
    {
        if (merged)
            m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(program(name), args);
    }
    ~Child()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // True once a line matching `match` has come, looking from line `from` on.
    bool waitForLine(const std::function<bool(const QString &)> &match, int from = 0, int timeoutMs = kRunMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            collect();
            for (int i = from; i < m_lines.size(); ++i) {
                if (match(m_lines.at(i)))
                    return true;
            }
            from = m_lines.size();
            if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
                return false;
            m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
    }
    QString lineStartingWith(const QString &prefix)
    {
        waitForLine([&](const QString &l) { return l.startsWith(prefix); });
        for (const QString &l : qAsConst(m_lines)) {
            if (l.startsWith(prefix))
                return l.mid(prefix.size());
        }
        return QString();
    }
    QStringList lines()
    {
        collect();
        return m_lines;
    }
    // Sends `signal` and waits for the end; the exit code, -1 when it did not end normally.
    int stop(int signal)
    {
        ::kill(pid_t(m_process.processId()), signal);
        if (!m_process.waitForFinished(kRunMs) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        collect();
        return m_process.exitCode();
    }
    void send(int signal) { ::kill(pid_t(m_process.processId()), signal); }
    int waitForExit()
    {
        if (!m_process.waitForFinished(kRunMs) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        collect();
        return m_process.exitCode();
    }
    QString errorOutput() { return QString::fromUtf8(m_process.readAllStandardError()); }

private:
    void collect()
    {
        // Without an event loop the process's output waits in the pipe until
        // asked for; take what is there now, so that counts are current.
        for (int i = 0; i < 1000 && m_process.state() == QProcess::Running && m_process.waitForReadyRead(0);
             ++i) { }
        m_pending += m_process.readAllStandardOutput();
        int newline;
        while ((newline = m_pending.indexOf('\n')) >= 0) {
            m_lines << QString::fromUtf8(m_pending.left(newline));
            m_pending.remove(0, newline + 1);
        }
    }

    QProcess m_process;
    QByteArray m_pending;
    QStringList m_lines;
};

// ads-sim on an ephemeral port and a pseudo-terminal, one line per request.
struct Sim {
    std::unique_ptr<Child> child;
    QString tcp;
    QString serial; // the serial connection text
    bool started = false;

    explicit Sim(const QStringList &extra = {}, const QString &listen = QStringLiteral("127.0.0.1:0"))
    {
        child = std::make_unique<Child>("ads-sim",
                                        QStringList{"--listen", listen, "--serial", "--verbose"} + extra);
        tcp = child->lineStartingWith(QStringLiteral("tcp "));
        const QString pty = child->lineStartingWith(QStringLiteral("serial "));
        serial = pty + QStringLiteral(",115200,8,1,N");
        started = !tcp.isEmpty() && !pty.isEmpty();
    }
    QStringList requestLines() const
    {
        return child->lines().filter(QRegularExpression(QStringLiteral("^(read|write) ")));
    }
};

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// An image of a few thousand symbols, its listing known in advance: names
// in two cases, written out of order, every third a STRING(80), every
// fifth with a comment beyond ASCII, and one more symbol whose comment
// makes the table's size 5 past a multiple of 8.
struct GeneratedSymbols {
    static const int kCount = 3000;
    QByteArray image;
    qint64 tableBytes = 0;

    static QString name(int i)
    {
        return QStringLiteral("%1.t%2").arg(i % 2 ? "MAIN" : "main").arg(i, 5, 10, QLatin1Char('0'));
    }
    static QString type(int i) { return i % 3 == 0 ? QStringLiteral("STRING(80)") : QStringLiteral("INT"); }
    static QString comment(int i)
    {
        return i % 5 == 0 ? QStringLiteral("tag %1 in ").arg(i) + QChar(0xB0) + QLatin1Char('C') : QString();
    }

    GeneratedSymbols()
    {
        for (int k = 0; k < kCount; ++k) {
            const int i = (k * 7) % kCount;
            const bool text = i % 3 == 0;
            image += QStringLiteral("symbol %1 %2 %3 %4 %5")
                         .arg(name(i), text ? "4040" : "4020", QString::number(i * 128, 16))
                         .arg(text ? 81 : 2)
                         .arg(type(i))
                         .toLatin1();
            if (!comment(i).isEmpty())
                image += " // " + comment(i).toLatin1();
            image += '\n';
            // The fixed part of an entry, then three texts, each with its zero.
            tableBytes += 30 + name(i).size() + 1 + type(i).size() + 1 + comment(i).size() + 1;
        }
        const qint64 padFixed = 30 + QStringLiteral("GVL.zPad").size() + 1 + 3 + 1 + 1;
        const int padComment = int((5 - (tableBytes + padFixed) % 8 + 8) % 8);
        image += "symbol GVL.zPad 4020 0 2 INT";
        if (padComment > 0)
            image += " // " + QByteArray(padComment, 'x');
        image += '\n';
        tableBytes += padFixed + padComment;
    }
};

// A table of the smallest entries a controller can list: the fixed part,
// the shortest names that differ in more than case, no type name, no
// comment; as ads-sim's image, generated rather than shipped.
struct MinimalSymbols {
    QByteArray image;
    qint64 count = 0;
    qint64 tableBytes = 0;
    qint64 startingWithB = 0;

    // The k-th name: a letter or _, then letters, digits or _.
    static QByteArray name(qint64 k)
    {
        static const char first[] = "abcdefghijklmnopqrstuvwxyz_";
        static const char rest[] = "abcdefghijklmnopqrstuvwxyz0123456789_";
        int length = 1;
        for (qint64 block = 27; k >= block; block *= 37) {
            k -= block;
            ++length;
        }
        QByteArray n(length, '\0');
        n[0] = first[k % 27];
        k /= 27;
        for (int i = 1; i < length; ++i, k /= 37)
            n[i] = rest[k % 37];
        return n;
    }

    explicit MinimalSymbols(qint64 maxBytes)
    {
        for (;; ++count) {
            const QByteArray n = name(count);
            const qint64 entry = 30 + n.size() + 3; // and the three zeros after the texts
            if (tableBytes + entry > maxBytes)
                break;
            image += "symbol " + n + " 4020 0 1\n";
            tableBytes += entry;
            startingWithB += n.startsWith('b');
        }
    }
};

// adsctl run to its end, stdout and stderr into files, with the peak
// resident memory of that one process: spawned and waited for here, not
// through QProcess, since only the wait itself hands over a child's usage.
// The controller's lines are read meanwhile: a full pipe would stop it.
struct Measured {
    bool finished = false;
    int exitCode = -1;
    qint64 peakBytes = 0;
};

Measured measuredAdsctl(const QStringList &args, const QString &outPath, const QString &errPath,
                        Child *controller)
{
    QList<QByteArray> texts{QFile::encodeName(program("adsctl"))};
    for (const QString &a : args)
        texts << a.toLocal8Bit();
    QVector<char *> argv;
    for (QByteArray &t : texts)
        argv << t.data();
    argv << nullptr;
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, QFile::encodeName(outPath).constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, 2, QFile::encodeName(errPath).constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv.first(), &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    Measured m;
    if (spawned != 0)
        return m;
    int status = 0;
    rusage usage{};
    QDeadlineTimer deadline(kRunMs);
    pid_t done = 0;
    while ((done = wait4(pid, &status, WNOHANG, &usage)) == 0 && !deadline.hasExpired())
        controller->waitForLine([](const QString &) { return false; }, 0, 10);
    if (done == 0) {
        ::kill(pid, SIGKILL);
        wait4(pid, &status, 0, &usage);
        return m;
    }
    m.finished = done == pid && WIFEXITED(status);
    m.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m.peakBytes = qint64(usage.ru_maxrss) * 1024;
    return m;
}

qint64 lineCount(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    qint64 lines = 0;
    while (!file.atEnd())
        lines += file.read(1 << 20).count('\n');
    return lines;
}

// The reads of the symbol table ads-sim served: offset and length each.
QList<QPair<qint64, qint64>> tableReads(const QStringList &lines)
{
    static const QRegularExpression read(QStringLiteral(
        "^read id=\\d+ group=0xf00b offset=0x([0-9a-f]+) length=(\\d+) -> error 0x0 result 0x0$"));
    QList<QPair<qint64, qint64>> reads;
    for (const QString &l : lines) {
        const QRegularExpressionMatch m = read.match(l);
        if (m.hasMatch())
            reads.append({m.captured(1).toLongLong(nullptr, 16), m.captured(2).toLongLong()});
    }
    return reads;
}
} // namespace

class TestTools : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void info();
    void helpAndThePluginSearchOrder();
    void roundTrips_data();
    void roundTrips();
    void embeddedControllerWhenNoConnect();
    void watchPrintsChangesUntilStopped();
    void watchStopsAfterTimes();
    void watchSurvivesAControllerRestart();
    void watchTellsOneStory_data();
    void watchTellsOneStory();
    void badInputSendsNothing_data();
    void badInputSendsNothing();
    void connectFailures_data();
    void connectFailures();
    void driverResultsWithTheirMeaning();
    void controllerErrorsWithTheirMeaning_data();
    void controllerErrorsWithTheirMeaning();
    void connectParametersReachTheController();
    void simMisbehavesOnRequest();
    void simStopsCleanlyOnSignals_data();
    void simStopsCleanlyOnSignals();
    void simImageFile();
    void simReloadsItsImagesOnSignals_data();
    void simReloadsItsImagesOnSignals();
    void simArrayElementsAndStrings();
    void simRouterAndRuntimes();
    void simBadOptions_data();
    void simBadOptions();
    void simRefusesABusyPort();
    void stringsByName_data();
    void stringsByName();
    void stringsWatched();
    void symbolsOfAFewThousand();
    void symbolsShowProgressWhenSlow();
    void symbolsOfAnEmptyController();
    void symbolsInLittleMemory_data();
    void symbolsInLittleMemory();
    void errorCodes_data();
    void errorCodes();
    void symbolsAsLeaves_data();
    void symbolsAsLeaves();
    void leavesReadByName();
    void simTellsItsStateAndName();
    void infoConnectAsksTheController_data();
    void infoConnectAsksTheController();
    void simNotificationsAndClock();

private:
    std::unique_ptr<Sim> sim;
    // ads-sim serving a 32 MiB table of minimal entries, started by the first row that needs it.
    struct BigTable {
        QTemporaryDir dir;
        MinimalSymbols symbols{32 << 20};
        std::unique_ptr<Sim> sim;
    };
    std::unique_ptr<BigTable> bigTable;
    std::unique_ptr<Sim> serialSim; // the round trips over the pseudo-terminal, on memory of their own
    // ads-sim serving structures, and one refusing the data type upload, started by the first row that needs
    // them.
    struct Plant {
        QTemporaryDir dir;
        std::unique_ptr<Sim> sim;
        std::unique_ptr<Sim> noTypes;
    };
    std::unique_ptr<Plant> plant;
    Sim *plantSim(bool noTypes);
};

// The README's structures: a drive, an axis holding one and an array of
// DINT, a recipe holding an array of drives.
const char kPlantImage[] = "type ST_Motor 8          // a drive\n"
                           "member nSpeed 0 2 INT    // rpm\n"
                           "member fPos 4 4 REAL\n"
                           "end\n"
                           "type ST_Axis 28\n"
                           "member stMotor 0 8 ST_Motor\n"
                           "member aSteps 8 20 ARRAY [1..5] OF DINT\n"
                           "end\n"
                           "type ST_Recipe 44\n"
                           "member sName 0 20 STRING(19)\n"
                           "member aSteps 14 24 ARRAY [0..2] OF ST_Motor\n"
                           "end\n"
                           "symbol MAIN.stMotor 4020 100 8 ST_Motor // the main drive\n"
                           "symbol GVL.aAxes 4020 200 56 ARRAY [1..2] OF ST_Axis\n"
                           "symbol MAIN.stRecipe 4020 300 44 ST_Recipe\n"
                           "symbol MAIN.nCounter 4020 0 4 DINT // counts, up\n"
                           "4020 100 e8 03\n"
                           "4020 328 00 00 f0 40\n";

Sim *TestTools::plantSim(bool noTypes)
{
    if (!plant) {
        plant = std::make_unique<Plant>();
        const QString image = plant->dir.filePath(QStringLiteral("plant.txt"));
        if (!writeFile(image, kPlantImage))
            return nullptr;
        plant->sim = std::make_unique<Sim>(QStringList{"--image", image});
        plant->noTypes = std::make_unique<Sim>(QStringList{"--image", image, "--no-data-types"});
    }
    Sim *sim = noTypes ? plant->noTypes.get() : plant->sim.get();
    return sim->started ? sim : nullptr;
}

void TestTools::initTestCase()
{
    sim = std::make_unique<Sim>();
    QVERIFY2(sim->started, qPrintable(sim->child->errorOutput()));
    QVERIFY(sim->tcp.startsWith(QStringLiteral("127.0.0.1:")));
    QVERIFY(!sim->tcp.endsWith(QStringLiteral(":0"))); // the real port, not the one asked for
    serialSim = std::make_unique<Sim>();
    QVERIFY(serialSim->started);
}

void TestTools::cleanupTestCase()
{
    sim.reset();
    serialSim.reset();
    bigTable.reset();
    plant.reset();
}

void TestTools::info()
{
    const Run r = adsctl({"info"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 0);
    const QStringList lines = r.outLines();
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(0), QStringLiteral("name:    Beckhoff"));
    QVERIFY(lines.at(1).startsWith(QStringLiteral("version: V")));
    QVERIFY(lines.at(2).size() > QStringLiteral("build:   ").size());

    // --version: adsctl's own, then the plug-in's as info shows them.
    const Run version = adsctl({"read", "MW0", "--version"});
    QCOMPARE(version.exitCode, 0);
    const QStringList versions = version.outLines();
    QCOMPARE(versions.size(), 4);
    QVERIFY2(
        QRegularExpression(QStringLiteral("^adsctl:  \\d+\\.\\d+\\.\\d+$")).match(versions.at(0)).hasMatch(),
        qPrintable(versions.at(0)));
    QVERIFY(versions.at(1).startsWith(QStringLiteral("plug-in: /")));
    QVERIFY(QFileInfo::exists(versions.at(1).mid(9)));
    QCOMPARE(versions.mid(2), lines.mid(1));

    const Run help = adsctl({"read", "--help"});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.startsWith(QStringLiteral("usage: adsctl")));

    const Run missing = adsctl({"--plugin", "/nonexistent/libBeckhoff_ADS.so", "info"});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY(missing.err.contains(QStringLiteral("cannot load the plug-in")));
    // Without the plug-in, --version still tells adsctl's own.
    const Run alone = adsctl({"--plugin", "/nonexistent/libBeckhoff_ADS.so", "--version"});
    QCOMPARE(alone.exitCode, 1);
    QCOMPARE(alone.outLines(), versions.mid(0, 1));
}

void TestTools::helpAndThePluginSearchOrder()
{
    const Run help = adsctl({"--help"});
    QCOMPARE(help.exitCode, 0);
    // The two places --help names, in the order it names them.
    const QRegularExpression places(QStringLiteral("first that exists of\\s+(\\S+) \\(installed\\) "
                                                   "and\\s+(\\S+) \\(build tree\\), from adsctl's folder"));
    const QRegularExpressionMatch named = places.match(help.out);
    QVERIFY2(named.hasMatch(), qPrintable(help.out));
    const QString installed = named.captured(1);
    const QString built = named.captured(2);
    QVERIFY(installed.endsWith(QStringLiteral("/beckhoff-ads/libBeckhoff_ADS.so")));
    QCOMPARE(built, QStringLiteral("../lib/libBeckhoff_ADS.so"));

    // A copy of adsctl in a tree of its own finds the plug-in where --help says.
    QTemporaryDir tree;
    QVERIFY(tree.isValid());
    const QDir bin(tree.filePath(QStringLiteral("bin")));
    QVERIFY(QDir().mkpath(bin.path()));
    const QString copy = bin.filePath(QStringLiteral("adsctl"));
    QVERIFY(QFile::copy(program("adsctl"), copy));
    const QString plugin =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../lib/libBeckhoff_ADS.so"));
    const QFileInfo label(QFileInfo(plugin).dir().filePath(QStringLiteral("libCLabelVariable.so.1")));
    QVERIFY(label.exists());
    QVERIFY(QDir().mkpath(tree.filePath(QStringLiteral("lib"))));
    // The label library too, for a build whose run paths are relative.
    QVERIFY(
        QFile::link(label.canonicalFilePath(), tree.filePath(QStringLiteral("lib/libCLabelVariable.so.1"))));
    const auto versionOfCopy = [&copy]() {
        QProcess p;
        p.start(copy, {"--version"});
        const bool ended = p.waitForFinished(kRunMs);
        if (!ended)
            p.kill();
        p.waitForFinished(5000);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        return ended && p.exitCode() == 0 ? out.section(QLatin1Char('\n'), 1, 1)
                                          : QStringLiteral("failed: ") + err;
    };
    QVERIFY(versionOfCopy().startsWith(QStringLiteral("failed: adsctl: cannot load the plug-in")));

    const QString builtPlace = QDir::cleanPath(bin.filePath(built));
    QVERIFY(QFile::link(QFileInfo(plugin).canonicalFilePath(), builtPlace));
    QCOMPARE(versionOfCopy(), QStringLiteral("plug-in: ") + builtPlace);

    const QString installedPlace = QDir::cleanPath(bin.filePath(installed));
    QVERIFY(QDir().mkpath(QFileInfo(installedPlace).path()));
    QVERIFY(QFile::link(QFileInfo(plugin).canonicalFilePath(), installedPlace));
    QCOMPARE(versionOfCopy(), QStringLiteral("plug-in: ") + installedPlace);
}

void TestTools::roundTrips_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QStringList>("write");
    QTest::addColumn<QStringList>("read");
    QTest::addColumn<QStringList>("expected");
    struct Row {
        const char *name;
        QStringList write, read, expected;
    };
    const QList<Row> rows = {
        {"int16 array",
         {"MW20", "int16", "-32768", "0", "32767"},
         {"MW20", "INT16", "3"},
         {"-32768", "0", "32767"}},
        {"uint8 hex in", {"MB30", "uint8", "0xff", "0x10"}, {"MB30", "uint8", "2"}, {"255", "16"}},
        {"int8", {"MB34", "int8", "-128", "127"}, {"MB34", "int8", "2"}, {"-128", "127"}},
        {"float shortest",
         {"MW40", "float", "0.1", "-1.5e-7", "3.4028235e38"},
         {"MW40", "float", "3"},
         {"0.1", "-1.5e-07", "3.4028235e+38"}},
        {"double shortest",
         {"MW60", "double", "0.1", "1e300", "-0", "nan"},
         {"MW60", "double", "4"},
         {"0.1", "1e+300", "-0", "nan"}},
        {"int64 limits",
         {"MW90", "int64", "-9223372036854775808", "9223372036854775807"},
         {"MW90", "int64", "2"},
         {"-9223372036854775808", "9223372036854775807"}},
        {"uint64 max",
         {"MWB0", "uint64", "18446744073709551615"},
         {"MWB0", "uint64"},
         {"18446744073709551615"}},
        {"uint32 outputs", {"QW4", "uint32", "4294967295"}, {"QW4", "uint32"}, {"4294967295"}},
        {"json", {"MWC0", "uint16", "1", "65535"}, {"MWC0", "uint16", "2", "--json"}, {"[1,65535]"}},
        {"bit", {"MX10.3", "bool", "true"}, {"MBA", "uint8"}, {"8"}}, // bit 3 of byte 10 (0xA)
        {"bool array",
         {"MB300", "bool", "1", "false", "TRUE"},
         {"MB300", "bool", "3"},
         {"true", "false", "true"}},
        // The explicit form reads and writes the group it names.
        {"explicit form", {"F030:10", "uint16", "513"}, {"F030:10", "uint16"}, {"513"}},
    };
    for (bool serial : {false, true}) {
        for (const Row &r : rows)
            QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(serial ? "serial" : "tcp", r.name)))
                << serial << r.write << r.read << r.expected;
    }
}

void TestTools::roundTrips()
{
    QFETCH(bool, serial);
    QFETCH(QStringList, write);
    QFETCH(QStringList, read);
    QFETCH(QStringList, expected);
    // Each row has addresses of its own in zeroed memory: no read passes
    // unless its write arrived.
    const QStringList connect = {"--connect", serial ? serialSim->serial : sim->tcp};
    const Run w = adsctl(connect + QStringList{"write"} + write);
    QVERIFY2(w.finished && w.exitCode == 0, qPrintable(w.err));
    QCOMPARE(w.out, QString());
    QCOMPARE(w.errLines(), QStringList{"0: success"});

    const Run r = adsctl(connect + QStringList{"read"} + read);
    QVERIFY2(r.finished && r.exitCode == 0, qPrintable(r.err));
    QCOMPARE(r.outLines(), expected);
    QCOMPARE(r.errLines(), QStringList{"0: success"});
}

void TestTools::embeddedControllerWhenNoConnect()
{
    const Run w = adsctl({"write", "MW0", "int16", "5"});
    QCOMPARE(w.exitCode, 0);
    QVERIFY2(w.err.contains(QStringLiteral("simulated controller inside adsctl at 127.0.0.1:")),
             qPrintable(w.err));
    // Each run has a controller of its own, with zeroed memory.
    const Run r = adsctl({"read", "MW0", "int16", "2"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.outLines(), (QStringList{"0", "0"}));
    QVERIFY(r.errLines().contains(QStringLiteral("0: success")));
}

void TestTools::watchPrintsChangesUntilStopped()
{
    const QRegularExpression stamped(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} (.*)$"));
    // Waits until ads-sim has served three more reads of the watched place.
    auto threeMoreReads = [this]() {
        int seen = 0;
        const auto watchedRead = [&seen](const QString &l) {
            return l.startsWith(QStringLiteral("read ")) && l.contains(QStringLiteral("offset=0x100 "))
                   && ++seen == 3;
        };
        return sim->child->waitForLine(watchedRead, sim->child->lines().size());
    };
    QCOMPARE(adsctl({"--connect", sim->tcp, "write", "MW100", "int32", "0", "0"}).exitCode, 0);
    Child watch("adsctl",
                {"--connect", sim->tcp, "watch", "MW100", "int32", "2", "--every", "20", "--times", "1000"});
    QVERIFY(watch.waitForLine([](const QString &l) { return l.endsWith(QStringLiteral(" 0 0")); }));
    QVERIFY(threeMoreReads());

    QCOMPARE(adsctl({"--connect", sim->tcp, "write", "MW104", "int32", "-77"}).exitCode, 0);
    QVERIFY(watch.waitForLine([](const QString &l) { return l.endsWith(QStringLiteral(" 0 -77")); }));
    QVERIFY(threeMoreReads());
    QCOMPARE(watch.stop(SIGTERM), 0);

    // One line per change, not per read.
    const QStringList lines = watch.lines();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(stamped.match(lines.at(0)).captured(1), QStringLiteral("0 0"));
    QCOMPARE(stamped.match(lines.at(1)).captured(1), QStringLiteral("0 -77"));
}

void TestTools::watchStopsAfterTimes()
{
    QCOMPARE(adsctl({"--connect", sim->tcp, "write", "MW200", "uint8", "0"}).exitCode, 0);
    Child counted("adsctl", {"--connect", sim->tcp, "watch", "MW200", "uint8", "--times", "2", "--every",
                             "10", "--json"});
    QVERIFY(counted.waitForLine([](const QString &) { return true; }));
    // Reads that change nothing print nothing, and count for nothing.
    int reads = 0;
    QVERIFY(sim->child->waitForLine(
        [&reads](const QString &l) { return l.contains(QStringLiteral(" offset=0x200 ")) && ++reads == 5; },
        sim->child->lines().size()));
    QCOMPARE(counted.lines().size(), 1);
    QCOMPARE(adsctl({"--connect", sim->tcp, "write", "MW200", "uint8", "9"}).exitCode, 0);
    QCOMPARE(counted.waitForExit(), 0);
    const QStringList lines = counted.lines();
    QCOMPARE(lines.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QJsonObject line = QJsonDocument::fromJson(lines.at(i).toUtf8()).object();
        QCOMPARE(line.value(QStringLiteral("result")).toInt(-1), 0);
        QCOMPARE(line.value(QStringLiteral("values")).toArray(), (QJsonArray{i == 0 ? 0 : 9}));
        QVERIFY2(
            QDateTime::fromString(line.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs).isValid(),
            qPrintable(lines.at(i)));
    }
}

void TestTools::watchSurvivesAControllerRestart()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString image = dir.filePath(QStringLiteral("42.txt"));
    QVERIFY(writeFile(image, "4020 0 2a 00\n"));

    auto first = std::make_unique<Sim>();
    QVERIFY(first->started);
    const QString address = first->tcp;
    // stdout alone: the outage among the values.
    Child watch("adsctl", {"--connect", address, "watch", "MW0", "int16", "--every", "20"});
    const auto at = [](const QString &text) { return [text](const QString &l) { return l.endsWith(text); }; };
    QVERIFY(watch.waitForLine(at(QStringLiteral(" 0"))));
    QCOMPARE(first->child->stop(SIGTERM), 0);
    first.reset();
    QVERIFY(
        watch.waitForLine(at(QStringLiteral(" 9: link down, nothing sent (link down: nothing was sent)"))));
    const int down = watch.lines().size();

    // The same port again, with other memory: the value shows the new controller answering.
    Sim second({"--image", image}, address);
    QVERIFY2(second.started, qPrintable(second.child->errorOutput()));
    QVERIFY(watch.waitForLine(at(QStringLiteral(" 42")), down));
    QCOMPARE(watch.stop(SIGINT), 0); // the outage was transient: the last read succeeded

    // One line for the outage, however many reads it lasted (and one more
    // when the controller went while a read waited: 7 or 8).
    const QStringList lines = watch.lines();
    const QStringList stamped = lines.filter(QRegularExpression(QStringLiteral("^\\d{4}-")));
    QCOMPARE(stamped, lines);
    QVERIFY2(stamped.size() == 3 || stamped.size() == 4, qPrintable(lines.join('\n')));
    QVERIFY(stamped.first().endsWith(QStringLiteral(" 0")));
    QVERIFY(stamped.at(stamped.size() - 2).contains(QStringLiteral(" 9: link down, nothing sent")));
    QVERIFY(stamped.last().endsWith(QStringLiteral(" 42")));
}

void TestTools::watchTellsOneStory_data()
{
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<QStringList>("watchOptions");
    QTest::addColumn<int>("event"); // what happens after the first line
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("story"); // the lines without their time stamps; JSON with sorted keys
    QTest::addColumn<bool>("subscribes"); // whether the controller saw a notification added
    const QString outage =
        QStringLiteral("([78]: [^\\n]*\\n)?9: link down, nothing sent \\(link down: nothing was sent\\)");
    const QStringList every{"--every", "20"};
    QTest::newRow("a change, from notifications")
        << QStringList{} << QStringList{"--times", "2"} << int(Write) << 0 << "42\\n7" << true;
    QTest::newRow("a restart, from notifications")
        << QStringList{} << QStringList{} << int(Restart) << 0 << "42\\n" + outage + "\\n42" << true;
    QTest::newRow("a restart, every 20 ms")
        << QStringList{} << every << int(Restart) << 0 << "42\\n" + outage + "\\n42" << false;
    // Each read a request: the fifth is never answered, the sixth is.
    QTest::newRow("a lost reply, as JSON, ended by --times")
        << QStringList{"--drop-every", "5"}
        << every + QStringList{"--reply-ms", "300", "--times", "3", "--json"} << int(Nothing) << 0
        << QRegularExpression::escape(
               "{\"result\":0,\"values\":[42]}\n"
               "{\"error\":\"no reply\",\"reason\":\"no reply within 300 ms\",\"result\":8}\n"
               "{\"result\":0,\"values\":[42]}")
        << false;
    QTest::newRow("stopped during an outage")
        << QStringList{} << QStringList{} << int(ControllerGone) << 1 << "42\\n" + outage << true;
}

// watch's stdout alone tells what happened, in order: values, outages, and
// values again once the driver has the link back.
void TestTools::watchTellsOneStory()
{
    QFETCH(QStringList, simOptions);
    QFETCH(QStringList, watchOptions);
    QFETCH(int, event);
    QFETCH(int, exitCode);
    QFETCH(QString, story);
    QFETCH(bool, subscribes);
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("42.txt"));
    QVERIFY(writeFile(image, "4020 0 2a 00\n"));
    Sim own(simOptions + QStringList{"--image", image});
    QVERIFY(own.started);
    Child watch("adsctl", QStringList{"--connect", own.tcp, "watch", "MW0", "int16"} + watchOptions);
    const auto value42 = [](const QString &l) {
        return l.endsWith(QStringLiteral(" 42")) || l.endsWith("[42]}");
    };
    QVERIFY(watch.waitForLine(value42));
    int exited = -1;
    switch (event) {
    case Write:
        QCOMPARE(adsctl({"--connect", own.tcp, "write", "MW0", "int16", "7"}).exitCode, 0);
        exited = watch.waitForExit();
        break;
    case Restart:
        own.child->send(SIGUSR1);
        QVERIFY(watch.waitForLine(value42, 1));
        exited = watch.stop(SIGINT);
        break;
    case ControllerGone:
        QCOMPARE(own.child->stop(SIGTERM), 0);
        QVERIFY(
            watch.waitForLine([](const QString &l) { return l.contains(QStringLiteral(" 9: link down")); }));
        exited = watch.stop(SIGTERM);
        break;
    default: exited = watch.waitForExit();
    }
    QCOMPARE(exited, exitCode);

    static const QRegularExpression stamped(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"));
    QStringList told;
    for (const QString &line : watch.lines()) {
        QJsonObject json = QJsonDocument::fromJson(line.toUtf8()).object();
        const QString stamp =
            json.isEmpty() ? line.section(QLatin1Char(' '), 0, 0) : json.take("time").toString();
        QVERIFY2(stamped.match(stamp).hasMatch(), qPrintable(line));
        told << (json.isEmpty() ? line.section(QLatin1Char(' '), 1)
                                : QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact)));
    }
    const QRegularExpression expected(QRegularExpression::anchoredPattern(story));
    QVERIFY2(expected.match(told.join(QLatin1Char('\n'))).hasMatch(),
             qPrintable(told.join(QLatin1Char('\n'))));
    const bool added =
        !own.child->lines().filter(QRegularExpression(QStringLiteral("^addnotification "))).isEmpty();
    QCOMPARE(added, subscribes);
}

void TestTools::badInputSendsNothing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown type") << QStringList{"read", "MW0", "int17"} << "unknown type 'int17'";
    QTest::newRow("count 0") << QStringList{"read", "MW0", "int16", "0"} << "count '0'";
    QTest::newRow("count not a number") << QStringList{"watch", "MW0", "int16", "x"} << "count 'x'";
    QTest::newRow("uint8 300") << QStringList{"write", "MW0", "uint8", "300"} << "'300' for uint8";
    QTest::newRow("uint8 negative") << QStringList{"write", "MW0", "uint8", "1", "-1"} << "'-1' for uint8";
    QTest::newRow("int16 1.5") << QStringList{"write", "MW0", "int16", "1.5"} << "'1.5' for int16";
    QTest::newRow("float too large") << QStringList{"write", "MW0", "float", "1e39"} << "'1e39' for float";
    QTest::newRow("bool word") << QStringList{"write", "MW0", "bool", "maybe"} << "'maybe' for bool";
    QTest::newRow("write without value") << QStringList{"write", "MW0", "int16"} << "at least one VALUE";
    QTest::newRow("read without type") << QStringList{"read", "MW0"} << "needs ADDRESS and TYPE";
    QTest::newRow("too many") << QStringList{"read", "MW0", "int16", "2", "3"} << "'3' is one too many";
    QTest::newRow("unknown command") << QStringList{"get", "MW0", "int16"} << "unknown command 'get'";
    QTest::newRow("no command") << QStringList{} << "no command given";
    QTest::newRow("unknown option") << QStringList{"read", "MW0", "int16", "--fast"}
                                    << "unknown option --fast";
    QTest::newRow("every on read") << QStringList{"read", "MW0", "int16", "--every", "5"}
                                   << "--every is for watch";
    QTest::newRow("ams port") << QStringList{"--ams-port", "70000", "read", "MW0", "int16"} << "--ams-port";
    QTest::newRow("target") << QStringList{"--target", "5.12.34.56.1", "read", "MW0", "int16"}
                            << "--target wants a NetId";
    QTest::newRow("source") << QStringList{"read", "MW0", "int16", "--source=automatic"}
                            << "--source wants a NetId";
    QTest::newRow("reply ms") << QStringList{"--reply-ms", "0", "read", "MW0", "int16"} << "--reply-ms wants";
    QTest::newRow("connect ms") << QStringList{"--connect-ms", "1e3", "read", "MW0", "int16"}
                                << "--connect-ms wants";
    QTest::newRow("symbols, two patterns") << QStringList{"symbols", "MAIN.*", "GVL.*"}
                                           << "symbols takes at most a PATTERN; 'GVL.*' is one too many";
    QTest::newRow("symbols, no glob")
        << QStringList{"symbols", "MAIN.a[1"} << "pattern 'MAIN.a[1' is no glob";
    QTest::newRow("par beside target")
        << QStringList{"--par", "851", "--target", "5.12.34.56.1.1", "read", "MW0", "int16"}
        << "--par and --target do not mix";
}

void TestTools::badInputSendsNothing()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const int before = sim->requestLines().size();
    const Run bad = adsctl(QStringList{"--connect", sim->tcp} + args);
    QCOMPARE(bad.exitCode, 2);
    QCOMPARE(bad.out, QString());
    QCOMPARE(bad.errLines().size(), 1);
    QVERIFY2(bad.err.startsWith(QStringLiteral("adsctl: ")) && bad.err.contains(message),
             qPrintable(bad.err));

    // A request that does go out, to see that it is the only new one.
    QCOMPARE(adsctl({"--connect", sim->tcp, "read", "MB777", "uint8"}).exitCode, 0);
    QVERIFY(
        sim->child->waitForLine([](const QString &l) { return l.contains(QStringLiteral("offset=0x777")); }));
    const QStringList since = sim->requestLines().mid(before);
    QCOMPARE(since.size(), 1);
    QVERIFY(since.first().contains(QStringLiteral("offset=0x777")));
}

void TestTools::connectFailures_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("code");
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const QString nobody = QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    QTest::newRow("nothing listens") << nobody << "-3: no TCP connection";
    QTest::newRow("no separator") << "localhost"
                                  << "-4: ";
    QTest::newRow("port out of range") << "127.0.0.1:70000"
                                       << "-1: ";
    QTest::newRow("no such serial port") << "/nonexistent/tty,9600,8,1,N"
                                         << "-1: ";
    // Host names are not looked up: the texts say what to give instead.
    QTest::newRow("localhost")
        << "localhost:48898"
        << "-1: 'localhost' is a host name, and names are not looked up: give a numeric "
           "address (127.0.0.1:48898)";
    QTest::newRow("a name")
        << "plc.example:48898"
        << "-1: 'plc.example' is a host name, and names are not looked up: give a numeric "
           "address (the controller's IP address, IP:PORT)";
}

void TestTools::connectFailures()
{
    QFETCH(QString, text);
    QFETCH(QString, code);
    const Run r = adsctl({"--connect", text, "read", "MW0", "int16"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.out, QString());
    QVERIFY2(r.err.contains(QStringLiteral("cannot connect to %1: %2").arg(text, code)), qPrintable(r.err));
}

void TestTools::driverResultsWithTheirMeaning()
{
    const QStringList connect = {"--connect", sim->tcp};
    const int before = sim->requestLines().size();
    Run r = adsctl(connect + QStringList{"read", "ZZ:10", "int16"});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("3: the address names no known area")), qPrintable(r.err));
    r = adsctl(connect + QStringList{"write", "MB-10", "int16", "1"});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("5: negative offset")), qPrintable(r.err));
    QCOMPARE(sim->requestLines().size(), before); // the driver refused both itself

    // The controller answers AMS port 851 only.
    r = adsctl(connect + QStringList{"--ams-port", "852", "read", "MW0", "int16"});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.errLines().contains(QStringLiteral("7: the controller reported ADS error 0x6: target port not "
                                                  "found: no ADS server (runtime) on that AMS port")),
             qPrintable(r.err));
    r = adsctl(connect + QStringList{"--ams-port", "851", "read", "MW0", "int16"});
    QCOMPARE(r.exitCode, 0);

    r = adsctl(connect + QStringList{"--trace", "read", "MW0", "int16"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.err.count(QStringLiteral(" ID=851 MW0 len = 2 msg : ")), 2); // the request and its reply
}

void TestTools::controllerErrorsWithTheirMeaning_data()
{
    QTest::addColumn<QStringList>("simOptions");
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("line");
    QTest::newRow("unknown symbol") << QStringList{} << QStringList{"read", "MAIN.nNothing", "int32"}
                                    << "7: the controller reported ADS error 0x710: symbol not found";
    QTest::newRow("watch of an unknown symbol")
        << QStringList{} << QStringList{"watch", "GVL.aNothing[3]", "int32", "--times", "1", "--every", "0"}
        << "7: the controller reported ADS error 0x710: symbol not found";
    QTest::newRow("device busy") << QStringList{"--ads-error", "0x708"} << QStringList{"read", "MW0", "int16"}
                                 << "7: the controller reported ADS error 0x708: device busy";
    QTest::newRow("a code of its own")
        << QStringList{"--ads-error", "0x1234"} << QStringList{"read", "MW0", "int16"}
        << "7: the controller reported error 0x1234";
}

void TestTools::controllerErrorsWithTheirMeaning()
{
    QFETCH(QStringList, simOptions);
    QFETCH(QStringList, command);
    QFETCH(QString, line);
    Sim own(simOptions);
    QVERIFY(own.started);
    const Run r = adsctl(QStringList{"--connect", own.tcp} + command);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, 1); // watch: no read ever succeeded
    // watch: on stdout, a time stamp first and the driver's reason last.
    const bool watched = command.first() == QLatin1String("watch");
    QCOMPARE(r.out.isEmpty(), !watched);
    QCOMPARE((watched ? r.outLines() : r.errLines())
                 .filter(QRegularExpression(
                     QStringLiteral("(^| )") + QRegularExpression::escape(line)
                     + QStringLiteral("( \\(controller error 0x710: symbol not found\\))?$")))
                 .size(),
             1);
}

void TestTools::connectParametersReachTheController()
{
    struct Row {
        QStringList simOptions;
        QStringList adsctlOptions;
        int exitCode;
        QString errLine; // the last line on stderr
    };
    const QString id = QStringLiteral("5.12.34.56.1.1");
    const QString noRoute = QStringLiteral("8: no reply"); // the controller closes the connection
    const QList<Row> rows = {
        // The driver's default target, 127.0.0.1.1.1, is not this controller's NetId.
        {{"--netid", id},
         {},
         1,
         "7: the controller reported ADS error 0x7: target machine not found: no AMS route to that NetId"},
        {{"--netid", id}, {"--target", id}, 0, "0: success"},
        {{"--netid", id}, {"--target", id, "--ams-port", "851"}, 0, "0: success"},
        {{"--netid", id}, {"--par", id + ":851"}, 0, "0: success"},
        // The driver's default source, 192.168.10.100.1.1, has no route.
        {{"--route", "10.1.2.3.1.1"}, {}, 1, noRoute},
        {{"--route", "10.1.2.3.1.1"}, {"--source", "10.1.2.3.1.1"}, 0, "0: success"},
        {{"--route", "10.1.2.3.1.1"}, {"--par", "source=10.1.2.3.1.1"}, 0, "0: success"},
        // auto: the local address of the connection, 127.0.0.1, then .1.1.
        {{"--route", "127.0.0.1.1.1"}, {}, 1, noRoute},
        {{"--route", "127.0.0.1.1.1"}, {"--source", "auto"}, 0, "0: success"},
        {{"--route", "127.0.0.1.1.1", "--netid", id},
         {"--source", "auto", "--target", id, "--connect-ms", "5000", "--reply-ms", "5000"},
         0,
         "0: success"},
        // A reply later than the wait asked for.
        {{"--delay-ms", "400"}, {"--reply-ms", "100"}, 1, "8: no reply"},
        {{"--delay-ms", "400"}, {"--reply-ms", "3000"}, 0, "0: success"},
        {{},
         {"--par", "851;bogus=1"},
         1,
         "adsctl: SetConnectPar(\"851;bogus=1\") answered -1: an unknown key, a bad NetId or a value out of "
         "range; nothing changed"},
    };
    for (const Row &row : rows) {
        const QString name = (row.simOptions + QStringList{"|"} + row.adsctlOptions).join(QLatin1Char(' '));
        Sim own(row.simOptions);
        QVERIFY2(own.started, qPrintable(name));
        const Run r = adsctl(QStringList{"--connect", own.tcp} + row.adsctlOptions
                             + QStringList{"read", "MW0", "int16"});
        QVERIFY2(r.finished, qPrintable(name));
        QVERIFY2(r.exitCode == row.exitCode, qPrintable(name + ": " + r.err));
        QVERIFY2(!r.errLines().isEmpty() && r.errLines().last() == row.errLine,
                 qPrintable(name + ": " + r.err));
        QCOMPARE(r.outLines(), row.exitCode == 0 ? QStringList{"0"} : QStringList());
    }
}

void TestTools::simMisbehavesOnRequest()
{
    Sim failing({"--ads-error", "0x710", "--ams-port", "852"});
    QVERIFY(failing.started);
    const Run r = adsctl({"--connect", failing.tcp, "--ams-port", "852", "read", "MW0", "int16"});
    QCOMPARE(r.exitCode, 1);
    QVERIFY(failing.child->waitForLine(
        [](const QString &l) { return l.endsWith(QStringLiteral("result 0x710")); }));
    QVERIFY2(
        r.errLines().contains(QStringLiteral("7: the controller reported ADS error 0x710: symbol not found")),
        qPrintable(r.err));

    Sim slow({"--delay-ms", "300"});
    QVERIFY(slow.started);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(adsctl({"--connect", slow.tcp, "read", "MW0", "int16"}).exitCode, 0);
    QVERIFY(clock.elapsed() >= 300);

    Sim dropping({"--drop-every", "2"});
    QVERIFY(dropping.started);
    const Run answered = adsctl({"--connect", dropping.tcp, "read", "MW0", "int16"});
    QCOMPARE(answered.exitCode, 0);
    const Run dropped = adsctl({"--connect", dropping.serial, "--reply-ms", "300", "read", "MW0", "int16"});
    QCOMPARE(dropped.exitCode, 1);
    QVERIFY2(dropped.err.contains(QStringLiteral("8: no reply")), qPrintable(dropped.err));
    QVERIFY(dropping.child->waitForLine(
        [](const QString &l) { return l.endsWith(QStringLiteral("no answer")); }));
}

void TestTools::simStopsCleanlyOnSignals_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void TestTools::simStopsCleanlyOnSignals()
{
    QFETCH(int, signal);
    Sim own;
    QVERIFY(own.started);
    QCOMPARE(adsctl({"--connect", own.serial, "read", "MW0", "int16"}).exitCode, 0); // a driver has used it
    QCOMPARE(own.child->stop(signal), 0);
    QCOMPARE(own.child->errorOutput(), QString());
}

void TestTools::simImageFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString good = dir.filePath(QStringLiteral("good.txt"));
    const QString bad = dir.filePath(QStringLiteral("bad.txt"));
    QFile file(good);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("# starting memory\n"
               "4020 10 34 12 56   # three bytes of M\n"
               "\n"
               "0xF030 0x2 ff\n"
               "symbol MAIN.nCounter 4020 10 2 INT\n");
    file.close();
    file.setFileName(bad);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("4020 10 34\n# fine so far\n4020 12 3g\n");
    file.close();

    Sim loaded({"--image", good});
    QVERIFY(loaded.started);
    Run r = adsctl({"--connect", loaded.tcp, "read", "MB10", "uint8", "3"});
    QCOMPARE(r.outLines(), (QStringList{"52", "18", "86"}));
    r = adsctl({"--connect", loaded.tcp, "read", "QW2", "uint8"});
    QCOMPARE(r.outLines(), QStringList{"255"});
    // Names from the image's symbol lines, looked up by the driver.
    r = adsctl({"--connect", loaded.tcp, "read", "MAIN.nCounter", "int16"});
    QCOMPARE(r.outLines(), QStringList{"4660"});
    r = adsctl({"--connect", loaded.tcp, "write", "main.ncounter", "int16", "-2"});
    QCOMPARE(r.exitCode, 0);
    r = adsctl({"--connect", loaded.tcp, "read", "MB10", "uint8", "2"});
    QCOMPARE(r.outLines(), (QStringList{"254", "255"}));
    r = adsctl({"--connect", loaded.tcp, "read", "MAIN.nCounter", "int32"});
    QCOMPARE(r.exitCode, 1); // more bytes than the symbol holds

    Child refused("ads-sim", {"--listen", "127.0.0.1:0", "--image", bad});
    QCOMPARE(refused.waitForExit(), 2);
    QCOMPARE(refused.lines(), QStringList()); // never started
    const QString error = refused.errorOutput();
    QVERIFY2(error.contains(QStringLiteral("bad.txt: line 3: '3g'")), qPrintable(error));
}

void TestTools::simReloadsItsImagesOnSignals_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<QByteArray>("first"); // the first image file, rewritten before the signal
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("n"); // MAIN.n, written 7 before
    QTest::addColumn<QStringList>("m"); // MAIN.m, only in the rewritten second file

    const QByteArray moved = "symbol MAIN.n 4020 20 2 INT\n4020 20 05 00\n";
    QTest::newRow("SIGHUP: online change")
        << int(SIGHUP) << moved << "online change: symbol version 2" << QStringList{"7"} << QStringList{"9"};
    QTest::newRow("SIGUSR1: restart")
        << int(SIGUSR1) << moved << "restart: symbol version 2" << QStringList{"5"} << QStringList{"9"};
    QTest::newRow("a file that does not parse")
        << int(SIGHUP) << QByteArray("4020 zz\n") << "ads-sim: reload refused: " << QStringList{"7"}
        << QStringList();
}

void TestTools::simReloadsItsImagesOnSignals()
{
    QFETCH(int, signal);
    QFETCH(QByteArray, first);
    QFETCH(QString, line);
    QFETCH(QStringList, n);
    QFETCH(QStringList, m);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString a = dir.filePath(QStringLiteral("a.txt"));
    const QString b = dir.filePath(QStringLiteral("b.txt"));
    QVERIFY(writeFile(a, "symbol MAIN.n 4020 10 2 INT\n4020 10 01 00\n"));
    QVERIFY(writeFile(b, "# nothing yet\n"));
    Child sim("ads-sim", {"--listen", "127.0.0.1:0", "--image", a, "--image", b}, true);
    const QStringList connect = {"--connect", sim.lineStartingWith(QStringLiteral("tcp "))};
    QCOMPARE(adsctl(connect + QStringList{"write", "MAIN.n", "int16", "7"}).exitCode, 0);

    QVERIFY(writeFile(a, first));
    QVERIFY(writeFile(b, "symbol MAIN.m 4040 0 2 INT\n4040 0 09 00\n"));
    sim.send(signal);
    QVERIFY2(sim.waitForLine([&](const QString &l) { return l.startsWith(line); }),
             qPrintable(sim.lines().join('\n')));
    QCOMPARE(adsctl(connect + QStringList{"read", "MAIN.n", "int16"}).outLines(), n);
    QCOMPARE(adsctl(connect + QStringList{"read", "MAIN.m", "int16"}).outLines(), m);
    QCOMPARE(sim.stop(SIGTERM), 0);
}

// The README's example: an image file declaring the array alone, its
// elements read and written by name.
void TestTools::simArrayElementsAndStrings()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString image = dir.filePath(QStringLiteral("plant.txt"));
    QVERIFY(writeFile(image, "symbol GVL.aTemps 4020 200 40 ARRAY [0..9] OF REAL   // hall, in degC\n"
                             "symbol MAIN.sName 4040 400 81 STRING(80)\n"
                             "4040 400 41 6e 6e 61\n"));
    Sim loaded({"--image", image});
    QVERIFY(loaded.started);
    const QStringList connect = {"--connect", loaded.tcp};

    Run r = adsctl(connect + QStringList{"write", "GVL.aTemps", "float", "20.5", "21", "21.5", "22"});
    QCOMPARE(r.exitCode, 0);
    r = adsctl(connect + QStringList{"read", "GVL.aTemps[3]", "float"});
    QCOMPARE(r.outLines(), QStringList{"22"});
    r = adsctl(connect + QStringList{"write", "gvl.atemps[9]", "float", "-1.25"});
    QCOMPARE(r.exitCode, 0);
    r = adsctl(connect + QStringList{"read", "MB224", "float"}); // 0x200 + 9 x 4
    QCOMPARE(r.outLines(), QStringList{"-1.25"});
    r = adsctl(connect + QStringList{"read", "GVL.aTemps[10]", "float"});
    QCOMPARE(r.exitCode, 1);
    QVERIFY2(r.err.contains(QStringLiteral("0x710")), qPrintable(r.err));
    r = adsctl(connect + QStringList{"read", "GVL.aTemps[8]", "float", "3"});
    QCOMPARE(r.exitCode, 1); // more bytes than the element holds

    // A string's bytes, in a group no other line wrote whole.
    r = adsctl(connect + QStringList{"read", "MAIN.sName", "uint8", "81"});
    QCOMPARE(r.outLines().mid(0, 5), (QStringList{"65", "110", "110", "97", "0"}));
    QCOMPARE(r.outLines().size(), 81);
}

void TestTools::simRouterAndRuntimes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString image = dir.filePath(QStringLiteral("two.txt"));
    QVERIFY(writeFile(image, "4020 0 01 00\n"
                             "symbol MAIN.n 4020 10 2 INT\n"
                             "port 852\n"
                             "4020 0 02 00\n"
                             "symbol MAIN.n 4020 20 2 INT\n"));

    // The driver's frames carry the target NetId 127.0.0.1.1.1 and the source 192.168.10.100.1.1.
    Sim plc({"--netid", "127.0.0.1.1.1", "--route", "10.0.0.1.1.1", "--route", "192.168.10.100.1.1",
             "--ams-port", "851,852", "--image", image});
    QVERIFY2(plc.started, qPrintable(plc.child->errorOutput()));
    const QStringList connect = {"--connect", plc.tcp};
    QCOMPARE(adsctl(connect + QStringList{"read", "MW0", "int16"}).outLines(), QStringList{"1"});
    QCOMPARE(adsctl(connect + QStringList{"--ams-port", "852", "read", "MW0", "int16"}).outLines(),
             QStringList{"2"});
    QCOMPARE(adsctl(connect + QStringList{"--ams-port", "852", "write", "MAIN.n", "int16", "-3"}).exitCode,
             0);
    QCOMPARE(adsctl(connect + QStringList{"--ams-port", "852", "read", "MW20", "int16"}).outLines(),
             QStringList{"-3"});
    QCOMPARE(adsctl(connect + QStringList{"read", "MW10", "int16"}).outLines(), QStringList{"0"});
    const Run noRuntime = adsctl(connect + QStringList{"--ams-port", "853", "read", "MW0", "int16"});
    QCOMPARE(noRuntime.exitCode, 1);
    QVERIFY(plc.child->waitForLine(
        [](const QString &l) { return l.endsWith(QStringLiteral("error 0x6 result 0x0")); }));

    Sim elsewhere({"--netid", "5.12.34.56.1.1"});
    QVERIFY(elsewhere.started);
    const Run wrongTarget = adsctl({"--connect", elsewhere.tcp, "read", "MW0", "int16"});
    QCOMPARE(wrongTarget.exitCode, 1);
    QVERIFY2(
        wrongTarget.errLines().contains(QStringLiteral("7: the controller reported ADS error 0x7: target "
                                                       "machine not found: no AMS route to that NetId")),
        qPrintable(wrongTarget.err));
    QVERIFY(elsewhere.child->waitForLine(
        [](const QString &l) { return l.endsWith(QStringLiteral("error 0x7 result 0x0")); }));

    Sim strangers({"--route", "10.0.0.1.1.1"});
    QVERIFY(strangers.started);
    QCOMPARE(adsctl({"--connect", strangers.tcp, "read", "MW0", "int16"}).exitCode, 1);
    QVERIFY(strangers.child->waitForLine([](const QString &l) {
        return l.endsWith(QStringLiteral("-> no route from 192.168.10.100.1.1, connection closed"));
    }));
    QCOMPARE(adsctl({"--connect", strangers.serial, "--reply-ms", "300", "read", "MW0", "int16"}).exitCode,
             1);
    QVERIFY(strangers.child->waitForLine([](const QString &l) {
        return l.endsWith(QStringLiteral("-> no route from 192.168.10.100.1.1, no answer"));
    }));

    // An image line for a port ads-sim has no runtime on stops it before it listens.
    Child refused("ads-sim", {"--listen", "127.0.0.1:0", "--image", image});
    QCOMPARE(refused.waitForExit(), 2);
    QCOMPARE(refused.lines(), QStringList());
    const QString error = refused.errorOutput();
    QVERIFY2(
        error.contains(QStringLiteral("two.txt: line 3: port 852 has no runtime (the runtimes are on 851)")),
        qPrintable(error));
}

void TestTools::simBadOptions_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown option") << QStringList{"--bogus"} << "bogus";
    QTest::newRow("listen without port") << QStringList{"--listen", "127.0.0.1"} << "--listen";
    QTest::newRow("listen not an address") << QStringList{"--listen", "nowhere:5"} << "--listen";
    QTest::newRow("ams port 0") << QStringList{"--ams-port", "0"} << "--ams-port";
    QTest::newRow("drop every x") << QStringList{"--drop-every", "x"} << "--drop-every";
    QTest::newRow("drop every 0") << QStringList{"--drop-every", "0"} << "--drop-every wants a count 1 to";
    QTest::newRow("netid") << QStringList{"--netid", "5.12.34.56.1"} << "--netid wants six numbers";
    QTest::newRow("route") << QStringList{"--route", "localhost"} << "--route wants six numbers";
    QTest::newRow("ams port twice") << QStringList{"--ams-port", "851,851"} << "--ams-port wants ports";
    QTest::newRow("missing image") << QStringList{"--image", "/nonexistent/image.txt"}
                                   << "/nonexistent/image.txt";
    QTest::newRow("state") << QStringList{"--state", "halt"} << "--state wants run, stop or config";
    QTest::newRow("device name") << QStringList{"--device-name="} << "--device-name needs a name";
    QTest::newRow("max notifications")
        << QStringList{"--max-notifications", "-1"} << "--max-notifications wants a count 0 to 1000000";
    QTest::newRow("clock without its symbol") << QStringList{"--clock", "MAIN.nClock"}
                                              << "--clock wants a symbol of the image files' first runtime";
}

void TestTools::simBadOptions()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    Child sim("ads-sim", QStringList{"--listen", "127.0.0.1:0"} + args);
    QCOMPARE(sim.waitForExit(), 2);
    const QString error = sim.errorOutput();
    QCOMPARE(error.count(QLatin1Char('\n')), 1);
    QVERIFY2(error.startsWith(QStringLiteral("ads-sim: ")) && error.contains(message), qPrintable(error));
    QCOMPARE(sim.lines(), QStringList());
}

void TestTools::simRefusesABusyPort()
{
    QTcpServer busy;
    QVERIFY(busy.listen(QHostAddress::LocalHost, 0));
    const QString address = QStringLiteral("127.0.0.1:%1").arg(busy.serverPort());
    Child sim("ads-sim", {"--listen", address});
    QCOMPARE(sim.waitForExit(), 1);
    QVERIFY(sim.errorOutput().contains(QStringLiteral("cannot listen on ") + address));
}

namespace {
const QByteArray kStringImage = "symbol MAIN.sName 4040 400 81 STRING(80)   // operator\n"
                                "symbol MAIN.sShort 4040 500 11 STRING(10)\n"
                                "symbol MAIN.wsName 4040 600 42 WSTRING(20)\n"
                                "symbol GVL.aNames 4040 700 33 ARRAY [0..2] OF STRING(10)\n"
                                "symbol MAIN.nCount 4040 800 4 DINT\n";
} // namespace

void TestTools::stringsByName_data()
{
    QTest::addColumn<QStringList>("write");
    QTest::addColumn<QString>("written"); // the start of the write's result line
    QTest::addColumn<QStringList>("read");
    QTest::addColumn<int>("readExit");
    QTest::addColumn<QString>("out"); // the read's whole stdout
    const QString greeting = QString::fromUtf8("Gr\xc3\xbc\xc3\x9f"
                                               "e \xe2\x82\xac");
    const QString wide = QString::fromUtf8("\xce\xa9mega \xf0\x9f\x98\x80");
    QTest::newRow("STRING") << QStringList{"MAIN.sName", "string", "Batch 42"} << "0: success"
                            << QStringList{"MAIN.sName", "string"} << 0 << "Batch 42\n";
    QTest::newRow("Windows-1252 on the controller")
        << QStringList{"MAIN.sName", "STRING", greeting} << "0: success"
        << QStringList{"MAIN.sName", "uint8", "8"} << 0 << "71\n114\n252\n223\n101\n32\n128\n0\n";
    QTest::newRow("beyond ASCII read back") << QStringList{"MAIN.sName", "string", greeting} << "0: success"
                                            << QStringList{"MAIN.sName", "string"} << 0 << greeting + "\n";
    QTest::newRow("beyond ASCII in JSON as UTF-8")
        << QStringList{"MAIN.sName", "string", greeting} << "0: success"
        << QStringList{"MAIN.sName", "string", "--json"} << 0 << "[\"" + greeting + "\"]\n";
    QTest::newRow("WSTRING beyond the basic plane")
        << QStringList{"MAIN.wsName", "string", wide} << "0: success"
        << QStringList{"MAIN.wsName", "string", "--json"} << 0 << "[\"" + wide + "\"]\n";
    QTest::newRow("an array, one value a string")
        << QStringList{"GVL.aNames", "string", "a", "b c", ""} << "0: success"
        << QStringList{"GVL.aNames", "string", "3"} << 0 << "a\nb c\n\n";
    QTest::newRow("JSON escapes") << QStringList{"MAIN.sName", "string", "say \"hi\"\t\\ %1"} << "0: success"
                                  << QStringList{"MAIN.sName", "string", "--json"} << 0
                                  << "[\"say \\\"hi\\\"\\u0009\\\\ %1\"]\n";
    // Refused writes leave the controller's bytes as they were.
    QTest::newRow("longer than n") << QStringList{"MAIN.sShort", "string", "0123456789A"}
                                   << "5: " << QStringList{"MAIN.sShort", "string"} << 0 << "\n";
    QTest::newRow("a character the code page lacks")
        << QStringList{"MAIN.sShort", "string", QString::fromUtf8("\xce\xa9")}
        << "5: " << QStringList{"MAIN.sShort", "string"} << 0 << "\n";
    QTest::newRow("more strings than the array")
        << QStringList{"GVL.aNames", "string", "1", "2", "3", "4"}
        << "5: " << QStringList{"GVL.aNames", "string", "4"} << 1 << "";
    QTest::newRow("a symbol of another type") << QStringList{"MAIN.nCount", "string", "x"}
                                              << "2: " << QStringList{"MAIN.nCount", "string"} << 1 << "";
    QTest::newRow("an area address") << QStringList{"MW0", "string", "x"}
                                     << "2: " << QStringList{"MB0", "string"} << 1 << "";
}

void TestTools::stringsByName()
{
    QFETCH(QStringList, write);
    QFETCH(QString, written);
    QFETCH(QStringList, read);
    QFETCH(int, readExit);
    QFETCH(QString, out);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString image = dir.filePath(QStringLiteral("strings.txt"));
    QVERIFY(writeFile(image, kStringImage));
    Sim own({"--image", image});
    QVERIFY(own.started);
    const QStringList connect = {"--connect", own.tcp};

    const Run w = adsctl(connect + QStringList{"write"} + write);
    QVERIFY(w.finished);
    QCOMPARE(w.exitCode, written.startsWith(QStringLiteral("0:")) ? 0 : 1);
    QVERIFY2(!w.errLines().isEmpty() && w.errLines().last().startsWith(written), qPrintable(w.err));
    const Run r = adsctl(connect + QStringList{"read"} + read);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, readExit);
    QCOMPARE(r.out, out);
}

void TestTools::stringsWatched()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString image = dir.filePath(QStringLiteral("strings.txt"));
    QVERIFY(writeFile(image, kStringImage));
    Sim own({"--image", image});
    QVERIFY(own.started);
    const QStringList connect = {"--connect", own.tcp};
    QCOMPARE(adsctl(connect + QStringList{"write", "GVL.aNames", "string", "one two", "", "x"}).exitCode, 0);
    // Quoted on watch's one line, so that the blank and the empty string show.
    Run r = adsctl(connect + QStringList{"watch", "GVL.aNames", "string", "3", "--times", "1"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.outLines().size(), 1);
    QVERIFY2(r.out.endsWith(QStringLiteral(" \"one two\" \"\" \"x\"\n")), qPrintable(r.out));
    r = adsctl(connect + QStringList{"watch", "GVL.aNames", "string", "3", "--times", "1", "--json"});
    QCOMPARE(r.exitCode, 0);
    QVERIFY2(r.out.endsWith(QStringLiteral(",\"values\":[\"one two\",\"\",\"x\"]}\n")), qPrintable(r.out));
}

void TestTools::symbolsOfAFewThousand()
{
    const GeneratedSymbols generated;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString image = dir.filePath(QStringLiteral("plant.txt"));
    QVERIFY(writeFile(image, generated.image));
    Sim own({"--image", image});
    QVERIFY2(own.started, qPrintable(own.child->errorOutput()));
    const int total = GeneratedSymbols::kCount + 1;

    // ads-sim tells a request after answering it: wait for the tail's line
    // of the `times`-th upload before counting the reads.
    const QString tail = QStringLiteral("group=0xf00b offset=0x%1 length=%2 ")
                             .arg(generated.tableBytes / 8 * 8, 0, 16)
                             .arg(generated.tableBytes % 8);
    const auto tailServed = [&own, &tail](int times) {
        int seen = 0;
        return own.child->waitForLine([&](const QString &l) { return l.contains(tail) && ++seen == times; });
    };

    const Run all = adsctl({"--connect", own.tcp, "symbols"});
    QVERIFY(all.finished);
    QCOMPARE(all.exitCode, 0);
    QCOMPARE(all.err, QStringLiteral("adsctl: %1 symbols\n").arg(total));
    const QStringList lines = all.out.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 1 + total + 1); // the header, and nothing after the last newline
    QCOMPARE(lines.last(), QString());
    const int typeAt = lines.first().indexOf(QStringLiteral("TYPE"));
    QCOMPARE(typeAt, QStringLiteral("main.t00000  ").size());
    QVERIFY(lines.at(1).startsWith(QStringLiteral("GVL.zPad ")));
    for (int i = 0; i < GeneratedSymbols::kCount; ++i) {
        const QString &line = lines.at(2 + i);
        QVERIFY2(line.startsWith(GeneratedSymbols::name(i) + " ")
                     && line.mid(typeAt).startsWith(GeneratedSymbols::type(i) + " "),
                 qPrintable(line));
        QCOMPARE(line.endsWith(GeneratedSymbols::comment(i)) && line.contains(QStringLiteral(" tag ")),
                 i % 5 == 0);
    }

    // Read in pieces, each where the last ended, and the tail that is no whole word alone.
    QVERIFY(tailServed(1));
    const QList<QPair<qint64, qint64>> reads = tableReads(own.child->lines());
    QVERIFY2(reads.size() >= 3, qPrintable(QString::number(reads.size())));
    qint64 next = 0;
    for (const auto &read : reads) {
        QCOMPARE(read.first, next);
        QVERIFY(read.second <= 65536);
        next += read.second;
    }
    QCOMPARE(next, generated.tableBytes);
    QCOMPARE(reads.last().second, generated.tableBytes % 8);

    // A pattern, as JSON: the ten tags 10 to 19, whatever the case of their names.
    const Run some = adsctl({"--connect", own.tcp, "symbols", "MAIN.T0001*", "--json"});
    QCOMPARE(some.exitCode, 0);
    QCOMPARE(some.err, QStringLiteral("adsctl: 10 of %1 symbols match MAIN.T0001*\n").arg(total));
    QJsonParseError error;
    const QJsonArray array = QJsonDocument::fromJson(some.out.toUtf8(), &error).array();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(array.size(), 10);
    for (int k = 0; k < 10; ++k) {
        const int i = 10 + k;
        const QJsonObject o = array.at(k).toObject();
        QCOMPARE(o.value("name").toString(), GeneratedSymbols::name(i));
        QCOMPARE(o.value("type").toString(), GeneratedSymbols::type(i));
        QCOMPARE(o.value("size").toInt(), i % 3 == 0 ? 81 : 2);
        QCOMPARE(o.value("group").toInt(), i % 3 == 0 ? 0x4040 : 0x4020);
        QCOMPARE(o.value("offset").toInt(), i * 128);
        QCOMPARE(o.value("comment").toString(), GeneratedSymbols::comment(i));
    }

    // The serial line: the same listing, in pieces of at most a kilobyte.
    const Run tcp = adsctl({"--connect", own.tcp, "symbols", "main.t0299*"});
    QVERIFY(tailServed(3)); // this run's, the JSON run's and the first's
    const int before = own.child->lines().size();
    const Run serial = adsctl({"--connect", own.serial, "symbols", "main.t0299*"});
    QCOMPARE(serial.exitCode, 0);
    QCOMPARE(serial.out, tcp.out);
    QCOMPARE(serial.outLines().size(), 1 + 10);
    QVERIFY(tailServed(4));
    const QList<QPair<qint64, qint64>> serialReads = tableReads(own.child->lines().mid(before));
    QVERIFY(serialReads.size() >= generated.tableBytes / 1024);
    for (const auto &read : serialReads)
        QVERIFY(read.second <= 1024);
}

// An upload of more than a second tells how far it is on stderr, on one
// line it overwrites, never on stdout.
void TestTools::symbolsShowProgressWhenSlow()
{
    const GeneratedSymbols generated;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString image = dir.filePath(QStringLiteral("plant.txt"));
    QVERIFY(writeFile(image, generated.image));
    // The sizes and at least three pieces, 300 ms each: well over a second.
    Sim slow({"--image", image, "--delay-ms", "300"});
    QVERIFY(slow.started);
    const Run r = adsctl({"--connect", slow.tcp, "symbols", "GVL.*"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out.count(QLatin1Char('\n')), 2);
    const QRegularExpression progress(
        QStringLiteral(
            "^(\\radsctl: symbol table \\d+ of %1 KB)+\\nadsctl: 1 of 3001 symbols match GVL\\.\\*\\n$")
            .arg((generated.tableBytes + 500) / 1000));
    QVERIFY2(progress.match(r.err).hasMatch(), qPrintable(r.err));
}

void TestTools::symbolsOfAnEmptyController()
{
    const Run r = adsctl({"symbols", "--json"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QStringLiteral("[]\n"));
    QVERIFY2(r.err.endsWith(QStringLiteral("\nadsctl: 0 symbols\n")), qPrintable(r.err));
}

// adsctl holds a large table once, as its bytes, with a few bytes per entry
// besides: at most three times the table and 30 MB (Qt and the plug-in
// count in those), listed or printed as JSON, whole or in part.
void TestTools::symbolsInLittleMemory_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("json");
    QTest::newRow("a table") << "" << false;
    QTest::newRow("json") << "" << true;
    QTest::newRow("a pattern") << "B*" << false;
    QTest::newRow("a pattern, json") << "b*" << true;
    QTest::newRow("leaves, csv") << "--leaves" << false;
}

void TestTools::symbolsInLittleMemory()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    QSKIP("a sanitizer's shadow memory counts into the resident size");
#endif
    QFETCH(QString, pattern);
    QFETCH(bool, json);
    if (!bigTable) {
        bigTable = std::make_unique<BigTable>();
        QVERIFY(bigTable->dir.isValid());
        const QString image = bigTable->dir.filePath(QStringLiteral("minimal.txt"));
        QVERIFY(writeFile(image, bigTable->symbols.image));
        bigTable->symbols.image.clear();
        bigTable->sim = std::make_unique<Sim>(QStringList{"--image", image});
    }
    QVERIFY2(bigTable->sim->started, qPrintable(bigTable->sim->child->errorOutput()));
    const MinimalSymbols &symbols = bigTable->symbols;
    QVERIFY(symbols.tableBytes > (32 << 20) - 64);

    const QString outPath = bigTable->dir.filePath(QStringLiteral("out.txt"));
    const QString errPath = bigTable->dir.filePath(QStringLiteral("err.txt"));
    // The leaves of symbols of no structure are the symbols themselves.
    const bool leaves = pattern == QLatin1String("--leaves");
    if (leaves)
        pattern.clear();
    QStringList args{"--connect", bigTable->sim->tcp, "symbols"};
    if (!pattern.isEmpty())
        args << pattern;
    if (json)
        args << "--json";
    if (leaves)
        args << "--leaves"
             << "--csv";
    const Measured m = measuredAdsctl(args, outPath, errPath, bigTable->sim->child.get());
    QVERIFY(m.finished);
    QFile errFile(errPath);
    QVERIFY(errFile.open(QIODevice::ReadOnly));
    const QString err = QString::fromUtf8(errFile.readAll());
    QVERIFY2(m.exitCode == 0, qPrintable(err));
    const qint64 listed = pattern.isEmpty() ? symbols.count : symbols.startingWithB;
    QVERIFY2(err.endsWith(leaves ? QStringLiteral("adsctl: %1 leaves of %1 symbols\n").arg(symbols.count)
                          : pattern.isEmpty() ? QStringLiteral("adsctl: %1 symbols\n").arg(symbols.count)
                                              : QStringLiteral("adsctl: %1 of %2 symbols match %3\n")
                                                    .arg(listed)
                                                    .arg(symbols.count)
                                                    .arg(pattern)),
             qPrintable(err));
    // A header, or the brackets of the JSON array, and a line per symbol.
    QCOMPARE(lineCount(outPath), listed + (json ? 2 : 1));

    const qint64 bound = 3 * symbols.tableBytes + 30000000;
    QVERIFY2(m.peakBytes > 0 && m.peakBytes <= bound,
             qPrintable(QStringLiteral("%1 bytes at the peak for a table of %2; at most %3")
                            .arg(m.peakBytes)
                            .arg(symbols.tableBytes)
                            .arg(bound)));
}

// adsctl error: one line from adsctl's own table, without the plug-in
// (a path that does not exist) or a controller.
void TestTools::errorCodes_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::newRow("hex") << "0x705" << 0 << "0x705 (1797): parameter size not correct\n";
    QTest::newRow("decimal") << "1808" << 0 << "0x710 (1808): symbol not found\n";
    QTest::newRow("not in the table") << "0x1234" << 0 << "0x1234 (4660): unknown code\n";
    QTest::newRow("no number") << "seven" << 2 << "";
}

void TestTools::errorCodes()
{
    QFETCH(QString, code);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    const Run r = adsctl({"--plugin", "/nonexistent/libBeckhoff_ADS.so", "error", code});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.out, out);
    if (exitCode == 0)
        QCOMPARE(r.err, QString());
    else
        QCOMPARE(r.err,
                 QStringLiteral("adsctl: usage: adsctl error CODE, CODE hex (0x705) or decimal (1797), not "
                                "'%1'\n")
                     .arg(code));
}

void TestTools::symbolsAsLeaves_data()
{
    QTest::addColumn<bool>("noTypes");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err"); // adsctl's last line on stderr

    QTest::newRow("leaves")
        << false << QStringList{"symbols", "--leaves"} << 0
        << "NAME                            TYPE                  SIZE  GROUP  OFFSET  COMMENT\n"
           "GVL.aAxes[1].stMotor.nSpeed     INT                   2     4020   200     rpm\n"
           "GVL.aAxes[1].stMotor.fPos       REAL                  4     4020   204\n"
           "GVL.aAxes[1].aSteps             ARRAY [1..5] OF DINT  20    4020   208\n"
           "GVL.aAxes[2].stMotor.nSpeed     INT                   2     4020   21C     rpm\n"
           "GVL.aAxes[2].stMotor.fPos       REAL                  4     4020   220\n"
           "GVL.aAxes[2].aSteps             ARRAY [1..5] OF DINT  20    4020   224\n"
           "MAIN.nCounter                   DINT                  4     4020   0       counts, up\n"
           "MAIN.stMotor.nSpeed             INT                   2     4020   100     rpm\n"
           "MAIN.stMotor.fPos               REAL                  4     4020   104\n"
           "MAIN.stRecipe.sName             STRING(19)            20    4020   300\n"
           "MAIN.stRecipe.aSteps[0].nSpeed  INT                   2     4020   314     rpm\n"
           "MAIN.stRecipe.aSteps[0].fPos    REAL                  4     4020   318\n"
           "MAIN.stRecipe.aSteps[1].nSpeed  INT                   2     4020   31C     rpm\n"
           "MAIN.stRecipe.aSteps[1].fPos    REAL                  4     4020   320\n"
           "MAIN.stRecipe.aSteps[2].nSpeed  INT                   2     4020   324     rpm\n"
           "MAIN.stRecipe.aSteps[2].fPos    REAL                  4     4020   328\n"
        << "adsctl: 16 leaves of 4 symbols";
    QTest::newRow("leaves matching, as CSV")
        << false << QStringList{"symbols", "--leaves", "--csv", "*.nSPEED"} << 0
        << "name,type,size,group,offset,comment\r\n"
           "GVL.aAxes[1].stMotor.nSpeed,INT,2,16416,512,rpm\r\n"
           "GVL.aAxes[2].stMotor.nSpeed,INT,2,16416,540,rpm\r\n"
           "MAIN.stMotor.nSpeed,INT,2,16416,256,rpm\r\n"
           "MAIN.stRecipe.aSteps[0].nSpeed,INT,2,16416,788,rpm\r\n"
           "MAIN.stRecipe.aSteps[1].nSpeed,INT,2,16416,796,rpm\r\n"
           "MAIN.stRecipe.aSteps[2].nSpeed,INT,2,16416,804,rpm\r\n"
        << "adsctl: 6 of 16 leaves match *.nSPEED";
    QTest::newRow("symbols as CSV, a comment quoted")
        << false << QStringList{"symbols", "--csv", "MAIN.[ns]*"} << 0
        << "name,type,size,group,offset,comment\r\n"
           "MAIN.nCounter,DINT,4,16416,0,\"counts, up\"\r\n"
           "MAIN.stMotor,ST_Motor,8,16416,256,the main drive\r\n"
           "MAIN.stRecipe,ST_Recipe,44,16416,768,\r\n"
        << "adsctl: 3 of 4 symbols match MAIN.[ns]*";
    QTest::newRow("no data type upload") << true << QStringList{"symbols", "--leaves"} << 1 << ""
                                         << "adsctl: the controller refuses the data type upload (reading "
                                            "F00F:0: 7: the controller reported ADS "
                                            "error 0x701: service not supported by the server)";
    QTest::newRow("no data type upload, symbols alone")
        << true << QStringList{"symbols", "MAIN.n*"} << 0
        << "NAME           TYPE  SIZE  GROUP  OFFSET  COMMENT\n"
           "MAIN.nCounter  DINT  4     4020   0       counts, up\n"
        << "adsctl: 1 of 4 symbols match MAIN.n*";
}

void TestTools::symbolsAsLeaves()
{
    QFETCH(bool, noTypes);
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, out);
    QFETCH(QString, err);
    Sim *own = plantSim(noTypes);
    QVERIFY(own);
    const Run r = adsctl(QStringList{"--connect", own->tcp} + args);
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, exitCode);
    QCOMPARE(r.out, out);
    QVERIFY2(!r.errLines().isEmpty() && r.errLines().last() == err, qPrintable(r.err));
    // adsctl's own lines: this one alone; the driver's own start with its tag.
    for (const QString &line : r.errLines())
        QVERIFY2(line == err || line.contains(QStringLiteral("lib[Beckhoff]")), qPrintable(line));
}

// Every leaf --leaves lists is a name the driver reads, at the place listed.
void TestTools::leavesReadByName()
{
    Sim *own = plantSim(false);
    QVERIFY(own);
    const QStringList connect = {"--connect", own->tcp};
    const Run listed = adsctl(connect + QStringList{"symbols", "--leaves", "--json"});
    QCOMPARE(listed.exitCode, 0);
    const QJsonArray leaves = QJsonDocument::fromJson(listed.out.toUtf8()).array();
    QCOMPARE(leaves.size(), 16);
    QCOMPARE(adsctl(connect + QStringList{"read", "MAIN.stMotor.nSpeed", "int16"}).outLines(),
             QStringList{"1000"});
    QCOMPARE(adsctl(connect + QStringList{"read", "MAIN.stRecipe.aSteps[2].fPos", "float"}).outLines(),
             QStringList{"7.5"});
    for (const QJsonValue &v : leaves) {
        const QJsonObject leaf = v.toObject();
        const int size = leaf.value("size").toInt();
        const QString place = QStringLiteral("%1:%2")
                                  .arg(leaf.value("group").toInt(), 0, 16)
                                  .arg(leaf.value("offset").toInt(), 0, 16);
        const Run byName = adsctl(
            connect + QStringList{"read", leaf.value("name").toString(), "uint8", QString::number(size)});
        QVERIFY2(byName.exitCode == 0, qPrintable(leaf.value("name").toString() + ": " + byName.err));
        QCOMPARE(byName.out,
                 adsctl(connect + QStringList{"read", place, "uint8", QString::number(size)}).out);
    }
}

void TestTools::infoConnectAsksTheController_data()
{
    QTest::addColumn<QStringList>("sim"); // ads-sim's options; empty: no controller listens
    QTest::addColumn<QStringList>("options"); // adsctl's, before info
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says"); // a line of stdout (exit 0) or the start of stderr's last (exit 1)
    QTest::newRow("running") << QStringList{"--device-name", "PLC-Hall3"} << QStringList{} << 0
                             << "controller: PLC-Hall3";
    QTest::newRow("in RUN") << QStringList{} << QStringList{} << 0 << "ADS state: 5 RUN";
    QTest::newRow("in STOP") << QStringList{"--state", "stop"} << QStringList{} << 0 << "ADS state: 6 STOP";
    QTest::newRow("in CONFIG") << QStringList{"--state", "config"} << QStringList{} << 0
                               << "ADS state: 15 CONFIG";
    QTest::newRow("no route for this station") << QStringList{"--route", "10.1.2.3.1.1"} << QStringList{} << 1
                                               << "adsctl: no route: the controller closed the connection "
                                                  "right after a request: it may have no route "
                                                  "for the source NetId 192.168.10.100.1.1";
    QTest::newRow("another NetId") << QStringList{"--netid", "5.6.7.8.1.1"} << QStringList{} << 1
                                   << "adsctl: the controller did not answer as asked: 7: ";
    QTest::newRow("no answer") << QStringList{"--drop-every", "1"} << QStringList{"--reply-ms", "300"} << 1
                               << "adsctl: no answer: ";
    QTest::newRow("no TCP connection")
        << QStringList{} << QStringList{} << 1 << "adsctl: no TCP connection: ";
    // Refused before any connection is tried: no word of TCP.
    QTest::newRow("a host name") << QStringList{} << QStringList{} << 1
                                 << "adsctl: cannot connect to localhost:";
}

// info --connect asks the controller for its name, version and state, and
// when that fails says which of the usual failures it was.
void TestTools::infoConnectAsksTheController()
{
    QFETCH(QStringList, sim);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    const bool listening = QTest::currentDataTag() != QLatin1String("no TCP connection");
    Sim controller(sim);
    QVERIFY(controller.started);
    QString where = controller.tcp;
    if (!listening)
        where = QStringLiteral("127.0.0.1:1"); // nothing listens there
    if (QTest::currentDataTag() == QLatin1String("a host name"))
        where.replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
    const Run r = adsctl(QStringList{"--connect", where} + options + QStringList{"info"});
    QVERIFY(r.finished);
    QCOMPARE(r.exitCode, exitCode);
    if (exitCode == 0) {
        QVERIFY2(r.outLines().contains(says), qPrintable(r.out));
        QVERIFY(r.outLines()
                    .filter(QRegularExpression(QStringLiteral("^controller version: \\d+\\.\\d+\\.\\d+$")))
                    .size()
                == 1);
    } else {
        const QStringList err = r.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY2(!err.isEmpty() && err.last().startsWith(says), qPrintable(r.err));
    }
}

// ReadState and ReadDeviceInfo as --state and --device-name set them, over
// a raw connection; --version prints what ReadDeviceInfo answers.
void TestTools::simTellsItsStateAndName()
{
    const Run version = adsctl({"--version"});
    const QString expected = version.outLines().value(0).section(QLatin1Char(' '), -1);
    Child printed("ads-sim", {"--version", "--listen", "127.0.0.1:0"});
    QCOMPARE(printed.waitForExit(), 0);
    QCOMPARE(printed.lines(), QStringList{"ads-sim: " + expected});

    Sim own({"--state", "stop", "--device-name", "Line 3 controller"});
    QVERIFY(own.started);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(own.tcp.section(QLatin1Char(':'), 1).toUInt()));
    QVERIFY(socket.waitForConnected(kRunMs));
    const auto ask = [&socket](quint16 command) {
        // AMS/TCP header, then target 127.0.0.1.1.1:851, source 10.0.0.1.1.1:32905, no data.
        QByteArray frame = QByteArray::fromHex("0000 20000000 7f0000010101 5303 0a0000010101 8980");
        frame += char(command) + QByteArray::fromHex("00 0400 00000000 00000000 2a000000");
        socket.write(frame);
        QByteArray reply;
        QDeadlineTimer deadline(kRunMs);
        while ((reply.size() < 6 || reply.size() < 6 + int(quint8(reply.at(2)))) && !deadline.hasExpired()) {
            socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
            reply += socket.readAll();
        }
        return reply.mid(38);
    };
    QCOMPARE(ask(4), QByteArray::fromHex("00000000 0600 0000"));
    const QStringList parts = expected.split(QLatin1Char('.'));
    QCOMPARE(parts.size(), 3);
    QByteArray info = QByteArray::fromHex("00000000");
    info += char(parts.at(0).toInt());
    info += char(parts.at(1).toInt());
    info += char(parts.at(2).toInt() & 0xFF);
    info += char(parts.at(2).toInt() >> 8);
    QCOMPARE(ask(1), info + "Line 3 controll" + QByteArray(1, '\0'));
}

// --max-notifications and --clock through raw frames: the first add's
// sample, at once, carries the clock as this process reads CLOCK_MONOTONIC;
// the second add is refused with 0x716; --verbose tells both and the frame.
void TestTools::simNotificationsAndClock()
{
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("clock.txt"));
    QVERIFY(writeFile(image, "symbol MAIN.nClock 4020 0 4 UDINT\nsymbol MAIN.nShort 4020 10 2 UINT\n"));
    Child shortClock("ads-sim", {"--listen", "127.0.0.1:0", "--image", image, "--clock", "MAIN.nShort"});
    QCOMPARE(shortClock.waitForExit(), 2);
    QVERIFY(shortClock.errorOutput().contains("--clock wants a symbol of 4 bytes, and 'MAIN.nShort' has 2"));

    Sim own({"--image", image, "--clock", "main.nclock", "--max-notifications", "1"});
    QVERIFY(own.started);
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, quint16(own.tcp.section(QLatin1Char(':'), 1).toUInt()));
    QVERIFY(socket.waitForConnected(kRunMs));
    const auto read = [&socket](int size) {
        QByteArray got;
        QDeadlineTimer deadline(kRunMs);
        while (got.size() < size && !deadline.hasExpired() && socket.waitForReadyRead(kRunMs))
            got += socket.read(size - got.size());
        return got;
    };
    // To 127.0.0.1.1.1:851 from 10.0.0.1.1.1:32905: M 0, 4 bytes, cyclic every 10 s.
    const QByteArray add =
        QByteArray::fromHex("0000 48000000 7f0000010101 5303 0a0000010101 8980 0600 0400 28000000"
                            "00000000 01000000 20400000 00000000 04000000 03000000 00000000 "
                            "00e1f505")
        + QByteArray(16, '\0');
    socket.write(add);
    const QByteArray first = read(46 + 70); // the reply, then the sample: length, a stamp, one sample
    QCOMPARE(first.mid(38, 4), QByteArray(4, '\0'));
    QCOMPARE(first.mid(46 + 22, 2), QByteArray::fromHex("0800"));
    QCOMPARE(first.mid(46 + 58, 4), first.mid(42, 4)); // the handle
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const quint32 clock = qFromLittleEndian<quint32>(first.constData() + 46 + 66);
    QVERIFY2(qAbs(qint32(quint32(quint64(now.tv_sec) * 1000 + quint64(now.tv_nsec) / 1000000) - clock))
                 < 1000,
             qPrintable(QString::number(clock)));
    socket.write(add);
    QCOMPARE(read(46).mid(38), QByteArray::fromHex("16070000 00000000"));
    for (const char *line :
         {"addnotification id=1 group=0x4020 offset=0x0 length=4 mode=3 cycle=100000000 -> "
          "error 0x0 result 0x0 handle=0x",
          "notification id=1 samples=1 bytes=70", "result 0x716 handle=0x0"})
        QVERIFY2(own.child->waitForLine([line](const QString &l) { return l.contains(QLatin1String(line)); }),
                 line);
}

QTEST_GUILESS_MAIN(TestTools)
#include "tst_tools.moc"
