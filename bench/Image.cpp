#include "bench/Image.h"

#include "tools/boardsim/BoardSim.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace bench {
namespace {

constexpr int kRecordBytes = 131;
constexpr int kDataBytes = 128;

std::uint8_t ByteAt(std::uint16_t address)
{
    return static_cast<std::uint8_t>(address * 7 + (address >> 8) * 13 + 1);
}

boardsim::PlainRecord RecordNumber(int r)
{
    boardsim::PlainRecord record{};
    record.address = static_cast<std::uint16_t>(r % kFullImageRecords * kDataBytes);
    record.key = static_cast<std::uint8_t>(r * 37 + 5);
    for (int j = 0; j < kDataBytes; ++j)
        record.data[static_cast<std::size_t>(j)] = ByteAt(static_cast<std::uint16_t>(record.address + j));
    return record;
}

} // namespace

void WriteImage(const std::string& path, int records)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int first = 0; first < records; first += kFullImageRecords) {
        std::vector<boardsim::PlainRecord> slice;
        for (int r = first; r < std::min(records, first + kFullImageRecords); ++r) slice.push_back(RecordNumber(r));
        const std::vector<std::uint8_t> bytes = boardsim::EncodeFirmware(slice);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    if (!out) throw std::runtime_error("cannot write the image " + path);
}

void PreloadBoard(boardsim::BoardSim& board, const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read the image " + path);
    std::vector<std::uint8_t> slice(static_cast<std::size_t>(kFullImageRecords) * kRecordBytes);
    while (in.read(reinterpret_cast<char*>(slice.data()), static_cast<std::streamsize>(slice.size())) ||
           in.gcount() > 0) {
        slice.resize(static_cast<std::size_t>(in.gcount()));
        board.ProgramImage(slice);
        slice.resize(static_cast<std::size_t>(kFullImageRecords) * kRecordBytes);
    }
}

} // namespace bench
