// Interrupts on Windows: a console control handler, which runs on a thread of its own, and the
// stop event of platform::stopChild, watched by a thread. The temporaries are opened shared for
// deletion, so they can be removed while the main thread still holds them open: they go when the
// process ends.
#include "platform/interrupt.h"

#include <windows.h>

#include <cerrno>
#include <mutex>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/utf.h"
#include "platform/win32/error.h"
#include "platform/win32/longpath.h"

namespace platform {
namespace {

constexpr std::size_t kMaxTargets = 8;
std::mutex targetsMutex;
std::vector<std::u16string> targets;  // resolved
std::string line;

void endProgram(UINT code) {
    {
        std::lock_guard<std::mutex> lock(targetsMutex);
        for (const std::u16string& target : targets) {
            for (unsigned attempt = 0; attempt < backend::kTemporaryAttempts; ++attempt) {
                DeleteFileW(win32::extendedPath(win32::temporaryPath(target, attempt)).c_str());
            }
        }
    }
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()),
              &written, nullptr);
    // Not ExitProcess: its clean-up would wait for locks that the stopped main thread may hold.
    TerminateProcess(GetCurrentProcess(), code);
}

BOOL WINAPI onConsoleControl(DWORD event) {
    endProgram(event == CTRL_C_EVENT ? 130 : 143);
    return TRUE;
}

// A program without a console gets no console events: platform::stopChild sets this event.
DWORD WINAPI watchStopEvent(void* event) {
    if (WaitForSingleObject(static_cast<HANDLE>(event), INFINITE) == WAIT_OBJECT_0) {
        endProgram(143);
    }
    return 0;
}

}  // namespace

Status exitOnInterrupt(const std::string& program) {
    line = program + ": interrupted\n";
    if (!SetConsoleCtrlHandler(onConsoleControl, TRUE)) {
        return win32::lastErrorStatus(StatusCode::io_error, "SetConsoleCtrlHandler failed");
    }
    const std::wstring name = L"Local\\raydeck-terminate-" + std::to_wstring(GetCurrentProcessId());
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
    const HANDLE thread =
        event != nullptr ? CreateThread(nullptr, 0, watchStopEvent, event, 0, nullptr) : nullptr;
    if (thread == nullptr) {
        return win32::lastErrorStatus(StatusCode::io_error, "cannot watch the stop event");
    }
    CloseHandle(thread);
    return Status::success();
}

Status removeTemporariesOnInterrupt(const std::string& target) {
    std::u16string wide;
    std::lock_guard<std::mutex> lock(targetsMutex);
    if (targets.size() >= kMaxTargets || !utf8ToUtf16(target, wide).ok()) {
        return Status(StatusCode::invalid_argument, EINVAL, "cannot watch this target");
    }
    targets.push_back(win32::resolvedTarget(wide));
    return Status::success();
}

}  // namespace platform
