#include "serial/Clock.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <poll.h>
#include <thread>

std::int64_t TSteadyClock::NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void TSteadyClock::WaitReadable(int fd, std::int64_t maxMs)
{
    const std::int64_t waitMs = std::clamp<std::int64_t>(maxMs, 0, INT_MAX);
    if (fd < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        return;
    }
    // An interrupted or failed poll just ends the wait early: callers look again.
    pollfd watch{fd, POLLIN, 0};
    ::poll(&watch, 1, static_cast<int>(waitMs));
}

TClock& SteadyClock()
{
    static TSteadyClock clock;
    return clock;
}
