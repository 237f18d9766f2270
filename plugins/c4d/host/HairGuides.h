// The host's hair service (library 1018173): access to a hair object and its guides. Every call
// answers nothing when the service is missing.
#ifndef RAYDECK_PLUGINS_C4D_HOST_HAIRGUIDES_H
#define RAYDECK_PLUGINS_C4D_HOST_HAIRGUIDES_H

#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/BaseObject.h"
#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/Values.h"

namespace raydeck::host {

// Generated guides; owned, freed through the hair service.
class HairGuides {
  public:
    HairGuides() = default;
    explicit HairGuides(RdHostHairGuides* handle) : handle_(handle) {}
    ~HairGuides() { reset(); }
    HairGuides(const HairGuides&) = delete;
    HairGuides& operator=(const HairGuides&) = delete;
    HairGuides(HairGuides&& o) noexcept : handle_(o.handle_) { o.handle_ = nullptr; }
    HairGuides& operator=(HairGuides&& o) noexcept {
        if (this != &o) {
            reset();
            handle_ = o.handle_;
            o.handle_ = nullptr;
        }
        return *this;
    }
    explicit operator bool() const { return handle_ != nullptr; }

    int32_t segmentCount() const {
        auto fn = hostOp(&RdHostInterface::hairGuidesGetSegmentCount);
        return fn && handle_ ? fn(handle_) : 0;
    }
    int32_t guideCount() const {
        auto fn = hostOp(&RdHostInterface::hairGuidesGetCount);
        return fn && handle_ ? fn(handle_) : 0;
    }
    // Points guide after guide, (segment count + 1) per guide.
    ConstArray<RdHostVector> points() const {
        ConstArray<RdHostVector> a;
        auto fn = hostOp(&RdHostInterface::hairGuidesGetPoints);
        if (fn && handle_) {
            a.data = fn(handle_, &a.count);
        }
        if (!a.data || a.count < 0) {
            a = ConstArray<RdHostVector>();
        }
        return a;
    }
    // Root UVW of guide i. Answers success.
    bool rootUV(int32_t i, Vector& out) const {
        auto fn = hostOp(&RdHostInterface::hairGuidesGetRootUV);
        RdHostVector v{0, 0, 0};
        if (!fn || !handle_ || fn(handle_, i, &v) == 0) {
            return false;
        }
        out = Vector(v);
        return true;
    }

  private:
    void reset() {
        auto fn = hostOp(&RdHostInterface::hairGuidesFree);
        if (fn && handle_) {
            fn(handle_);
        }
        handle_ = nullptr;
    }
    RdHostHairGuides* handle_ = nullptr;
};

// Access to one hair object for the lifetime of this value (begin with (doc, 0, 0, 0), end on
// destruction).
class HairAccess {
  public:
    HairAccess(const BaseObject& hair, const BaseDocument& doc) : object_(hair.handle()) {
        auto fn = hostOp(&RdHostInterface::hairBeginAccess);
        if (fn && object_) {
            fn(object_, doc.handle(), 0, 0, 0);
        }
    }
    ~HairAccess() {
        auto fn = hostOp(&RdHostInterface::hairEndAccess);
        if (fn && object_) {
            fn(object_);
        }
    }
    HairAccess(const HairAccess&) = delete;
    HairAccess& operator=(const HairAccess&) = delete;

    // Generates the guides (none when there are none or the service is missing).
    HairGuides generateGuides() const {
        auto fn = hostOp(&RdHostInterface::hairGenerateGuides);
        return HairGuides(fn && object_ ? fn(object_) : nullptr);
    }

  private:
    RdHostNode* object_ = nullptr;
};

}  // namespace raydeck::host

#endif
