#include "app/CommandLine.h"

TCommandLine ParseCommandLine(const std::vector<std::string>& args)
{
    TCommandLine line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            line.ShowHelp = true;
        } else if (arg == "--com1" || arg == "--com2") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                line.Error = arg + " needs a device, for example " + arg + " /dev/ttyUSB0";
                return line;
            }
            (arg == "--com1" ? line.Ports.Com1 : line.Ports.Com2) = args[++i];
        } else {
            line.Error = "unknown option: " + arg;
            return line;
        }
    }
    return line;
}

std::string UsageText(const std::string& program)
{
    return "Usage: " + program + " [--com1 DEVICE] [--com2 DEVICE] [--help]\n"
           "\n"
           "Programs and verifies a board's firmware over a serial line (38400 8N1).\n"
           "\n"
           "  --com1 DEVICE   device opened for \"COM 1\" (default /dev/ttyS0)\n"
           "  --com2 DEVICE   device opened for \"COM 2\" (default /dev/ttyS1)\n"
           "  --help          show this text\n"
           "\n"
           "USB serial adapters are usually /dev/ttyUSB0 or /dev/ttyACM0; the board\n"
           "simulator prints the device to use. Nothing else is read or stored.\n";
}
