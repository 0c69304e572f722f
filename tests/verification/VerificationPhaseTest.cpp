#include "app/UpdaterUnit.h"
#include "app/VrProgressBar.h"
#include "support/RunFixture.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using boardsim::Mode;
using boardsim::PlainRecord;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(std::uint8_t high, std::uint8_t low)
{
    return {0x00, high, 0x01, low, 0x03, 0x00};
}

// A board that restarted earlier holding `image` on both processors.
boardsim::Options RestartedBoard()
{
    boardsim::Options options;
    options.mode = Mode::Command;
    return options;
}

void Program(boardsim::BoardSim& board, const std::vector<PlainRecord>& image)
{
    for (const PlainRecord& record : image)
        for (std::size_t j = 0; j < record.data.size(); ++j) {
            const auto address = static_cast<std::uint16_t>((record.address & 0xFF00) | ((record.address + j) & 0xFF));
            board.SetMemory(1, address, record.data[j]);
            board.SetMemory(2, address, record.data[j]);
        }
}

struct VerifyRun : RunFixture {
    explicit VerifyRun(boardsim::Options options = RestartedBoard(), bool fast = false, bool up2 = false)
        : RunFixture(options)
    {
        w->verbox->setChecked(true);
        w->FastVer->setChecked(fast);
        w->CheckBoxUP2->setChecked(up2);
    }
    void VerifyImage(const std::vector<PlainRecord>& image)
    {
        Program(board, image);
        UseImage(image);
        Download();
    }
};

TEST(VerificationPhase, ACleanProgramAndVerifyRunEndsOk)
{
    boardsim::Options options;
    options.mode = Mode::Handshake;
    RunFixture run(options);
    run.UseImage(Image(3));
    run.w->EnPOR->setChecked(false);
    run.w->CheckBoxUP2->setChecked(true);
    run.Download();
    EXPECT_TRUE(run.w->StatusText().startsWith("FIRMWARE OK [")) << run.w->StatusText().toStdString();
    EXPECT_TRUE(run.w->StatusText().endsWith("] - ERRORS[0]"));
    EXPECT_TRUE(run.LogLines().empty());
    EXPECT_EQ(Aborted, 0);
    EXPECT_EQ(run.w->BarBarb->Position(), 3 * 131);
}

// Fast mode reads the last byte of each block of 16, in order, and nothing else.
TEST(VerificationPhase, FastModeReadsEightAddressesPerRecord)
{
    VerifyRun run(RestartedBoard(), /*fast=*/true);
    auto image = Image(1, 0x1200);
    run.VerifyImage(image);
    Bytes expected{0xCA};
    for (std::uint8_t low : {0x0F, 0x1F, 0x2F, 0x3F, 0x4F, 0x5F, 0x6F, 0x7F}) {
        const Bytes one = ReadBytes(0x12, low);
        expected.insert(expected.end(), one.begin(), one.end());
    }
    EXPECT_EQ(run.ToolBytes(), expected);
    EXPECT_TRUE(run.LogLines().empty());
    EXPECT_TRUE(run.w->StatusText().startsWith("FIRMWARE OK [")) << run.w->StatusText().toStdString();
}

// The low address byte wraps within its page: no carry into the high byte.
TEST(VerificationPhase, FullModeWrapsTheLowByteWithinThePage)
{
    VerifyRun run;
    auto image = Image(1, 0x34C0);
    run.VerifyImage(image);
    const Bytes sent = run.ToolBytes();
    ASSERT_EQ(sent.size(), 1 + 128 * 6u);
    for (int j = 0; j < 128; ++j) {
        SCOPED_TRACE(j);
        EXPECT_EQ(sent[1 + j * 6 + 1], 0x34);
        EXPECT_EQ(sent[1 + j * 6 + 3], static_cast<std::uint8_t>(0xC0 + j));
    }
    EXPECT_TRUE(run.LogLines().empty());
}

