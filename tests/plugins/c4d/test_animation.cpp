// Animation export: the single-precision clock, time stamps, placed changes in object and camera
// mode, block order, which tracks are written, and tracks that must not break the export.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

#include "plugins/c4d/convert/animation.h"
#include "test_animation_support.h"

namespace raydeck {
namespace {

using testing::ConverterScene;

std::string track(int first, int second, const std::string& keys, const std::string& more = "") {
    return R"({"id": [)" + std::to_string(first) + ", " + std::to_string(second) +
           R"(], "params": {"904": 1}, "keys": )" + keys + more + "}";
}
const char kZeroToTen[] = R"([{"time": 0, "value": 0}, {"time": 1, "value": 10}])";

// Objects named o0, o1, ... each with the given tracks and placement.
std::string objects(const std::vector<std::pair<std::string, std::string>>& tracksAndFields) {
    std::string out;
    for (size_t i = 0; i < tracksAndFields.size(); ++i) {
        out += std::string(i ? "," : "") + R"({"name": "o)" + std::to_string(i) +
               R"(", "type": 5140, )" + tracksAndFields[i].second + R"( "tracks": [)" +
               tracksAndFields[i].first + "]}";
    }
    return testing::documentWith(out);
}

// The object walk's three calls, scale, rotation, position, on object i.
void exportObject(ConverterScene& s, int i, const std::string& name, bool camera = false) {
    const host::BaseObject o = s.object(i);
    c4d::TrackList lists[3];
    for (host::CTrack t = o.firstTrack(); t; t = t.next()) {
        c4d::collectTrack(s.context, t, lists[0], lists[1], lists[2]);
    }
    const char* channels[3] = {"Scale", "Rotation", "Position"};
    for (int k = 0; k < 3; ++k) {
        c4d::writeAnimation(s.context, name, lists[k],
                            (camera ? "Camera " : "") + std::string(channels[k]), o.position(),
                            o.rotation(), o.scale(), o.rotationOrder(), camera);
    }
}

// Clock time of sample i and the ms-rounded host value of a linear 0 -> to over one second.
float clockAt(int i) {
    float h = 0.0f;
    while (i-- > 0) {
        h += 1.0f / 30.0f;
    }
    return h;
}
double rampAt(int i, double from, double to) {
    const double t = std::floor(static_cast<double>(clockAt(i)) * 1000.0 + 0.5) / 1000.0;
    return static_cast<float>(from + (to - from) * t);
}
std::vector<double> matrixAt(const std::vector<double>& all, size_t i) {
    return all.size() >= 16 * (i + 1) ? std::vector<double>(&all[16 * i], &all[16 * i] + 16)
                                      : std::vector<double>();
}
void expectNear(const std::vector<double>& got, const std::vector<double>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t k = 0; k < want.size(); ++k) {
        EXPECT_NEAR(got[k], want[k], 1e-5) << "element " << k;
    }
}

TEST(Animation, PositionTrackOverOneSecondGivesThirtyTranslations) {
    ConverterScene s(objects({{track(903, 1000, kZeroToTen, R"(, "name": "Position . X")"), ""}}));
    exportObject(s, 0, "Cube");
    auto blocks = s.api.of("animation");
    ASSERT_EQ(blocks.size(), 1u);
    auto& b = *blocks[0];
    EXPECT_EQ(b.name, "Position . X");
    EXPECT_EQ(b.values.at("start_time"), std::vector<double>{0});
    EXPECT_EQ(b.values.at("duration"), std::vector<double>{1});
    EXPECT_EQ(b.text.at("folder"), "Cube/Position");
    const std::vector<double>& stamps = b.values.at("timestamps");
    ASSERT_EQ(stamps.size(), 30u);  // the 30th step lands at 1.0000004 s, past the last key
    EXPECT_EQ(std::vector<double>(stamps.begin(), stamps.begin() + 5),
              (std::vector<double>{0, 33, 66, 100, 133}));
    EXPECT_EQ(stamps.back(), 966);
    ASSERT_EQ(b.values.at("matrices").size(), 30u * 16u);
    for (int i = 0; i < 30; ++i) {
        expectNear(matrixAt(b.values.at("matrices"), i),
                   {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, rampAt(i, 0, 10), 0, 0, 1});
    }
}

