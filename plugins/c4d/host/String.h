// Host text: an owned host string handle with UTF-8 conversion in both directions.
#ifndef RAYDECK_PLUGINS_C4D_HOST_STRING_H
#define RAYDECK_PLUGINS_C4D_HOST_STRING_H

#include <string>

#include "plugins/c4d/host/HostCall.h"
#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/HostHandle.h"

namespace raydeck::host {

class String {
  public:
    // An empty host string (its handle is null when there is no host).
    String() : handle_(Handle::allocate(&RdHostInterface::stringAlloc)) {}
    explicit String(const std::string& utf8) : String() { set(utf8); }
    String(const String& other) : String() { copyText(other); }
    String& operator=(const String& other) {
        if (this != &other) {
            copyText(other);
        }
        return *this;
    }
    String(String&&) noexcept = default;
    String& operator=(String&&) noexcept = default;

    RdHostString* get() const { return handle_.get(); }
    bool valid() const { return get() != nullptr; }

    // Replaces the text with UTF-8 bytes. Answers success.
    bool set(const std::string& utf8) {
        return hostCall(&RdHostInterface::stringSetCString, get(), utf8.data(),
                        static_cast<int32_t>(utf8.size()), RD_HOST_ENCODING_UTF8) != 0;
    }
    // The text as UTF-8 (host encoding 4). False, with out emptied, when the host hands out no
    // text (it cannot be converted, or an older host has none for an empty text).
    bool toUtf8(std::string& out) const {
        out.clear();
        char* text = hostCall(&RdHostInterface::stringGetCString, get(), RD_HOST_ENCODING_UTF8);
        if (text == nullptr) {
            return false;
        }
        out = text;
        hostFree(text);
        return true;
    }
    // The text as UTF-8, empty when there is none.
    std::string utf8() const {
        std::string out;
        toUtf8(out);
        return out;
    }

  private:
    using Handle = OwnedHandle<RdHostString, &RdHostInterface::stringFree>;
    // Copies the other string's text into this one (when both have a handle).
    void copyText(const String& other) {
        if (other.valid()) {
            hostCall(&RdHostInterface::stringCopy, get(), other.get());
        }
    }
    Handle handle_;
};

}  // namespace raydeck::host

#endif
