#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The far end of a real pseudo-terminal, played by a test: the tool opens
// DevicePath() as its serial device, the test reads and writes the other side.
class PtyPeer {
public:
    PtyPeer();
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& DevicePath() const { return device_; }
    int MasterFd() const { return master_; }

    void Write(const std::vector<std::uint8_t>& bytes) const;
    // Everything the tool has sent within `timeoutMs` of quiet.
    std::vector<std::uint8_t> ReadAll(int timeoutMs = 50) const;
    // Exactly `count` bytes, or fewer if they do not come within `timeoutMs`.
    std::vector<std::uint8_t> Read(std::size_t count, int timeoutMs = 1000) const;
    // Closes our side: for the tool, the device vanishes.
    void Hangup();

private:
    int master_ = -1;
    std::string device_;
};
