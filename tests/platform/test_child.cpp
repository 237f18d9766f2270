// Child processes: exit codes, arguments with spaces, quotes and non-ASCII text, environment
// changes for the child only, output files, a termination request that the child handles, a
// hard stop, and a program that does not exist.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "platform/child.h"
#include "platform/program.h"
#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"

namespace {

std::string readText(const std::string& path) {
    std::string s = readFile(std::filesystem::u8path(path));
    s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());  // text mode on Windows
    return s;
}

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
