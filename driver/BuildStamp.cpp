#include "driver/BuildStamp.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>

namespace {
QDate compilerDate(const char *date)
{
    // The compiler pads a one-digit day with a blank ("Dec  8 2026"); "d"
    // takes one or two digits, where "dd" would reject the first nine days.
    QString text = QString::fromLatin1(date);
    text.replace(QStringLiteral("  "), QStringLiteral(" "));
    return QLocale(QLocale::English, QLocale::AnyCountry).toDate(text, QStringLiteral("MMM d yyyy"));
}

QString stampOf(const QDate &day, const QTime &clock)
{
    return QStringLiteral("v1.0.2 %1 %2")
        .arg(day.toString(QStringLiteral("yyyy-MM-dd")), clock.toString(QStringLiteral("hh:mm:ss")));
}

QString buildStamp()
{
#ifdef ADS_BUILD_EPOCH
    // A reproducible build (SOURCE_DATE_EPOCH at configure time) is stamped
    // with its sources' date in UTC, not with the moment it was compiled.
    const QDateTime when = QDateTime::fromSecsSinceEpoch(qint64(ADS_BUILD_EPOCH), Qt::UTC);
    return stampOf(when.date(), when.time());
#else
    return BuildStamp::fromCompilerTexts(__DATE__, __TIME__);
#endif
}
} // namespace

QString BuildStamp::fromCompilerTexts(const char *date, const char *time)
{
    return stampOf(compilerDate(date),
                   QTime::fromString(QString::fromLatin1(time), QStringLiteral("hh:mm:ss")));
}

QString BuildStamp::current()
{
    static const QString stamp = buildStamp(); // once per process
    return stamp;
}
