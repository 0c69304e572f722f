#pragma once

// Drives the real window through whole Download runs, as an operator would:
// ticks the boxes, puts the image's path into the file name box and clicks
// Download. Times the run on the window's own thread.

#include "bench/Measure.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class TMainUpdater;

namespace bench {

struct RunChoice {
    std::string imagePath;
    bool verifyOnly = true;
    bool fast = false;
    bool secondProcessor = false;
};

struct ToolRun {
    Span whole;                     // the click to the final status
    std::optional<Span> programming; // the click to "RESTARTING IN 3 SEC"
    QString finalStatus;
    int logLines = 0;               // lines the run added to the log
    QString error;                  // text of an error box, if one came up
    bool Succeeded() const;
};

class ToolDriver {
public:
    // A window whose COM 1 is `device`, shown on the offscreen platform.
    explicit ToolDriver(const std::string& device);
    ~ToolDriver();
    ToolDriver(const ToolDriver&) = delete;
    ToolDriver& operator=(const ToolDriver&) = delete;

    // One run. `atRestart` is called the moment the programming phase ends.
    ToolRun Run(const RunChoice& choice, const std::function<void()>& atRestart = {});

private:
    class StatusWatch;

    std::unique_ptr<TMainUpdater> window_;
    std::unique_ptr<StatusWatch> watch_;
};

} // namespace bench
