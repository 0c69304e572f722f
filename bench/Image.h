#pragma once

// The benchmark's firmware images: record r covers the 128 bytes at
// (r mod 512) * 128, so 512 records fill the 64 KiB address space and larger
// images go round it again. A byte's value depends only on its address, so
// every round agrees with the last and a correct board verifies clean. Keys
// differ from record to record.

#include <string>

namespace boardsim {
class BoardSim;
}

namespace bench {

// Records that fill the address space once.
inline constexpr int kFullImageRecords = 512;

// Writes an image of `records` records to `path`, a slice at a time, so even
// a large image never sits in memory whole.
void WriteImage(const std::string& path, int records);

// Stores the image in the simulated board's memory, as a board programmed
// with it holds it; read a slice at a time.
void PreloadBoard(boardsim::BoardSim& board, const std::string& path);

} // namespace bench
