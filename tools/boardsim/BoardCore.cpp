#include "tools/boardsim/BoardCore.h"

#include <algorithm>

namespace boardsim {
namespace {

// Loader
constexpr std::uint8_t kOpening = 0xCA;
constexpr std::uint8_t kOpeningReply = 0x35; // "5"
constexpr std::uint8_t kHandshake2 = 0x05;
constexpr std::uint8_t kHandshake3 = 0xBE;
constexpr std::uint8_t kRecordRequest = 0xAA;
constexpr std::uint8_t kRecordStart = 0x55;
constexpr std::uint8_t kAccepted = 0xCC;
// A refused record is answered with the complement of the acknowledgement.
constexpr std::uint8_t kRefused = 0x33;
constexpr int kRecordSize = 131;
constexpr int kRecordHeader = 3; // AddrHi, AddrLo, Key

// Command mode
constexpr std::uint8_t kChannelClose = 0x53; // "S"
constexpr std::uint8_t kSetAddressHigh = 0x00;
constexpr std::uint8_t kSetAddressLow = 0x01;
constexpr std::uint8_t kWrite = 0x02;
constexpr std::uint8_t kRead = 0x03;
constexpr std::uint8_t kWriteBus = 0x04;
constexpr std::uint8_t kInternalBus = 0x08;
constexpr std::uint8_t kExternalBus = 0x09;

// Pass-through frame: 0x3A, command, address high, address low, value, 0xC5.
constexpr std::uint8_t kFrameOpen = 0x3A;
constexpr std::uint8_t kFrameClose = 0xC5;
constexpr std::size_t kFrameSize = 6;
constexpr std::uint8_t kFrameRead = 3;

bool IsCommandByte(std::uint8_t byte)
{
    switch (byte) {
    case kSetAddressHigh:
    case kSetAddressLow:
    case kWrite:
    case kRead:
    case kWriteBus:
    case kInternalBus:
    case kExternalBus:
        return true;
    default:
        return false;
    }
}

bool IsLoader(Mode mode)
{
    return mode != Mode::Command;
}

} // namespace

BoardCore::BoardCore(Options options) : options_(std::move(options)), mode_(options_.mode)
{
    for (auto& processor : memory_) processor.fill(0xFF);
    if (IsLoader(mode_)) EnterLoader(mode_);
}

// ---- Time line ----------------------------------------------------------

// When a byte that may start at `startUs` has crossed `wire`: with pacing it
// waits for the line to be free and then takes its 10 bits of wire time.
std::int64_t BoardCore::WireEnd(Wire& wire, std::int64_t startUs) const
{
    const std::int64_t begin = std::max(startUs, wire.freeAtUs);
    wire.freeAtUs = begin + (options_.pace38400 ? kByteWireUs : 0);
    return wire.freeAtUs;
}

void BoardCore::Send(const Bytes& bytes, std::int64_t startUs)
{
    if (options_.faults.silent || dropReplies_ || bytes.empty()) return;
    for (const std::uint8_t byte : bytes) toTool_.inFlight.push_back({WireEnd(toTool_, startUs), byte});
    toTool_.inFlight.back().endsReply = true;
}

void BoardCore::Reply(const Bytes& bytes, std::int64_t receivedUs)
{
    Send(bytes, receivedUs + options_.turnaroundUs + options_.faults.replyDelayUs);
}

void BoardCore::ByteArrived(std::uint8_t byte, std::int64_t arrivalUs)
{
    toBoard_.inFlight.push_back({WireEnd(toBoard_, arrivalUs), byte});
}

std::vector<Crossing> BoardCore::Advance(std::int64_t nowUs)
{
    std::vector<Crossing> crossed;
    for (;;) {
        auto& in = toBoard_.inFlight;
        auto& out = toTool_.inFlight;
        const bool outDue = !out.empty() && out.front().atUs <= nowUs;
        const bool inDue = !in.empty() && in.front().atUs <= nowUs;
        if (!outDue && !inDue) break;
        // On a tie the reply goes first: it was caused by an earlier byte.
        if (outDue && (!inDue || out.front().atUs <= in.front().atUs)) {
            crossed.push_back({{out.front().atUs, false, out.front().byte}, out.front().endsReply});
            out.pop_front();
        } else {
            const Timed taken = in.front();
            in.pop_front();
            crossed.push_back({{taken.atUs, true, taken.byte}});
            Take(taken.byte, taken.atUs);
        }
    }
    return crossed;
}

std::optional<std::int64_t> BoardCore::NextDueUs() const
{
    std::optional<std::int64_t> next;
    for (const Wire* wire : {&toBoard_, &toTool_}) {
        if (wire->inFlight.empty()) continue;
        const std::int64_t at = wire->inFlight.front().atUs;
        if (!next || at < *next) next = at;
    }
    return next;
}

// ---- Port ---------------------------------------------------------------

void BoardCore::PortOpened(std::int64_t nowUs)
{
    portOpen_ = true;
    ++portOpenings_;
    toBoard_.freeAtUs = toTool_.freeAtUs = nowUs;
    if (mode_ == Mode::PowerOn && loaderStep_ == LoaderStep::AwaitStart && !loaderHeardTool_)
        RequestRecord(nowUs + options_.powerOnDelayUs);
}

std::vector<Crossing> BoardCore::PortClosed(std::int64_t nowUs)
{
    // What the tool wrote before closing still reaches the board; the board's
    // answers no longer reach anybody.
    toTool_.inFlight.clear();
    dropReplies_ = true;
    const std::int64_t lastIn = toBoard_.inFlight.empty() ? nowUs : toBoard_.inFlight.back().atUs;
    std::vector<Crossing> taken = Advance(std::max(nowUs, lastIn));
    dropReplies_ = false;
    portOpen_ = false;

    if (IsLoader(mode_) && loaderHeardTool_) {
        // The tool is done with the loader: the board restarts into its program.
        mode_ = Mode::Command;
    } else if (IsLoader(mode_)) {
        EnterLoader(mode_); // nothing happened: the loader waits as before
    }
    ResetCommandSession();
    return taken;
}

// ---- Loader -------------------------------------------------------------

void BoardCore::Take(std::uint8_t byte, std::int64_t atUs)
{
    if (IsLoader(mode_))
        TakeLoader(byte, atUs);
    else
        TakeCommand(byte, atUs);
}

void BoardCore::EnterLoader(Mode mode)
{
    mode_ = mode;
    loaderStep_ = mode == Mode::PowerOn ? LoaderStep::AwaitStart : LoaderStep::Handshake;
    loaderHeardTool_ = false;
    sessionRecord_ = 1;
}

void BoardCore::TakeLoader(std::uint8_t byte, std::int64_t atUs)
{
    loaderHeardTool_ = true;
    switch (loaderStep_) {
    case LoaderStep::Handshake:
        TakeHandshake(byte, atUs);
        return;
    case LoaderStep::AwaitStart:
        if (byte == kRecordStart) BeginAttempt(atUs);
        return; // anything else is not a record start: the loader keeps waiting
    case LoaderStep::RecordBytes:
        TakeRecordByte(byte, atUs);
        return;
    case LoaderStep::MismatchCount:
        FinishAttempt(byte, atUs);
        return;
    }
}

// Bytes other than the three handshake bytes are ignored.
void BoardCore::TakeHandshake(std::uint8_t byte, std::int64_t atUs)
{
    if (byte == kOpening) {
        Reply({options_.faults.handshakeReply.value_or(kOpeningReply)}, atUs);
    } else if (byte == kHandshake2) {
        Reply({kHandshake2}, atUs);
    } else if (byte == kHandshake3) {
        Reply({kHandshake3}, atUs);
        RequestRecord(atUs + options_.turnaroundUs + options_.faults.replyDelayUs);
    }
}

void BoardCore::RequestRecord(std::int64_t startUs)
{
    Send({options_.faults.requestByte.value_or(kRecordRequest)}, startUs);
    loaderStep_ = LoaderStep::AwaitStart;
}

void BoardCore::BeginAttempt(std::int64_t atUs)
{
    Reply({kRecordStart}, atUs);
    receivedCount_ = 0;
    ownEchoWrong_ = false;
    loaderStep_ = LoaderStep::RecordBytes;
}

void BoardCore::TakeRecordByte(std::uint8_t byte, std::int64_t atUs)
{
    const std::uint8_t echo = EchoOf(byte);
    ownEchoWrong_ = ownEchoWrong_ || echo != byte;
    received_[static_cast<std::size_t>(receivedCount_++)] = byte;
    Reply({echo}, atUs);
    if (receivedCount_ == kRecordSize) loaderStep_ = LoaderStep::MismatchCount;
}

std::uint8_t BoardCore::EchoOf(std::uint8_t byte)
{
    const Faults& f = options_.faults;
    const bool here = f.echoRecord == sessionRecord_ && f.echoByte == receivedCount_;
    if (!here || (echoFaultUsed_ && !f.echoEveryTime)) return byte;
    echoFaultUsed_ = true;
    return static_cast<std::uint8_t>(byte ^ 0xFF);
}

void BoardCore::FinishAttempt(std::uint8_t mismatchCount, std::int64_t atUs)
{
    const Faults& f = options_.faults;
    const bool nak = f.nakRecord == sessionRecord_ && naksSent_ < f.nakTimes;
    const bool clean = mismatchCount == 0 && !ownEchoWrong_;
    const bool accepted = !nak && (clean || f.ackDespiteMismatch);
    if (nak) {
        ++naksSent_;
        Reply({f.nakBytes[0], f.nakBytes[1]}, atUs);
    } else {
        Reply(accepted ? Bytes{kAccepted, kAccepted} : Bytes{kRefused, kRefused}, atUs);
    }
    if (accepted) {
        StoreRecord(received_.data(), options_.mirrorProcessor2);
        ++recordsProgrammed_;
        ++sessionRecord_;
    }
    // The next record, or the same one again after a failed attempt.
    RequestRecord(atUs + options_.turnaroundUs + f.replyDelayUs);
}

// Removes the key and writes the data; the low address byte wraps within its page.
void BoardCore::StoreRecord(const std::uint8_t* stored, bool bothProcessors)
{
    const std::uint8_t key = stored[2];
    const auto plain = [key](std::uint8_t byte) { return static_cast<std::uint8_t>(byte - key); };
    const std::uint8_t high = plain(stored[0]);
    const std::uint8_t low = plain(stored[1]);
    for (int k = 0; k < kRecordSize - kRecordHeader; ++k) {
        const auto address = static_cast<std::uint16_t>(high << 8 | static_cast<std::uint8_t>(low + k));
        const std::uint8_t value = plain(stored[kRecordHeader + k]);
        memory_[0][address] = value;
        if (bothProcessors) memory_[1][address] = value;
    }
}

void BoardCore::ProgramImage(const std::vector<std::uint8_t>& fileBytes)
{
    for (std::size_t at = 0; at + kRecordSize <= fileBytes.size(); at += kRecordSize)
        StoreRecord(fileBytes.data() + at, options_.mirrorProcessor2);
}

void BoardCore::SetSilent(bool silent)
{
    options_.faults.silent = silent;
    if (silent) toTool_.inFlight.clear();
}

// ---- Command mode -------------------------------------------------------

void BoardCore::ResetCommandSession()
{
    channelOpen_ = true;
    lastWasOpening_ = false;
    pendingCommand_.reset();
    for (auto& frame : frames_) frame.clear();
    silenced_ = false;
}

void BoardCore::TakeCommand(std::uint8_t byte, std::int64_t atUs)
{
    if (options_.faults.neverRestart || silenced_) return;
    if (pendingCommand_) {
        TakeOperand(byte, atUs);
        return;
    }
    const bool afterOpening = lastWasOpening_;
    lastWasOpening_ = byte == kOpening;
    if (byte == kOpening) {
        channelOpen_ = true;
        CommandReply({options_.faults.handshakeReply.value_or(kOpeningReply)}, atUs);
        return;
    }
    if (!channelOpen_) return;
    if (byte == kChannelClose) {
        channelOpen_ = false;
        return;
    }
    if (byte == kHandshake2 && afterOpening) {
        // 0xCA, 0x05 is the tool's boot handshake: back to the loader for a new image.
        EnterLoader(Mode::Handshake);
        loaderHeardTool_ = true;
        Reply({kHandshake2}, atUs);
        return;
    }
    if (!IsCommandByte(byte)) return;
    const auto& silentAt = options_.faults.silentAtVerifyAddress;
    if (byte == kRead && silentAt && *silentAt == Address() && !silentAddressUsed_) {
        silentAddressUsed_ = silenced_ = true;
        return;
    }
    pendingCommand_ = byte;
    CommandReply({byte}, atUs);
}

void BoardCore::TakeOperand(std::uint8_t byte, std::int64_t atUs)
{
    const std::uint8_t command = *pendingCommand_;
    pendingCommand_.reset();
    std::uint8_t result = byte;
    switch (command) {
    case kSetAddressHigh:
        addressHigh_ = byte;
        break;
    case kSetAddressLow:
        addressLow_ = byte;
        break;
    case kRead:
        result = Read(1, Address());
        break;
    case kWrite:
    case kWriteBus:
        memory_[0][Address()] = byte;
        result = Read(1, Address());
        break;
    default: // kInternalBus, kExternalBus
        result = PassThrough(command, byte);
        break;
    }
    CommandReply({byte, result}, atUs);
}

void BoardCore::CommandReply(Bytes bytes, std::int64_t atUs)
{
    if (options_.faults.extraReplyByte) bytes.push_back(bytes.back());
    Reply(bytes, atUs);
}

// The result of one pass-through byte: its echo, except the closing byte of a
// read frame on the internal bus, which brings processor 2's memory byte.
std::uint8_t BoardCore::PassThrough(std::uint8_t bus, std::uint8_t byte)
{
    Bytes& frame = frames_[bus == kInternalBus ? 0 : 1];
    if (frame.empty() && byte != kFrameOpen) return byte;
    frame.push_back(byte);
    if (frame.size() < kFrameSize) return byte;
    const Bytes done = frame;
    frame.clear();
    const bool read = bus == kInternalBus && done[1] == kFrameRead && done[5] == kFrameClose;
    return read ? Read(2, static_cast<std::uint16_t>(done[2] << 8 | done[3])) : byte;
}

std::uint16_t BoardCore::Address() const
{
    return static_cast<std::uint16_t>(addressHigh_ << 8 | addressLow_);
}

// ---- Memory -------------------------------------------------------------

std::uint8_t BoardCore::Read(int processor, std::uint16_t address) const
{
    const auto& wrong = processor == 1 ? options_.faults.wrongMemory1 : options_.faults.wrongMemory2;
    const auto it = wrong.find(address);
    return it != wrong.end() ? it->second : Memory(processor, address);
}

std::uint8_t BoardCore::Memory(int processor, std::uint16_t address) const
{
    return memory_[processor == 2 ? 1 : 0][address];
}

void BoardCore::SetMemory(int processor, std::uint16_t address, std::uint8_t value)
{
    memory_[processor == 2 ? 1 : 0][address] = value;
}

} // namespace boardsim
