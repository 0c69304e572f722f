#pragma once

#include "serial/ComPort.h"

#include <string>
#include <vector>

// What the command line may say: which devices COM1 and COM2 are.
struct TCommandLine {
    TPortMap Ports;
    bool ShowHelp = false;
    std::string Error; // not empty when the line could not be understood
};

TCommandLine ParseCommandLine(const std::vector<std::string>& args);
std::string UsageText(const std::string& program);
