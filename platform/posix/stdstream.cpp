// Standard output takeover on POSIX (there is no text/binary distinction to switch).
#include "platform/stdstream.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

Status takeStandardOutput(FILE*& out) {
    out = nullptr;
    std::fflush(stdout);
    const int fd = ::dup(STDOUT_FILENO);
    if (fd < 0) {
        const int err = errno;
        return Status(StatusCode::io_error, err, std::strerror(err));
    }
    FILE* stream = ::fdopen(fd, "wb");
    if (stream == nullptr) {
        const int err = errno;
        ::close(fd);
        return Status(StatusCode::io_error, err, std::strerror(err));
    }
    if (::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        const int err = errno;
        std::fclose(stream);
        return Status(StatusCode::io_error, err, std::strerror(err));
    }
    out = stream;
    return Status::success();
}

}  // namespace platform
