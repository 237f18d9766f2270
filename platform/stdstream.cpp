// Standard output takeover, on the descriptor calls of either system.
#include "platform/stdstream.h"

#include <cerrno>

#include "platform/backend.h"

namespace platform {

Status takeStandardOutput(FILE*& out) {
    out = nullptr;
    std::fflush(stdout);
    const int fd = backend::duplicate(backend::standardOutput());
    if (fd < 0) {
        return backend::systemError(errno);
    }
    FILE* stream = backend::openWriteStream(fd);
    if (stream == nullptr) {
        const int err = errno;
        backend::close(fd);
        return backend::systemError(err);
    }
    if (!backend::replace(backend::standardError(), backend::standardOutput())) {
        const int err = errno;
        std::fclose(stream);
        return backend::systemError(err);
    }
    out = stream;
    return Status::success();
}

}  // namespace platform
