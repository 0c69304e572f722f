#include "boardsim/ToolEnd.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>

using boardsim::Faults;
using boardsim::Mode;
using boardsim::Options;
using boardsim_test::Bytes;
using boardsim_test::PumpedBoard;

namespace {

// Address 0x1234 holds 0x5A on processor 1 and 0xA5 on processor 2.
constexpr std::uint16_t kAddress = 0x1234;
constexpr std::uint8_t kByte1 = 0x5A;
constexpr std::uint8_t kByte2 = 0xA5;
const Bytes kReadExchange{0x00, 0x12, 0x01, 0x34, 0x03, 0x00};

std::unique_ptr<PumpedBoard> CommandBoard(Options options = {})
{
    options.mode = Mode::Command;
    auto board = std::make_unique<PumpedBoard>(options);
    board->Sim().SetMemory(1, kAddress, kByte1);
    board->Sim().SetMemory(2, kAddress, kByte2);
    board->OpenPort();
    return board;
}

// The replies to one pass-through frame 0x3A, 3, 0x12, 0x34, 0x00, 0xC5 on `bus`:
// to each prefix, then to each frame byte.
std::vector<Bytes> ReadFrame(PumpedBoard& board, std::uint8_t bus)
{
    std::vector<Bytes> replies;
    for (const std::uint8_t byte : Bytes{0x3A, 0x03, 0x12, 0x34, 0x00, 0xC5}) {
        replies.push_back(board.Exchange(bus));
        replies.push_back(board.Exchange(byte));
    }
    return replies;
}

std::vector<Bytes> FrameReplies(std::uint8_t bus, std::uint8_t result)
{
    return {{bus}, {0x3A, 0x3A}, {bus}, {0x03, 0x03}, {bus}, {0x12, 0x12},
            {bus}, {0x34, 0x34}, {bus}, {0x00, 0x00}, {bus}, {0xC5, result}};
}

using Entry = std::tuple<std::int64_t, bool, int>;
constexpr bool kTool = true;
constexpr bool kBoard = false;

std::vector<Entry> Entries(const std::vector<boardsim::TranscriptEntry>& transcript)
{
    std::vector<Entry> entries;
    for (const auto& e : transcript) entries.emplace_back(e.timeUs, e.fromTool, e.byte);
    return entries;
}

} // namespace

TEST(BoardSimCommand, ReadExchangeAnswersOneByteToACommandAndTwoToAnOperandWithTheMemoryByteLast)
{
    auto board = CommandBoard();
    EXPECT_EQ(board->Exchange(0xCA), Bytes{0x35});
    EXPECT_EQ(board->ExchangeEach(kReadExchange),
              (std::vector<Bytes>{{0x00}, {0x12, 0x12}, {0x01}, {0x34, 0x34}, {0x03}, {0x00, kByte1}}));
}

TEST(BoardSimCommand, WriteExchangeStoresTheOperandOnProcessor1AndReturnsIt)
{
    for (const std::uint8_t write : {0x02, 0x04}) {
        SCOPED_TRACE(write);
        auto board = CommandBoard();
        EXPECT_EQ(board->ExchangeEach({0x00, 0x12, 0x01, 0x34, write, 0x77}),
                  (std::vector<Bytes>{{0x00}, {0x12, 0x12}, {0x01}, {0x34, 0x34}, {write}, {0x77, 0x77}}));
        EXPECT_EQ(board->Sim().Memory(1, kAddress), 0x77);
        EXPECT_EQ(board->Sim().Memory(2, kAddress), kByte2);
    }
}

TEST(BoardSimCommand, ReadFrameOnTheInternalBusEndsWithProcessor2sByte)
{
    struct Case {
        const char* name;
        std::uint8_t bus;
        Faults faults;
        std::uint8_t result;
    };
    const Case cases[] = {
        {"internal bus", 0x08, {}, kByte2},
        {"external bus: no memory behind it", 0x09, {}, 0xC5},
        {"wrong memory on processor 2", 0x08, {.wrongMemory2 = {{kAddress, 0x77}}}, 0x77},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto board = CommandBoard({.faults = c.faults});
        EXPECT_EQ(ReadFrame(*board, c.bus), FrameReplies(c.bus, c.result));
    }
}

TEST(BoardSimCommand, SClosesTheChannelUntilTheNext0xCA)
{
    auto board = CommandBoard();
    EXPECT_EQ(board->ExchangeEach({0xCA, 'S', 0x00, 0xCA, 0x00}),
              (std::vector<Bytes>{{0x35}, {}, {}, {0x35}, {0x00}}));
}

TEST(BoardSimCommand, ABoot0x05RightAfter0xCAEntersTheLoaderForANewImage)
{
    auto board = CommandBoard();
    EXPECT_EQ(board->ExchangeEach({0x05, 0xCA, 0x00, 0x12, 0x05, 0xCA, 0x05, 0xBE}),
              (std::vector<Bytes>{{}, {0x35}, {0x00}, {0x12, 0x12}, {}, {0x35}, {0x05}, {0xBE, 0xAA}}));
    EXPECT_EQ(board->Sim().CurrentMode(), Mode::Handshake);
}

