// What the file facilities do alike on every system: the test that a file opens, the replace
// policy (what is refused, what is written directly, the tries at a temporary name), finishing a
// replacing file's stream, and the order in which commit and discard take their steps. The
// system calls themselves are the backend's.
#include "platform/file.h"

#include <cerrno>
#include <cstdio>
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

// Whether `unit` may start a character: not a UTF-8 continuation byte, not a low surrogate.
bool startsCharacter(char unit) {
    return (static_cast<unsigned char>(unit) & 0xC0) != 0x80;
}
bool startsCharacter(char16_t unit) {
    return unit < 0xDC00 || unit > 0xDFFF;
}

template <typename Text>
Text temporaryNameOf(const Text& name, std::int64_t pid, unsigned attempt, std::size_t maxUnits) {
    char tail[40];
    std::snprintf(tail, sizeof tail, ".%08x%04x.partial", static_cast<unsigned>(pid & 0xFFFFFFFF),
                  attempt & 0xFFFF);
    const Text suffix(tail, tail + std::strlen(tail));
    std::size_t keep = name.size();
    if (1 + keep + suffix.size() > maxUnits) {
        keep = maxUnits > 1 + suffix.size() ? maxUnits - 1 - suffix.size() : 0;
        while (keep > 0 && !startsCharacter(name[keep])) {
            --keep;
        }
    }
    Text out(1, '.');
    out += name.substr(0, keep);
    out += suffix;
    return out;
}

}  // namespace

std::string backend::temporaryName(const std::string& name, std::int64_t pid, unsigned attempt,
                                   std::size_t maxUnits) {
    return temporaryNameOf(name, pid, attempt, maxUnits);
}

std::u16string backend::temporaryName(const std::u16string& name, std::int64_t pid,
                                      unsigned attempt, std::size_t maxUnits) {
    return temporaryNameOf(name, pid, attempt, maxUnits);
}

Status backend::systemError(int err) {
    if (err == 0) {
        err = EIO;
    }
    return Status(StatusCode::io_error, err, std::strerror(err));
}

Status backend::failure(StatusCode code, int err, const std::string& what) {
    return Status(code, err, err != 0 ? what + ": " + std::strerror(err) : what);
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

Status ReplacingFile::open(const std::u16string& target) {
    discard();
    if (target.empty()) {
        return backend::fileFailure(ENOENT);
    }
    backend::TargetFacts facts;
    const Status examined = backend::examineTarget(target, facts);
    if (!examined.ok()) {
        return examined;
    }
    if (facts.folder) {
        return backend::fileFailure(EISDIR);
    }
    // A file the user may not write stays refused, although its folder would take a new one.
    if (facts.writeRefusal != 0) {
        return backend::fileFailure(facts.writeRefusal);
    }
    if (facts.device || facts.danglingLink) {
        // A device or pipe holds nothing to keep; a dangling link is followed as open does.
        const int err = backend::openDirectly(facts.resolved, file_);
        if (err != 0) {
            return backend::fileFailure(err);
        }
        target_ = facts.resolved;
        return Status::success();
    }
    FILE* file = nullptr;
    std::u16string temporary;
    for (unsigned attempt = 0; attempt < backend::kTemporaryAttempts && file == nullptr;
         ++attempt) {
        temporary = backend::temporaryPath(facts.resolved, attempt);
        const int err = backend::createExclusive(temporary, facts.mode, file);
        if (err != 0 && err != EEXIST) {
            return backend::fileFailure(err);
        }
    }
    if (file == nullptr) {
        return backend::fileFailure(EEXIST);
    }
    file_ = file;
    target_ = facts.resolved;
    temporary_ = temporary;
    return Status::success();
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
