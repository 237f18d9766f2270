// Wide-character file open and size on POSIX: `\` separators and long paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/utf.h"
#include "tests/support/TempDir.h"

namespace {

std::u16string wide(const std::string& s) {
    std::u16string w;
    EXPECT_TRUE(platform::utf8ToUtf16(s, w).ok());
    return w;
}

}  // namespace

TEST(File, BackslashIsASeparatorAndSizeIsReported) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    std::filesystem::create_directory(dir.path() + "/tex");
    FILE* f = nullptr;
    ASSERT_TRUE(platform::openFile(wide(dir.path() + "\\tex\\\xC3\xA9.txt"), u"wb+", f).ok());
    ASSERT_NE(f, nullptr);
    std::fputs("hello", f);
    std::fclose(f);
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/tex/\xC3\xA9.txt"));

    std::uint64_t size = 99;
    ASSERT_TRUE(platform::fileSize(wide(dir.path() + "\\tex\\\xC3\xA9.txt"), size).ok());
    EXPECT_EQ(size, 5u);
}

TEST(File, PathsLongerThan260UnitsWork) {
    TempDir dir;
    std::string path = dir.path();
    while (path.size() < 400) {
        path += "\\" + std::string(50, 'd');
    }
    std::string native = path;
    std::replace(native.begin(), native.end(), '\\', '/');
    std::filesystem::create_directories(native);
    path += "\\scene.rdk";
    ASSERT_GT(wide(path).size(), 260u);
    FILE* f = nullptr;
    ASSERT_TRUE(platform::openFile(wide(path), u"wb+", f).ok());
    std::fputs("x", f);
    std::fclose(f);
    std::uint64_t size = 0;
    ASSERT_TRUE(platform::fileSize(wide(path), size).ok());
    EXPECT_EQ(size, 1u);
}

TEST(File, FailuresCarryTheSystemError) {
    TempDir dir;
    FILE* f = reinterpret_cast<FILE*>(1);
    platform::Status st = platform::openFile(wide(dir.path() + "/missing/x"), u"r", f);
    EXPECT_EQ(st.code(), platform::StatusCode::not_found);
    EXPECT_EQ(st.message(), std::strerror(ENOENT));
    EXPECT_EQ(f, nullptr);

    st = platform::openFile(u"", u"wb+", f);
    EXPECT_FALSE(st.ok());
    EXPECT_EQ(f, nullptr);

    // An unpaired surrogate cannot name a file.
    st = platform::openFile(std::u16string{0xD800}, u"wb+", f);
    EXPECT_EQ(st.code(), platform::StatusCode::invalid_argument);

    std::uint64_t size = 7;
    st = platform::fileSize(wide(dir.path() + "/none"), size);
    EXPECT_EQ(st.code(), platform::StatusCode::not_found);
    EXPECT_EQ(size, 0u);
}

TEST(File, FolderOpenedForReadingCountedAsAFile) {
    // Windows refuses to open a folder as a file; the texture search relies on that answer.
    TempDir dir;
    FILE* f = reinterpret_cast<FILE*>(1);
    platform::Status st = platform::openFile(wide(dir.path()), u"r", f);
    EXPECT_FALSE(st.ok());
    EXPECT_EQ(st.message(), std::strerror(EISDIR));
    EXPECT_EQ(f, nullptr);
}

TEST(File, OpensForReadingOnlyAFileThatIsThere) {
    TempDir dir;
    const std::string path = dir.path() + "/present.bin";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_TRUE(platform::fileOpensForReading(wide(path)));
    EXPECT_FALSE(platform::fileOpensForReading(wide(dir.path() + "/missing.bin")));
    EXPECT_FALSE(platform::fileOpensForReading(wide(dir.path())));
}

// Regression: `export /dev/zero` read until the allocation failed and the tool aborted.
TEST(File, WholeFileReadsStopAtTheirLimit) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string path = dir.path() + "/ten.txt";
    FILE* f = nullptr;
    ASSERT_TRUE(platform::openFile(wide(path), u"wb", f).ok());
    std::fputs("0123456789", f);
    std::fclose(f);
    std::string text;
    bool opened = false;
    EXPECT_TRUE(platform::readWholeFile(wide(path), text, opened, 10).ok());
    EXPECT_EQ(text, "0123456789");
    const platform::Status tooLarge = platform::readWholeFile(wide(path), text, opened, 9);
    EXPECT_TRUE(opened);
    EXPECT_FALSE(tooLarge.ok());
    EXPECT_EQ(tooLarge.message(), "larger than 9 bytes");
    EXPECT_TRUE(text.empty());
    // A device without an end, where there is one: its size says nothing.
    if (std::filesystem::exists("/dev/zero")) {
        std::vector<char> bytes;
        const platform::Status endless =
            platform::readWholeFile(wide("/dev/zero"), bytes, opened, 1 << 20);
        EXPECT_EQ(endless.message(), "larger than 1048576 bytes");
        EXPECT_TRUE(bytes.empty());
    }
}
