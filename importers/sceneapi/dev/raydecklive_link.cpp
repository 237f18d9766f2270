// The renderer link. No live library is located yet, so every attempt answers as when the
// installation provides none.
#include "raydecklive_link.h"

namespace trv {
namespace link {

bool connect(LinkState& state) {
    state.backend = nullptr;
    state.sceneFound = false;
    state.lastError = "Could not get a scene api. Please check your Raydeck installation.\n";
    return false;
}

void release() {}

}  // namespace link
}  // namespace trv
