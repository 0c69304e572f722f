#include "app/RadioGroup.h"
#include "app/UpdaterUnit.h"
#include "app/VrProgressBar.h"
#include "programming/ElapsedTime.h"
#include "support/RunFixture.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using boardsim::Mode;
using Bytes = std::vector<std::uint8_t>;

const Bytes kHandshake{0xCA, 0x05, 0xBE};
const Bytes kChannelOpen{0xCA};

// Programming runs here verify in fast mode without the second processor, so
// that the verification phase stays short; it has tests of its own.
void QuickVerify(TMainUpdater& w)
{
    w.FastVer->setChecked(true);
    w.CheckBoxUP2->setChecked(false);
}

bool StartsWith(const Bytes& all, const Bytes& prefix)
{
    return all.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), all.begin());
}

void PostHalt(TMainUpdater& w)
{
    QTimer::singleShot(0, w.HaltBtn, [&w] { w.HaltBtn->click(); });
}

struct Scenario {
    const char* name;
    Mode mode;
    bool powerOn;
    std::function<void(boardsim::Faults&)> fault;
    int records;
    // The tool's bytes up to the verification phase, from the image.
    std::function<Bytes(const std::vector<boardsim::PlainRecord>&)> programming;
    const char* finalStatus; // exact, or a prefix ending in '[' for "FIRMWARE OK ["
    const char* statusEnd;   // what the status must end with
    std::uint8_t aborted;
};

