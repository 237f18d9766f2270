// rdk-inspect: reads a scene file and summarises, checks or previews it.
#include <iostream>

#include "platform/process.h"
#include "platform/program.h"
#include "tools/rdk/RdkCommands.h"

int main(int argc, char** argv) {
    // A PNG past the file-size limit or output into a closed pipe is reported, not fatal.
    platform::reportWriteFailuresAsErrors();
    std::vector<std::string> args = platform::commandLineArguments(argc, argv);
    args.erase(args.begin(), args.begin() + (args.empty() ? 0 : 1));
    return rdk::finishOutput(rdk::runInspect(args, std::cout, std::cerr), std::cout, std::cerr);
}
