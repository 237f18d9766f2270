// Animation export (placeholder until the animation writer lands).
#include "plugins/c4d/convert/animation.h"

namespace raydeck::c4d {

void collectTrack(PluginContext&, const host::CTrack&, TrackList&, TrackList&, TrackList&) {}

void writeAnimation(PluginContext&, const std::string&, const TrackList&, const std::string&,
                    const host::Vector&, const host::Vector&, const host::Vector&, int, bool) {}

}  // namespace raydeck::c4d
