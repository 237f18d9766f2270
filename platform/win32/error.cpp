// Windows error texts through FormatMessageW, as UTF-8 without the trailing period and line
// break, so that they read as the POSIX build's strerror texts do after a colon.
#include "platform/win32/error.h"

#include <winsock2.h>
// After winsock2.h:
#include <windows.h>

#include "platform/utf.h"

namespace platform {
namespace win32 {

namespace {

std::string systemText(unsigned long error) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string wide;
    if (n != 0 && buffer != nullptr) {
        wide.assign(buffer, buffer + n);
    }
    if (buffer != nullptr) {
        LocalFree(buffer);
    }
    while (!wide.empty() && (wide.back() == u'\r' || wide.back() == u'\n' || wide.back() == u' ' ||
                             wide.back() == u'.')) {
        wide.pop_back();
    }
    std::string text;
    if (wide.empty() || !utf16ToUtf8(wide, text).ok()) {
        return "Windows error " + std::to_string(error);
    }
    return text;
}

}  // namespace

Status systemStatus(StatusCode code, unsigned long error, const std::string& what) {
    return Status(code, static_cast<int>(error), what + ": " + systemText(error));
}

Status lastErrorStatus(StatusCode code, const std::string& what) {
    const DWORD error = GetLastError();
    return systemStatus(code, error, what);
}

Status socketStatus(StatusCode code, const std::string& what) {
    const int error = WSAGetLastError();
    return systemStatus(code, static_cast<unsigned long>(error), what);
}

}  // namespace win32
}  // namespace platform
