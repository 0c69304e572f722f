#include "support/SimClock.h"

#include <poll.h>

namespace {

// Real time allowed for a byte to cross the kernel's pseudo-terminal, which
// hands it over on a worker thread a few microseconds after the write.
constexpr int kSettleUs = 1000;
// Short waits are the slices of a wait that processes window events. Once a
// few of them in a row found the line idle, the tool is only waiting, and
// nothing can be on its way: the settling is skipped until something moves.
constexpr std::int64_t kSliceMs = 10;
constexpr int kIdleSlicesBeforeSkipping = 3;

bool Readable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0 && p.revents != 0;
}

} // namespace

void SimClock::WaitReadable(int fd, std::int64_t maxMs)
{
    if (onWait) onWait(fd);
    const std::int64_t targetUs = nowUs_ + maxMs * 1000;
    const bool settle = maxMs > kSliceMs || idleSlices_ < kIdleSlicesBeforeSkipping;
    for (;;) {
        board_.Pump(nowUs_, settle ? kSettleUs : 0);
        if (fd >= 0 && Readable(fd, settle ? kSettleUs / 1000 : 0)) {
            idleSlices_ = 0;
            return;
        }
        // Jump to the board's next reply, or to the end of the wait.
        const auto due = board_.NextDueUs();
        const bool replyWithinWait = due && *due < targetUs;
        if (replyWithinWait) idleSlices_ = 0;
        nowUs_ = (replyWithinWait && *due > nowUs_) ? *due : targetUs;
        RunDueActions();
        if (nowUs_ >= targetUs) {
            board_.Pump(nowUs_, 0);
            if (!replyWithinWait) ++idleSlices_;
            return;
        }
    }
}

void SimClock::At(std::int64_t whenMs, std::function<void()> action)
{
    actions_.push_back({whenMs * 1000, std::move(action)});
}

void SimClock::RunDueActions()
{
    for (std::size_t i = 0; i < actions_.size();) {
        if (actions_[i].whenUs <= nowUs_) {
            auto run = std::move(actions_[i].run);
            actions_.erase(actions_.begin() + static_cast<std::ptrdiff_t>(i));
            run();
        } else {
            ++i;
        }
    }
}
