#pragma once

// The benchmark's command line.

#include <string>
#include <vector>

namespace bench {

enum class Mode { Programming, FullVerify, FastVerify, FullVerifyUp2 };

struct BenchOptions {
    // Defaults keep a whole run near 4 minutes on 2 cores; the figures for the
    // full 64 KiB image take --records 512.
    int records = 64;         // image of the unpaced runs
    int pacedRecords = 8;     // image of the runs paced at 38400 baud
    int repeats = 5;          // tool and reference runs of each unpaced mode
    int pacedRepeats = 2;     // tool and reference runs of each paced mode
    std::vector<Mode> modes{Mode::Programming, Mode::FullVerify, Mode::FastVerify, Mode::FullVerifyUp2};
    bool unpaced = true;
    bool paced = true;
    std::vector<int> memoryRecords{1, 10000};
    bool help = false;
    std::string error; // not empty: the command line could not be read
};

BenchOptions ParseBenchOptions(const std::vector<std::string>& args);
std::string BenchUsage();
const char* ModeName(Mode mode);

} // namespace bench
