#include "tools/boardsim/BoardSim.h"

namespace boardsim {
namespace {

// The demo image starts at this page and takes one page per record.
constexpr std::uint8_t kFirstPage = 0x10;
// Keys cycle through these: a plain record first, then mixed keys, one that
// wraps most bytes past 255.
constexpr std::array<std::uint8_t, 5> kKeys{0x00, 0x5A, 0x13, 0xF1, 0x00};

std::uint8_t Stored(std::uint8_t plain, std::uint8_t key)
{
    return static_cast<std::uint8_t>(plain + key);
}

} // namespace

std::vector<std::uint8_t> EncodeFirmware(const std::vector<PlainRecord>& records)
{
    std::vector<std::uint8_t> file;
    file.reserve(records.size() * 131);
    for (const PlainRecord& record : records) {
        file.push_back(Stored(static_cast<std::uint8_t>(record.address >> 8), record.key));
        file.push_back(Stored(static_cast<std::uint8_t>(record.address & 0xFF), record.key));
        file.push_back(record.key);
        for (const std::uint8_t byte : record.data) file.push_back(Stored(byte, record.key));
    }
    return file;
}

std::vector<PlainRecord> SampleImage(int count)
{
    std::vector<PlainRecord> records;
    for (int i = 0; i < count; ++i) {
        PlainRecord record{};
        record.address = static_cast<std::uint16_t>(static_cast<std::uint8_t>(kFirstPage + i) << 8);
        record.key = kKeys[static_cast<std::size_t>(i) % kKeys.size()];
        // Different in every record and every byte, so a byte in the wrong place shows.
        for (std::size_t k = 0; k < record.data.size(); ++k)
            record.data[k] = static_cast<std::uint8_t>(i * 29 + static_cast<int>(k) * 7 + 1);
        records.push_back(record);
    }
    return records;
}

} // namespace boardsim
