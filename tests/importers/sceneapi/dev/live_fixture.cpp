// Stand-ins for the renderer's live library in the loader tests, built in three variants:
// RAYDECK_LIVE_FIXTURE_MODE 0 a working library, 1 one without the initialize export, 2 one whose
// initialize returns null.
#include <dlfcn.h>

#include "raydecklive_api.h"

#define FIXTURE_EXPORT extern "C" __attribute__((visibility("default")))

// Where this copy of the library was loaded from, so a test can tell copies apart.
FIXTURE_EXPORT const char* raydeck_fixture_path() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&raydeck_fixture_path), &info) == 0) {
        return "";
    }
    return info.dli_fname;
}

#if RAYDECK_LIVE_FIXTURE_MODE != 1

#include "tests/importers/sceneapi/RecordingApi.h"

namespace {

int* g_deletedRoots = nullptr;

class FixtureQuery : public QueryApi {
  public:
    const char* instanceList() override { return "<instances/>"; }
    bool selectInstance(std::int64_t) override { return false; }
    void reserved2() override {}
    bool releaseInstance() override { return true; }
    void reserved4() override {}
    void reserved5() override {}
    const char* sceneInfo() override { return nullptr; }
};

class FixtureRoot : public LiveRoot {
  public:
    ~FixtureRoot() override {
        if (g_deletedRoots != nullptr) {
            ++*g_deletedRoots;
        }
    }
    trvScene_api* sceneApi() override { return &scene_; }
    QueryApi* queryApi() override { return &query_; }

  private:
    RecordingApi scene_;
    FixtureQuery query_;
};

}  // namespace

// The test's counter of deleted roots.
FIXTURE_EXPORT void raydeck_fixture_count_deletions(int* counter) {
    g_deletedRoots = counter;
}

FIXTURE_EXPORT LiveRoot* raydeck_live_initialize() {
#if RAYDECK_LIVE_FIXTURE_MODE == 2
    return nullptr;
#else
    return new FixtureRoot();
#endif
}

#endif
