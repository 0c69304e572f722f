#include "app/UpdaterUnit.h"
#include "serial/SerialLink.h"
#include "support/ManualClock.h"
#include "support/PtyPeer.h"

#include <QMetaObject>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace {

constexpr std::int64_t kStart = 1000;
using Bytes = std::vector<std::uint8_t>;

class SerialLinkTest : public ::testing::Test {
protected:
    PtyPeer peer;
    ManualClock clock{kStart};
    TMainUpdater w{TPortMap{peer.DevicePath(), "/nonexistent/com2"}, &clock};

    void SetUp() override
    {
        w.ComPort.SetPort("COM1");
        w.ComPort.SetBaudRate(br38400);
        w.ComPort.OpenPort();
        Aborted = 0;
    }

    // Runs `action` inside the next processing of window events.
    void DuringNextEvents(std::function<void()> action)
    {
        QMetaObject::invokeMethod(&w, std::move(action), Qt::QueuedConnection);
    }

    // What the tool sent, byte for byte, and nothing after it.
    Bytes OnTheLine(std::size_t count)
    {
        Bytes sent = peer.Read(count);
        const Bytes more = peer.ReadAll(0);
        sent.insert(sent.end(), more.begin(), more.end());
        return sent;
    }
};

struct Wait {
    const char* name;
    std::uint8_t (TMainUpdater::*read)();
};
const Wait kWaits[] = {{"RdCom", &TMainUpdater::RdCom}, {"RdComNoTimeOut", &TMainUpdater::RdComNoTimeOut}};

TEST_F(SerialLinkTest, WrComPutsExactlyThatByteOnTheLine)
{
    for (const std::uint8_t b : {0x00, 0x11, 0x13, 0xFF, 0x0D, 0x0A}) w.WrCom(b);
    EXPECT_EQ(OnTheLine(6), (Bytes{0x00, 0x11, 0x13, 0xFF, 0x0D, 0x0A}));
}

TEST_F(SerialLinkTest, ReadsDeliverEveryByteUnchanged)
{
    for (const Wait& wait : kWaits) {
        SCOPED_TRACE(wait.name);
        const Bytes sent{0x00, 0x11, 0x13, 0xFF, 0x0D, 0x03};
        peer.Write(sent);
        Bytes got;
        for (std::size_t i = 0; i < sent.size(); ++i) got.push_back((w.*wait.read)());
        EXPECT_EQ(got, sent);
        EXPECT_EQ(Aborted, 0);
    }
}

TEST_F(SerialLinkTest, RdComTakesAWaitingByteInOnePass)
{
    peer.Write({0x42});
    EXPECT_EQ(w.RdCom(), 0x42);
    EXPECT_EQ(Aborted, 0);
    EXPECT_EQ(clock.readings, (std::vector<std::int64_t>{kStart, kStart})); // entry, one pass
    EXPECT_TRUE(clock.waits.empty());
}

TEST_F(SerialLinkTest, RdComOnASilentLineTimesOutAtTheFirstReadingPast750)
{
    EXPECT_EQ(w.RdCom(), 0);
    EXPECT_EQ(Aborted, 1);
    EXPECT_EQ(clock.readings.back(), kStart + 751);
    EXPECT_LE(*std::max_element(clock.readings.begin(), clock.readings.end() - 1), kStart + 750);
    // It slept between passes, in slices short enough for window events.
    ASSERT_FALSE(clock.waits.empty());
    EXPECT_GE(*std::min_element(clock.waits.begin(), clock.waits.end()), 1);
    EXPECT_LE(*std::max_element(clock.waits.begin(), clock.waits.end()), 10);
}

TEST_F(SerialLinkTest, AReadingEqualToTheDeadlineIsNotLate)
{
    const struct {
        std::int64_t passReading;
        std::uint8_t result;
        std::uint8_t aborted;
    } cases[] = {{kStart + 750, 0x42, 0}, {kStart + 751, 0, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.passReading);
        Aborted = 0;
        peer.Write({0x42});
        clock.script = {kStart, c.passReading};
        EXPECT_EQ(w.RdCom(), c.result);
        EXPECT_EQ(Aborted, c.aborted);
        EXPECT_EQ(w.ComPort.PendingCount(), 0); // taken either way
    }
}

TEST_F(SerialLinkTest, AByteFirstSeenInAPassPastTheDeadlineIsATimeOut)
{
    const struct {
        std::int64_t arrival;
        std::uint8_t result;
        std::uint8_t aborted;
    } cases[] = {{kStart + 750, 0x42, 0}, {kStart + 751, 0, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arrival);
        Aborted = 0;
        clock.now = kStart;
        clock.At(c.arrival, [this] { peer.Write({0x42}); });
        EXPECT_EQ(w.RdCom(), c.result);
        EXPECT_EQ(Aborted, c.aborted);
        EXPECT_EQ(w.ComPort.PendingCount(), 0);
    }
}

TEST_F(SerialLinkTest, AnEventHandlerThatOutlastsTheDeadlineMakesRdComTimeOut)
{
    peer.Write({0x42});
    DuringNextEvents([this] { clock.Advance(751); });
    EXPECT_EQ(w.RdCom(), 0);
    EXPECT_EQ(Aborted, 1);
    EXPECT_EQ(w.ComPort.PendingCount(), 0);
}

