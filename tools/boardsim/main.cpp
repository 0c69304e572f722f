// board-sim: a simulated target board on a pseudo-terminal, for the demo and
// for trying the updater without hardware. Prints the device to connect to on
// its first line and plays the board until SIGINT or SIGTERM.

#include "tools/boardsim/BoardSim.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using boardsim::Options;

constexpr const char* kUsage = R"(Usage: board-sim [options]

Opens a pseudo-terminal, prints its device path on the first line and plays
the target board on it until interrupted (Ctrl-C or SIGTERM).

Board:
  --mode MODE             handshake (default): the loader awaits the boot handshake
                          poweron: the loader sends 0xAA by itself when the port opens
                          command: the board has restarted and answers memory commands
  --power-on-delay-us N   power-on mode: time from the port opening to the first 0xAA (20000)
  --no-mirror             processor 2 keeps its own memory instead of what is programmed
  --preload FILE          memory starts holding the image of this firmware file
  --pace                  every byte takes its wire time at 38400 baud (260 us)
  --turnaround-us N       extra latency before every reply (a USB adapter's 1000 or 16000)

Output:
  --device-file FILE      also writes the device path to FILE once it is ready
  --transcript FILE       writes every byte on the line to FILE: time (us), side, hex value
  --write-sample FILE     writes a sample firmware file to FILE and exits
  --records N             records in the sample file (10)

Faults:
  --silent                never sends a byte
  --handshake-reply B     answers 0xCA with B instead of "5" (0x35)
  --request-byte B        sends B instead of the record request 0xAA
  --wrong-echo R:I        echoes byte I (0..130) of record R (from 1) XOR 0xFF, once
  --echo-every-time       the wrong echo comes on every attempt, not once
  --nak R:N               acknowledges record R with two other bytes, N times
  --nak-bytes B1,B2       the bytes --nak sends instead of 0xCC 0xCC (0x33,0x33)
  --ack-despite-mismatch  answers 0xCC 0xCC whatever the mismatch count
  --never-restart         the command mode answers nothing (the channel never opens)
  --silent-at ADDR        stops answering at the first memory read of ADDR,
                          until the port is closed
  --wrong-memory1 A=V     processor 1 reads V at address A (repeatable)
  --wrong-memory2 A=V     processor 2 reads V at address A (repeatable)
  --extra-reply-byte      every reply of the command mode gets one byte more
  --reply-delay-us N      every reply comes N us later

Numbers may be decimal or 0x-prefixed hexadecimal.
  --help                  shows this text
)";

struct Arguments {
    Options options;
    std::string deviceFile;
    std::string transcript;
    std::string sampleFile;
    std::string preload;
    int sampleRecords = 10;
    bool help = false;
};

long Number(const std::string& text, long low, long high)
{
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || value < low || value > high)
        throw std::invalid_argument("not a number from " + std::to_string(low) + " to " + std::to_string(high) +
                                    ": " + text);
    return value;
}

std::uint8_t Byte(const std::string& text)
{
    return static_cast<std::uint8_t>(Number(text, 0, 255));
}

std::uint16_t Address(const std::string& text)
{
    return static_cast<std::uint16_t>(Number(text, 0, 0xFFFF));
}

// "left<sep>right" split once.
std::pair<std::string, std::string> Pair(const std::string& text, char separator)
{
    const auto at = text.find(separator);
    if (at == std::string::npos) throw std::invalid_argument(std::string("expected X") + separator + "Y: " + text);
    return {text.substr(0, at), text.substr(at + 1)};
}

boardsim::Mode ModeNamed(const std::string& name)
{
    if (name == "handshake") return boardsim::Mode::Handshake;
    if (name == "poweron") return boardsim::Mode::PowerOn;
    if (name == "command") return boardsim::Mode::Command;
    throw std::invalid_argument("unknown mode: " + name);
}

// Options without a value; false when `name` is not one of them.
bool TakeFlag(const std::string& name, Arguments& args)
{
    boardsim::Faults& f = args.options.faults;
    if (name == "--help") args.help = true;
    else if (name == "--pace") args.options.pace38400 = true;
    else if (name == "--no-mirror") args.options.mirrorProcessor2 = false;
    else if (name == "--silent") f.silent = true;
    else if (name == "--echo-every-time") f.echoEveryTime = true;
    else if (name == "--ack-despite-mismatch") f.ackDespiteMismatch = true;
    else if (name == "--never-restart") f.neverRestart = true;
    else if (name == "--extra-reply-byte") f.extraReplyByte = true;
    else return false;
    return true;
}

