// The live library loader: finds the library in the installation (or the current directory),
// initialises it and keeps it until unloadLive().
#include "raydecklive_loader.h"

#include <string>

#include "Installation.h"
#include "trvLog.h"

namespace trv {
namespace link {

namespace {

LiveLoader* g_loader = nullptr;

// The log takes 8-bit text; the folder is shown unit by unit, as the renderer's own tools do.
std::string narrowed(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t unit : text) {
        out.push_back(static_cast<char>(unit & 0xff));
    }
    return out;
}

// Creates and loads the loader when none exists; null when that fails.
LiveLoader* loadedLoader(int minVersion, int maxVersion) {
    if (g_loader != nullptr) {
        return g_loader;
    }
    g_loader = new LiveLoader();
    if (!loadLive(*g_loader, minVersion, maxVersion)) {
        unloadLive();
        return nullptr;
    }
    return g_loader;
}

}  // namespace

bool loadLive(LiveLoader& loader, int minVersion, int maxVersion) {
    int version = -1;
    const std::u16string folder =
        Installation::instance().binFolder(minVersion, maxVersion, version);
    if (folder.empty()) {
        return false;
    }
    const std::u16string base = version >= 6 ? u"trvraydecklive6_" : u"trvraydecklive";
    const std::u16string stems[] = {folder + u"\\" + base, u".\\" + base};
    TRV_LOG(logDEBUG4) << narrowed(folder);

    for (const std::u16string& stem : stems) {
        for (const char16_t* suffix : {u"32.so", u"64.so"}) {
            platform::LibraryHandle handle = nullptr;
            // A library of the wrong word size simply fails here; the next name is tried.
            if (platform::loadLibrary(stem + suffix, handle).ok()) {
                loader.handle = handle;
                break;
            }
        }
        if (loader.handle != nullptr) {
            break;
        }
    }
    TRV_LOG(logDEBUG4) << "initialize shared handle: " << loader.handle;
    if (loader.handle == nullptr) {
        TRV_LOG(logWARNING) << "NO shared handle";
        return false;
    }

    void* symbol = nullptr;
    if (platform::findSymbol(loader.handle, "raydeck_live_initialize", symbol).ok()) {
        auto initialize = reinterpret_cast<raydeck_live_initialize_fn>(symbol);
        loader.root = initialize();
    }
    TRV_LOG(logDEBUG4) << "Raydeck live: " << static_cast<const void*>(loader.root);
    return loader.root != nullptr;
}

trvScene_api* getSceneApi(int minVersion, int maxVersion) {
    LiveLoader* loader = loadedLoader(minVersion, maxVersion);
    if (loader == nullptr || loader->root == nullptr) {
        return nullptr;
    }
    return loader->root->sceneApi();
}

QueryApi* getQueryApi(int minVersion, int maxVersion) {
    TRV_LOG(logDEBUG4) << "trv_get_query_api -> raydeck_live_loader: "
                       << static_cast<const void*>(g_loader);
    LiveLoader* loader = loadedLoader(minVersion, maxVersion);
    if (loader == nullptr || loader->root == nullptr) {
        return nullptr;
    }
    return loader->root->queryApi();
}

void unloadLive() {
    LiveLoader* loader = g_loader;
    g_loader = nullptr;
    if (loader == nullptr) {
        return;
    }
    // The root belongs to the library's code: delete it while the library is still mapped.
    delete loader->root;
    if (loader->handle != nullptr) {
        platform::freeLibrary(loader->handle);
    }
    delete loader;
}

const LiveLoader* liveLoader() {
    return g_loader;
}

}  // namespace link
}  // namespace trv
