// rdk-inspect: reads a scene file and summarises, checks or previews it.
#include <iostream>

#include "tools/rdk/RdkCommands.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return rdk::runInspect(args, std::cout, std::cerr);
}
