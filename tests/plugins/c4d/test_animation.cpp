// Animation export: the sampled clock, time stamps and placed changes of position, rotation and
// scale tracks, the block order, and tracks that must not break the export.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

#include "plugins/c4d/convert/animation.h"
#include "test_animation_support.h"

namespace raydeck {
namespace {

using testing::CaptureApi;
using testing::ConverterScene;
using testing::documentWith;

// An object named Cube with the given tracks (JSON) and placement fields.
std::string cube(const std::string& tracks, const std::string& placement = "") {
    return documentWith(R"({"name": "Cube", "type": 5140, )" + placement +
                        (placement.empty() ? "" : ", ") + R"("tracks": [)" + tracks + "]}");
}

std::string track(int first, int second, const std::string& keys, int enabled = 1,
                  const std::string& name = "") {
    return R"({"id": [)" + std::to_string(first) + ", " + std::to_string(second) +
           R"(], "params": {"904": )" + std::to_string(enabled) + "}, " +
           (name.empty() ? "" : R"("name": ")" + name + R"(", )") + R"("keys": )" + keys + "}";
}

const char kZeroToTen[] = R"([{"time": 0, "value": 0}, {"time": 1, "value": 10}])";

// The object walk's three calls: scale, rotation, position.
void exportObject(ConverterScene& s, const host::BaseObject& o, const std::string& name,
                  bool camera = false) {
    c4d::TrackList scale, rotation, position;
    for (host::CTrack t = o.firstTrack(); t; t = t.next()) {
        c4d::collectTrack(s.context, t, scale, rotation, position);
    }
    const std::string prefix = camera ? "Camera " : "";
    c4d::writeAnimation(s.context, name, scale, prefix + "Scale", o.position(), o.rotation(),
                        o.scale(), o.rotationOrder(), camera);
    c4d::writeAnimation(s.context, name, rotation, prefix + "Rotation", o.position(), o.rotation(),
                        o.scale(), o.rotationOrder(), camera);
    c4d::writeAnimation(s.context, name, position, prefix + "Position", o.position(), o.rotation(),
                        o.scale(), o.rotationOrder(), camera);
}

// The value the host's linear track 0 -> 10 over one second gives at clock time h (ms-rounded).
double zeroToTenAt(float h) {
    return static_cast<float>(10.0 * std::floor(static_cast<double>(h) * 1000.0 + 0.5) / 1000.0);
}

void expectMatrix(const std::vector<double>& all, size_t i, const double (&want)[16],
                  double tolerance = 1e-9) {
    ASSERT_GE(all.size(), 16 * (i + 1));
    for (size_t k = 0; k < 16; ++k) {
        EXPECT_NEAR(all[16 * i + k], want[k], tolerance) << "matrix " << i << " element " << k;
    }
}

TEST(Animation, PositionTrackOverOneSecondGivesThirtyTranslations) {
    ConverterScene s(cube(track(903, 1000, kZeroToTen, 1, "Position . X")));
    exportObject(s, s.object(), "Cube");
    auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 1u);
    const CaptureApi::Block& b = *blocks[0];
    EXPECT_EQ(b.name, "Position . X");
    EXPECT_EQ(b.values("start_time"), std::vector<double>{0});
    EXPECT_EQ(b.values("duration"), std::vector<double>{1});
    EXPECT_EQ(b.find("folder")->text, "Cube/Position");
    const std::vector<double>& stamps = b.values("timestamps");
    ASSERT_EQ(stamps.size(), 30u);
    EXPECT_EQ(std::vector<double>(stamps.begin(), stamps.begin() + 5),
              (std::vector<double>{0, 33, 66, 100, 133}));
    EXPECT_EQ(stamps.back(), 966);
    const std::vector<double>& m = b.values("matrices");
    ASSERT_EQ(m.size(), 30u * 16u);
    float h = 0.0f;
    for (size_t i = 0; i < 30; ++i, h += 1.0f / 30.0f) {
        const double v = zeroToTenAt(h);
        const double want[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, v, 0, 0, 1};
        expectMatrix(m, i, want);
    }
    EXPECT_EQ(m[12], 0.0);  // the first matrix is the identity
}

TEST(Animation, CameraModeFlipsZOfThePlacedChange) {
    ConverterScene s(cube(track(903, 1000, kZeroToTen) + "," + track(903, 1002, kZeroToTen),
                          R"("position": [1, 2, 3])"));
    exportObject(s, s.object(), "Cam", true);
    auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 2u);
    const CaptureApi::Block* x = blocks[0]->name == "Position . X" ? blocks[0] : blocks[1];
    const CaptureApi::Block* z = blocks[0]->name == "Position . Z" ? blocks[0] : blocks[1];
    EXPECT_EQ(x->find("folder")->text, "Cam/Camera Position");
    float h = 0.0f;
    for (int i = 0; i < 15; ++i) {
        h += 1.0f / 30.0f;
    }
    const double v = zeroToTenAt(h);
    const double wantX[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, v, 0, 0, 1};
    const double wantZ[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -v, 1};
    expectMatrix(x->values("matrices"), 15, wantX, 1e-6);
    expectMatrix(z->values("matrices"), 15, wantZ, 1e-6);
}

