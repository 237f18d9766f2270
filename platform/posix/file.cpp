// Wide-character file open on POSIX: the UTF-16 path becomes a UTF-8 native path. A replacing
// file's system calls: what the target is (stat, access, a link resolved, the mode to keep), a
// temporary made with O_EXCL and private until its permissions are set, fsync, rename.
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

namespace {

// A native path carried as UTF-16 (TargetFacts::resolved, a temporary): its bytes, unchanged.
bool nativeBytes(const std::u16string& path, std::string& out) {
    return utf16ToUtf8(path, out).ok();
}

}  // namespace

Status backend::examineTarget(const std::u16string& target, TargetFacts& out) {
    out = TargetFacts();
    std::string native;
    const Status st = posix::nativePath(target, native);
    if (!st.ok()) {
        return Status(StatusCode::invalid_argument, EINVAL, st.message());
    }
    struct stat info;
    out.exists = ::stat(native.c_str(), &info) == 0;
    out.folder = out.exists && S_ISDIR(info.st_mode);
    out.device = out.exists && !out.folder && !S_ISREG(info.st_mode);
    if (out.exists && ::access(native.c_str(), W_OK) != 0) {
        out.writeRefusal = errno != 0 ? errno : EACCES;
    }
    struct stat link;
    out.danglingLink = !out.exists && ::lstat(native.c_str(), &link) == 0;
    // The older file's permissions, or those a new file would have had.
    out.mode = out.exists ? static_cast<unsigned>(info.st_mode & 07777) : newFileMode();
    // Replace the file a link names, so that the link stays.
    if (utf8ToUtf16(posix::resolvedTarget(native), out.resolved).ok()) {
        return Status::success();
    }
    return Status(StatusCode::invalid_argument, EINVAL, "the resolved path is not valid UTF-8");
}

std::u16string backend::temporaryPath(const std::u16string& resolved, unsigned attempt) {
    std::string native;
    std::u16string out;
    if (nativeBytes(resolved, native)) {
        utf8ToUtf16(posix::temporaryPath(native, attempt), out);
    }
    return out;
}

int backend::createExclusive(const std::u16string& path, unsigned mode, FILE*& out) {
    out = nullptr;
    std::string native;
    if (path.empty() || !nativeBytes(path, native)) {
        return EINVAL;
    }
    // Only the user can read it while it is written; its final permissions come next.
    const int fd = ::open(native.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno != 0 ? errno : EIO;
    }
    ::fchmod(fd, static_cast<mode_t>(mode));
    out = ::fdopen(fd, "wb+");
    if (out == nullptr) {
        const int err = errno != 0 ? errno : EIO;
        ::close(fd);
        ::unlink(native.c_str());
        return err;
    }
    return 0;
}

int backend::openDirectly(const std::u16string& resolved, FILE*& out) {
    std::string native;
    if (!nativeBytes(resolved, native)) {
        return EINVAL;
    }
    errno = 0;
    out = std::fopen(native.c_str(), "wb+");
    return out != nullptr ? 0 : errno != 0 ? errno : EIO;
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
