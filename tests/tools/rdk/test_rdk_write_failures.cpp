// rdk-inspect when its output cannot be written: a report to a full device, and a preview PNG
// past the file-size limit or on a full filesystem, which must leave an older PNG as it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/FileText.h"
#include "tests/support/Folders.h"
#include "tests/support/TempDir.h"
#include "tests/tools/ChildRun.h"

namespace fs = std::filesystem;

namespace {

const std::string kScene = RAYDECK_TEST_DATA "/sceneapi/typical_packed.rdk";
const std::string kOlderPng = "\x89PNG the older preview, which must survive";

childrun::Outcome inspect(const std::vector<std::string>& args, const childrun::Setup& setup) {
    return childrun::run(RDK_INSPECT_EXE, args, setup);
}

}  // namespace

// summary and check used to exit 0 although their report never arrived.
TEST(RdkWriteFailures, ReportsToAFullDeviceExitOne) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "/dev/full not available";
    }
    TempDir dir;
    for (const char* command : {"summary", "check"}) {
        for (bool json : {false, true}) {
            std::vector<std::string> args{command, kScene};
            if (json) {
                args.push_back("--json");
            }
            const childrun::Outcome r = inspect(args, {dir.path(), "/dev/full"});
            EXPECT_EQ(r.code, 1) << command;
            EXPECT_EQ(r.err,
                      "rdk-inspect: cannot write to standard output: No space left on device\n");
        }
    }
}

// Used to die of SIGXFSZ, leaving a cut PNG where the older one was.
TEST(RdkWriteFailures, PreviewPastTheFileSizeLimitKeepsTheOlderPng) {
    TempDir dir;
    std::ofstream(dir.path() + "/preview.png", std::ios::binary) << kOlderPng;
    childrun::Setup setup{dir.path(), dir.path() + "/.stdout"};
    setup.fileSizeLimit = 1024;
    const childrun::Outcome r =
        inspect({"preview", kScene, "-o", "preview.png", "--size", "2000x2000"}, setup);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "rdk-inspect: cannot write preview.png: File too large\n");
    EXPECT_EQ(readFile(dir.path() + "/preview.png"), kOlderPng);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{".stdout", "preview.png"}));
}

// A real full filesystem: a 16 KiB tmpfs, which only root may mount; skipped otherwise.
TEST(RdkWriteFailures, PreviewOntoAFullFilesystemKeepsTheOlderPng) {
    TempDir dir;
    const SmallTmpfs tmpfs(dir.path() + "/small");
    if (!tmpfs.mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    const std::string& small = tmpfs.path();
    std::ofstream(small + "/preview.png", std::ios::binary) << kOlderPng;
    const childrun::Outcome r =
        inspect({"preview", kScene, "-o", small + "/preview.png", "--size", "2000x2000"},
                {dir.path(), dir.path() + "/.stdout"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err,
              "rdk-inspect: cannot write " + small + "/preview.png: No space left on device\n");
    EXPECT_EQ(readFile(small + "/preview.png"), kOlderPng);
    EXPECT_EQ(namesIn(small), std::vector<std::string>{"preview.png"});
}
