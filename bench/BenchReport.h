// The figures of one run in both heap states, the goals they are held
// against, and the table people read.
#ifndef BENCHREPORT_H
#define BENCHREPORT_H

#include "bench/Samples.h"

#include <QList>
#include <QString>

#include <optional>

// What one process measured of a row.
struct StateFigures {
    Figures driver;
    Figures limit; // the bare client; not valid where there is nothing to compare with
    Figures firstByte; // the simulator row: from the request sent to the reply's first byte

    bool valid() const { return driver.valid() || limit.valid(); }
    // Driver against the limit: medians, and CPU time per call. NaN without both.
    double ratio() const;
    double cpuRatio() const;
};

// What a row is held to; an empty bound is not checked.
struct Bounds {
    std::optional<double> medianRatio; // driver median <= this x the limit's
    std::optional<double> cpuRatio; // driver CPU per call <= this x the limit's
    std::optional<double> allocsPerCall; // driver allocations per call <= this
    std::optional<double> dataBytes; // only the largest allocation grows with this many bytes
    std::optional<double> overLimitUs; // driver median <= the limit's + this
    std::optional<double> limitMedianUs; // the limit's median itself (the simulator serving) under this
    std::optional<double> driverMedianUs; // the driver's median itself under this
    std::optional<double> driverP99Us; // the driver's 99th percentile under this
    std::optional<double> driverMaxUs; // the driver's largest sample under this
    std::optional<double> driverCpuUs; // the driver's CPU per call under this
};

struct Row {
    QString key; // stable name in the JSON and for --only
    QString label; // what the table shows
    QString path; // "tcp", "serial" or "sim"
    Bounds bounds;
    StateFigures fresh; // measured alone, in a process of its own
    StateFigures inRun; // measured in the full run, after the rows before it
};

struct Scale {
    int drivers = 0;
    int connected = 0;
    double rssBytesPerDriver = 0; // created and connected
    double rssBytesPerDriverAfterReads = 0; // and each read from at least once
    double heapBytesPerDriver = 0; // heap in use, created and connected
    Figures reads; // every read of every driver, in turn
};

struct Machine {
    QString cpu;
    QString kernel;
    int cores = 0;
    int nproc = 0;

    static Machine current();
};

struct GoalResult {
    QString name;
    bool holds = false;
    QString detail;
};

struct Report {
    Machine machine;
    QString plugin;
    int iterations = 0; // as asked; 0: the defaults
    bool quick = false;
    QList<Row> rows;
    Scale scale;
    QList<GoalResult> goals;

    // A run of one measurement is a fresh process itself: what it measured
    // becomes each row's fresh state.
    void markFresh();
    // Fills `goals` from the rows.
    void evaluate();
    bool allGoalsHold() const;
    int failures() const;
    QString table() const;
};

#endif // BENCHREPORT_H
