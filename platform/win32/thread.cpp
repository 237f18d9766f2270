// A thread with a stack of a given size on Windows: CreateThread reserving that stack.
#include "platform/thread.h"

#include <windows.h>

#include "platform/win32/error.h"

namespace platform {

Status runWithStack(std::size_t stackBytes, const std::function<void()>& work) {
    const HANDLE thread = CreateThread(
        nullptr, stackBytes,
        [](void* arg) -> DWORD {
            (*static_cast<const std::function<void()>*>(arg))();
            return 0;
        },
        const_cast<std::function<void()>*>(&work), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        return win32::lastErrorStatus(StatusCode::io_error, "CreateThread failed");
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return Status::success();
}

}  // namespace platform
