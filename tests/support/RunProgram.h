// Child processes for tests, on top of platform/child.h and its POSIX additions: a program
// (arguments without a shell; a name without '/' is looked up on PATH) or a function in a forked
// copy of the test. Standard input is the null device; standard output and error go to files that
// are read back, or standard output to a given file or device, or into a pipe whose reader goes
// away after N bytes as `head -c` does. Options: a working folder, a stack and a file-size limit
// (as `ulimit -s` and `ulimit -f` set them), environment settings on top of the test's or a whole
// replacement, and a deadline after which it is killed. The child starts with default SIGPIPE and
// SIGXFSZ handling, as a program started from a shell does. runProgram and runInChild wait for
// the child; ChildProcess runs one beside the test until it ends or is stopped, and never
// outlives its object. Folders are absolute. POSIX only.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/child.h"
#include "platform/child_posix.h"
#include "tests/support/FileText.h"

struct RunOptions {
    std::string workingFolder;  // empty: the test's own
    std::string outputFolder;   // where .stdout and .stderr go; empty: the working folder
    std::string stdoutPath;     // standard output into this file or device instead (not read back)
    std::string stderrPath;     // standard error likewise; the same path as stdoutPath: one file
    // Standard output into a pipe: this many bytes are read into `out`, then the reading end is
    // closed while the child may still write.
    std::optional<std::size_t> stdoutPipeBytes;
    std::uint64_t stackBytes = 0;     // 0: the inherited limit
    std::uint64_t fileSizeBytes = 0;  // 0: the inherited limit
    int timeoutSeconds = 0;           // 0: wait as long as it runs
    bool replaceEnvironment = false;
    // NAME=value: the whole environment when replacing, else set on top of the test's (NAME=
    // with no value: not set).
    std::vector<std::string> environment;
};

struct ProgramRun {
    bool started = false;
    bool exited = false;  // ended by itself through exit
    int code = -1;        // the exit code; -1 when it did not exit by itself
    int signal = 0;       // the signal that ended it, if one did
    bool timedOut = false;
    double seconds = 0;  // from the start to the end, as the test saw it
    std::string out, err;
};

