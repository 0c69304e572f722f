#include "app/UpdaterUnit.h"

namespace {

// "AAAA|KK|" followed by 128 data bytes of two digits each.
constexpr std::size_t kRenderedLength = 4 + 1 + 2 + 1 + 2 * 128;

} // namespace

char TMainUpdater::TranxHex(std::uint8_t value) const
{
    if (value < 10) return static_cast<char>('0' + value);
    if (value < 16) return static_cast<char>('A' + (value - 10));
    return 'X';
}

std::string TMainUpdater::ToHex(std::uint8_t value) const
{
    return {TranxHex(value / 16), TranxHex(value % 16)};
}

// `record` is the caller's copy: decoding it in place leaves the original as stored.
std::string TMainUpdater::HeavyDecoded(FirmwareRecord record) const
{
    record.AddrHi = Plain(record.AddrHi, record.Key);
    record.AddrLo = Plain(record.AddrLo, record.Key);
    for (std::uint8_t& byte : record.Data) byte = Plain(byte, record.Key);

    std::string text;
    text.reserve(kRenderedLength);
    text += ToHex(record.AddrHi);
    text += ToHex(record.AddrLo);
    text += '|';
    text += ToHex(record.Key);
    text += '|';
    for (std::uint8_t byte : record.Data) text += ToHex(byte);
    return text;
}
