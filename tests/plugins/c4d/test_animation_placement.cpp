// Where the animation blocks put an object or a camera: a rotation track in every rotation order
// carried through the factors that enclose its angle, keys before the start time measured from
// the start time's placement, ancestors' tracks that move a camera, flat and rounding-thin
// placements, and the camera's projection.
#include <gtest/gtest.h>

#include <cmath>

#include "plugins/c4d/convert/SceneValues.h"
#include "plugins/c4d/convert/animation.h"
#include "plugins/c4d/convert/camera.h"
#include "test_animation_support.h"

namespace raydeck {
namespace {

using host::Matrix;
using testing::ConverterScene;

Matrix fromScene(const std::vector<double>& m, size_t sample) {
    const size_t at = 16 * sample;
    Matrix out;
    out.v1 = host::Vector(m[at + 0], m[at + 1], m[at + 2]);
    out.v2 = host::Vector(m[at + 4], m[at + 5], m[at + 6]);
    out.v3 = host::Vector(m[at + 8], m[at + 9], m[at + 10]);
    out.off = host::Vector(m[at + 12], m[at + 13], m[at + 14]);
    return out;
}
Matrix flipped(const Matrix& m) {
    return c4d::affineProduct(c4d::scaleMatrix(host::Vector(1, 1, -1)), m);
}
Matrix hostPlacement(const host::Vector& p, const host::Vector& r, const host::Vector& s,
                     int order) {
    return Matrix(hostsim::composeMatrix(p.raw(), r.raw(), s.raw(), order));
}
double gap(const Matrix& a, const Matrix& b) {
    double worst = 0.0;
    const host::Vector* x[4] = {&a.off, &a.v1, &a.v2, &a.v3};
    const host::Vector* y[4] = {&b.off, &b.v1, &b.v2, &b.v3};
    for (int i = 0; i < 4; ++i) {
        worst = std::max({worst, std::fabs(x[i]->x - y[i]->x), std::fabs(x[i]->y - y[i]->y),
                          std::fabs(x[i]->z - y[i]->z)});
    }
    return worst;
}
// The single-precision clock's time at sample i, rounded to the millisecond as the host gets it.
double clockSeconds(int i) {
    float h = 0.0f;
    for (int k = 0; k < i; ++k) {
        h += 1.0f / 30.0f;
    }
    return std::floor(static_cast<double>(h) * 1000.0 + 0.5) / 1000.0;
}

std::string rotationTrack(int component, double from, double to) {
    return R"({"id": [904, )" + std::to_string(1000 + component) +
           R"(], "params": {"904": 1}, "keys": [{"time": 0, "value": )" + std::to_string(from) +
           R"(}, {"time": 1, "value": )" + std::to_string(to) + "}]}";
}

// One object or camera turning one angle from its start value by 1 radian in one second, with
// the other two angles non-zero: for every order, every angle and both modes, the written change
// applied to the group (on its right) or the section (on its left) gives the host's placement.
// Variants: an object, a camera, and an object with a non-uniform scale of its own, which does
// not commute with the turn.
TEST(AnimationPlacement, EveryRotationOrderTurnsWhereTheHostDoes) {
    const host::Vector p(1, 2, 3), r(0.3, -0.4, 0.5);
    const double angles[3] = {r.x, r.y, r.z};
    for (int variant = 0; variant < 3; ++variant) {
        const host::Vector s =
            variant == 2 ? host::Vector(2, 0.5, 1.5) : host::Vector(1.5, 1.5, 1.5);
        for (int order = 0; order < 7; ++order) {
            for (int c = 0; c < 3; ++c) {
                SCOPED_TRACE("variant " + std::to_string(variant) + " order " +
                             std::to_string(order) + " angle " + std::to_string(c));
                ConverterScene scene(testing::documentWith(
                    R"({"name": "o", "type": )" + std::string(variant == 1 ? "5103" : "5140") +
                    R"(, "position": [1, 2, 3], "rotation": [0.3, -0.4, 0.5], "rotationOrder": )" +
                    std::to_string(order) + R"(, "tracks": [)" +
                    rotationTrack(c, angles[c], angles[c] + 1) + "]}"));
                const host::BaseObject o = scene.object();
                c4d::writeObjectAnimation(scene.context, o, "o", p, r, s, order, variant == 1);
                const auto blocks = scene.api.of("animation");
                ASSERT_EQ(blocks.size(), 1u);
                const std::vector<double>& all = blocks[0]->values.at("matrices");
                const Matrix start = hostPlacement(p, r, s, order);
                for (int i = 0; i < 30; i += 5) {
                    host::Vector turned = r;
                    const double value = static_cast<float>(angles[c] + clockSeconds(i) * 1.0);
                    (c == 0 ? turned.x : c == 1 ? turned.y : turned.z) = value;
                    const Matrix want = hostPlacement(p, turned, s, order);
                    const Matrix y = fromScene(all, i);
                    const Matrix got = variant == 1 ? c4d::affineProduct(y, flipped(start))
                                                    : c4d::affineProduct(start, y);
                    EXPECT_LT(gap(got, variant == 1 ? flipped(want) : want), 1e-6)
                        << "sample " << i;
                }
            }
        }
    }
}

// x keyed 0 -> 10 over 0 - 1 s, the document starting at 0.5 s. The section
// holds 5; the block must measure from 5, not from 0, or the camera ends at 15.
TEST(AnimationPlacement, KeysBeforeTheStartTimeAreNotCountedTwice) {
    ConverterScene s(testing::documentWith(
        R"({"name": "Cam", "type": 5103, "position": [5, 0, 0], "tracks": [
            {"id": [903, 1000], "params": {"904": 1},
             "keys": [{"time": 0, "value": 0}, {"time": 1, "value": 10}]}]})",
        R"("minTime": 0.5, "time": 0.5)"));
    c4d::writeObjectAnimation(s.context, s.object(), "Cam", host::Vector(5, 0, 0), host::Vector(),
                              host::Vector(1, 1, 1), 0, true);
    const auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 1u);
    const std::vector<double>& m = blocks[0]->values.at("matrices");
    ASSERT_EQ(m.size(), 30u * 16u);
    EXPECT_NEAR(m[12], -5.0, 1e-6);            // at 0 s: 5 back from the section's 5
    EXPECT_NEAR(m[15 * 16 + 12], 0.0, 1e-6);   // at 0.5 s: the section itself
    EXPECT_NEAR(m[29 * 16 + 12], 4.67, 1e-5);  // at 0.967 s: 9.67 in all
}

