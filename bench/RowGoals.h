// The goals of one row, each checked in both heap states: what was measured
// in a fresh process and what was measured in the full run.
#ifndef ROWGOALS_H
#define ROWGOALS_H

#include "bench/BenchReport.h"

#include <QList>

namespace RowGoals {

// Besides the one allocation that holds the data, a call may ask for at
// most this share of the data's size in all its other allocations.
const double kOtherBytesShare = 0.05;

// One result per bound of the row and per state that was measured; a state
// without the figures a bound needs is left out rather than called missed.
QList<GoalResult> of(const Row &row);

} // namespace RowGoals

#endif // ROWGOALS_H
