// The stand-in live library's export: raydeck_live_initialize() returns a new LiveRoot that owns
// one scene api (streaming to a stand-in renderer) and one query api (the announcements).
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "platform/export.h"
#include "raydecklive_api.h"
#include "tools/live/LiveAnnouncement.h"
#include "tools/live/LiveQueryApi.h"
#include "tools/live/LiveSceneApi.h"

namespace raydeck::live {
namespace {

int millisecondsFrom(const char* variable, int fallback) {
    const char* text = std::getenv(variable);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    return (*end == '\0' && value > 0 && value <= 3600000) ? static_cast<int>(value) : fallback;
}

class Root : public LiveRoot {
  public:
    Root(LiveTimeouts timeouts, std::string folder) : scene_(timeouts), query_(std::move(folder)) {}
    trvScene_api* sceneApi() override { return &scene_; }
    QueryApi* queryApi() override { return &query_; }

  private:
    LiveSceneApi scene_;
    LiveQueryApi query_;
};

}  // namespace
}  // namespace raydeck::live

extern "C" RAYDECK_EXPORT LiveRoot* raydeck_live_initialize() {
    using namespace raydeck::live;
    // Nothing may escape into the caller: a failure is a null root.
    try {
        LiveTimeouts timeouts;
        timeouts.sendMs = millisecondsFrom("RAYDECK_LIVE_SEND_TIMEOUT_MS", timeouts.sendMs);
        timeouts.ackMs = millisecondsFrom("RAYDECK_LIVE_ACK_TIMEOUT_MS", timeouts.ackMs);
        const std::string folder = runtimeFolder();
        std::string why;
        if (!privateRuntimeFolder(folder, why)) {
            // Another user's folder could hand us their renderer: refused, and no root at all,
            // so that the link fails at once instead of launching a renderer that cannot start.
            std::fprintf(stderr, "raydeck live library: %s\n", why.c_str());
            return nullptr;
        }
        return new Root(timeouts, folder);
    } catch (...) {
        return nullptr;
    }
}
