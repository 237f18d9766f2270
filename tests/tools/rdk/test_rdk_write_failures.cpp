// rdk-inspect when its output cannot be written: a report to a full device, and a preview PNG
// past the file-size limit or on a full filesystem, which must leave an older PNG as it was.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "tests/tools/ChildRun.h"

namespace fs = std::filesystem;

namespace {

const std::string kScene = RAYDECK_TEST_DATA "/sceneapi/typical_packed.rdk";
const std::string kOlderPng = "\x89PNG the older preview, which must survive";

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

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
    EXPECT_EQ(childrun::readFile(dir.path() + "/preview.png"), kOlderPng);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{".stdout", "preview.png"}));
}

// A real full filesystem: a 16 KiB tmpfs, which only root may mount; skipped otherwise.
TEST(RdkWriteFailures, PreviewOntoAFullFilesystemKeepsTheOlderPng) {
    TempDir dir;
    const std::string small = dir.path() + "/small";
    fs::create_directory(small);
    if (geteuid() != 0 || mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k") != 0) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    struct Unmount {
        std::string at;
        ~Unmount() { umount(at.c_str()); }
    } unmount{small};
    std::ofstream(small + "/preview.png", std::ios::binary) << kOlderPng;
    const childrun::Outcome r =
        inspect({"preview", kScene, "-o", small + "/preview.png", "--size", "2000x2000"},
                {dir.path(), dir.path() + "/.stdout"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err,
              "rdk-inspect: cannot write " + small + "/preview.png: No space left on device\n");
    EXPECT_EQ(childrun::readFile(small + "/preview.png"), kOlderPng);
    EXPECT_EQ(namesIn(small), std::vector<std::string>{"preview.png"});
}
