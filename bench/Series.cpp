#include "bench/Series.h"

#include "bench/BenchBoard.h"
#include "bench/Image.h"
#include "bench/Measure.h"
#include "bench/ReferenceClient.h"
#include "bench/ToolDriver.h"

#include <optional>

namespace bench {
namespace {

boardsim::Options BoardFor(const SeriesSetup& setup)
{
    boardsim::Options options;
    options.mode = setup.mode == Mode::Programming ? boardsim::Mode::Handshake : boardsim::Mode::Command;
    options.pace38400 = setup.paced;
    return options;
}

// A programming run verifies afterwards too; fast and without uP2 keeps that
// tail short, and it is not part of the figures.
RunChoice ToolChoice(const SeriesSetup& setup)
{
    RunChoice choice;
    choice.imagePath = setup.imagePath;
    choice.verifyOnly = setup.mode != Mode::Programming;
    choice.fast = setup.mode == Mode::FastVerify || setup.mode == Mode::Programming;
    choice.secondProcessor = setup.mode == Mode::FullVerifyUp2;
    return choice;
}

std::vector<double> Shares(const std::vector<double>& cpu, const std::vector<double>& wall)
{
    std::vector<double> shares;
    for (std::size_t i = 0; i < cpu.size() && i < wall.size(); ++i) shares.push_back(wall[i] > 0 ? cpu[i] / wall[i] : 0);
    return shares;
}

std::vector<double> Sums(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> sums;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) sums.push_back(a[i] + b[i]);
    return sums;
}

class SeriesRunner {
public:
    explicit SeriesRunner(const SeriesSetup& setup)
        : setup_(setup), board_(BoardFor(setup)), tool_(board_.Device()), reference_(board_.Device())
    {
        if (setup.mode != Mode::Programming) PreloadBoard(board_.Sim(), setup.imagePath);
        result_.setup = setup;
    }

    SeriesResult Run()
    {
        for (int pair = 0; pair < setup_.pairs; ++pair) {
            RunTool();
            RunReference();
        }
        return result_;
    }

private:
    void RunTool()
    {
        board_.ResetTally();
        const ToolRun run = tool_.Run(ToolChoice(setup_), [this] { board_.SplitNow(); });
        const LineBytes bytes = board_.Tally().before;
        const Span span = setup_.mode == Mode::Programming ? run.programming.value_or(Span{}) : run.whole;
        if (!run.Succeeded() || (setup_.mode == Mode::Programming && !run.programming))
            Problem("tool: " + run.finalStatus.toStdString() + " " + run.error.toStdString() + " (" +
                    std::to_string(run.logLines) + " log lines)");
        result_.toolWallS.push_back(span.wallS);
        result_.toolUserS.push_back(span.cpu.userS);
        result_.toolSystemS.push_back(span.cpu.systemS);
        result_.toolLineBytes = bytes.Total();
        Compare(bytes);
    }

    void RunReference()
    {
        board_.ResetTally();
        const RunChoice choice = ToolChoice(setup_);
        const Stopwatch stopwatch;
        bool clean = true;
        if (setup_.mode == Mode::Programming) {
            clean = reference_.Program(setup_.imagePath);
        } else {
            clean = reference_.Verify(setup_.imagePath, choice.fast, choice.secondProcessor) == 0;
        }
        const Span span = stopwatch.End();
        const LineBytes bytes = board_.Tally().before;
        if (!clean) Problem("reference client: the run did not end clean");
        result_.refWallS.push_back(span.wallS);
        result_.refCpuS.push_back(span.cpu.TotalS());
        result_.refLineBytes = bytes.Total();
        Compare(bytes);
    }

    void Compare(const LineBytes& bytes)
    {
        if (!sent_) sent_ = bytes;
        if (bytes.fromTool != sent_->fromTool || bytes.toolFingerprint != sent_->toolFingerprint)
            result_.sameBytesSent = false;
    }

    void Problem(const std::string& text) { result_.problems.push_back(text); }

    SeriesSetup setup_;
    BenchBoard board_;
    ToolDriver tool_;
    ReferenceClient reference_;
    SeriesResult result_;
    std::optional<LineBytes> sent_;
};

} // namespace

SeriesResult RunSeries(const SeriesSetup& setup)
{
    return SeriesRunner(setup).Run();
}

double SeriesResult::ToolWallMedian() const { return Median(toolWallS); }
double SeriesResult::ToolCpuMedian() const { return Median(Sums(toolUserS, toolSystemS)); }
double SeriesResult::ToolUserMedian() const { return Median(toolUserS); }
double SeriesResult::ToolSystemMedian() const { return Median(toolSystemS); }
double SeriesResult::RefWallMedian() const { return Median(refWallS); }
double SeriesResult::RefCpuMedian() const { return Median(refCpuS); }
double SeriesResult::ToolCpuShare() const { return Median(Shares(Sums(toolUserS, toolSystemS), toolWallS)); }
double SeriesResult::RefCpuShare() const { return Median(Shares(refCpuS, refWallS)); }

} // namespace bench
