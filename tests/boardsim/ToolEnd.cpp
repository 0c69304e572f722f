#include "boardsim/ToolEnd.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace boardsim_test {
namespace {

constexpr int kHangGuardMs = 1000;

} // namespace

ToolEnd::ToolEnd(std::string device) : device_(std::move(device)) {}

ToolEnd::~ToolEnd()
{
    Close();
}

void ToolEnd::Open()
{
    fd_ = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) throw std::runtime_error("cannot open " + device_);
    termios raw{};
    ::tcgetattr(fd_, &raw);
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    ::tcsetattr(fd_, TCSANOW, &raw);
}

void ToolEnd::Close()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void ToolEnd::Send(std::uint8_t byte) const
{
    if (::write(fd_, &byte, 1) != 1) throw std::runtime_error("cannot write to " + device_);
}

Bytes ToolEnd::Receive(std::size_t count) const
{
    Bytes got;
    while (got.size() < count) {
        pollfd watch{fd_, POLLIN, 0};
        if (::poll(&watch, 1, kHangGuardMs) <= 0) break;
        std::uint8_t byte = 0;
        const ssize_t n = ::read(fd_, &byte, 1);
        if (n == 1) got.push_back(byte);
        else if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    }
    return got;
}

PumpedBoard::PumpedBoard(boardsim::Options options) : sim_(std::move(options)), tool_(sim_.DevicePath()) {}

void PumpedBoard::OpenPort()
{
    tool_.Open();
    sim_.Pump(now_);
}

void PumpedBoard::ClosePort()
{
    tool_.Close();
    sim_.Pump(now_);
}

void PumpedBoard::Settle()
{
    sim_.Pump(now_);
    while (const auto due = sim_.NextDueUs()) {
        now_ = std::max(now_, *due);
        sim_.Pump(now_, 0);
    }
}

Bytes PumpedBoard::Exchange(std::uint8_t byte)
{
    tool_.Send(byte);
    Settle();
    return TakeReplies();
}

std::vector<Bytes> PumpedBoard::ExchangeEach(const Bytes& bytes)
{
    std::vector<Bytes> replies;
    for (const std::uint8_t byte : bytes) replies.push_back(Exchange(byte));
    return replies;
}

// The transcript says how many bytes the board wrote; the tool's end must have them all.
Bytes PumpedBoard::TakeReplies()
{
    const auto transcript = sim_.Transcript();
    std::size_t written = 0;
    for (; seen_ < transcript.size(); ++seen_) written += transcript[seen_].fromTool ? 0 : 1;
    return tool_.Receive(written);
}

} // namespace boardsim_test
