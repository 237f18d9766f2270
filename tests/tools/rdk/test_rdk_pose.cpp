// rdk-inspect pose: which side of the transform a block goes, in which order blocks compose,
// what a block holds outside its samples, the preview's posed transforms, and the comparison of
// two listings.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>

#include "tools/rdk/RdkPose.h"
#include "tools/rdk/RdkReader.h"

namespace rdk {
namespace {

// Y1 moves by x + 1, Y2 turns a quarter about z; both start as the identity at 1 s and take
// effect at 1.5 s. The camera section holds the flip (the host's identity placement); the group
// "G" stands at x = 5 under the root's flip.
const char kScene[] = R"(//---tarvik:dal:7---
version 8
camera "C" {
transform 1 0 0 0 0 1 0 0 0 0 -1 0 0 0 0 1
}
animation "fbx_animation" "Y1" {
"start_time" 1,
"matrices" [ 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 , 1 0 0 0 0 1 0 0 0 0 1 0 1 0 0 1 ] ,
"timestamps" [ 0 , 500 ] ,
}
animation "fbx_animation" "Y2" {
"start_time" 1,
"matrices" [ 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 , 0 1 0 0 -1 0 0 0 0 0 1 0 0 0 0 1 ] ,
"timestamps" [ 0 , 500 ] ,
}
group "scene" {
transform 1 0 0 0 0 1 0 0 0 0 -1 0 0 0 0 1
group "G" {
transform 1 0 0 0 0 1 0 0 0 0 1 0 5 0 0 1
group "Inner" {
transform 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1
}
animation "fbx_animation" "Y1" {
"start_time" 1,
"matrices" [ 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 , 1 0 0 0 0 1 0 0 0 0 1 0 1 0 0 1 ] ,
"timestamps" [ 0 , 500 ] ,
}
animation "fbx_animation" "Y2" {
"start_time" 1,
"matrices" [ 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 , 0 1 0 0 -1 0 0 0 0 0 1 0 0 0 0 1 ] ,
"timestamps" [ 0 , 500 ] ,
}
}
}
)";

struct Parsed {
    Scene scene;
    Parsed() {
        ReadError error;
        EXPECT_TRUE(parseScene(std::string_view(kScene), scene, error)) << error.message;
    }
};

void expectOffset(const PoseEntry& e, double x, double y, double z) {
    EXPECT_NEAR(e.placement.off[0], x, 1e-12) << e.path;
    EXPECT_NEAR(e.placement.off[1], y, 1e-12) << e.path;
    EXPECT_NEAR(e.placement.off[2], z, 1e-12) << e.path;
}

TEST(RdkPose, CameraBlocksGoLeftOfTheSectionAndObjectBlocksRightOfTheGroup) {
    Parsed p;
    const std::vector<PoseEntry> pose = scenePose(p.scene, 1.5);
    ASSERT_EQ(pose.size(), 3u);
    EXPECT_EQ(pose[0].kind, "camera");
    EXPECT_EQ(pose[0].path, "C");
    EXPECT_EQ(pose[1].path, "G");
    EXPECT_EQ(pose[2].path, "G/Inner");
    // Camera: Y2 * Y1 * C, the later block outside: moved along x, then turned onto y.
    expectOffset(pose[0], 0, 1, 0);
    EXPECT_NEAR(pose[0].placement.ax[0][1], 1.0, 1e-12);  // x axis turned onto y
    // Object: G * Y2 * Y1: the move is turned in the group's frame, then placed at x = 5.
    expectOffset(pose[1], 5, 1, 0);
    expectOffset(pose[2], 5, 1, 0);
}

TEST(RdkPose, BlocksHoldTheirFirstAndLastSamplesOutsideTheirRange) {
    Parsed p;
    for (double t : {0.0, 1.0, 1.499}) {
        const std::vector<PoseEntry> pose = scenePose(p.scene, t);
        expectOffset(pose[0], 0, 0, 0);
        expectOffset(pose[1], 5, 0, 0);
    }
    const std::vector<PoseEntry> late = scenePose(p.scene, 100.0);
    expectOffset(late[1], 5, 1, 0);
    EXPECT_EQ(sceneSampleTimes(p.scene), (std::vector<int64_t>{1000, 1500}));
}

TEST(RdkPose, APosedSceneDrawsTheMomentWithItsTransformsAlone) {
    Parsed p;
    poseScene(p.scene, 1.5);
    const Node* g = p.scene.nodes.back().block("group");
    ASSERT_NE(g, nullptr);
    const std::vector<double>& m = g->attribute("transform")->value.numbers;
    EXPECT_NEAR(m[12], 5, 1e-12);
    EXPECT_NEAR(m[13], 1, 1e-12);
    const std::vector<double>& c = p.scene.nodes[1].attribute("transform")->value.numbers;
    EXPECT_NEAR(c[1], 1, 1e-12);   // the section's x axis turned onto y
    EXPECT_NEAR(c[13], 1, 1e-12);  // and moved to y = 1
}

TEST(RdkPose, ListingsCompareByLineAndANanIsTheWorstDeviation) {
    Placement a;
    Placement b = a;
    b.off[0] = 2e-4 * 1000;  // relative to the line's largest magnitude, 1000
    b.ax[0][0] = 1000;
    a.ax[0][0] = 1000;
    std::ostringstream x, y;
    writePoseLine(x, 1, "object", "a b/c", a);
    writePoseLine(y, 1, "object", "a b/c", b);
    double d = 0;
    std::string why;
    ASSERT_TRUE(comparePoses(x.str(), y.str(), d, why)) << why;
    EXPECT_NEAR(d, 2e-4, 1e-12);

    Placement broken = a;
    broken.off[1] = std::nan("");
    std::ostringstream z;
    writePoseLine(z, 1, "object", "a b/c", broken);
    ASSERT_TRUE(comparePoses(z.str(), y.str(), d, why));
    EXPECT_GT(d, 1.0);

    std::ostringstream other;
    writePoseLine(other, 1, "object", "a b/d", a);
    EXPECT_FALSE(comparePoses(other.str(), y.str(), d, why));
    EXPECT_FALSE(comparePoses(x.str() + x.str(), y.str(), d, why));
}

}  // namespace
}  // namespace rdk