TEST_F(SerialLinkTest, ASetAbortEndsAWaitAfterOnePassAndDropsTheWaitingByte)
{
    for (const Wait& wait : kWaits) {
        for (const bool waiting : {true, false}) {
            SCOPED_TRACE(std::string(wait.name) + (waiting ? " with a byte waiting" : " on a silent line"));
            Aborted = 1;
            if (waiting) peer.Write({0x42});
            clock.readings.clear();
            bool eventsProcessed = false;
            DuringNextEvents([&] { eventsProcessed = true; });

            EXPECT_EQ((w.*wait.read)(), 0);

            EXPECT_TRUE(eventsProcessed);
            EXPECT_EQ(Aborted, 1);
            EXPECT_EQ(w.ComPort.PendingCount(), 0);
            EXPECT_TRUE(clock.waits.empty());
            EXPECT_LE(clock.readings.size(), 2u); // RdCom: entry and one pass
        }
    }
}

TEST_F(SerialLinkTest, TheReadAwayLoopEndsAfterAsManyCallsAsBytesWaited)
{
    for (const std::uint8_t aborted : {0, 1}) {
        SCOPED_TRACE(aborted);
        Aborted = aborted;
        peer.Write({0x0A, 0x00, 0xCC});
        int calls = 0;
        while (w.ComPort.PendingCount() > 0 && calls < 10) {
            w.RdCom();
            ++calls;
        }
        EXPECT_EQ(calls, 3);
        EXPECT_EQ(Aborted, aborted);
    }
}

TEST_F(SerialLinkTest, RdComNoTimeOutWaitsAsLongAsItTakes)
{
    const std::int64_t arrival = kStart + 60'000;
    clock.At(arrival, [this] { peer.Write({0x7E}); });
    EXPECT_EQ(w.RdComNoTimeOut(), 0x7E);
    EXPECT_EQ(Aborted, 0);
    EXPECT_EQ(clock.now, arrival);
    // Never a busy pass: every idle step slept one event slice.
    EXPECT_EQ(clock.waits.size(), 6000u);
    EXPECT_TRUE(std::all_of(clock.waits.begin(), clock.waits.end(), [](std::int64_t ms) { return ms == 10; }));
}

TEST_F(SerialLinkTest, HaltDuringAWaitEndsItWithZero)
{
    for (const Wait& wait : kWaits) {
        for (const bool waiting : {true, false}) {
            SCOPED_TRACE(std::string(wait.name) + (waiting ? " with a byte waiting" : " on a silent line"));
            Aborted = 0;
            if (waiting) peer.Write({0x42});
            QTimer::singleShot(0, w.HaltBtn, &QPushButton::click);

            EXPECT_EQ((w.*wait.read)(), 0);

            EXPECT_EQ(Aborted, 1);
            EXPECT_FALSE(w.ProgramEnded());
            EXPECT_EQ(w.ComPort.PendingCount(), 0);
        }
    }
}

TEST_F(SerialLinkTest, AVanishingDeviceEndsAWaitWithAPortError)
{
    w.ComPort.ClosePort();
    for (const Wait& wait : kWaits) {
        SCOPED_TRACE(wait.name);
        PtyPeer board;
        w.ComPort.SetPort(board.DevicePath());
        w.ComPort.OpenPort();
        clock.At(clock.now + 50, [&board] { board.Hangup(); });
        try {
            (w.*wait.read)();
            ADD_FAILURE() << "no port error";
        } catch (const EComPort& error) {
            EXPECT_STREQ(error.what(), "ClearCommError function failed (win error code: 5)");
        }
        EXPECT_THROW(w.ComPort.ClosePort(), EComPort);
    }
}

TEST_F(SerialLinkTest, DelayReturnsAtTheFirstReadingPastItsLength)
{
    for (const std::uint8_t aborted : {0, 1}) {
        SCOPED_TRACE(aborted);
        Aborted = aborted;
        clock.now = kStart;
        clock.readings.clear();
        w.Delay(3, 0);
        EXPECT_EQ(clock.readings.front(), kStart);
        EXPECT_EQ(clock.readings.back(), kStart + 3001);
        EXPECT_LE(*std::max_element(clock.readings.begin(), clock.readings.end() - 1), kStart + 3000);
        EXPECT_EQ(Aborted, aborted);
    }
}

TEST_F(SerialLinkTest, DelayMakesAtLeastOnePass)
{
    bool eventsProcessed = false;
    DuringNextEvents([&] { eventsProcessed = true; });
    clock.script = {kStart, kStart + 1};
    w.Delay(0, 0);
    EXPECT_TRUE(eventsProcessed);
    EXPECT_EQ(clock.readings, (std::vector<std::int64_t>{kStart, kStart + 1}));
}

TEST_F(SerialLinkTest, DelayNeitherWakesForNorTakesInput)
{
    peer.Write({1, 2, 3});
    w.Delay(0, 500);
    EXPECT_EQ(clock.now, kStart + 501);
    EXPECT_EQ(w.ComPort.PendingCount(), 3);
}

TEST_F(SerialLinkTest, DelayRefusesAnIntervalOutOfRangeBeforeWaiting)
{
    const std::uint16_t cases[][2] = {{60, 0}, {0, 1000}, {65535, 0}, {0, 65535}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c[0] << " s, " << c[1] << " ms");
        try {
            w.Delay(c[0], c[1]);
            ADD_FAILURE() << "no error";
        } catch (const EConvertError& error) {
            EXPECT_STREQ(error.what(), "Invalid argument to time encode");
        }
        EXPECT_TRUE(clock.readings.empty());
    }
}

TEST_F(SerialLinkTest, TheLongestDelayIsAccepted)
{
    w.Delay(59, 999);
    EXPECT_EQ(clock.now, kStart + 59'999 + 1);
}

TEST_F(SerialLinkTest, EndingTheProgramUnwindsAWait)
{
    Aborted = 1; // so that Halt ends the program
    QTimer::singleShot(0, w.HaltBtn, &QPushButton::click);
    EXPECT_THROW(w.Delay(3, 0), TProgramEnding);
    EXPECT_TRUE(w.ProgramEnded());
}

} // namespace
