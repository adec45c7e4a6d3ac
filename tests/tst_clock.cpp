// The labels' time stamps: the same QDateTime that
// QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime) gives, in zones with and
// without daylight saving time, through both changes of the offset, and when
// the clock goes back.
#include "driver/LocalClock.h"

#include <QtTest>

#include <ctime>

namespace {
// Zones by their POSIX rules: no zone files needed.
const char *const kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
const char *const kNewYork = "EST5EDT,M3.2.0,M11.1.0";
const char *const kLordHowe = "<+1030>-10:30<+11>-11,M10.1.0,M4.1.0"; // a half-hour shift
const char *const kUtc = "UTC0";

qint64 utc(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toMSecsSinceEpoch();
}

QString describe(const QDateTime &t)
{
    return QStringLiteral("%1 kind %2 dst %3 offset %4")
        .arg(t.toString(Qt::ISODateWithMs))
        .arg(int(t.timeSpec()))
        .arg(t.isDaylightTime())
        .arg(t.offsetFromUtc());
}
} // namespace

class TestClock : public QObject
{
    Q_OBJECT
private slots:
    void cleanupTestCase();
    void sameStampAsQt_data();
    void sameStampAsQt();
};

void TestClock::cleanupTestCase()
{
    qunsetenv("TZ");
    tzset();
}

void TestClock::sameStampAsQt_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<qint64>("around");
    QTest::newRow("Berlin, spring forward") << QByteArray(kBerlin) << utc("2026-03-29T01:00:00Z");
    QTest::newRow("Berlin, fall back") << QByteArray(kBerlin) << utc("2026-10-25T01:00:00Z");
    QTest::newRow("New York, fall back") << QByteArray(kNewYork) << utc("2026-11-01T06:00:00Z");
    QTest::newRow("Lord Howe, half an hour") << QByteArray(kLordHowe) << utc("2026-04-04T15:00:00Z");
    QTest::newRow("UTC, midnight") << QByteArray(kUtc) << utc("2026-12-31T23:59:59Z");
    QTest::newRow("Berlin, before 1970") << QByteArray(kBerlin) << utc("1969-12-31T23:00:00Z");
}

void TestClock::sameStampAsQt()
{
    QFETCH(QByteArray, zone);
    QFETCH(qint64, around);
    qputenv("TZ", zone);
    tzset();
    LocalClock clock;
    const qint64 hour = qint64(3600) * 1000;
    // Minutes apart across five hours either side, then a run of single
    // milliseconds over a second boundary, then back in time.
    QList<qint64> instants;
    for (qint64 t = around - 5 * hour; t <= around + 5 * hour; t += 7 * 60 * 1000 + 13)
        instants << t;
    for (qint64 t = around - 3; t <= around + 1003; ++t)
        instants << t;
    instants << around + 1003 << around - 2 * hour << around;
    for (const qint64 t : qAsConst(instants)) {
        const QDateTime expected = QDateTime::fromMSecsSinceEpoch(t, Qt::LocalTime);
        const QDateTime got = clock.at(t);
        if (got != expected || describe(got) != describe(expected))
            QFAIL(qPrintable(
                QStringLiteral("at %1: %2, expected %3").arg(t).arg(describe(got), describe(expected))));
    }
    const QDateTime before = QDateTime::currentDateTime();
    const QDateTime now = clock.now();
    QVERIFY(now >= before && now <= QDateTime::currentDateTime());
    QCOMPARE(now.timeSpec(), Qt::LocalTime);
}

QTEST_GUILESS_MAIN(TestClock)
#include "tst_clock.moc"
