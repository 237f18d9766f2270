// The renderer link behind trv::RepeatLinkFactory: choosing a running renderer (launching one
// when none fits), connecting the live library's trvScene_api to it, and releasing it again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trvScene_api.h"

class QueryApi;

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

// One running renderer from the live library's instance list.
struct RendererInstance {
    int versionMajor = 0;  // 0: no renderer (the result of a choice that found none)
    std::int64_t processId = 0;
    int livelinkPort = 0;  // 0 or less: none reported
};

// What connect() needs from outside: the live library, the installation and the clock. The
// defaults are the real ones; tests replace single pieces.
class LinkServices {
  public:
    virtual ~LinkServices() = default;
    virtual trvScene_api* sceneApi(int minVersion, int maxVersion);  // getSceneApi
    virtual QueryApi* queryApi(int minVersion, int maxVersion);      // getQueryApi
    virtual bool launch(int minVersion, int maxVersion);             // Installation::launch
    virtual int liveLinkPorts(int minVersion, int maxVersion, int& first,
                              int& last);  // Installation::liveLinkPorts
    virtual void sleepMs(int milliseconds);
};

// Connects `state.backend` through the real live library and installation. On false,
// `state.backend` is null and `state.lastError` holds the reason.
bool connect(LinkState& state);
bool connect(LinkState& state, LinkServices& services);

// The running renderers within state's version range, in list order. Entries lacking a
// version, process id or port (or holding no valid number there) are skipped; null or
// unparsable list text gives none.
std::vector<RendererInstance> listInstances(QueryApi& query, const LinkState& state);

// The renderer to use: one holding state.sceneName, else (with acceptAnyInstance) the newest
// of any content, else the newest with an empty scene; versionMajor 0 when none fits. Sets
// state.sceneFound. Releases every instance it selected.
RendererInstance chooseInstance(QueryApi& query, const std::vector<RendererInstance>& list,
                                LinkState& state);

// Releases what connect() loaded (the live library); called after the back end disconnected.
void release();

}  // namespace link
}  // namespace trv
