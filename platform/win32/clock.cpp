// Sleep, ticks and local time text on Windows.
#include "platform/clock.h"

#include <windows.h>

namespace platform {

Status sleepMs(std::uint32_t milliseconds) {
    Sleep(milliseconds);
    return Status::success();
}

std::uint32_t tickMs() {
    return static_cast<std::uint32_t>(GetTickCount());
}

Status localTimeText(std::string& out) {
    out.clear();
    char buf[200];
    if (GetTimeFormatA(LOCALE_USER_DEFAULT, 0, nullptr, "HH':'mm':'ss", buf, sizeof buf) == 0) {
        return Status(StatusCode::io_error, static_cast<int>(GetLastError()),
                      "GetTimeFormatA failed");
    }
    out = buf;
    return Status::success();
}

}  // namespace platform