TEST(Animation, ObjectModePlacesThePositionChangeInsideTheObjectsScale) {
    // S^-1 . translation(v) . S: a uniform scale of 2 halves the change.
    ConverterScene s(
        cube(track(903, 1000, kZeroToTen), R"("position": [5, 0, 0], "scale": [2, 2, 2])"));
    exportObject(s, s.object(), "Cube");
    auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 1u);
    const std::vector<double>& m = blocks[0]->values("matrices");
    const double first[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    expectMatrix(m, 0, first);
    const double v = zeroToTenAt(3.0f / 30.0f);
    const double want[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, v / 2, 0, 0, 1};
    expectMatrix(m, 3, want, 1e-6);
}

TEST(Animation, LateFirstKeyCountsFromItsOwnTime) {
    ConverterScene s(
        cube(track(903, 1001, R"([{"time": 2.5, "value": 0}, {"time": 3.5, "value": 1}])")));
    exportObject(s, s.object(), "Cube");
    auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0]->values("start_time"), std::vector<double>{2});
    const std::vector<double>& stamps = blocks[0]->values("timestamps");
    ASSERT_GE(stamps.size(), 3u);
    EXPECT_EQ(stamps[0], 0);
    EXPECT_EQ(stamps[1], 33);
    EXPECT_EQ(stamps[2], 66);
}

TEST(Animation, TracksWithoutDurationOrDisabledWriteNothing) {
    const std::string single = track(903, 1000, R"([{"time": 1, "value": 3}])");
    const std::string sameTime =
        track(904, 1000, R"([{"time": 1, "value": 3}, {"time": 1, "value": 4}])");
    const std::string disabled = track(905, 1000, kZeroToTen, 0);
    const std::string noKeys = R"({"id": [903, 1001], "params": {"904": 1}, "keys": []})";
    ConverterScene s(cube(single + "," + sameTime + "," + disabled + "," + noKeys));
    exportObject(s, s.object(), "Cube");
    EXPECT_TRUE(s.api.calls.empty());
}

TEST(Animation, RotationOrderSequencesTheBlocksAndTheyAreWrittenLastFirst) {
    const std::string tracks = track(904, 1000, kZeroToTen, 1, "x") + "," +
                               track(904, 1001, kZeroToTen, 1, "y") + "," +
                               track(904, 1002, kZeroToTen, 1, "z");
    auto namesFor = [&](int order) {
        ConverterScene s(cube(tracks, R"("rotationOrder": )" + std::to_string(order)));
        exportObject(s, s.object(), "Cube");
        std::string names;
        for (const auto* b : s.api.of("animation")) {
            names += b->name;
        }
        return names;
    };
    EXPECT_EQ(namesFor(2), "zyx");
    EXPECT_EQ(namesFor(0), "yxz");
    EXPECT_EQ(namesFor(4), "xzy");
}

