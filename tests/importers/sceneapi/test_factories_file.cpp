// trv::LightFileFactory: opening, the scene header, standard output, close failures, and what
// its destruction leaves: the scene, unless an exception unwinds or the export was cancelled.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/FileText.h"
#include "tests/support/Folders.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"
#include "trvFactories.h"

namespace {

const std::string kHeader =
    "//---tarvik:dal:7---\n//---import:dal:1---\n//---id:1---\n// This is a Raydeck scene file\n\n";
const std::string kBanner = "Raydeck SceneApi oo 9.0.45  (built Wed Feb 20 10:46:13 2019)";

void writeScene(trv::LightFactory& factory, int groups) {
    trv::trvSceneapi_oo builder(&factory);
    for (int i = 0; i < groups; ++i) {
        builder.beginGroup("group" + std::to_string(i));
        builder.setAttribute("value", i);
        builder.endGroup();
    }
}

std::string openFailure(const std::string& path, std::string& stderrText) {
    testing::internal::CaptureStderr();
    std::string what = "no exception";
    try {
        trv::LightFileFactory f(path);
    } catch (const std::runtime_error& e) {
        what = e.what();
    }
    stderrText = testing::internal::GetCapturedStderr();
    return what;
}

}  // namespace

TEST(FileFactory, SceneStartsWithHeaderBannerAndVersion) {
    TempDir dir;
    const std::string path = dir.path() + "/sc\xC3\xA8ne.rdk";  // UTF-8 name kept as is
    {
        trv::LightFileFactory f(path);
        writeScene(f, 1);
        f.close();
        f.close();  // the second close does nothing
    }
    const std::string text = readFile(path);
    ASSERT_EQ(text.compare(0, kHeader.size(), kHeader), 0) << text;
    const std::string rest = text.substr(kHeader.size());
    const std::size_t print = rest.find("#print");
    const std::size_t banner = rest.find(kBanner);
    const std::size_t version = rest.find("version 8");
    const std::size_t group = rest.find("group0");
    EXPECT_EQ(print, 0u) << rest;
    EXPECT_NE(banner, std::string::npos);
    EXPECT_LT(banner, version);
    EXPECT_LT(version, group);
}

TEST(FileFactory, DashWritesToStandardOutputAndLaterPrintsGoToStderr) {
    TempDir dir;
    RunOptions options;
    options.outputFolder = dir.path();
    const ProgramRun run = runInChild(
        [] {
            trv::LightFileFactory f("-");
            writeScene(f, 1);
            std::printf("stray text");
            std::fflush(stdout);
            f.close();
            return 0;
        },
        options);
    ASSERT_EQ(run.code, 0);
    EXPECT_EQ(run.out.compare(0, kHeader.size(), kHeader), 0) << run.out;
    EXPECT_NE(run.out.find("group0"), std::string::npos);
    EXPECT_EQ(run.out.find("stray"), std::string::npos);
    EXPECT_EQ(run.err, "stray text");
}

TEST(FileFactory, TwoDashesIsAnOrdinaryFile) {
    TempDir dir;
    RunOptions options;
    options.workingFolder = dir.path();
    const ProgramRun run = runInChild(
        [] {
            trv::LightFileFactory f("--");
            writeScene(f, 0);
            f.close();
            return 0;
        },
        options);
    ASSERT_EQ(run.code, 0);
    EXPECT_TRUE(run.out.empty());
    EXPECT_EQ(readFile(dir.path() + "/--").compare(0, kHeader.size(), kHeader), 0);
}

TEST(FileFactory, UnopenablePathsThrowWithThePath) {
    TempDir dir;
    std::string diagnostic;
    EXPECT_EQ(openFailure("", diagnostic), "could not open file: \"\"");
    EXPECT_EQ(diagnostic.rfind("opening file: ", 0), 0u) << diagnostic;

    const std::string missing = dir.path() + "/no/such/folder/x.rdk";
    EXPECT_EQ(openFailure(missing, diagnostic), "could not open file: \"" + missing + "\"");
    EXPECT_EQ(diagnostic, "opening file: No such file or directory\n");

    // Malformed UTF-8 cannot become a wide path.
    EXPECT_EQ(openFailure(dir.path() + "/\xC3(", diagnostic),
              "could not open file: \"" + dir.path() + "/\xC3(\"");
    EXPECT_EQ(diagnostic, "opening file: Invalid argument\n");
}

// A full disk used to pass unnoticed when the stream's own close succeeded.
TEST(FileFactory, CloseReportsWritesLostOnAFullDevice) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "/dev/full not available";
    }
    for (int groups : {0, 20000}) {  // lost in the final flush / lost in earlier flushes
        trv::LightFileFactory f("/dev/full");
        writeScene(f, groups);
        testing::internal::CaptureStderr();
        std::string what = "no exception";
        try {
            f.close();
        } catch (const std::runtime_error& e) {
            what = e.what();
        }
        const std::string diagnostic = testing::internal::GetCapturedStderr();
        EXPECT_EQ(what, "could not close file") << groups;
        EXPECT_EQ(diagnostic, "closing file: No space left on device\n") << groups;
        EXPECT_NO_THROW(f.close());  // already released
        EXPECT_EQ(f.backend(), nullptr);
    }
}

