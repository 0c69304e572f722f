#include "tools/boardsim/BoardSim.h"

#include "tools/boardsim/BoardCore.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <thread>
#include <unistd.h>

// The pseudo-terminal side. The simulator keeps only the master: while the
// tool does not hold the device, poll() on the master reports POLLHUP (and a
// read fails with EIO); that is how the board sees the port open and close.
namespace boardsim {
namespace {

// While nobody holds the device the master polls as hung up at once, so the
// thread naps between looks instead of waiting on it.
constexpr std::int64_t kHangupNapUs = 1000;
constexpr int kWriteRoomWaitMs = 10;

timespec Timespec(std::int64_t us)
{
    return {static_cast<time_t>(us / 1'000'000), static_cast<long>(us % 1'000'000 * 1000)};
}

struct LineInput {
    std::vector<std::uint8_t> bytes;
    bool hungUp = false;
};

// Everything the tool has written so far, waiting up to `settleUs` for a
// first byte that may still be in the kernel's hands.
LineInput ReadLine(int master, std::int64_t settleUs)
{
    LineInput input;
    pollfd watch{master, POLLIN, 0};
    const timespec limit = Timespec(settleUs);
    if (::ppoll(&watch, 1, &limit, nullptr) > 0) input.hungUp = (watch.revents & POLLHUP) != 0;
    std::uint8_t buffer[512];
    for (;;) {
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n > 0) {
            input.bytes.insert(input.bytes.end(), buffer, buffer + n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            // EAGAIN: all taken; EIO: the device is not held.
            input.hungUp = input.hungUp || (n < 0 && errno == EIO);
            return input;
        }
    }
}

// Each byte of the board goes out alone, as the board's UART sends it.
void WriteByte(int master, std::uint8_t byte)
{
    for (;;) {
        if (::write(master, &byte, 1) == 1) return;
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return; // the tool let go of the device meanwhile
        pollfd room{master, POLLOUT, 0};
        ::poll(&room, 1, kWriteRoomWaitMs);
    }
}

} // namespace

struct BoardSim::Impl {
    explicit Impl(Options options);
    ~Impl();

    void Step(std::int64_t nowUs, std::int64_t settleUs);
    void Run();
    void WaitForWork();
    std::int64_t NowUs() const;

    mutable std::mutex mutex; // guards everything below but the descriptors
    BoardCore core;
    std::vector<TranscriptEntry> transcript;
    std::function<void(const TranscriptEntry&)> onByte;
    std::function<void(std::uint8_t)> onReply;
    std::FILE* file = nullptr;

    int master = -1;
    int wake[2] = {-1, -1}; // Stop() writes here to end the thread's wait
    std::string device;
    std::thread thread;
    std::atomic<bool> stopping{false};
    const std::chrono::steady_clock::time_point epoch = std::chrono::steady_clock::now();
};

BoardSim::Impl::Impl(Options options) : core(std::move(options))
{
    int slave = -1;
    char name[256] = {};
    termios raw{};
    ::cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) throw std::runtime_error("openpty failed");
    // The tool must be the only holder of the device, or its closing would go unseen.
    ::close(slave);
    device = name;
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(master);
        throw std::runtime_error("pipe2 failed");
    }
}

BoardSim::Impl::~Impl()
{
    if (master >= 0) ::close(master);
    ::close(wake[0]);
    ::close(wake[1]);
    if (file) std::fclose(file);
}

std::int64_t BoardSim::Impl::NowUs() const
{
    const auto since = std::chrono::steady_clock::now() - epoch;
    return std::chrono::duration_cast<std::chrono::microseconds>(since).count();
}

void BoardSim::Impl::Step(std::int64_t nowUs, std::int64_t settleUs)
{
    const LineInput input = ReadLine(master, settleUs);
    std::vector<Crossing> crossed;
    std::function<void(const TranscriptEntry&)> notifyByte;
    std::function<void(std::uint8_t)> notifyReply;
    {
        std::lock_guard lock(mutex);
        // Bytes with a hang-up: the tool opened, wrote and closed between two looks.
        if ((!input.hungUp || !input.bytes.empty()) && !core.PortOpen()) core.PortOpened(nowUs);
        for (const std::uint8_t byte : input.bytes) core.ByteArrived(byte, nowUs);
        crossed = input.hungUp && core.PortOpen() ? core.PortClosed(nowUs) : core.Advance(nowUs);
        for (const Crossing& crossing : crossed) {
            const TranscriptEntry& entry = crossing.entry;
            transcript.push_back(entry);
            if (file)
                std::fprintf(file, "%lld %s %02X\n", static_cast<long long>(entry.timeUs),
                             entry.fromTool ? "tool" : "board", entry.byte);
        }
        if (file) std::fflush(file);
        notifyByte = onByte;
        notifyReply = onReply;
    }
    // Outside the lock: a callback may ask the simulator for anything.
    for (const Crossing& crossing : crossed) {
        const TranscriptEntry& entry = crossing.entry;
        if (!entry.fromTool) WriteByte(master, entry.byte);
        if (notifyByte) notifyByte(entry);
        if (crossing.endsReply && notifyReply) notifyReply(entry.byte);
    }
}

