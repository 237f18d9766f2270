// The host's hair service (library 1018173): access to a hair object and its guides. Every call
// answers nothing when the service is missing.
#ifndef RAYDECK_PLUGINS_C4D_HOST_HAIRGUIDES_H
#define RAYDECK_PLUGINS_C4D_HOST_HAIRGUIDES_H

#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/BaseObject.h"
#include "plugins/c4d/host/HostCall.h"
#include "plugins/c4d/host/HostHandle.h"
#include "plugins/c4d/host/Values.h"

namespace raydeck::host {

// Generated guides; owned (move-only), freed through the hair service.
class HairGuides {
  public:
    HairGuides() = default;
    explicit HairGuides(RdHostHairGuides* handle) : handle_(handle) {}
    explicit operator bool() const { return static_cast<bool>(handle_); }

    int32_t segmentCount() const {
        return hostCall(&RdHostInterface::hairGuidesGetSegmentCount, handle_.get());
    }
    int32_t guideCount() const {
        return hostCall(&RdHostInterface::hairGuidesGetCount, handle_.get());
    }
    // Points guide after guide, (segment count + 1) per guide.
    ConstArray<RdHostVector> points() const {
        return hostArray(&RdHostInterface::hairGuidesGetPoints, handle_.get());
    }
    // Root UVW of guide i. Answers success.
    bool rootUV(int32_t i, Vector& out) const {
        return hostRead(out, RdHostVector{0, 0, 0}, &RdHostInterface::hairGuidesGetRootUV,
                        handle_.get(), i);
    }

  private:
    OwnedHandle<RdHostHairGuides, &RdHostInterface::hairGuidesFree> handle_;
};

// Access to one hair object for the lifetime of this value (begin with (doc, 0, 0, 0), end on
// destruction).
class HairAccess {
  public:
    HairAccess(const BaseObject& hair, const BaseDocument& doc) : object_(hair.handle()) {
        hostCall(&RdHostInterface::hairBeginAccess, object_, doc.handle(), 0, 0, 0);
    }
    ~HairAccess() { hostCall(&RdHostInterface::hairEndAccess, object_); }
    HairAccess(const HairAccess&) = delete;
    HairAccess& operator=(const HairAccess&) = delete;

    // Generates the guides (none when there are none or the service is missing).
    HairGuides generateGuides() const {
        return HairGuides(hostCall(&RdHostInterface::hairGenerateGuides, object_));
    }

  private:
    RdHostNode* object_ = nullptr;
};

}  // namespace raydeck::host

#endif
