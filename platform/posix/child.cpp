// Child processes on POSIX (platform/child.h and its additions in platform/child_posix.h): fork,
// then execve or the caller's function, with the argument and environment arrays built before
// the fork (the child of a process with threads may only make async-signal-safe calls on its way
// to exec); files, folder, limits and signal handling set in the child. waitpid with a polling
// timeout; poll and read for the output pipe.
#include "platform/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "platform/backend.h"
#include "platform/child_posix.h"

extern char** environ;

namespace platform {

const char backend::kPathListSeparator = ':';

bool backend::runnableFile(const std::string& candidate, std::string& out) {
    struct stat st {};
    if (::stat(candidate.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        ::access(candidate.c_str(), X_OK) != 0) {
        return false;
    }
    out = candidate;
    return true;
}

namespace {

using Clock = std::chrono::steady_clock;

// Exit codes of a child that could not be set up, and of one whose program would not start.
constexpr int kSetUpFailed = 126;
constexpr int kExecFailed = 127;

// What the child needs, prepared before the fork: it only reads this.
struct Prepared {
    std::string program;
    std::vector<std::string> arguments, environment;
    std::vector<char*> argv, envp;
    bool sameFile = false;
    int pipe[2] = {-1, -1};
};

Prepared forProgram(const std::string& program, const std::vector<std::string>& arguments) {
    Prepared p;
    p.program = program;
    p.arguments = {program};
    p.arguments.insert(p.arguments.end(), arguments.begin(), arguments.end());
    return p;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) {
        out.push_back(&s[0]);
    }
    out.push_back(nullptr);
    return out;
}

int openOutput(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
}

// Makes `fd` refer to what `file` does, open across exec, and closes `file` (unless it was `fd`
// already: a stream the caller had closed).
bool moveTo(int file, int fd) {
    if (file == fd) {
        return ::fcntl(fd, F_SETFD, 0) == 0;
    }
    return file >= 0 && ::dup2(file, fd) >= 0 && ::close(file) == 0;
}

bool redirect(const std::string& path, int fd) {
    return path.empty() || moveTo(openOutput(path), fd);
}

// In the child: what the options say, in an order that opens the files by the caller's folder.
bool setUp(const ChildOptions& options, const PosixChildOptions* extra, const Prepared& p) {
    if (extra != nullptr) {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        if (::sigaction(SIGPIPE, &dfl, nullptr) != 0 || ::sigaction(SIGXFSZ, &dfl, nullptr) != 0) {
            return false;
        }
    }
    if (options.nullInput) {
        if (!moveTo(::open("/dev/null", O_RDONLY), 0)) {
            return false;
        }
    }
    if (p.pipe[1] >= 0) {
        if (!moveTo(p.pipe[1], 1) || ::close(p.pipe[0]) != 0) {
            return false;
        }
    } else if (!redirect(options.outputFile, 1)) {
        return false;
    }
    const bool sharesOutput = p.sameFile && p.pipe[1] < 0;
    if (sharesOutput ? ::dup2(1, 2) < 0 : !redirect(options.errorFile, 2)) {
        return false;
    }
    if (!options.workingFolder.empty() && ::chdir(options.workingFolder.c_str()) != 0) {
        return false;
    }
    if (extra != nullptr) {
        for (const auto& [resource, bytes] :
             {std::pair<int, std::uint64_t>{RLIMIT_STACK, extra->stackBytes},
              std::pair<int, std::uint64_t>{RLIMIT_FSIZE, extra->fileSizeBytes}}) {
            const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
            if (bytes != 0 && ::setrlimit(resource, &limit) != 0) {
                return false;
            }
        }
    }
    return true;
}

// Forks; the child sets itself up, then runs `body` when there is one, else the program.
Status launch(Prepared& p, const std::function<int()>* body, const ChildOptions& options,
              const PosixChildOptions* extra, Child& out, int* pipeReader) {
    out = Child{};
    if (pipeReader != nullptr) {
        *pipeReader = -1;
    }
    p.argv = pointers(p.arguments);
    std::vector<std::string> current;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        current.emplace_back(*e);
    }
    p.environment = backend::childEnvironment(current, options, false);
    p.envp = pointers(p.environment);
    p.sameFile = !options.outputFile.empty() && options.outputFile == options.errorFile;
    // The child's folder changes before exec: a relative program is the caller's.
    if (!options.workingFolder.empty() && !p.program.empty() && p.program[0] != '/') {
        char here[4096];
        if (::getcwd(here, sizeof here) == nullptr) {
            return Status(StatusCode::io_error, errno, "getcwd failed");
        }
        p.program = std::string(here) + "/" + p.program;
    }
    // Both ends close on exec: another child started meanwhile must not keep the pipe open.
    if (extra != nullptr && extra->outputPipe && ::pipe2(p.pipe, O_CLOEXEC) != 0) {
        return Status(StatusCode::io_error, errno, "pipe failed");
    }
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (!setUp(options, extra, p)) {
            ::_exit(kSetUpFailed);
        }
        if (body == nullptr) {
            ::execve(p.program.c_str(), p.argv.data(), p.envp.data());
            ::_exit(kExecFailed);
        }
        environ = p.envp.data();
        int code = 101;
        try {
            code = (*body)();
        } catch (...) {
        }
        std::fflush(nullptr);
        ::_exit(code);
    }
    const int err = errno;
    if (p.pipe[1] >= 0) {
        ::close(p.pipe[1]);
    }
    if (pid < 0) {
        if (p.pipe[0] >= 0) {
            ::close(p.pipe[0]);
        }
        return Status(StatusCode::io_error, err, "fork failed");
    }
    if (pipeReader != nullptr) {
        *pipeReader = p.pipe[0];
    }
    out.id = pid;
    return Status::success();
}

