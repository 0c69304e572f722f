// Client side of the board's command channel: opening and closing it, and
// reading or writing one byte of board memory. These waits do not process
// window events: an exchange is short and must not be interleaved with others.

#include "app/UpdaterUnit.h"
#include "serial/Clock.h"

namespace {

constexpr std::int64_t kExchangeLimitMs = 1000;

constexpr std::uint8_t kChannelOpen = 0xCA;
constexpr std::uint8_t kChannelClose = 0x53; // "S"
constexpr std::uint8_t kAddressHigh = 0x00;
constexpr std::uint8_t kAddressLow = 0x01;
constexpr std::uint8_t kRead = 0x03;
constexpr std::uint8_t kWrite = 0x02;
constexpr std::uint8_t kWriteBusRange = 0x04; // write to addresses 0x08xx and 0x09xx
constexpr int kCommand = 1; // reply bytes after a command byte
constexpr int kOperand = 2; // reply bytes after an operand byte

// Waits until the pending count is `ready` or the deadline has passed, then
// reads the count once more: only that reading decides.
template <class Ready>
int PendingAfterWait(TComPort& port, TClock& clock, std::int64_t deadlineMs, Ready ready)
{
    for (;;) {
        if (ready(port.PendingCount())) break;
        const std::int64_t now = clock.NowMs();
        if (now > deadlineMs) break;
        port.WaitForInput(deadlineMs - now + 1);
    }
    return port.PendingCount();
}

} // namespace

bool TMainUpdater::RunExchange(std::initializer_list<TExchangeStep> steps, std::uint8_t& kept)
{
    if (!ChannelOk) return false;
    // One deadline for the whole exchange, fixed before the first byte goes out.
    const std::int64_t deadline = Clock().NowMs() + kExchangeLimitMs;
    std::uint8_t last = 0;
    for (const TExchangeStep& step : steps) {
        WrCom(step.send); // one byte, as every byte of an exchange
        // Exactly: a surplus byte is as much a failure as a missing one.
        const auto exactly = [&](int pending) { return pending == step.awaited; };
        if (PendingAfterWait(ComPort, Clock(), deadline, exactly) != step.awaited) {
            ChannelOk = 0;
            return false;
        }
        std::string taken;
        for (int i = 0; i < step.awaited; ++i) {
            ComPort.TakeBytes(taken, 1);
            if (!taken.empty()) last = static_cast<std::uint8_t>(taken[0]);
        }
    }
    kept = last;
    return true;
}

void TMainUpdater::OpenCOMChannel(std::uint8_t& Reply)
{
    Reply = 0;
    const std::int64_t deadline = Clock().NowMs() + kExchangeLimitMs;
    WrCom(kChannelOpen);
    const auto any = [](int pending) { return pending >= 1; };
    // Only the first byte is taken; any further ones stay queued.
    if (PendingAfterWait(ComPort, Clock(), deadline, any) >= 1) {
        std::string taken;
        ComPort.TakeBytes(taken, 1);
        if (!taken.empty()) Reply = static_cast<std::uint8_t>(taken[0]);
    }
}

void TMainUpdater::CloseCOMChannel()
{
    WrCom(kChannelClose);
}

void TMainUpdater::ReadData(std::uint8_t AddressHigh, std::uint8_t AddressLow, std::uint8_t& Value)
{
    std::uint8_t result = 0;
    if (RunExchange({{kAddressHigh, kCommand},
                     {AddressHigh, kOperand},
                     {kAddressLow, kCommand},
                     {AddressLow, kOperand},
                     {kRead, kCommand},
                     {0x00, kOperand}},
                    result))
        Value = result;
}

void TMainUpdater::WriteData(std::uint8_t AddressHigh, std::uint8_t AddressLow, std::uint8_t& Value)
{
    const std::uint8_t write = (AddressHigh == 0x08 || AddressHigh == 0x09) ? kWriteBusRange : kWrite;
    std::uint8_t result = 0;
    if (RunExchange({{kAddressHigh, kCommand},
                     {AddressHigh, kOperand},
                     {kAddressLow, kCommand},
                     {AddressLow, kOperand},
                     {write, kCommand},
                     {Value, kOperand}},
                    result))
        Value = result;
}
