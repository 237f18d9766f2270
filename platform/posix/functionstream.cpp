// A stdio stream on a function: glibc's fopencookie.
#include "platform/functionstream.h"

#include <cerrno>
#include <new>

#include "platform/backend.h"

namespace platform {
namespace {

struct Target {
    StreamWrite write;
    void* context;
};

ssize_t cookieWrite(void* cookie, const char* data, size_t size) {
    auto* t = static_cast<Target*>(cookie);
    t->write(t->context, data, size);
    return static_cast<ssize_t>(size);
}

int cookieClose(void* cookie) {
    delete static_cast<Target*>(cookie);
    return 0;
}

}  // namespace

Status openFunctionStream(StreamWrite write, void* context, FILE*& out) {
    out = nullptr;
    auto* target = new (std::nothrow) Target{write, context};
    if (target == nullptr) {
        return Status(StatusCode::io_error, ENOMEM, "out of memory");
    }
    cookie_io_functions_t io{};
    io.write = cookieWrite;
    io.close = cookieClose;
    out = ::fopencookie(target, "w", io);
    if (out == nullptr) {
        const int err = errno;
        delete target;
        return backend::failure(StatusCode::io_error, err, "fopencookie failed");
    }
    return Status::success();
}

Status closeFunctionStream(FILE* stream) {
    if (stream == nullptr) {
        return Status::success();
    }
    return std::fclose(stream) == 0
               ? Status::success()
               : backend::failure(StatusCode::io_error, errno, "fclose failed");
}

}  // namespace platform
