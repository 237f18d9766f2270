// rdk-inspect: reads a scene file and summarises, checks or previews it.
#include <iostream>

#include "platform/program.h"
#include "tools/rdk/RdkCommands.h"

int main(int argc, char** argv) {
    std::vector<std::string> args = platform::commandLineArguments(argc, argv);
    args.erase(args.begin(), args.begin() + (args.empty() ? 0 : 1));
    return rdk::runInspect(args, std::cout, std::cerr);
}
