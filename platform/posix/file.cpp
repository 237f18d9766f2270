// Wide-character file open on POSIX: the UTF-16 path becomes a UTF-8 native path. Replacing a
// file: a temporary beside the target (O_EXCL), fsync, rename.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

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

namespace {

Status systemFailure(int err) {
    if (err == 0) {
        err = EIO;
    }
    return Status(err == ENOENT ? StatusCode::not_found : StatusCode::io_error, err,
                  std::strerror(err));
}

std::string folderOf(const std::string& native) {
    const std::size_t slash = native.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : native.substr(0, slash);
}

// Makes the rename itself durable; a folder that cannot be synced costs only that.
void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

ReplacingFile::~ReplacingFile() {
    discard();
}

Status ReplacingFile::open(const std::u16string& target) {
    discard();
    std::string native;
    Status st = posix::nativePath(target, native);
    if (!st.ok()) {
        return Status(StatusCode::invalid_argument, EINVAL, st.message());
    }
    if (native.empty()) {
        return systemFailure(ENOENT);
    }
    struct stat info;
    bool exists = ::stat(native.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) {
        return systemFailure(EISDIR);
    }
    // A file the user may not write stays refused, although its folder would take a new one.
    if (exists && ::access(native.c_str(), W_OK) != 0) {
        return systemFailure(errno);
    }
    struct stat link;
    if (::lstat(native.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && exists) {
        // Replace the file the link names, so that the link stays.
        char* resolved = ::realpath(native.c_str(), nullptr);
        if (resolved == nullptr) {
            return systemFailure(errno);
        }
        native = resolved;
        std::free(resolved);
    }
    if ((exists && !S_ISREG(info.st_mode)) || (!exists && ::lstat(native.c_str(), &link) == 0)) {
        // A device or pipe holds nothing to keep; a dangling link is followed as open does.
        errno = 0;
        file_ = std::fopen(native.c_str(), "wb+");
        if (file_ == nullptr) {
            return systemFailure(errno);
        }
        temporary_.clear();
        target_ = target;
        return Status::success();
    }
    const std::size_t slash = native.find_last_of('/');
    const std::string prefix =
        (slash == std::string::npos ? std::string() : native.substr(0, slash + 1)) + "." +
        native.substr(slash == std::string::npos ? 0 : slash + 1) + ".";
    std::random_device random;
    int fd = -1;
    std::string temporary;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "%08x%08x.tmp", static_cast<unsigned>(::getpid()),
                      static_cast<unsigned>(random()));
        temporary = prefix + suffix;
        // 0666 under the umask, as a file the open would have created.
        fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            return systemFailure(errno);
        }
    }
    if (fd < 0) {
        return systemFailure(EEXIST);
    }
    if (exists) {
        // The new content keeps the older file's permissions.
        ::fchmod(fd, info.st_mode & 07777);
    }
    file_ = ::fdopen(fd, "wb+");
    if (file_ == nullptr) {
        const int err = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        return systemFailure(err);
    }
    std::u16string wideTemporary;
    std::u16string wideTarget;
    if (!utf8ToUtf16(temporary, wideTemporary).ok() || !utf8ToUtf16(native, wideTarget).ok()) {
        std::fclose(file_);
        file_ = nullptr;
        ::unlink(temporary.c_str());
        return systemFailure(EINVAL);
    }
    temporary_ = wideTemporary;
    target_ = wideTarget;
    return Status::success();
}

Status ReplacingFile::commit() {
    if (file_ == nullptr) {
        return Status(StatusCode::invalid_argument, EBADF, std::strerror(EBADF));
    }
    FILE* file = file_;
    file_ = nullptr;
    int err = 0;
    errno = 0;
    if (std::fflush(file) != 0) {
        err = errno != 0 ? errno : EIO;
    }
    // A write that failed earlier leaves its mark on the stream; its reason is usually gone.
    if (err == 0 && std::ferror(file) != 0) {
        err = EIO;
    }
    if (err == 0 && !temporary_.empty() && ::fsync(fileno(file)) != 0) {
        err = errno != 0 ? errno : EIO;
    }
    errno = 0;
    if (std::fclose(file) != 0 && err == 0) {
        err = errno != 0 ? errno : EIO;
    }
    if (temporary_.empty()) {
        return err == 0 ? Status::success() : systemFailure(err);
    }
    std::string temporary;
    std::string target;
    (void)utf16ToUtf8(temporary_, temporary);
    (void)utf16ToUtf8(target_, target);
    temporary_.clear();
    if (err == 0 && std::rename(temporary.c_str(), target.c_str()) != 0) {
        err = errno != 0 ? errno : EIO;
    }
    if (err != 0) {
        ::unlink(temporary.c_str());
        return systemFailure(err);
    }
    syncFolder(folderOf(target));
    return Status::success();
}

void ReplacingFile::discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        std::string temporary;
        if (utf16ToUtf8(temporary_, temporary).ok()) {
            ::unlink(temporary.c_str());
        }
        temporary_.clear();
    }
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
