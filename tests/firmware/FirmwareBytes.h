#pragma once

#include "firmware/FirmwareRecord.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The bytes of a firmware file of `records` whole records followed by `tail`
// stray bytes. Every byte differs from its neighbours, so that a record read
// from the wrong offset shows.
inline std::vector<std::uint8_t> FirmwareBytes(std::size_t records, std::size_t tail = 0)
{
    std::vector<std::uint8_t> bytes(records * kRecordSize + tail);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256 + 3);
    return bytes;
}
