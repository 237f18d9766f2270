// Host bitmaps: command icons loaded from image files.
#ifndef RAYDECK_PLUGINS_C4D_HOST_BASEBITMAP_H
#define RAYDECK_PLUGINS_C4D_HOST_BASEBITMAP_H

#include "plugins/c4d/host/Filename.h"
#include "plugins/c4d/host/HostContext.h"

namespace raydeck::host {

// An owned host bitmap; release() hands ownership over (to the command registration).
class BaseBitmap {
  public:
    BaseBitmap() {
        auto fn = hostOp(&RdHostInterface::bitmapAlloc);
        handle_ = fn ? fn() : nullptr;
    }
    // Takes over a host bitmap; BaseBitmap(nullptr) is "no bitmap" (registers without icon).
    explicit BaseBitmap(RdHostBitmap* adopted) : handle_(adopted) {}
    ~BaseBitmap() { reset(); }
    BaseBitmap(const BaseBitmap&) = delete;
    BaseBitmap& operator=(const BaseBitmap&) = delete;
    BaseBitmap(BaseBitmap&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    BaseBitmap& operator=(BaseBitmap&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }

    RdHostBitmap* get() const { return handle_; }
    bool valid() const { return handle_ != nullptr; }
    RdHostBitmap* release() {
        RdHostBitmap* h = handle_;
        handle_ = nullptr;
        return h;
    }

    // Loads an image file: RD_HOST_IMAGE_OK or a negative RD_HOST_IMAGE_* code.
    int32_t init(const Filename& file) {
        auto fn = hostOp(&RdHostInterface::bitmapInit);
        if (!fn || !handle_ || !file.valid()) {
            return RD_HOST_IMAGE_NOT_EXISTING;
        }
        return fn(handle_, file.get());
    }
    bool setSetting(int32_t id, double value) {
        auto fn = hostOp(&RdHostInterface::bitmapSetSetting);
        return fn && handle_ && fn(handle_, id, value) != 0;
    }

  private:
    void reset() {
        auto fn = hostOp(&RdHostInterface::bitmapFree);
        if (fn && handle_) {
            fn(handle_);
        }
        handle_ = nullptr;
    }
    RdHostBitmap* handle_ = nullptr;
};

}  // namespace raydeck::host

#endif
