// Wide-character file open on POSIX: the UTF-16 path becomes a UTF-8 native path.
#include "platform/file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/path.h"
#include "platform/utf.h"

namespace platform {

Status openFile(const std::u16string& path, const std::u16string& mode, FILE*& out) {
    out = nullptr;
    std::string native;
    std::string nativeMode;
    Status st = posix::nativePath(path, native);
    if (st.ok()) {
        st = utf16ToUtf8(mode, nativeMode);
    }
    if (!st.ok()) {
        return Status(StatusCode::invalid_argument, EINVAL, st.message());
    }
    errno = 0;
    out = std::fopen(native.c_str(), nativeMode.c_str());
    if (out == nullptr) {
        const int err = errno != 0 ? errno : EIO;
        return Status(err == ENOENT ? StatusCode::not_found : StatusCode::io_error, err,
                      std::strerror(err));
    }
    // POSIX opens a folder for reading; Windows does not, and callers test for a file.
    struct stat info;
    if (::fstat(fileno(out), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(out);
        out = nullptr;
        return Status(StatusCode::io_error, EISDIR, std::strerror(EISDIR));
    }
    return Status::success();
}

Status fileSize(const std::u16string& path, std::uint64_t& size) {
    size = 0;
    std::string native;
    Status st = posix::nativePath(path, native);
    if (!st.ok()) {
        return Status(StatusCode::invalid_argument, EINVAL, st.message());
    }
    struct stat info;
    if (::stat(native.c_str(), &info) != 0) {
        const int err = errno;
        return Status(err == ENOENT ? StatusCode::not_found : StatusCode::io_error, err,
                      std::strerror(err));
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return Status::success();
}

}  // namespace platform
