// Child processes on Windows: CreateProcessW with a quoted command line, an environment block
// with the changes applied, files for the standard streams, and a process group of its own so
// that a console break event reaches the child alone.
#include "platform/child.h"

#include <windows.h>

#include <cwctype>
#include <string>

#include "platform/utf.h"
#include "platform/win32/longpath.h"

namespace platform {
namespace {

using win32::wide;

Status lastError(const char* what) {
    const DWORD err = GetLastError();
    const bool missing = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
    return Status(missing ? StatusCode::not_found : StatusCode::io_error, static_cast<int>(err),
                  what);
}

// One argument quoted as CommandLineToArgvW and the C runtime split it again.
void appendQuoted(std::wstring& line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    for (size_t i = 0;; ++i) {
        size_t backslashes = 0;
        while (i < arg.size() && arg[i] == L'\\') {
            ++i;
            ++backslashes;
        }
        if (i == arg.size()) {
            line.append(backslashes * 2, L'\\');
            break;
        }
        if (arg[i] == L'"') {
            line.append(backslashes * 2 + 1, L'\\');
        } else {
            line.append(backslashes, L'\\');
        }
        line += arg[i];
    }
    line += L'"';
}

bool sameName(const std::wstring& entry, const std::wstring& name) {
    if (entry.size() <= name.size() || entry[name.size()] != L'=') {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        if (std::towupper(entry[i]) != std::towupper(name[i])) {
            return false;
        }
    }
    return true;
}

std::wstring environmentBlock(const ChildOptions& options) {
    std::vector<std::wstring> entries;
    wchar_t* current = GetEnvironmentStringsW();
    for (const wchar_t* p = current; p != nullptr && *p != L'\0'; p += wcslen(p) + 1) {
        entries.emplace_back(p);
    }
    if (current != nullptr) {
        FreeEnvironmentStringsW(current);
    }
    for (const auto& [name, value] : options.environment) {
        const std::wstring n = wide(name);
        std::vector<std::wstring> kept;
        for (std::wstring& e : entries) {
            if (!sameName(e, n)) {
                kept.push_back(std::move(e));
            }
        }
        entries.swap(kept);
        if (!value.empty()) {
            entries.push_back(n + L"=" + wide(value));
        }
    }
    std::wstring block;
    for (const std::wstring& e : entries) {
        block += e;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

HANDLE openOutput(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

Status spawnChild(const std::string& program, const std::vector<std::string>& arguments,
                  const ChildOptions& options, Child& out) {
    out = Child{};
    const std::wstring app = wide(program);
    std::wstring line;
    appendQuoted(line, app);
    for (const std::string& a : arguments) {
        line += L' ';
        appendQuoted(line, wide(a));
    }
    std::wstring environment = environmentBlock(options);
    STARTUPINFOW si;
    ZeroMemory(&si, sizeof si);
    si.cb = sizeof si;
    HANDLE files[2] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
    const bool redirect = !options.outputFile.empty() || !options.errorFile.empty();
    if (redirect) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        if (!options.outputFile.empty()) {
            files[0] = si.hStdOutput = openOutput(options.outputFile);
        }
        if (!options.errorFile.empty()) {
            files[1] = si.hStdError = openOutput(options.errorFile);
        }
    }
    // A stream file that would not open fails the start, as the child on POSIX fails (126).
    if ((!options.outputFile.empty() && files[0] == INVALID_HANDLE_VALUE) ||
        (!options.errorFile.empty() && files[1] == INVALID_HANDLE_VALUE)) {
        const Status failed = lastError("CreateFileW failed");
        for (HANDLE f : files) {
            if (f != INVALID_HANDLE_VALUE) {
                CloseHandle(f);
            }
        }
        return failed;
    }
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    const BOOL ok = CreateProcessW(app.c_str(), &line[0], nullptr, nullptr, redirect ? TRUE : FALSE,
                                   CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP,
                                   &environment[0], nullptr, &si, &pi);
    const Status failed = ok ? Status::success() : lastError("CreateProcessW failed");
    for (HANDLE f : files) {
        if (f != INVALID_HANDLE_VALUE) {
            CloseHandle(f);
        }
    }
    if (!ok) {
        return failed;
    }
    CloseHandle(pi.hThread);
    out.id = pi.dwProcessId;
    out.handle = pi.hProcess;
    return Status::success();
}

Status waitChild(Child& child, int timeoutMs, bool& exited, int& exitCode) {
    exited = false;
    exitCode = -1;
    if (child.handle == nullptr) {
        return Status(StatusCode::invalid_argument, ERROR_INVALID_HANDLE, "no child");
    }
    const DWORD r = WaitForSingleObject(static_cast<HANDLE>(child.handle),
                                        timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
    if (r == WAIT_TIMEOUT) {
        return Status::success();
    }
    DWORD code = 0;
    if (r != WAIT_OBJECT_0 || !GetExitCodeProcess(static_cast<HANDLE>(child.handle), &code)) {
        return lastError("WaitForSingleObject failed");
    }
    CloseHandle(static_cast<HANDLE>(child.handle));
    child = Child{};
    exited = true;
    exitCode = static_cast<int>(code);
    return Status::success();
}

Status stopChild(const Child& child) {
    // The stop event of a child that catches termination (platform::catchTermination), else a
    // console break event to its process group.
    const std::wstring name = L"Local\\raydeck-terminate-" + std::to_wstring(child.id);
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (event != nullptr) {
        const BOOL set = SetEvent(event);
        CloseHandle(event);
        if (set) {
            return Status::success();
        }
    }
    if (!GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(child.id))) {
        return lastError("GenerateConsoleCtrlEvent failed");
    }
    return Status::success();
}

Status killChild(const Child& child) {
    if (child.handle == nullptr || !TerminateProcess(static_cast<HANDLE>(child.handle), 137)) {
        return lastError("TerminateProcess failed");
    }
    return Status::success();
}

}  // namespace platform
