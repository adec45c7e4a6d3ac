// Latency samples of one measurement and the figures drawn from them.
#ifndef SAMPLES_H
#define SAMPLES_H

#include <cstdint>
#include <vector>

struct Figures {
    int calls = 0;
    int failures = 0; // calls that did not report success
    double medianUs = 0;
    double p99Us = 0;
    double maxUs = 0;
    double callsPerSecond = 0;
    double cpuUsPerCall = 0; // this process only
    double allocsPerCall = 0;
    // What the allocations asked for: the largest single one of any call, and
    // per call the bytes of all but that call's largest. A buffer that grows
    // with the data besides the one expected shows in the second.
    double largestAllocBytes = 0;
    double otherAllocBytesPerCall = 0;
    bool valid() const { return calls > 0; }
};

namespace Samples {

// The middle value (the mean of the two middle ones for an even count); 0 when empty.
double median(std::vector<double> values);
// Nearest rank: the smallest value that at least `percent` % of the values do not exceed.
double percentile(std::vector<double> values, double percent);

// Figures from per-call latencies (µs), the measurement's wall and CPU time
// (µs) and the allocations counted over it.
Figures summarize(const std::vector<double> &latencyUs, int failures, double wallUs, double cpuUs,
                  std::uint64_t allocations);

} // namespace Samples

#endif // SAMPLES_H
