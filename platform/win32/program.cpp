// The running program on Windows: GetModuleFileNameW, the wide command line split by
// CommandLineToArgvW, OpenProcess for liveness, the CRT's wide environment (which also updates
// the process environment that children inherit), GetTempPathW, and a console control handler.
#include "platform/program.h"

#include <windows.h>
// After windows.h:
#include <shellapi.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <random>

#include "platform/backend.h"
#include "platform/utf.h"
#include "platform/win32/error.h"
#include "platform/win32/longpath.h"

namespace platform {
namespace {

using win32::wide;

std::atomic<bool> terminationFlag{false};

BOOL WINAPI onConsoleControl(DWORD) {
    terminationFlag = true;
    return TRUE;  // handled: the program ends by itself
}

// A program without a console (started detached, or under a service) gets no console events;
// it also watches a named event that platform::stopChild sets.
DWORD WINAPI watchStopEvent(void* event) {
    if (WaitForSingleObject(static_cast<HANDLE>(event), INFINITE) == WAIT_OBJECT_0) {
        terminationFlag = true;
    }
    return 0;
}

std::string narrow(const wchar_t* text, size_t size) {
    std::string out;
    utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(text), size), out);
    return out;
}

Status lastError(const char* what) {
    return win32::lastErrorStatus(StatusCode::io_error, what);
}

std::wstring tempFolder() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD n = GetTempPathW(MAX_PATH + 2, buffer);
    std::wstring out = n > 0 && n <= MAX_PATH + 1 ? std::wstring(buffer, n) : L".\\";
    if (out.back() != L'\\') {
        out += L'\\';
    }
    return out;
}

}  // namespace

Status executablePath(std::string& out) {
    out.clear();
    std::wstring buffer(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) {
        return lastError("GetModuleFileNameW failed");
    }
    out = narrow(buffer.data(), n);
    return Status::success();
}

std::vector<std::string> commandLineArguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wargs = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wargs == nullptr) {
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) {
        out.push_back(narrow(wargs[i], wcslen(wargs[i])));
    }
    LocalFree(wargs);
    return out;
}

std::int64_t currentProcessId() {
    return static_cast<std::int64_t>(GetCurrentProcessId());
}

bool processRunning(std::int64_t id) {
    if (id <= 0 || id > 0xffffffffLL) {
        return false;
    }
    HANDLE h =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
    if (h == nullptr) {
        return GetLastError() == ERROR_ACCESS_DENIED;  // exists, but is not ours to open
    }
    const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return running;
}

Status processStartTime(std::int64_t id, std::int64_t& unixSeconds) {
    unixSeconds = 0;
    if (id <= 0 || id > 0xffffffffLL) {
        return Status(StatusCode::not_found, ESRCH, "no such process");
    }
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(id));
    if (h == nullptr) {
        return win32::lastErrorStatus(StatusCode::not_found, "OpenProcess failed");
    }
    FILETIME created, exited, kernel, user;
    const BOOL ok = GetProcessTimes(h, &created, &exited, &kernel, &user);
    const DWORD error = GetLastError();
    CloseHandle(h);
    if (!ok) {
        return win32::systemStatus(StatusCode::not_found, error, "GetProcessTimes failed");
    }
    // 100 ns units since 1601.
    const unsigned long long t =
        (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    unixSeconds = static_cast<std::int64_t>(t / 10000000ull) - 11644473600LL;
    return Status::success();
}

Status checkPrivateFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Says all a user needs, in the same words as the POSIX build.
        return Status(StatusCode::not_found, static_cast<int>(GetLastError()),
                      path + " does not exist");
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return Status(StatusCode::invalid_argument, ENOTDIR, path + " is not a folder");
    }
    return Status::success();
}

bool getEnvironment(const std::string& name, std::string& out) {
    out.clear();
    const wchar_t* value = _wgetenv(wide(name).c_str());
    if (value == nullptr) {
        return false;
    }
    out = narrow(value, wcslen(value));
    return true;
}

Status setEnvironment(const std::string& name, const std::string& value) {
    if (value.empty()) {
        // An empty value would remove the variable on Windows; keep it set, as POSIX does.
        if (!SetEnvironmentVariableW(wide(name).c_str(), L"")) {
            return lastError("SetEnvironmentVariableW failed");
        }
        return Status::success();
    }
    const errno_t err = _wputenv_s(wide(name).c_str(), wide(value).c_str());
    return err == 0 ? Status::success()
                    : backend::failure(StatusCode::invalid_argument, err, "_wputenv_s failed");
}

Status unsetEnvironment(const std::string& name) {
    const errno_t err = _wputenv_s(wide(name).c_str(), L"");
    return err == 0 ? Status::success()
                    : backend::failure(StatusCode::invalid_argument, err, "_wputenv_s failed");
}

Status perUserTempFolder(const std::string& name, std::string& out) {
    const std::wstring folder = tempFolder() + wide(name);
    out = narrow(folder.data(), folder.size());
    return Status::success();
}

Status makeTempFolder(const std::string& prefix, std::string& out) {
    out.clear();
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device seed;
    std::mt19937 pick(seed() ^ GetCurrentProcessId() ^ GetTickCount());
    const std::wstring base = tempFolder() + wide(prefix);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring candidate = base;
        for (int i = 0; i < 6; ++i) {
            candidate += static_cast<wchar_t>(kLetters[pick() % (sizeof kLetters - 1)]);
        }
        if (CreateDirectoryW(candidate.c_str(), nullptr)) {
            out = narrow(candidate.data(), candidate.size());
            return Status::success();
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    return lastError("CreateDirectoryW failed");
}

Status catchTermination() {
    if (!SetConsoleCtrlHandler(onConsoleControl, TRUE)) {
        return lastError("SetConsoleCtrlHandler failed");
    }
    static HANDLE event = nullptr;
    if (event == nullptr) {
        const std::wstring name =
            L"Local\\raydeck-terminate-" + std::to_wstring(GetCurrentProcessId());
        event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
        HANDLE thread = event != nullptr
                            ? CreateThread(nullptr, 0, watchStopEvent, event, 0, nullptr)
                            : nullptr;
        if (thread == nullptr) {
            return lastError("cannot watch the stop event");
        }
        CloseHandle(thread);
    }
    return Status::success();
}

bool terminationRequested() {
    return terminationFlag;
}

}  // namespace platform
