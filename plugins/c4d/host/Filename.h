// Host file names: an owned host file name handle with its parts, its text and the file dialog.
#ifndef RAYDECK_PLUGINS_C4D_HOST_FILENAME_H
#define RAYDECK_PLUGINS_C4D_HOST_FILENAME_H

#include <string>

#include "plugins/c4d/host/HostCall.h"
#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/HostHandle.h"
#include "plugins/c4d/host/String.h"

namespace raydeck::host {

class Filename {
  public:
    // An empty file name (its handle is null when there is no host).
    Filename() : handle_(Handle::allocate(&RdHostInterface::filenameAlloc)) {}
    explicit Filename(const std::string& utf8) : Filename() { setString(utf8); }
    Filename(const Filename& other) : Filename() { copyFrom(other.get()); }
    Filename& operator=(const Filename& other) {
        if (this != &other) {
            copyFrom(other.get());
        }
        return *this;
    }
    Filename(Filename&&) noexcept = default;
    Filename& operator=(Filename&&) noexcept = default;

    RdHostFilename* get() const { return handle_.get(); }
    bool valid() const { return get() != nullptr; }

    // Copies a host-owned file name into this one. Answers success.
    bool copyFrom(const RdHostFilename* src) {
        return src && hostCall(&RdHostInterface::filenameCopy, get(), src) != 0;
    }

    bool setString(const std::string& utf8) {
        return withText(hostOp(&RdHostInterface::filenameSetString), utf8);
    }
    bool setDirectory(const std::string& utf8) {
        return withText(hostOp(&RdHostInterface::filenameSetDirectory), utf8);
    }
    bool setFile(const std::string& utf8) {
        return withText(hostOp(&RdHostInterface::filenameSetFile), utf8);
    }
    bool setSuffix(const std::string& utf8) {
        return withText(hostOp(&RdHostInterface::filenameSetSuffix), utf8);
    }
    // Appends a path component with the host's separator.
    bool append(const std::string& utf8) {
        return withText(hostOp(&RdHostInterface::filenameAppend), utf8);
    }

    // The whole text as host text. Answers success.
    bool getString(String& out) const {
        return out.valid() && hostCall(&RdHostInterface::filenameGetString, get(), out.get()) != 0;
    }
    // The whole text as UTF-8 (empty when there is none).
    std::string utf8() const {
        String text;
        return getString(text) ? text.utf8() : std::string();
    }
    // True when the name holds no text (also without a host).
    bool isEmpty() const {
        auto fn = hostOp(&RdHostInterface::filenameIsEmpty);
        return !fn || !valid() || fn(get()) != 0;
    }
    // The last component.
    Filename file() const { return part(hostOp(&RdHostInterface::filenameGetFile)); }
    // Everything before the last component.
    Filename directory() const { return part(hostOp(&RdHostInterface::filenameGetDirectory)); }

    // The host's file dialog on this name (initial name in, chosen name out). Answers true when a
    // file was chosen, false when cancelled.
    bool select(int32_t type, int32_t mode, const std::string& title,
                const std::string& forcedSuffix) {
        auto fn = hostOp(&RdHostInterface::fileSelect);
        if (!fn || !valid()) {
            return false;
        }
        String t(title), s(forcedSuffix);
        return fn(get(), type, mode, t.get(), s.get()) != 0;
    }

  private:
    template <typename Fn>
    bool withText(Fn fn, const std::string& utf8) {
        if (!fn || !valid()) {
            return false;
        }
        String text(utf8);
        return text.valid() && fn(get(), text.get()) != 0;
    }
    template <typename Fn>
    Filename part(Fn fn) const {
        Filename out;
        if (fn && valid() && out.valid()) {
            fn(get(), out.get());
        }
        return out;
    }
    using Handle = OwnedHandle<RdHostFilename, &RdHostInterface::filenameFree>;
    Handle handle_;
};

}  // namespace raydeck::host

#endif
