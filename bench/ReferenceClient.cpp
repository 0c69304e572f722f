#include "bench/ReferenceClient.h"

#include "bench/Measure.h"

#include <array>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace bench {
namespace {

constexpr double kReplyLimitS = 0.750;
constexpr double kExchangeLimitS = 1.000;
constexpr int kRecordBytes = 131;
constexpr int kAttemptLimit = 20;

constexpr std::array<std::array<std::uint8_t, 2>, 3> kHandshake{{{0xCA, 0x35}, {0x05, 0x05}, {0xBE, 0xBE}}};
constexpr std::array<std::uint8_t, 8> kFastOffsets{15, 31, 47, 63, 79, 95, 111, 127};

bool Exempt(std::uint8_t high, std::uint8_t low)
{
    return high == 0xFF && low < 0xD0;
}

std::runtime_error Failure(const std::string& what)
{
    return std::runtime_error("reference client: " + what + " failed (errno " + std::to_string(errno) + ")");
}

// The image file, read a record at a time like the tool does.
class ImageFile {
public:
    explicit ImageFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        if (fd_ < 0) throw Failure("open " + path);
    }
    ~ImageFile() { ::close(fd_); }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;

    bool Next(std::uint8_t* record) { return ::read(fd_, record, kRecordBytes) == kRecordBytes; }

private:
    int fd_;
};

} // namespace

ReferenceClient::ReferenceClient(std::string device) : device_(std::move(device)) {}

ReferenceClient::~ReferenceClient()
{
    if (fd_ >= 0) ::close(fd_);
}

void ReferenceClient::Open()
{
    fd_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw Failure("open " + device_);
    termios line{};
    ::tcgetattr(fd_, &line);
    ::cfmakeraw(&line);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    ::cfsetispeed(&line, B38400);
    ::cfsetospeed(&line, B38400);
    if (::tcsetattr(fd_, TCSANOW, &line) != 0) throw Failure("tcsetattr");
    head_ = tail_ = 0;
}

void ReferenceClient::Close()
{
    ::tcflush(fd_, TCIFLUSH);
    ::close(fd_);
    fd_ = -1;
}

void ReferenceClient::Send(std::uint8_t byte)
{
    for (;;) {
        if (::write(fd_, &byte, 1) == 1) return;
        if (errno == EINTR) continue;
        if (errno != EAGAIN) throw Failure("write");
        pollfd room{fd_, POLLOUT, 0};
        ::poll(&room, 1, -1);
    }
}

void ReferenceClient::Fill()
{
    if (head_ == tail_) head_ = tail_ = 0;
    for (;;) {
        const ssize_t got = ::read(fd_, input_ + tail_, sizeof input_ - static_cast<std::size_t>(tail_));
        if (got > 0) {
            tail_ += static_cast<int>(got);
            return;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EAGAIN) return;
        throw Failure("read");
    }
}

bool ReferenceClient::SleepForInput(double deadlineS)
{
    const double leftS = deadlineS - WallSeconds();
    if (leftS < 0) return false;
    pollfd watch{fd_, POLLIN, 0};
    return ::poll(&watch, 1, static_cast<int>(std::ceil(leftS * 1000))) > 0;
}

bool ReferenceClient::ReadOne(double limitS, std::uint8_t& byte)
{
    const double deadline = WallSeconds() + limitS;
    while (head_ == tail_) {
        if (!SleepForInput(deadline)) return false;
        Fill();
    }
    byte = Take();
    return true;
}

// Exactly `count` bytes, as the tool awaits them: a surplus is a failure too,
// found when the deadline has passed.
bool ReferenceClient::AwaitExactly(int count, double deadlineS)
{
    while (tail_ - head_ != count) {
        if (!SleepForInput(deadlineS)) return false;
        Fill();
    }
    return true;
}

std::uint8_t ReferenceClient::Take()
{
    return input_[head_++];
}

void ReferenceClient::DrainInput()
{
    Fill();
    head_ = tail_ = 0;
}

// --- Programming -------------------------------------------------------------

