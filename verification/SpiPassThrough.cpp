// Pass-through of bytes to the board's two SPI buses: each byte goes behind
// the bus's prefix byte, and a command is a six-byte frame of such exchanges.

#include "app/UpdaterUnit.h"

namespace {

constexpr std::uint8_t kInternalBus = 0x08;
constexpr std::uint8_t kExternalBus = 0x09;
constexpr std::uint8_t kFrameOpen = 0x3A; // ":"
constexpr std::uint8_t kFrameClose = 0xC5;

} // namespace

void TMainUpdater::SpiLowLevel(std::uint8_t prefix, std::uint8_t Operand, std::uint8_t& Reply)
{
    std::uint8_t result = 0;
    if (RunExchange({{prefix, 1}, {Operand, 2}}, result)) Reply = result;
}

// Each of the six exchanges has its own deadline and guard; once one fails the
// rest send nothing. The working byte starts as Value, so a frame in which no
// exchange succeeds leaves Value as it was, like a failed ReadData.
void TMainUpdater::SpiFrame(std::uint8_t prefix, std::uint8_t Command, std::uint8_t AddressHigh,
                            std::uint8_t AddressLow, std::uint8_t& Value)
{
    std::uint8_t working = Value;
    for (const std::uint8_t b : {kFrameOpen, Command, AddressHigh, AddressLow, Value, kFrameClose})
        SpiLowLevel(prefix, b, working);
    Value = working;
}

void TMainUpdater::ReadSPInLL(std::uint8_t Operand, std::uint8_t& Reply)
{
    SpiLowLevel(kInternalBus, Operand, Reply);
}

void TMainUpdater::ReadSPExLL(std::uint8_t Operand, std::uint8_t& Reply)
{
    SpiLowLevel(kExternalBus, Operand, Reply);
}

void TMainUpdater::SPIIntCMD(std::uint8_t Command, std::uint8_t AddressHigh, std::uint8_t AddressLow,
                             std::uint8_t& Value)
{
    SpiFrame(kInternalBus, Command, AddressHigh, AddressLow, Value);
}

void TMainUpdater::SPIExtCMD(std::uint8_t Command, std::uint8_t AddressHigh, std::uint8_t AddressLow,
                             std::uint8_t& Value)
{
    SpiFrame(kExternalBus, Command, AddressHigh, AddressLow, Value);
}
