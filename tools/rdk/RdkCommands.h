// RdkCommands: the rdk-inspect command line (summary, check, preview) as a function over
// argument and output streams, so that tests run it in process.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace rdk {

// Exit codes of rdk-inspect.
constexpr int kExitClean = 0;
constexpr int kExitFault = 1;  // check found a fault
constexpr int kExitUsage = 2;  // bad usage, unreadable file, or a file that could not be written

// args excludes the program name.
int runInspect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The exit code once `out` is flushed: `code`, or kExitFault after a message on `err` when what
// was written to `out` did not arrive (a full device, a closed pipe).
int finishOutput(int code, std::ostream& out, std::ostream& err);

}  // namespace rdk
