// Runs a program as a child process for a test and waits for it: arguments without a shell,
// standard output and error into files, optionally a working folder, a stack limit (as
// `ulimit -s` sets it), a whole replacement environment, a deadline after which it is killed,
// and a hook run in the child before the program starts. Folders are absolute. POSIX only.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/FileText.h"

struct RunOptions {
    std::string workingFolder;  // empty: the test's own
    std::string outputFolder;   // where .stdout and .stderr go; empty: the working folder
    rlim_t stackBytes = 0;      // 0: the inherited limit
    int timeoutSeconds = 0;     // 0: wait as long as it runs
    bool replaceEnvironment = false;
    std::vector<std::string> environment;  // NAME=value, the whole environment when replacing
    std::function<void()> inChild;         // runs after the redirections, before exec
};

struct ProgramRun {
    bool started = false;
    bool exited = false;  // ended by itself through exit
    int exitCode = -1;
    int signal = 0;  // the signal that ended it, if one did
    bool timedOut = false;
    std::string out, err;

    // The exit code, or `otherwise` when it did not exit by itself.
    int codeOr(int otherwise) const { return exited ? exitCode : otherwise; }
};

inline ProgramRun runProgram(const std::string& exe, std::vector<std::string> args,
                             const RunOptions& options = RunOptions()) {
    const std::string outputFolder =
        options.outputFolder.empty() ? options.workingFolder : options.outputFolder;
    const std::string prefix = outputFolder.empty() ? std::string() : outputFolder + "/";
    const std::string outFile = prefix + ".stdout", errFile = prefix + ".stderr";
    ProgramRun run;
    const pid_t pid = fork();
    if (pid == 0) {
        if (!options.workingFolder.empty() && chdir(options.workingFolder.c_str()) != 0) {
            _exit(127);
        }
        if (options.stackBytes != 0) {
            const rlimit limit{options.stackBytes, options.stackBytes};
            if (setrlimit(RLIMIT_STACK, &limit) != 0) {
                _exit(127);
            }
        }
        // The working folder may differ from the output folder: open by the names given.
        const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0) {
            _exit(127);
        }
        dup2(out, 1);
        dup2(err, 2);
        if (options.inChild) {
            options.inChild();
        }
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
            execve(name.c_str(), argv.data(), envp.data());
        } else {
            execv(name.c_str(), argv.data());
        }
        _exit(127);
    }
    if (pid < 0) {
        return run;
    }
    run.started = true;
    int status = 0;
    if (options.timeoutSeconds > 0) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds);
        for (;;) {
            const pid_t done = waitpid(pid, &status, WNOHANG);
            if (done == pid) {
                break;
            }
            if (done < 0 && errno != EINTR) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid, SIGKILL);
                waitpid(pid, &status, 0);
                run.timedOut = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    } else {
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (WIFEXITED(status)) {
        run.exited = !run.timedOut;
        run.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run.signal = WTERMSIG(status);
    }
    run.out = readFile(outFile);
    run.err = readFile(errFile);
    return run;
}