TEST(VerificationPhase, MismatchesAreLoggedAndTheRunFails)
{
    boardsim::Options options = RestartedBoard();
    options.faults.wrongMemory1 = {{0x1205, 0xFF}};
    options.faults.wrongMemory2 = {{0x1205, 0x00}, {0x1207, 0x01}};
    VerifyRun run(options, false, /*up2=*/true);
    auto image = Image(1, 0x1200);
    image[0].key = 0x10;
    image[0].data[5] = 0x12;
    image[0].data[7] = 0x34;
    run.VerifyImage(image);
    // The main processor's line comes before the second processor's.
    const std::vector<QString> expected{"MP1ERR:255|18|18|5", "MP2ERR:0|18|18|5", "MP2ERR:1|52|18|7"};
    EXPECT_EQ(run.LogLines(), expected);
    EXPECT_EQ(run.w->StatusText(), "ERROR(S) FOUND");
    EXPECT_EQ(Aborted, 1);
}

// The worked example: key 0x10, stored AddrHi 0x11, AddrLo 0x90, Data[0] 0x22.
TEST(VerificationPhase, TheLogLineFormat)
{
    boardsim::Options options = RestartedBoard();
    RunFixture run(options);
    run.w->verbox->setChecked(true);
    run.w->CheckBoxUP2->setChecked(false);
    std::vector<std::uint8_t> stored(131, 0x10); // every other byte is a plain 0
    stored[0] = 0x11;
    stored[1] = 0x90;
    stored[3] = 0x22;
    run.w->FileNameEdit->setText(QString::fromStdString(run.dir.Write("EX.FRM", stored)));
    for (int j = 1; j < 128; ++j) run.board.SetMemory(1, static_cast<std::uint16_t>(0x0180 + j), 0x00);
    run.Download(); // the board still holds 0xFF at 0x0180
    EXPECT_EQ(run.LogLines(), std::vector<QString>{"MP1ERR:255|18|1|128"});
}

// 0xFF00..0xFFCF is read but never compared; 0xFFD0 onwards is.
TEST(VerificationPhase, TheExemptWindowIsReadButNeverCompared)
{
    boardsim::Options options = RestartedBoard();
    options.faults.wrongMemory1 = {{0xFF80, 0x01}, {0xFFCF, 0x02}, {0xFFD0, 0x03}};
    options.faults.wrongMemory2 = {{0xFF90, 0x04}, {0xFFFF, 0x05}};
    VerifyRun run(options, false, true);
    auto image = Image(1, 0xFF80);
    for (auto& b : image[0].data) b = 0x20;
    run.VerifyImage(image);
    EXPECT_EQ(run.LogLines(), (std::vector<QString>{"MP1ERR:3|32|255|208", "MP2ERR:5|32|255|255"}));
    EXPECT_EQ(run.ToolBytes().size(), 1 + 128 * (6 + 12u)); // every address was still read
}

// Ten records, third record, offset 4: the bar at 267 of 1310.
TEST(VerificationPhase, TheBarAndStatusFollowEveryAddress)
{
    VerifyRun run;
    const auto image = Image(10);
    Program(run.board, image);
    run.UseImage(image);
    // The status as each ReadData begins shows the address verified before it.
    std::vector<QString> statusAtRead;
    std::size_t toolBytes = 0;
    run.board.OnByte([&](const boardsim::TranscriptEntry& e) {
        if (e.fromTool && toolBytes++ % 6 == 1) statusAtRead.push_back(run.w->StatusText());
    });
    run.Download();
    ASSERT_EQ(statusAtRead.size(), 1280u);
    EXPECT_EQ(statusAtRead[0], "Start verification...");
    for (std::size_t a = 1; a < statusAtRead.size(); ++a) {
        const std::size_t k = (a - 1) / 128 + 1, j = (a - 1) % 128;
        ASSERT_EQ(statusAtRead[a], QString("Checking %1/1310").arg((k - 1) * 131 + j + 1)) << a;
    }
    EXPECT_EQ(statusAtRead[2 * 128 + 5], "Checking 267/1310");
    EXPECT_EQ(run.w->BarBarb->Max(), 1310);
}

