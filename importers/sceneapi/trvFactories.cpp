// The file and live-link sink factories.
#include "trvFactories.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <stdexcept>

#include "platform/file.h"
#include "platform/stdstream.h"
#include "platform/utf.h"
#include "trvScene_api_file.h"

namespace trv {

namespace {

// The perror form, with a reason that may have been captured earlier.
void reportError(const char* prefix, const std::string& why) {
    std::fprintf(stderr, "%s: %s\n", prefix, why.c_str());
}

// The system's text for an error number a stdio call left; 0 counts as EIO.
std::string systemText(int err) {
    return std::strerror(err != 0 ? err : EIO);
}

// The file as a user names it.
std::string quotedTarget(const std::string& path) {
    return path == "-" ? std::string("standard output") : "\"" + path + "\"";
}

// Standard output, or the new content of the file at `path` (through `replacing`); null, with
// the reason in `why`, on failure.
FILE* openScene(const std::string& path, std::unique_ptr<platform::ReplacingFile>& replacing,
                std::string& why) {
    FILE* file = nullptr;
    platform::Status st;
    if (path == "-") {
        st = platform::takeStandardOutput(file);
    } else {
        std::u16string widePath;
        st = platform::utf8ToUtf16(path, widePath);
        if (!st.ok()) {
            why = systemText(EINVAL);
            return nullptr;
        }
        replacing = std::make_unique<platform::ReplacingFile>();
        st = replacing->open(widePath);
        if (st.ok()) {
            file = replacing->stream();
        } else {
            replacing.reset();
        }
    }
    if (!st.ok()) {
        why = st.message();
    }
    return file;
}

}  // namespace

LightFileFactory::LightFileFactory(std::string path)
    : path_(std::move(path)), uncaught_(std::uncaught_exceptions()) {
    std::string why;
    file_ = openScene(path_, replacing_, why);
    if (file_ == nullptr) {
        reportError("opening file", why);
        lastError_ = "could not open file: " + quotedTarget(path_) + ": " + why;
        throw FileSinkError("could not open file: \"" + path_ + "\"", lastError_);
    }
    backend_ = new trvScene_api_file(file_, true);
}

LightFileFactory::~LightFileFactory() {
    if (std::uncaught_exceptions() > uncaught_) {
        // The conversion threw: what was written is not a scene.
        cancel();
        return;
    }
    try {
        close();
    } catch (...) {
        // A destructor must not throw; the reason is on stderr, and callers who need it call
        // close() first.
    }
}

void LightFileFactory::cancel() {
    // The writer's last words go to the temporary, which then goes too.
    delete backend_;
    backend_ = nullptr;
    if (replacing_ != nullptr) {
        file_ = nullptr;
        replacing_->discard();
        replacing_.reset();
    } else if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

trvScene_api* LightFileFactory::backend() {
    return backend_;
}

size_t LightFileFactory::clampedValues() const {
    return backend_ != nullptr ? backend_->clampedValues() : 0;
}

std::string LightFileFactory::firstClamped() const {
    return backend_ != nullptr ? backend_->firstClamped() : std::string();
}

void LightFileFactory::beginScene(trvSceneapi_oo&) {
    backend_->printf("//---tarvik:dal:7---\n");
    backend_->printf("//---import:dal:1---\n");
    backend_->printf("//---id:1---\n");
    backend_->printf("// This is a Raydeck scene file\n\n");
}

void LightFileFactory::close() {
    bool failed = false;
    std::string why;
    if (backend_ != nullptr) {
        // A full disk shows only in the writes, not necessarily in fclose.
        failed = backend_->writeFailed();
        if (failed) {
            why = systemText(errno);
        }
        delete backend_;
        backend_ = nullptr;
    }
    if (replacing_ != nullptr) {
        file_ = nullptr;
        if (failed) {
            replacing_->discard();
        } else {
            // Flush, sync, close and rename: any failure keeps the older file.
            const platform::Status st = replacing_->commit();
            if (!st.ok()) {
                failed = true;
                why = st.message();
            }
        }
        replacing_.reset();
    } else if (file_ != nullptr) {
        FILE* file = file_;
        file_ = nullptr;
        errno = 0;
        // The writer's last words (written while it was deleted) may have failed as
        // well.
        if (std::ferror(file) != 0 || std::fflush(file) != 0) {
            failed = true;
            if (errno != 0 || why.empty()) {
                why = systemText(errno);
            }
        }
        errno = 0;
        if (std::fclose(file) != 0) {
            failed = true;
            if (errno != 0 || why.empty()) {
                why = systemText(errno);
            }
        }
    }
    if (failed) {
        reportError("closing file", why);
        lastError_ = "could not close file: " + quotedTarget(path_) + ": " + why;
        throw FileSinkError("could not close file", lastError_);
    }
}

RepeatLinkFactory::~RepeatLinkFactory() {
    close();
}

trvScene_api* RepeatLinkFactory::backend() {
    link_.lastError.clear();
    if (link_.backend != nullptr) {
        return link_.backend;
    }
    if (!connect()) {
        link_.backend = nullptr;
        link_.lastError = "Failed to connect. " + link_.lastError;
        return nullptr;
    }
    return link_.backend;
}

void RepeatLinkFactory::beginScene(trvSceneapi_oo&) {}

void RepeatLinkFactory::close() {
    if (link_.backend == nullptr) {
        return;
    }
    // A failing disconnect means the renderer did not take the end of the stream.
    if (!link_.backend->disconnect()) {
        link_.lastError =
            "The connection to the renderer was lost; the scene did not arrive whole.";
    }
    link::release();
    link_.backend = nullptr;
}

bool RepeatLinkFactory::connect() {
    return link::connect(link_);
}

}  // namespace trv
