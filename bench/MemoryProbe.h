#pragma once

// Peak resident memory of one whole run, measured in a process of its own:
// the benchmark starts itself again with kMemoryChildFlag, and reads the
// child's peak from wait4(), so no other run's memory is mixed in.

#include <string>

namespace bench {

inline constexpr const char* kMemoryChildFlag = "--memory-child";

struct MemoryFigure {
    int records = 0;
    long peakKiB = 0;   // ru_maxrss of the child
    bool clean = false; // the child's run ended as a clean run does
};

// Parent: a fast Verify ONLY run of an image of `records` records, written to `folder`.
MemoryFigure MeasurePeakMemory(int records, const std::string& folder);

// Child: the run itself, on the image at `imagePath`; the process's exit code
// is 0 when the run ended clean. Needs the application object.
int MemoryChildRun(const std::string& imagePath);

} // namespace bench
