// The plug-in's numbers that others must agree on: the host's plug-in IDs of its commands, and
// the renderer versions Render and Update accept. The host simulator uses them too.
#pragma once

#include <cstdint>

namespace raydeck::c4d {

constexpr int32_t kRenderCommandId = 1033591;
constexpr int32_t kUpdateCommandId = 1034393;
constexpr int32_t kExportCommandId = 1034420;

// Major versions, both inclusive.
constexpr int kMinRendererVersion = 7;
constexpr int kMaxRendererVersion = 8;

}  // namespace raydeck::c4d
