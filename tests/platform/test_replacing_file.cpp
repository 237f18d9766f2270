// platform::ReplacingFile on POSIX: the target changes only in a successful commit; a failed
// write (file-size limit, full device), a discard, a destructor or an interrupt leaves it
// byte-identical and no temporary behind; permissions, symbolic links, devices and folders.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/interrupt.h"
#include "platform/process.h"
#include "platform/utf.h"
#include "tests/support/FileText.h"
#include "tests/support/Folders.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

std::u16string wide(const std::string& s) {
    std::u16string w;
    EXPECT_TRUE(platform::utf8ToUtf16(s, w).ok());
    return w;
}

const std::string kOlder = "the older file, which must survive\n";

}  // namespace

TEST(ReplacingFile, CommitPutsTheNewContentInPlaceKeepingPermissions) {
    TempDir dir;
    const std::string target = dir.path() + "/scene.rdk";
    std::ofstream(target) << kOlder;
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);

    platform::ReplacingFile file;
    ASSERT_TRUE(file.open(wide(dir.path() + "\\scene.rdk")).ok());
    ASSERT_NE(file.stream(), nullptr);
    EXPECT_TRUE(file.replacing());
    std::fputs("new", file.stream());
    // Nothing is visible before the commit; the temporary is the only other file.
    EXPECT_EQ(readFile(target), kOlder);
    EXPECT_EQ(namesIn(dir.path()).size(), 2u);
    ASSERT_TRUE(file.commit().ok());
    EXPECT_EQ(file.stream(), nullptr);
    EXPECT_EQ(readFile(target), "new");
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"scene.rdk"});
    struct stat info;
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(ReplacingFile, DiscardAndDestructorLeaveTheOlderFileAndNoTemporary) {
    TempDir dir;
    const std::string target = dir.path() + "/scene.rdk";
    std::ofstream(target) << kOlder;
    {
        platform::ReplacingFile file;
        ASSERT_TRUE(file.open(wide(target)).ok());
        std::fputs("half a scene", file.stream());
        file.discard();
        file.discard();  // nothing more to do
        EXPECT_FALSE(file.commit().ok());
    }
    {
        platform::ReplacingFile file;
        ASSERT_TRUE(file.open(wide(target)).ok());
        std::fputs("half a scene", file.stream());
    }
    {
        platform::ReplacingFile file;  // a new file that is never committed does not appear
        ASSERT_TRUE(file.open(wide(dir.path() + "/new.rdk")).ok());
    }
    EXPECT_EQ(readFile(target), kOlder);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"scene.rdk"});
}

// An export over a good file that hit the file-size limit part-way used to leave a truncated
// file in its place (and, without the signal ignored, end the process).
TEST(ReplacingFile, FileSizeLimitKeepsTheOlderFileByteIdentical) {
    TempDir dir;
    const std::string target = dir.path() + "/scene.rdk";
    std::ofstream(target) << kOlder;
    RunOptions options;
    options.fileSizeBytes = 4096;
    options.stdoutPath = options.stderrPath = "/dev/null";  // the folder holds only the target
    const ProgramRun run = runInChild(
        [&target] {
            if (!platform::reportWriteFailuresAsErrors().ok()) {
                return 100;
            }
            platform::ReplacingFile file;
            if (!file.open(wide(target)).ok()) {
                return 101;
            }
            const std::string block(1000, 'x');
            for (int i = 0; i < 10; ++i) {
                std::fwrite(block.data(), 1, block.size(), file.stream());
            }
            const platform::Status st = file.commit();
            return st.ok() ? 102 : st.message() == std::strerror(EFBIG) ? 0 : 103;
        },
        options);
    ASSERT_TRUE(run.exited) << "ended by signal " << run.signal;
    EXPECT_EQ(run.code, 0);
    EXPECT_TRUE(holdsOnly(dir.path(), "scene.rdk", kOlder));
}

