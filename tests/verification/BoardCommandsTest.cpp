#include "app/UpdaterUnit.h"
#include "support/RunFixture.h"

#include <gtest/gtest.h>

namespace {

using boardsim::Mode;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(std::uint8_t high, std::uint8_t low)
{
    return {0x00, high, 0x01, low, 0x03, 0x00};
}

Bytes FrameBytes(std::uint8_t bus, std::uint8_t command, std::uint8_t high, std::uint8_t low, std::uint8_t value)
{
    Bytes out;
    for (std::uint8_t b : {std::uint8_t{0x3A}, command, high, low, value, std::uint8_t{0xC5}}) {
        out.push_back(bus);
        out.push_back(b);
    }
    return out;
}

// The board in its command mode, the port open, the channel answering.
class CommandExchange : public ::testing::Test {
protected:
    explicit CommandExchange(boardsim::Options options = CommandMode()) : run(options)
    {
        run.board.SetMemory(1, 0x1234, 0x5E);
        run.board.SetMemory(2, 0x1234, 0x6F);
        run.w->ComPort.OpenPort();
        ChannelOk = 1;
    }
    static boardsim::Options CommandMode()
    {
        boardsim::Options options;
        options.mode = Mode::Command;
        return options;
    }
    static boardsim::Options WithFault(std::function<void(boardsim::Options&)> change)
    {
        boardsim::Options options = CommandMode();
        change(options);
        return options;
    }
    TMainUpdater& w() { return *run.w; }

