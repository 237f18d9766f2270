// The scene moves as the host shows it: every host document of the repository and the generated
// rigs, orders and start times of tests/support/PoseScenes.h are exported with the real plug-in,
// and `rdk-inspect pose` of the scene is compared with `raydeck-host pose` of the document at
// every sample time. Flat and huge placements, which the scene cannot follow, must export clean
// numbers and say what was left out.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/FileText.h"
#include "tests/support/PoseScenes.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"
#include "tools/rdk/RdkPose.h"

namespace fs = std::filesystem;

namespace {

constexpr double kTolerance = 1e-4;

class PoseFidelity : public ::testing::Test {
  protected:
    ProgramRun run(const char* exe, std::vector<std::string> args) {
        RunOptions options;
        options.workingFolder = tmp_.path();
        options.timeoutSeconds = 120;
        ProgramRun r = runProgram(exe, std::move(args), options);
        EXPECT_TRUE(r.exited) << exe;
        return r;
    }

    // Exports `document`, checks the scene and answers the two pose listings.
    bool exportAndPose(const std::string& document, std::string& scenePose, std::string& hostPose,
                       std::string& console) {
        const std::string scene = (fs::u8path(tmp_.path()) / "scene.rdk").string();
        const ProgramRun exported = run(RAYDECK_HOST_EXE, {"export", document, "-o", scene});
        console = exported.err;
        EXPECT_EQ(exported.code, 0) << exported.err;
        const ProgramRun check = run(RAYDECK_INSPECT_EXE, {"check", scene});
        EXPECT_EQ(check.code, 0) << check.out << check.err;
        const ProgramRun fromScene = run(RAYDECK_INSPECT_EXE, {"pose", scene});
        const ProgramRun fromHost = run(RAYDECK_HOST_EXE, {"pose", document});
        EXPECT_EQ(fromScene.code, 0) << fromScene.err;
        EXPECT_EQ(fromHost.code, 0) << fromHost.err;
        scenePose = fromScene.out;
        hostPose = fromHost.out;
        return exported.code == 0 && check.code == 0 && fromScene.code == 0 && fromHost.code == 0;
    }

    // The largest relative deviation of the scene's placements from the host's.
    double deviation(const std::string& document, const std::string& label) {
        std::string scene, host, console;
        if (!exportAndPose(document, scene, host, console)) {
            ADD_FAILURE() << label;
            return 1.0;
        }
        EXPECT_EQ(console.find("Raydeck warning"), std::string::npos) << label << ": " << console;
        double d = 0.0;
        std::string why;
        EXPECT_TRUE(rdk::comparePoses(scene, host, d, why)) << label << ": " << why;
        EXPECT_LE(d, kTolerance) << label << ": worst at " << why;
        EXPECT_NE(scene.find(" object "), std::string::npos) << label;
        return d;
    }

    std::string write(const std::string& name, const std::string& text) {
        const std::string path = (fs::u8path(tmp_.path()) / name).string();
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    TempDir tmp_;
};

TEST_F(PoseFidelity, EveryHostDocumentOfTheRepository) {
    std::vector<std::string> documents{RAYDECK_SOURCE_DIR "/examples/workshop.json"};
    for (const auto& entry : fs::directory_iterator(RAYDECK_TEST_DATA "/fuzz/host_document")) {
        const std::string name = entry.path().filename().string();
        // The seeds are documents; the other inputs are the fuzzer's broken ones.
        if (name.rfind("seed-", 0) == 0) {
            documents.push_back(entry.path().string());
        }
    }
    ASSERT_GE(documents.size(), 3u);
    for (const std::string& d : documents) {
        deviation(d, d);
    }
}

TEST_F(PoseFidelity, RigsOrdersAndStartTimes) {
    for (const raydeck::testing::PoseScene& s : raydeck::testing::poseScenes()) {
        if (!s.flat) {
            deviation(write("doc.json", s.json), s.name);
        }
    }
}

TEST_F(PoseFidelity, FlatAndHugePlacementsExportCleanNumbersAndSayWhatWasLeftOut) {
    for (const raydeck::testing::PoseScene& s : raydeck::testing::poseScenes()) {
        if (!s.flat) {
            continue;
        }
        std::string scene, host, console;
        ASSERT_TRUE(exportAndPose(write("doc.json", s.json), scene, host, console)) << s.name;
        const std::string text = readFile((fs::u8path(tmp_.path()) / "scene.rdk").string());
        EXPECT_EQ(text.find("nan"), std::string::npos);
        EXPECT_EQ(text.find("inf"), std::string::npos);
        // One line per object that lost something: the flat ones' turns, the huge ones'
        // placements, and the camera below them. A camera under a flat parent follows its
        // turn (a change on the left needs no inverse of the flat scale) and says nothing.
        for (const char* name : {"\"Flat\"", "\"Tiny\"", "\"Huge\"", "\"Huge2\"", "\"HugeCam\""}) {
            EXPECT_NE(console.find(std::string("Raydeck warning: ") + name), std::string::npos)
                << name << "\n"
                << console;
        }
        EXPECT_EQ(console.find("Raydeck warning: \"FlatCam\""), std::string::npos) << console;
        double d = 0.0;
        std::string why;
        EXPECT_TRUE(rdk::comparePoses(scene, host, d, why)) << why;
    }
}

TEST_F(PoseFidelity, ASceneWhoseCameraIgnoresItsRigFailsTheCheck) {
    // The comparison itself must see a wrong placement: the same rig with the camera's export
    // replaced by a still one deviates by far more than the tolerance.
    const std::string doc = write(
        "rig.json",
        raydeck::testing::posescene::document({raydeck::testing::posescene::object(
            "Rig", 5140, "", {raydeck::testing::posescene::track(904, 0, 0, 3)},
            {raydeck::testing::posescene::object("Cam", 5103, R"("position": [0, 0, -100],)")})}));
    std::string scene, host, console;
    ASSERT_TRUE(exportAndPose(doc, scene, host, console));
    const std::string still = write("still.json", R"({"format": "raydeck-host-document",
        "version": 1, "objects": [{"name": "Rig", "type": 5140, "tracks": [
        {"id": [904, 1000], "params": {"904": 1}, "keys": [{"time": 0, "value": 0},
        {"time": 2, "value": 0}]}], "children": [{"name": "Cam", "type": 5103,
        "position": [0, 0, -100]}]}]})");
    std::string stillScene, stillHost;
    ASSERT_TRUE(exportAndPose(still, stillScene, stillHost, console));
    double d = 0.0;
    std::string why;
    ASSERT_TRUE(rdk::comparePoses(stillScene, host, d, why)) << why;
    EXPECT_GT(d, 0.1);
}

}  // namespace
