#include "bench/Samples.h"

#include <algorithm>
#include <cmath>

namespace Samples {

double median(std::vector<double> values)
{
    const std::size_t n = values.size();
    if (n == 0)
        return 0;
    std::sort(values.begin(), values.end());
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double percentile(std::vector<double> values, double percent)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(percent / 100.0 * double(values.size()));
    const std::size_t at = std::size_t(std::clamp(rank, 1.0, double(values.size()))) - 1;
    return values[at];
}

Figures summarize(const std::vector<double> &latencyUs, int failures, double wallUs, double cpuUs,
                  std::uint64_t allocations)
{
    Figures f;
    f.calls = int(latencyUs.size());
    f.failures = failures;
    if (f.calls == 0)
        return f;
    f.medianUs = median(latencyUs);
    f.p99Us = percentile(latencyUs, 99);
    f.maxUs = *std::max_element(latencyUs.begin(), latencyUs.end());
    f.callsPerSecond = wallUs > 0 ? double(f.calls) * 1e6 / wallUs : 0;
    f.cpuUsPerCall = cpuUs / double(f.calls);
    f.allocsPerCall = double(allocations) / double(f.calls);
    return f;
}

} // namespace Samples