Bytes Records(const std::vector<boardsim::PlainRecord>& image, std::initializer_list<std::pair<int, std::uint8_t>> sent)
{
    Bytes out;
    for (const auto& [index, mismatches] : sent) {
        const Bytes one = RecordBytes(image[static_cast<std::size_t>(index)], mismatches);
        out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}

const Scenario kScenarios[] = {
    {"NoBoard", Mode::Handshake, false, [](auto& f) { f.silent = true; }, 2,
     [](auto&) { return kHandshake; }, "ERROR(S) FOUND", "ERROR(S) FOUND", 1},
    {"WrongHandshakeReply", Mode::Handshake, false, [](auto& f) { f.handshakeReply = 0x36; }, 2,
     [](auto&) { return kHandshake; }, "ERROR(S) FOUND", "ERROR(S) FOUND", 1},
    {"WrongRequestByte", Mode::Handshake, false, [](auto& f) { f.requestByte = 0xAB; }, 2,
     [](auto&) { return kHandshake; }, "ERROR(S) FOUND", "ERROR(S) FOUND", 1},
    {"CleanHandshakeRun", Mode::Handshake, false, [](auto&) {}, 3,
     [](auto& im) { return Concat({kHandshake, Records(im, {{0, 0}, {1, 0}, {2, 0}})}); }, "FIRMWARE OK [",
     "] - ERRORS[0]", 0},
    {"CleanPowerOnRun", Mode::PowerOn, true, [](auto&) {}, 2,
     [](auto& im) { return Records(im, {{0, 0}, {1, 0}}); }, "FIRMWARE OK [", "] - ERRORS[0]", 0},
    {"WrongEchoOnce", Mode::Handshake, false,
     [](auto& f) {
         f.echoRecord = 1;
         f.echoByte = 5;
     },
     2, [](auto& im) { return Concat({kHandshake, Records(im, {{0, 1}, {0, 0}, {1, 0}})}); }, "FIRMWARE OK [",
     "] - ERRORS[1]", 0},
    {"AcknowledgementRefusedThreeTimes", Mode::Handshake, false,
     [](auto& f) {
         f.nakRecord = 2;
         f.nakTimes = 3;
     },
     3, [](auto& im) { return Concat({kHandshake, Records(im, {{0, 0}, {1, 0}, {1, 0}, {1, 0}, {1, 0}, {2, 0}})}); },
     "FIRMWARE OK [", "] - ERRORS[3]", 0},
    {"LastRecordFailsOnce", Mode::Handshake, false,
     [](auto& f) {
         f.nakRecord = 3;
         f.nakTimes = 1;
     },
     3, [](auto& im) { return Concat({kHandshake, Records(im, {{0, 0}, {1, 0}, {2, 0}, {2, 0}})}); }, "FIRMWARE OK [",
     "] - ERRORS[1]", 0},
    {"NineteenFailuresStillSucceed", Mode::Handshake, false,
     [](auto& f) {
         f.nakRecord = 1;
         f.nakTimes = 19;
     },
     1,
     [](auto& im) {
         Bytes b = kHandshake;
         for (int i = 0; i < 20; ++i) b = Concat({b, Records(im, {{0, 0}})});
         return b;
     },
     "FIRMWARE OK [", "] - ERRORS[19]", 0},
    {"TwentyFailuresEndProgramming", Mode::Handshake, false,
     [](auto& f) {
         f.echoRecord = 1;
         f.echoByte = 0;
         f.echoEveryTime = true;
     },
     2,
     [](auto& im) {
         Bytes b = kHandshake;
         for (int i = 0; i < 20; ++i) b = Concat({b, Records(im, {{0, 1}})});
         return b;
     },
     "ERROR(S) FOUND [20]", "ERROR(S) FOUND [20]", 1},
};

class ProgrammingScenario : public ::testing::TestWithParam<Scenario> {};

TEST_P(ProgrammingScenario, PutsTheExpectedBytesOnTheLineAndEndsWithItsStatus)
{
    const Scenario& s = GetParam();
    boardsim::Options options;
    options.mode = s.mode;
    s.fault(options.faults);
    RunFixture run(options);
    const auto image = Image(s.records);
    run.UseImage(image);
    run.w->EnPOR->setChecked(s.powerOn);
    QuickVerify(*run.w);

    run.Download();

    const Bytes sent = run.ToolBytes();
    const Bytes expected = Concat({s.programming(image), kChannelOpen});
    ASSERT_TRUE(StartsWith(sent, expected)) << "sent " << sent.size() << " bytes, expected a prefix of "
                                            << expected.size();
    const QString status = run.w->StatusText();
    EXPECT_TRUE(status.startsWith(QString::fromLatin1(s.finalStatus))) << status.toStdString();
    EXPECT_TRUE(status.endsWith(QString::fromLatin1(s.statusEnd))) << status.toStdString();
    EXPECT_EQ(Aborted, s.aborted);
    EXPECT_TRUE(run.errors.empty());
    EXPECT_TRUE(run.ControlsUnlocked());
    EXPECT_FALSE(run.w->ComPort.Connected());
    EXPECT_EQ(run.w->BarBarb->Position(), run.w->BarBarb->Max());
    if (s.aborted == 0) {
        for (const auto& record : image)
            for (std::size_t j = 0; j < record.data.size(); ++j)
                ASSERT_EQ(run.board.Memory(1, static_cast<std::uint16_t>(record.address + j)), record.data[j]);
        EXPECT_TRUE(run.LogLines().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, ProgrammingScenario, ::testing::ValuesIn(kScenarios),
                         [](const auto& info) { return std::string(info.param.name); });

// The file's trailing bytes that do not make a whole record are never sent.
TEST(ProgrammingPhase, APartialTrailingRecordIsNeverSent)
{
    RunFixture run;
    const auto image = Image(2);
    run.UseImage(image, 50);
    run.w->EnPOR->setChecked(false);
    QuickVerify(*run.w);
    run.Download();
    EXPECT_TRUE(StartsWith(run.ToolBytes(), Concat({kHandshake, Records(image, {{0, 0}, {1, 0}}), kChannelOpen})));
    EXPECT_EQ(run.w->BarBarb->Max(), 262);
    EXPECT_TRUE(run.w->StatusText().startsWith("FIRMWARE OK ["));
}

// After every byte of a record the bar stands at (k - 1) * 131 + i; a resent
// record starts again at the beginning of its stretch.
TEST(ProgrammingPhase, TheBarFollowsEveryByteAndRestartsWithAResentRecord)
{
    boardsim::Options options;
    options.faults.nakRecord = 2;
    options.faults.nakTimes = 1;
    RunFixture run(options);
    run.UseImage(Image(2));
    run.w->EnPOR->setChecked(false);
    QuickVerify(*run.w);
    std::vector<int> barAtEcho;
    bool programming = true;
    run.board.OnByte([&](const boardsim::TranscriptEntry& e) {
        // The bar moves after each echo has been read, so it is seen as the tool sends the next byte.
        if (programming && e.fromTool) barAtEcho.push_back(run.w->BarBarb->Position());
    });
    run.clock.onWait = [&](int fd) {
        if (fd < 0) programming = false; // the restart wait
    };
    run.Download();

    // The handshake leaves the bar at 0. A byte goes out before its echo moves
    // the bar, so the start byte and a record's first byte see where the bar was.
    std::vector<int> expected(3, 0);
    int previous = 0;
    for (int k : {1, 2, 2}) {
        const int base = (k - 1) * 131;
        expected.push_back(previous); // 0x55
        expected.push_back(previous); // byte 1
        for (int i = 2; i <= 131; ++i) expected.push_back(base + i - 1);
        expected.push_back(base + 131); // the mismatch count
        previous = base + 131;
    }
    ASSERT_EQ(barAtEcho.size(), expected.size());
    EXPECT_EQ(barAtEcho, expected);
}

TEST(ProgrammingPhase, WritesItsStatusTextsInOrderAndLocksTheRightControls)
{
    RunFixture run;
    run.UseImage(Image(2));
    run.w->EnPOR->setChecked(false);
    QuickVerify(*run.w);
    run.w->SerialGroup->SetItemIndex(0);
    run.w->show();
    QApplication::setActiveWindow(run.w.get());
    std::vector<QString> statuses;
    bool lockedDuringRun = true;
    bool haltDisabledInRestartWait = true;
    std::int64_t restartWaitStart = -1, restartWaitEnd = -1;
    run.clock.onWait = [&](int fd) {
        TMainUpdater& w = *run.w;
        if (statuses.empty() || statuses.back() != w.StatusText()) statuses.push_back(w.StatusText());
        lockedDuringRun &= !w.DownloadBtn->isEnabled() && !w.BrowseButton->isEnabled() &&
                           !w.FileNameEdit->isEnabled() && !w.SerialGroup->isEnabled() && !w.EnPOR->isEnabled() &&
                           w.verbox->isEnabled() && w.FastVer->isEnabled() && w.CheckBoxUP2->isEnabled();
        if (fd < 0) {
            haltDisabledInRestartWait &= !w.HaltBtn->isEnabled() && !w.ComPort.Connected();
            if (restartWaitStart < 0) restartWaitStart = run.clock.NowMs();
            restartWaitEnd = run.clock.NowMs();
        }
    };
    run.Download();

    ASSERT_GE(statuses.size(), 4u);
    EXPECT_EQ(statuses[0], "Waiting for board ack...");
    EXPECT_EQ(statuses[1], "Writing data...");
    EXPECT_EQ(statuses[2], "RESTARTING IN 3 SEC");
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), QString("Writing data...")), 1);
    EXPECT_TRUE(lockedDuringRun);
    EXPECT_TRUE(haltDisabledInRestartWait);
    EXPECT_GE(restartWaitEnd - restartWaitStart, 3000 - 10);
    EXPECT_TRUE(run.ControlsUnlocked());
    EXPECT_TRUE(run.w->DownloadBtn->hasFocus());
}

