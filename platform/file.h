// Wide-character file facilities: open, size, and writing a file so that a failure never costs
// the older one. Paths are UTF-16 and may use `\` as the separator on every platform (the product
// builds Windows-style paths such as `folder\sceneapi.log`); paths longer than 260 UTF-16 units
// are supported.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/status.h"

namespace platform {

// fopen with a UTF-16 path and a UTF-16 stdio mode ("wb+", "r", "a", ...). On failure `out` is
// null and the message is the system's text for the failed open.
Status openFile(const std::u16string& path, const std::u16string& mode, FILE*& out);

// Reads the whole file at `path` into `out` (a std::string or std::vector<char>): as many bytes
// as its size says at once, then on to the end (a pipe, a file that grew meanwhile). `opened`
// tells which step failed: when false, the status is openFile's; when true, io_error with the
// failed read's system text ("read error" when the system gave none), or "larger than <maxBytes>
// bytes" (EFBIG) when the file holds more than `maxBytes` (a device such as /dev/zero never
// ends).
template <typename Bytes>
Status readWholeFile(const std::u16string& path, Bytes& out, bool& opened, std::uint64_t maxBytes);

// Whether the file at `path` opens for reading; a folder does not.
bool fileOpensForReading(const std::u16string& path);

// Size in bytes of the file at `path`; not_found when it does not exist.
Status fileSize(const std::u16string& path, std::uint64_t& size);

// A file written under a new temporary name in its target's folder that takes the target's place
// only when every write, the flush to the disk and the close succeeded (rename on POSIX,
// MoveFileExW with replace-existing and write-through on Windows). Until then, and after any
// failure, the target is untouched and the temporary is removed: a full disk, a file-size limit
// or a cancelled conversion never leaves a truncated or partial file behind. A target that
// exists and is no regular file (a device such as /dev/null, a pipe) holds nothing to keep and
// is written directly. A target that is a symbolic link keeps the link: the file it names is
// replaced. Statuses carry the system's text; their messages never name the temporary.
class ReplacingFile {
  public:
    ReplacingFile() = default;
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;
    // Discards what was written unless commit() ran.
    ~ReplacingFile();

    // Opens a binary read-write stream ("wb+") for the new content of `target`. Fails as opening
    // the target would: not_found for a missing folder, io_error with EISDIR for a folder; also
    // (EACCES) when the folder takes no new file, even if the target itself could be written,
    // since the temporary is made beside it.
    Status open(const std::u16string& target);
    // The open stream; null before open() and after commit() or discard().
    FILE* stream() const { return file_; }
    // True while a temporary waits to replace the target; false when writing a device or pipe
    // directly, and when nothing is open.
    bool replacing() const { return file_ != nullptr && !temporary_.empty(); }
    // Flushes, syncs and closes the stream, then puts the file in the target's place. On failure
    // (an earlier write error on the stream included) the target is untouched and the temporary
    // removed; the status holds the first failure's error number. The stream is gone either way.
    Status commit();
    // Closes the stream and removes the temporary; the target is untouched. Nothing to do after
    // commit() or a second time.
    void discard();

  private:
    FILE* file_ = nullptr;
    std::u16string target_;     // the path the file replaces (a symbolic link resolved)
    std::u16string temporary_;  // empty when the target is written directly
};

template <typename Bytes>
Status readWholeFile(const std::u16string& path, Bytes& out, bool& opened, std::uint64_t maxBytes) {
    out.clear();
    FILE* file = nullptr;
    const Status open = openFile(path, u"rb", file);
    opened = open.ok();
    if (!opened) {
        return open;
    }
    std::uint64_t size = 0;
    const bool sized = fileSize(path, size).ok();
    errno = 0;  // what a failed read leaves, and nothing older
    const auto tooLarge = [&] {
        std::fclose(file);
        out.clear();
        return Status(StatusCode::io_error, EFBIG,
                      "larger than " + std::to_string(maxBytes) + " bytes");
    };
    if (sized && size > maxBytes) {
        return tooLarge();
    }
    if (sized && size > 0) {
        out.resize(static_cast<std::size_t>(size));
        out.resize(std::fread(&out[0], 1, out.size(), file));
    }
    char chunk[65536];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) {
        if (out.size() + n > maxBytes) {
            return tooLarge();
        }
        out.insert(out.end(), chunk, chunk + n);
    }
    const bool failed = std::ferror(file) != 0;
    const int err = errno;
    std::fclose(file);
    if (!failed) {
        return Status::success();
    }
    return Status(StatusCode::io_error, err, err != 0 ? std::strerror(err) : "read error");
}

}  // namespace platform
