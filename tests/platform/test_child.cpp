// Child processes: exit codes, arguments with spaces, quotes and non-ASCII text, environment
// changes for the child only or a whole replacement, a working folder, output files (one for both
// streams too), standard input from the null device, the search of PATH, a termination request
// that the child handles, a hard stop, and a program that does not exist.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/child.h"
#include "platform/program.h"
#include "platform/status.h"
#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"

namespace {

std::string readText(const std::string& path) {
    std::string s = readFile(std::filesystem::u8path(path));
    s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());  // text mode on Windows
    return s;
}

namespace fs = std::filesystem;

// PATH for the life of the object; the test's own again after.
class PathSetting {
  public:
    explicit PathSetting(const std::string& value) {
        had_ = platform::getEnvironment("PATH", saved_);
        EXPECT_TRUE(platform::setEnvironment("PATH", value).ok());
    }
    ~PathSetting() {
        EXPECT_TRUE(
            (had_ ? platform::setEnvironment("PATH", saved_) : platform::unsetEnvironment("PATH"))
                .ok());
    }
    PathSetting(const PathSetting&) = delete;
    PathSetting& operator=(const PathSetting&) = delete;

  private:
    bool had_ = false;
    std::string saved_;
};

int runToEnd(const std::vector<std::string>& args, const platform::ChildOptions& options) {
    platform::Child child;
    EXPECT_TRUE(platform::spawnChild(RAYDECK_CHILD_HELPER, args, options, child).ok());
    bool exited = false;
    int code = -1;
    EXPECT_TRUE(platform::waitChild(child, 60000, exited, code).ok());
    EXPECT_TRUE(exited);
    return code;
}

}  // namespace

TEST(Child, ExitCodeArgumentsAndOutputFile) {
    TempDir dir;
    platform::ChildOptions options;
    EXPECT_EQ(runToEnd({"exit", "42"}, options), 42);

    options.outputFile = dir.path() + "/out.txt";
    const std::vector<std::string> args = {"a b", "quote\"inside", "trailing\\", "",
                                           "Gr\xC3\xBC\xC3\x9F"
                                           "e \xE2\x82\xAC"};
    std::vector<std::string> call = {"args"};
    call.insert(call.end(), args.begin(), args.end());
    EXPECT_EQ(runToEnd(call, options), 0);
    std::string expected;
    for (const std::string& a : args) {
        expected += a + "\n";
    }
    EXPECT_EQ(readText(options.outputFile), expected);
}

TEST(Child, EnvironmentChangesReachTheChildOnly) {
    TempDir dir;
    ASSERT_TRUE(platform::setEnvironment("RAYDECK_CHILD_TEST_GONE", "parent").ok());
    platform::ChildOptions options;
    options.environment = {{"RAYDECK_CHILD_TEST", "child value"}, {"RAYDECK_CHILD_TEST_GONE", ""}};
    options.outputFile = dir.path() + "/set.txt";
    EXPECT_EQ(runToEnd({"env", "RAYDECK_CHILD_TEST"}, options), 0);
    EXPECT_EQ(readText(options.outputFile), "child value\n");
    options.outputFile = dir.path() + "/gone.txt";
    EXPECT_EQ(runToEnd({"env", "RAYDECK_CHILD_TEST_GONE"}, options), 0);
    EXPECT_EQ(readText(options.outputFile), "unset\n");

    std::string value;
    EXPECT_FALSE(platform::getEnvironment("RAYDECK_CHILD_TEST", value));
    EXPECT_TRUE(platform::getEnvironment("RAYDECK_CHILD_TEST_GONE", value));
    EXPECT_EQ(value, "parent");
    ASSERT_TRUE(platform::unsetEnvironment("RAYDECK_CHILD_TEST_GONE").ok());
    EXPECT_FALSE(platform::getEnvironment("RAYDECK_CHILD_TEST_GONE", value));
}

TEST(Child, AReplacedEnvironmentHoldsOnlyItsSettings) {
    TempDir dir;
    ASSERT_TRUE(platform::setEnvironment("RAYDECK_CHILD_TEST_INHERITED", "parent").ok());
    platform::ChildOptions options;
    options.replaceEnvironment = true;
    options.environment = {{"RAYDECK_CHILD_TEST", "first"},
                           {"RAYDECK_CHILD_TEST_EMPTY", ""},
                           {"RAYDECK_CHILD_TEST", "last"}};
    options.outputFile = dir.path() + "/env.txt";
    EXPECT_EQ(runToEnd({"env", "RAYDECK_CHILD_TEST", "RAYDECK_CHILD_TEST_EMPTY",
                        "RAYDECK_CHILD_TEST_INHERITED"},
                       options),
              0);
    EXPECT_EQ(readText(options.outputFile), "last\nunset\nunset\n");
    ASSERT_TRUE(platform::unsetEnvironment("RAYDECK_CHILD_TEST_INHERITED").ok());
}

