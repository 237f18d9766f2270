// Animation export: tracks of position, rotation and scale sampled at 30 per second and written
// as "fbx_animation" blocks, one per track, each holding the change that its one component
// causes relative to the track's first sample, placed with the object's own transform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/convert/SceneValues.h"
#include "plugins/c4d/host/BaseObject.h"
#include "plugins/c4d/host/CTrack.h"
#include "trvSceneapi_oo.h"

namespace raydeck::c4d {

using TrackList = std::vector<host::CTrack>;
struct AnimationReport;

// Files one track into the scale, rotation or position list when it qualifies.
void collectTrack(PluginContext& context, const host::CTrack& track, TrackList& scale,
                  TrackList& rotation, TrackList& position);

// Writes the blocks of one channel ("Scale", "Rotation", "Position", or "Camera ..." with
// cameraMode). position, rotation (radians) and scale are the object's own vectors. In camera
// mode, `parentPlacement` (the parent's matrix in the document's space; none for a top-level
// camera) carries each change into the document's space before the z flip.
void writeAnimation(PluginContext& context, const std::string& objectName, const TrackList& tracks,
                    const std::string& channel, const host::Vector& position,
                    const host::Vector& rotation, const host::Vector& scale, int rotationOrder,
                    bool cameraMode, const host::Matrix* parentPlacement = nullptr,
                    AnimationReport* report = nullptr);

// Collects the object's tracks and writes its Scale, Rotation and Position channels in that
// order ("Camera Scale" and so on with cameraMode), all placed with the given own vectors. What
// was left out goes to `report`, or, without one, to the console as one line.
void writeObjectAnimation(PluginContext& context, const host::BaseObject& object,
                          const std::string& objectName, const host::Vector& position,
                          const host::Vector& rotation, const host::Vector& scale,
                          int rotationOrder, bool cameraMode,
                          const host::Matrix* parentPlacement = nullptr,
                          AnimationReport* report = nullptr);

// The console line for what `report` says was left out of `objectName`'s placement and
// animation, "Raydeck warning: ..."; nothing when nothing was. A warning, not a failure: the
// scene is written, with sound numbers in place of what was left out.
void reportAnimation(const std::string& objectName, const AnimationReport& report);

// --- Pieces of the writer, also used by the tests and the benchmark. ---

// The object's own placement, computed once per channel and shared by its tracks.
struct AnimationPlacement {
    host::Matrix T, R, S, Rx, Ry, Rz;
    host::Matrix Ti, Ri, Si, Rxi, Ryi, Rzi;
    int order = 0;
    bool cameraMode = false;
    // Camera mode under a parent: P and its inverse; each change Y becomes P * Y * P^-1. Not
    // used (and the bytes stay those of a top-level camera) when P is exactly the identity.
    bool parented = false;
    host::Matrix P, Pi;
    // A flat own scale or parent placement: its inverse is the identity, and the changes that
    // pass through it are left out.
    bool scaleSingular = false, parentSingular = false;
    // The time whose placement the section or group holds (the document's start time): a track
    // whose first key comes before it measures its changes from its value there. Without one,
    // changes are measured from the first key.
    bool hasReference = false;
    host::HostTime reference;
    AnimationPlacement(const host::Vector& position, const host::Vector& rotation,
                       const host::Vector& scale, int rotationOrder, bool camera,
                       const host::Matrix* parentPlacement = nullptr);
};

// The longest key span sampled, in seconds: two hours at 30 samples per second, about 28 MB
// of matrices. A longer track is sampled over its first two hours only, with one console line
// naming the object and the track, so that memory and output stay bounded whatever the keys say.
constexpr double kMaxSampledSeconds = 7200.0;

// One track sampled on the single-precision 1/30 s clock.
struct TrackSamples {
    std::string name;
    int32_t startTime = 0;  // t0 truncated to whole seconds
    float duration = 0.0f;  // t1 - t0 in single precision, or kMaxSampledSeconds when capped
    double keySpan = 0.0;   // t1 - t0
    bool capped = false;    // the keys span more than kMaxSampledSeconds
    std::vector<trv::matrix> matrices;
    std::vector<int32_t> timestamps;  // milliseconds from t0
    // Samples written as the identity because the change could not be placed (a flat placement
    // or first value, or a number beyond the double range).
    size_t leftOut = 0;
};

// What an object's animation left out, for the one warning line on the host's console.
struct AnimationReport {
    size_t leftOut = 0;
    bool placementLeftOut = false;  // the group's or section's own transform
    void add(const TrackSamples& s) { leftOut += s.leftOut; }
};

// Samples one track; false (nothing to write) when the track does not qualify: no curve, fewer
// than 2 keys, disabled, no positive finite duration, or not a position, rotation or scale
// component x, y or z.
bool sampleTrack(const host::BaseDocument& document, const host::CTrack& track,
                 const AnimationPlacement& placement, TrackSamples& out);

// The console line for a track sampled over kMaxSampledSeconds only.
std::string cappedTrackWarning(const std::string& objectName, const TrackSamples& samples);

// Writes one "fbx_animation" block of sampled track to the back end.
void writeAnimationBlock(trvScene_api& api, const TrackSamples& samples, const std::string& folder);

}  // namespace raydeck::c4d
