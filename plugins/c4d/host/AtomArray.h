// Atom arrays: the document's selection (objects and tags, in document order).
#ifndef RAYDECK_PLUGINS_C4D_HOST_ATOMARRAY_H
#define RAYDECK_PLUGINS_C4D_HOST_ATOMARRAY_H

#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/BaseList2D.h"
#include "plugins/c4d/host/HostContext.h"

namespace raydeck::host {

// An owned host atom array.
class AtomArray {
  public:
    AtomArray() {
        auto fn = hostOp(&RdHostInterface::atomArrayAlloc);
        handle_ = fn ? fn() : nullptr;
    }
    ~AtomArray() {
        auto fn = hostOp(&RdHostInterface::atomArrayFree);
        if (fn && handle_) {
            fn(handle_);
        }
    }
    AtomArray(const AtomArray&) = delete;
    AtomArray& operator=(const AtomArray&) = delete;

    RdHostAtomArray* get() const { return handle_; }
    bool valid() const { return handle_ != nullptr; }

    // Fills the array with the document's current selection. Answers success.
    bool fillWithSelection(const BaseDocument& doc, int32_t flags = 0) {
        auto fn = hostOp(&RdHostInterface::documentGetSelection);
        return fn && handle_ && doc && fn(doc.handle(), handle_, flags) != 0;
    }
    int32_t count() const {
        auto fn = hostOp(&RdHostInterface::atomArrayCount);
        return fn && handle_ ? fn(handle_) : 0;
    }
    // Entry i; a null node when i is out of range.
    BaseList2D at(int32_t i) const {
        auto fn = hostOp(&RdHostInterface::atomArrayGet);
        return BaseList2D(fn && handle_ ? fn(handle_, i) : nullptr);
    }

  private:
    RdHostAtomArray* handle_ = nullptr;
};

}  // namespace raydeck::host

#endif
