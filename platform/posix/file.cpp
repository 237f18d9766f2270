// Wide-character file open on POSIX: the UTF-16 path becomes a UTF-8 native path. Replacing a
// file: a temporary beside the target (O_EXCL, private until its permissions are set), fsync,
// rename.
#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/backend.h"
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
        return backend::fileFailure(errno);
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

int backend::syncToDisk(FILE* stream) {
    return ::fsync(fileno(stream)) == 0 ? 0 : errno != 0 ? errno : EIO;
}

std::string posix::resolvedTarget(const std::string& native) {
    struct stat link;
    struct stat info;
    // A link to a device or pipe is opened as it is: /dev/stdout on a pipe names no path that
    // realpath could find.
    if (::lstat(native.c_str(), &link) != 0 || !S_ISLNK(link.st_mode) ||
        (::stat(native.c_str(), &info) == 0 && !S_ISREG(info.st_mode))) {
        return native;
    }
    char* resolved = ::realpath(native.c_str(), nullptr);
    if (resolved == nullptr) {
        return native;  // a dangling link: opened as such
    }
    std::string out = resolved;
    std::free(resolved);
    return out;
}

std::string posix::temporaryPath(const std::string& target, unsigned attempt) {
    const std::size_t slash = target.find_last_of('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const long max = ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    return folder + backend::temporaryName(target.substr(folder.size()), ::getpid(), attempt,
                                           max > 0 ? static_cast<std::size_t>(max) : 255);
}

namespace {

// The permissions a file the open would have created gets: 0666 under the umask. The umask is
// read without changing it where the system says it.
mode_t newFileMode() {
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status) != nullptr) {
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        }
        std::fclose(status);
        if (found) {
            return static_cast<mode_t>(0666 & ~mask);
        }
    }
    const mode_t mask = ::umask(077);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

Status ReplacingFile::open(const std::u16string& target) {
    discard();
    std::string native;
    Status st = posix::nativePath(target, native);
    if (!st.ok()) {
        return Status(StatusCode::invalid_argument, EINVAL, st.message());
    }
    if (native.empty()) {
        return backend::fileFailure(ENOENT);
    }
    struct stat info;
    bool exists = ::stat(native.c_str(), &info) == 0;
    if (exists && S_ISDIR(info.st_mode)) {
        return backend::fileFailure(EISDIR);
    }
    // A file the user may not write stays refused, although its folder would take a new one.
    if (exists && ::access(native.c_str(), W_OK) != 0) {
        return backend::fileFailure(errno);
    }
    struct stat link;
    const bool dangling = !exists && ::lstat(native.c_str(), &link) == 0;
    // Replace the file a link names, so that the link stays.
    native = posix::resolvedTarget(native);
    if ((exists && !S_ISREG(info.st_mode)) || dangling) {
        // A device or pipe holds nothing to keep; a dangling link is followed as open does.
        errno = 0;
        file_ = std::fopen(native.c_str(), "wb+");
        if (file_ == nullptr) {
            return backend::fileFailure(errno);
        }
        temporary_.clear();
        target_ = target;
        return Status::success();
    }
    int fd = -1;
    std::string temporary;
    for (unsigned attempt = 0; attempt < backend::kTemporaryAttempts && fd < 0; ++attempt) {
        temporary = posix::temporaryPath(native, attempt);
        // Only the user can read it while it is written; its final permissions come below.
        fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) {
            return backend::fileFailure(errno);
        }
    }
    if (fd < 0) {
        return backend::fileFailure(EEXIST);
    }
    // The older file's permissions, or those a new file would have had.
    ::fchmod(fd, exists ? (info.st_mode & 07777) : newFileMode());
    file_ = ::fdopen(fd, "wb+");
    if (file_ == nullptr) {
        const int err = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        return backend::fileFailure(err);
    }
    std::u16string wideTemporary;
    std::u16string wideTarget;
    if (!utf8ToUtf16(temporary, wideTemporary).ok() || !utf8ToUtf16(native, wideTarget).ok()) {
        std::fclose(file_);
        file_ = nullptr;
        ::unlink(temporary.c_str());
        return backend::fileFailure(EINVAL);
    }
    temporary_ = wideTemporary;
    target_ = wideTarget;
    return Status::success();
}

int backend::moveOnto(const std::u16string& temporary, const std::u16string& target) {
    std::string from;
    std::string to;
    if (!utf16ToUtf8(temporary, from).ok() || !utf16ToUtf8(target, to).ok()) {
        return EINVAL;
    }
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        return errno != 0 ? errno : EIO;
    }
    syncFolder(folderOf(to));
    return 0;
}

void backend::removeFile(const std::u16string& path) {
    std::string native;
    if (utf16ToUtf8(path, native).ok()) {
        ::unlink(native.c_str());
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
        return backend::fileFailure(errno);
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return Status::success();
}

}  // namespace platform