TEST(ReplacingFile, LinksDevicesFoldersAndMissingFolders) {
    TempDir dir;
    // A symbolic link stays a link; the file it names gets the content.
    const std::string real = dir.path() + "/real.rdk", link = dir.path() + "/link.rdk";
    std::ofstream(real) << kOlder;
    fs::create_symlink(real, link);
    {
        platform::ReplacingFile file;
        ASSERT_TRUE(file.open(wide(link)).ok());
        std::fputs("through the link", file.stream());
        ASSERT_TRUE(file.commit().ok());
    }
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(real), "through the link");
    EXPECT_EQ(namesIn(dir.path()), (std::vector<std::string>{"link.rdk", "real.rdk"}));

    // A device is written directly, and its failure reported.
    if (fs::exists("/dev/full")) {
        platform::ReplacingFile file;
        ASSERT_TRUE(file.open(u"/dev/full").ok());
        EXPECT_FALSE(file.replacing());
        std::fputs("lost", file.stream());
        const platform::Status st = file.commit();
        EXPECT_EQ(st.message(), std::strerror(ENOSPC));
        EXPECT_TRUE(fs::is_character_file("/dev/full"));
    }

    platform::ReplacingFile file;
    platform::Status st = file.open(wide(dir.path()));
    EXPECT_EQ(st.message(), std::strerror(EISDIR));
    EXPECT_EQ(file.stream(), nullptr);
    st = file.open(wide(dir.path() + "/no/such/folder/x.rdk"));
    EXPECT_EQ(st.code(), platform::StatusCode::not_found);
    st = file.open(u"");
    EXPECT_EQ(st.code(), platform::StatusCode::not_found);
}

// The temporary used to be created 0666 (under the umask) and narrowed only afterwards; it is
// now private from the start and then gets what a new file would have had.
TEST(ReplacingFile, ANewFileGetsThePermissionsTheUmaskLeaves) {
    TempDir dir;
    for (const mode_t mask : {022, 077, 0}) {
        const mode_t before = ::umask(mask);
        const std::string target = dir.path() + "/new" + std::to_string(mask) + ".rdk";
        platform::ReplacingFile file;
        const bool opened = file.open(wide(target)).ok();
        const bool committed = opened && file.commit().ok();
        ::umask(before);
        ASSERT_TRUE(committed);
        struct stat info;
        ASSERT_EQ(::stat(target.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0666u & ~mask) << mask;
    }
}

// SIGINT ends with 130 and removes the temporary, also one made beside the file a symbolic link
// names, in another folder.
TEST(ReplacingFile, SigintRemovesTheTemporaryBesideTheLinkedFile) {
    TempDir dir;
    const std::string real = dir.path() + "/real", links = dir.path() + "/links";
    fs::create_directory(real);
    fs::create_directory(links);
    std::ofstream(real + "/scene.rdk") << kOlder;
    fs::create_symlink(real + "/scene.rdk", links + "/scene.rdk");
    RunOptions options;
    options.outputFolder = dir.path();
    const ProgramRun run = runInChild(
        [&links] {
            const std::string target = links + "/scene.rdk";
            platform::ReplacingFile file;
            if (!platform::exitOnInterrupt("interrupted-test").ok() ||
                !platform::removeTemporariesOnInterrupt(target).ok() ||
                !file.open(wide(target)).ok()) {
                return 3;
            }
            std::fputs("half a scene", file.stream());
            std::fflush(file.stream());
            std::raise(SIGINT);
            return 9;
        },
        options);
    ASSERT_TRUE(run.exited) << "ended by signal " << run.signal;
    EXPECT_EQ(run.code, 130);
    EXPECT_EQ(run.err, "interrupted-test: interrupted\n");
    EXPECT_TRUE(holdsOnly(real, "scene.rdk", kOlder));
    EXPECT_EQ(namesIn(links), std::vector<std::string>{"scene.rdk"});
}
