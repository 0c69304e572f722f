#pragma once

#include "tools/boardsim/BoardSim.h"

#include <cstdint>
#include <string>
#include <vector>

namespace boardsim_test {

using Bytes = std::vector<std::uint8_t>;

// The tool's end of the line, opened with plain POSIX calls (raw, no flow
// control) the way any serial program opens the device.
class ToolEnd {
public:
    explicit ToolEnd(std::string device);
    ~ToolEnd();
    ToolEnd(const ToolEnd&) = delete;
    ToolEnd& operator=(const ToolEnd&) = delete;

    void Open();
    void Close();
    void Send(std::uint8_t byte) const;
    // Up to `count` bytes; fewer only if they have not come after a second
    // (a guard against a hanging test, not a time limit under test).
    Bytes Receive(std::size_t count) const;

private:
    std::string device_;
    int fd_ = -1;
};

// A simulator played on a manual time line: the test decides what time it
// is, and the board's replies cost no real time however late they are due.
class PumpedBoard {
public:
    explicit PumpedBoard(boardsim::Options options = {});

    boardsim::BoardSim& Sim() { return sim_; }
    ToolEnd& Tool() { return tool_; }
    std::int64_t Now() const { return now_; }
    void SetNow(std::int64_t nowUs) { now_ = nowUs; }

    // Opens or closes the tool's end and lets the board notice it.
    void OpenPort();
    void ClosePort();
    // Lets the board play everything it has to, moving the clock to each due time.
    void Settle();
    // Sends one byte, lets the board play, and returns what reached the tool.
    Bytes Exchange(std::uint8_t byte);
    // The replies to each byte, sent one at a time.
    std::vector<Bytes> ExchangeEach(const Bytes& bytes);
    // Whatever the board has sent since it was last taken.
    Bytes TakeReplies();

private:
    boardsim::BoardSim sim_;
    ToolEnd tool_;
    std::int64_t now_ = 0;
    std::size_t seen_ = 0; // transcript entries already taken
};

} // namespace boardsim_test
