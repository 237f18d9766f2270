// Standard output takeover on Windows through the C runtime's descriptor calls.
#include "platform/stdstream.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

namespace platform {

Status takeStandardOutput(FILE*& out) {
    out = nullptr;
    std::fflush(stdout);
    const int fd = _dup(_fileno(stdout));
    if (fd < 0) {
        const int err = errno;
        return Status(StatusCode::io_error, err, std::strerror(err));
    }
    FILE* stream = _fdopen(fd, "wb");
    if (stream == nullptr) {
        const int err = errno;
        _close(fd);
        return Status(StatusCode::io_error, err, std::strerror(err));
    }
    if (_dup2(_fileno(stderr), _fileno(stdout)) != 0) {
        const int err = errno;
        std::fclose(stream);
        return Status(StatusCode::io_error, err, std::strerror(err));
    }
    // The scene holds packed bytes: no newline translation.
    if (_setmode(_fileno(stream), _O_BINARY) == -1) {
        const int err = errno;
        std::fclose(stream);
        return Status(StatusCode::io_error, err, std::strerror(err));
    }
    out = stream;
    return Status::success();
}

}  // namespace platform
