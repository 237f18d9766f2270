// Child processes on POSIX: fork and execve with an environment built before the fork (the child
// of a process with threads may only make async-signal-safe calls), redirections made in the
// child before exec; waitpid with a polling timeout.
#include "platform/child.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

extern char** environ;

namespace platform {
namespace {

bool redirect(const std::string& path, int fd) {
    if (path.empty()) {
        return true;
    }
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    return file >= 0 && ::dup2(file, fd) >= 0 && ::close(file) == 0;
}

// The process's environment with `changes` applied: a name set to a value replaces its entry or is
// added, a name with an empty value is dropped.
std::vector<std::string> changedEnvironment(
    const std::vector<std::pair<std::string, std::string>>& changes) {
    std::vector<std::string> entries;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const char* equals = std::strchr(*e, '=');
        const std::string name(*e, equals != nullptr ? equals - *e : std::strlen(*e));
        bool changed = false;
        for (const auto& change : changes) {
            changed = changed || change.first == name;
        }
        if (!changed) {
            entries.emplace_back(*e);
        }
    }
    // The last change of a name counts, as one setenv after the other would leave it.
    for (size_t i = 0; i < changes.size(); ++i) {
        bool later = false;
        for (size_t j = i + 1; j < changes.size(); ++j) {
            later = later || changes[j].first == changes[i].first;
        }
        if (!later && !changes[i].second.empty()) {
            entries.push_back(changes[i].first + "=" + changes[i].second);
        }
    }
    return entries;
}

}  // namespace

Status spawnChild(const std::string& program, const std::vector<std::string>& arguments,
                  const ChildOptions& options, Child& out) {
    out = Child{};
    // Prepared before the fork: the child only calls what is safe after fork.
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment = changedEnvironment(options.environment);
    std::vector<char*> envp;
    for (std::string& e : environment) {
        envp.push_back(&e[0]);
    }
    envp.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) {
        return Status(StatusCode::io_error, errno, "fork failed");
    }
    if (pid == 0) {
        if (!redirect(options.outputFile, 1) || !redirect(options.errorFile, 2)) {
            ::_exit(126);
        }
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    out.id = pid;
    return Status::success();
}

Status waitChild(Child& child, int timeoutMs, bool& exited, int& exitCode) {
    exited = false;
    exitCode = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
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
            exited = true;
            exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            child = Child{};
            return Status::success();
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return Status::success();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

Status stopChild(const Child& child) {
    if (child.id <= 0 || ::kill(static_cast<pid_t>(child.id), SIGTERM) != 0) {
        return Status(StatusCode::io_error, child.id <= 0 ? ESRCH : errno, "kill failed");
    }
    return Status::success();
}

Status killChild(const Child& child) {
    if (child.id <= 0 || ::kill(static_cast<pid_t>(child.id), SIGKILL) != 0) {
        return Status(StatusCode::io_error, child.id <= 0 ? ESRCH : errno, "kill failed");
    }
    return Status::success();
}

}  // namespace platform