TEST(AnimationPlacement, SingularMeansNegligibleNextToTheAxesOrAnInverseOutOfRange) {
    Matrix inverse;
    Matrix regular = hostPlacement({1, 2, 3}, {0.3, 0.2, 0.1}, {1e-5, 2, 3}, 0);
    ASSERT_TRUE(c4d::invertAffine(regular, inverse));
    EXPECT_LT(gap(c4d::affineProduct(regular, inverse), Matrix()), 1e-9);

    Matrix thin;  // a z axis that rounding left a hair off the x-y plane
    thin.v3 = host::Vector(1, 1, 1e-17);
    EXPECT_FALSE(c4d::invertAffine(thin, inverse));
    EXPECT_EQ(gap(inverse, Matrix()), 0.0);
    for (double scale : {0.0, 1e-310}) {
        EXPECT_FALSE(c4d::invertAffine(c4d::scaleMatrix(host::Vector(scale, 1, 1)), inverse))
            << scale;
    }
    // A determinant past the double range; one large axis alone inverts soundly.
    EXPECT_FALSE(c4d::invertAffine(c4d::scaleMatrix(host::Vector(1e160, 1e160, 1e160)), inverse));
    EXPECT_TRUE(c4d::invertAffine(c4d::scaleMatrix(host::Vector(1e160, 1, 1)), inverse));
    EXPECT_EQ(inverse.v1.x, 1e-160);
}