TEST(Animation, ScaleTrackKeepsTheOtherComponentsAtOne) {
    ConverterScene s(
        cube(track(905, 1000, R"([{"time": 0, "value": 1}, {"time": 1, "value": 3}])")));
    exportObject(s, s.object(), "Cube");
    auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0]->find("folder")->text, "Cube/Scale");
    // X0 = scale(1, 1, 1)^-1, so sample 15 is scale(v, 1, 1).
    float h = 0.0f;
    for (int i = 0; i < 15; ++i) {
        h += 1.0f / 30.0f;
    }
    const double v = static_cast<float>(1.0 + 2.0 * std::floor(h * 1000.0 + 0.5) / 1000.0);
    const double want[16] = {v, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    expectMatrix(blocks[0]->values("matrices"), 15, want, 1e-6);
}

TEST(Animation, UnnamedTrackIsNamedAfterItsParameterAndOddComponentsAreSkipped) {
    ConverterScene s(cube(track(904, 1001, kZeroToTen) + "," + track(903, 1003, kZeroToTen)));
    exportObject(s, s.object(), "Cube");
    auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0]->name, "Rotation . Y");
}

TEST(Animation, LongObjectNameKeepsTheWholeFolder) {
    const std::string name(2000, 'n');
    ConverterScene s(cube(track(903, 1000, kZeroToTen)));
    exportObject(s, s.object(), name);
    auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0]->find("folder")->text, name + "/Position");
}

// Independent rotation matrices: row-major 3x3 products of the right-handed axis rotations.
using M3 = std::array<std::array<double, 3>, 3>;
M3 rot(char axis, double t) {
    const double c = std::cos(t), s = std::sin(t);
    if (axis == 'x')
        return M3{{{1, 0, 0}, {0, c, -s}, {0, s, c}}};
    if (axis == 'y')
        return M3{{{c, 0, s}, {0, 1, 0}, {-s, 0, c}}};
    return M3{{{c, -s, 0}, {s, c, 0}, {0, 0, 1}}};
}
M3 mul(const M3& a, const M3& b) {
    M3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                r[i][j] += a[i][k] * b[k][j];
    return r;
}

TEST(Animation, EachRotationOrderMatchesItsFactorSequence) {
    const double ax = 0.3, ay = -0.7, az = 1.1;
    const M3 X = rot('x', -ax), Y = rot('y', -ay), Z = rot('z', -az);
    const M3 want[7] = {mul(mul(Z, X), Y),
                        mul(mul(X, Z), Y),
                        mul(mul(X, Y), Z),
                        mul(mul(Y, X), Z),
                        mul(mul(Y, Z), X),
                        mul(mul(Z, Y), X),
                        mul(mul(rot('y', -ax), rot('x', -ay)), Z)};
    for (int order = 0; order < 7; ++order) {
        const host::Matrix m = c4d::rotationMatrix(host::Vector(ax, ay, az), order);
        const host::Vector cols[3] = {m.v1, m.v2, m.v3};
        for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(cols[j].x, want[order][0][j], 1e-12) << "order " << order;
            EXPECT_NEAR(cols[j].y, want[order][1][j], 1e-12) << "order " << order;
            EXPECT_NEAR(cols[j].z, want[order][2][j], 1e-12) << "order " << order;
        }
        const host::Matrix id = c4d::rotationMatrix(host::Vector(0, 0, 0), order);
        EXPECT_EQ(id.v1.x * id.v2.y * id.v3.z, 1.0);
    }
}

