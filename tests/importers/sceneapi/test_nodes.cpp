// Import options module and camera node call sequences over a recording back end.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "AttachedBuilder.h"
#include "trvNodes.h"

using Calls = std::vector<std::string>;

namespace {

bool contains(const Calls& calls, const std::string& prefix) {
    return std::any_of(calls.begin(), calls.end(),
                       [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
}

// The environment shader every camera writes between its field of view and its placement, handle
// #1 being the first anonymous shader.
const Calls kEnvironment = {"beginShader (null) trv_envmap",
                            "attribute texture string startup.hdr",
                            "attribute format int 3",
                            "attribute radius float 25",
                            "currentShader",
                            "endShader",
                            "attribute reflection map shader_ref #1"};

// The calls inside the camera block named `name`, in their order; empty unless the calls are that
// one block. The order is that of the exported lines.
Calls cameraBlock(const RecordingApi& api, const std::string& name) {
    const std::string open = "beginCamera " + name;
    if (api.calls.empty() || api.calls.front() != open || api.calls.back() != "endCamera") {
        return {};
    }
    return api.block(open, "endCamera");
}

// `head`, the environment shader, then `tail`.
Calls withEnvironment(const Calls& head, const Calls& tail) {
    Calls all = head;
    all.insert(all.end(), kEnvironment.begin(), kEnvironment.end());
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
}

}  // namespace

TEST(ImportOptions, DefaultsWriteElevenOptionsInOrder) {
    Attached a;
    trv::DefaultRTModule module;
    EXPECT_TRUE(a.builder.apply(module));
    EXPECT_EQ(
        a.api.calls,
        (Calls{"beginLoad trvrtopt.so", "attribute import_mode bool 1",
               "attribute import_merge_groups bool 1", "attribute import_merge_objects bool 1",
               "attribute import_up_vector int 0", "attribute meter_scale float 1",
               "attribute import_keep_original bool 0", "attribute import_center_geometry bool 1",
               "attribute import_snap_to_ground bool 0", "attribute import_adjust_camera bool 1",
               "attribute import_adjust_environment bool 1", "attribute ext bool 1", "endLoad"}));
}

TEST(ImportOptions, ExportSettingsAndUseCamera) {
    Attached a;
    trv::DefaultRTModule module;
    module.setImportMode(true);
    module.setMergeGroups(false);
    module.setMergeObjects(false);
    module.setAdjustEnvironment(false);
    module.setAdjustCamera(true);
    module.setKeepOriginal(true);
    module.setUpVector(1);
    module.setMeterScale(100.0f);
    module.setSnapToGround(true);
    module.setCenterGeometry(false);
    module.setExt(false);
    module.useCamera = "cam";
    a.builder.apply(module);
    EXPECT_EQ(
        a.api.calls,
        (Calls{"beginLoad trvrtopt.so", "attribute import_mode bool 1",
               "attribute import_merge_groups bool 0", "attribute import_merge_objects bool 0",
               "attribute import_up_vector int 1", "attribute meter_scale float 100",
               "attribute import_keep_original bool 1", "attribute import_center_geometry bool 0",
               "attribute import_snap_to_ground bool 1", "attribute import_adjust_camera bool 1",
               "attribute import_adjust_environment bool 0",
               "attribute import_use_camera string cam", "attribute ext bool 0", "endLoad"}));
}

TEST(Camera, DefaultCamera) {
    Attached a;
    trv::LightCamera camera("main");
    EXPECT_TRUE(a.builder.apply(camera));
    EXPECT_EQ(cameraBlock(a.api, "main"),
              withEnvironment({"attribute projection string perspective", "attribute fov float 60"},
                              {"attribute position vec3d 0,0,0", "attribute direction vec3d 0,0,-1",
                               "attribute up vec3d 0,1,0"}));
    EXPECT_FALSE(contains(a.api.calls, "attribute look_at"));
    EXPECT_FALSE(contains(a.api.calls, "attribute clipping"));
    EXPECT_FALSE(contains(a.api.calls, "transform"));
}

TEST(Camera, ConverterSettersLookAtClippingAndTransform) {
    Attached a;
    trv::LightCamera camera("c");
    camera.setPosition(1, 2, 3);
    camera.setDirection(0, 0, 1);
    camera.setUp(0, 1, 0);
    camera.setFov(45.5f);
    camera.hasLookAt = true;
    camera.lookAt = {4, 5, 6};
    camera.clipNear = 0.5f;
    camera.clipFar = 1000.0f;
    trv::matrix m = {};
    m.m[0] = m.m[5] = m.m[10] = m.m[15] = 1;
    camera.setTransform(m);
    a.builder.apply(camera);
    EXPECT_EQ(
        cameraBlock(a.api, "c"),
        withEnvironment(
            {"attribute projection string perspective", "attribute fov float 45.5"},
            {"attribute position vec3d 1,2,3", "attribute direction vec3d 0,0,1",
             "attribute look_at vec3d 4,5,6", "attribute up vec3d 0,1,0",
             "attribute clipping vec2f 0.5,1000", "transform 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1"}));
}

TEST(Camera, ClippingNeedsPositiveIncreasingDistances) {
    const float cases[][2] = {{0.1f, 0.1f}, {0.0f, 10.0f}, {5.0f, 1.0f}, {-1.0f, -1.0f}};
    for (const auto& c : cases) {
        Attached a;
        trv::LightCamera camera("c");
        camera.clipNear = c[0];
        camera.clipFar = c[1];
        a.builder.apply(camera);
        EXPECT_FALSE(contains(a.api.calls, "attribute clipping")) << c[0] << " " << c[1];
    }
}

TEST(Camera, FieldOfViewModes) {
    struct Case {
        const char* name;
        int projection;
        int fovMode;
        const char* written;  // "" for none
        const char* absent;
    };
    for (const Case& c :
         {Case{"ortho", 1, 1, "attribute projection string orthographic", "attribute fov"},
          Case{"four", 0, 1, "attribute fov4 float4 10,0,0,40", "attribute fov "},
          Case{"none", 0, 2, "", "attribute fov"}}) {
        SCOPED_TRACE(c.name);
        Attached a;
        trv::LightCamera camera(c.name);
        camera.setProjection(c.projection);
        camera.fovMode = c.fovMode;
        EXPECT_EQ(camera.fov4[0], 0.0f);  // zeroed, never garbage
        camera.fov4[0] = 10;
        camera.fov4[3] = 40;
        a.builder.apply(camera);
        if (*c.written != '\0') {
            EXPECT_TRUE(a.api.called(c.written));
        }
        EXPECT_FALSE(contains(a.api.calls, c.absent));
    }
}

TEST(Camera, ChildReplacesTheTransform) {
    struct Marker : trv::LightNode {
        bool emit(trv::trvSceneapi_oo& b) override {
            b.beginGroup("child");
            b.endGroup();
            return true;
        }
    };
    Attached a;
    trv::LightCamera camera("c");
    camera.setTransform(trv::matrix{});
    camera.child = std::make_shared<Marker>();
    a.builder.apply(camera);
    EXPECT_FALSE(contains(a.api.calls, "transform"));
    const Calls tail(a.api.calls.end() - 3, a.api.calls.end());
    EXPECT_EQ(tail, (Calls{"beginGroup child plain", "endGroup", "endCamera"}));
}

TEST(Nodes, EmitReportsWhetherTheBlockWasAccepted) {
    Attached a;
    a.api.acceptSections = false;
    trv::DefaultRTModule module;
    trv::LightCamera camera("c");
    EXPECT_FALSE(a.builder.apply(module));
    EXPECT_FALSE(a.builder.apply(camera));
}
