#pragma once

// A whole Download run through the real window against the simulated board,
// on the test's time line.

#include "app/ErrorReport.h"
#include "app/UpdaterUnit.h"
#include "support/SimClock.h"
#include "support/TempDir.h"
#include "tools/boardsim/BoardSim.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class RunFixture {
public:
    explicit RunFixture(boardsim::Options options = {});
    ~RunFixture();

    boardsim::BoardSim board;
    SimClock clock;
    TempDir dir;
    std::unique_ptr<TMainUpdater> w;
    std::vector<QString> errors; // texts that reached the error box

    // Writes the image as a file and puts its path into the file name box.
    std::string UseImage(const std::vector<boardsim::PlainRecord>& records, std::size_t extraBytes = 0);
    // Clicks Download with the given options and returns when the run is over.
    void Download();

    // What went on the line, one direction at a time.
    std::vector<std::uint8_t> ToolBytes() const;
    std::vector<std::uint8_t> BoardBytes() const;
    std::vector<QString> LogLines() const; // Memo1 without its initial empty line
    bool ControlsUnlocked() const;
};

// Bytes the tool sends for one record after the board's request: the start
// byte, the 131 stored bytes and the mismatch count.
std::vector<std::uint8_t> RecordBytes(const boardsim::PlainRecord& record, std::uint8_t mismatches = 0);
std::vector<boardsim::PlainRecord> Image(int records, std::uint16_t firstAddress = 0x1000);
std::vector<std::uint8_t> Concat(std::initializer_list<std::vector<std::uint8_t>> parts);
