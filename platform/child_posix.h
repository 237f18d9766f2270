// POSIX-only additions to platform/child.h for tests and benchmarks: resource limits, standard
// output into a pipe that the caller reads as far as it wants, a function run in a forked copy of
// the caller, and how a child ended by a signal. Children started here begin with the default
// handling of SIGPIPE and SIGXFSZ, as a program started from a shell does, whatever the caller
// set. Implemented in platform/posix/ only; not part of a Windows build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/child.h"
#include "platform/status.h"

namespace platform {

struct PosixChildOptions {
    std::uint64_t stackBytes = 0;     // the stack limit, as `ulimit -s` sets it; 0: inherited
    std::uint64_t fileSizeBytes = 0;  // the file-size limit, as `ulimit -f`; 0: inherited
    // Standard output into a pipe whose reading end the caller gets (see readOutputPipe); it
    // takes the place of ChildOptions::outputFile.
    bool outputPipe = false;
};

// spawnChild with the additions; `pipeReader` is the pipe's reading end, or -1 without one.
Status spawnPosixChild(const std::string& program, const std::vector<std::string>& arguments,
                       const ChildOptions& options, const PosixChildOptions& posixOptions,
                       Child& out, int& pipeReader);

// Runs `body` in a forked copy of the caller (its calling thread only), set up as a program
// would be; the answer of `body` is the exit code (an exception out of it: 101). Buffered output
// is flushed before the fork so that it is not written twice.
Status forkChild(const std::function<int()>& body, const ChildOptions& options,
                 const PosixChildOptions& posixOptions, Child& out, int& pipeReader);

// Reads from `pipeReader` into `out` until `bytes` have come, the writer closed it, or
// `timeoutMs` passed (negative: no limit), then closes it (-1 after), as `head -c` goes away: a
// child that writes on meets a pipe without a reader.
Status readOutputPipe(int& pipeReader, std::size_t bytes, int timeoutMs, std::string& out);

struct ChildEnd {
    bool ended = false;   // it ended (and is released, as by waitChild)
    bool exited = false;  // ... through exit, with `code`
    int code = -1;
    int signal = 0;  // ... or by this signal
};

// waitChild, telling an exit from an end by a signal.
Status waitChildEnd(Child& child, int timeoutMs, ChildEnd& out);

}  // namespace platform
