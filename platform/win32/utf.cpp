// UTF-8 <-> UTF-16 conversion through the Windows converters, strict (invalid input fails).
#include "platform/utf.h"

#include <windows.h>

#include <climits>

namespace platform {

namespace {

// Both directions: `convert(input, length, output, capacity)` answers the units written, or the
// units needed when output is null; 0 on invalid input.
template <typename In, typename Out, typename Convert>
Status convertText(const In& in, Out& out, const char* invalid, Convert convert) {
    out.clear();
    if (in.empty()) {
        return Status::success();
    }
    if (in.size() > static_cast<std::size_t>(INT_MAX)) {
        return Status(StatusCode::invalid_argument, ERROR_INVALID_PARAMETER, "text too long");
    }
    const int inLen = static_cast<int>(in.size());
    const int n = convert(in.data(), inLen, nullptr, 0);
    if (n <= 0) {
        return Status(StatusCode::invalid_argument, static_cast<int>(GetLastError()), invalid);
    }
    Out result(static_cast<std::size_t>(n), typename Out::value_type());
    if (convert(in.data(), inLen, &result[0], n) != n) {
        return Status(StatusCode::invalid_argument, static_cast<int>(GetLastError()), invalid);
    }
    out.swap(result);
    return Status::success();
}

}  // namespace

Status utf8ToUtf16(const std::string& in, std::u16string& out) {
    return convertText(in, out, "invalid UTF-8 text",
                       [](const char* text, int length, char16_t* result, int capacity) {
                           return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, length,
                                                      reinterpret_cast<wchar_t*>(result), capacity);
                       });
}

Status utf16ToUtf8(const std::u16string& in, std::string& out) {
    return convertText(in, out, "invalid UTF-16 text",
                       [](const char16_t* text, int length, char* result, int capacity) {
                           return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS,
                                                      reinterpret_cast<const wchar_t*>(text),
                                                      length, result, capacity, nullptr, nullptr);
                       });
}

}  // namespace platform
