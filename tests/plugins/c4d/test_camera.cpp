// Camera sections: field of view in degrees, the z-negated transform with its negative zeros,
// the fallback name, the attribute order and the camera's own animation after its section; a
// camera inside a rig placed and animated in the document's space, and hosts without the global
// matrix.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "plugins/c4d/convert/animation.h"
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

// ---- cameras inside rigs ------------------------------------------------------------------

using host::Matrix;

Matrix fromScene(const std::vector<double>& m, size_t at = 0) {
    Matrix out;
    out.v1 = host::Vector(m[at + 0], m[at + 1], m[at + 2]);
    out.v2 = host::Vector(m[at + 4], m[at + 5], m[at + 6]);
    out.v3 = host::Vector(m[at + 8], m[at + 9], m[at + 10]);
    out.off = host::Vector(m[at + 12], m[at + 13], m[at + 14]);
    return out;
}
Matrix compose(const RdHostVector& p, const RdHostVector& r, const RdHostVector& s) {
    return Matrix(hostsim::composeMatrix(p, r, s, 0));
}
Matrix flipped(const Matrix& m) {
    return c4d::affineProduct(c4d::scaleMatrix(host::Vector(1, 1, -1)), m);
}
void expectNear(const Matrix& got, const Matrix& want, double tolerance) {
    const host::Vector* g[4] = {&got.off, &got.v1, &got.v2, &got.v3};
    const host::Vector* w[4] = {&want.off, &want.v1, &want.v2, &want.v3};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(g[i]->x, w[i]->x, tolerance) << "vector " << i;
        EXPECT_NEAR(g[i]->y, w[i]->y, tolerance) << "vector " << i;
        EXPECT_NEAR(g[i]->z, w[i]->z, tolerance) << "vector " << i;
    }
}

// Value of a linear 0 s -> 1 s track at sample i of the single-precision clock, the time rounded
// to the millisecond as the host gets it.
double rampAt(int i, double from, double to) {
    float h = 0.0f;
    for (int k = 0; k < i; ++k) {
        h += 1.0f / 30.0f;
    }
    const double t = std::floor(static_cast<double>(h) * 1000.0 + 0.5) / 1000.0;
    return static_cast<float>(from + (to - from) * std::min(t, 1.0));
}

// A rig moved, turned and scaled, holding a camera with a position x and a rotation y track.
const char kRig[] = R"({"name": "Rig", "type": 5140, "position": [1000, 20, -30],
    "rotation": [0.4, 0.7, -0.2], "scale": [2, 2, 2],
    "children": [{"name": "Cam", "type": 5103, "position": [3, 4, -500], "rotation": [0, 0.3, 0],
      "tracks": [
        {"id": [903, 1000], "params": {"904": 1},
         "keys": [{"time": 0, "value": 3}, {"time": 1, "value": 13}]},
        {"id": [904, 1001], "params": {"904": 1},
         "keys": [{"time": 0, "value": 0.3}, {"time": 1, "value": 0.8}]}]}]})";

TEST(CameraInRig, SectionAndAnimationPlaceTheCameraWhereTheRigHoldsIt) {
    testing::ConverterScene s(testing::documentWith(kRig));
    const host::BaseObject rig = s.object();
    c4d::convertCamera(s.context, rig.down(), rig);

    const Matrix P = compose({1000, 20, -30}, {0.4, 0.7, -0.2}, {2, 2, 2});
    auto local = [](double x, double angle) {
        return compose({x, 4, -500}, {0, angle, 0}, {1, 1, 1});
    };
    const auto cams = s.api.of("camera");
    ASSERT_EQ(cams.size(), 1u);
    const Matrix section = fromScene(cams[0]->values.at("transform"));
    expectNear(section, flipped(c4d::affineProduct(P, local(3, 0.3))), 1e-9);

    // Each sampled change M, applied to the section, gives the camera where the rig holds it
    // with the track's value at that time.
    const auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0]->text.at("folder"), "Cam/Camera Rotation");
    EXPECT_EQ(blocks[1]->text.at("folder"), "Cam/Camera Position");
    for (int b = 0; b < 2; ++b) {
        const std::vector<double>& all = blocks[b]->values.at("matrices");
        ASSERT_EQ(all.size(), 30u * 16u);
        for (int i = 0; i < 30; i += 7) {
            SCOPED_TRACE("block " + std::to_string(b) + " sample " + std::to_string(i));
            const Matrix want = flipped(c4d::affineProduct(
                P, b == 0 ? local(3, rampAt(i, 0.3, 0.8)) : local(rampAt(i, 3, 13), 0.3)));
            expectNear(c4d::affineProduct(fromScene(all, 16 * i), section), want, 1e-4);
        }
    }
}

// The full table against one cut before the global matrix: a top-level camera writes the same
// calls either way, and a camera in a rig falls back to its local placement.
TEST(CameraInRig, HostsWithoutTheGlobalMatrixGetTheLocalOneAndTopLevelCamerasAreUnchanged) {
    // Negative zeros in the matrix must come out as they are (negated: positive zeros).
    const std::string topLevel =
        R"({"name": "Top", "type": 5103, "position": [1, 2, 3], "rotation": [0.1, 0.2, 0.3],
            "matrix": {"offset": [1, 2, -0.0], "x": [1, -0.0, -0.0], "y": [0, 1, -0.0],
                       "z": [-0.0, 0, 1]},
            "tracks": [{"id": [903, 1002], "params": {"904": 1},
                        "keys": [{"time": 0, "value": 3}, {"time": 1, "value": 5}]}]})";
    std::vector<std::string> calls[2];
    std::vector<std::map<std::string, std::vector<double>>> values[2];
    std::vector<double> rigged[2];
    for (int cut = 0; cut < 2; ++cut) {
        testing::ConverterScene s(testing::documentWith(topLevel + "," + kRig));
        RdHostInterface table = *s.host.table();
        if (cut) {
            table.structSize = offsetof(RdHostInterface, objectGetGlobalMatrix);
        }
        host::setHostInterface(&table);
        c4d::convertCamera(s.context, s.object(0));
        calls[cut] = s.api.calls;
        for (const auto& block : s.api.blocks) {
            values[cut].push_back(block.values);
        }
        c4d::convertCamera(s.context, s.object(1).down(), s.object(1));
        rigged[cut] = s.api.of("camera").back()->values.at("transform");
    }
    EXPECT_EQ(calls[0], calls[1]);
    EXPECT_EQ(values[0], values[1]);
    const std::vector<double>& top = values[0].at(0).at("transform");
    for (size_t i : {2u, 6u, 14u}) {
        EXPECT_FALSE(std::signbit(top[i])) << i;
    }
    EXPECT_TRUE(std::signbit(top[1])) << "x axis y";
    EXPECT_EQ(std::vector<double>(rigged[1].begin() + 12, rigged[1].end()),
              (std::vector<double>{3, 4, 500, 1}));
    EXPECT_NE(rigged[0], rigged[1]);
}

}  // namespace
}  // namespace raydeck