TEST(BoardSimCommand, FaultsChangeTheAnswersToTheChannelOpeningAndARead)
{
    struct Case {
        const char* name;
        Faults faults;
        std::vector<Bytes> replies; // to 0xCA and the read exchange of 0x1234
    };
    const Case cases[] = {
        {"no fault", {}, {{0x35}, {0x00}, {0x12, 0x12}, {0x01}, {0x34, 0x34}, {0x03}, {0x00, kByte1}}},
        {"silent", {.silent = true}, {{}, {}, {}, {}, {}, {}, {}}},
        {"never restarted", {.neverRestart = true}, {{}, {}, {}, {}, {}, {}, {}}},
        {"wrong channel reply",
         {.handshakeReply = 0x41},
         {{0x41}, {0x00}, {0x12, 0x12}, {0x01}, {0x34, 0x34}, {0x03}, {0x00, kByte1}}},
        {"silent at the address",
         {.silentAtVerifyAddress = kAddress},
         {{0x35}, {0x00}, {0x12, 0x12}, {0x01}, {0x34, 0x34}, {}, {}}},
        {"silent at another address",
         {.silentAtVerifyAddress = 0x1235},
         {{0x35}, {0x00}, {0x12, 0x12}, {0x01}, {0x34, 0x34}, {0x03}, {0x00, kByte1}}},
        {"wrong memory on processor 1",
         {.wrongMemory1 = {{kAddress, 0x66}}},
         {{0x35}, {0x00}, {0x12, 0x12}, {0x01}, {0x34, 0x34}, {0x03}, {0x00, 0x66}}},
        {"extra reply byte",
         {.extraReplyByte = true},
         {{0x35, 0x35}, {0x00, 0x00}, {0x12, 0x12, 0x12}, {0x01, 0x01}, {0x34, 0x34, 0x34}, {0x03, 0x03},
          {0x00, kByte1, kByte1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto board = CommandBoard({.faults = c.faults});
        std::vector<Bytes> replies{board->Exchange(0xCA)};
        for (const Bytes& reply : board->ExchangeEach(kReadExchange)) replies.push_back(reply);
        EXPECT_EQ(replies, c.replies);
    }
}

TEST(BoardSimCommand, SilenceAtAnAddressLastsUntilThePortIsReopenedAndStrikesOnce)
{
    auto board = CommandBoard({.faults = {.silentAtVerifyAddress = kAddress}});
    EXPECT_EQ(board->ExchangeEach(kReadExchange).back(), Bytes{});
    EXPECT_EQ(board->ExchangeEach({0xCA, 0x00}), (std::vector<Bytes>{{}, {}}));

    board->ClosePort();
    board->OpenPort();
    EXPECT_EQ(board->ExchangeEach(kReadExchange).back(), (Bytes{0x00, kByte1}));
}

TEST(BoardSimCommand, GoingSilentWhilePlayingStopsEveryLaterReply)
{
    auto board = CommandBoard();
    boardsim::BoardSim& sim = board->Sim();
    Bytes lastOfEachReply;
    sim.OnReply([&](std::uint8_t last) { lastOfEachReply.push_back(last); });
    sim.OnByte([&](const boardsim::TranscriptEntry& e) {
        if (e.fromTool && e.byte == 0x01) sim.SetSilent(true);
    });
    EXPECT_EQ(board->ExchangeEach(kReadExchange),
              (std::vector<Bytes>{{0x00}, {0x12, 0x12}, {0x01}, {}, {}, {}}));
    EXPECT_EQ(lastOfEachReply, (Bytes{0x00, 0x12, 0x01}));

    sim.SetSilent(false);
    EXPECT_EQ(board->ExchangeEach({0x03, 0x00}), (std::vector<Bytes>{{0x03}, {0x00, kByte1}}));
}

TEST(BoardSimCommand, TurnaroundReplyDelayAndLinePacingSetWhenEachByteCrosses)
{
    struct Case {
        const char* name;
        bool pace;
        int turnaroundUs;
        int replyDelayUs;
        std::vector<Entry> transcript; // of 0x00 sent at 10000 us, then 0x12 as soon as its reply is in
    };
    const Case cases[] = {
        {"instant", false, 0, 0,
         {{10000, kTool, 0x00}, {10000, kBoard, 0x00}, {10000, kTool, 0x12}, {10000, kBoard, 0x12},
          {10000, kBoard, 0x12}}},
        {"turnaround and delay", false, 1000, 500,
         {{10000, kTool, 0x00}, {11500, kBoard, 0x00}, {11500, kTool, 0x12}, {13000, kBoard, 0x12},
          {13000, kBoard, 0x12}}},
        {"paced", true, 0, 0,
         {{10260, kTool, 0x00}, {10520, kBoard, 0x00}, {10780, kTool, 0x12}, {11040, kBoard, 0x12},
          {11300, kBoard, 0x12}}},
        {"paced with turnaround and delay", true, 1000, 500,
         {{10260, kTool, 0x00}, {12020, kBoard, 0x00}, {12280, kTool, 0x12}, {14040, kBoard, 0x12},
          {14300, kBoard, 0x12}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto board = CommandBoard(
            {.faults = {.replyDelayUs = c.replyDelayUs}, .pace38400 = c.pace, .turnaroundUs = c.turnaroundUs});
        board->SetNow(10000);
        board->ExchangeEach({0x00, 0x12});
        EXPECT_EQ(Entries(board->Sim().Transcript()), c.transcript);
    }
}
