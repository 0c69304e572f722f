#include "boardsim/ToolEnd.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>

using boardsim::BoardSim;
using boardsim::Mode;
using boardsim::TranscriptEntry;
using boardsim_test::Bytes;
using boardsim_test::ToolEnd;

namespace {

using Crossing = std::pair<bool, int>; // from the tool?, byte

std::vector<Crossing> Crossings(const std::vector<TranscriptEntry>& entries)
{
    std::vector<Crossing> out;
    for (const auto& e : entries) out.emplace_back(e.fromTool, e.byte);
    return out;
}

std::string Line(const TranscriptEntry& e)
{
    char text[64];
    std::snprintf(text, sizeof text, "%lld %s %02X", static_cast<long long>(e.timeUs), e.fromTool ? "tool" : "board",
                  e.byte);
    return text;
}

} // namespace

TEST(BoardSimThreaded, PlaysTheHandshakeOnRealTimeAndReportsEveryByteInOrder)
{
    TempDir dir;
    const std::string file = dir.Path() + "/transcript.txt";
    BoardSim sim({.mode = Mode::Handshake});
    std::vector<TranscriptEntry> reported;
    sim.OnByte([&reported](const TranscriptEntry& e) { reported.push_back(e); });
    sim.TranscriptToFile(file);
    sim.Start();

    ToolEnd tool(sim.DevicePath());
    tool.Open();
    const std::pair<std::uint8_t, Bytes> steps[] = {{0xCA, {0x35}}, {0x05, {0x05}}, {0xBE, {0xBE, 0xAA}}};
    for (const auto& [sent, expected] : steps) {
        tool.Send(sent);
        EXPECT_EQ(tool.Receive(expected.size()), expected);
    }
    tool.Close();
    sim.Stop(); // joins the board's thread: everything reported is in

    const auto transcript = sim.Transcript();
    EXPECT_EQ(Crossings(transcript), (std::vector<Crossing>{{true, 0xCA}, {false, 0x35}, {true, 0x05}, {false, 0x05},
                                                            {true, 0xBE}, {false, 0xBE}, {false, 0xAA}}));
    for (std::size_t i = 1; i < transcript.size(); ++i) EXPECT_LE(transcript[i - 1].timeUs, transcript[i].timeUs);
    EXPECT_EQ(Crossings(reported), Crossings(transcript));
    EXPECT_EQ(sim.PortOpenings(), 1);

    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::vector<std::string> expected;
    for (const auto& e : transcript) expected.push_back(Line(e));
    EXPECT_EQ(lines, expected);
}

TEST(BoardSimImage, SampleImageHasKeyedAndPlainRecordsThatProgramBackToTheirPlainBytes)
{
    const auto records = boardsim::SampleImage(6);
    ASSERT_EQ(records.size(), 6u);
    std::set<int> keys;
    for (std::size_t i = 0; i < records.size(); ++i) {
        keys.insert(records[i].key);
        if (i > 0) {
            EXPECT_EQ(records[i].address, records[i - 1].address + 0x100);
        }
    }
    EXPECT_TRUE(keys.count(0));
    EXPECT_GE(keys.size(), 3u);

    const Bytes file = boardsim::EncodeFirmware(records);
    ASSERT_EQ(file.size(), 6u * 131);
    const auto& third = records[2];
    EXPECT_EQ(file[2 * 131 + 0], static_cast<std::uint8_t>((third.address >> 8) + third.key));
    EXPECT_EQ(file[2 * 131 + 1], static_cast<std::uint8_t>((third.address & 0xFF) + third.key));
    EXPECT_EQ(file[2 * 131 + 2], third.key);
    EXPECT_EQ(file[2 * 131 + 3 + 9], static_cast<std::uint8_t>(third.data[9] + third.key));

    for (const bool mirror : {true, false}) {
        SCOPED_TRACE(mirror ? "mirrored" : "processor 1 only");
        BoardSim sim({.mirrorProcessor2 = mirror});
        sim.ProgramImage(file);
        for (const auto& record : records) {
            for (std::size_t k = 0; k < record.data.size(); ++k) {
                const auto address = static_cast<std::uint16_t>(record.address + k);
                EXPECT_EQ(sim.Memory(1, address), record.data[k]);
                EXPECT_EQ(sim.Memory(2, address), mirror ? record.data[k] : 0xFF);
            }
        }
    }
}
