// Running a tool as a child process the way a shell would under test conditions: standard output
// to a file, a device or a pipe closed early, an optional file-size limit (`ulimit -f`).
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/support/FileText.h"

namespace childrun {

struct Outcome {
    int code = -1;    // exit code; -1 when ended by a signal
    int signal = 0;   // the signal that ended it, else 0
    std::string err;  // standard error
};

struct Setup {
    std::string folder;         // working folder; also holds the captured standard error
    std::string stdoutPath;     // where standard output goes ("" for a pipe read up to pipeBytes)
    std::size_t pipeBytes = 0;  // with a pipe: bytes read before the reading end is closed
    rlim_t fileSizeLimit = RLIM_INFINITY;
};

// Runs `exe` with `args` and waits for it. The child starts with default signal handling, as a
// program started from a shell does.
inline Outcome run(const std::string& exe, std::vector<std::string> args, const Setup& setup) {
    const std::string errPath = setup.folder + "/.child-stderr";
    int fds[2] = {-1, -1};
    if (setup.stdoutPath.empty() && pipe(fds) != 0) {
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGPIPE, SIG_DFL);
        signal(SIGXFSZ, SIG_DFL);
        const int out = setup.stdoutPath.empty()
                            ? fds[1]
                            : open(setup.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const rlimit limit{setup.fileSizeLimit, setup.fileSizeLimit};
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            chdir(setup.folder.c_str()) != 0 || setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            _exit(127);
        }
        if (fds[0] >= 0) {
            close(fds[0]);
        }
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    if (fds[0] >= 0) {
        close(fds[1]);
        std::vector<char> buffer(setup.pipeBytes);
        std::size_t got = 0;
        while (got < setup.pipeBytes) {
            const ssize_t n = read(fds[0], buffer.data() + got, setup.pipeBytes - got);
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        close(fds[0]);  // the reader goes away, as `head -c` does
    }
    Outcome o;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid) {
        if (WIFEXITED(status)) {
            o.code = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            o.signal = WTERMSIG(status);
        }
    }
    o.err = readFile(errPath);
    unlink(errPath.c_str());
    return o;
}

}  // namespace childrun
