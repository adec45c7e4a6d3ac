#include "BuildStamp.h"

#include <QDate>
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
} // namespace

QString BuildStamp::fromCompilerTexts(const char *date, const char *time)
{
    const QDate day = compilerDate(date);
    const QTime clock = QTime::fromString(QString::fromLatin1(time), QStringLiteral("hh:mm:ss"));
    return QStringLiteral("v1.0.2 %1 %2")
        .arg(day.toString(QStringLiteral("yyyy-MM-dd")), clock.toString(QStringLiteral("hh:mm:ss")));
}

QString BuildStamp::current()
{
    static const QString stamp = fromCompilerTexts(__DATE__, __TIME__); // once per process
    return stamp;
}
