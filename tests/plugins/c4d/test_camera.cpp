// Camera sections: field of view in degrees, the z-negated transform with its negative zeros,
// the fallback name, the node's attribute order and the camera's own animation.
#include <gtest/gtest.h>

#include <cmath>

#include "plugins/c4d/convert/camera.h"
#include "test_animation_support.h"

namespace raydeck {
namespace {

using testing::ConverterScene;
using testing::documentWith;

std::string camera(const std::string& fields) {
    return R"({"type": 5103, )" + fields + "}";
}

TEST(Camera, FieldOfViewInDegreesAndAttributeOrder) {
    ConverterScene s(
        documentWith(camera(R"("name": "Main", "params": {"1008": 1.0471975511965976})")));
    c4d::convertCamera(s.context, s.object());
    auto cams = s.api.of("camera");
    ASSERT_EQ(cams.size(), 1u);
    EXPECT_EQ(cams[0]->name, "Main");
    EXPECT_EQ(cams[0]->values("fov"), std::vector<double>{60.0f});
    EXPECT_EQ(cams[0]->values("position"), (std::vector<double>{0, 0, 0}));
    EXPECT_EQ(cams[0]->values("direction"), (std::vector<double>{0, 0, 1}));
    EXPECT_EQ(cams[0]->values("up"), (std::vector<double>{0, 1, 0}));
    std::vector<std::string> order;
    for (const auto& a : cams[0]->attrs) {
        order.push_back(a.name);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"projection", "fov", "texture", "format", "radius",
                                               "reflection map", "position", "direction", "up",
                                               "transform"}));
    EXPECT_EQ(cams[0]->find("projection")->text, "perspective");
    EXPECT_EQ(s.api.calls.back(), "endCamera");
}

TEST(Camera, TransformNegatesZIncludingZeros) {
    ConverterScene s(documentWith(camera(R"("name": "A")") + "," +
                                  camera(R"("name": "B", "position": [1, 2, 3])")));
    c4d::convertCamera(s.context, s.object(0));
    c4d::convertCamera(s.context, s.object(1));
    auto cams = s.api.of("camera");
    ASSERT_EQ(cams.size(), 2u);
    const std::vector<double>& a = cams[0]->values("transform");
    const std::vector<double> want = {1, 0, -0.0, 0, 0, 1, -0.0, 0, 0, 0, -1, 0, 0, 0, -0.0, 1};
    ASSERT_EQ(a.size(), 16u);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(a[i], want[i]) << i;
        EXPECT_EQ(std::signbit(a[i]), std::signbit(want[i])) << i;
    }
    const std::vector<double>& b = cams[1]->values("transform");
    EXPECT_EQ(std::vector<double>(b.begin() + 12, b.end()), (std::vector<double>{1, 2, -3, 1}));
}

TEST(Camera, UnnamedCameraIsCalledCamera) {
    ConverterScene s(documentWith(camera(R"("params": {"1008": 0})")));
    c4d::convertCamera(s.context, s.object());
    auto cams = s.api.of("camera");
    ASSERT_EQ(cams.size(), 1u);
    EXPECT_EQ(cams[0]->name, "Camera");
    EXPECT_EQ(cams[0]->values("fov"), std::vector<double>{0});  // written unchanged
}

TEST(Camera, OwnAnimationFollowsTheSectionInCameraMode) {
    ConverterScene s(documentWith(camera(
        R"("name": "Cam", "position": [0, 0, 5], "tracks": [{"id": [903, 1002], "params": {"904": 1},
           "keys": [{"time": 0, "value": 5}, {"time": 1, "value": 15}]}])")));
    c4d::convertCamera(s.context, s.object());
    ASSERT_EQ(s.api.blocks.size(), 2u);
    EXPECT_EQ(s.api.blocks[0].kind, "camera");
    const auto& anim = s.api.blocks[1];
    EXPECT_EQ(anim.kind, "animation");
    EXPECT_EQ(anim.find("folder")->text, "Cam/Camera Position");
    // Sample 3 (h = 0.1 s): the change of z by +1 comes out flipped.
    const std::vector<double>& m = anim.values("matrices");
    ASSERT_GE(m.size(), 4u * 16u);
    EXPECT_NEAR(m[3 * 16 + 14], -1.0, 1e-5);
    EXPECT_NEAR(m[3 * 16 + 10], 1.0, 1e-12);
}

}  // namespace
}  // namespace raydeck
