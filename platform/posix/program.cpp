// The running program on POSIX: /proc/self/exe, argv as given, kill(pid, 0), setenv, mkdtemp,
// and SIGTERM/SIGINT handlers that only set a flag and write a byte into a pipe that the socket
// waits watch (a request that lands between two waits still ends the next one at once).
#include "platform/program.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/backend.h"
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
        return backend::failure(StatusCode::io_error, n < 0 ? errno : ENAMETOOLONG,
                                "readlink failed");
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

Status processStartTime(std::int64_t id, std::int64_t& unixSeconds) {
    unixSeconds = 0;
    if (id <= 0 || id != static_cast<pid_t>(id)) {
        return Status(StatusCode::not_found, ESRCH, "no such process");
    }
    // Field 22 of /proc/<pid>/stat is the start in clock ticks after boot; the command name
    // before it (field 2, in parentheses) may hold blanks and parentheses, so fields are counted
    // after its last ')'.
    std::ifstream stat("/proc/" + std::to_string(id) + "/stat");
    std::string line;
    if (!stat || !std::getline(stat, line)) {
        return Status(StatusCode::not_found, ESRCH, "no such process");
    }
    const size_t close = line.rfind(')');
    std::istringstream fields(close == std::string::npos ? std::string() : line.substr(close + 1));
    std::string field;
    unsigned long long ticks = 0;
    bool found = false;
    for (int n = 3; fields >> field; ++n) {
        if (n == 22) {
            found = std::sscanf(field.c_str(), "%llu", &ticks) == 1;
            break;
        }
    }
    std::ifstream boot("/proc/stat");
    long long bootTime = -1;
    while (found && std::getline(boot, line)) {
        if (line.compare(0, 6, "btime ") == 0) {
            bootTime = std::atoll(line.c_str() + 6);
            break;
        }
    }
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    if (!found || bootTime < 0 || perSecond <= 0) {
        return Status(StatusCode::not_found, ENOENT, "process start time unknown");
    }
    unixSeconds =
        bootTime + static_cast<std::int64_t>(ticks / static_cast<unsigned long>(perSecond));
    return Status::success();
}

Status checkPrivateFolder(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return Status(StatusCode::not_found, errno, path + " does not exist");
    }
    if (!S_ISDIR(st.st_mode)) {
        return Status(StatusCode::invalid_argument, ENOTDIR,
                      path + (S_ISLNK(st.st_mode) ? " is a symbolic link" : " is not a folder"));
    }
    if (st.st_uid != ::geteuid()) {
        return Status(StatusCode::invalid_argument, EPERM,
                      path + " belongs to user " + std::to_string(st.st_uid) + ", not to user " +
                          std::to_string(::geteuid()));
    }
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return Status(
            StatusCode::invalid_argument, EPERM,
            path + " may be written by other users (mode " + std::to_string((st.st_mode >> 6) & 7) +
                std::to_string((st.st_mode >> 3) & 7) + std::to_string(st.st_mode & 7) + ")");
    }
    return Status::success();
}

bool getEnvironment(const std::string& name, std::string& out) {
    const char* value = std::getenv(name.c_str());
    out = value != nullptr ? value : "";
    return value != nullptr;
}

Status setEnvironment(const std::string& name, const std::string& value) {
    if (::setenv(name.c_str(), value.c_str(), 1) != 0) {
        return backend::failure(StatusCode::invalid_argument, errno, "setenv failed");
    }
    return Status::success();
}

Status unsetEnvironment(const std::string& name) {
    if (::unsetenv(name.c_str()) != 0) {
        return backend::failure(StatusCode::invalid_argument, errno, "unsetenv failed");
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
        return backend::failure(StatusCode::io_error, errno, "mkdtemp failed");
    }
    out = pattern;
    return Status::success();
}

Status catchTermination() {
    if (terminationPipe[0] < 0 && ::pipe2(terminationPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        terminationPipe[0] = terminationPipe[1] = -1;
        return backend::failure(StatusCode::io_error, errno, "pipe failed");
    }
    struct sigaction action {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    if (::sigaction(SIGTERM, &action, nullptr) != 0 || ::sigaction(SIGINT, &action, nullptr) != 0) {
        return backend::failure(StatusCode::io_error, errno, "sigaction failed");
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
