// The child that test_child starts: `exit N` ends with N; `args` prints its arguments one a line;
// `env NAME` prints the variable (or "unset"); `wait` waits for a termination request and exits
// with 7 (or 9 after a minute); `stop PID` asks process PID to end, as platform::stopChild does.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/child.h"
#include "platform/clock.h"
#include "platform/program.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args = platform::commandLineArguments(argc, argv);
    const std::string what = args.size() > 1 ? args[1] : "";
    if (what == "exit" && args.size() > 2) {
        return std::atoi(args[2].c_str());
    }
    if (what == "args") {
        for (size_t i = 2; i < args.size(); ++i) {
            std::printf("%s\n", args[i].c_str());
        }
        return 0;
    }
    if (what == "env" && args.size() > 2) {
        std::string value;
        std::printf("%s\n", platform::getEnvironment(args[2], value) ? value.c_str() : "unset");
        return 0;
    }
    if (what == "stop" && args.size() > 2) {
        platform::Child other;
        other.id = std::atoll(args[2].c_str());
        return platform::stopChild(other).ok() ? 0 : 1;
    }
    if (what == "wait") {
        platform::catchTermination();
        std::printf("waiting\n");
        std::fflush(stdout);
        for (int i = 0; i < 6000 && !platform::terminationRequested(); ++i) {
            platform::sleepMs(10);
        }
        return platform::terminationRequested() ? 7 : 9;
    }
    return 2;
}
