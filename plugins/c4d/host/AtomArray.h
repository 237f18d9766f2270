// Atom arrays: the document's selection (objects and tags, in document order).
#ifndef RAYDECK_PLUGINS_C4D_HOST_ATOMARRAY_H
#define RAYDECK_PLUGINS_C4D_HOST_ATOMARRAY_H

#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/BaseList2D.h"
#include "plugins/c4d/host/HostCall.h"
#include "plugins/c4d/host/HostHandle.h"

namespace raydeck::host {

// An owned host atom array, move-only.
class AtomArray {
  public:
    AtomArray() : handle_(Handle::allocate(&RdHostInterface::atomArrayAlloc)) {}

    RdHostAtomArray* get() const { return handle_.get(); }
    bool valid() const { return get() != nullptr; }

    // Fills the array with the document's current selection. Answers success.
    bool fillWithSelection(const BaseDocument& doc, int32_t flags = 0) {
        return valid() &&
               hostCall(&RdHostInterface::documentGetSelection, doc.handle(), get(), flags) != 0;
    }
    int32_t count() const { return hostCall(&RdHostInterface::atomArrayCount, get()); }
    // Entry i; a null node when i is out of range.
    BaseList2D at(int32_t i) const {
        return BaseList2D(hostCall(&RdHostInterface::atomArrayGet, get(), i));
    }

  private:
    using Handle = OwnedHandle<RdHostAtomArray, &RdHostInterface::atomArrayFree>;
    Handle handle_;
};

}  // namespace raydeck::host

#endif
