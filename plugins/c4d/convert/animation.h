// Animation export: tracks of position, rotation and scale sampled at 30 per second and written
// as "fbx_animation" blocks.
#pragma once

#include <string>
#include <vector>

#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/host/BaseObject.h"
#include "plugins/c4d/host/CTrack.h"

namespace raydeck::c4d {

using TrackList = std::vector<host::CTrack>;

// Files one track into the scale, rotation or position list when it qualifies.
void collectTrack(PluginContext& context, const host::CTrack& track, TrackList& scale,
                  TrackList& rotation, TrackList& position);

// Writes the blocks of one channel ("Scale", "Rotation", "Position", or "Camera ..." with
// cameraMode). position, rotation (radians) and scale are the object's own vectors.
void writeAnimation(PluginContext& context, const std::string& objectName, const TrackList& tracks,
                    const std::string& channel, const host::Vector& position,
                    const host::Vector& rotation, const host::Vector& scale, int rotationOrder,
                    bool cameraMode);

}  // namespace raydeck::c4d
