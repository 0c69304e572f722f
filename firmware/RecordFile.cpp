#include "firmware/RecordFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int kFileNotFound = 2;
constexpr int kInvalidFilename = 3;
constexpr int kTooManyOpenFiles = 4;
constexpr int kAccessDenied = 5;

// The path field holds 259 characters and its terminating NUL.
constexpr std::size_t kMaxPathChars = 259;

// Characters, not bytes: a UTF-8 continuation byte belongs to the character before it.
std::size_t CharacterCount(const std::string& text)
{
    std::size_t count = 0;
    for (unsigned char byte : text) {
        if ((byte & 0xC0) != 0x80) ++count;
    }
    return count;
}

bool FolderExists(const std::string& folder)
{
    struct stat info {};
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string ParentFolder(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The operating system's failure as the record file's error code.
int CodeForErrno(int error)
{
    switch (error) {
    case ENOENT: return kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG: return kInvalidFilename; // a name the file system cannot hold
    case EMFILE:
    case ENFILE: return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS: return kAccessDenied;
    // Any other number passes through as "I/O error n". EIO is 5 as well and so
    // reads "File access denied": the file cannot be used either way.
    default: return error;
    }
}

// ENOENT names either the file or a folder on its way; the two causes have their own codes.
int CodeForOpenErrno(int error, const std::string& path)
{
    if (error == ENOENT && !FolderExists(ParentFolder(path))) return kInvalidFilename;
    return CodeForErrno(error);
}

[[noreturn]] void ThrowErrno(int error)
{
    throw FileIoError(CodeForErrno(error));
}

} // namespace

FileIoError::FileIoError(int code) : std::runtime_error(MessageFor(code)), code_(code) {}

std::string FileIoError::MessageFor(int code)
{
    switch (code) {
    case kFileNotFound: return "File not found";
    case kInvalidFilename: return "Invalid filename";
    case kTooManyOpenFiles: return "Too many open files";
    case kAccessDenied: return "File access denied";
    case kShortReadCode: return "Read beyond end of file";
    default: return "I/O error " + std::to_string(code);
    }
}

RecordFile::~RecordFile()
{
    if (IsOpen()) ::close(fd_);
}

RecordFile::RecordFile(RecordFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), offset_(std::exchange(other.offset_, 0))
{
}

RecordFile& RecordFile::operator=(RecordFile&& other) noexcept
{
    if (this != &other) {
        if (IsOpen()) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        offset_ = std::exchange(other.offset_, 0);
    }
    return *this;
}

RecordFile OpenRecordFile(const std::string& path)
{
    // A longer path cannot be held at all, and an embedded NUL would silently cut
    // it short: both are names the tool cannot use, refused before the system sees them.
    if (CharacterCount(path) > kMaxPathChars || path.find('\0') != std::string::npos) {
        throw FileIoError(kInvalidFilename);
    }
    // Write access is asked for although nothing is written: a read-only file is refused.
    // No lock is taken, so other programs keep reading and writing it.
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) throw FileIoError(CodeForOpenErrno(errno, path));
    RecordFile file;
    file.fd_ = fd;
    return file;
}

long RecordCount(const RecordFile& file)
{
    struct stat info {};
    if (::fstat(file.fd_, &info) != 0) ThrowErrno(errno);
    return static_cast<long>(info.st_size / static_cast<off_t>(kRecordSize));
}

long RecordIndex(const RecordFile& file)
{
    return static_cast<long>(file.offset_ / static_cast<long long>(kRecordSize));
}

bool AtEnd(const RecordFile& file)
{
    return RecordIndex(file) >= RecordCount(file);
}

FirmwareRecord ReadRecord(RecordFile& file)
{
    std::uint8_t bytes[kRecordSize];
    std::size_t got = 0;
    while (got < kRecordSize) {
        const ssize_t n = ::pread(file.fd_, bytes + got, kRecordSize - got,
                                  static_cast<off_t>(file.offset_));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ThrowErrno(errno);
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
        file.offset_ += n;
    }
    if (got < kRecordSize) throw FileIoError(kShortReadCode);

    FirmwareRecord record;
    record.AddrHi = bytes[0];
    record.AddrLo = bytes[1];
    record.Key = bytes[2];
    std::memcpy(record.Data.data(), bytes + 3, record.Data.size());
    return record;
}

void CloseRecordFile(RecordFile& file)
{
    const int fd = std::exchange(file.fd_, -1);
    // On Linux the descriptor is released even when close reports EINTR.
    if (::close(fd) != 0 && errno != EINTR) ThrowErrno(errno);
}
