#pragma once

#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>

class TClock;

enum TBaudRate { brCustom, br9600, br19200, br38400, br57600, br115200 };

// Which device each port name opens. "COM1" and "COM2" are the names the
// window offers; the command line may point them at other devices.
struct TPortMap {
    std::string Com1 = "/dev/ttyS0";
    std::string Com2 = "/dev/ttyS1";

    // The device for a port name; any other name is taken as a device path.
    std::string DeviceFor(const std::string& portName) const;
};

// A port operation failed. The text names the operation, followed by
// " (win error code: N)" with the operating system's error number.
class EComPort : public std::runtime_error {
public:
    EComPort(const std::string& text, int code);
    int Code() const { return code_; }

private:
    int code_;
};

// The serial port: 8N1 raw, no flow control, DTR and RTS held off, exclusive.
// Received bytes are moved from the device into a queue of our own, so that a
// wait can sleep until *more* bytes arrive while some are already waiting.
class TComPort {
public:
    explicit TComPort(TClock& clock, TPortMap map = {});
    ~TComPort();
    TComPort(const TComPort&) = delete;
    TComPort& operator=(const TComPort&) = delete;

    // Settings; they take effect at the next OpenPort.
    void SetPort(const std::string& name);
    const std::string& Port() const { return port_; }
    void SetBaudRate(TBaudRate rate);
    TBaudRate BaudRate() const { return baudRate_; }
    void SetDeviceMap(TPortMap map);
    const TPortMap& DeviceMap() const { return map_; }
    void SetClock(TClock& clock) { clock_ = &clock; }

    // Opens the device named by Port() and applies the line settings.
    // Does nothing on an open port. Raises EComPort ("Unable to open com port",
    // "SetupComm function failed", "SetCommState function failed",
    // "SetCommTimeouts failed"); the port is closed after a failure.
    void OpenPort();
    // Discards what is queued in both directions and releases the device.
    // Does nothing on a closed port. Raises EComPort ("PurgeComm function
    // failed"); the device is released all the same.
    void ClosePort();
    bool Connected() const { return fd_ >= 0; }

    // Bytes received and not yet taken. Never waits.
    // Raises EComPort ("ClearCommError function failed").
    int PendingCount();
    // Writes the bytes and returns once they have left the computer, or when
    // 100 * n + 1000 ms have run out; the result is the number written.
    // Raises EComPort ("WriteFile function failed").
    int SendBytes(const std::string& bytes);
    // Takes at most n received bytes, in arrival order; never waits.
    // Raises EComPort ("ReadFile function failed").
    int TakeBytes(std::string& bytes, int n);

    // Sleeps until a byte beyond those already counted arrives, the device
    // hangs up, or maxMs pass on the port's clock. Never consumes input.
    void WaitForInput(std::int64_t maxMs);

    // The descriptor of the open device, -1 when closed (for waits only).
    int Handle() const { return fd_; }

private:
    void Refill(const char* failureText);
    void ReleaseDevice();

    TClock* clock_;
    TPortMap map_;
    std::string port_ = "COM1";
    TBaudRate baudRate_ = brCustom;
    int fd_ = -1;
    std::deque<std::uint8_t> received_;
};
