// Starting a program in the background on Windows: CreateProcessW with the path as the
// application name and no command line, nothing inherited but the environment and the folder;
// both handles are closed at once, so nothing waits for the program.
#include "platform/process.h"

#include <windows.h>

#include <cerrno>

#include "platform/win32/longpath.h"

namespace platform {

Status startProcess(const std::u16string& path) {
    if (path.empty()) {
        return Status(StatusCode::invalid_argument, EINVAL, "no program path");
    }
    const std::wstring app = win32::extendedPath(path);
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    if (!CreateProcessW(app.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        const DWORD err = GetLastError();
        const bool missing = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
        return Status(missing ? StatusCode::not_found : StatusCode::io_error, static_cast<int>(err),
                      "CreateProcessW failed");
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return Status::success();
}

Status reportWriteFailuresAsErrors() {
    // Windows ends no process for a full pipe or a file-size limit: writes fail by themselves.
    return Status::success();
}

Status limitOwnMemory(unsigned long long bytes) {
    // A job of its own that the process stays in until it ends (the handle is kept open).
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) {
        return Status(StatusCode::io_error, static_cast<int>(GetLastError()),
                      "cannot create a job object");
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    limits.ProcessMemoryLimit = static_cast<SIZE_T>(bytes);
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
        !AssignProcessToJobObject(job, GetCurrentProcess())) {
        const DWORD err = GetLastError();
        CloseHandle(job);
        return Status(StatusCode::io_error, static_cast<int>(err), "cannot bound the memory");
    }
    return Status::success();
}

Status keepFreedMemory() {
    // The process heap keeps what it frees by itself.
    return Status::success();
}

}  // namespace platform