TEST(Child, WorkingFolderNullInputAndOneFileForBothStreams) {
    TempDir dir;
    const std::string folder = dir.path() + "/work";
    ASSERT_TRUE(fs::create_directory(fs::u8path(folder)));
    platform::ChildOptions options;
    options.workingFolder = folder;
    EXPECT_EQ(runToEnd({"write", "here.txt", "in the working folder"}, options), 0);
    EXPECT_EQ(readText(folder + "/here.txt"), "in the working folder");

    // Both streams into one file keep the order of the writes: one file, not two openings of it.
    options.outputFile = options.errorFile = dir.path() + "/both.txt";
    EXPECT_EQ(runToEnd({"both"}, options), 0);
    EXPECT_EQ(readText(options.outputFile), "1\n2\n3\n");

    options.nullInput = true;
    options.errorFile = dir.path() + "/errors.txt";
    EXPECT_EQ(runToEnd({"read"}, options), 0);
    EXPECT_EQ(readText(options.outputFile), "0\n");
    EXPECT_EQ(readText(options.errorFile), "");
}

TEST(Child, FindProgramSearchesPathForANameWithoutAFolder) {
    const fs::path helper = fs::u8path(RAYDECK_CHILD_HELPER);
    std::string found;
    ASSERT_TRUE(platform::findProgram(RAYDECK_CHILD_HELPER, found).ok());
    EXPECT_EQ(found, RAYDECK_CHILD_HELPER);  // a path is taken as it is
    {
        const PathSetting path(helper.parent_path().u8string());
        ASSERT_TRUE(platform::findProgram(helper.stem().u8string(), found).ok());
        EXPECT_TRUE(fs::equivalent(fs::u8path(found), helper)) << found;
        EXPECT_EQ(platform::findProgram("raydeck-no-such-program", found).code(),
                  platform::StatusCode::not_found);
    }
    {
        TempDir dir;  // a folder of PATH that does not hold it
        const PathSetting path(dir.path());
        EXPECT_EQ(platform::findProgram(helper.stem().u8string(), found).code(),
                  platform::StatusCode::not_found);
    }
}

TEST(Child, StopIsATerminationRequestAndKillEndsAtOnce) {
    TempDir dir;
    platform::ChildOptions options;
    options.outputFile = dir.path() + "/wait.txt";
    for (const bool hard : {false, true}) {
        platform::Child child;
        ASSERT_TRUE(platform::spawnChild(RAYDECK_CHILD_HELPER, {"wait"}, options, child).ok());
        const std::int64_t id = child.id;
        // Stop only once the child handles the request (it says so).
        for (int i = 0; i < 3000 && readText(options.outputFile).empty(); ++i) {
            bool exited = false;
            int code = 0;
            ASSERT_TRUE(platform::waitChild(child, 10, exited, code).ok());
            ASSERT_FALSE(exited);
        }
        EXPECT_TRUE(platform::processRunning(id));
        ASSERT_TRUE((hard ? platform::killChild(child) : platform::stopChild(child)).ok());
        bool exited = false;
        int code = -1;
        ASSERT_TRUE(platform::waitChild(child, 30000, exited, code).ok());
        ASSERT_TRUE(exited);
        EXPECT_NE(code, 9);  // not the helper's own time-out
        if (!hard) {
            EXPECT_EQ(code, 7);
        }
        EXPECT_FALSE(platform::processRunning(id));
    }
}

TEST(Child, MissingProgramFailsOrExitsUnsuccessfully) {
    TempDir dir;
    platform::Child child;
    const platform::Status s =
        platform::spawnChild(dir.path() + "/no-such-program", {}, platform::ChildOptions{}, child);
    if (s.ok()) {  // POSIX reports the failed exec as exit code 127
        bool exited = false;
        int code = 0;
        ASSERT_TRUE(platform::waitChild(child, 30000, exited, code).ok());
        EXPECT_EQ(code, 127);
    }
}
