#include "FirmwareBytes.h"
#include "firmware/RecordFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out) << "cannot write " << path;
}

std::size_t Utf8Length(const std::string& text)
{
    std::size_t count = 0;
    for (unsigned char byte : text) count += (byte & 0xC0) != 0x80;
    return count;
}

std::string Repeat(const std::string& unit, std::size_t times)
{
    std::string text;
    for (std::size_t i = 0; i < times; ++i) text += unit;
    return text;
}

// A path of exactly `chars` characters inside `dir`, made of `unit` (one
// character, maybe several bytes); the folders on the way are created, the
// file is not. Folder names stay short enough for any file system.
std::string PathOfLength(const TempDir& dir, std::size_t chars, const std::string& unit)
{
    std::string path = dir.Path();
    std::size_t remaining = chars - Utf8Length(path) - 1;
    constexpr std::size_t kFolderChars = 100;
    while (remaining > kFolderChars + 1) {
        path += "/" + Repeat(unit, kFolderChars);
        fs::create_directory(path);
        remaining -= kFolderChars + 1;
    }
    return path + "/" + Repeat(unit, remaining);
}

struct PassOutcome {
    bool opened = false;
    long recordsRead = 0;
    std::optional<int> code;
    std::string message;
};

// One pass over the file the way every reader makes it.
PassOutcome ReadEveryRecord(const std::string& path)
{
    PassOutcome outcome;
    try {
        RecordFile file = OpenRecordFile(path);
        outcome.opened = true;
        do {
            ReadRecord(file);
            ++outcome.recordsRead;
        } while (!AtEnd(file));
        CloseRecordFile(file);
    } catch (const FileIoError& error) {
        outcome.code = error.Code();
        outcome.message = error.what();
    }
    return outcome;
}

std::size_t OpenDescriptorCount()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
    return count;
}

// ---- Messages ----

struct MessageCase {
    int code;
    const char* message;
};

void PrintTo(const MessageCase& c, std::ostream* out) { *out << c.code; }

class FileIoErrorMessage : public ::testing::TestWithParam<MessageCase> {};

