#include "serial/ComPort.h"
#include "support/ManualClock.h"
#include "support/PtyPeer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

std::string Text(const std::vector<std::uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> Bytes(const std::string& text)
{
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

std::vector<std::uint8_t> EveryByteValue()
{
    std::vector<std::uint8_t> all;
    for (int value = 0; value < 256; ++value) all.push_back(static_cast<std::uint8_t>(value));
    return all;
}

// The message of the EComPort that `operation` raises; empty if none.
template <class Operation>
std::string PortError(Operation&& operation)
{
    try {
        operation();
    } catch (const EComPort& error) {
        return error.what();
    }
    return {};
}

class ComPortTest : public ::testing::Test {
protected:
    PtyPeer peer;
    ManualClock clock;
    TComPort port{clock, TPortMap{peer.DevicePath(), "/nonexistent/com2"}};

    void Open()
    {
        port.SetPort("COM1");
        port.SetBaudRate(br38400);
        port.OpenPort();
    }

    // The next `count` bytes from the peer; a long burst comes over in pieces.
    std::string TakeAll(std::size_t count)
    {
        std::string all;
        for (int looks = 0; all.size() < count && looks < 1000; ++looks) {
            std::string part;
            port.TakeBytes(part, static_cast<int>(count - all.size()));
            all += part;
            pollfd watch{port.Handle(), POLLIN, 0};
            if (all.size() < count && part.empty()) ::poll(&watch, 1, 100);
        }
        return all;
    }
};

TEST(PortMapTest, NamesMapToDevices)
{
    const TPortMap map{"/dev/ttyUSB0", "/tmp/board"};
    const struct {
        const char* name;
        const char* device;
    } cases[] = {
        {"COM1", "/dev/ttyUSB0"},
        {"COM2", "/tmp/board"},
        {"/dev/pts/7", "/dev/pts/7"},
        {"COM3", "COM3"},
    };
    for (const auto& c : cases) EXPECT_EQ(map.DeviceFor(c.name), c.device) << c.name;
}

TEST(PortMapTest, DefaultsAreTheFirstTwoSerialPorts)
{
    EXPECT_EQ(TPortMap{}.DeviceFor("COM1"), "/dev/ttyS0");
    EXPECT_EQ(TPortMap{}.DeviceFor("COM2"), "/dev/ttyS1");
}

TEST_F(ComPortTest, OpenAppliesRaw8N1At38400WithoutFlowControl)
{
    // A second descriptor on the device, left in cooked 7E2 with every kind of flow control.
    const int observer = ::open(peer.DevicePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(observer, 0);
    termios cooked{};
    ASSERT_EQ(::tcgetattr(observer, &cooked), 0);
    cooked.c_iflag |= IXON | IXOFF | IXANY | ICRNL | INPCK | ISTRIP;
    cooked.c_oflag |= OPOST | ONLCR;
    cooked.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    cooked.c_cflag = (cooked.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;
    ::cfsetspeed(&cooked, B9600);
    ASSERT_EQ(::tcsetattr(observer, TCSANOW, &cooked), 0);

    Open();

    termios t{};
    ASSERT_EQ(::tcgetattr(observer, &t), 0);
    ::close(observer);
    EXPECT_EQ(::cfgetispeed(&t), B38400);
    EXPECT_EQ(::cfgetospeed(&t), B38400);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INPCK | ISTRIP | PARMRK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST_F(ComPortTest, EveryByteValuePassesUnchangedBothWays)
{
    Open();
    const std::vector<std::uint8_t> all = EveryByteValue();

    EXPECT_EQ(port.SendBytes(Text(all)), 256);
    EXPECT_EQ(peer.Read(256), all);

    peer.Write(all);
    EXPECT_EQ(Bytes(TakeAll(256)), all);
}

TEST_F(ComPortTest, TakeBytesTakesAtMostNInArrivalOrder)
{
    Open();
    peer.Write({0x10, 0x00, 0x13, 0x11});

    std::string taken = "left over";
    ASSERT_EQ(port.PendingCount(), 4);
    EXPECT_EQ(port.TakeBytes(taken, 3), 3);
    EXPECT_EQ(taken, std::string("\x10\x00\x13", 3));
    EXPECT_EQ(port.PendingCount(), 1);
    EXPECT_EQ(port.TakeBytes(taken, 3), 1);
    EXPECT_EQ(taken, "\x11");
}

TEST_F(ComPortTest, TakeBytesOnAnEmptyQueueGivesNothingAtOnce)
{
    Open();
    std::string taken = "stale";
    EXPECT_EQ(port.TakeBytes(taken, 1), 0);
    EXPECT_EQ(taken, "");
    EXPECT_TRUE(clock.waits.empty());
}

TEST_F(ComPortTest, PendingCountCountsWithoutTaking)
{
    Open();
    EXPECT_EQ(port.PendingCount(), 0);
    peer.Write({1, 2, 3});
    EXPECT_EQ(port.PendingCount(), 3);
    EXPECT_EQ(port.PendingCount(), 3);
    EXPECT_EQ(TakeAll(3), "\x01\x02\x03");
    EXPECT_EQ(port.PendingCount(), 0);
}

TEST_F(ComPortTest, ALongBurstArrivesWhole)
{
    Open();
    std::vector<std::uint8_t> burst;
    for (int i = 0; i < 5000; ++i) burst.push_back(static_cast<std::uint8_t>(i * 7 + i / 256));
    peer.Write(burst);
    EXPECT_EQ(Bytes(TakeAll(burst.size())), burst);
}

TEST_F(ComPortTest, ALongWriteArrivesWhole)
{
    Open();
    std::string block;
    for (int i = 0; i < 3000; ++i) block.push_back(static_cast<char>(i % 251));
    EXPECT_EQ(port.SendBytes(block), 3000);
    EXPECT_EQ(Text(peer.Read(3000)), block);
}

TEST_F(ComPortTest, OpenOnAnOpenPortDoesNothing)
{
    Open();
    const int handle = port.Handle();
    peer.Write({0x5A});
    ASSERT_EQ(port.PendingCount(), 1);

    port.OpenPort();

    EXPECT_EQ(port.Handle(), handle);
    EXPECT_EQ(port.PendingCount(), 1);
}

TEST_F(ComPortTest, ASecondOpenOfAHeldDeviceFails)
{
    Open();
    TComPort second{clock, TPortMap{peer.DevicePath(), ""}};
    second.SetPort("COM1");

    EXPECT_EQ(PortError([&] { second.OpenPort(); }),
              "Unable to open com port (win error code: " + std::to_string(EWOULDBLOCK) + ")");
    EXPECT_FALSE(second.Connected());

    // The holder goes on undisturbed, and the device is free again once it lets go.
    peer.Write({0x33});
    EXPECT_EQ(TakeAll(1), "\x33");
    port.ClosePort();
    second.OpenPort();
    EXPECT_TRUE(second.Connected());
}

TEST_F(ComPortTest, OpenOfAMissingDeviceFails)
{
    port.SetPort("COM2");
    EXPECT_EQ(PortError([&] { port.OpenPort(); }), "Unable to open com port (win error code: 2)");
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Handle(), -1);
}

TEST_F(ComPortTest, ClosePortDiscardsWhatWasReceived)
{
    for (const bool counted : {true, false}) {
        SCOPED_TRACE(counted ? "already in our queue" : "still in the device");
        Open();
        peer.Write({7, 8, 9});
        if (counted) {
            ASSERT_EQ(port.PendingCount(), 3);
        }

        port.ClosePort();
        EXPECT_FALSE(port.Connected());
        Open();
        EXPECT_EQ(port.PendingCount(), 0);
        port.ClosePort();
    }
}

// Bytes sent just before a close still reach the other side, even where the
// driver cannot tell when they have left (a pseudo-terminal).
TEST_F(ComPortTest, ClosePortKeepsWhatWasSent)
{
    Open();
    port.SendBytes(std::string("\x01\x00\xBE", 3));
    port.ClosePort();
    EXPECT_EQ(peer.Read(3), (std::vector<std::uint8_t>{0x01, 0x00, 0xBE}));
}

TEST_F(ComPortTest, ClosePortOnAClosedPortDoesNothing)
{
    EXPECT_NO_THROW(port.ClosePort());
    Open();
    port.ClosePort();
    EXPECT_NO_THROW(port.ClosePort());
}

// Each operation with the text it raises, for the tables below.
struct Operation {
    const char* name;
    void (*run)(TComPort&);
    const char* text;
};

const Operation kTransfers[] = {
    {"PendingCount", [](TComPort& p) { p.PendingCount(); }, "ClearCommError function failed"},
    {"TakeBytes", [](TComPort& p) { std::string s; p.TakeBytes(s, 1); }, "ReadFile function failed"},
    {"SendBytes", [](TComPort& p) { p.SendBytes(std::string(1, '\0')); }, "WriteFile function failed"},
};

TEST_F(ComPortTest, TransfersOnAClosedPortFail)
{
    for (const Operation& op : kTransfers) {
        EXPECT_EQ(PortError([&] { op.run(port); }),
                  std::string(op.text) + " (win error code: " + std::to_string(EBADF) + ")")
            << op.name;
    }
}

TEST_F(ComPortTest, TransfersOnAVanishedDeviceFail)
{
    for (const Operation& op : kTransfers) {
        PtyPeer board;
        TComPort tool{clock, TPortMap{board.DevicePath(), ""}};
        tool.OpenPort();
        board.Hangup();
        EXPECT_EQ(PortError([&] { op.run(tool); }), std::string(op.text) + " (win error code: 5)") << op.name;
    }
}

TEST_F(ComPortTest, ClosePortReleasesAVanishedDeviceAndReports)
{
    Open();
    peer.Hangup();
    EXPECT_EQ(PortError([&] { port.ClosePort(); }), "PurgeComm function failed (win error code: 5)");
    EXPECT_FALSE(port.Connected());
}

TEST_F(ComPortTest, AWriteGivesUpWhenItsTimeLimitHasRunOut)
{
    Open();
    // The peer never reads, so the queue fills; every reading of the clock
    // moves it half the write's time limit on.
    const std::string block(1 << 20, '\x55');
    const std::int64_t limit = 100 * static_cast<std::int64_t>(block.size()) + 1000;
    clock.step = limit / 2;

    const int written = port.SendBytes(block);

    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<int>(block.size()));
    // Still waiting at a reading equal to the limit; given up at the first one past it.
    EXPECT_EQ(clock.readings, (std::vector<std::int64_t>{0, limit / 2, limit, limit / 2 * 3}));
}

TEST_F(ComPortTest, WaitForInputSleepsUntilANewByteComes)
{
    Open();
    peer.Write({0x01});
    ASSERT_EQ(port.PendingCount(), 1);

    // The byte already counted does not wake the wait...
    port.WaitForInput(10);
    EXPECT_EQ(clock.now, 10);
    // ...a new one does, and is not taken by it.
    peer.Write({0x02});
    port.WaitForInput(10);
    EXPECT_EQ(clock.now, 10);
    EXPECT_EQ(port.PendingCount(), 2);
}

TEST_F(ComPortTest, WaitForInputWakesWhenTheDeviceVanishes)
{
    Open();
    peer.Hangup();
    port.WaitForInput(10);
    EXPECT_EQ(clock.now, 0);
}

TEST(PortErrorTest, TextCarriesTheErrorNumber)
{
    const EComPort error("WriteFile function failed", 121);
    EXPECT_STREQ(error.what(), "WriteFile function failed (win error code: 121)");
    EXPECT_EQ(error.Code(), 121);
}

} // namespace
