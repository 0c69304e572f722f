#include "support/PtyPeer.h"

#include <cerrno>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

PtyPeer::PtyPeer()
{
    int slave = -1;
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master_, &slave, name, &raw, nullptr) != 0) throw std::runtime_error("openpty failed");
    // Only the tool holds the device from here on, as with a real port.
    close(slave);
    device_ = name;
}

PtyPeer::~PtyPeer()
{
    Hangup();
}

void PtyPeer::Hangup()
{
    if (master_ >= 0) close(master_);
    master_ = -1;
}

void PtyPeer::Write(const std::vector<std::uint8_t>& bytes) const
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::runtime_error("pty write failed");
        done += static_cast<std::size_t>(n);
    }
}

std::vector<std::uint8_t> PtyPeer::Read(std::size_t count, int timeoutMs) const
{
    std::vector<std::uint8_t> out;
    while (out.size() < count) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN)) break;
        std::uint8_t buf[256];
        const std::size_t want = std::min(sizeof buf, count - out.size());
        const ssize_t n = ::read(master_, buf, want);
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

std::vector<std::uint8_t> PtyPeer::ReadAll(int timeoutMs) const
{
    return Read(static_cast<std::size_t>(-1), timeoutMs);
}
