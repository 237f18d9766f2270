// The registry on POSIX: a Windows `.reg` text file stands for it (platform/regfile.h reads it).
// The file is read again at every openRegistryKey, and a key handle holds a snapshot of its
// values, so a rewritten file is seen by the next open; only a regular file of at most 16 MiB is
// read (a FIFO or a device there is refused, not waited on). What is here: finding the file and
// reading it.
#include "platform/registry.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/regfile.h"

namespace platform {
namespace {

std::string registryFilePath() {
    const char* named = std::getenv("RAYDECK_REGISTRY");
    if (named != nullptr && named[0] != '\0') {
        return named;
    }
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') {
        return std::string(config) + "/raydeck/registry.reg";
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const struct passwd* pw = ::getpwuid(::getuid());
        home = pw != nullptr ? pw->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] == '\0') {
        return std::string();
    }
    return std::string(home) + "/.config/raydeck/registry.reg";
}

// A .reg file with one installation is a few hundred bytes; anything beyond this is not one.
constexpr std::uint64_t kMaxRegistryFileBytes = 16u << 20;

Status missing(const char* what) {
    return Status(StatusCode::not_found, ENOENT, what);
}

// The whole registry file, when it is a regular file of at most kMaxRegistryFileBytes. Opened
// without blocking, so that a FIFO in its place is refused instead of waiting for a writer.
Status readRegistryFile(const std::string& file, std::string& out) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return missing("registry file not found");
    }
    struct stat st {};
    Status result;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        result = missing("registry file is not a regular file");
    } else if (static_cast<std::uint64_t>(st.st_size) > kMaxRegistryFileBytes) {
        result = Status(StatusCode::io_error, EFBIG, "registry file too large");
    } else {
        out.resize(static_cast<size_t>(st.st_size));
        size_t got = 0;
        while (got < out.size()) {
            const ssize_t n = ::read(fd, &out[got], out.size() - got);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                break;  // shrunk while read: what was there
            }
            got += static_cast<size_t>(n);
        }
        out.resize(got);
    }
    ::close(fd);
    return result;
}

const regfile::Values* keyValues(RegistryKey key) {
    return static_cast<const regfile::Values*>(key);
}

Status noKey() {
    return Status(StatusCode::invalid_argument, EINVAL, "no registry key");
}

}  // namespace

Status openRegistryKey(RegistryRoot root, const std::u16string& path, RegistryKey& out) {
    out = nullptr;
    const std::string file = registryFilePath();
    if (file.empty()) {
        return missing("no registry file");
    }
    std::string bytes;
    const Status read = readRegistryFile(file, bytes);
    if (!read.ok()) {
        return read;
    }
    const regfile::Keys keys = regfile::parse(bytes);
    const regfile::Values* values = nullptr;
    const Status found = regfile::findKey(keys, root, path, values);
    if (!found.ok()) {
        return found;
    }
    out = new regfile::Values(*values);
    return Status::success();
}

Status readRegistryString(RegistryKey key, const std::u16string& name, std::size_t bufferBytes,
                          std::u16string& out) {
    out.clear();
    return key == nullptr ? noKey() : regfile::readString(*keyValues(key), name, bufferBytes, out);
}

Status readRegistryDword(RegistryKey key, const std::u16string& name, std::uint32_t& out) {
    return key == nullptr ? noKey() : regfile::readDword(*keyValues(key), name, out);
}

Status closeRegistryKey(RegistryKey key) {
    if (key == nullptr) {
        return noKey();
    }
    delete keyValues(key);
    return Status::success();
}

Status registryFile(std::string& path) {
    path = registryFilePath();
    return path.empty() ? missing("no registry file: neither RAYDECK_REGISTRY nor a home folder")
                        : Status::success();
}

}  // namespace platform