    RunFixture run;
};

TEST_F(CommandExchange, ReadDataPutsItsSixBytesOnTheLineAndKeepsTheMemoryByte)
{
    std::uint8_t value = 0;
    w().ReadData(0x12, 0x34, value);
    EXPECT_EQ(run.ToolBytes(), ReadBytes(0x12, 0x34));
    EXPECT_EQ(run.BoardBytes().size(), 9u);
    EXPECT_EQ(value, 0x5E);
    EXPECT_EQ(ChannelOk, 1);
}

TEST_F(CommandExchange, WriteDataSendsTheBusRangeWriteOnlyForHighBytes8And9)
{
    const std::pair<std::uint8_t, std::uint8_t> cases[] = {{0x07, 0x02}, {0x08, 0x04}, {0x09, 0x04}, {0x0A, 0x02}, {0x12, 0x02}};
    for (const auto& [high, command] : cases) {
        SCOPED_TRACE(high);
        run.board.ClearTranscript();
        std::uint8_t value = 0xA5;
        w().WriteData(high, 0x40, value);
        EXPECT_EQ(run.ToolBytes(), (Bytes{0x00, high, 0x01, 0x40, command, 0xA5}));
        EXPECT_EQ(ChannelOk, 1);
    }
}

TEST_F(CommandExchange, PassThroughFramesPutTheirPrefixBeforeEveryByte)
{
    std::uint8_t value = 0x00;
    w().SPIIntCMD(3, 0x12, 0x34, value);
    EXPECT_EQ(run.ToolBytes(), (Bytes{0x08, 0x3A, 0x08, 0x03, 0x08, 0x12, 0x08, 0x34, 0x08, 0x00, 0x08, 0xC5}));
    EXPECT_EQ(run.BoardBytes().size(), 18u);
    EXPECT_EQ(value, 0x6F); // the second processor's byte
    run.board.ClearTranscript();
    value = 0x00;
    w().SPIExtCMD(3, 0x12, 0x34, value);
    EXPECT_EQ(run.ToolBytes(), FrameBytes(0x09, 3, 0x12, 0x34, 0x00));
    EXPECT_EQ(ChannelOk, 1);
}

// While the channel is known to be down, nothing goes on the line and the
// output is left alone.
TEST_F(CommandExchange, AClearedGuardSendsNothing)
{
    ChannelOk = 0;
    std::uint8_t value = 0x77;
    w().ReadData(0x12, 0x34, value);
    w().WriteData(0x12, 0x34, value);
    w().SPIIntCMD(3, 0x12, 0x34, value);
    w().ReadSPExLL(0x3A, value);
    EXPECT_TRUE(run.ToolBytes().empty());
    EXPECT_EQ(value, 0x77);
    EXPECT_EQ(ChannelOk, 0);
    EXPECT_EQ(run.clock.NowMs(), 0);
}

TEST_F(CommandExchange, OpenAndCloseTheChannelWhateverTheGuard)
{
    for (std::uint8_t guard : {0, 1}) {
        run.board.ClearTranscript();
        ChannelOk = guard;
        std::uint8_t reply = 0;
        w().OpenCOMChannel(reply);
        w().CloseCOMChannel();
        w().ComPort.PendingCount(); // let the board take the "S"
        run.clock.WaitReadable(-1, 1);
        EXPECT_EQ(reply, 0x35);
        EXPECT_EQ(run.ToolBytes(), (Bytes{0xCA, 0x53}));
        EXPECT_EQ(ChannelOk, guard);
    }
}

class SilentBoard : public CommandExchange {
protected:
    SilentBoard() : CommandExchange(WithFault([](auto& o) { o.faults.silent = true; })) {}
};

TEST_F(SilentBoard, ReadDataGivesUpAfterTheFirstByteAndSilencesTheRest)
{
    std::uint8_t value = 0x42;
    w().ReadData(0x12, 0x34, value);
    EXPECT_EQ(run.ToolBytes(), Bytes{0x00});
    EXPECT_EQ(value, 0x42);
    EXPECT_EQ(ChannelOk, 0);
    EXPECT_EQ(run.clock.NowMs(), 1001); // the first reading past the deadline
    w().ReadData(0x12, 0x35, value);
    EXPECT_EQ(run.ToolBytes(), Bytes{0x00});
}

TEST_F(SilentBoard, OpenCOMChannelAnswersZeroAfterTheTimeLimit)
{
    std::uint8_t reply = 0x99;
    w().OpenCOMChannel(reply);
    EXPECT_EQ(reply, 0);
    EXPECT_EQ(run.clock.NowMs(), 1001);
}

class SurplusByte : public CommandExchange {
protected:
    SurplusByte() : CommandExchange(WithFault([](auto& o) { o.faults.extraReplyByte = true; })) {}
};

// One byte too many fails the step as surely as one too few.
TEST_F(SurplusByte, FailsTheFirstStep)
{
    std::uint8_t value = 0x42;
    w().ReadData(0x12, 0x34, value);
    EXPECT_EQ(run.ToolBytes(), Bytes{0x00});
    EXPECT_EQ(value, 0x42);
    EXPECT_EQ(ChannelOk, 0);
}

TEST_F(SurplusByte, OpenCOMChannelTakesTheFirstByteAndLeavesTheRest)
{
    std::uint8_t reply = 0;
    w().OpenCOMChannel(reply);
    EXPECT_EQ(reply, 0x35);
    EXPECT_EQ(w().ComPort.PendingCount(), 1);
    EXPECT_LT(run.clock.NowMs(), 10);
}

struct DelayCase {
    int replyDelayMs;
    const char* operation;
    std::size_t bytesSent;
    bool succeeds;
};

// One deadline for all the steps of an exchange; each pass-through exchange
// of a frame has its own.
TEST(ExchangeDeadline, IsSharedByTheStepsOfOneExchange)
{
    const DelayCase cases[] = {
        {300, "ReadData", 4, false},    // steps at 300, 600, 900; the fourth would end at 1200
        {166, "ReadData", 6, true},     // 996 ms for all six
        {400, "SPIIntCMD", 12, true},   // 800 ms per exchange, 4800 ms for the frame
        {500, "ReadSPInLL", 2, true},   // complete at the deadline itself: not late
        {501, "ReadSPInLL", 2, false},  // one millisecond past it
    };
    for (const DelayCase& c : cases) {
        SCOPED_TRACE(std::string(c.operation) + " " + std::to_string(c.replyDelayMs));
        boardsim::Options options;
        options.mode = Mode::Command;
        options.faults.replyDelayUs = c.replyDelayMs * 1000;
        RunFixture run(options);
        run.board.SetMemory(1, 0x1234, 0x5E);
        run.w->ComPort.OpenPort();
        ChannelOk = 1;
        std::uint8_t value = 0;
        const std::string op = c.operation;
        if (op == "ReadData") run.w->ReadData(0x12, 0x34, value);
        if (op == "SPIIntCMD") run.w->SPIIntCMD(3, 0x12, 0x34, value);
        if (op == "ReadSPInLL") run.w->ReadSPInLL(0x3A, value);
        EXPECT_EQ(run.ToolBytes().size(), c.bytesSent);
        EXPECT_EQ(ChannelOk, c.succeeds ? 1 : 0);
        if (op == "SPIIntCMD") {
            EXPECT_NEAR(run.clock.NowMs(), 4800, 5);
        }
    }
}

// A frame that fails part way keeps the reply of the last exchange that succeeded.
TEST(ExchangeDeadline, AFrameThatFailsPartWayKeepsTheLastKeptByte)
{
    boardsim::Options options;
    options.mode = Mode::Command;
    RunFixture run(options);
    run.w->ComPort.OpenPort();
    ChannelOk = 1;
    // The board goes silent once three frame bytes have been passed on.
    int frameBytes = 0;
    run.board.OnByte([&](const boardsim::TranscriptEntry& e) {
        if (!e.fromTool) return;
        if (e.byte == 0x08 && frameBytes == 3) run.board.SetSilent(true);
        if (e.byte != 0x08) ++frameBytes;
    });
    std::uint8_t value = 0x00;
    run.w->SPIIntCMD(3, 0x12, 0x34, value);
    // The fourth exchange gets its prefix answered, then nothing: it fails, the
    // fifth and sixth send nothing.
    EXPECT_EQ(run.ToolBytes(), (Bytes{0x08, 0x3A, 0x08, 0x03, 0x08, 0x12, 0x08, 0x34}));
    EXPECT_EQ(ChannelOk, 0);
    const Bytes replies = run.BoardBytes();
    ASSERT_GE(replies.size(), 9u);
    EXPECT_EQ(value, replies[8]); // the kept reply of the third exchange
}

} // namespace
