#include "bench/MemoryProbe.h"

#include "bench/BenchBoard.h"
#include "bench/Image.h"
#include "bench/ToolDriver.h"

#include <cstdio>
#include <spawn.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace bench {

MemoryFigure MeasurePeakMemory(int records, const std::string& folder)
{
    const std::string image = folder + "/MEMORY" + std::to_string(records) + ".FRM";
    WriteImage(image, records);

    std::string self = "/proc/self/exe";
    std::string flag = kMemoryChildFlag;
    std::string path = image;
    char* argv[] = {self.data(), flag.data(), path.data(), nullptr};
    pid_t child = 0;
    if (::posix_spawn(&child, self.c_str(), nullptr, nullptr, argv, environ) != 0)
        throw std::runtime_error("cannot start the memory run");
    int status = 0;
    rusage usage{};
    if (::wait4(child, &status, 0, &usage) != child) throw std::runtime_error("lost the memory run");
    std::remove(image.c_str());
    return {records, usage.ru_maxrss, WIFEXITED(status) && WEXITSTATUS(status) == 0};
}

int MemoryChildRun(const std::string& imagePath)
{
    boardsim::Options options;
    options.mode = boardsim::Mode::Command;
    BenchBoard board(options);
    PreloadBoard(board.Sim(), imagePath);
    ToolDriver tool(board.Device());
    RunChoice choice;
    choice.imagePath = imagePath;
    choice.verifyOnly = true;
    choice.fast = true;
    const ToolRun run = tool.Run(choice);
    if (!run.Succeeded()) std::fprintf(stderr, "memory run: %s\n", qPrintable(run.finalStatus + run.error));
    return run.Succeeded() ? 0 : 1;
}

} // namespace bench
