// The running program: its own file, its id, liveness and start time, the per-user and fresh
// temporary folders, private folders, and a termination request turned into a flag.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/program.h"

namespace fs = std::filesystem;

TEST(Program, ExecutablePathNamesThisTestProgram) {
    std::string exe;
    ASSERT_TRUE(platform::executablePath(exe).ok());
    EXPECT_TRUE(fs::is_regular_file(fs::u8path(exe)));
    EXPECT_NE(fs::u8path(exe).filename().u8string().find("test_platform"), std::string::npos);
}

TEST(Program, ArgumentsStartWithTheProgram) {
    char name[] = "prog";
    char arg[] = "x";
    char* argv[] = {name, arg, nullptr};
    const std::vector<std::string> args = platform::commandLineArguments(2, argv);
    ASSERT_FALSE(args.empty());
    if (fs::path::preferred_separator == '/') {
        EXPECT_EQ(args, (std::vector<std::string>{"prog", "x"}));  // argv as given
    } else {
        // Windows reads this process's own wide command line, which names the test program.
        EXPECT_NE(fs::u8path(args[0]).filename().u8string().find("test_platform"),
                  std::string::npos)
            << args[0];
    }
}

TEST(Program, ThisProcessRunsAndImpossibleIdsDoNot) {
    EXPECT_TRUE(platform::processRunning(platform::currentProcessId()));
    EXPECT_FALSE(platform::processRunning(0));
    EXPECT_FALSE(platform::processRunning(-5));
    EXPECT_FALSE(platform::processRunning(std::int64_t(1) << 40));
}

TEST(Program, TempFoldersAreNewAndPerUserFoldersNamed) {
    // Expectations only, so that both folders are removed whatever fails.
    std::string a;
    std::string b;
    EXPECT_TRUE(platform::makeTempFolder("raydeck-test-", a).ok());
    EXPECT_TRUE(platform::makeTempFolder("raydeck-test-", b).ok());
    EXPECT_FALSE(a.empty());
    EXPECT_NE(a, b);
    for (const std::string& made : {a, b}) {
        EXPECT_TRUE(fs::is_directory(fs::u8path(made)));
        EXPECT_TRUE(fs::is_empty(fs::u8path(made)));
        EXPECT_EQ(fs::u8path(made).filename().u8string().rfind("raydeck-test-", 0), 0u);
        std::error_code ec;
        if (!made.empty()) {
            fs::remove(fs::u8path(made), ec);
        }
    }
    std::string perUser;
    ASSERT_TRUE(platform::perUserTempFolder("raydeck", perUser).ok());
    EXPECT_NE(fs::u8path(perUser).filename().u8string().find("raydeck"), std::string::npos);
}

TEST(Program, EnvironmentKeepsNonAsciiValues) {
    const std::string value = "caf\xC3\xA9 \xE2\x82\xAC";
    ASSERT_TRUE(platform::setEnvironment("RAYDECK_PROGRAM_TEST", value).ok());
    std::string read;
    ASSERT_TRUE(platform::getEnvironment("RAYDECK_PROGRAM_TEST", read));
    EXPECT_EQ(read, value);
    ASSERT_TRUE(platform::unsetEnvironment("RAYDECK_PROGRAM_TEST").ok());
    EXPECT_FALSE(platform::getEnvironment("RAYDECK_PROGRAM_TEST", read));
}

TEST(Program, ThisProcessStartedInThePastAndUnknownIdsHaveNoStartTime) {
    std::int64_t self = 0;
    ASSERT_TRUE(platform::processStartTime(platform::currentProcessId(), self).ok());
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    EXPECT_LE(self, now + 1);
    EXPECT_GT(self, now - 24 * 3600);  // no test runs for a day
    std::int64_t none = 0;
    EXPECT_FALSE(platform::processStartTime(0, none).ok());
    EXPECT_FALSE(platform::processStartTime(std::int64_t(1) << 40, none).ok());
}

TEST(Program, FreshTempFolderIsPrivateAndMissingFolderIsNotFound) {
    std::string made;
    ASSERT_TRUE(platform::makeTempFolder("raydeck-test-", made).ok());
    EXPECT_TRUE(platform::checkPrivateFolder(made).ok());
    const std::string missing = (fs::u8path(made) / "none").u8string();
    EXPECT_EQ(platform::checkPrivateFolder(missing).code(), platform::StatusCode::not_found);
    std::error_code ec;
    fs::remove(fs::u8path(made), ec);
}
