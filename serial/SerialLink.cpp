#include "serial/SerialLink.h"

#include "app/UpdaterUnit.h"
#include "serial/Clock.h"

#include <algorithm>
#include <string>

// The waits below keep the order of a pass: process window events, look at the
// clock, look at the port. Between passes they sleep instead of spinning: until
// a byte arrives, the deadline has passed, or an event slice runs out, so that
// a click or a repaint waits at most one slice.
namespace {

constexpr std::int64_t kReplyLimitMs = 750;
constexpr std::int64_t kEventSliceMs = 10;

// A sleep that ends just past the deadline (the first reading strictly later
// than it) or after one event slice, whichever comes first.
std::int64_t SleepLength(std::int64_t deadlineMs, std::int64_t nowMs)
{
    return std::clamp<std::int64_t>(deadlineMs - nowMs + 1, 0, kEventSliceMs);
}

} // namespace

void TMainUpdater::WrCom(std::uint8_t b)
{
    // One byte, also for 0: a NUL is sent, not an empty string.
    ComPort.SendBytes(std::string(1, static_cast<char>(b)));
}

std::uint8_t TMainUpdater::RdCom()
{
    const std::int64_t deadline = Clock().NowMs() + kReplyLimitMs;
    for (;;) {
        ProcessMessages();
        const std::int64_t now = Clock().NowMs();
        if (now > deadline) Aborted = 1;
        if (ComPort.PendingCount() >= 1 || Aborted) break;
        ComPort.WaitForInput(SleepLength(deadline, now));
    }
    return TakeAwaitedByte();
}

std::uint8_t TMainUpdater::RdComNoTimeOut()
{
    for (;;) {
        ProcessMessages();
        if (ComPort.PendingCount() >= 1 || Aborted) break;
        ComPort.WaitForInput(kEventSliceMs);
    }
    return TakeAwaitedByte();
}

void TMainUpdater::Delay(std::uint16_t seconds, std::uint16_t milliseconds)
{
    if (seconds >= 60 || milliseconds >= 1000) throw EConvertError("Invalid argument to time encode");
    const std::int64_t deadline = Clock().NowMs() + std::int64_t{seconds} * 1000 + milliseconds;
    for (;;) {
        ProcessMessages();
        const std::int64_t now = Clock().NowMs();
        if (now > deadline) return;
        // Not on the port: bytes nobody takes during a Delay would wake every sleep.
        Clock().WaitReadable(-1, SleepLength(deadline, now));
    }
}

// Always takes a waiting byte, also after an abort, so that a read-away loop
// ends after as many calls as bytes were waiting.
std::uint8_t TMainUpdater::TakeAwaitedByte()
{
    std::string taken;
    ComPort.TakeBytes(taken, 1);
    if (Aborted || taken.empty()) return 0;
    return static_cast<std::uint8_t>(taken.front());
}
