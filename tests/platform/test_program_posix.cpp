// The running program on POSIX: start times of processes this test starts, and private folders
// by their mode, owner and kind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/child.h"
#include "platform/program.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

TEST(ProgramPosix, ALaterProcessStartedLaterAndAReapedOneHasNoStartTime) {
    std::int64_t self = 0;
    ASSERT_TRUE(platform::processStartTime(platform::currentProcessId(), self).ok());
    TempDir dir;
    platform::ChildOptions quiet;
    quiet.outputFile = dir.path() + "/wait.txt";
    platform::Child child;
    ASSERT_TRUE(platform::spawnChild(RAYDECK_CHILD_HELPER, {"wait"}, quiet, child).ok());
    const std::int64_t id = child.id;
    std::int64_t later = 0;
    const bool known = platform::processStartTime(id, later).ok();
    bool exited = false;
    int code = 0;
    ASSERT_TRUE(platform::killChild(child).ok());
    ASSERT_TRUE(platform::waitChild(child, -1, exited, code).ok());
    ASSERT_TRUE(known);
    EXPECT_GE(later, self);
    EXPECT_LE(later, static_cast<std::int64_t>(::time(nullptr)) + 1);
    std::int64_t none = 0;
    EXPECT_FALSE(platform::processStartTime(id, none).ok());  // reaped: gone
}

// A folder is private when this user owns it and no one else may write into it; a link to a
// private folder is not (its target can be changed by whoever owns the link's folder).
TEST(ProgramPosix, PrivateFoldersAreOwnedAndNotWritableByOthers) {
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
