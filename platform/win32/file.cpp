// Wide-character file open on Windows (_wfopen, long paths through the \\?\ prefix). A replacing
// file's system calls: what the target is (attributes, a link resolved), a temporary made with
// CREATE_NEW, FlushFileBuffers, MoveFileExW.
#include "platform/file.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/backend.h"
#include "platform/utf.h"
#include "platform/win32/longpath.h"

namespace platform {

Status openFile(const std::u16string& path, const std::u16string& mode, FILE*& out) {
    out = nullptr;
    const std::wstring p = win32::extendedPath(path);
    const std::wstring m(mode.begin(), mode.end());
    errno = 0;
    out = _wfopen(p.c_str(), m.c_str());
    if (out == nullptr) {
        return backend::fileFailure(errno);
    }
    return Status::success();
}

namespace {

int errnoOf(DWORD err) {
    switch (err) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return EACCES;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return ENOSPC;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return EEXIST;
        default:
            return EIO;
    }
}

}  // namespace

int backend::syncToDisk(FILE* stream) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return FlushFileBuffers(handle) ? 0 : errnoOf(GetLastError());
}

std::u16string win32::resolvedTarget(const std::u16string& target) {
    const std::wstring path = win32::extendedPath(target);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return target;
    }
    // A symbolic link: the file it names, as the POSIX build follows one.
    const HANDLE handle =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return target;
    }
    wchar_t buffer[32768];
    const DWORD n = GetFinalPathNameByHandleW(handle, buffer, 32768, FILE_NAME_NORMALIZED);
    CloseHandle(handle);
    if (n == 0 || n >= 32768) {
        return target;
    }
    return std::u16string(buffer, buffer + n);
}

std::u16string win32::temporaryPath(const std::u16string& target, unsigned attempt) {
    const std::size_t slash = target.find_last_of(u"\\/");
    const std::u16string folder =
        slash == std::u16string::npos ? std::u16string() : target.substr(0, slash + 1);
    // At most 255 UTF-8 bytes, which is also at most 255 UTF-16 units: the name then fits
    // NTFS and also the file systems that keep names as bytes (Wine's, a network share's).
    const std::u16string name = target.substr(folder.size());
    std::string narrow;
    std::u16string shortened;
    if (utf16ToUtf8(name, narrow).ok() &&
        utf8ToUtf16(backend::temporaryName(narrow, GetCurrentProcessId(), attempt, 255), shortened)
            .ok()) {
        return folder + shortened;
    }
    return folder + backend::temporaryName(name, GetCurrentProcessId(), attempt, 255);
}

namespace {

// Whether `target` exists and is no file on a disk: a device such as NUL or CON, or a pipe.
bool isDevice(const std::u16string& target) {
    const HANDLE handle = CreateFileW(win32::extendedPath(target).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    return type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE;
}

}  // namespace

Status backend::examineTarget(const std::u16string& target, TargetFacts& out) {
    out = TargetFacts();
    // A symbolic link: the file it names is replaced and the link stays, as on POSIX. A dangling
    // one names no file that could be found, and is replaced itself.
    out.resolved = win32::resolvedTarget(target);
    const DWORD attributes = GetFileAttributesW(win32::extendedPath(out.resolved).c_str());
    out.exists = attributes != INVALID_FILE_ATTRIBUTES;
    out.folder = out.exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // Refused as opening it for writing would be.
    if (out.exists && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        out.writeRefusal = EACCES;
    }
    out.device =
        (out.exists && (attributes & FILE_ATTRIBUTE_DEVICE) != 0) || isDevice(out.resolved);
    return Status::success();
}

std::u16string backend::temporaryPath(const std::u16string& resolved, unsigned attempt) {
    return win32::temporaryPath(resolved, attempt);
}

int backend::createExclusive(const std::u16string& path, unsigned, FILE*& out) {
    out = nullptr;
    // Shared for deletion, so that an interrupt can remove it while it is open.
    const HANDLE handle =
        CreateFileW(win32::extendedPath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return errnoOf(GetLastError());
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_RDWR);
    out = fd >= 0 ? _fdopen(fd, "w+b") : nullptr;
    if (out == nullptr) {
        if (fd >= 0) {
            _close(fd);
        } else {
            CloseHandle(handle);
        }
        DeleteFileW(win32::extendedPath(path).c_str());
        return EIO;
    }
    return 0;
}

int backend::openDirectly(const std::u16string& resolved, FILE*& out) {
    errno = 0;
    out = _wfopen(win32::extendedPath(resolved).c_str(), L"wb+");
    return out != nullptr ? 0 : errno != 0 ? errno : EIO;
}

int backend::moveOnto(const std::u16string& temporary, const std::u16string& target) {
    return MoveFileExW(win32::extendedPath(temporary).c_str(), win32::extendedPath(target).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : errnoOf(GetLastError());
}

void backend::removeFile(const std::u16string& path) {
    DeleteFileW(win32::extendedPath(path).c_str());
}

Status fileSize(const std::u16string& path, std::uint64_t& size) {
    size = 0;
    const std::wstring p = win32::extendedPath(path);
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &info)) {
        // In the C runtime's words, as the open and the POSIX build report a file.
        return backend::fileFailure(errnoOf(GetLastError()));
    }
    size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    return Status::success();
}

}  // namespace platform
