#pragma once

// The yardstick of the benchmark: the same byte exchanges as the tool, in the
// same stop-and-wait order and with the same exact-count waits, written as
// plainly as possible: write(), poll() and read() on the device, no window,
// no event processing, nothing else per byte.

#include <cstdint>
#include <initializer_list>
#include <string>

namespace bench {

class ReferenceClient {
public:
    explicit ReferenceClient(std::string device);
    ~ReferenceClient();
    ReferenceClient(const ReferenceClient&) = delete;
    ReferenceClient& operator=(const ReferenceClient&) = delete;

    // The programming phase with the boot handshake: every record with its
    // echoes, resent until accepted, then what is left on the line read away.
    // True when every record was accepted.
    bool Program(const std::string& imagePath);
    // The verification phase: the channel opening, then every address of the
    // mode read back (and through the pass-through with `secondProcessor`).
    // The number of bytes that differ from the image, or -1 when the channel
    // did not open.
    long Verify(const std::string& imagePath, bool fast, bool secondProcessor);

private:
    struct Step {
        std::uint8_t send;
        int awaited;
    };

    void Open();
    void Close();
    void Send(std::uint8_t byte);
    // Reads what the device holds into the input buffer; never waits.
    void Fill();
    // Sleeps until input arrives or the deadline passes; false at the deadline.
    bool SleepForInput(double deadlineS);
    // Waits for at least one byte and takes it, as the tool's RdCom does.
    bool ReadOne(double limitS, std::uint8_t& byte);
    bool AwaitExactly(int count, double deadlineS);
    std::uint8_t Take();
    void DrainInput();
    bool Exchange(std::initializer_list<Step> steps, std::uint8_t& kept);
    void ReadData(std::uint8_t high, std::uint8_t low, std::uint8_t& value);
    void SpiFrame(std::uint8_t high, std::uint8_t low, std::uint8_t& value);
    bool SendRecord(const std::uint8_t* record);

    std::string device_;
    int fd_ = -1;
    std::uint8_t input_[1024] = {};
    int head_ = 0;
    int tail_ = 0;
    bool channelOk_ = false;
};

} // namespace bench