// The elapsed time leaves out the three seconds of the restart wait.
TEST(ProgrammingPhase, ElapsedTimeLeavesOutTheRestartWait)
{
    boardsim::Options options;
    options.mode = Mode::PowerOn;
    options.powerOnDelayUs = 600'000'000; // the operator switches the board on after ten minutes
    RunFixture run(options);
    run.UseImage(Image(1));
    QuickVerify(*run.w);
    const std::int64_t start = run.clock.NowMs();
    run.Download();
    const std::int64_t elapsed = run.clock.NowMs() - start - 3000;
    EXPECT_GE(elapsed, 600'000);
    EXPECT_EQ(run.w->StatusText(), "FIRMWARE OK [" + FormatElapsed(elapsed) + "] - ERRORS[0]");
}

TEST(ProgrammingPhase, HaltInPowerOnModeEndsTheUnlimitedWait)
{
    boardsim::Options options;
    options.mode = Mode::PowerOn;
    options.faults.silent = true;
    RunFixture run(options);
    run.UseImage(Image(1));
    QuickVerify(*run.w);
    run.clock.At(60'000, [&] { PostHalt(*run.w); });
    run.Download();
    EXPECT_GE(run.clock.NowMs(), 60'000); // waited, without limit, until Halt
    EXPECT_EQ(run.ToolBytes(), kChannelOpen); // nothing but the verification's channel opening
    EXPECT_EQ(run.w->StatusText(), "ERROR(S) FOUND");
    EXPECT_EQ(Aborted, 1);
    EXPECT_FALSE(run.w->ProgramEnded());
}

// A second Halt before the restart wait ends the program; the run unwinds and
// releases the port.
TEST(ProgrammingPhase, ASecondHaltEndsTheProgram)
{
    boardsim::Options options;
    options.mode = Mode::PowerOn;
    options.faults.silent = true;
    RunFixture run(options);
    run.UseImage(Image(1));
    run.clock.At(1'000, [&] { PostHalt(*run.w); });
    run.clock.At(1'000, [&] { PostHalt(*run.w); });
    run.Download();
    EXPECT_TRUE(run.w->ProgramEnded());
    EXPECT_TRUE(run.errors.empty());
}

TEST(ProgrammingPhase, ComTwoOpensTheSecondDevice)
{
    RunFixture run;
    run.UseImage(Image(1));
    run.w->SerialGroup->SetItemIndex(1);
    run.Download();
    EXPECT_EQ(run.w->ComPort.Port(), "COM2");
    ASSERT_EQ(run.errors.size(), 1u);
    EXPECT_TRUE(run.errors[0].startsWith("Unable to open com port (win error code: ")) << run.errors[0].toStdString();
    EXPECT_TRUE(run.ToolBytes().empty());
}

struct ErrorCase {
    const char* name;
    std::function<void(RunFixture&)> arrange;
    const char* message;
    bool portLeftOpen;
};

// File and port errors reach the error box; the run stops where it was, its
// controls stay locked, and whatever it had opened stays open.
TEST(ProgrammingPhase, FileAndPortErrorsReachTheBoxAndLeaveTheRunLocked)
{
    const ErrorCase cases[] = {
        {"missing file", [](RunFixture& r) { r.w->FileNameEdit->setText(QString::fromStdString(r.dir.Path() + "/NONE.FRM")); },
         "File not found.", true},
        {"short file", [](RunFixture& r) { r.w->FileNameEdit->setText(QString::fromStdString(r.dir.Write("S.FRM", Bytes(130, 1)))); },
         "Read beyond end of file.", true},
        {"empty file", [](RunFixture& r) { r.w->FileNameEdit->setText(QString::fromStdString(r.dir.Write("E.FRM", {}))); },
         "Read beyond end of file.", true},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        RunFixture run;
        run.w->EnPOR->setChecked(false);
        c.arrange(run);
        run.Download();
        ASSERT_EQ(run.errors.size(), 1u);
        EXPECT_EQ(run.errors[0], c.message);
        EXPECT_EQ(run.w->ComPort.Connected(), c.portLeftOpen);
        EXPECT_FALSE(run.w->DownloadBtn->isEnabled());
        EXPECT_FALSE(run.w->BrowseButton->isEnabled());
        EXPECT_EQ(run.w->StatusText(), "Waiting for board ack...");
        EXPECT_EQ(Aborted, 0);
    }
}

// A USB adapter pulled out in the middle of a record: a port error in the
// box, never a hang; the run stops where it was.
TEST(ProgrammingPhase, ADeviceVanishingInTheMiddleOfARunIsAPortError)
{
    RunFixture run;
    run.UseImage(Image(3));
    run.w->EnPOR->setChecked(false);
    int toolBytes = 0;
    run.board.OnByte([&](const boardsim::TranscriptEntry& e) {
        if (e.fromTool && ++toolBytes == 60) run.board.Unplug();
    });
    run.Download();
    ASSERT_EQ(run.errors.size(), 1u);
    EXPECT_TRUE(run.errors[0].contains("function failed (win error code: 5)")) << run.errors[0].toStdString();
    EXPECT_EQ(run.w->StatusText(), "Writing data...");
    EXPECT_FALSE(run.w->DownloadBtn->isEnabled());
    EXPECT_EQ(Aborted, 0);
    EXPECT_EQ(toolBytes, 60);
}

// The same run as the tool makes it for real: the simulator on its own thread,
// the steady clock, a real three-second restart wait.
TEST(RealTime, AProgramAndVerifyRunAgainstTheThreadedSimulator)
{
    boardsim::BoardSim board;
    board.Start();
    TMainUpdater w(TPortMap{board.DevicePath(), "/dev/null-com2"});
    TempDir dir;
    const auto image = Image(2);
    w.FileNameEdit->setText(QString::fromStdString(dir.Write("RT.FRM", boardsim::EncodeFirmware(image))));
    w.EnPOR->setChecked(false);
    QuickVerify(w);
    w.DownloadBtn->click();
    board.Stop();
    EXPECT_TRUE(w.StatusText().startsWith("FIRMWARE OK [")) << w.StatusText().toStdString();
    EXPECT_TRUE(w.StatusText().endsWith("] - ERRORS[0]"));
    EXPECT_EQ(board.RecordsProgrammed(), 2);
    EXPECT_EQ(board.CurrentMode(), Mode::Command);
    const Bytes sent = [&] {
        Bytes out;
        for (const auto& e : board.Transcript())
            if (e.fromTool) out.push_back(e.byte);
        return out;
    }();
    EXPECT_TRUE(StartsWith(sent, Concat({kHandshake, Records(image, {{0, 0}, {1, 0}}), kChannelOpen})));
    EXPECT_EQ(sent.size(), 3 + 2 * 133 + 1 + 2 * 8 * 6u);
}

} // namespace
