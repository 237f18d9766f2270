// Standard output takeover, on the descriptor calls of either system.
#include "platform/stdstream.h"

#include <cerrno>
#include <cstring>

#include "platform/backend.h"

namespace platform {

namespace {

Status systemError(int err) {
    return Status(StatusCode::io_error, err, std::strerror(err));
}

}  // namespace

Status takeStandardOutput(FILE*& out) {
    out = nullptr;
    std::fflush(stdout);
    const int fd = backend::duplicate(backend::standardOutput());
    if (fd < 0) {
        return systemError(errno);
    }
    FILE* stream = backend::openWriteStream(fd);
    if (stream == nullptr) {
        const int err = errno;
        backend::close(fd);
        return systemError(err);
    }
    if (!backend::replace(backend::standardError(), backend::standardOutput())) {
        const int err = errno;
        std::fclose(stream);
        return systemError(err);
    }
    out = stream;
    return Status::success();
}

}  // namespace platform
