// Animation tracks of an object, their curves and keys. A track is a node: its name and
// parameters (904: enabled) are read as on any node.
#ifndef RAYDECK_PLUGINS_C4D_HOST_CTRACK_H
#define RAYDECK_PLUGINS_C4D_HOST_CTRACK_H

#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/BaseList2D.h"
#include "plugins/c4d/host/Values.h"

namespace raydeck::host {

// A key of a curve (borrowed).
class CKey {
  public:
    CKey() = default;
    explicit CKey(const RdHostKey* handle) : handle_(handle) {}
    explicit operator bool() const { return handle_ != nullptr; }
    // The key's time. Answers success.
    bool time(HostTime& out) const {
        auto fn = hostOp(&RdHostInterface::keyGetTime);
        RdHostTime t{0.0, 0.0};
        if (!fn || !handle_ || fn(handle_, &t) == 0) {
            return false;
        }
        out = HostTime(t);
        return true;
    }

  private:
    const RdHostKey* handle_ = nullptr;
};

// A track's curve (borrowed).
class CCurve {
  public:
    CCurve() = default;
    explicit CCurve(const RdHostCurve* handle) : handle_(handle) {}
    explicit operator bool() const { return handle_ != nullptr; }
    int32_t keyCount() const {
        auto fn = hostOp(&RdHostInterface::curveGetKeyCount);
        return fn && handle_ ? fn(handle_) : 0;
    }
    // Key i; a null key when i is out of range.
    CKey key(int32_t i) const {
        auto fn = hostOp(&RdHostInterface::curveGetKey);
        return CKey(fn && handle_ ? fn(handle_, i) : nullptr);
    }

  private:
    const RdHostCurve* handle_ = nullptr;
};

// The animated parameter of a track: up to two levels (903 position, 904 rotation, 905 scale;
// then 1000 x, 1001 y, 1002 z).
struct TrackId {
    int32_t depth = 0;
    int32_t first = 0;
    int32_t second = 0;
};

class CTrack : public BaseList2D {
  public:
    CTrack() = default;
    explicit CTrack(RdHostNode* handle) : BaseList2D(handle) {}
    explicit CTrack(const BaseList2D& node) : BaseList2D(node.handle()) {}

    // The object's next track, or a null track.
    CTrack next() const {
        auto fn = hostOp(&RdHostInterface::trackGetNext);
        return CTrack(fn && handle_ ? fn(handle_) : nullptr);
    }
    // The animated parameter's id (depth 0 when unknown).
    TrackId id() const {
        TrackId out;
        auto fn = hostOp(&RdHostInterface::trackGetDescId);
        int32_t ids[2] = {0, 0};
        if (fn && handle_) {
            int32_t depth = fn(handle_, ids, 2);
            out.depth = depth < 0 ? 0 : (depth > 2 ? 2 : depth);
            out.first = out.depth >= 1 ? ids[0] : 0;
            out.second = out.depth >= 2 ? ids[1] : 0;
        }
        return out;
    }
    // The curve, or a null curve.
    CCurve curve() const {
        auto fn = hostOp(&RdHostInterface::trackGetCurve);
        return CCurve(fn && handle_ ? fn(handle_) : nullptr);
    }
    // The track's value at `time` for `doc`, at frame rate fps (the plug-in uses 30).
    double value(const BaseDocument& doc, const HostTime& time,
                 int32_t fps = RD_HOST_TRACK_FPS) const {
        auto fn = hostOp(&RdHostInterface::trackGetValue);
        RdHostTime t = time.raw();
        return fn && handle_ ? fn(handle_, doc.handle(), &t, fps) : 0.0;
    }
};

}  // namespace raydeck::host

#endif
