// Starting a program in the background on POSIX: a double fork, so the program is adopted by
// init and never becomes our zombie, in a session of its own, with its standard streams on
// /dev/null and no other descriptor of ours. Everything the children need is prepared before the
// first fork; between fork and exec only async-signal-safe calls are made.
#include "platform/process.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/backend.h"
#include "platform/posix/path.h"

extern char** environ;

namespace platform {
namespace {

// Reports `err` to the parent through the close-on-exec pipe, then ends the child.
[[noreturn]] void failChild(int reportFd, int err) {
    ssize_t n;
    do {
        n = ::write(reportFd, &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    ::_exit(127);
}

void closeOthers(int keepFd, int maxFd) {
#ifdef SYS_close_range
    // One call instead of a loop over a possibly huge descriptor limit.
    if (keepFd > 3) {
        ::syscall(SYS_close_range, 3u, static_cast<unsigned>(keepFd - 1), 0u);
    }
    if (::syscall(SYS_close_range, static_cast<unsigned>(keepFd + 1), ~0u, 0u) == 0) {
        return;
    }
#endif
    for (int fd = 3; fd < maxFd; ++fd) {
        if (fd != keepFd) {
            ::close(fd);
        }
    }
}

// The grandchild: becomes the program or reports why it could not.
[[noreturn]] void runProgram(const char* path, char* const argv[], int nullFd, int reportFd,
                             int maxFd) {
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) {
        ::sigaction(sig, &dfl, nullptr);  // fails harmlessly for SIGKILL, SIGSTOP
    }
    for (int fd = 0; fd < 3; ++fd) {
        if (::dup2(nullFd, fd) < 0) {
            failChild(reportFd, errno);
        }
    }
    closeOthers(reportFd, maxFd);
    ::execve(path, argv, environ);
    failChild(reportFd, errno);
}

// Moves a descriptor that took a standard stream's number (the caller had closed it) above
// them, so that setting up the child's streams cannot overwrite it.
int aboveStdio(int fd) {
    if (fd < 0 || fd > 2) {
        return fd;
    }
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

Status failure(int err, const char* what) {
    const StatusCode code =
        (err == ENOENT || err == ENOTDIR) ? StatusCode::not_found : StatusCode::io_error;
    std::string message(what);
    message += ": ";
    message += std::strerror(err);
    return Status(code, err, message);
}

}  // namespace

Status startProcess(const std::u16string& path) {
    std::string native;
    Status st = posix::nativePath(path, native);
    if (!st.ok()) {
        return Status(StatusCode::invalid_argument, EINVAL, st.message());
    }
    if (native.empty()) {
        return Status(StatusCode::invalid_argument, EINVAL, "no program path");
    }
    char* const argv[] = {&native[0], nullptr};

    struct rlimit lim;
    int maxFd = 1024;
    if (::getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY) {
        maxFd = static_cast<int>(lim.rlim_cur < 65536 ? lim.rlim_cur : 65536);
    }
    const int nullFd = aboveStdio(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (nullFd < 0) {
        return failure(errno, "cannot open /dev/null");
    }
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        const int err = errno;
        ::close(nullFd);
        return failure(err, "cannot create a pipe");
    }
    report[0] = aboveStdio(report[0]);
    report[1] = aboveStdio(report[1]);
    if (report[0] < 0 || report[1] < 0) {
        const int err = errno;
        ::close(nullFd);
        ::close(report[0]);
        ::close(report[1]);
        return failure(err, "cannot create a pipe");
    }

    const pid_t child = ::fork();
    if (child < 0) {
        const int err = errno;
        ::close(nullFd);
        ::close(report[0]);
        ::close(report[1]);
        return failure(err, "cannot fork");
    }
    if (child == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild < 0) {
            failChild(report[1], errno);
        }
        if (grandchild == 0) {
            runProgram(argv[0], argv, nullFd, report[1], maxFd);
        }
        ::_exit(0);
    }

    ::close(nullFd);
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe reads end-of-file once the program has started (close-on-exec) or a child has
    // ended; an error number comes first when starting failed.
    int err = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    if (n == static_cast<ssize_t>(sizeof err)) {
        return failure(err, "cannot start program");
    }
    return Status::success();
}

Status reportWriteFailuresAsErrors() {
    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    ::sigemptyset(&ignore.sa_mask);
    for (int sig : {SIGPIPE, SIGXFSZ}) {
        if (::sigaction(sig, &ignore, nullptr) != 0) {
            return backend::systemError(errno);
        }
    }
    return Status::success();
}

Status limitOwnMemory(unsigned long long bytes) {
    rlimit bound{};
    if (::getrlimit(RLIMIT_AS, &bound) != 0) {
        return backend::systemError(errno);
    }
    const rlim_t wanted = static_cast<rlim_t>(bytes);
    if (bound.rlim_max != RLIM_INFINITY && bound.rlim_max < wanted) {
        return Status::success();  // already bounded tighter
    }
    bound.rlim_cur = wanted;
    if (::setrlimit(RLIMIT_AS, &bound) != 0) {
        return backend::systemError(errno);
    }
    return Status::success();
}

Status keepFreedMemory() {
#ifdef __GLIBC__
    // One arena for every thread; no mapping of its own for a large block (a mapping is handed
    // back when freed); no trimming of the heap's top; the heap grown 64 MiB at a time.
    if (::mallopt(M_ARENA_MAX, 1) == 0 || ::mallopt(M_MMAP_MAX, 0) == 0 ||
        ::mallopt(M_TRIM_THRESHOLD, INT_MAX) == 0 || ::mallopt(M_TOP_PAD, 64 << 20) == 0) {
        return Status(StatusCode::invalid_argument, EINVAL, "the allocator refused a setting");
    }
#endif
    return Status::success();
}

}  // namespace platform
