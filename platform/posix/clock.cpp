// Sleep, ticks and local time text on POSIX.
#include "platform/clock.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/backend.h"

namespace platform {

Status sleepMs(std::uint32_t milliseconds) {
    struct timespec want;
    want.tv_sec = static_cast<time_t>(milliseconds / 1000);
    want.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    // Resume after signals so the caller gets at least the pause it asked for.
    while (::nanosleep(&want, &want) != 0) {
        if (errno != EINTR) {
            const int err = errno;
            return Status(StatusCode::io_error, err, std::strerror(err));
        }
    }
    return Status::success();
}

std::uint32_t tickMs() {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

Status localTimeText(std::string& out) {
    out.clear();
    const std::time_t now = std::time(nullptr);
    struct tm parts;
    if (::localtime_r(&now, &parts) == nullptr) {
        const int err = errno;
        return backend::failure(StatusCode::io_error, err, "local time not available");
    }
    char buf[200];
    if (std::strftime(buf, sizeof buf, "%H:%M:%S", &parts) == 0) {
        return Status(StatusCode::io_error, 0, "time could not be formatted");
    }
    out = buf;
    return Status::success();
}

}  // namespace platform
