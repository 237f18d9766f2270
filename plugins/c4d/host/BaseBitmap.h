// Host bitmaps: command icons loaded from image files.
#ifndef RAYDECK_PLUGINS_C4D_HOST_BASEBITMAP_H
#define RAYDECK_PLUGINS_C4D_HOST_BASEBITMAP_H

#include "plugins/c4d/host/Filename.h"
#include "plugins/c4d/host/HostCall.h"
#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/HostHandle.h"

namespace raydeck::host {

// An owned host bitmap, move-only; release() hands ownership over (to the command registration).
class BaseBitmap {
  public:
    BaseBitmap() : handle_(Handle::allocate(&RdHostInterface::bitmapAlloc)) {}
    // Takes over a host bitmap; BaseBitmap(nullptr) is "no bitmap" (registers without icon).
    explicit BaseBitmap(RdHostBitmap* adopted) : handle_(adopted) {}

    RdHostBitmap* get() const { return handle_.get(); }
    bool valid() const { return get() != nullptr; }
    RdHostBitmap* release() { return handle_.release(); }

    // Loads an image file: RD_HOST_IMAGE_OK or a negative RD_HOST_IMAGE_* code.
    int32_t init(const Filename& file) {
        auto fn = hostOp(&RdHostInterface::bitmapInit);
        if (!fn || !valid() || !file.valid()) {
            return RD_HOST_IMAGE_NOT_EXISTING;
        }
        return fn(get(), file.get());
    }
    bool setSetting(int32_t id, double value) {
        return hostCall(&RdHostInterface::bitmapSetSetting, get(), id, value) != 0;
    }

  private:
    using Handle = OwnedHandle<RdHostBitmap, &RdHostInterface::bitmapFree>;
    Handle handle_;
};

}  // namespace raydeck::host

#endif
