#pragma once

// The board's side of the protocol as a pure state machine: no file
// descriptor, no clock. Bytes from the tool go in with the time they were read
// off the line; the board's bytes come out with the time they reach the tool.
// BoardSim puts it on a pseudo-terminal.

#include "tools/boardsim/BoardSim.h"

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace boardsim {

// One byte crossing the line; `endsReply` marks the last byte of one of the
// board's replies.
struct Crossing {
    TranscriptEntry entry;
    bool endsReply = false;
};

class BoardCore {
public:
    explicit BoardCore(Options options);

    // The tool opened the device. A power-on loader schedules its first request.
    void PortOpened(std::int64_t nowUs);
    // The tool let go of the device: bytes still on their way in are taken,
    // replies not yet on the line are dropped, and a loader that has talked
    // to the tool restarts into the command mode. Returns the bytes taken.
    std::vector<Crossing> PortClosed(std::int64_t nowUs);
    bool PortOpen() const { return portOpen_; }

    // A byte the tool wrote, read off the line at `arrivalUs`.
    void ByteArrived(std::uint8_t byte, std::int64_t arrivalUs);
    // Plays every byte due by `nowUs`, in time order: those the board takes in
    // and those it puts out (fromTool false: to be written to the tool).
    std::vector<Crossing> Advance(std::int64_t nowUs);
    // The time of the next byte to take in or put out, if one is waiting.
    std::optional<std::int64_t> NextDueUs() const;

    std::uint8_t Memory(int processor, std::uint16_t address) const;
    void SetMemory(int processor, std::uint16_t address, std::uint8_t value);
    // Stores every whole record of a firmware file as the loader stores an accepted one.
    void ProgramImage(const std::vector<std::uint8_t>& fileBytes);
    // Silent from now on: replies not yet on the line are dropped too.
    void SetSilent(bool silent);
    Mode CurrentMode() const { return mode_; }
    int RecordsProgrammed() const { return recordsProgrammed_; }
    int PortOpenings() const { return portOpenings_; }

private:
    struct Timed {
        std::int64_t atUs;
        std::uint8_t byte;
        bool endsReply = false;
    };
    // One direction of the line: bytes in flight and when it is free again.
    struct Wire {
        std::deque<Timed> inFlight;
        std::int64_t freeAtUs = 0;
    };
    enum class LoaderStep { Handshake, AwaitStart, RecordBytes, MismatchCount };
    using Bytes = std::vector<std::uint8_t>;

    std::int64_t WireEnd(Wire& wire, std::int64_t startUs) const;
    void Send(const Bytes& bytes, std::int64_t startUs);
    void Reply(const Bytes& bytes, std::int64_t receivedUs);
    void Take(std::uint8_t byte, std::int64_t atUs);

    void TakeLoader(std::uint8_t byte, std::int64_t atUs);
    void TakeHandshake(std::uint8_t byte, std::int64_t atUs);
    void RequestRecord(std::int64_t startUs);
    void BeginAttempt(std::int64_t atUs);
    void TakeRecordByte(std::uint8_t byte, std::int64_t atUs);
    std::uint8_t EchoOf(std::uint8_t byte);
    void FinishAttempt(std::uint8_t mismatchCount, std::int64_t atUs);
    void EnterLoader(Mode mode);
    void StoreRecord(const std::uint8_t* stored, bool bothProcessors);

    void TakeCommand(std::uint8_t byte, std::int64_t atUs);
    void TakeOperand(std::uint8_t byte, std::int64_t atUs);
    void CommandReply(Bytes bytes, std::int64_t atUs);
    std::uint8_t PassThrough(std::uint8_t bus, std::uint8_t byte);
    std::uint8_t Read(int processor, std::uint16_t address) const;
    std::uint16_t Address() const;
    void ResetCommandSession();

    Options options_;
    std::array<std::array<std::uint8_t, 0x10000>, 2> memory_{};
    Mode mode_;
    bool portOpen_ = false;
    bool dropReplies_ = false; // the port is closing: nothing more reaches the tool
    int portOpenings_ = 0;
    Wire toBoard_;
    Wire toTool_;

    // Loader
    LoaderStep loaderStep_ = LoaderStep::Handshake;
    bool loaderHeardTool_ = false; // since the loader was entered
    int sessionRecord_ = 1;        // 1-based number of the record being received
    int recordsProgrammed_ = 0;
    std::array<std::uint8_t, 131> received_{};
    int receivedCount_ = 0;
    bool ownEchoWrong_ = false;
    bool echoFaultUsed_ = false;
    int naksSent_ = 0;

    // Command mode
    bool channelOpen_ = true;
    bool lastWasOpening_ = false;
    std::optional<std::uint8_t> pendingCommand_; // a command byte awaiting its operand
    std::uint8_t addressHigh_ = 0;
    std::uint8_t addressLow_ = 0;
    std::array<Bytes, 2> frames_;       // pass-through frame so far, per bus
    bool silenced_ = false;             // silentAtVerifyAddress has struck in this session
    bool silentAddressUsed_ = false;
};

} // namespace boardsim
