#include "boardsim/ToolEnd.h"

#include <gtest/gtest.h>

using boardsim::Faults;
using boardsim::Mode;
using boardsim::Options;
using boardsim::PlainRecord;
using boardsim_test::Bytes;
using boardsim_test::PumpedBoard;

namespace {

// Starts at low byte 0x90, so that Data[112] wraps to 0x1200; keyed, so the
// board has to take the key off.
PlainRecord WrappingRecord()
{
    PlainRecord record{0x1290, 0x37, {}};
    for (std::size_t k = 0; k < record.data.size(); ++k) record.data[k] = static_cast<std::uint8_t>(k * 3 + 1);
    return record;
}

const Bytes kStored = boardsim::EncodeFirmware({WrappingRecord()});

struct Attempt {
    int mismatches;
    Bytes answer; // to the mismatch count: two acknowledgement bytes and the next request
    bool operator==(const Attempt&) const = default;
};

// Sends a record the way the tool does: 0x55, the 131 stored bytes, each
// echo compared, then the count of wrong echoes (or 0 when `claimClean`).
Attempt SendRecord(PumpedBoard& board, const Bytes& stored, bool claimClean = false)
{
    EXPECT_EQ(board.Exchange(0x55), Bytes{0x55});
    int mismatches = 0;
    for (const std::uint8_t byte : stored) mismatches += board.Exchange(byte) == Bytes{byte} ? 0 : 1;
    return {mismatches, board.Exchange(claimClean ? 0 : static_cast<std::uint8_t>(mismatches))};
}

void Handshake(PumpedBoard& board)
{
    ASSERT_EQ(board.ExchangeEach({0xCA, 0x05, 0xBE}), (std::vector<Bytes>{{0x35}, {0x05}, {0xBE, 0xAA}}));
}

} // namespace

TEST(BoardSimLoader, HandshakeAndOneRecordAreEchoedAcknowledgedAndStoredWithoutTheKey)
{
    PumpedBoard board({.mode = Mode::Handshake});
    board.OpenPort();
    Handshake(board);

    EXPECT_EQ(board.Exchange(0x55), Bytes{0x55});
    Bytes echoes;
    for (const std::uint8_t byte : kStored) {
        const Bytes echo = board.Exchange(byte);
        echoes.insert(echoes.end(), echo.begin(), echo.end());
    }
    EXPECT_EQ(echoes, kStored);
    EXPECT_EQ(board.Exchange(0x00), (Bytes{0xCC, 0xCC, 0xAA}));

    EXPECT_EQ(board.Sim().RecordsProgrammed(), 1);
    const PlainRecord plain = WrappingRecord();
    for (std::size_t k = 0; k < plain.data.size(); ++k) {
        const auto address = static_cast<std::uint16_t>(0x1200 | ((0x90 + k) & 0xFF));
        EXPECT_EQ(board.Sim().Memory(1, address), plain.data[k]) << "k=" << k;
        EXPECT_EQ(board.Sim().Memory(2, address), plain.data[k]) << "k=" << k;
    }
    EXPECT_EQ(board.Sim().Memory(1, 0x1200), plain.data[112]); // wrapped within the page
    EXPECT_EQ(board.Sim().Memory(1, 0x1300), 0xFF);             // no carry into the next page
}

TEST(BoardSimLoader, PowerOnLoaderRequestsARecordAfterThePortOpensAgainUntilTheToolTalks)
{
    PumpedBoard board({.mode = Mode::PowerOn, .powerOnDelayUs = 20000});
    board.SetNow(5000);
    board.OpenPort();
    EXPECT_EQ(board.Sim().NextDueUs(), 25000);
    board.Settle();
    EXPECT_EQ(board.TakeReplies(), Bytes{0xAA});
    EXPECT_EQ(board.Sim().Transcript().back().timeUs, 25000);

    // Closed without a word: the loader has not been used and asks again.
    board.ClosePort();
    board.OpenPort();
    board.Settle();
    EXPECT_EQ(board.TakeReplies(), Bytes{0xAA});
    EXPECT_EQ(board.Sim().CurrentMode(), Mode::PowerOn);

    EXPECT_EQ(SendRecord(board, kStored), (Attempt{0, {0xCC, 0xCC, 0xAA}}));
    EXPECT_EQ(board.Sim().RecordsProgrammed(), 1);
}

