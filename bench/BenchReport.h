// The figures of one run, the goals they are held against, and their two
// outputs: a table for people and a JSON document for tools.
#ifndef BENCHREPORT_H
#define BENCHREPORT_H

#include "bench/Samples.h"

#include <QJsonObject>
#include <QList>
#include <QString>

struct Row {
    enum Goal {
        NoGoal,
        RatioGoal, // driver median <= bound x limit median
        PiecesGoal, // driver median <= limit median + bound µs
        GapGoal // driver median <= frame gap + bound µs
    };
    QString key; // stable name in the JSON
    QString label; // what the table shows
    QString path; // "tcp" or "serial"
    Figures driver;
    Figures limit; // not valid when there is nothing to compare with
    double frameGapMs = 0;
    Goal goal = NoGoal;
    double bound = 0;
    bool allocationGoal = false; // the small read whose allocations are held to allocBound
    double allocBound = 0;

    double ratio() const;
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

    // Fills `goals` from the rows.
    void evaluate();
    bool allGoalsHold() const;
    int failures() const;
    QString table() const;
    QJsonObject toJson() const;
};

// A step the TCP path must never add to a call's worst latencies.
const double kStepUs = 10000;

#endif // BENCHREPORT_H
