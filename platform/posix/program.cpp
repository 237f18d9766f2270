// The running program on POSIX: /proc/self/exe, argv as given, kill(pid, 0), setenv, mkdtemp,
// and SIGTERM/SIGINT handlers that only set a flag and write a byte into a pipe that the socket
// waits watch (a request that lands between two waits still ends the next one at once).
#include "platform/program.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <filesystem>

#include "platform/posix/termination.h"

namespace platform {
namespace {

volatile sig_atomic_t terminationFlag = 0;
int terminationPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int) {
    const int savedErrno = errno;
    terminationFlag = 1;
    if (terminationPipe[1] >= 0) {
        const char byte = 1;
        (void)!::write(terminationPipe[1], &byte, 1);  // a full pipe is readable already
    }
    errno = savedErrno;
}

std::string systemTempFolder() {
    std::error_code ec;
    std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    return ec ? std::string("/tmp") : temp.string();
}

}  // namespace

Status executablePath(std::string& out) {
    out.clear();
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof self) {
        return Status(StatusCode::io_error, n < 0 ? errno : ENAMETOOLONG, "readlink failed");
    }
    out.assign(self, static_cast<size_t>(n));
    return Status::success();
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

std::int64_t currentProcessId() {
    return ::getpid();
}

bool processRunning(std::int64_t id) {
    if (id <= 0 || id != static_cast<pid_t>(id)) {
        return false;
    }
    return ::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM;
}

bool getEnvironment(const std::string& name, std::string& out) {
    const char* value = std::getenv(name.c_str());
    out = value != nullptr ? value : "";
    return value != nullptr;
}

Status setEnvironment(const std::string& name, const std::string& value) {
    if (::setenv(name.c_str(), value.c_str(), 1) != 0) {
        return Status(StatusCode::invalid_argument, errno, "setenv failed");
    }
    return Status::success();
}

Status unsetEnvironment(const std::string& name) {
    if (::unsetenv(name.c_str()) != 0) {
        return Status(StatusCode::invalid_argument, errno, "unsetenv failed");
    }
    return Status::success();
}

Status perUserTempFolder(const std::string& name, std::string& out) {
    out = (std::filesystem::path(systemTempFolder()) / (name + "-" + std::to_string(::getuid())))
              .string();
    return Status::success();
}

Status makeTempFolder(const std::string& prefix, std::string& out) {
    std::string pattern =
        (std::filesystem::path(systemTempFolder()) / (prefix + "XXXXXX")).string();
    if (::mkdtemp(&pattern[0]) == nullptr) {
        out.clear();
        return Status(StatusCode::io_error, errno, "mkdtemp failed");
    }
    out = pattern;
    return Status::success();
}

Status catchTermination() {
    if (terminationPipe[0] < 0 && ::pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        terminationPipe[0] = terminationPipe[1] = -1;
        return Status(StatusCode::io_error, errno, "pipe failed");
    }
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    if (::sigaction(SIGTERM, &action, nullptr) != 0 || ::sigaction(SIGINT, &action, nullptr) != 0) {
        return Status(StatusCode::io_error, errno, "sigaction failed");
    }
    return Status::success();
}

bool terminationRequested() {
    return terminationFlag != 0;
}

int posix::terminationDescriptor() {
    return terminationPipe[0];
}

}  // namespace platform