TEST_P(FileIoErrorMessage, FollowsFromTheCode)
{
    const FileIoError error(GetParam().code);
    EXPECT_EQ(error.Code(), GetParam().code);
    EXPECT_STREQ(error.what(), GetParam().message);
    EXPECT_EQ(FileIoError::MessageFor(GetParam().code), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Codes, FileIoErrorMessage,
                         ::testing::Values(MessageCase{2, "File not found"}, MessageCase{3, "Invalid filename"},
                                           MessageCase{4, "Too many open files"},
                                           MessageCase{5, "File access denied"},
                                           MessageCase{100, "Read beyond end of file"},
                                           MessageCase{21, "I/O error 21"}, MessageCase{103, "I/O error 103"},
                                           MessageCase{1, "I/O error 1"}));

// ---- Files that load ----

struct LoadCase {
    const char* name;
    std::size_t records;
    std::size_t tail;
    std::string (*makePath)(const TempDir& dir);
};

std::string PlainName(const TempDir& dir) { return dir.Path() + "/image.FRM"; }
std::string LongestAsciiPath(const TempDir& dir) { return PathOfLength(dir, 259, "a"); }
// 259 characters of two bytes each: the limit counts characters, not bytes.
std::string LongestAccentedPath(const TempDir& dir) { return PathOfLength(dir, 259, "\xC3\xA9"); }

void PrintTo(const LoadCase& c, std::ostream* out) { *out << c.name; }

class RecordFileLoads : public ::testing::TestWithParam<LoadCase> {};

TEST_P(RecordFileLoads, ReadsEveryWholeRecordAsStoredAndNeverTheTail)
{
    const TempDir dir;
    const std::string path = GetParam().makePath(dir);
    const std::vector<std::uint8_t> bytes = FirmwareBytes(GetParam().records, GetParam().tail);
    WriteFile(path, bytes);

    RecordFile file = OpenRecordFile(path);
    ASSERT_EQ(RecordCount(file), static_cast<long>(GetParam().records));
    EXPECT_EQ(RecordIndex(file), 0);
    for (std::size_t r = 0; r < GetParam().records; ++r) {
        ASSERT_FALSE(AtEnd(file)) << "before record " << r;
        const FirmwareRecord record = ReadRecord(file);
        for (std::size_t i = 0; i < kRecordSize; ++i) {
            ASSERT_EQ(record.StoredByte(i), bytes[r * kRecordSize + i]) << "record " << r << " byte " << i;
        }
        EXPECT_EQ(RecordIndex(file), static_cast<long>(r + 1));
    }
    EXPECT_TRUE(AtEnd(file));
    CloseRecordFile(file);
    EXPECT_FALSE(file.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(Files, RecordFileLoads,
                         ::testing::Values(LoadCase{"OneRecord", 1, 0, PlainName},
                                           LoadCase{"ThreeRecords", 3, 0, PlainName},
                                           LoadCase{"ThreeRecordsAndOneByte", 3, 1, PlainName},
                                           LoadCase{"ThreeRecordsAnd130Bytes", 3, 130, PlainName},
                                           LoadCase{"PathOf259Characters", 2, 0, LongestAsciiPath},
                                           LoadCase{"PathOf259TwoByteCharacters", 2, 0, LongestAccentedPath}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Files that do not ----

struct FailCase {
    const char* name;
    std::string (*makePath)(const TempDir& dir); // creates what the case needs
    bool opens;
    int code;
    std::string message;
};

std::string MissingFile(const TempDir& dir) { return dir.Path() + "/missing.FRM"; }
std::string MissingFolder(const TempDir& dir) { return dir.Path() + "/no-such-folder/image.FRM"; }
std::string FileAsFolder(const TempDir& dir) { return dir.Write("plain.FRM", FirmwareBytes(1)) + "/image.FRM"; }
std::string Folder(const TempDir& dir) { return dir.Path(); }
std::string TooLongPath(const TempDir& dir)
{
    const std::string path = PathOfLength(dir, 260, "a");
    WriteFile(path, FirmwareBytes(1)); // it exists: the length alone refuses it
    return path;
}
// Short enough for the tool, too long for one name on the file system (relative to the working folder).
std::string ComponentTooLong(const TempDir&) { return std::string(256, 'b'); }
std::string NulInside(const TempDir& dir)
{
    return dir.Write("image.FRM", FirmwareBytes(1)) + std::string("\0.bak", 5);
}
template <std::size_t Size>
std::string ShortFile(const TempDir& dir)
{
    return dir.Write("short.FRM", FirmwareBytes(0, Size));
}

void PrintTo(const FailCase& c, std::ostream* out) { *out << c.name; }

class RecordFileFails : public ::testing::TestWithParam<FailCase> {};

TEST_P(RecordFileFails, WithTheCodeAndMessageOfTheCause)
{
    const TempDir dir;
    const PassOutcome outcome = ReadEveryRecord(GetParam().makePath(dir));
    EXPECT_EQ(outcome.opened, GetParam().opens);
    EXPECT_EQ(outcome.recordsRead, 0);
    EXPECT_EQ(outcome.code, GetParam().code);
    EXPECT_EQ(outcome.message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, RecordFileFails,
    ::testing::Values(FailCase{"MissingFile", MissingFile, false, 2, "File not found"},
                      FailCase{"MissingFolder", MissingFolder, false, 3, "Invalid filename"},
                      FailCase{"FileOnTheWayIsNoFolder", FileAsFolder, false, 3, "Invalid filename"},
                      FailCase{"PathOf260Characters", TooLongPath, false, 3, "Invalid filename"},
                      FailCase{"NulInsideThePath", NulInside, false, 3, "Invalid filename"},
                      FailCase{"NameLongerThanTheFileSystemHolds", ComponentTooLong, false, 3, "Invalid filename"},
                      FailCase{"FolderInsteadOfFile", Folder, false, EISDIR, "I/O error " + std::to_string(EISDIR)},
                      FailCase{"EmptyFile", ShortFile<0>, true, 100, "Read beyond end of file"},
                      FailCase{"OneByte", ShortFile<1>, true, 100, "Read beyond end of file"},
                      FailCase{"OneByteShortOfARecord", ShortFile<130>, true, 100, "Read beyond end of file"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Access ----

TEST(RecordFileAccess, NeverCreatesAFile)
{
    const TempDir dir;
    const std::string path = MissingFile(dir);
    EXPECT_THROW(OpenRecordFile(path), FileIoError);
    EXPECT_FALSE(fs::exists(path));
}

TEST(RecordFileAccess, TwoOpenFilesKeepTheirOwnPlace)
{
    const TempDir dir;
    const std::vector<std::uint8_t> bytes = FirmwareBytes(2);
    const std::string path = dir.Write("image.FRM", bytes);

    RecordFile first = OpenRecordFile(path);
    ReadRecord(first);
    RecordFile second = OpenRecordFile(path);
    EXPECT_EQ(ReadRecord(second).StoredByte(0), bytes[0]);
    EXPECT_EQ(ReadRecord(first).StoredByte(0), bytes[kRecordSize]);
    EXPECT_EQ(RecordIndex(first), 2);
    EXPECT_EQ(RecordIndex(second), 1);
}

TEST(RecordFileAccess, ReadingPastTheLastWholeRecordIsAShortRead)
{
    const TempDir dir;
    RecordFile file = OpenRecordFile(dir.Write("image.FRM", FirmwareBytes(1, 60)));
    ReadRecord(file);
    ASSERT_TRUE(AtEnd(file));
    try {
        ReadRecord(file);
        FAIL() << "a read of the 60-byte tail succeeded";
    } catch (const FileIoError& error) {
        EXPECT_EQ(error.Code(), kShortReadCode);
    }
}

TEST(RecordFileAccess, AFileAnErrorLeftOpenIsReleasedWithItsOwner)
{
    const TempDir dir;
    const std::string path = dir.Write("short.FRM", FirmwareBytes(0, 100));
    const std::size_t before = OpenDescriptorCount();
    {
        RecordFile file = OpenRecordFile(path);
        EXPECT_EQ(OpenDescriptorCount(), before + 1);
        EXPECT_THROW(ReadRecord(file), FileIoError);
        EXPECT_TRUE(file.IsOpen());
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST(RecordFileAccess, AMovedFileIsClosedOnceByItsNewOwner)
{
    const TempDir dir;
    const std::string path = dir.Write("image.FRM", FirmwareBytes(1));
    const std::size_t before = OpenDescriptorCount();
    RecordFile kept;
    {
        RecordFile opened = OpenRecordFile(path);
        kept = std::move(opened);
    }
    EXPECT_EQ(OpenDescriptorCount(), before + 1);
    EXPECT_EQ(RecordCount(kept), 1);
    CloseRecordFile(kept);
    EXPECT_EQ(OpenDescriptorCount(), before);
}

// Runs with another effective user for as long as it lives (root only).
class EffectiveUser {
public:
    explicit EffectiveUser(uid_t uid) : saved_(::geteuid())
    {
        if (::seteuid(uid) != 0) throw std::runtime_error("seteuid failed");
    }
    ~EffectiveUser() { (void)::seteuid(saved_); }
    EffectiveUser(const EffectiveUser&) = delete;
    EffectiveUser& operator=(const EffectiveUser&) = delete;

private:
    uid_t saved_;
};

std::optional<int> OpenErrorCode(const std::string& path)
{
    try {
        OpenRecordFile(path);
    } catch (const FileIoError& error) {
        return error.Code();
    }
    return std::nullopt;
}

TEST(RecordFileAccess, AReadOnlyFileIsRefusedAsAccessDenied)
{
    const TempDir dir;
    const std::string readOnly = dir.Write("read-only.FRM", FirmwareBytes(1));
    const std::string writable = dir.Write("writable.FRM", FirmwareBytes(1));
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    ASSERT_EQ(::chmod(writable.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0755), 0);

    // Root may write to any file; an unprivileged user shows what an operator meets.
    std::optional<EffectiveUser> nobody;
    if (::geteuid() == 0) nobody.emplace(65534);

    EXPECT_EQ(OpenErrorCode(writable), std::nullopt);
    EXPECT_EQ(OpenErrorCode(readOnly), 5);
}

// Lowers the limit of open files so that the next open finds no free slot.
class NoFreeDescriptor {
public:
    NoFreeDescriptor()
    {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::close(lowestFree);
        rlimit lowered = saved_;
        lowered.rlim_cur = static_cast<rlim_t>(lowestFree);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~NoFreeDescriptor() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
    NoFreeDescriptor(const NoFreeDescriptor&) = delete;
    NoFreeDescriptor& operator=(const NoFreeDescriptor&) = delete;

private:
    rlimit saved_{};
};

TEST(RecordFileAccess, NoFreeDescriptorIsTooManyOpenFiles)
{
#ifdef __SANITIZE_ADDRESS__
    // The sanitizers' runtime needs descriptors of its own to inspect memory,
    // and reports false type errors when none is left.
    GTEST_SKIP() << "not meaningful under the sanitizers";
#endif
    const TempDir dir;
    const std::string path = dir.Write("image.FRM", FirmwareBytes(1));
    std::optional<int> code;
    {
        const NoFreeDescriptor full;
        code = OpenErrorCode(path);
    }
    EXPECT_EQ(code, 4);
    EXPECT_EQ(OpenErrorCode(path), std::nullopt);
}

} // namespace
