// Host objects: the object tree, placement, identifier, caches, tags, tracks, layer, and the
// geometry of polygon objects. Type numbers: 5100 polygon, 5102 light, 5103 camera,
// 1017305 hair, 5140 null.
#ifndef RAYDECK_PLUGINS_C4D_HOST_BASEOBJECT_H
#define RAYDECK_PLUGINS_C4D_HOST_BASEOBJECT_H

#include <cstdint>

#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/BaseList2D.h"
#include "plugins/c4d/host/BaseTag.h"
#include "plugins/c4d/host/CTrack.h"
#include "plugins/c4d/host/HostContext.h"
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
    ~PhongNormals() { hostFree(owned_); }
    PhongNormals(const PhongNormals&) = delete;
    PhongNormals& operator=(const PhongNormals&) = delete;
    PhongNormals(PhongNormals&& o) noexcept
        : data_(o.data_), owned_(o.owned_), polygons_(o.polygons_) {
        o.data_ = nullptr;
        o.owned_ = nullptr;
        o.polygons_ = 0;
    }
    PhongNormals& operator=(PhongNormals&& o) noexcept {
        if (this != &o) {
            hostFree(owned_);
            data_ = o.data_;
            owned_ = o.owned_;
            polygons_ = o.polygons_;
            o.data_ = nullptr;
            o.owned_ = nullptr;
            o.polygons_ = 0;
        }
        return *this;
    }
    explicit operator bool() const { return data_ != nullptr; }
    // True when the array is the host's own (nothing to free).
    bool isBorrowed() const { return data_ != nullptr && owned_ == nullptr; }
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
    float* owned_ = nullptr;  // null when borrowed
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
        auto fn = hostOp(&RdHostInterface::documentGetFirstObject);
        return BaseObject(fn && doc ? fn(doc.handle()) : nullptr);
    }

    BaseObject next() const { return BaseObject(call(&RdHostInterface::objectGetNext)); }
    BaseObject down() const { return BaseObject(call(&RdHostInterface::objectGetDown)); }
    BaseObject deformCache() const {
        return BaseObject(call(&RdHostInterface::objectGetDeformCache));
    }
    BaseObject cache() const { return BaseObject(call(&RdHostInterface::objectGetCache)); }
    BaseTag firstTag() const { return BaseTag(call(&RdHostInterface::objectGetFirstTag)); }
    CTrack firstTrack() const { return CTrack(call(&RdHostInterface::objectGetFirstTrack)); }
    // The object's layer as seen from doc, or a null node.
    BaseList2D layer(const BaseDocument& doc) const {
        auto fn = hostOp(&RdHostInterface::objectGetLayer);
        return BaseList2D(fn && handle_ ? fn(handle_, doc.handle()) : nullptr);
    }

    // Bit `bit` of the bit field (RD_HOST_BIT_GENERATOR_INPUT: consumed by a generator).
    bool bit(int32_t bit) const {
        auto fn = hostOp(&RdHostInterface::objectGetBit);
        return fn && handle_ && fn(handle_, bit) != 0;
    }
    // The local matrix (identity when unreadable).
    Matrix matrix() const {
        auto fn = hostOp(&RdHostInterface::objectGetMatrix);
        RdHostMatrix m = Matrix().raw();
        if (fn && handle_ && fn(handle_, &m) != 0) {
            return Matrix(m);
        }
        return Matrix();
    }
    // The matrix in the document's space. False, with `out` untouched, when the host's table
    // predates the operation or the host cannot answer; callers then use the local matrix.
    bool globalMatrix(Matrix& out) const {
        auto fn = hostOp(&RdHostInterface::objectGetGlobalMatrix);
        RdHostMatrix m = Matrix().raw();
        if (fn && handle_ && fn(handle_, &m) != 0) {
            out = Matrix(m);
            return true;
        }
        return false;
    }
    Vector position() const { return vec(hostOp(&RdHostInterface::objectGetPosition), 0.0); }
    // Rotation angles in radians.
    Vector rotation() const { return vec(hostOp(&RdHostInterface::objectGetRotation), 0.0); }
    Vector scale() const { return vec(hostOp(&RdHostInterface::objectGetScale), 1.0); }
    // 0 to 6.
    int32_t rotationOrder() const {
        auto fn = hostOp(&RdHostInterface::objectGetRotationOrder);
        return fn && handle_ ? fn(handle_) : 0;
    }
    // The unsigned 64-bit identifier; 0 for a null object.
    uint64_t guid() const {
        auto fn = hostOp(&RdHostInterface::objectGetGuid);
        return fn && handle_ ? fn(handle_) : 0;
    }

    // Polygon objects: points (data kind 5600) and polygons (5604), read-only, owned by the
    // object; empty for other objects.
    ConstArray<RdHostVector> points() const {
        ConstArray<RdHostVector> a;
        auto fn = hostOp(&RdHostInterface::polygonGetPoints);
        if (fn && handle_) {
            a.data = fn(handle_, &a.count);
        }
        if (!a.data || a.count < 0) {
            a = ConstArray<RdHostVector>();
        }
        return a;
    }
    ConstArray<RdHostPolygon> polygons() const {
        ConstArray<RdHostPolygon> a;
        auto fn = hostOp(&RdHostInterface::polygonGetPolygons);
        if (fn && handle_) {
            a.data = fn(handle_, &a.count);
        }
        if (!a.data || a.count < 0) {
            a = ConstArray<RdHostPolygon>();
        }
        return a;
    }
    // Per-corner phong normals; empty when the object has no phong tag. The host's stored array
    // when it lends one, else a copy it makes.
    PhongNormals phongNormals() const {
        auto get = hostOp(&RdHostInterface::polygonGetPhongNormals);
        if (get && handle_) {
            int32_t count = 0;
            const float* stored = get(handle_, &count);
            if (stored && count >= 0) {
                return PhongNormals::borrowed(stored, count);
            }
        }
        auto fn = hostOp(&RdHostInterface::polygonCreatePhongNormals);
        int32_t count = 0;
        float* data = fn && handle_ ? fn(handle_, &count) : nullptr;
        if (data && count < 0) {
            hostFree(data);
            return PhongNormals();
        }
        return PhongNormals(data, count);
    }

  private:
    RdHostNode* call(RdHostNode* (*RdHostInterface::*member)(const RdHostNode*)) const {
        auto fn = hostOp(member);
        return fn && handle_ ? fn(handle_) : nullptr;
    }
    template <typename Fn>
    Vector vec(Fn fn, double fallback) const {
        RdHostVector v{fallback, fallback, fallback};
        if (fn && handle_ && fn(handle_, &v) != 0) {
            return Vector(v);
        }
        return Vector(fallback, fallback, fallback);
    }
};

}  // namespace raydeck::host

#endif
