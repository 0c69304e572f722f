#include "serial/ComPort.h"

#include "serial/Clock.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

// Which POSIX step raises which text:
//   open(), flock()                          "Unable to open com port"
//   low-latency request (driver buffering)   "SetupComm function failed"
//   termios line settings, DTR/RTS lines     "SetCommState function failed"
//   read behaviour (VMIN/VTIME) not taken    "SetCommTimeouts failed"
//   tcflush() on close                       "PurgeComm function failed"
//   read() in PendingCount / TakeBytes       "ClearCommError function failed" / "ReadFile function failed"
//   write(), poll() for room, tcdrain()      "WriteFile function failed"
namespace {

constexpr const char* kOpenFailed = "Unable to open com port";
constexpr const char* kSetupFailed = "SetupComm function failed";
constexpr const char* kStateFailed = "SetCommState function failed";
constexpr const char* kTimeoutsFailed = "SetCommTimeouts failed";
constexpr const char* kPurgeFailed = "PurgeComm function failed";
constexpr const char* kCountFailed = "ClearCommError function failed";
constexpr const char* kReadFailed = "ReadFile function failed";
constexpr const char* kWriteFailed = "WriteFile function failed";

constexpr std::size_t kReadChunk = 1024;
// How long one wait for room in the transmit queue lasts before the write's
// time limit is looked at again.
constexpr std::int64_t kWriteSliceMs = 10;

speed_t SpeedFor(TBaudRate rate)
{
    switch (rate) {
    case br19200: return B19200;
    case br38400: return B38400;
    case br57600: return B57600;
    case br115200: return B115200;
    case br9600:
    case brCustom: // the component's custom rate is 9600
        break;
    }
    return B9600;
}

// The driver does not offer the request at all; that is no failure.
bool Unsupported(int error)
{
    return error == ENOTTY || error == EINVAL || error == EOPNOTSUPP;
}

int OpenExclusive(const std::string& device)
{
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) throw EComPort(kOpenFailed, errno);
    // flock, not TIOCEXCL: it also keeps out a second program running as root.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        throw EComPort(kOpenFailed, error);
    }
    return fd;
}

// Raw 8N1 without flow control: every byte value passes unchanged. VMIN=1,
// VTIME=0 with O_NONBLOCK makes an empty queue read as EAGAIN and a 0 mean
// that the device hung up.
termios LineSettings(termios t, TBaudRate rate)
{
    ::cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK | IUCLC);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, SpeedFor(rate));
    ::cfsetospeed(&t, SpeedFor(rate));
    return t;
}

bool SameLine(const termios& got, const termios& wanted)
{
    constexpr tcflag_t line = CSIZE | PARENB | CSTOPB | CRTSCTS;
    constexpr tcflag_t flow = IXON | IXOFF | IXANY;
    return (got.c_cflag & line) == (wanted.c_cflag & line) && (got.c_iflag & flow) == 0 &&
           ::cfgetospeed(&got) == ::cfgetospeed(&wanted) && ::cfgetispeed(&got) == ::cfgetispeed(&wanted);
}

// tcsetattr succeeds when any one change took, so the result is read back.
void ApplyLineSettings(int fd, TBaudRate rate)
{
    termios current{};
    if (::tcgetattr(fd, &current) != 0) throw EComPort(kStateFailed, errno);
    const termios wanted = LineSettings(current, rate);
    if (::tcsetattr(fd, TCSANOW, &wanted) != 0) throw EComPort(kStateFailed, errno);
    termios taken{};
    if (::tcgetattr(fd, &taken) != 0) throw EComPort(kStateFailed, errno);
    if (!SameLine(taken, wanted)) throw EComPort(kStateFailed, EINVAL);
    if (taken.c_cc[VMIN] != 1 || taken.c_cc[VTIME] != 0) throw EComPort(kTimeoutsFailed, EINVAL);
}

void HoldModemLinesOff(int fd)
{
    const int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(fd, TIOCMBIC, &lines) != 0 && !Unsupported(errno)) throw EComPort(kStateFailed, errno);
}

// USB adapters otherwise hold replies back for several milliseconds, which
// this byte-by-byte protocol pays on every byte. A driver that does not let us
// change it (some refuse with EPERM) only makes the line slower, not wrong.
bool LowLatencyRefused(int error)
{
    return Unsupported(error) || error == EPERM || error == EACCES;
}

void AskLowLatency(int fd)
{
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) {
        if (LowLatencyRefused(errno)) return;
        throw EComPort(kSetupFailed, errno);
    }
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &serial) != 0 && !LowLatencyRefused(errno)) throw EComPort(kSetupFailed, errno);
}

