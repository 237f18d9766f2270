// Host text: an owned host string handle with UTF-8 conversion in both directions.
#ifndef RAYDECK_PLUGINS_C4D_HOST_STRING_H
#define RAYDECK_PLUGINS_C4D_HOST_STRING_H

#include <string>

#include "plugins/c4d/host/HostContext.h"

namespace raydeck::host {

class String {
  public:
    // An empty host string (its handle is null when there is no host).
    String() {
        auto fn = hostOp(&RdHostInterface::stringAlloc);
        handle_ = fn ? fn() : nullptr;
    }
    explicit String(const std::string& utf8) : String() { set(utf8); }
    ~String() { reset(); }
    String(const String& other) : String() {
        auto fn = hostOp(&RdHostInterface::stringCopy);
        if (fn && handle_ && other.handle_) {
            fn(handle_, other.handle_);
        }
    }
    String& operator=(const String& other) {
        if (this != &other) {
            auto fn = hostOp(&RdHostInterface::stringCopy);
            if (fn && handle_ && other.handle_) {
                fn(handle_, other.handle_);
            }
        }
        return *this;
    }
    String(String&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    String& operator=(String&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }

    RdHostString* get() const { return handle_; }
    bool valid() const { return handle_ != nullptr; }

    // Replaces the text with UTF-8 bytes. Answers success.
    bool set(const std::string& utf8) {
        auto fn = hostOp(&RdHostInterface::stringSetCString);
        return fn && handle_ &&
               fn(handle_, utf8.data(), static_cast<int32_t>(utf8.size()), RD_HOST_ENCODING_UTF8) !=
                   0;
    }
    // The text as UTF-8 (host encoding 4). False, with out emptied, when the text is empty or
    // cannot be converted: the host hands out no text then.
    bool toUtf8(std::string& out) const {
        out.clear();
        auto fn = hostOp(&RdHostInterface::stringGetCString);
        if (!fn || !handle_) {
            return false;
        }
        char* text = fn(handle_, RD_HOST_ENCODING_UTF8);
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
    void reset() {
        auto fn = hostOp(&RdHostInterface::stringFree);
        if (fn && handle_) {
            fn(handle_);
        }
        handle_ = nullptr;
    }
    RdHostString* handle_ = nullptr;
};

}  // namespace raydeck::host

#endif
