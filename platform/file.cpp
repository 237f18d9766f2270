// What the file facilities do alike on every system: the test that a file opens, finishing a
// replacing file's stream, and the order in which commit and discard take their steps. The steps
// themselves are the backend's.
#include "platform/file.h"

#include <cerrno>
#include <cstring>

#include "platform/backend.h"

namespace platform {

namespace {

// Flushes the stream, notices a write that failed earlier, optionally syncs it to the disk, and
// closes it (always). 0, or the error number of the first failure.
int finishWrittenStream(FILE* stream, bool toDisk) {
    int err = 0;
    errno = 0;
    if (std::fflush(stream) != 0) {
        err = errno != 0 ? errno : EIO;
    }
    // A write that failed earlier leaves its mark on the stream; its reason is usually gone.
    if (err == 0 && std::ferror(stream) != 0) {
        err = EIO;
    }
    if (err == 0 && toDisk) {
        err = backend::syncToDisk(stream);
    }
    errno = 0;
    if (std::fclose(stream) != 0 && err == 0) {
        err = errno != 0 ? errno : EIO;
    }
    return err;
}

}  // namespace

Status backend::systemError(int err) {
    return Status(StatusCode::io_error, err, std::strerror(err));
}

Status backend::fileFailure(int err) {
    if (err == 0) {
        err = EIO;
    }
    return Status(err == ENOENT ? StatusCode::not_found : StatusCode::io_error, err,
                  std::strerror(err));
}

bool fileOpensForReading(const std::u16string& path) {
    FILE* file = nullptr;
    if (!openFile(path, u"rb", file).ok() || file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
}

ReplacingFile::~ReplacingFile() {
    discard();
}

Status ReplacingFile::commit() {
    if (file_ == nullptr) {
        return Status(StatusCode::invalid_argument, EBADF, std::strerror(EBADF));
    }
    FILE* file = file_;
    file_ = nullptr;
    const std::u16string temporary = temporary_;
    temporary_.clear();
    int err = finishWrittenStream(file, !temporary.empty());
    if (temporary.empty()) {
        return err == 0 ? Status::success() : backend::fileFailure(err);
    }
    if (err == 0) {
        err = backend::moveOnto(temporary, target_);
    }
    if (err != 0) {
        backend::removeFile(temporary);
        return backend::fileFailure(err);
    }
    return Status::success();
}

void ReplacingFile::discard() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        backend::removeFile(temporary_);
        temporary_.clear();
    }
}

}  // namespace platform
