// platform::ReplacingFile on every system: the temporary's name (its target's and its process's,
// and short enough for a target of the longest legal name), devices written directly, what is
// refused, and an interrupt that removes the temporary. Runs under Wine too.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/child.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/program.h"
#include "platform/utf.h"
#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

std::u16string wide(const std::string& s) {
    std::u16string w;
    EXPECT_TRUE(platform::utf8ToUtf16(s, w).ok());
    return w;
}

std::vector<std::string> names(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(fs::u8path(folder))) {
        out.push_back(e.path().filename().u8string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

const std::string kOlder = "the older file, which must survive\n";

}  // namespace

TEST(ReplacingFileNames, TheTemporaryNamesItsTargetAndItsProcess) {
    TempDir dir;
    platform::ReplacingFile file;
    ASSERT_TRUE(file.open(wide(dir.path() + "/scene.rdk")).ok());
    char expected[64];
    std::snprintf(expected, sizeof expected, ".scene.rdk.%08x0000.partial",
                  static_cast<unsigned>(platform::currentProcessId()));
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{expected});
    file.discard();
    EXPECT_TRUE(names(dir.path()).empty());
}

// Names of 234 to 255 bytes used to be refused: the temporary added 22 bytes to them.
TEST(ReplacingFileNames, TargetsOfTheLongestLegalNameAreReplaced) {
    std::string cjk;
    for (int i = 0; i < 85; ++i) {
        cjk += "\xE6\xBC\xA2";  // 255 bytes in UTF-8, 85 units in UTF-16
    }
    for (const std::string& name : {std::string(255, 'a'), cjk}) {
        TempDir dir;
        const std::string target = dir.path() + "/" + name;
        std::ofstream(fs::u8path(target), std::ios::binary) << kOlder;
        platform::ReplacingFile file;
        const platform::Status st = file.open(wide(target));
        ASSERT_TRUE(st.ok()) << st.message();
        const std::vector<std::string> during = names(dir.path());
        ASSERT_EQ(during.size(), 2u);
        const std::string& temporary = during[0] == name ? during[1] : during[0];
        EXPECT_EQ(temporary.compare(0, 31, "." + name.substr(0, 30)), 0) << temporary;
        EXPECT_TRUE(endsWith(temporary, ".partial")) << temporary;
        std::fputs("new", file.stream());
        ASSERT_TRUE(file.commit().ok());
        EXPECT_EQ(readFile(fs::u8path(target)), "new");
        EXPECT_EQ(names(dir.path()), std::vector<std::string>{name});
    }
}

TEST(ReplacingFileNames, DevicesAreWrittenDirectly) {
    const bool windows = fs::path::preferred_separator == '\\';
    const std::u16string device = windows ? u"NUL" : u"/dev/null";
    platform::ReplacingFile file;
    const platform::Status st = file.open(device);
    ASSERT_TRUE(st.ok()) << st.message();
    EXPECT_FALSE(file.replacing());
    std::fputs("gone", file.stream());
    EXPECT_TRUE(file.commit().ok());
}

// The policy around the system calls exists once: a folder, and a file that opening for writing
// refuses, are refused alike; a taken temporary name is skipped, and when all a hundred are taken
// the open fails and the older file stays.
TEST(ReplacingFileNames, RefusalsAndTakenNamesAreAlikeOnEverySystem) {
    TempDir dir;
    const std::string target = dir.path() + "/scene.rdk";
    platform::ReplacingFile file;
    EXPECT_EQ(file.open(wide(dir.path())).message(), std::strerror(EISDIR));
    std::ofstream(fs::u8path(target), std::ios::binary) << kOlder;
    fs::permissions(fs::u8path(target),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    FILE* probe = nullptr;
    const platform::Status direct = platform::openFile(wide(target), u"r+b", probe);
    if (probe != nullptr) {
        std::fclose(probe);  // a user the system lets write anything
    } else {
        EXPECT_EQ(file.open(wide(target)).message(), direct.message());
        EXPECT_EQ(names(dir.path()), std::vector<std::string>{"scene.rdk"});
    }
    fs::permissions(fs::u8path(target), fs::perms::owner_write, fs::perm_options::add);

    const auto taken = [&](unsigned attempt) {
        char name[64];
        std::snprintf(name, sizeof name, ".scene.rdk.%08x%04x.partial",
                      static_cast<unsigned>(platform::currentProcessId()), attempt);
        std::ofstream(fs::u8path(dir.path() + "/" + name)) << "another's";
    };
    taken(0);
    ASSERT_TRUE(file.open(wide(target)).ok());
    std::fputs("new", file.stream());
    ASSERT_TRUE(file.commit().ok());
    EXPECT_EQ(readFile(fs::u8path(target)), "new");
    for (unsigned attempt = 1; attempt < 100; ++attempt) {
        taken(attempt);
    }
    EXPECT_EQ(file.open(wide(target)).message(), std::strerror(EEXIST));
    EXPECT_EQ(file.stream(), nullptr);
    EXPECT_EQ(readFile(fs::u8path(target)), "new");
    EXPECT_EQ(names(dir.path()).size(), 101u);
}

// Ctrl-C or a kill during an export used to leave its temporary, up to the scene's size, beside
// the target for good.
TEST(ReplacingFileNames, AnInterruptRemovesTheTemporaryAndExitsWithTheSignalsCode) {
    TempDir dir;
    const std::string folder = dir.path() + "/out";
    fs::create_directory(fs::u8path(folder));
    const std::string target = folder + "/scene.rdk";
    std::ofstream(fs::u8path(target), std::ios::binary) << kOlder;
    platform::ChildOptions options;
    options.outputFile = dir.path() + "/stdout.txt";
    options.errorFile = dir.path() + "/stderr.txt";
    platform::Child child;
    ASSERT_TRUE(
        platform::spawnChild(RAYDECK_CHILD_HELPER, {"interrupt", target}, options, child).ok());
    for (int i = 0; i < 1000 && readFile(fs::u8path(options.outputFile)).empty(); ++i) {
        platform::sleepMs(10);
    }
    EXPECT_EQ(names(folder).size(), 2u);  // the target and the temporary being written
    ASSERT_TRUE(platform::stopChild(child).ok());
    bool exited = false;
    int code = -1;
    ASSERT_TRUE(platform::waitChild(child, 30000, exited, code).ok());
    if (!exited) {
        platform::killChild(child);
        platform::waitChild(child, 30000, exited, code);
        FAIL() << "the child did not end on the interrupt";
    }
    EXPECT_EQ(code, 143);
    std::string err = readFile(fs::u8path(options.errorFile));
    err.erase(std::remove(err.begin(), err.end(), '\r'), err.end());
    EXPECT_EQ(err, "child_helper: interrupted\n");
    EXPECT_EQ(names(folder), std::vector<std::string>{"scene.rdk"});
    EXPECT_EQ(readFile(fs::u8path(target)), kOlder);
}