TEST(Animation, AffineInverseOfSingularMatrixIsIdentity) {
    host::Matrix m;
    m.off = host::Vector(1, 2, 3);
    m.v3 = host::Vector(0, 0, 0);
    const host::Matrix inv = c4d::affineInverse(m);
    EXPECT_EQ(inv.off.x, 0.0);
    EXPECT_EQ(inv.v3.z, 1.0);
    m.v3 = host::Vector(0, 0, 2);
    const host::Matrix back = c4d::affineProduct(m, c4d::affineInverse(m));
    EXPECT_NEAR(back.off.x, 0.0, 1e-12);
    EXPECT_NEAR(back.off.z, 0.0, 1e-12);
    EXPECT_NEAR(back.v3.z, 1.0, 1e-12);
}

// --- bad input -----------------------------------------------------------------------------

TEST(AnimationBadInput, KeysOutOfTimeOrderWriteNothing) {
    ConverterScene s(cube(track(903, 1000, kZeroToTen)));
    auto& keys = s.doc->objects[0]->tracks[0]->curve.keys;
    std::swap(keys.front(), keys.back());  // the host sorts; force the disorder
    exportObject(s, s.object(), "Cube");
    EXPECT_TRUE(s.api.of("animation").empty());
}

TEST(AnimationBadInput, NanKeyValueStillWritesEverySample) {
    ConverterScene s(cube(track(903, 1000, kZeroToTen)));
    s.doc->objects[0]->tracks[0]->curve.keys.back().value =
        std::numeric_limits<double>::quiet_NaN();
    exportObject(s, s.object(), "Cube");
    auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0]->values("timestamps").size(), 30u);
}

TEST(AnimationBadInput, ZeroDenominatorCountsAsTimeZero) {
    ConverterScene s(cube(track(
        903, 1000,
        R"([{"time": {"num": 7, "den": 0}, "value": 0}, {"time": {"num": 2, "den": 2}, "value": 1}])")));
    exportObject(s, s.object(), "Cube");
    auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0]->values("timestamps").size(), 30u);
    EXPECT_EQ(blocks[0]->values("start_time"), std::vector<double>{0});
}

TEST(AnimationBadInput, MillionKeysInOneSecondStillSampleThirtyTimes) {
    ConverterScene s(cube(track(903, 1000, kZeroToTen)));
    auto& keys = s.doc->objects[0]->tracks[0]->curve.keys;
    keys.clear();
    for (int i = 0; i <= 1000000; ++i) {
        keys.push_back(hostsim::SimKey{RdHostTime{static_cast<double>(i), 1e6}, i * 1e-5});
    }
    exportObject(s, s.object(), "Cube");
    auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0]->values("timestamps").size(), 30u);
}

TEST(AnimationBadInput, HoursLongTrackFollowsTheSinglePrecisionClock) {
    ConverterScene s(
        cube(track(903, 1000, R"([{"time": 0, "value": 0}, {"time": 7200, "value": 1}])")));
    exportObject(s, s.object(), "Cube");
    auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 1u);
    size_t expected = 0;
    for (float h = 0.0f; h <= 7200.0; h += 1.0f / 30.0f) {
        ++expected;
    }
    const std::vector<double>& stamps = blocks[0]->values("timestamps");
    EXPECT_EQ(stamps.size(), expected);
    EXPECT_NEAR(static_cast<double>(expected), 7200.0 * 30.0, 7200.0);  // drift, not a loop
    EXPECT_LE(stamps.back(), 7200000.0);
}

TEST(AnimationBadInput, ClockThatCannotAdvanceStopsInsteadOfLoopingForever) {
    // At 2^21 s adding 1/30 in single precision leaves the clock where it is.
    ConverterScene s(cube(
        track(903, 1000, R"([{"time": 2097152, "value": 0}, {"time": 2097162, "value": 1}])")));
    exportObject(s, s.object(), "Cube");
    auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0]->values("timestamps"), std::vector<double>{0});
    EXPECT_EQ(blocks[0]->values("start_time"), std::vector<double>{2097152});
}

}  // namespace
}  // namespace raydeck