void BoardSim::Impl::Run()
{
    while (!stopping) {
        Step(NowUs(), 0);
        WaitForWork();
    }
}

// Sleeps until the tool writes or lets go of the device, the next byte is due,
// or Stop() is called.
void BoardSim::Impl::WaitForWork()
{
    bool open = false;
    std::optional<std::int64_t> due;
    {
        std::lock_guard lock(mutex);
        open = core.PortOpen();
        due = core.NextDueUs();
    }
    pollfd watch[2] = {{wake[0], POLLIN, 0}, {master, POLLIN, 0}};
    if (!open) {
        const timespec nap = Timespec(kHangupNapUs);
        ::ppoll(watch, 1, &nap, nullptr);
        return;
    }
    if (!due) {
        ::ppoll(watch, 2, nullptr, nullptr);
        return;
    }
    const timespec limit = Timespec(std::max<std::int64_t>(0, *due - NowUs()));
    ::ppoll(watch, 2, &limit, nullptr);
}

BoardSim::BoardSim(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

BoardSim::~BoardSim()
{
    Stop();
}

const std::string& BoardSim::DevicePath() const
{
    return impl_->device;
}

void BoardSim::Start()
{
    if (impl_->thread.joinable()) return;
    impl_->stopping = false;
    impl_->thread = std::thread([this] { impl_->Run(); });
}

void BoardSim::Stop()
{
    if (!impl_->thread.joinable()) return;
    impl_->stopping = true;
    const char poke = 1;
    [[maybe_unused]] const ssize_t written = ::write(impl_->wake[1], &poke, 1);
    impl_->thread.join();
    char drained[16];
    while (::read(impl_->wake[0], drained, sizeof drained) > 0) {
    }
}

void BoardSim::Pump(std::int64_t nowUs, int settleUs)
{
    impl_->Step(nowUs, settleUs);
}

std::optional<std::int64_t> BoardSim::NextDueUs() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->core.NextDueUs();
}

std::vector<TranscriptEntry> BoardSim::Transcript() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->transcript;
}

void BoardSim::ClearTranscript()
{
    std::lock_guard lock(impl_->mutex);
    impl_->transcript.clear();
}

void BoardSim::OnByte(std::function<void(const TranscriptEntry&)> callback)
{
    std::lock_guard lock(impl_->mutex);
    impl_->onByte = std::move(callback);
}

void BoardSim::OnReply(std::function<void(std::uint8_t)> callback)
{
    std::lock_guard lock(impl_->mutex);
    impl_->onReply = std::move(callback);
}

void BoardSim::TranscriptToFile(const std::string& path)
{
    std::FILE* opened = std::fopen(path.c_str(), "w");
    if (!opened) throw std::runtime_error("cannot write the transcript to " + path);
    std::lock_guard lock(impl_->mutex);
    if (impl_->file) std::fclose(impl_->file);
    impl_->file = opened;
}

std::uint8_t BoardSim::Memory(int processor, std::uint16_t address) const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->core.Memory(processor, address);
}

void BoardSim::SetMemory(int processor, std::uint16_t address, std::uint8_t value)
{
    std::lock_guard lock(impl_->mutex);
    impl_->core.SetMemory(processor, address, value);
}

void BoardSim::ProgramImage(const std::vector<std::uint8_t>& fileBytes)
{
    std::lock_guard lock(impl_->mutex);
    impl_->core.ProgramImage(fileBytes);
}

void BoardSim::Unplug()
{
    Stop();
    std::lock_guard lock(impl_->mutex);
    if (impl_->master >= 0) ::close(impl_->master);
    impl_->master = -1;
}

void BoardSim::SetSilent(bool silent)
{
    std::lock_guard lock(impl_->mutex);
    impl_->core.SetSilent(silent);
}

Mode BoardSim::CurrentMode() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->core.CurrentMode();
}

int BoardSim::RecordsProgrammed() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->core.RecordsProgrammed();
}

int BoardSim::PortOpenings() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->core.PortOpenings();
}

} // namespace boardsim