void TakeValue(const std::string& name, const std::string& value, Arguments& args)
{
    boardsim::Faults& f = args.options.faults;
    if (name == "--mode") {
        args.options.mode = ModeNamed(value);
    } else if (name == "--power-on-delay-us") {
        args.options.powerOnDelayUs = static_cast<int>(Number(value, 0, 60'000'000));
    } else if (name == "--turnaround-us") {
        args.options.turnaroundUs = static_cast<int>(Number(value, 0, 60'000'000));
    } else if (name == "--preload") {
        args.preload = value;
    } else if (name == "--device-file") {
        args.deviceFile = value;
    } else if (name == "--transcript") {
        args.transcript = value;
    } else if (name == "--write-sample") {
        args.sampleFile = value;
    } else if (name == "--records") {
        args.sampleRecords = static_cast<int>(Number(value, 1, 256));
    } else if (name == "--handshake-reply") {
        f.handshakeReply = Byte(value);
    } else if (name == "--request-byte") {
        f.requestByte = Byte(value);
    } else if (name == "--wrong-echo") {
        const auto [record, byte] = Pair(value, ':');
        f.echoRecord = static_cast<int>(Number(record, 1, 1'000'000));
        f.echoByte = static_cast<int>(Number(byte, 0, 130));
    } else if (name == "--nak") {
        const auto [record, times] = Pair(value, ':');
        f.nakRecord = static_cast<int>(Number(record, 1, 1'000'000));
        f.nakTimes = static_cast<int>(Number(times, 0, 1'000'000));
    } else if (name == "--nak-bytes") {
        const auto [first, second] = Pair(value, ',');
        f.nakBytes = {Byte(first), Byte(second)};
    } else if (name == "--silent-at") {
        f.silentAtVerifyAddress = Address(value);
    } else if (name == "--wrong-memory1" || name == "--wrong-memory2") {
        const auto [address, byte] = Pair(value, '=');
        auto& wrong = name == "--wrong-memory1" ? f.wrongMemory1 : f.wrongMemory2;
        wrong[Address(address)] = Byte(byte);
    } else if (name == "--reply-delay-us") {
        f.replyDelayUs = static_cast<int>(Number(value, 0, 60'000'000));
    } else {
        throw std::invalid_argument("unknown option: " + name);
    }
}

bool TakesValue(const std::string& name)
{
    static const std::vector<std::string> names{
        "--mode", "--power-on-delay-us", "--turnaround-us", "--preload", "--device-file", "--transcript",
        "--write-sample", "--records", "--handshake-reply", "--request-byte", "--wrong-echo", "--nak",
        "--nak-bytes", "--silent-at", "--wrong-memory1", "--wrong-memory2", "--reply-delay-us"};
    return std::find(names.begin(), names.end(), name) != names.end();
}

Arguments Parse(const std::vector<std::string>& words)
{
    Arguments args;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (TakeFlag(words[i], args)) continue;
        if (!TakesValue(words[i])) throw std::invalid_argument("unknown option: " + words[i]);
        if (i + 1 == words.size()) throw std::invalid_argument("missing value after " + words[i]);
        TakeValue(words[i], words[i + 1], args);
        ++i;
    }
    return args;
}

std::vector<std::uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

// Written under another name and renamed, so a script waiting for the file
// never reads half a path.
void PublishDevice(const std::string& path, const std::string& device)
{
    const std::string partial = path + ".partial";
    {
        std::ofstream out(partial);
        out << device << '\n';
        if (!out) throw std::runtime_error("cannot write " + partial);
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot write " + path);
}

int Play(const Arguments& args)
{
    // Blocked before the board's thread starts, so that only sigwait sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    boardsim::BoardSim board(args.options);
    if (!args.preload.empty()) board.ProgramImage(ReadFile(args.preload));
    if (!args.transcript.empty()) board.TranscriptToFile(args.transcript);
    board.Start();
    std::printf("%s\n", board.DevicePath().c_str());
    std::fflush(stdout);
    if (!args.deviceFile.empty()) PublishDevice(args.deviceFile, board.DevicePath());

    int signal = 0;
    sigwait(&stop, &signal);
    board.Stop();
    std::fprintf(stderr, "board-sim: %d record(s) programmed, port opened %d time(s)\n",
                 board.RecordsProgrammed(), board.PortOpenings());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const Arguments args = Parse(std::vector<std::string>(argv + 1, argv + argc));
        if (args.help) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (!args.sampleFile.empty()) {
            WriteFile(args.sampleFile, boardsim::EncodeFirmware(boardsim::SampleImage(args.sampleRecords)));
            return 0;
        }
        return Play(args);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "board-sim: %s\n(see board-sim --help)\n", error.what());
        return 2;
    }
}
