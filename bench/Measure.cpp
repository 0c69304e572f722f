#include "bench/Measure.h"

#include <algorithm>
#include <chrono>
#include <sys/resource.h>

namespace bench {
namespace {

double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

constexpr double kBitsPerByte = 10;
constexpr double kBaud = 38400;

} // namespace

double WallSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

CpuTime ThreadCpu()
{
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return {Seconds(usage.ru_utime), Seconds(usage.ru_stime)};
}

CpuTime operator-(const CpuTime& later, const CpuTime& earlier)
{
    return {later.userS - earlier.userS, later.systemS - earlier.systemS};
}

Stopwatch::Stopwatch() : wall0_(WallSeconds()), cpu0_(ThreadCpu()) {}

Span Stopwatch::End() const
{
    return {WallSeconds() - wall0_, ThreadCpu() - cpu0_};
}

double Median(std::vector<double> values)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double WireSeconds(std::int64_t bytes)
{
    return static_cast<double>(bytes) * kBitsPerByte / kBaud;
}

} // namespace bench
