// The report as JSON for tools, and the figures read back from it: a fresh
// child process hands its measurement to the full run this way.
#ifndef REPORTJSON_H
#define REPORTJSON_H

#include "bench/BenchReport.h"

#include <QJsonObject>

namespace ReportJson {

QJsonObject of(const Report &report);

// The fresh state of the measurement `key` in a document of(); false when
// the document holds no such measurement or no fresh figures for it.
bool freshOf(const QJsonObject &document, const QString &key, StateFigures *out);

} // namespace ReportJson

#endif // REPORTJSON_H
