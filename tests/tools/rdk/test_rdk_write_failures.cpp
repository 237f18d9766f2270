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
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kScene = RAYDECK_TEST_DATA "/sceneapi/typical_packed.rdk";
const std::string kOlderPng = "\x89PNG the older preview, which must survive";

// rdk-inspect in `folder`, its standard output and error in files there unless `options` say
// otherwise.
ProgramRun inspect(const std::vector<std::string>& args, const std::string& folder,
                   RunOptions options = RunOptions()) {
    options.workingFolder = folder;
    return runProgram(RDK_INSPECT_EXE, args, options);
}

}  // namespace

// summary and check used to exit 0 although their report never arrived.
TEST(RdkWriteFailures, ReportsToAFullDeviceExitOne) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "/dev/full not available";
    }
    TempDir dir;
    RunOptions full;
    full.stdoutPath = "/dev/full";
    for (const char* command : {"summary", "check"}) {
        for (bool json : {false, true}) {
            std::vector<std::string> args{command, kScene};
            if (json) {
                args.push_back("--json");
            }
            const ProgramRun r = inspect(args, dir.path(), full);
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
    RunOptions limited;
    limited.fileSizeBytes = 1024;
    const ProgramRun r = inspect({"preview", kScene, "-o", "preview.png", "--size", "2000x2000"},
                                 dir.path(), limited);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "rdk-inspect: cannot write preview.png: File too large\n");
    EXPECT_TRUE(holdsOnly(dir.path(), "preview.png", kOlderPng, {".stderr", ".stdout"}));
}

// A real full filesystem: a 16 KiB tmpfs, which only root may mount; skipped otherwise.
TEST(RdkWriteFailures, PreviewOntoAFullFilesystemKeepsTheOlderPng) {
    TempDir dir;
    const SmallTmpfs tmpfs(dir.path() + "/small");
    if (!tmpfs.mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here";
    }
    const std::string target = tmpfs.path() + "/preview.png";
    std::ofstream(target, std::ios::binary) << kOlderPng;
    const ProgramRun r =
        inspect({"preview", kScene, "-o", target, "--size", "2000x2000"}, dir.path());
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "rdk-inspect: cannot write " + target + ": No space left on device\n");
    EXPECT_TRUE(holdsOnly(tmpfs.path(), "preview.png", kOlderPng));
}
