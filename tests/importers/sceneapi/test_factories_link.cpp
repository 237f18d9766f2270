// trv::RepeatLinkFactory: settings, connection failure reporting, retries and close.
#include <gtest/gtest.h>

#include "RecordingApi.h"
#include "trvFactories.h"

namespace {

// Counts connection attempts and connects to a recording back end when told to.
class ScriptedLink : public trv::RepeatLinkFactory {
  public:
    RecordingApi api;
    bool succeed = false;
    int attempts = 0;
    // The recorder dies before the base destructor would disconnect it.
    ~ScriptedLink() override { close(); }

  protected:
    bool connect() override {
        ++attempts;
        if (!succeed) {
            link_.lastError = "nothing there\n";
            return false;
        }
        link_.backend = &api;
        link_.sceneFound = true;
        return true;
    }
};

}  // namespace

TEST(LinkFactory, DefaultsAndSetters) {
    trv::RepeatLinkFactory f;
    const trv::link::LinkState& s = f.state();
    EXPECT_EQ(s.retries, 20);
    EXPECT_EQ(s.retryDelayMs, 1000);
    EXPECT_EQ(s.minVersion, 7);
    EXPECT_EQ(s.maxVersion, 20);
    EXPECT_EQ(s.sceneId, 1);
    EXPECT_EQ(s.backend, nullptr);
    EXPECT_TRUE(s.sceneName.empty());
    EXPECT_FALSE(s.acceptAnyInstance);
    EXPECT_FALSE(f.sceneFound());
    EXPECT_TRUE(f.lastError().empty());

    f.setSceneName("untitled");
    f.setAcceptAnyInstance(true);
    f.setVersionRange(7, 8);
    EXPECT_EQ(s.sceneName, "untitled");
    EXPECT_TRUE(s.acceptAnyInstance);
    EXPECT_EQ(s.minVersion, 7);
    EXPECT_EQ(s.maxVersion, 8);
}

TEST(LinkFactory, WithoutLiveLibraryBackendIsNullWithReason) {
    trv::RepeatLinkFactory f;
    EXPECT_EQ(f.backend(), nullptr);
    EXPECT_EQ(f.lastError(),
              "Failed to connect. Could not get a scene api. Please check your Raydeck "
              "installation.\n");
    // The reason is not prefixed twice by a second attempt.
    EXPECT_EQ(f.backend(), nullptr);
    EXPECT_EQ(f.lastError(),
              "Failed to connect. Could not get a scene api. Please check your Raydeck "
              "installation.\n");
    f.close();  // nothing connected: harmless
    trv::trvSceneapi_oo builder(&f);
    EXPECT_EQ(builder.backend(), nullptr);
}

TEST(LinkFactory, EveryBackendCallAfterAFailureTriesAgain) {
    ScriptedLink f;
    EXPECT_EQ(f.backend(), nullptr);
    EXPECT_EQ(f.lastError(), "Failed to connect. nothing there\n");
    EXPECT_EQ(f.attempts, 1);
    f.succeed = true;
    EXPECT_EQ(f.backend(), &f.api);
    EXPECT_TRUE(f.lastError().empty());
    EXPECT_TRUE(f.sceneFound());
    EXPECT_EQ(f.attempts, 2);
    // Once connected the back end is kept.
    EXPECT_EQ(f.backend(), &f.api);
    EXPECT_EQ(f.attempts, 2);
}

TEST(LinkFactory, CloseDisconnectsOnce) {
    ScriptedLink f;
    f.succeed = true;
    {
        trv::trvSceneapi_oo builder(&f);
        ASSERT_EQ(builder.backend(), &f.api);
        // The live sink gets no file header, only the banner and the version.
        EXPECT_EQ(f.api.calls.size(), 2u);
    }
    f.close();
    f.close();
    EXPECT_EQ(f.api.disconnects, 1);
    EXPECT_EQ(f.state().backend, nullptr);
}

TEST(LinkFactory, DestructorDisconnects) {
    RecordingApi api;
    {
        struct Connected : trv::RepeatLinkFactory {
            RecordingApi* target;
            explicit Connected(RecordingApi* t) : target(t) {}
            bool connect() override {
                link_.backend = target;
                return true;
            }
        } f(&api);
        ASSERT_EQ(f.backend(), &api);
    }
    EXPECT_EQ(api.disconnects, 1);
}
