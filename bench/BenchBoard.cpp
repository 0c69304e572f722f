#include "bench/BenchBoard.h"

#include "bench/Measure.h"

#include <chrono>
#include <thread>

namespace bench {
namespace {

// How long the board's thread gets to report the bytes it has just put on the line.
constexpr auto kSettle = std::chrono::milliseconds(50);

std::uint64_t Fnv1a(std::uint64_t hash, std::uint8_t value)
{
    constexpr std::uint64_t kPrime = 1099511628211ULL;
    return (hash ^ value) * kPrime;
}

constexpr std::uint64_t kFnvBasis = 14695981039346656037ULL;

} // namespace

BenchBoard::BenchBoard(const boardsim::Options& options) : epochS_(WallSeconds()), sim_(options)
{
    ResetTally();
    sim_.OnByte([this](const boardsim::TranscriptEntry& entry) { Count(entry); });
    sim_.Start();
}

BenchBoard::~BenchBoard()
{
    sim_.Stop();
}

void BenchBoard::ResetTally()
{
    std::lock_guard lock(mutex_);
    tally_ = {};
    tally_.before.toolFingerprint = tally_.after.toolFingerprint = kFnvBasis;
    splitUs_ = std::numeric_limits<std::int64_t>::max();
}

void BenchBoard::SplitNow()
{
    const auto nowUs = static_cast<std::int64_t>((WallSeconds() - epochS_) * 1e6);
    std::lock_guard lock(mutex_);
    splitUs_ = nowUs;
}

LineTally BenchBoard::Tally()
{
    std::this_thread::sleep_for(kSettle);
    std::lock_guard lock(mutex_);
    return tally_;
}

// On the board's thread, once per byte. The board's own transcript is emptied
// as it goes: the tally is all the benchmark needs, and a transcript of a long
// run would swell the process that is being measured.
void BenchBoard::Count(const boardsim::TranscriptEntry& entry)
{
    {
        std::lock_guard lock(mutex_);
        LineBytes& side = entry.timeUs < splitUs_ ? tally_.before : tally_.after;
        if (entry.fromTool) {
            ++side.fromTool;
            side.toolFingerprint = Fnv1a(side.toolFingerprint, entry.byte);
        } else {
            ++side.fromBoard;
        }
    }
    if (!entry.fromTool) sim_.ClearTranscript();
}

} // namespace bench