class ChildProcess {
  public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        stop(SIGKILL);
        if (pipeReader_ >= 0) {
            std::string ignored;
            platform::readOutputPipe(pipeReader_, 0, 0, ignored);
        }
    }

    // Starts `exe` with `args`; false when it could not be started.
    bool start(const std::string& exe, const std::vector<std::string>& args,
               const RunOptions& options = RunOptions()) {
        std::string program;
        if (!platform::findProgram(exe, program).ok()) {
            program = exe;  // exec fails in the child: exit code 127, as from a shell
        }
        return launch(
            options, [&](const platform::ChildOptions& o, const platform::PosixChildOptions& p) {
                return platform::spawnPosixChild(program, args, o, p, child_, pipeReader_);
            });
    }

    // Runs `body` in a forked copy of the test; its answer is the exit code (an exception out
    // of it: 101). Buffered output of the test is flushed first so that it is not written twice.
    bool startCall(const std::function<int()>& body, const RunOptions& options = RunOptions()) {
        return launch(options,
                      [&](const platform::ChildOptions& o, const platform::PosixChildOptions& p) {
                          return platform::forkChild(body, o, p, child_, pipeReader_);
                      });
    }

    pid_t pid() const { return pid_; }  // also after it ended

    // True once it has ended (and was reaped here); never blocks.
    bool ended() { return wait(0); }

    // Waits up to `seconds` (0: as long as it runs) for it to end; true when it did.
    bool waitEnd(double seconds) {
        return wait(seconds <= 0 ? -1 : static_cast<int>(seconds * 1000));
    }

    // Sends `sig` (SIGTERM: a termination request; SIGKILL: the end at once) unless it has
    // ended, waits up to `seconds`, then kills it; it has ended after.
    void stop(int sig = SIGTERM, double seconds = 10) {
        if (ended()) {
            return;
        }
        if (sig == SIGKILL) {
            platform::killChild(child_);
        } else {
            platform::stopChild(child_);
        }
        if (!waitEnd(seconds)) {
            platform::killChild(child_);
            waitEnd(0);
        }
    }

    // Takes what a pipe offers (as the options say), waits for the end within the options'
    // timeout, killing it after, and answers how it ended with its output.
    ProgramRun finish() {
        const int timeout = options_.timeoutSeconds;
        if (pipeReader_ >= 0) {
            platform::readOutputPipe(pipeReader_, *options_.stdoutPipeBytes,
                                     timeout > 0 ? timeout * 1000 : -1, run_.out);
        }
        if (!waitEnd(timeout)) {
            platform::killChild(child_);
            waitEnd(0);
            run_.timedOut = true;
            run_.exited = false;
            run_.code = -1;
        }
        return result();
    }

    // How it ended, once it has; the output read from the files it wrote.
    ProgramRun result() const {
        ProgramRun run = run_;
        if (!outFile_.empty()) {
            run.out = readFile(outFile_);
        }
        if (!errFile_.empty()) {
            run.err = readFile(errFile_);
        }
        return run;
    }

  private:
    using Clock = std::chrono::steady_clock;

    // Waits up to `timeoutMs` (negative: without limit); true once it has ended.
    bool wait(int timeoutMs) {
        if (pid_ <= 0 || reaped_) {
            return true;
        }
        platform::ChildEnd end;
        const bool waited = platform::waitChildEnd(child_, timeoutMs, end).ok();
        if (waited && !end.ended) {
            return false;
        }
        // A failed wait: not ours to wait for any more, and how it ended is unknown.
        reaped_ = true;
        run_.seconds = std::chrono::duration<double>(Clock::now() - started_).count();
        run_.exited = end.exited;
        run_.code = end.exited ? end.code : -1;
        run_.signal = end.signal;
        return true;
    }

    template <typename Start>
    bool launch(const RunOptions& options, Start start) {
        if (pid_ > 0) {
            return false;  // one child per object
        }
        options_ = options;
        const std::string folder =
            options.outputFolder.empty() ? options.workingFolder : options.outputFolder;
        const std::string prefix = folder.empty() ? std::string() : folder + "/";
        platform::PosixChildOptions posix;
        posix.stackBytes = options.stackBytes;
        posix.fileSizeBytes = options.fileSizeBytes;
        posix.outputPipe = options.stdoutPipeBytes.has_value();
        outFile_ =
            posix.outputPipe || !options.stdoutPath.empty() ? std::string() : prefix + ".stdout";
        errFile_ = options.stderrPath.empty() ? prefix + ".stderr" : std::string();
        platform::ChildOptions child;
        child.workingFolder = options.workingFolder;
        child.nullInput = true;
        child.outputFile = options.stdoutPath.empty() ? outFile_ : options.stdoutPath;
        child.errorFile = options.stderrPath.empty() ? errFile_ : options.stderrPath;
        child.replaceEnvironment = options.replaceEnvironment;
        for (const std::string& setting : options.environment) {
            const std::size_t eq = setting.find('=');
            child.environment.emplace_back(setting.substr(0, eq),
                                           eq == std::string::npos ? "" : setting.substr(eq + 1));
        }
        started_ = Clock::now();
        if (!start(child, posix).ok()) {
            return false;
        }
        pid_ = static_cast<pid_t>(child_.id);
        run_.started = true;
        return true;
    }

    RunOptions options_;
    platform::Child child_;
    pid_t pid_ = 0;
    bool reaped_ = false;
    Clock::time_point started_;
    int pipeReader_ = -1;
    std::string outFile_, errFile_;
    ProgramRun run_;
};

// Runs `exe args` and waits for it (see RunOptions for what it may set).
inline ProgramRun runProgram(const std::string& exe, const std::vector<std::string>& args,
                             const RunOptions& options = RunOptions()) {
    ChildProcess child;
    if (!child.start(exe, args, options)) {
        return ProgramRun();
    }
    return child.finish();
}

// Runs `body` in a forked copy of the test and waits for it; the exit code is its answer.
inline ProgramRun runInChild(const std::function<int()>& body,
                             const RunOptions& options = RunOptions()) {
    ChildProcess child;
    if (!child.startCall(body, options)) {
        return ProgramRun();
    }
    return child.finish();
}