bool ReferenceClient::Program(const std::string& imagePath)
{
    Open();
    ImageFile image(imagePath);
    bool failed = false;
    for (const auto& [send, reply] : kHandshake) {
        Send(send);
        std::uint8_t got = 0;
        failed = failed || !ReadOne(kReplyLimitS, got) || got != reply;
    }
    std::uint8_t record[kRecordBytes];
    int attempts = 0;
    bool more = !failed && image.Next(record);
    while (more) {
        std::uint8_t request = 0;
        if (!ReadOne(kReplyLimitS, request) || request != 0xAA) {
            failed = true;
            break;
        }
        if (SendRecord(record)) {
            more = image.Next(record);
        } else if (++attempts == kAttemptLimit) {
            failed = true;
            break;
        }
    }
    DrainInput();
    Close();
    return !failed;
}

// The start byte, the 131 bytes with their echoes, the count of wrong echoes
// and the two acknowledgement bytes. True when the board accepted the record.
bool ReferenceClient::SendRecord(const std::uint8_t* record)
{
    std::uint8_t echo = 0;
    Send(0x55);
    if (!ReadOne(kReplyLimitS, echo) || echo != 0x55) return false;
    std::uint8_t mismatches = 0;
    for (int i = 0; i < kRecordBytes; ++i) {
        Send(record[i]);
        if (!ReadOne(kReplyLimitS, echo) || echo != record[i]) ++mismatches;
    }
    Send(mismatches);
    std::uint8_t ack1 = 0;
    std::uint8_t ack2 = 0;
    const bool acked = ReadOne(kReplyLimitS, ack1) && ReadOne(kReplyLimitS, ack2);
    return acked && ack1 == 0xCC && ack2 == 0xCC && mismatches == 0;
}

// --- Verification ------------------------------------------------------------

bool ReferenceClient::Exchange(std::initializer_list<Step> steps, std::uint8_t& kept)
{
    if (!channelOk_) return false;
    const double deadline = WallSeconds() + kExchangeLimitS;
    for (const Step& step : steps) {
        Send(step.send);
        if (!AwaitExactly(step.awaited, deadline)) {
            channelOk_ = false;
            return false;
        }
        for (int i = 0; i < step.awaited; ++i) kept = Take();
    }
    return true;
}

void ReferenceClient::ReadData(std::uint8_t high, std::uint8_t low, std::uint8_t& value)
{
    std::uint8_t kept = 0;
    if (Exchange({{0x00, 1}, {high, 2}, {0x01, 1}, {low, 2}, {0x03, 1}, {0x00, 2}}, kept)) value = kept;
}

void ReferenceClient::SpiFrame(std::uint8_t high, std::uint8_t low, std::uint8_t& value)
{
    std::uint8_t working = value;
    for (const std::uint8_t b : {std::uint8_t{0x3A}, std::uint8_t{3}, high, low, value, std::uint8_t{0xC5}}) {
        std::uint8_t kept = 0;
        if (Exchange({{0x08, 1}, {b, 2}}, kept)) working = kept;
    }
    value = working;
}

long ReferenceClient::Verify(const std::string& imagePath, bool fast, bool secondProcessor)
{
    ImageFile image(imagePath);
    Open();
    DrainInput();
    Send(0xCA);
    std::uint8_t reply = 0;
    if (!ReadOne(kExchangeLimitS, reply) || reply != 0x35) {
        Close();
        return -1;
    }
    long mismatches = 0;
    std::uint8_t main = 0;
    std::uint8_t second = 0;
    std::uint8_t record[kRecordBytes];
    while (image.Next(record)) {
        channelOk_ = true;
        const std::uint8_t key = record[2];
        const auto high = static_cast<std::uint8_t>(record[0] - key);
        const auto lowStart = static_cast<std::uint8_t>(record[1] - key);
        for (int n = 0; n < (fast ? 8 : 128); ++n) {
            const int j = fast ? kFastOffsets[static_cast<std::size_t>(n)] : n;
            const auto low = static_cast<std::uint8_t>(lowStart + j);
            const auto expected = static_cast<std::uint8_t>(record[3 + j] - key);
            ReadData(high, low, main);
            if (secondProcessor) SpiFrame(high, low, second);
            if (Exempt(high, low)) continue;
            mismatches += (main != expected) + (secondProcessor && second != expected);
        }
    }
    Close();
    return mismatches;
}

} // namespace bench
