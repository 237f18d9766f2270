// Camera sections: field of view in degrees, the z-negated transform with its negative zeros,
// the fallback name, the attribute order and the camera's own animation after its section.
#include <gtest/gtest.h>

#include <cmath>

#include "plugins/c4d/convert/camera.h"
#include "test_animation_support.h"

namespace raydeck {
namespace {

TEST(Camera, SectionsWithDegreesTransformAndFallbackName) {
    testing::ConverterScene s(testing::documentWith(
        R"({"type": 5103, "name": "Main", "params": {"1008": 1.0471975511965976}},
           {"type": 5103, "position": [1, 2, 3]})"));
    c4d::convertCamera(s.context, s.object(0));
    c4d::convertCamera(s.context, s.object(1));
    auto cams = s.api.of("camera");
    ASSERT_EQ(cams.size(), 2u);
    EXPECT_EQ(cams[0]->name, "Main");
    EXPECT_EQ(cams[1]->name, "Camera");
    EXPECT_EQ(cams[0]->values.at("fov"), std::vector<double>{60.0f});
    EXPECT_EQ(cams[1]->values.at("fov"), std::vector<double>{0});  // no value is validated
    EXPECT_EQ(cams[0]->order, (std::vector<std::string>{"projection", "fov", "texture", "format",
                                                        "radius", "reflection map", "position",
                                                        "direction", "up", "transform"}));
    EXPECT_EQ(cams[0]->values.at("direction"), (std::vector<double>{0, 0, 1}));
    const std::vector<double> want = {1, 0, -0.0, 0, 0, 1, -0.0, 0, 0, 0, -1, 0, 0, 0, -0.0, 1};
    const std::vector<double>& m = cams[0]->values.at("transform");
    ASSERT_EQ(m.size(), 16u);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_EQ(m[i], want[i]) << i;
        EXPECT_EQ(std::signbit(m[i]), std::signbit(want[i])) << i;
    }
    const std::vector<double>& moved = cams[1]->values.at("transform");
    EXPECT_EQ(std::vector<double>(moved.begin() + 12, moved.end()),
              (std::vector<double>{1, 2, -3, 1}));
}

TEST(Camera, OwnAnimationFollowsTheSectionInCameraMode) {
    testing::ConverterScene s(testing::documentWith(
        R"({"type": 5103, "name": "Cam", "position": [0, 0, 5], "tracks": [{"id": [903, 1002],
            "params": {"904": 1}, "keys": [{"time": 0, "value": 5}, {"time": 1, "value": 15}]}]})"));
    c4d::convertCamera(s.context, s.object());
    ASSERT_EQ(s.api.blocks.size(), 2u);
    EXPECT_EQ(s.api.blocks[0].kind, "camera");
    const auto& anim = s.api.blocks[1];
    EXPECT_EQ(anim.text.at("folder"), "Cam/Camera Position");
    // Sample 3 (0.1 s): the change of z by +1 comes out flipped.
    const std::vector<double>& m = anim.values.at("matrices");
    ASSERT_GE(m.size(), 4u * 16u);
    EXPECT_NEAR(m[3 * 16 + 14], -1.0, 1e-5);
}

}  // namespace
}  // namespace raydeck
