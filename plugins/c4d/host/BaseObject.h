// Host objects: the object tree, placement, identifier, caches, tags, tracks, layer, and the
// geometry of polygon objects. Type numbers: 5100 polygon, 5102 light, 5103 camera,
// 1017305 hair, 5140 null.
#ifndef RAYDECK_PLUGINS_C4D_HOST_BASEOBJECT_H
#define RAYDECK_PLUGINS_C4D_HOST_BASEOBJECT_H

#include <cstdint>
#include <utility>

#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/BaseList2D.h"
#include "plugins/c4d/host/BaseTag.h"
#include "plugins/c4d/host/CTrack.h"
#include "plugins/c4d/host/HostCall.h"
#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/HostHandle.h"
#include "plugins/c4d/host/HostNumbers.h"
#include "plugins/c4d/host/Values.h"

namespace raydeck::host {

// Phong normals from the host: 12 floats per polygon (corners a, b, c, d). Either the host's own
// array, read-only and borrowed, or a copy made for the caller, owned and freed with the host
// allocator; the two constructors say which.
class PhongNormals {
  public:
    PhongNormals() = default;
    // A copy the host handed over: freed with the host allocator.
    PhongNormals(float* owned, int32_t polygonCount)
        : data_(owned), owned_(owned), polygons_(owned ? polygonCount : 0) {}
    // The host's own array: never freed here.
    static PhongNormals borrowed(const float* data, int32_t polygonCount) {
        PhongNormals n;
        n.data_ = data;
        n.polygons_ = data ? polygonCount : 0;
        return n;
    }
    // Move-only; a moved-from value is empty.
    PhongNormals(PhongNormals&& o) noexcept
        : data_(std::exchange(o.data_, nullptr)),
          owned_(std::move(o.owned_)),
          polygons_(std::exchange(o.polygons_, 0)) {}
    PhongNormals& operator=(PhongNormals&& o) noexcept {
        if (this != &o) {
            data_ = std::exchange(o.data_, nullptr);
            owned_ = std::move(o.owned_);
            polygons_ = std::exchange(o.polygons_, 0);
        }
        return *this;
    }
    explicit operator bool() const { return data_ != nullptr; }
    // True when the array is the host's own (nothing to free).
    bool isBorrowed() const { return data_ != nullptr && !owned_; }
    int32_t polygonCount() const { return polygons_; }
    const float* data() const { return data_; }
    // Normal of corner (0..3) of polygon; false out of range.
    bool corner(int32_t polygon, int32_t corner, float out[3]) const {
        if (!data_ || polygon < 0 || polygon >= polygons_ || corner < 0 || corner > 3) {
            return false;
        }
        const float* n = data_ + 3 * (4 * static_cast<int64_t>(polygon) + corner);
        out[0] = n[0];
        out[1] = n[1];
        out[2] = n[2];
        return true;
    }

  private:
    const float* data_ = nullptr;
    OwnedHandle<float, &RdHostInterface::memFree> owned_;  // empty when borrowed
    int32_t polygons_ = 0;
};

// A borrowed object handle; may be null.
class BaseObject : public BaseList2D {
  public:
    BaseObject() = default;
    explicit BaseObject(RdHostNode* handle) : BaseList2D(handle) {}
    explicit BaseObject(const BaseList2D& node) : BaseList2D(node.handle()) {}

    // The document's first top-level object.
    static BaseObject firstIn(const BaseDocument& doc) {
        return BaseObject(hostCall(&RdHostInterface::documentGetFirstObject, doc.handle()));
    }

    BaseObject next() const { return reach<BaseObject>(&RdHostInterface::objectGetNext); }
    BaseObject down() const { return reach<BaseObject>(&RdHostInterface::objectGetDown); }
    BaseObject deformCache() const {
        return reach<BaseObject>(&RdHostInterface::objectGetDeformCache);
    }
    BaseObject cache() const { return reach<BaseObject>(&RdHostInterface::objectGetCache); }
    BaseTag firstTag() const { return reach<BaseTag>(&RdHostInterface::objectGetFirstTag); }
    CTrack firstTrack() const { return reach<CTrack>(&RdHostInterface::objectGetFirstTrack); }
    // The object's layer as seen from doc, or a null node.
    BaseList2D layer(const BaseDocument& doc) const {
        return BaseList2D(hostCall(&RdHostInterface::objectGetLayer, handle_, doc.handle()));
    }

    // Bit `bit` of the bit field (RD_HOST_BIT_GENERATOR_INPUT: consumed by a generator).
    bool bit(int32_t bit) const {
        return hostCall(&RdHostInterface::objectGetBit, handle_, bit) != 0;
    }
    // The local matrix (identity when unreadable).
    Matrix matrix() const {
        Matrix out;
        hostRead(out, out.raw(), &RdHostInterface::objectGetMatrix, handle_);
        return out;
    }
    // The matrix in the document's space. False, with `out` untouched, when the host's table
    // predates the operation or the host cannot answer; callers then use the local matrix.
    bool globalMatrix(Matrix& out) const {
        return hostRead(out, Matrix().raw(), &RdHostInterface::objectGetGlobalMatrix, handle_);
    }
    Vector position() const { return vec(&RdHostInterface::objectGetPosition, 0.0); }
    // Rotation angles in radians.
    Vector rotation() const { return vec(&RdHostInterface::objectGetRotation, 0.0); }
    Vector scale() const { return vec(&RdHostInterface::objectGetScale, 1.0); }
    // 0 to 6.
    int32_t rotationOrder() const {
        return hostCall(&RdHostInterface::objectGetRotationOrder, handle_);
    }
    // The unsigned 64-bit identifier; 0 for a null object.
    uint64_t guid() const { return hostCall(&RdHostInterface::objectGetGuid, handle_); }

    // Polygon objects: points (data kind 5600) and polygons (5604), read-only, owned by the
    // object; empty for other objects.
    ConstArray<RdHostVector> points() const {
        return hostArray(&RdHostInterface::polygonGetPoints, handle_);
    }
    ConstArray<RdHostPolygon> polygons() const {
        return hostArray(&RdHostInterface::polygonGetPolygons, handle_);
    }
    // Per-corner phong normals; empty when the object has no phong tag. The host's stored array
    // when it lends one, else a copy it makes.
    PhongNormals phongNormals() const {
        // The lent normals come with a count of polygons (12 floats each), not of floats.
        int32_t count = 0;
        const float* stored = hostCall(&RdHostInterface::polygonGetPhongNormals, handle_, &count);
        if (stored != nullptr && count >= 0) {
            return PhongNormals::borrowed(stored, count);
        }
        count = 0;
        float* data = hostCall(&RdHostInterface::polygonCreatePhongNormals, handle_, &count);
        if (data && count < 0) {
            hostFree(data);
            return PhongNormals();
        }
        return PhongNormals(data, count);
    }

  private:
    // A placement vector; (fallback, fallback, fallback) when unreadable.
    Vector vec(int32_t (*RdHostInterface::*member)(const RdHostNode*, RdHostVector*),
               double fallback) const {
        Vector out(fallback, fallback, fallback);
        hostRead(out, out.raw(), member, handle_);
        return out;
    }
};

}  // namespace raydeck::host

#endif
