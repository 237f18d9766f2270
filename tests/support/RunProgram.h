// Child processes for tests, the one place that forks: a program (arguments without a shell; a
// name without '/' is looked up on PATH) or a function in a forked copy of the test. Standard
// input is /dev/null; standard output and error go to files that are read back, or standard
// output to a given file or device, or into a pipe whose reader goes away after N bytes as
// `head -c` does. Options: a working folder, a stack and a file-size limit (as `ulimit -s` and
// `ulimit -f` set them), environment settings on top of the test's or a whole replacement, a
// deadline after which it is killed, and a hook run in the child before the program starts. The
// child starts with default SIGPIPE and SIGXFSZ handling, as a program started from a shell does.
// runProgram and runInChild wait for the child; ChildProcess runs one beside the test until it
// ends or is stopped, and never outlives its object. Folders are absolute. POSIX only.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FileText.h"

struct RunOptions {
    std::string workingFolder;  // empty: the test's own
    std::string outputFolder;   // where .stdout and .stderr go; empty: the working folder
    std::string stdoutPath;     // standard output into this file or device instead (not read back)
    std::string stderrPath;     // standard error likewise; the same path as stdoutPath: one file
    // Standard output into a pipe: this many bytes are read into `out`, then the reading end is
    // closed while the child may still write.
    std::optional<std::size_t> stdoutPipeBytes;
    rlim_t stackBytes = 0;     // 0: the inherited limit
    rlim_t fileSizeBytes = 0;  // 0: the inherited limit
    int timeoutSeconds = 0;    // 0: wait as long as it runs
    bool replaceEnvironment = false;
    // NAME=value: the whole environment when replacing, else set on top of the test's.
    std::vector<std::string> environment;
    std::function<void()> inChild;  // runs after the redirections, before exec
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
        if (pipeRead_ >= 0) {
            close(pipeRead_);
        }
    }

    // Starts `exe` with `args`; false when it could not be forked.
    bool start(const std::string& exe, std::vector<std::string> args,
               const RunOptions& options = RunOptions()) {
        return launch(options, [&] {
            std::string name = exe;
            std::vector<char*> argv{name.data()};
            for (std::string& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            if (options.replaceEnvironment) {
                std::vector<std::string> env = options.environment;
                std::vector<char*> envp;
                for (std::string& e : env) {
                    envp.push_back(e.data());
                }
                envp.push_back(nullptr);
                execvpe(name.c_str(), argv.data(), envp.data());
            } else {
                execvp(name.c_str(), argv.data());
            }
            return 127;
        });
    }

    // Runs `body` in a forked copy of the test; its answer is the exit code (an exception out
    // of it: 101). Buffered output of the test is flushed first so that it is not written twice.
    bool startCall(const std::function<int()>& body, const RunOptions& options = RunOptions()) {
        return launch(options, [&] {
            int code = 101;
            try {
                code = body();
            } catch (...) {
            }
            std::fflush(nullptr);
            return code;
        });
    }

    pid_t pid() const { return pid_; }  // also after it ended

    // True once it has ended (and was reaped here); never blocks.
    bool ended() {
        if (pid_ <= 0 || reaped_) {
            return true;
        }
        int status = 0;
        pid_t done;
        while ((done = waitpid(pid_, &status, WNOHANG)) < 0 && errno == EINTR) {
        }
        if (done == pid_) {
            reap(status);
        } else if (done < 0) {
            reap(std::nullopt);  // not ours to wait for any more: how it ended is unknown
        }
        return reaped_;
    }

    // Waits up to `seconds` (0: as long as it runs) for it to end; true when it did.
    bool waitEnd(double seconds) {
        if (seconds <= 0) {
            int status = 0;
            pid_t done;
            while (!reaped_ && pid_ > 0 && (done = waitpid(pid_, &status, 0)) != pid_) {
                if (done < 0 && errno != EINTR) {
                    reap(std::nullopt);
                }
            }
            if (!reaped_ && pid_ > 0) {
                reap(status);
            }
            return true;
        }
        const auto deadline = Clock::now() + toDuration(seconds);
        while (!ended()) {
            if (Clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // Sends `sig` unless it has ended, waits up to `seconds`, then kills it; it has ended after.
    void stop(int sig = SIGTERM, double seconds = 10) {
        if (ended()) {
            return;
        }
        kill(pid_, sig);
        if (!waitEnd(seconds)) {
            kill(pid_, SIGKILL);
            waitEnd(0);
        }
    }

    // Takes what a pipe offers (as the options say), waits for the end within the options'
    // timeout, killing it after, and answers how it ended with its output.
    ProgramRun finish() {
        if (pipeRead_ >= 0) {
            readPipe();
        }
        const int timeout = options_.timeoutSeconds;
        if (!waitEnd(timeout)) {
            kill(pid_, SIGKILL);
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

    static Clock::duration toDuration(double seconds) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    }

    void reap(std::optional<int> status) {
        reaped_ = true;
        run_.seconds = std::chrono::duration<double>(Clock::now() - started_).count();
        if (status && WIFEXITED(*status)) {
            run_.exited = true;
            run_.code = WEXITSTATUS(*status);
        } else if (status && WIFSIGNALED(*status)) {
            run_.signal = WTERMSIG(*status);
        }
    }

    void readPipe() {
        const std::size_t want = *options_.stdoutPipeBytes;
        const auto deadline = Clock::now() + std::chrono::seconds(options_.timeoutSeconds);
        std::vector<char> buffer(want);
        std::size_t got = 0;
        while (got < want) {
            if (options_.timeoutSeconds > 0) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
                pollfd p{pipeRead_, POLLIN, 0};
                if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                    break;
                }
            }
            const ssize_t n = read(pipeRead_, buffer.data() + got, want - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        run_.out.assign(buffer.data(), got);
        close(pipeRead_);  // the reader goes away
        pipeRead_ = -1;
    }

    // Opens `path` for writing in the child; -1 when it does not open.
    static int openForWriting(const std::string& path) {
        return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }

    template <typename Exec>
    bool launch(const RunOptions& options, Exec exec) {
        if (pid_ > 0) {
            return false;  // one child per object
        }
        options_ = options;
        const std::string folder =
            options.outputFolder.empty() ? options.workingFolder : options.outputFolder;
        const std::string prefix = folder.empty() ? std::string() : folder + "/";
        const bool piped = options.stdoutPipeBytes.has_value();
        outFile_ = piped || !options.stdoutPath.empty() ? std::string() : prefix + ".stdout";
        errFile_ = options.stderrPath.empty() ? prefix + ".stderr" : std::string();
        const std::string outPath = options.stdoutPath.empty() ? outFile_ : options.stdoutPath;
        const std::string errPath = options.stderrPath.empty() ? errFile_ : options.stderrPath;
        int fds[2] = {-1, -1};
        if (piped && pipe(fds) != 0) {
            return false;
        }
        std::fflush(nullptr);
        started_ = Clock::now();
        pid_ = fork();
        if (pid_ == 0) {
            _exit(setUpChild(options, fds, outPath, errPath, exec));
        }
        if (fds[1] >= 0) {
            close(fds[1]);
        }
        if (pid_ < 0) {
            if (fds[0] >= 0) {
                close(fds[0]);
            }
            return false;
        }
        pipeRead_ = fds[0];
        run_.started = true;
        return true;
    }

    // In the child: the redirections, limits and settings, then `exec`; answers the exit code
    // when exec returns.
    template <typename Exec>
    static int setUpChild(const RunOptions& options, const int fds[2], const std::string& outPath,
                          const std::string& errPath, Exec& exec) {
        signal(SIGPIPE, SIG_DFL);
        signal(SIGXFSZ, SIG_DFL);
        if (!options.workingFolder.empty() && chdir(options.workingFolder.c_str()) != 0) {
            return 127;
        }
        // The working folder may differ from the output folder: open by the names given.
        const int in = open("/dev/null", O_RDONLY);
        const int out = fds[1] >= 0 ? fds[1] : openForWriting(outPath);
        const int err = errPath == outPath ? out : openForWriting(errPath);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0) {
            return 127;
        }
        if (fds[0] >= 0) {
            close(fds[0]);
        }
        for (const auto& [resource, bytes] :
             {std::pair<int, rlim_t>{RLIMIT_STACK, options.stackBytes},
              std::pair<int, rlim_t>{RLIMIT_FSIZE, options.fileSizeBytes}}) {
            const rlimit limit{bytes, bytes};
            if (bytes != 0 && setrlimit(resource, &limit) != 0) {
                return 127;
            }
        }
        if (!options.replaceEnvironment) {
            for (const std::string& setting : options.environment) {
                const std::size_t eq = setting.find('=');
                if (eq == std::string::npos ||
                    setenv(setting.substr(0, eq).c_str(), setting.c_str() + eq + 1, 1) != 0) {
                    return 127;
                }
            }
        }
        if (options.inChild) {
            options.inChild();
        }
        return exec();
    }

    RunOptions options_;
    pid_t pid_ = 0;
    bool reaped_ = false;
    Clock::time_point started_;
    int pipeRead_ = -1;
    std::string outFile_, errFile_;
    ProgramRun run_;
};

// Runs `exe args` and waits for it (see RunOptions for what it may set).
inline ProgramRun runProgram(const std::string& exe, std::vector<std::string> args,
                             const RunOptions& options = RunOptions()) {
    ChildProcess child;
    if (!child.start(exe, std::move(args), options)) {
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
