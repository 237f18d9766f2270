// The process's own facts on Windows: the console mode of standard error, the working set, and
// _heapmin.
#include "platform/processinfo.h"

#include <windows.h>

#include "platform/win32/error.h"
// After windows.h, which psapi.h needs.
#include <malloc.h>
#include <psapi.h>

namespace platform {

bool standardErrorIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

Status residentBytes(std::uint64_t& bytes) {
    bytes = 0;
    PROCESS_MEMORY_COUNTERS counters;
    counters.cb = sizeof counters;
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        return win32::lastErrorStatus(StatusCode::io_error, "GetProcessMemoryInfo failed");
    }
    bytes = counters.WorkingSetSize;
    return Status::success();
}

void releaseFreeMemory() {
    _heapmin();
}

}  // namespace platform
