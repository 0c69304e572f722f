#include "support/ManualClock.h"

#include <poll.h>
#include <utility>

std::int64_t ManualClock::NowMs()
{
    if (!script.empty()) {
        now = script.front();
        script.pop_front();
        RunDueActions();
    }
    const std::int64_t reading = now;
    readings.push_back(reading);
    if (step != 0) Advance(step);
    return reading;
}

void ManualClock::WaitReadable(int fd, std::int64_t maxMs)
{
    waits.push_back(maxMs);
    if (fd >= 0) {
        pollfd watch{fd, POLLIN, 0};
        if (::poll(&watch, 1, 0) > 0) return;
    }
    Advance(maxMs);
}

void ManualClock::Advance(std::int64_t ms)
{
    now += ms;
    RunDueActions();
}

void ManualClock::At(std::int64_t when, std::function<void()> action)
{
    actions_.push_back({when, std::move(action)});
    RunDueActions();
}

void ManualClock::RunDueActions()
{
    // An action may add actions or move the clock: take the due ones out first.
    for (;;) {
        auto due = actions_.end();
        for (auto it = actions_.begin(); it != actions_.end(); ++it)
            if (it->when <= now && (due == actions_.end() || it->when < due->when)) due = it;
        if (due == actions_.end()) return;
        auto run = std::move(due->run);
        actions_.erase(due);
        run();
    }
}
