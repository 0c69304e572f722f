#pragma once

#include "firmware/FirmwareRecord.h"

#include <stdexcept>
#include <string>

// A failure of the record file access. Codes 2..5 and any other are the
// operating system's error numbers; 100 is a short read.
class FileIoError : public std::runtime_error {
public:
    explicit FileIoError(int code);
    int Code() const { return code_; }

    static std::string MessageFor(int code);

private:
    int code_;
};

inline constexpr int kShortReadCode = 100;

// An open firmware file, counted in whole records. Owned by the operation that
// opened it; the destructor releases a file that an error left open.
class RecordFile {
public:
    RecordFile() = default;
    ~RecordFile();
    RecordFile(RecordFile&& other) noexcept;
    RecordFile& operator=(RecordFile&& other) noexcept;
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }

private:
    friend RecordFile OpenRecordFile(const std::string& path);
    friend long RecordCount(const RecordFile& file);
    friend long RecordIndex(const RecordFile& file);
    friend FirmwareRecord ReadRecord(RecordFile& file);
    friend void CloseRecordFile(RecordFile& file);

    int fd_ = -1;
    long long offset_ = 0;
};

// Opens an existing file for reading and writing, shared, never creating it.
RecordFile OpenRecordFile(const std::string& path);
// File size / 131, rounded down.
long RecordCount(const RecordFile& file);
// Byte offset / 131, rounded down: n after n reads.
long RecordIndex(const RecordFile& file);
// True once the last whole record has been read.
bool AtEnd(const RecordFile& file);
// The next 131 bytes as stored; code 100 when fewer remain.
FirmwareRecord ReadRecord(RecordFile& file);
void CloseRecordFile(RecordFile& file);
