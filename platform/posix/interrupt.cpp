// Interrupts on POSIX: a SIGINT/SIGTERM handler that does only what is safe in a handler
// (unlink, write, _exit) on paths prepared when the targets were watched.
#include "platform/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/backend.h"
#include "platform/posix/path.h"
#include "platform/utf.h"

namespace platform {
namespace {

constexpr int kMaxTargets = 8;
// The path of temporary 0 of each watched target; the attempt's four hex digits stand right
// before ".partial".
char temporaries[kMaxTargets][PATH_MAX + 1];
volatile sig_atomic_t watched = 0;
char line[256];
std::size_t lineLength = 0;

extern "C" void onInterrupt(int signal) {
    static const char hex[] = "0123456789abcdef";
    const std::size_t kTail = std::strlen(".partial");
    for (int t = 0; t < watched; ++t) {
        char path[PATH_MAX + 1];
        std::memcpy(path, temporaries[t], sizeof path);
        const std::size_t n = std::strlen(path);
        if (n < kTail + 4) {
            continue;
        }
        char* digits = path + n - kTail - 4;
        for (unsigned attempt = 0; attempt < backend::kTemporaryAttempts; ++attempt) {
            for (int d = 0; d < 4; ++d) {
                digits[d] = hex[(attempt >> (12 - 4 * d)) & 0xF];
            }
            ::unlink(path);
        }
    }
    (void)!::write(2, line, lineLength);
    ::_exit(128 + signal);
}

}  // namespace

Status exitOnInterrupt(const std::string& program) {
    const std::string text = program + ": interrupted\n";
    lineLength = std::min(text.size(), sizeof line);
    std::memcpy(line, text.data(), lineLength);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    if (::sigaction(SIGINT, &action, nullptr) != 0 || ::sigaction(SIGTERM, &action, nullptr) != 0) {
        return backend::systemError(errno);
    }
    return Status::success();
}

Status removeTemporariesOnInterrupt(const std::string& target) {
    std::u16string wide;
    std::string native;
    if (watched >= kMaxTargets || !utf8ToUtf16(target, wide).ok() ||
        !posix::nativePath(wide, native).ok()) {
        return Status(StatusCode::invalid_argument, EINVAL, "cannot watch this target");
    }
    const std::string first = posix::temporaryPath(posix::resolvedTarget(native), 0);
    if (first.size() > PATH_MAX) {
        return Status(StatusCode::invalid_argument, ENAMETOOLONG, std::strerror(ENAMETOOLONG));
    }
    std::memcpy(temporaries[watched], first.c_str(), first.size() + 1);
    watched = watched + 1;  // the handler reads the slot only from now on
    return Status::success();
}

}  // namespace platform
