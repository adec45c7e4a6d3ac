// The timing loop every measurement runs: per-call latency on the monotonic
// clock, the process's CPU time over the calls, and the heap allocations
// made inside them.
#ifndef MEASURE_H
#define MEASURE_H

#include "bench/MallocCount.h"
#include "bench/Samples.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>
#include <vector>

namespace Measure {

// Set by SIGINT or SIGTERM: every loop stops at its next call.
extern std::atomic<bool> interrupted;

// No measurement runs longer than this, however many calls it was given.
const std::chrono::seconds kMaxDuration(90);
// The driver and its limit take turns in this many blocks, so that a change
// of load on the machine (others build here too) falls on both alike.
const int kBlocks = 10;

using Clock = std::chrono::steady_clock;

inline double cpuUs()
{
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

// Collects the calls of one side over any number of blocks.
class Recorder
{
public:
    explicit Recorder(int calls, Clock::duration idle = Clock::duration::zero()) : m_idle(idle)
    {
        m_latency.reserve(std::size_t(calls > 0 ? calls : 0));
    }

    // `call` returns whether the call succeeded. False once the deadline passed.
    template <typename Call>
    bool block(int calls, Clock::time_point deadline, Call &&call)
    {
        const std::uint64_t allocs0 = MallocCount::count();
        const double cpu0 = cpuUs();
        const Clock::time_point wall0 = Clock::now();
        Clock::time_point t1 = wall0;
        Clock::duration idled = Clock::duration::zero();
        for (int i = 0; i < calls && !interrupted && t1 < deadline; ++i) {
            if (m_idle > Clock::duration::zero()) {
                std::this_thread::sleep_for(m_idle);
                idled += Clock::now() - t1;
            }
            const std::uint64_t bytes0 = MallocCount::bytes();
            const Clock::time_point t0 = Clock::now();
            MallocCount::start();
            const bool ok = call();
            MallocCount::stop();
            t1 = Clock::now();
            m_latency.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
            if (!ok)
                ++m_failures;
            noteBytes(MallocCount::bytes() - bytes0, MallocCount::largest());
        }
        m_wallUs += std::chrono::duration<double, std::micro>(Clock::now() - wall0 - idled).count();
        m_cpuUs += cpuUs() - cpu0;
        m_allocations += MallocCount::count() - allocs0;
        return t1 < deadline && !interrupted;
    }

    Figures figures() const
    {
        Figures f = Samples::summarize(m_latency, m_failures, m_wallUs, m_cpuUs, m_allocations);
        if (!MallocCount::available()) {
            // not counted, rather than none
            f.allocsPerCall = f.largestAllocBytes = f.otherAllocBytesPerCall = NAN;
        } else if (f.calls > 0) {
            f.largestAllocBytes = double(m_largest);
            f.otherAllocBytesPerCall = double(m_otherBytes) / f.calls;
        }
        return f;
    }

private:
    void noteBytes(std::uint64_t callBytes, std::uint64_t callLargest)
    {
        m_otherBytes += callBytes - callLargest;
        if (callLargest > m_largest)
            m_largest = callLargest;
    }

    // Untimed quiet before each call, left out of the wall time too.
    Clock::duration m_idle;
    std::vector<double> m_latency;
    int m_failures = 0;
    double m_wallUs = 0;
    double m_cpuUs = 0;
    std::uint64_t m_allocations = 0;
    std::uint64_t m_largest = 0;
    std::uint64_t m_otherBytes = 0;
};

inline int warmupFor(int iterations)
{
    return iterations / 10 < 50 ? iterations / 10 + 3 : 50;
}

// `warmup` calls go first, unmeasured: connections, caches and buffers
// settle before the clock runs.
template <typename Call>
Figures run(int iterations, int warmup, Call &&call)
{
    for (int i = 0; i < warmup && !interrupted; ++i)
        call();
    Recorder r(iterations);
    r.block(iterations, Clock::now() + kMaxDuration, call);
    return r.figures();
}

// The limit and the driver, `iterations` calls each, in alternating blocks;
// `idle` is an untimed quiet both sides keep before each call, as a host
// polling at intervals does.
template <typename LimitCall, typename DriverCall>
void runPair(int iterations, int warmup, LimitCall &&limitCall, DriverCall &&driverCall, Figures *limit,
             Figures *driver, Clock::duration idle = Clock::duration::zero())
{
    for (int i = 0; i < warmup && !interrupted; ++i) {
        limitCall();
        driverCall();
    }
    Recorder l(iterations, idle);
    Recorder d(iterations, idle);
    const Clock::time_point deadline = Clock::now() + kMaxDuration;
    const int blocks = iterations < kBlocks ? 1 : kBlocks;
    for (int b = 0; b < blocks; ++b) {
        // Spread the remainder over the first blocks.
        const int calls = iterations / blocks + (b < iterations % blocks ? 1 : 0);
        if (!l.block(calls, deadline, limitCall) || !d.block(calls, deadline, driverCall))
            break;
    }
    *limit = l.figures();
    *driver = d.figures();
}

} // namespace Measure

#endif // MEASURE_H