TEST(Animation, PlacedChangesInObjectAndCameraMode) {
    ConverterScene s(
        objects({{track(903, 1000, kZeroToTen), R"("scale": [2, 2, 2],)"},
                 {track(903, 1000, kZeroToTen) + "," + track(903, 1002, kZeroToTen),
                  R"("position": [1, 2, 3],)"},
                 {track(905, 1000, R"([{"time": 0, "value": 1}, {"time": 1, "value": 3}])"), ""}}));
    exportObject(s, 0, "Obj");
    exportObject(s, 1, "Cam", true);
    exportObject(s, 2, "Scaled");
    auto b = s.api.of("animation");
    ASSERT_EQ(b.size(), 4u);
    const double v = rampAt(15, 0, 10);
    // Object mode: S^-1 . translation . S, so a scale of 2 halves the change.
    expectNear(matrixAt(b[0]->values.at("matrices"), 15),
               {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, v / 2, 0, 0, 1});
    // Camera mode, order 0 walks x before z: x unchanged, z flipped.
    EXPECT_EQ(b[1]->text.at("folder"), "Cam/Camera Position");
    expectNear(matrixAt(b[1]->values.at("matrices"), 15),
               {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, v, 0, 0, 1});
    expectNear(matrixAt(b[2]->values.at("matrices"), 15),
               {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -v, 1});
    // A scale track's neutral vector is (1, 1, 1).
    expectNear(matrixAt(b[3]->values.at("matrices"), 15),
               {rampAt(15, 1, 3), 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
}

TEST(Animation, WhichTracksAreWrittenAndHowTheyAreNamed) {
    const std::string tracks =
        track(903, 1001, R"([{"time": 2.5, "value": 0}, {"time": 3.5, "value": 1}])") + "," +
        track(903, 1000, R"([{"time": 1, "value": 3}])") + "," +  // one key
        track(904, 1000, R"([{"time": 1, "value": 3}, {"time": 1, "value": 4}])") + "," +  // d = 0
        R"({"id": [905, 1000], "params": {"904": 0}, "keys": [{"time": 0, "value": 1}, {"time": 1, "value": 2}]})" +
        "," +                                 // disabled
        track(903, 1003, kZeroToTen) + "," +  // no such component
        track(904, 1001, kZeroToTen);
    ConverterScene s(objects({{tracks, ""}}));
    const std::string longName(2000, 'n');
    exportObject(s, 0, longName);
    auto b = s.api.of("animation");
    ASSERT_EQ(b.size(), 2u);
    EXPECT_EQ(b[0]->name, "Rotation . Y");  // unnamed: the parameter's name
    EXPECT_EQ(b[0]->text.at("folder"), longName + "/Rotation");
    EXPECT_EQ(b[1]->values.at("start_time"), std::vector<double>{2});
    const std::vector<double>& stamps = b[1]->values.at("timestamps");
    EXPECT_EQ(std::vector<double>(stamps.begin(), stamps.begin() + 3),
              (std::vector<double>{0, 33, 66}));
}

TEST(Animation, RotationOrderSequencesTheBlocksWrittenLastFirst) {
    const std::string xyz = track(904, 1000, kZeroToTen, R"(, "name": "x")") + "," +
                            track(904, 1001, kZeroToTen, R"(, "name": "y")") + "," +
                            track(904, 1002, kZeroToTen, R"(, "name": "z")");
    ConverterScene s(objects({{xyz, R"("rotationOrder": 2,)"}, {xyz, R"("rotationOrder": 0,)"}}));
    exportObject(s, 0, "a");
    exportObject(s, 1, "b");
    std::string names;
    for (auto* b : s.api.of("animation")) {
        names += b->name;
    }
    EXPECT_EQ(names,
              "zyx"
              "yxz");
}

// Independent rotations: row-major 3x3 products of the right-handed axis rotations.
using M3 = std::array<std::array<double, 3>, 3>;
M3 rot(char axis, double t) {
    const double c = std::cos(t), s = std::sin(t);
    if (axis == 'x')
        return M3{{{1, 0, 0}, {0, c, -s}, {0, s, c}}};
    if (axis == 'y')
        return M3{{{c, 0, s}, {0, 1, 0}, {-s, 0, c}}};
    return M3{{{c, -s, 0}, {s, c, 0}, {0, 0, 1}}};
}
M3 operator*(const M3& a, const M3& b) {
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
    const M3 want[7] = {Z * X * Y,
                        X * Z * Y,
                        X * Y * Z,
                        Y * X * Z,
                        Y * Z * X,
                        Z * Y * X,
                        rot('y', -ax) * rot('x', -ay) * Z};
    for (int order = 0; order < 7; ++order) {
        const host::Matrix m = c4d::rotationMatrix(host::Vector(ax, ay, az), order);
        const host::Vector cols[3] = {m.v1, m.v2, m.v3};
        for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(cols[j].x, want[order][0][j], 1e-12) << "order " << order;
            EXPECT_NEAR(cols[j].y, want[order][1][j], 1e-12) << "order " << order;
            EXPECT_NEAR(cols[j].z, want[order][2][j], 1e-12) << "order " << order;
        }
    }
}

TEST(AnimationBadInput, DisorderedNanAndZeroDenominatorKeys) {
    ConverterScene s(objects({{track(903, 1000, kZeroToTen), ""},
                              {track(903, 1000, kZeroToTen), ""},
                              {track(903, 1000, R"([{"time": {"num": 7, "den": 0}, "value": 0},
                                                   {"time": {"num": 2, "den": 2}, "value": 1}])"),
                               ""}}));
    auto& disordered = s.doc->objects[0]->tracks[0]->curve.keys;  // the host would sort them
    std::swap(disordered.front(), disordered.back());
    s.doc->objects[1]->tracks[0]->curve.keys.back().value =
        std::numeric_limits<double>::quiet_NaN();
    for (int i = 0; i < 3; ++i) {
        exportObject(s, i, "o" + std::to_string(i));
    }
    auto b = s.api.of("animation");
    ASSERT_EQ(b.size(), 2u);  // the disordered track has no positive duration
    EXPECT_EQ(b[0]->values.at("timestamps").size(), 30u);
    EXPECT_EQ(b[1]->values.at("timestamps").size(), 30u);  // 7/0 counts as time 0
}

