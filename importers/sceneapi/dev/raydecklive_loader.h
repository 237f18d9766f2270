// Loading the renderer's live library from its installation and handing out its two interfaces.
// The loader state is process-wide: created by the first getSceneApi/getQueryApi, destroyed by
// unloadLive. Single-threaded use (the host's main thread); nothing is locked.
#pragma once

#include "platform/dynlib.h"
#include "raydecklive_api.h"
#include "trvScene_api.h"

namespace trv {
namespace link {

// The one loaded live library of the process.
struct LiveLoader {
    LiveRoot* root = nullptr;                  // from "raydeck_live_initialize"; owned
    platform::LibraryHandle handle = nullptr;  // the loaded library
};

// The live library's scene interface, loading the library first when no loader exists (the
// version range is only looked at then). Null when the library cannot be loaded or initialised;
// the loader is then discarded again. Valid until unloadLive().
trvScene_api* getSceneApi(int minVersion, int maxVersion);
// The same for the query interface; logs the loader pointer at DEBUG4 first.
QueryApi* getQueryApi(int minVersion, int maxVersion);
// Deletes the root, frees the library and forgets the loader; nothing when none exists.
void unloadLive();

// Loads the library of the best installation within the range into an empty `loader`: the
// installation's live-library folder first, then the current directory, "32.so" before "64.so"
// in each, and initialises it. False when no library loads, the export is missing or the root
// is null; whatever was loaded stays in `loader` for unloadLive to release.
bool loadLive(LiveLoader& loader, int minVersion, int maxVersion);

// The process-wide loader, null while nothing is loaded (for diagnostics and tests).
const LiveLoader* liveLoader();

}  // namespace link
}  // namespace trv
