// Animation tracks of an object, their curves and keys. A track is a node: its name and
// parameters (904: enabled) are read as on any node.
#ifndef RAYDECK_PLUGINS_C4D_HOST_CTRACK_H
#define RAYDECK_PLUGINS_C4D_HOST_CTRACK_H

#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/BaseList2D.h"
#include "plugins/c4d/host/HostCall.h"
#include "plugins/c4d/host/HostHandle.h"
#include "plugins/c4d/host/Values.h"

namespace raydeck::host {

// A key of a curve (borrowed).
class CKey : public BorrowedHandle<const RdHostKey> {
  public:
    using BorrowedHandle::BorrowedHandle;
    // The key's time. Answers success.
    bool time(HostTime& out) const {
        return hostRead(out, RdHostTime{0.0, 0.0}, &RdHostInterface::keyGetTime, handle_);
    }
};

// A track's curve (borrowed).
class CCurve : public BorrowedHandle<const RdHostCurve> {
  public:
    using BorrowedHandle::BorrowedHandle;
    int32_t keyCount() const { return hostCall(&RdHostInterface::curveGetKeyCount, handle_); }
    // Key i; a null key when i is out of range.
    CKey key(int32_t i) const { return CKey(hostCall(&RdHostInterface::curveGetKey, handle_, i)); }
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
    CTrack next() const { return reach<CTrack>(&RdHostInterface::trackGetNext); }
    // The animated parameter's id (depth 0 when unknown).
    TrackId id() const {
        TrackId out;
        int32_t ids[2] = {0, 0};
        const int32_t depth = hostCall(&RdHostInterface::trackGetDescId, handle_, ids, 2);
        out.depth = depth < 0 ? 0 : (depth > 2 ? 2 : depth);
        out.first = out.depth >= 1 ? ids[0] : 0;
        out.second = out.depth >= 2 ? ids[1] : 0;
        return out;
    }
    // The curve, or a null curve.
    CCurve curve() const { return CCurve(hostCall(&RdHostInterface::trackGetCurve, handle_)); }
    // The track's value at `time` for `doc`, at frame rate fps (the plug-in uses 30).
    double value(const BaseDocument& doc, const HostTime& time,
                 int32_t fps = RD_HOST_TRACK_FPS) const {
        RdHostTime t = time.raw();
        return hostCall(&RdHostInterface::trackGetValue, handle_, doc.handle(), &t, fps);
    }
};

}  // namespace raydeck::host

#endif