Status killWith(const Child& child, int signal) {
    if (child.id <= 0 || ::kill(static_cast<pid_t>(child.id), signal) != 0) {
        return Status(StatusCode::io_error, child.id <= 0 ? ESRCH : errno, "kill failed");
    }
    return Status::success();
}

}  // namespace

Status spawnChild(const std::string& program, const std::vector<std::string>& arguments,
                  const ChildOptions& options, Child& out) {
    Prepared p = forProgram(program, arguments);
    return launch(p, nullptr, options, nullptr, out, nullptr);
}

Status spawnPosixChild(const std::string& program, const std::vector<std::string>& arguments,
                       const ChildOptions& options, const PosixChildOptions& posixOptions,
                       Child& out, int& pipeReader) {
    Prepared p = forProgram(program, arguments);
    return launch(p, nullptr, options, &posixOptions, out, &pipeReader);
}

Status forkChild(const std::function<int()>& body, const ChildOptions& options,
                 const PosixChildOptions& posixOptions, Child& out, int& pipeReader) {
    Prepared p;
    return launch(p, &body, options, &posixOptions, out, &pipeReader);
}

Status readOutputPipe(int& pipeReader, std::size_t bytes, int timeoutMs, std::string& out) {
    out.clear();
    if (pipeReader < 0) {
        return Status(StatusCode::invalid_argument, EBADF, "no pipe");
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<char> buffer(bytes);
    std::size_t got = 0;
    int err = 0;
    while (got < bytes) {
        if (timeoutMs >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            pollfd ready{pipeReader, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) == 0) {
                break;
            }
        }
        const ssize_t n = ::read(pipeReader, buffer.data() + got, bytes - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            err = errno;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    if (got > 0) {
        out.assign(buffer.data(), got);
    }
    ::close(pipeReader);
    pipeReader = -1;
    return err == 0 ? Status::success() : Status(StatusCode::io_error, err, "read failed");
}

Status waitChildEnd(Child& child, int timeoutMs, ChildEnd& out) {
    out = ChildEnd{};
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t r =
            ::waitpid(static_cast<pid_t>(child.id), &status, timeoutMs < 0 ? 0 : WNOHANG);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            return Status(StatusCode::io_error, errno, "waitpid failed");
        }
        if (r > 0) {
            out.ended = true;
            out.exited = WIFEXITED(status);
            out.code = out.exited ? WEXITSTATUS(status) : -1;
            out.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
            child = Child{};
            return Status::success();
        }
        if (Clock::now() >= deadline) {
            return Status::success();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

Status waitChild(Child& child, int timeoutMs, bool& exited, int& exitCode) {
    ChildEnd end;
    const Status s = waitChildEnd(child, timeoutMs, end);
    exited = end.ended;
    exitCode = !end.ended ? -1 : end.exited ? end.code : 128 + end.signal;
    return s;
}

Status stopChild(const Child& child) {
    return killWith(child, SIGTERM);
}

Status killChild(const Child& child) {
    return killWith(child, SIGKILL);
}

}  // namespace platform
