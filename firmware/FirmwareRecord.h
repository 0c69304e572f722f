#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// One record of a firmware file, exactly as stored: every field but Key holds
// (plain + Key) mod 256.
struct FirmwareRecord {
    std::uint8_t AddrHi = 0;
    std::uint8_t AddrLo = 0;
    std::uint8_t Key = 0;
    std::array<std::uint8_t, 128> Data{};

    // Byte i (0..130) of the record as it lies in the file.
    std::uint8_t StoredByte(std::size_t i) const;
};

inline constexpr std::size_t kRecordSize = 131;
static_assert(sizeof(FirmwareRecord) == kRecordSize, "a record is 131 packed bytes");

// Decoding rule: plain = (stored - Key) mod 256.
inline std::uint8_t Plain(std::uint8_t stored, std::uint8_t key)
{
    return static_cast<std::uint8_t>(stored - key);
}

inline std::uint8_t FirmwareRecord::StoredByte(std::size_t i) const
{
    if (i == 0) return AddrHi;
    if (i == 1) return AddrLo;
    if (i == 2) return Key;
    return Data[i - 3];
}
