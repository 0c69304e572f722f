#include "serial/Clock.h"
#include "support/PtyPeer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// A device the steady clock can watch: the tool's end of a pseudo-terminal.
class SteadyClockTest : public ::testing::Test {
protected:
    PtyPeer peer;
    int tool = ::open(peer.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    void TearDown() override { ::close(tool); }
};

TEST_F(SteadyClockTest, NeverRunsBackwards)
{
    std::int64_t last = SteadyClock().NowMs();
    for (int i = 0; i < 1000; ++i) {
        const std::int64_t now = SteadyClock().NowMs();
        EXPECT_GE(now, last);
        last = now;
    }
}

// Each of these would sleep for ten minutes if the wait did not end on input.
TEST_F(SteadyClockTest, AWaitEndsWhenInputArrives)
{
    ASSERT_GE(tool, 0);
    peer.Write({0x01});
    SteadyClock().WaitReadable(tool, 600'000);
    char byte = 0;
    EXPECT_EQ(::read(tool, &byte, 1), 1); // and the byte is still there for the reader
}

TEST_F(SteadyClockTest, AWaitEndsWhenTheDeviceHangsUp)
{
    ASSERT_GE(tool, 0);
    peer.Hangup();
    SteadyClock().WaitReadable(tool, 600'000);
    char byte = 0;
    EXPECT_EQ(::read(tool, &byte, 1), 0);
}

TEST(SteadyClockSleepTest, AWaitWithoutADeviceSleepsItsLength)
{
    const std::int64_t before = SteadyClock().NowMs();
    SteadyClock().WaitReadable(-1, 20);
    EXPECT_GE(SteadyClock().NowMs() - before, 20);
}

} // namespace
