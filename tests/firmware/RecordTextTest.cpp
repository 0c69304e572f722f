#include "app/UpdaterUnit.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// Two upper-case digits per byte, written independently of the code under test.
std::string Hex(std::uint8_t value)
{
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", value);
    return digits;
}

FirmwareRecord StoredRecord(std::uint8_t key, std::uint8_t plainHi, std::uint8_t plainLo,
                            std::uint8_t (*plainData)(std::size_t k))
{
    FirmwareRecord record;
    record.Key = key;
    record.AddrHi = static_cast<std::uint8_t>(plainHi + key);
    record.AddrLo = static_cast<std::uint8_t>(plainLo + key);
    for (std::size_t k = 0; k < record.Data.size(); ++k) record.Data[k] = static_cast<std::uint8_t>(plainData(k) + key);
    return record;
}

std::uint8_t Rising(std::size_t k) { return static_cast<std::uint8_t>(k * 2 + 1); }
std::uint8_t LowHalf(std::size_t k) { return static_cast<std::uint8_t>(k); }
std::uint8_t HighHalf(std::size_t k) { return static_cast<std::uint8_t>(128 + k); }

class RecordText : public ::testing::Test {
protected:
    TMainUpdater w;
};

TEST_F(RecordText, TranxHexGivesOneDigitForFourBitsAndXBeyond)
{
    const std::string digits = "0123456789ABCDEF";
    for (std::uint8_t v = 0; v < 16; ++v) EXPECT_EQ(w.TranxHex(v), digits[v]) << int(v);
    for (std::uint8_t v : {16, 17, 200, 255}) EXPECT_EQ(w.TranxHex(v), 'X') << int(v);
}

TEST_F(RecordText, ToHexGivesTwoDigitsHighHalfFirst)
{
    const struct {
        std::uint8_t value;
        const char* text;
    } cases[] = {{0, "00"}, {9, "09"}, {10, "0A"}, {16, "10"}, {171, "AB"}, {255, "FF"}};
    for (const auto& c : cases) EXPECT_EQ(w.ToHex(c.value), c.text) << int(c.value);
}

TEST_F(RecordText, StartAddressIsShownPlainWhateverTheKey)
{
    for (std::uint8_t key : {0x00, 0x5A, 0x80, 0xFF}) {
        const std::string text = w.HeavyDecoded(StoredRecord(key, 0x12, 0x80, Rising));
        EXPECT_EQ(text.substr(0, 8), "1280|" + Hex(key) + "|") << "key " << int(key);
    }
}

TEST_F(RecordText, RecordOfNothingButItsKeyIsAllZeros)
{
    FirmwareRecord record;
    record.AddrHi = record.AddrLo = record.Key = 0xC3;
    record.Data.fill(0xC3);
    EXPECT_EQ(w.HeavyDecoded(record), "0000|C3|" + std::string(256, '0'));
}

TEST_F(RecordText, KeyZeroShowsTheStoredBytes)
{
    const FirmwareRecord record = StoredRecord(0, 0xAB, 0xCD, Rising);
    std::string expected = Hex(record.StoredByte(0)) + Hex(record.StoredByte(1)) + "|00|";
    for (std::size_t i = 3; i < kRecordSize; ++i) expected += Hex(record.StoredByte(i));
    EXPECT_EQ(w.HeavyDecoded(record), expected);
}

// Key 0xF1 makes most stored bytes wrap past 255, so decoding must wrap back.
TEST_F(RecordText, DataIsDecodedModulo256AndLeavesTheCallersRecordAlone)
{
    const FirmwareRecord record = StoredRecord(0xF1, 0x00, 0x90, Rising);
    const FirmwareRecord before = record;

    std::string expected = "0090|F1|";
    for (std::size_t k = 0; k < 128; ++k) expected += Hex(Rising(k));
    const std::string text = w.HeavyDecoded(record);

    EXPECT_EQ(text, expected);
    EXPECT_EQ(text.size(), 264u);
    for (std::size_t i = 0; i < kRecordSize; ++i) ASSERT_EQ(record.StoredByte(i), before.StoredByte(i)) << i;
}

TEST_F(RecordText, EveryByteValueRendersAsTwoDigits)
{
    for (std::uint8_t (*plain)(std::size_t) : {LowHalf, HighHalf}) {
        const std::string text = w.HeavyDecoded(StoredRecord(0x37, 0xFF, 0x00, plain));
        std::string expected = "FF00|37|";
        for (std::size_t k = 0; k < 128; ++k) expected += Hex(plain(k));
        EXPECT_EQ(text, expected);
        EXPECT_EQ(text.find('X'), std::string::npos);
    }
}

} // namespace