// A zero own scale leaves an object's turn nothing to pass through: the samples stay the
// identity, and one warning line names the object.
TEST(AnimationPlacement, AFlatObjectWritesIdentitiesAndOneWarning) {
    ConverterScene s(testing::documentWith(R"({"name": "Flat", "type": 5140,
        "scale": [0, 1, 1], "tracks": [)" + rotationTrack(1, 0, 1) +
                                           "," + rotationTrack(0, 0, 1) + "]}"));
    s.host.clearConsole();
    c4d::writeObjectAnimation(s.context, s.object(), "Flat", host::Vector(), host::Vector(),
                              host::Vector(0, 1, 1), 0, false);
    const auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 2u);
    for (const auto* b : blocks) {
        const std::vector<double>& m = b->values.at("matrices");
        for (size_t i = 0; i < m.size(); ++i) {
            EXPECT_TRUE(std::isfinite(m[i]));
            EXPECT_EQ(m[i], (i % 16) % 5 == 0 ? 1.0 : 0.0) << i;
        }
    }
    ASSERT_EQ(s.host.consoleLines().size(), 1u);
    EXPECT_EQ(s.host.consoleLines()[0].rfind("Raydeck warning: \"Flat\": 60 animation samples", 0),
              0u)
        << s.host.consoleLines()[0];
}

// A camera on a turning rig: after its own blocks come the parent's, then the grandparent's,
// all in the camera's folder; a camera under still parents writes only its own.
TEST(AnimationPlacement, ACameraCarriesItsAncestorsTracksFromTheInsideOut) {
    ConverterScene s(testing::documentWith(R"({"name": "Base", "type": 5140, "tracks": [)" +
                                           rotationTrack(0, 0, 3) + R"(],
        "children": [{"name": "Arm", "type": 5140, "position": [0, 20, 0], "tracks": [)" +
                                           rotationTrack(1, 0, 1) + R"(],
          "children": [{"name": "Still", "type": 5140,
            "children": [{"name": "Cam", "type": 5103, "tracks": [)" +
                                           rotationTrack(2, 0, 1) + "]}]}]}]}"));
    const host::BaseObject base = s.object();
    const host::BaseObject arm = base.down();
    const host::BaseObject still = arm.down();
    c4d::convertCamera(s.context, still.down(), {still, arm, base});
    std::vector<std::string> names, folders;
    for (const auto* b : s.api.of("animation")) {
        names.push_back(b->name);
        folders.push_back(b->text.at("folder"));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Rotation . Z", "Rotation . Y", "Rotation . X"}));
    EXPECT_EQ(folders, std::vector<std::string>(3, "Cam/Camera Rotation"));
}

TEST(AnimationPlacement, AParallelCameraIsWrittenOrthographicAndAPerspectiveOneKeepsItsFov) {
    ConverterScene s(testing::documentWith(
        R"({"name": "Top", "type": 5103, "params": {"1000": 3, "1008": 0.8}},
           {"name": "Persp", "type": 5103, "params": {"1000": 0, "1008": 1.0471975511965976}},
           {"name": "Plain", "type": 5103, "params": {"1008": 1.0471975511965976}})"));
    for (int i = 0; i < 3; ++i) {
        c4d::convertCamera(s.context, s.object(i));
    }
    const auto cams = s.api.of("camera");
    ASSERT_EQ(cams.size(), 3u);
    EXPECT_EQ(cams[0]->text.at("projection"), "orthographic");
    EXPECT_EQ(cams[0]->values.count("fov"), 0u);
    for (int i : {1, 2}) {
        EXPECT_EQ(cams[i]->text.at("projection"), "perspective") << i;
        ASSERT_EQ(cams[i]->values.count("fov"), 1u) << i;
        EXPECT_NEAR(cams[i]->values.at("fov").at(0), 60.0, 1e-4) << i;
    }
}

}  // namespace
}  // namespace raydeck
