// Child processes on Windows: CreateProcessW with a quoted command line, an environment block
// with the settings applied, a starting folder, the null device and files for the standard
// streams, and a process group of its own so that a console break event reaches the child alone.
#include "platform/child.h"

#include <windows.h>

#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/utf.h"
#include "platform/win32/longpath.h"

namespace platform {

const char backend::kPathListSeparator = ';';

bool backend::runnableFile(const std::string& candidate, std::string& out) {
    const auto isFile = [](const std::string& path) {
        const DWORD attributes = GetFileAttributesW(win32::wide(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
    };
    const std::size_t slash = candidate.find_last_of("/\\");
    const bool hasExtension =
        candidate.find('.', slash == std::string::npos ? 0 : slash + 1) != std::string::npos;
    if (isFile(candidate)) {
        out = candidate;
        return true;
    }
    if (!hasExtension && isFile(candidate + ".exe")) {
        out = candidate + ".exe";
        return true;
    }
    return false;
}

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

// The caller's environment block with the options' settings applied (platform/child.cpp).
std::wstring environmentBlock(const ChildOptions& options) {
    std::vector<std::string> current;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* p = strings; p != nullptr && *p != L'\0'; p += wcslen(p) + 1) {
        std::string entry;
        if (utf16ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(p), wcslen(p)), entry)
                .ok()) {
            current.push_back(std::move(entry));
        }
    }
    if (strings != nullptr) {
        FreeEnvironmentStringsW(strings);
    }
    std::wstring block;
    for (const std::string& e : backend::childEnvironment(current, options, true)) {
        block += wide(e);
        block += L'\0';
    }
    // An empty block still needs its two terminating units.
    block += L'\0';
    if (block.size() == 1) {
        block += L'\0';
    }
    return block;
}

HANDLE openInherited(const std::wstring& path, bool write) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
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
    // The handles opened here: standard input, output and error (error may be output's).
    HANDLE files[3] = {INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
    const auto closeFiles = [&files] {
        for (HANDLE f : files) {
            if (f != INVALID_HANDLE_VALUE) {
                CloseHandle(f);
            }
        }
    };
    const bool sameFile = !options.outputFile.empty() && options.outputFile == options.errorFile;
    const bool redirect =
        options.nullInput || !options.outputFile.empty() || !options.errorFile.empty();
    bool opened = true;
    if (redirect) {
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        if (options.nullInput) {
            files[0] = si.hStdInput = openInherited(L"NUL", false);
            opened = files[0] != INVALID_HANDLE_VALUE;
        }
        if (opened && !options.outputFile.empty()) {
            files[1] = si.hStdOutput = openInherited(wide(options.outputFile), true);
            opened = files[1] != INVALID_HANDLE_VALUE;
        }
        if (opened && sameFile) {
            si.hStdError = si.hStdOutput;
        } else if (opened && !options.errorFile.empty()) {
            files[2] = si.hStdError = openInherited(wide(options.errorFile), true);
            opened = files[2] != INVALID_HANDLE_VALUE;
        }
    }
    // A stream file that would not open fails the start, as the child on POSIX fails (126).
    if (!opened) {
        const Status failed = lastError("CreateFileW failed");
        closeFiles();
        return failed;
    }
    PROCESS_INFORMATION pi;
    ZeroMemory(&pi, sizeof pi);
    const std::wstring folder = wide(options.workingFolder);
    const BOOL ok =
        CreateProcessW(app.c_str(), &line[0], nullptr, nullptr, redirect ? TRUE : FALSE,
                       CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP, &environment[0],
                       folder.empty() ? nullptr : folder.c_str(), &si, &pi);
    const Status failed = ok ? Status::success() : lastError("CreateProcessW failed");
    closeFiles();
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
