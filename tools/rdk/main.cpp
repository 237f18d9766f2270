// rdk-inspect: reads a scene file and summarises, checks or previews it.
#include <iostream>

#include "platform/interrupt.h"
#include "platform/process.h"
#include "tools/CommandLine.h"
#include "tools/rdk/RdkCommands.h"

int main(int argc, char** argv) {
    // A PNG past the file-size limit or output into a closed pipe is reported, not fatal.
    platform::reportWriteFailuresAsErrors();
    // An interrupt removes the picture's temporary and ends with 130 or 143.
    platform::exitOnInterrupt("rdk-inspect");
    return rdk::finishOutput(
        rdk::runInspect(raydeck::tools::toolArguments(argc, argv), std::cout, std::cerr), std::cout,
        std::cerr);
}
