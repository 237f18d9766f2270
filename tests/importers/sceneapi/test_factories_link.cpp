// trv::RepeatLinkFactory: settings, connection failure reporting, retries and close.
#include <gtest/gtest.h>

#include <cstdlib>

#include "RecordingApi.h"
#include "trvFactories.h"

namespace {

const char kNoLibrary[] =
    "Failed to connect. Could not get a scene api. Please check your Raydeck installation.\n";

// Counts connection attempts; connects to `target` once it is set.
class ScriptedLink : public trv::RepeatLinkFactory {
  public:
    RecordingApi* target = nullptr;
    int attempts = 0;

  protected:
    bool connect() override {
        ++attempts;
        link_.lastError = target == nullptr ? "nothing there\n" : "";
        link_.backend = target;
        link_.sceneFound = target != nullptr;
        return target != nullptr;
    }
};

}  // namespace

TEST(LinkFactory, DefaultsAndSetters) {
    trv::RepeatLinkFactory f;
    const trv::link::LinkState& s = f.state();
    EXPECT_EQ(s.retries, 20);
    EXPECT_EQ(s.retryDelayMs, 1000);
    EXPECT_EQ(s.sceneId, 1);
    EXPECT_EQ(s.minVersion, 7);
    EXPECT_EQ(s.maxVersion, 20);
    EXPECT_FALSE(s.acceptAnyInstance);
    f.setSceneName("untitled");
    f.setAcceptAnyInstance(true);
    f.setVersionRange(7, 8);
    EXPECT_EQ(s.sceneName, "untitled");
    EXPECT_TRUE(s.acceptAnyInstance);
    EXPECT_EQ(s.maxVersion, 8);
}

TEST(LinkFactory, WithoutLiveLibraryBackendIsNullWithReason) {
    // No installation to find, whatever this machine has.
    setenv("RAYDECK_REGISTRY", "/nonexistent/raydeck-test/registry.reg", 1);
    trv::RepeatLinkFactory f;
    EXPECT_EQ(f.backend(), nullptr);
    EXPECT_EQ(f.lastError(), kNoLibrary);
    // A second attempt does not prefix the reason twice.
    trv::trvSceneapi_oo builder(&f);
    EXPECT_EQ(builder.backend(), nullptr);
    EXPECT_EQ(f.lastError(), kNoLibrary);
    EXPECT_FALSE(f.sceneFound());
    f.close();  // nothing connected: harmless
}

TEST(LinkFactory, EveryBackendCallAfterAFailureTriesAgain) {
    RecordingApi api;
    ScriptedLink f;
    EXPECT_EQ(f.backend(), nullptr);
    EXPECT_EQ(f.lastError(), "Failed to connect. nothing there\n");
    f.target = &api;
    EXPECT_EQ(f.backend(), &api);
    EXPECT_TRUE(f.lastError().empty());
    EXPECT_TRUE(f.sceneFound());
    EXPECT_EQ(f.backend(), &api);  // kept once connected
    EXPECT_EQ(f.attempts, 2);
}

TEST(LinkFactory, CloseDisconnectsOnceAndSoDoesTheDestructor) {
    RecordingApi api;
    {
        ScriptedLink f;
        f.target = &api;
        trv::trvSceneapi_oo builder(&f);
        ASSERT_EQ(builder.backend(), &api);
        // The live sink gets no file header, only the banner and the version.
        EXPECT_EQ(api.calls.size(), 2u);
        f.close();
        f.close();
        EXPECT_EQ(api.disconnects, 1);
        EXPECT_EQ(f.state().backend, nullptr);
    }
    EXPECT_EQ(api.disconnects, 1);
    {
        ScriptedLink f;
        f.target = &api;
        f.backend();
    }
    EXPECT_EQ(api.disconnects, 2);
}

TEST(LinkFactory, FailingDisconnectIsReportedAsALostSceneAndStillCloses) {
    struct BrokenStream : RecordingApi {
        bool disconnect() override {
            ++disconnects;
            return false;
        }
    } api;
    ScriptedLink f;
    f.target = &api;
    ASSERT_EQ(f.backend(), &api);
    EXPECT_TRUE(f.lastError().empty());
    f.close();
    EXPECT_EQ(api.disconnects, 1);
    EXPECT_EQ(f.state().backend, nullptr);
    EXPECT_EQ(f.lastError(),
              "The connection to the renderer was lost; the scene did not arrive whole.");
}
