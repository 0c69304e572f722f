#pragma once

// One series: a mode at one pacing, the tool and the reference client taking
// turns on the same simulated board, several times over.

#include "bench/BenchOptions.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct SeriesSetup {
    Mode mode = Mode::FullVerify;
    bool paced = false;
    std::string imagePath;
    int records = 0;
    int pairs = 1;
};

struct SeriesResult {
    SeriesSetup setup;
    // One entry per run; for the programming mode the programming phase alone.
    std::vector<double> toolWallS;
    std::vector<double> toolUserS;
    std::vector<double> toolSystemS;
    std::vector<double> refWallS;
    std::vector<double> refCpuS;
    std::int64_t toolLineBytes = 0; // both directions, last tool run
    std::int64_t refLineBytes = 0;  // both directions, last reference run
    bool sameBytesSent = true;      // every run sent the very same bytes
    std::vector<std::string> problems; // runs that did not end as a clean run does

    double ToolWallMedian() const;
    double ToolCpuMedian() const;
    double ToolUserMedian() const;
    double ToolSystemMedian() const;
    double RefWallMedian() const;
    double RefCpuMedian() const;
    // CPU seconds per wall second, the median over the runs.
    double ToolCpuShare() const;
    double RefCpuShare() const;
};

SeriesResult RunSeries(const SeriesSetup& setup);

} // namespace bench
