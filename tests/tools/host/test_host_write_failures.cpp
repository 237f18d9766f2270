// raydeck-host with the real plug-in when the scene cannot be written whole: a file-size limit, a
// full filesystem, a pipe whose reader goes away, and a command list to a full device. Each ends
// with exit 1 and a message; an older file stays byte-identical and no temporary is left.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/FileText.h"
#include "tests/support/Folders.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kOlder = "//---tarvik:dal:7---\nthe older scene, which must survive\n";
const std::string kSample = RAYDECK_SOURCE_DIR "/examples/workshop.json";

// raydeck-host in `folder`, its standard output and error in files there unless `options` say
// otherwise.
ProgramRun host(const std::vector<std::string>& args, const std::string& folder,
                RunOptions options = RunOptions()) {
    options.workingFolder = folder;
    return runProgram(RAYDECK_HOST_EXE, args, options);
}

// A document whose scene is far larger than a pipe holds.
std::string gridDocument(int n) {
    std::string points, polygons;
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            points +=
                (points.empty() ? "[" : ",[") + std::to_string(x) + "," + std::to_string(y) + ",0]";
            if (x + 1 < n && y + 1 < n) {
                const int a = y * n + x;
                polygons += (polygons.empty() ? "[" : ",[") + std::to_string(a) + "," +
                            std::to_string(a + 1) + "," + std::to_string(a + n + 1) + "," +
                            std::to_string(a + n) + "]";
            }
        }
    }
    return R"({"format": "raydeck-host-document", "version": 1, "objects": [{"name": "Grid",
        "type": 5100, "points": [)" +
           points + "], \"polygons\": [" + polygons + "]}]}";
}

}  // namespace

// Used to die of SIGXFSZ (exit 153, no message), leaving a truncated scene with a valid header.
TEST(HostWriteFailures, ExportUnderAFileSizeLimitExitsOneAndKeepsTheOlderFile) {
    TempDir dir;
    std::ofstream(dir.path() + "/scene.rdk", std::ios::binary) << kOlder;
    RunOptions limited;
    limited.fileSizeBytes = 4096;
    const ProgramRun r = host({"export", kSample, "-o", "scene.rdk"}, dir.path(), limited);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(r.err,
              "closing file: File too large\nRaydeck Export: could not close file: "
              "\"scene.rdk\": File too large\n");
    EXPECT_TRUE(holdsOnly(dir.path(), "scene.rdk", kOlder, {".stderr", ".stdout"}));

    // Without an older file nothing is left either.
    const ProgramRun fresh = host({"export", kSample, "-o", "new.rdk"}, dir.path(), limited);
    EXPECT_EQ(fresh.code, 1) << fresh.err;
    EXPECT_TRUE(holdsOnly(dir.path(), "scene.rdk", kOlder, {".stderr", ".stdout"}));
}

// A real full filesystem: a 16 KiB tmpfs, which only root may mount; skipped otherwise.
TEST(HostWriteFailures, ExportOntoAFullFilesystemExitsOneAndKeepsTheOlderFile) {
    TempDir dir;
    const SmallTmpfs tmpfs(dir.path() + "/small");
    if (!tmpfs.mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    std::ofstream(tmpfs.path() + "/scene.rdk", std::ios::binary) << kOlder;
    const ProgramRun r = host({"export", kSample, "-o", tmpfs.path() + "/scene.rdk"}, dir.path());
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(r.err,
              "closing file: No space left on device\nRaydeck Export: could not close "
              "file: \"" +
                  tmpfs.path() + "/scene.rdk\": No space left on device\n");
    EXPECT_TRUE(holdsOnly(tmpfs.path(), "scene.rdk", kOlder));
}

// `-o - | head -c 100` used to die of SIGPIPE (exit 141) without a word.
TEST(HostWriteFailures, ExportIntoAPipeClosedEarlyExitsOne) {
    TempDir dir;
    // Far more than the pipes between the plug-in and the reader hold, so that the plug-in's
    // own writes meet the closed pipe.
    std::ofstream(dir.path() + "/grid.json") << gridDocument(200);
    RunOptions head;
    head.stdoutPipeBytes = 100;
    const ProgramRun r = host({"export", "grid.json", "-o", "-"}, dir.path(), head);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(r.err,
              "closing file: Broken pipe\nRaydeck Export: could not close file: standard "
              "output: Broken pipe\n");
    EXPECT_EQ(r.out.size(), 100u);
}

// Used to exit 0 although the list never arrived.
TEST(HostWriteFailures, CommandsToAFullDeviceExitsOne) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "/dev/full not available";
    }
    TempDir dir;
    RunOptions full;
    full.stdoutPath = "/dev/full";
    const ProgramRun r = host({"commands"}, dir.path(), full);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "raydeck-host: cannot write to standard output: No space left on device\n");
}
