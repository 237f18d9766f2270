// Long-path support for the Windows file functions.
#include "platform/win32/longpath.h"

#include <windows.h>

#include <algorithm>

#include "platform/utf.h"

namespace platform {
namespace win32 {

std::wstring wide(const std::string& text) {
    std::u16string out;
    utf8ToUtf16(text, out);
    return std::wstring(out.begin(), out.end());
}

std::wstring extendedPath(const std::u16string& path) {
    std::wstring p(path.begin(), path.end());
    std::replace(p.begin(), p.end(), L'/', L'\\');
    if (p.size() < MAX_PATH || p.rfind(L"\\\\?\\", 0) == 0) {
        return p;
    }
    const DWORD need = GetFullPathNameW(p.c_str(), 0, nullptr, nullptr);
    if (need == 0) {
        return p;
    }
    std::wstring full(need, L'\0');
    const DWORD got = GetFullPathNameW(p.c_str(), need, &full[0], nullptr);
    if (got == 0 || got >= need) {
        return p;
    }
    full.resize(got);
    if (full.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + full.substr(2);
    }
    return L"\\\\?\\" + full;
}

}  // namespace win32
}  // namespace platform
