#pragma once

// The simulated board of one benchmark series, playing on its own thread, and
// the tally of the bytes that cross its line.

#include "tools/boardsim/BoardSim.h"

#include <cstdint>
#include <limits>
#include <mutex>

namespace bench {

// Bytes that crossed the line in a run, split at a boundary on the board's
// time line (the end of the programming phase), with a fingerprint of what
// the client sent, so that two runs can be told to have sent the very same
// bytes in the same order (the board's replies follow from them).
struct LineBytes {
    std::int64_t fromTool = 0;
    std::int64_t fromBoard = 0;
    std::uint64_t toolFingerprint = 0;
    std::int64_t Total() const { return fromTool + fromBoard; }
};

struct LineTally {
    LineBytes before; // crossed before the boundary
    LineBytes after;
};

class BenchBoard {
public:
    explicit BenchBoard(const boardsim::Options& options);
    ~BenchBoard();

    boardsim::BoardSim& Sim() { return sim_; }
    const std::string& Device() const { return sim_.DevicePath(); }

    // Starts a new tally; every byte counts as "before" until SplitNow().
    void ResetTally();
    // Bytes that cross from now on count as "after".
    void SplitNow();
    // The tally, once the board has had time to report the last bytes of a run.
    LineTally Tally();

private:
    void Count(const boardsim::TranscriptEntry& entry);

    // Taken before the board exists: the board's time line starts a little
    // later, so a time read off this clock is never earlier than the board's.
    const double epochS_;
    boardsim::BoardSim sim_;
    std::mutex mutex_;
    LineTally tally_;
    std::int64_t splitUs_ = std::numeric_limits<std::int64_t>::max();
};

} // namespace bench
