#pragma once

// A simulated target board on a real pseudo-terminal: it plays the board's
// side of every exchange the updater has with it, byte for byte.
//
// Two ways to run it:
//  - Start(): a background thread on real time, for the executable, the demo
//    and the benchmarks;
//  - Pump(nowUs): no thread; a test calls it from its clock with the test's
//    own time, so silent boards and slow replies cost no real time.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace boardsim {

enum class Mode {
    Handshake, // loader that expects 0xCA/"5", 0x05/0x05, 0xBE/0xBE first
    PowerOn,   // loader just powered on: sends 0xAA by itself when the port opens
    Command,   // restarted board: command channel, memory reads and writes
};

struct Faults {
    bool silent = false;                              // never sends a byte
    std::optional<std::uint8_t> handshakeReply{};     // answers 0xCA with this instead of "5"
    std::optional<std::uint8_t> requestByte{};        // sends this instead of the record request 0xAA
    // Wrong echo at record `echoRecord` (1-based), byte `echoByte` (0..130): the
    // echo is the byte sent XOR 0xFF; `echoEveryTime` repeats it on every attempt.
    int echoRecord = 0;
    int echoByte = -1;
    bool echoEveryTime = false;
    // Acknowledges record `nakRecord` (1-based) with `nakBytes` instead of
    // 0xCC 0xCC, `nakTimes` times.
    int nakRecord = 0;
    int nakTimes = 0;
    std::array<std::uint8_t, 2> nakBytes{0x33, 0x33};
    bool ackDespiteMismatch = false;                  // answers 0xCC 0xCC whatever the mismatch count
    bool neverRestart = false;                        // the command mode never answers
    std::optional<std::uint16_t> silentAtVerifyAddress{}; // stops answering at the first read of it, until the port closes
    std::map<std::uint16_t, std::uint8_t> wrongMemory1{}; // processor 1 reads these values
    std::map<std::uint16_t, std::uint8_t> wrongMemory2{}; // processor 2 reads these values
    bool extraReplyByte = false;                      // every reply of the command mode gets one byte more
    int replyDelayUs = 0;                             // every reply comes this much later
};

// Wire time of one byte at 38400 baud: 10 bits are 260.4 us.
inline constexpr std::int64_t kByteWireUs = 260;

struct Options {
    Mode mode = Mode::Handshake;
    Faults faults{};
    bool pace38400 = false;   // every byte takes its 10 bits of wire time (260.4 us)
    int turnaroundUs = 0;     // extra latency before each reply (a USB adapter's 1 ms or 16 ms)
    int powerOnDelayUs = 20000; // power-on mode: time from the port opening to the first 0xAA
    bool mirrorProcessor2 = true; // processor 2 holds what processor 1 is programmed with
};

struct TranscriptEntry {
    std::int64_t timeUs; // on the simulator's time line
    bool fromTool;       // true: tool to board; false: board to tool
    std::uint8_t byte;
};

class BoardSim {
public:
    explicit BoardSim(Options options = {});
    ~BoardSim();
    BoardSim(const BoardSim&) = delete;
    BoardSim& operator=(const BoardSim&) = delete;

    // The device the updater opens (the slave side of the pseudo-terminal).
    const std::string& DevicePath() const;

    // Real-time play on a background thread until Stop() or destruction.
    void Start();
    void Stop();

    // Synchronous play on the caller's time line: takes in what the tool has
    // sent, notices the port opening or closing, and writes every reply that
    // is due by `nowUs`. Waits at most `settleUs` of real time for bytes that
    // are still on their way through the kernel.
    void Pump(std::int64_t nowUs, int settleUs = 2000);
    // When the next reply is due, if one is waiting (with pacing, also when a
    // byte of the tool's has crossed the line and is taken in).
    std::optional<std::int64_t> NextDueUs() const;

    // Every byte in each direction, in order. Safe to call while running.
    std::vector<TranscriptEntry> Transcript() const;
    void ClearTranscript();
    // Called for each byte as it crosses the line (on the simulator's thread when Start()ed).
    void OnByte(std::function<void(const TranscriptEntry&)> callback);
    // Called once per reply of the board, with its last byte, as that byte
    // crosses the line (same thread as OnByte).
    void OnReply(std::function<void(std::uint8_t lastByte)> callback);
    // Writes each byte to `path` as it crosses the line, one line per byte.
    void TranscriptToFile(const std::string& path);

    // Memory of processor 1 or 2 (64 KiB each, 0xFF at start).
    std::uint8_t Memory(int processor, std::uint16_t address) const;
    void SetMemory(int processor, std::uint16_t address, std::uint8_t value);
    // Stores every whole record of a firmware file's bytes as the loader stores
    // an accepted record (processor 2 too when mirrorProcessor2): a board that
    // already holds an image, for verify-only runs.
    void ProgramImage(const std::vector<std::uint8_t>& fileBytes);
    // Switches Faults::silent while playing; going silent also drops the
    // replies not yet on the line.
    void SetSilent(bool silent);
    // The cable is pulled: the simulator lets go of its side for good, and the
    // tool's device hangs up. Stops the thread first when Start()ed.
    void Unplug();
    Mode CurrentMode() const;
    int RecordsProgrammed() const; // records accepted by the loader
    int PortOpenings() const;      // how often the tool has opened the port

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Builds a firmware file's bytes: each record's plain start address, key and
// data, stored as (plain + key) mod 256.
struct PlainRecord {
    std::uint16_t address;
    std::uint8_t key;
    std::array<std::uint8_t, 128> data;
};
std::vector<std::uint8_t> EncodeFirmware(const std::vector<PlainRecord>& records);
// A small image for the demo: `count` records at consecutive pages, different keys.
std::vector<PlainRecord> SampleImage(int count);

} // namespace boardsim
