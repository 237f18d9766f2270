// Sleep, ticks and local time text on Windows.
#include "platform/clock.h"

#include <windows.h>

#include "platform/win32/error.h"

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
        return win32::lastErrorStatus(StatusCode::io_error, "GetTimeFormatA failed");
    }
    out = buf;
    return Status::success();
}

}  // namespace platform