TEST(BoardSimLoader, ClosingThePortAfterProgrammingRestartsIntoTheCommandMode)
{
    struct Case {
        bool neverRestart;
        Bytes channelReply;
    };
    for (const Case& c : {Case{false, {0x35}}, Case{true, {}}}) {
        SCOPED_TRACE(c.neverRestart ? "never restarts" : "restarts");
        Options options{.mode = Mode::Handshake};
        options.faults.neverRestart = c.neverRestart;
        PumpedBoard board(options);
        board.OpenPort();
        Handshake(board);
        ASSERT_EQ(SendRecord(board, kStored), (Attempt{0, {0xCC, 0xCC, 0xAA}}));

        board.ClosePort();
        EXPECT_EQ(board.Sim().CurrentMode(), Mode::Command);
        board.OpenPort();
        EXPECT_EQ(board.Sim().PortOpenings(), 2);
        EXPECT_EQ(board.Exchange(0xCA), c.channelReply);
        if (c.neverRestart) continue;

        // The programmed byte reads back, and 0xCA, 0x05 leads into the loader again.
        EXPECT_EQ(board.ExchangeEach({0x00, 0x12, 0x01, 0x90, 0x03, 0x00}).back(),
                  (Bytes{0x00, WrappingRecord().data[0]}));
        EXPECT_EQ(board.ExchangeEach({0xCA, 0x05, 0xBE}), (std::vector<Bytes>{{0x35}, {0x05}, {0xBE, 0xAA}}));
        EXPECT_EQ(board.Sim().CurrentMode(), Mode::Handshake);
        EXPECT_EQ(SendRecord(board, kStored), (Attempt{0, {0xCC, 0xCC, 0xAA}}));
        EXPECT_EQ(board.Sim().RecordsProgrammed(), 2);
    }
}

TEST(BoardSimLoader, HandshakeFaultsChangeOnlyTheirByte)
{
    struct Case {
        const char* name;
        Faults faults;
        std::vector<Bytes> replies; // to 0xCA, 0x05, 0xBE
    };
    const Case cases[] = {
        {"silent", {.silent = true}, {{}, {}, {}}},
        {"wrong handshake reply", {.handshakeReply = 0x41}, {{0x41}, {0x05}, {0xBE, 0xAA}}},
        {"wrong request byte", {.requestByte = 0x99}, {{0x35}, {0x05}, {0xBE, 0x99}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PumpedBoard board({.mode = Mode::Handshake, .faults = c.faults});
        board.OpenPort();
        EXPECT_EQ(board.ExchangeEach({0xCA, 0x05, 0xBE}), c.replies);
    }
}

TEST(BoardSimLoader, RecordFaultsFailTheirAttemptsAndTheBoardAsksForTheRecordAgain)
{
    struct Case {
        const char* name;
        Faults faults;
        std::vector<Attempt> attempts;
        int programmed;
        bool claimClean = false; // the tool reports no mismatch whatever it saw
    };
    const Bytes refused{0x33, 0x33, 0xAA};
    const Bytes accepted{0xCC, 0xCC, 0xAA};
    const Case cases[] = {
        {"wrong echo once", {.echoRecord = 1, .echoByte = 5}, {{1, refused}, {0, accepted}}, 1},
        {"wrong echo every time",
         {.echoRecord = 1, .echoByte = 130, .echoEveryTime = true},
         {{1, refused}, {1, refused}},
         0},
        {"two naks",
         {.nakRecord = 1, .nakTimes = 2, .nakBytes = {0x12, 0x34}},
         {{0, {0x12, 0x34, 0xAA}}, {0, {0x12, 0x34, 0xAA}}, {0, accepted}},
         1},
        {"acknowledged despite a mismatch",
         {.echoRecord = 1, .echoByte = 0, .ackDespiteMismatch = true},
         {{1, accepted}},
         1},
        {"a fault for another record", {.echoRecord = 2, .echoByte = 0, .nakRecord = 2, .nakTimes = 1},
         {{0, accepted}}, 1},
        {"the board knows its echo was wrong", {.echoRecord = 1, .echoByte = 7}, {{1, refused}, {0, accepted}}, 1,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PumpedBoard board({.mode = Mode::Handshake, .faults = c.faults});
        board.OpenPort();
        Handshake(board);
        for (const Attempt& expected : c.attempts) EXPECT_EQ(SendRecord(board, kStored, c.claimClean), expected);
        EXPECT_EQ(board.Sim().RecordsProgrammed(), c.programmed);
    }
}
