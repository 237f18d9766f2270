// Host tags: the tag list of an object and the data of UVW, polygon selection and texture tags.
// Type numbers: 5612 phong, 5616 texture, 5671 UVW, 5673 polygon selection, 5711 normal,
// 1017729 hair material. A tag's name is also its parameter 900.
#ifndef RAYDECK_PLUGINS_C4D_HOST_BASETAG_H
#define RAYDECK_PLUGINS_C4D_HOST_BASETAG_H

#include "plugins/c4d/host/BaseList2D.h"
#include "plugins/c4d/host/BaseMaterial.h"
#include "plugins/c4d/host/HostCall.h"
#include "plugins/c4d/host/HostHandle.h"
#include "plugins/c4d/host/HostNumbers.h"
#include "plugins/c4d/host/Values.h"

namespace raydeck::host {

// A UVW tag's data block (borrowed from the tag).
class UVWData {
  public:
    UVWData() = default;
    // The record operation is looked up once here: meshes ask for one record per polygon.
    UVWData(const RdHostUVWData* handle, int32_t count)
        : handle_(handle), count_(count), get_(hostOp(&RdHostInterface::uvwGetPolygon)) {}
    explicit operator bool() const { return handle_ != nullptr; }
    int32_t count() const { return handle_ ? count_ : 0; }
    // The UVW record of polygon i; false (and zeros in out) when i is out of range.
    bool polygon(int32_t i, RdHostUVWPolygon& out) const {
        if (get_ && handle_ && get_(handle_, i, &out) != 0) {
            return true;
        }
        out = RdHostUVWPolygon{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
        return false;
    }

  private:
    const RdHostUVWData* handle_ = nullptr;
    int32_t count_ = 0;
    int32_t (*get_)(const RdHostUVWData*, int32_t, RdHostUVWPolygon*) = nullptr;
};

// A polygon selection tag's selection (borrowed from the tag): inclusive index ranges.
class Selection : public BorrowedHandle<const RdHostSelection> {
  public:
    using BorrowedHandle::BorrowedHandle;
    int32_t segmentCount() const {
        return hostCall(&RdHostInterface::selectionGetSegmentCount, handle_);
    }
    // Inclusive range of segment i, clamped to maxElements elements. Answers success.
    bool range(int32_t segment, int32_t maxElements, int32_t& first, int32_t& last) const {
        int32_t a = 0, b = 0;
        if (hostCall(&RdHostInterface::selectionGetRange, handle_, segment, maxElements, &a, &b) ==
            0) {
            return false;
        }
        first = a;
        last = b;
        return true;
    }
};

class BaseTag : public BaseList2D {
  public:
    BaseTag() = default;
    explicit BaseTag(RdHostNode* handle) : BaseList2D(handle) {}
    explicit BaseTag(const BaseList2D& node) : BaseList2D(node.handle()) {}

    // The next tag of the object, or a null tag.
    BaseTag next() const { return reach<BaseTag>(&RdHostInterface::tagGetNext); }

    // UVW tag (5671): its data block; null for other tags.
    UVWData uvwData() const {
        int32_t count = 0;
        const RdHostUVWData* data = hostCall(&RdHostInterface::uvwTagGetData, handle_, &count);
        return UVWData(data, data ? count : 0);
    }
    // Polygon selection tag (5673): its selection; null for other tags.
    Selection selection() const {
        return Selection(hostCall(&RdHostInterface::selectionTagGetSelection, handle_));
    }
    // Texture tag (5616): the linked material, or a null material.
    BaseMaterial material() const {
        return reach<BaseMaterial>(&RdHostInterface::textureTagGetMaterial);
    }
    // Texture tag (5616): the texture matrix (identity when unreadable). Answers success.
    bool textureMatrix(Matrix& out) const {
        return hostRead(out, Matrix().raw(), &RdHostInterface::textureTagGetMatrix, handle_);
    }
};

}  // namespace raydeck::host

#endif