TEST(FileFactory, DestructorSwallowsACloseFailure) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "/dev/full not available";
    }
    testing::internal::CaptureStderr();
    EXPECT_NO_THROW({
        trv::LightFileFactory f("/dev/full");
        writeScene(f, 10);
    });
    EXPECT_NE(testing::internal::GetCapturedStderr().find("closing file"), std::string::npos);
}

// A conversion that threw used to leave a partial scene in place of the older file (the
// destructor closed whatever had been written).
TEST(FileFactory, ExportThatThrowsOrIsCancelledLeavesTheOlderFileAndNoTemporary) {
    TempDir dir;
    const std::string path = dir.path() + "/scene.rdk";
    const std::string older = kHeader + "the older scene\n";
    std::ofstream(path, std::ios::binary) << older;
    try {
        trv::LightFileFactory f(path);
        writeScene(f, 20000);  // more than the stream buffers: part of it reached the disk
        throw std::runtime_error("conversion failed");
    } catch (const std::runtime_error&) {
    }
    {
        trv::LightFileFactory f(path);
        writeScene(f, 20000);
        f.cancel();
        EXPECT_EQ(f.backend(), nullptr);
        EXPECT_NO_THROW(f.close());  // nothing left to close
    }
    {
        trv::LightFileFactory never(dir.path() + "/new.rdk");  // a new file that never appears
        writeScene(never, 1);
        never.cancel();
    }
    EXPECT_TRUE(holdsOnly(dir.path(), "scene.rdk", older));
}

// Destroying the factory closes the file: a caller that never calls close() used to get no
// scene at all (the destructor discarded it).
TEST(FileFactory, DestroyedWithoutCloseTheSceneIsInPlace) {
    TempDir dir;
    const std::string path = dir.path() + "/scene.rdk";
    std::ofstream(path, std::ios::binary) << kHeader + "the older scene\n";
    {
        trv::LightFileFactory f(path);
        writeScene(f, 1);
    }
    {
        trv::LightFileFactory f(dir.path() + "/new.rdk");
        writeScene(f, 2);
    }
    EXPECT_NE(readFile(path).find("group0"), std::string::npos);
    EXPECT_NE(readFile(dir.path() + "/new.rdk").find("group1"), std::string::npos);
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"new.rdk", "scene.rdk"}));

    // Made and destroyed while an older exception unwinds (in a destructor): that exception is
    // not this scene's failure.
    struct ExportsWhileUnwinding {
        std::string path;
        ~ExportsWhileUnwinding() {
            trv::LightFileFactory f(path);
            writeScene(f, 1);
        }
    };
    try {
        ExportsWhileUnwinding exporter{dir.path() + "/unwinding.rdk"};
        throw std::runtime_error("elsewhere");
    } catch (const std::runtime_error&) {
    }
    EXPECT_NE(readFile(dir.path() + "/unwinding.rdk").find("group0"), std::string::npos);
}

// The host's console shows one line: it must name the file and the system's reason, while
// what() stays the fixed text.
TEST(FileFactory, FailuresExplainFileAndReason) {
    TempDir dir;
    const std::string missing = dir.path() + "/no/x.rdk";
    testing::internal::CaptureStderr();
    try {
        trv::LightFileFactory f(missing);
        ADD_FAILURE() << "opened " << missing;
    } catch (const trv::FileSinkError& e) {
        EXPECT_STREQ(e.what(), ("could not open file: \"" + missing + "\"").c_str());
        EXPECT_EQ(e.explanation(),
                  "could not open file: \"" + missing + "\": No such file or directory");
    }
    if (std::filesystem::exists("/dev/full")) {
        trv::LightFileFactory f("/dev/full");
        writeScene(f, 1);
        try {
            f.close();
            ADD_FAILURE() << "closed /dev/full";
        } catch (const trv::FileSinkError& e) {
            EXPECT_STREQ(e.what(), "could not close file");
            EXPECT_EQ(e.explanation(),
                      "could not close file: \"/dev/full\": No space left on device");
            // The same line stays with the factory, where the live factory keeps its own.
            EXPECT_EQ(f.lastError(), e.explanation());
        }
    }
    testing::internal::GetCapturedStderr();
}

// A factory that never failed has nothing to explain; the one that did says so once more than
// the exception, for a caller that only holds the factory.
TEST(FileFactory, LastErrorIsEmptyUntilAFailure) {
    TempDir dir;
    trv::LightFileFactory f(dir.path() + "/scene.rdk");
    writeScene(f, 1);
    EXPECT_EQ(f.lastError(), "");
    f.close();
    EXPECT_EQ(f.lastError(), "");
}
