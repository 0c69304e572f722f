#pragma once

#include "serial/Clock.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

// A clock the test drives. Time moves only when the test moves it, by `step`
// at every reading, by scripted readings, or when a wait finds nothing to read
// (the wait then jumps its whole length at once). Actions can be hung on points
// in time; each runs once, as soon as `now` has reached its point.
class ManualClock final : public TClock {
public:
    explicit ManualClock(std::int64_t start = 0) : now(start) {}

    std::int64_t now;
    // Added to `now` after every reading.
    std::int64_t step = 0;
    // Readings handed out first, in order; each also becomes `now`.
    std::deque<std::int64_t> script;
    // Every value NowMs() has returned, and every wait's maxMs.
    std::vector<std::int64_t> readings;
    std::vector<std::int64_t> waits;

    std::int64_t NowMs() override;
    // Polls `fd` for real without waiting; when it has nothing, time jumps by maxMs.
    void WaitReadable(int fd, std::int64_t maxMs) override;

    void Advance(std::int64_t ms);
    void At(std::int64_t when, std::function<void()> action);

private:
    void RunDueActions();

    struct Action {
        std::int64_t when;
        std::function<void()> run;
    };
    std::vector<Action> actions_;
};
