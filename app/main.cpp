#include "app/CommandLine.h"
#include "app/UpdaterUnit.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    const TCommandLine line = ParseCommandLine(args);
    const std::string program = argc > 0 ? argv[0] : "flash-updater";
    if (line.ShowHelp) {
        std::fputs(UsageText(program).c_str(), stdout);
        return 0;
    }
    if (!line.Error.empty()) {
        std::fprintf(stderr, "%s\n\n%s", line.Error.c_str(), UsageText(program).c_str());
        return 2;
    }

    QApplication application(argc, argv);
    TMainUpdater window(line.Ports);
    MainUpdater = &window;
    window.show();
    const int result = application.exec();
    MainUpdater = nullptr;
    return result;
}