// A board that stops answering in the middle of a record silences the rest of
// that record; the remaining comparisons use the value read last.
TEST(VerificationPhase, ABoardGoingSilentMidRecord)
{
    boardsim::Options options = RestartedBoard();
    options.faults.silentAtVerifyAddress = 0x1210;
    VerifyRun run(options);
    auto image = Image(2, 0x1200);
    for (auto& record : image)
        for (std::size_t j = 0; j < 128; ++j) record.data[j] = static_cast<std::uint8_t>(j);
    run.VerifyImage(image);
    const auto lines = run.LogLines();
    ASSERT_FALSE(lines.empty());
    // 0x1210 keeps the value of 0x120F (15): every later offset of the record mismatches.
    EXPECT_EQ(lines.front(), "MP1ERR:15|16|18|16");
    EXPECT_EQ(run.w->StatusText(), "ERROR(S) FOUND");
    EXPECT_EQ(Aborted, 1);
}

struct NoRestartCase {
    const char* name;
    bool programmingFails;
    const char* finalStatus;
};

// Nothing is verified when the channel does not open; the run has failed.
TEST(VerificationPhase, ABoardThatNeverRestarts)
{
    const NoRestartCase cases[] = {
        {"after a clean programming phase", false, "EQU not restarted!"},
        {"after a failed programming phase", true, "ERROR(S) FOUND [20]"},
    };
    for (const NoRestartCase& c : cases) {
        SCOPED_TRACE(c.name);
        boardsim::Options options;
        options.mode = Mode::Handshake;
        options.faults.neverRestart = true;
        if (c.programmingFails) {
            options.faults.echoRecord = 1;
            options.faults.echoByte = 0;
            options.faults.echoEveryTime = true;
        }
        RunFixture run(options);
        run.UseImage(Image(2));
        run.w->EnPOR->setChecked(false);
        run.Download();
        EXPECT_EQ(run.w->StatusText(), c.finalStatus);
        EXPECT_EQ(Aborted, 1);
        EXPECT_TRUE(run.ControlsUnlocked());
        EXPECT_EQ(run.w->BarBarb->Position(), run.w->BarBarb->Max());
        EXPECT_FALSE(run.w->ComPort.Connected());
        EXPECT_TRUE(run.LogLines().empty());
    }
}

TEST(VerificationPhase, AVerifyOnlyRunWithoutAnsweringBoardShowsEquNotRestarted)
{
    boardsim::Options options = RestartedBoard();
    options.faults.silent = true;
    VerifyRun run(options);
    run.UseImage(Image(1));
    run.Download();
    EXPECT_EQ(run.ToolBytes(), Bytes{0xCA});
    EXPECT_EQ(run.w->StatusText(), "EQU not restarted!");
    EXPECT_EQ(Aborted, 1);
    run.w->HaltBtn->click(); // a failed run: Halt ends the program at once
    EXPECT_TRUE(run.w->ProgramEnded());
}

TEST(VerificationPhase, TwoRunsInARowAppendToTheLog)
{
    VerifyRun run(RestartedBoard(), true);
    auto image = Image(1, 0x1000);
    image[0].data[15] = 0x07;
    Program(run.board, image);
    run.board.SetMemory(1, 0x100F, 0x08);
    run.UseImage(image);
    run.Download();
    run.Download();
    EXPECT_EQ(run.LogLines(), (std::vector<QString>{"MP1ERR:8|7|16|15", "MP1ERR:8|7|16|15"}));
}

// Halt in a Verify ONLY run is seen at the next record and does not stop the phase.
TEST(VerificationPhase, HaltDuringVerifyOnlyMarksTheRunFailedButVerifiesEverything)
{
    VerifyRun run(RestartedBoard(), true);
    const auto image = Image(3);
    Program(run.board, image);
    run.UseImage(image);
    QTimer::singleShot(0, run.w->HaltBtn, [&] { run.w->HaltBtn->click(); });
    run.Download();
    EXPECT_EQ(run.ToolBytes().size(), 1 + 3 * 8 * 6u);
    EXPECT_EQ(run.w->StatusText(), "ERROR(S) FOUND");
}

} // namespace
