// The two ways the plug-in holds a host handle: borrowed (the host owns what it points to; the
// base of the node, document and data wrappers) and owned (freed exactly once through the host
// operation that frees it; held by the string, file name, bitmap, atom array and guides
// wrappers, which then need no destructor or move operations of their own).
#ifndef RAYDECK_PLUGINS_C4D_HOST_HOSTHANDLE_H
#define RAYDECK_PLUGINS_C4D_HOST_HOSTHANDLE_H

#include "plugins/c4d/host/HostCall.h"
#include "plugins/c4d/host/HostContext.h"

namespace raydeck::host {

// A borrowed handle; may be null, and then every call on it answers nothing.
template <typename H>
class BorrowedHandle {
  public:
    BorrowedHandle() = default;
    explicit BorrowedHandle(H* handle) : handle_(handle) {}

    H* handle() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

  protected:
    H* handle_ = nullptr;
};

// An owned handle, move-only. `Free` is the host interface member that frees it, e.g.
// &RdHostInterface::stringFree.
template <typename H, auto Free>
class OwnedHandle {
  public:
    OwnedHandle() = default;
    // Takes over `adopted` (null: no handle).
    explicit OwnedHandle(H* adopted) : handle_(adopted) {}
    // A new handle from the host's allocating operation; empty without it.
    static OwnedHandle allocate(H* (*RdHostInterface::*alloc)()) {
        auto fn = hostOp(alloc);
        return OwnedHandle(fn ? fn() : nullptr);
    }
    ~OwnedHandle() { reset(); }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.release()) {}
    OwnedHandle& operator=(OwnedHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    H* get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    // Hands the handle over; this one is empty afterwards.
    H* release() {
        H* h = handle_;
        handle_ = nullptr;
        return h;
    }
    // Frees the handle held (if any) and takes `adopted`.
    void reset(H* adopted = nullptr) {
        hostCall(Free, handle_);
        handle_ = adopted;
    }

  private:
    H* handle_ = nullptr;
};

}  // namespace raydeck::host

#endif
