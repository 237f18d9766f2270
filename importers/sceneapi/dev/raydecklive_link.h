// The renderer link behind trv::RepeatLinkFactory: connecting the live library's trvScene_api to
// a running renderer, and releasing it again.
#pragma once

#include <string>

#include "trvScene_api.h"

namespace trv {
namespace link {

// What a connection attempt reads and answers; trv::RepeatLinkFactory holds one.
struct LinkState {
    int retries = 20;                 // passes of the wait loop after launching a renderer
    int retryDelayMs = 1000;          // pause after each pass
    trvScene_api* backend = nullptr;  // the live library's scene interface; owned by the library
    int minVersion = 7;               // accepted renderer major versions
    int maxVersion = 20;
    std::string sceneName;  // model set to look for in the running renderers
    bool acceptAnyInstance = false;
    bool sceneFound = false;  // the chosen renderer already holds sceneName
    std::string lastError;    // reason of the last failed connection
    int sceneId = 1;          // declared on the back end before connecting
};

// Connects `state.backend`. On false, `state.backend` is null and `state.lastError` holds the
// reason (ending in a line end).
bool connect(LinkState& state);

// Releases what connect() loaded (the live library); called after the back end disconnected.
void release();

}  // namespace link
}  // namespace trv
