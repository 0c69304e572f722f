#pragma once

// Clocks and statistics of the benchmark: wall time, the calling thread's CPU
// time, medians.

#include <cstdint>
#include <vector>

namespace bench {

// Seconds on the monotonic clock; only differences mean anything.
double WallSeconds();

// CPU time that the calling thread has used so far (getrusage RUSAGE_THREAD).
struct CpuTime {
    double userS = 0;
    double systemS = 0;
    double TotalS() const { return userS + systemS; }
};
CpuTime ThreadCpu();
CpuTime operator-(const CpuTime& later, const CpuTime& earlier);

// Wall and CPU time of one stretch of work on one thread.
struct Span {
    double wallS = 0;
    CpuTime cpu;
};

// Marks the start of a span on the calling thread; End() is called on the same thread.
class Stopwatch {
public:
    Stopwatch();
    Span End() const;

private:
    double wall0_;
    CpuTime cpu0_;
};

// The middle value (the mean of the two middle ones for an even count); 0 when empty.
double Median(std::vector<double> values);

// Wire time of `bytes` bytes at 38400 baud, 10 bits each (start, 8 data, stop).
double WireSeconds(std::int64_t bytes);

} // namespace bench
