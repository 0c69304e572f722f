// flash-bench: whole Download runs of the real window against the simulated
// board, next to a minimal reference client, with and without the 38400-baud
// pacing; then the peak memory of a small and a large image. Prints tables.

#include "bench/BenchOptions.h"
#include "bench/Image.h"
#include "bench/Measure.h"
#include "bench/MemoryProbe.h"
#include "bench/Series.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/utsname.h>
#include <thread>

namespace {

using namespace bench;

const char* ModeTitle(Mode mode)
{
    switch (mode) {
    case Mode::Programming: return "programming (phase alone)";
    case Mode::FullVerify: return "full verify";
    case Mode::FastVerify: return "fast verify";
    case Mode::FullVerifyUp2: return "full verify + uP2";
    }
    return "?";
}

std::string CpuModel()
{
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);)
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown CPU";
}

void PrintMachine()
{
    utsname system{};
    ::uname(&system);
    std::printf("Machine: %u cores, %s, Linux %s\n", std::thread::hardware_concurrency(), CpuModel().c_str(),
                system.release);
    std::printf("Tool: the real window (offscreen platform), its CPU from getrusage(RUSAGE_THREAD) on its\n"
                "thread; the simulated board plays on a thread of its own in the same process. ref: the\n"
                "minimal reference client. Programming: the phase alone, from the click to \"RESTARTING IN\n"
                "3 SEC\" (the restart wait and the verification after it left out). same bytes: every run\n"
                "of the series, tool and reference, sent the very same bytes.\n\n");
}

std::string Image(int records)
{
    return std::to_string(records) + (records == 1 ? " record" : " records");
}

const char* YesNo(bool yes)
{
    return yes ? "yes" : "NO";
}

void PrintProblems(const SeriesResult& r)
{
    for (const std::string& problem : r.problems) std::printf("  ! %s: %s\n", ModeName(r.setup.mode), problem.c_str());
}

void UnpacedHeader()
{
    std::printf("Unpaced (the board answers at once); medians; target: tool/ref at most 1.10\n\n"
                "| mode | image | pairs | tool wall s | tool CPU s (user+sys) | ref wall s | ref CPU s | tool/ref "
                "| same bytes |\n"
                "|---|---|---|---|---|---|---|---|---|\n");
}

void UnpacedRow(const SeriesResult& r)
{
    std::printf("| %s | %s | %d | %.3f | %.3f (%.3f+%.3f) | %.3f | %.3f | %.3f | %s |\n", ModeTitle(r.setup.mode),
                Image(r.setup.records).c_str(), r.setup.pairs, r.ToolWallMedian(), r.ToolCpuMedian(),
                r.ToolUserMedian(), r.ToolSystemMedian(), r.RefWallMedian(), r.RefCpuMedian(),
                r.ToolWallMedian() / r.RefWallMedian(), YesNo(r.sameBytesSent));
    std::fflush(stdout);
}

void PacedHeader()
{
    std::printf("Paced at 38400 baud (each byte 10 bits on the wire); medians; wire limit: the bytes of both\n"
                "directions at 10 bits each; targets: tool/ref at most 1.05, tool CPU at most 2 %% of one core\n\n"
                "| mode | image | pairs | line bytes | wire limit s | tool wall s | tool/wire | ref wall s "
                "| ref/wire | tool/ref | tool CPU/wall | ref CPU/wall | same bytes |\n"
                "|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
}

void PacedRow(const SeriesResult& r)
{
    const double wire = WireSeconds(r.toolLineBytes);
    std::printf("| %s | %s | %d | %lld | %.3f | %.3f | %.3f | %.3f | %.3f | %.3f | %.2f %% | %.2f %% | %s |\n",
                ModeTitle(r.setup.mode), Image(r.setup.records).c_str(), r.setup.pairs,
                static_cast<long long>(r.toolLineBytes), wire, r.ToolWallMedian(), r.ToolWallMedian() / wire,
                r.RefWallMedian(), r.RefWallMedian() / WireSeconds(r.refLineBytes),
                r.ToolWallMedian() / r.RefWallMedian(), 100 * r.ToolCpuShare(), 100 * r.RefCpuShare(),
                YesNo(r.sameBytesSent));
    std::fflush(stdout);
}

void RunSeriesTable(const BenchOptions& options, bool paced, const std::string& folder)
{
    const int records = paced ? options.pacedRecords : options.records;
    const std::string image = folder + (paced ? "/PACED.FRM" : "/UNPACED.FRM");
    WriteImage(image, records);
    paced ? PacedHeader() : UnpacedHeader();
    std::vector<SeriesResult> results;
    for (const Mode mode : options.modes) {
        results.push_back(RunSeries({mode, paced, image, records, paced ? options.pacedRepeats : options.repeats}));
        paced ? PacedRow(results.back()) : UnpacedRow(results.back());
    }
    for (const SeriesResult& r : results) PrintProblems(r);
    std::printf("\n");
}

void RunMemoryTable(const BenchOptions& options, const std::string& folder)
{
    std::printf("Peak resident memory of a whole fast Verify ONLY run, each in a fresh process\n"
                "(ru_maxrss from wait4); target: within 2 MiB\n\n"
                "| image | peak RSS MiB | run |\n|---|---|---|\n");
    long lowest = 0;
    long highest = 0;
    for (const int records : options.memoryRecords) {
        const MemoryFigure figure = MeasurePeakMemory(records, folder);
        std::printf("| %s | %.2f | %s |\n", Image(records).c_str(), figure.peakKiB / 1024.0,
                    figure.clean ? "clean" : "FAILED");
        std::fflush(stdout);
        lowest = lowest == 0 ? figure.peakKiB : std::min(lowest, figure.peakKiB);
        highest = std::max(highest, figure.peakKiB);
    }
    std::printf("\nSpread: %.2f MiB\n\n", (highest - lowest) / 1024.0);
}

std::string MakeFolder()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "flash-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    return pattern;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 3 && std::string(argv[1]) == kMemoryChildFlag) {
        QApplication application(argc, argv);
        return MemoryChildRun(argv[2]);
    }
    const BenchOptions options = ParseBenchOptions({argv + 1, argv + argc});
    if (options.help || !options.error.empty()) {
        if (!options.error.empty()) std::fprintf(stderr, "%s\n\n", options.error.c_str());
        std::fputs(BenchUsage().c_str(), options.help ? stdout : stderr);
        return options.help ? 0 : 2;
    }

    QApplication application(argc, argv);
    const std::string folder = MakeFolder();
    PrintMachine();
    try {
        if (options.unpaced) RunSeriesTable(options, false, folder);
        if (options.paced) RunSeriesTable(options, true, folder);
        if (!options.memoryRecords.empty()) RunMemoryTable(options, folder);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "flash-bench: %s\n", error.what());
        std::filesystem::remove_all(folder);
        return 1;
    }
    std::filesystem::remove_all(folder);
    return 0;
}
