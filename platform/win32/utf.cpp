// UTF-8 <-> UTF-16 conversion through the Windows converters, strict (invalid input fails).
#include "platform/utf.h"

#include <windows.h>

#include <climits>

namespace platform {

Status utf8ToUtf16(const std::string& in, std::u16string& out) {
    out.clear();
    if (in.empty()) {
        return Status::success();
    }
    if (in.size() > static_cast<std::size_t>(INT_MAX)) {
        return Status(StatusCode::invalid_argument, ERROR_INVALID_PARAMETER, "text too long");
    }
    const int inLen = static_cast<int>(in.size());
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in.data(), inLen, nullptr, 0);
    if (n <= 0) {
        return Status(StatusCode::invalid_argument, static_cast<int>(GetLastError()),
                      "invalid UTF-8 text");
    }
    std::u16string result(static_cast<std::size_t>(n), u'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in.data(), inLen,
                            reinterpret_cast<wchar_t*>(&result[0]), n) != n) {
        return Status(StatusCode::invalid_argument, static_cast<int>(GetLastError()),
                      "invalid UTF-8 text");
    }
    out.swap(result);
    return Status::success();
}

Status utf16ToUtf8(const std::u16string& in, std::string& out) {
    out.clear();
    if (in.empty()) {
        return Status::success();
    }
    if (in.size() > static_cast<std::size_t>(INT_MAX)) {
        return Status(StatusCode::invalid_argument, ERROR_INVALID_PARAMETER, "text too long");
    }
    const int inLen = static_cast<int>(in.size());
    const wchar_t* w = reinterpret_cast<const wchar_t*>(in.data());
    const int n =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, w, inLen, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        return Status(StatusCode::invalid_argument, static_cast<int>(GetLastError()),
                      "invalid UTF-16 text");
    }
    std::string result(static_cast<std::size_t>(n), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, w, inLen, &result[0], n, nullptr,
                            nullptr) != n) {
        return Status(StatusCode::invalid_argument, static_cast<int>(GetLastError()),
                      "invalid UTF-16 text");
    }
    out.swap(result);
    return Status::success();
}

}  // namespace platform
