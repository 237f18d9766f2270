// The descriptor calls on POSIX: new descriptors close on exec, so children inherit none.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/backend.h"

namespace platform::backend {

int standardOutput() {
    return STDOUT_FILENO;
}
int standardError() {
    return STDERR_FILENO;
}

int duplicate(int fd) {
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

bool replace(int from, int to) {
    return ::dup2(from, to) >= 0;
}

void close(int fd) {
    ::close(fd);
}

bool openPipe(int ends[2]) {
    return ::pipe2(ends, O_CLOEXEC) == 0;
}

long readSome(int fd, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size);
        if (n >= 0 || errno != EINTR) {
            return static_cast<long>(n);
        }
    }
}

long writeSome(int fd, const char* data, std::size_t size) {
    for (;;) {
        const ssize_t n = ::write(fd, data, size);
        if (n >= 0 || errno != EINTR) {
            return static_cast<long>(n);
        }
    }
}

std::FILE* openWriteStream(int fd) {
    return ::fdopen(fd, "wb");
}

}  // namespace platform::backend
