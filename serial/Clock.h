#pragma once

#include <cstdint>

// The clock every time limit is measured on. Monotonic, so that setting the
// computer's clock or a daylight-saving change never stretches or cuts a wait.
// Tests put their own clock in its place to run time limits without waiting.
class TClock {
public:
    virtual ~TClock() = default;

    // Milliseconds on a monotonic scale; only differences mean anything.
    virtual std::int64_t NowMs() = 0;

    // Sleeps until `fd` has input or has hung up, or until `maxMs` have passed
    // on this clock, whichever comes first. With fd < 0 it only sleeps.
    // It may return early; callers look at the clock and the port again.
    virtual void WaitReadable(int fd, std::int64_t maxMs) = 0;
};

class TSteadyClock final : public TClock {
public:
    std::int64_t NowMs() override;
    void WaitReadable(int fd, std::int64_t maxMs) override;
};

// The clock the tool runs on when nobody injects another.
TClock& SteadyClock();
