#pragma once

#include "serial/Clock.h"
#include "tools/boardsim/BoardSim.h"

#include <cstdint>
#include <functional>
#include <vector>

// The test's time line, shared by the tool and the simulated board. Time
// stands still while bytes are moving and jumps ahead while both sides wait,
// so a silent board or a 3-second restart wait costs no real time, and the
// board's reply delays count exactly as the tool's time limits do.
class SimClock final : public TClock {
public:
    explicit SimClock(boardsim::BoardSim& board) : board_(board) {}

    std::int64_t NowMs() override { return nowUs_ / 1000; }
    void WaitReadable(int fd, std::int64_t maxMs) override;

    std::int64_t NowUs() const { return nowUs_; }
    // Runs `action` once, inside the first wait that reaches `whenMs`.
    void At(std::int64_t whenMs, std::function<void()> action);
    // Called at the start of every wait with the descriptor waited on (-1: none).
    std::function<void(int fd)> onWait;

private:
    void RunDueActions();

    boardsim::BoardSim& board_;
    std::int64_t nowUs_ = 0;
    int idleSlices_ = 0; // short waits in a row that found the line idle
    struct Action {
        std::int64_t whenUs;
        std::function<void()> run;
    };
    std::vector<Action> actions_;
};