// Sleeps until the transmit queue has room or `maxMs` real milliseconds pass.
void WaitWritable(int fd, std::int64_t maxMs)
{
    pollfd watch{fd, POLLOUT, 0};
    if (::poll(&watch, 1, static_cast<int>(std::min(maxMs, kWriteSliceMs))) < 0 && errno != EINTR)
        throw EComPort(kWriteFailed, errno);
}

} // namespace

EComPort::EComPort(const std::string& text, int code)
    : std::runtime_error(text + " (win error code: " + std::to_string(code) + ")"), code_(code)
{
}

std::string TPortMap::DeviceFor(const std::string& portName) const
{
    if (portName == "COM1") return Com1;
    if (portName == "COM2") return Com2;
    return portName;
}

TComPort::TComPort(TClock& clock, TPortMap map) : clock_(&clock), map_(std::move(map)) {}

TComPort::~TComPort()
{
    ReleaseDevice();
}

void TComPort::SetPort(const std::string& name)
{
    port_ = name;
}

void TComPort::SetBaudRate(TBaudRate rate)
{
    baudRate_ = rate;
}

void TComPort::SetDeviceMap(TPortMap map)
{
    map_ = std::move(map);
}

void TComPort::OpenPort()
{
    if (Connected()) return;
    fd_ = OpenExclusive(map_.DeviceFor(port_));
    try {
        ApplyLineSettings(fd_, baudRate_);
        HoldModemLinesOff(fd_);
        AskLowLatency(fd_);
    } catch (...) {
        ReleaseDevice();
        throw;
    }
}

void TComPort::ClosePort()
{
    if (!Connected()) return;
    // Only the input is discarded. SendBytes has already drained the output, so
    // on a real port nothing is left to throw away; on a pseudo-terminal the
    // output queue is what the other side has not read yet, and discarding it
    // would lose bytes that count as sent.
    const int flushError = ::tcflush(fd_, TCIFLUSH) == 0 ? 0 : errno;
    // Released first: a vanished adapter must not leave the port stuck open.
    ReleaseDevice();
    if (flushError != 0) throw EComPort(kPurgeFailed, flushError);
}

void TComPort::ReleaseDevice()
{
    received_.clear();
    if (fd_ < 0) return;
    ::close(fd_); // also drops the flock
    fd_ = -1;
}

// Moves what the device holds into our queue. One read() when it holds nothing.
void TComPort::Refill(const char* failureText)
{
    if (!Connected()) throw EComPort(failureText, EBADF);
    std::uint8_t chunk[kReadChunk];
    for (;;) {
        const ssize_t got = ::read(fd_, chunk, sizeof chunk);
        if (got > 0) {
            received_.insert(received_.end(), chunk, chunk + got);
            if (static_cast<std::size_t>(got) < sizeof chunk) return;
            continue;
        }
        if (got == 0) throw EComPort(failureText, EIO); // the device hung up
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
        throw EComPort(failureText, errno);
    }
}

int TComPort::PendingCount()
{
    Refill(kCountFailed);
    return static_cast<int>(received_.size());
}

int TComPort::TakeBytes(std::string& bytes, int n)
{
    if (!Connected()) throw EComPort(kReadFailed, EBADF);
    const std::size_t wanted = static_cast<std::size_t>(std::max(n, 0));
    // What is already queued answers without a system call.
    if (received_.size() < wanted) Refill(kReadFailed);
    const std::size_t count = std::min(wanted, received_.size());
    bytes.assign(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(count));
    received_.erase(received_.begin(), received_.begin() + static_cast<std::ptrdiff_t>(count));
    return static_cast<int>(count);
}

int TComPort::SendBytes(const std::string& bytes)
{
    if (!Connected()) throw EComPort(kWriteFailed, EBADF);
    const std::int64_t deadline = clock_->NowMs() + 100 * static_cast<std::int64_t>(bytes.size()) + 1000;
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t sent = ::write(fd_, bytes.data() + written, bytes.size() - written);
        if (sent > 0) {
            written += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) throw EComPort(kWriteFailed, errno);
        const std::int64_t leftMs = deadline - clock_->NowMs();
        if (leftMs < 0) break;
        WaitWritable(fd_, leftMs + 1);
    }
    // The bytes must have left the computer before a ClosePort can discard them.
    while (::tcdrain(fd_) != 0) {
        if (errno != EINTR) throw EComPort(kWriteFailed, errno);
    }
    return static_cast<int>(written);
}

void TComPort::WaitForInput(std::int64_t maxMs)
{
    clock_->WaitReadable(fd_, maxMs);
}
