#include "bench/BenchOptions.h"

#include <sstream>
#include <stdexcept>

namespace bench {
namespace {

constexpr Mode kAllModes[] = {Mode::Programming, Mode::FullVerify, Mode::FastVerify, Mode::FullVerifyUp2};

int Count(const std::string& text, int low)
{
    std::size_t used = 0;
    const int value = std::stoi(text, &used);
    if (used != text.size() || value < low) throw std::invalid_argument(text);
    return value;
}

std::vector<std::string> Items(const std::string& list)
{
    std::vector<std::string> items;
    std::stringstream in(list);
    for (std::string item; std::getline(in, item, ',');) items.push_back(item);
    return items;
}

Mode ModeNamed(const std::string& name)
{
    for (const Mode mode : kAllModes)
        if (name == ModeName(mode)) return mode;
    throw std::invalid_argument("unknown mode " + name);
}

} // namespace

const char* ModeName(Mode mode)
{
    switch (mode) {
    case Mode::Programming: return "programming";
    case Mode::FullVerify: return "full";
    case Mode::FastVerify: return "fast";
    case Mode::FullVerifyUp2: return "up2";
    }
    return "?";
}

std::string BenchUsage()
{
    return R"(Usage: flash-bench [options]

Whole Download runs of the real window against the simulated board on a
pseudo-terminal, each alternated with a minimal reference client doing the
same byte exchanges; prints wall and CPU times, ratios and peak memory.

  --records N          records of the unpaced image (64; 512 fill the 64 KiB)
  --paced-records N    records of the image paced at 38400 baud (8)
  --repeats N          tool/reference pairs per unpaced mode (5)
  --paced-repeats N    tool/reference pairs per paced mode (2)
  --modes LIST         of programming,full,fast,up2 (all)
  --no-unpaced         leaves out the unpaced runs
  --no-paced           leaves out the paced runs
  --memory LIST        image sizes of the peak-memory runs (1,10000); "none" leaves them out
  --help               shows this text
)";
}

BenchOptions ParseBenchOptions(const std::vector<std::string>& args)
{
    BenchOptions options;
    try {
        for (std::size_t i = 0; i < args.size(); ++i) {
            const std::string& arg = args[i];
            const auto value = [&]() -> const std::string& {
                if (i + 1 >= args.size()) throw std::invalid_argument(arg + " needs a value");
                return args[++i];
            };
            if (arg == "--help") {
                options.help = true;
            } else if (arg == "--records") {
                options.records = Count(value(), 1);
            } else if (arg == "--paced-records") {
                options.pacedRecords = Count(value(), 1);
            } else if (arg == "--repeats") {
                options.repeats = Count(value(), 1);
            } else if (arg == "--paced-repeats") {
                options.pacedRepeats = Count(value(), 1);
            } else if (arg == "--modes") {
                options.modes.clear();
                for (const std::string& name : Items(value())) options.modes.push_back(ModeNamed(name));
            } else if (arg == "--no-unpaced") {
                options.unpaced = false;
            } else if (arg == "--no-paced") {
                options.paced = false;
            } else if (arg == "--memory") {
                options.memoryRecords.clear();
                const std::string list = value();
                if (list != "none")
                    for (const std::string& n : Items(list)) options.memoryRecords.push_back(Count(n, 1));
            } else {
                throw std::invalid_argument("unknown option " + arg);
            }
        }
    } catch (const std::exception& error) {
        options.error = error.what();
    }
    return options;
}

} // namespace bench
