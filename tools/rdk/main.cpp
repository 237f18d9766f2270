// rdk-inspect: reads a scene file and summarises, checks or previews it.
#include <iostream>

#include "platform/process.h"
#include "tools/rdk/RdkCommands.h"

int main(int argc, char** argv) {
    // A PNG past the file-size limit or output into a closed pipe is reported, not fatal.
    platform::reportWriteFailuresAsErrors();
    std::vector<std::string> args(argv + 1, argv + argc);
    return rdk::finishOutput(rdk::runInspect(args, std::cout, std::cerr), std::cout, std::cerr);
}