TEST(AnimationBadInput, LongTracksFollowTheClockAndEnd) {
    ConverterScene s(objects(
        {{track(903, 1000, kZeroToTen), ""},
         {track(903, 1000, R"([{"time": 0, "value": 0}, {"time": 7200, "value": 1}])"), ""},
         // At 2^21 s adding 1/30 in single precision leaves the clock standing.
         {track(903, 1000, R"([{"time": 2097152, "value": 0}, {"time": 2097162, "value": 1}])"),
          ""}}));
    auto& keys = s.doc->objects[0]->tracks[0]->curve.keys;
    keys.clear();
    for (int i = 0; i <= 1000000; ++i) {
        keys.push_back(hostsim::SimKey{RdHostTime{static_cast<double>(i), 1e6}, i * 1e-5});
    }
    for (int i = 0; i < 3; ++i) {
        exportObject(s, i, "o" + std::to_string(i));
    }
    auto b = s.api.of("animation");
    ASSERT_EQ(b.size(), 3u);
    EXPECT_EQ(b[0]->values.at("timestamps").size(), 30u);
    size_t expected = 0;
    for (float h = 0.0f; h <= 7200.0; h += 1.0f / 30.0f) {
        ++expected;
    }
    EXPECT_EQ(b[1]->values.at("timestamps").size(), expected);
    EXPECT_EQ(b[2]->values.at("timestamps"), std::vector<double>{0});
    EXPECT_EQ(b[2]->values.at("start_time"), std::vector<double>{2097152});
}

// One mistyped key time (1e6 s) once made the plug-in sample 30 million matrices: now at most
// the first two hours are sampled, the block's duration says so, and one console line names the
// object and the track. A track of exactly two hours is not touched.
TEST(AnimationBadInput, KeyAtAMillionSecondsIsSampledOverTwoHoursWithOneWarning) {
    ConverterScene s(objects(
        {{track(903, 1001, R"([{"time": 0.5, "value": 0}, {"time": 1e6, "value": 1}])",
                R"(, "name": "Slip")"),
          ""},
         {track(903, 1000, R"([{"time": 0, "value": 0}, {"time": 7200, "value": 1}])"), ""}}));
    exportObject(s, 0, "Ball");
    exportObject(s, 1, "Box");
    auto b = s.api.of("animation");
    ASSERT_EQ(b.size(), 2u);
    size_t twoHours = 0;
    for (float h = 0.0f; h <= 7200.0; h += 1.0f / 30.0f) {
        ++twoHours;
    }
    size_t fromHalf = 0;
    for (float h = 0.5f; h <= 7200.5; h += 1.0f / 30.0f) {
        ++fromHalf;
    }
    EXPECT_EQ(b[0]->values.at("timestamps").size(), fromHalf);
    EXPECT_EQ(b[0]->values.at("matrices").size(), 16 * fromHalf);
    EXPECT_EQ(b[0]->values.at("duration"), std::vector<double>{7200});
    EXPECT_EQ(b[1]->values.at("timestamps").size(), twoHours);
    EXPECT_EQ(b[1]->values.at("duration"), std::vector<double>{7200});
    ASSERT_EQ(s.host.consoleLines().size(), 1u);
    EXPECT_EQ(
        s.host.consoleLines()[0],
        "Raydeck warning: object \"Ball\", track \"Slip\": its keys span 1e+06 s; only the first "
        "7200 s are sampled");
}

}  // namespace
}  // namespace raydeck
