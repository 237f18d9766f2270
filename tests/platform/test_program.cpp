// The running program: its own file, its id, liveness and start time, the per-user and fresh
// temporary folders, private folders, and a termination request turned into a flag.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/program.h"
#include "tests/support/TempDir.h"

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

TEST(Program, StartTimesOrderProcessesAndUnknownIdsHaveNone) {
    std::int64_t self = 0;
    ASSERT_TRUE(platform::processStartTime(platform::currentProcessId(), self).ok());
    const std::int64_t now = static_cast<std::int64_t>(::time(nullptr));
    EXPECT_LE(self, now + 1);
    EXPECT_GT(self, now - 24 * 3600);  // no test runs for a day
    ::sleep(1);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    std::int64_t later = 0;
    const bool known = platform::processStartTime(child, later).ok();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ASSERT_TRUE(known);
    EXPECT_GE(later, self);
    EXPECT_LE(later, static_cast<std::int64_t>(::time(nullptr)) + 1);
    std::int64_t none = 0;
    EXPECT_FALSE(platform::processStartTime(child, none).ok());  // reaped: gone
    EXPECT_FALSE(platform::processStartTime(0, none).ok());
    EXPECT_FALSE(platform::processStartTime(std::int64_t(1) << 40, none).ok());
}

// A folder is private when this user owns it and no one else may write into it; a link to a
// private folder is not (its target can be changed by whoever owns the link's folder).
TEST(Program, PrivateFoldersAreOwnedAndNotWritableByOthers) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    EXPECT_TRUE(platform::checkPrivateFolder(dir.path()).ok());
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    EXPECT_TRUE(platform::checkPrivateFolder(dir.path()).ok());
    for (mode_t open : {0770, 0757, 01777}) {
        ASSERT_EQ(::chmod(dir.path().c_str(), open), 0);
        const platform::Status st = platform::checkPrivateFolder(dir.path());
        EXPECT_EQ(st.code(), platform::StatusCode::invalid_argument) << open;
        EXPECT_NE(st.message().find("may be written by other users"), std::string::npos)
            << st.message();
    }
    ASSERT_EQ(::chmod(dir.path().c_str(), 0700), 0);
    const std::string file = dir.path() + "/file";
    std::ofstream(file) << "x";
    const std::string link = dir.path() + "/link";
    fs::create_directory_symlink(dir.path(), link);
    EXPECT_NE(platform::checkPrivateFolder(file).message().find("is not a folder"),
              std::string::npos);
    EXPECT_NE(platform::checkPrivateFolder(link).message().find("is a symbolic link"),
              std::string::npos);
    EXPECT_EQ(platform::checkPrivateFolder(dir.path() + "/none").code(),
              platform::StatusCode::not_found);
    // A folder of another user: the system's root folder, unless the tests run as root.
    if (::geteuid() != 0) {
        EXPECT_NE(platform::checkPrivateFolder("/").message().find("belongs to user 0"),
                  std::string::npos);
    }
}
