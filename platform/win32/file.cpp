// Wide-character file open on Windows (_wfopen, long paths through the \\?\ prefix).
#include "platform/file.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/win32/longpath.h"

namespace platform {

Status openFile(const std::u16string& path, const std::u16string& mode, FILE*& out) {
    out = nullptr;
    const std::wstring p = win32::extendedPath(path);
    const std::wstring m(mode.begin(), mode.end());
    errno = 0;
    out = _wfopen(p.c_str(), m.c_str());
    if (out == nullptr) {
        const int err = errno != 0 ? errno : EIO;
        return Status(err == ENOENT ? StatusCode::not_found : StatusCode::io_error, err,
                      std::strerror(err));
    }
    return Status::success();
}

Status fileSize(const std::u16string& path, std::uint64_t& size) {
    size = 0;
    const std::wstring p = win32::extendedPath(path);
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &info)) {
        const DWORD err = GetLastError();
        const bool missing = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
        return Status(missing ? StatusCode::not_found : StatusCode::io_error,
                      missing ? ENOENT : EIO, "file attributes not available");
    }
    size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return Status::success();
}

}  // namespace platform
