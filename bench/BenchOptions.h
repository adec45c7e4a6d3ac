// The command line of ads-bench.
#ifndef BENCHOPTIONS_H
#define BENCHOPTIONS_H

#include <QString>
#include <QStringList>

struct BenchOptions {
    int iterations = 0; // 0: each measurement's own default
    bool quick = false;
    bool help = false;
    QString pluginPath; // empty: beside the program
    QString simPath; // empty: beside the program
    QString jsonPath; // empty: no JSON file
    QString only; // one measurement by its key (as in the JSON), for profiling

    QString error; // set when the line is refused

    static BenchOptions parse(const QStringList &arguments);
    static QString usage();

    // Calls for a measurement whose full-run default is `full`.
    int callsFor(int full) const;
    // Rounds of reads over all drivers in the scale run.
    int scaleRounds() const;
    // Whether the measurement named `key` is to run.
    bool wants(const QString &key) const;
};

#endif // BENCHOPTIONS_H
