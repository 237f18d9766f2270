// The registry on POSIX: a `.reg` file named by RAYDECK_REGISTRY or found under the home folder
// stands for the Windows registry: where the file is found, its encodings, and what is refused in
// its place. What the text means is tested from strings in test_regfile; what the product reads,
// on every system, in test_registry_values.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "platform/registry.h"
#include "tests/support/RegistryFile.h"
#include "tests/support/TempDir.h"

namespace {

using platform::RegistryKey;
using platform::RegistryRoot;

// Points RAYDECK_REGISTRY at a file in a fresh folder for the length of one test.
class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        path_ = dir_.path() + "/registry.reg";
        ::setenv("RAYDECK_REGISTRY", path_.c_str(), 1);
    }
    void TearDown() override { ::unsetenv("RAYDECK_REGISTRY"); }

    void write(const std::string& bytes) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    // The text as regedit writes version 5.00 files: UTF-16LE with a byte order mark.
    void writeUtf16(const std::u16string& text) { write(regUtf16(text)); }

    bool open(RegistryRoot root, const std::u16string& path, RegistryKey& key) {
        return platform::openRegistryKey(root, path, key).ok();
    }
    std::u16string text(RegistryRoot root, const std::u16string& path, const std::u16string& name,
                        std::size_t bytes = 2048) {
        RegistryKey key = nullptr;
        if (!open(root, path, key)) {
            return u"<no key>";
        }
        std::u16string out;
        const bool ok = platform::readRegistryString(key, name, bytes, out).ok();
        platform::closeRegistryKey(key);
        return ok ? out : u"<fails>";
    }
    // The number, or nothing when the key or the value is missing or not a number.
    std::optional<std::uint32_t> dword(RegistryRoot root, const std::u16string& path,
                                       const std::u16string& name) {
        RegistryKey key = nullptr;
        if (!open(root, path, key)) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        const bool ok = platform::readRegistryDword(key, name, value).ok();
        platform::closeRegistryKey(key);
        return ok ? std::optional<std::uint32_t>(value) : std::nullopt;
    }

    TempDir dir_;
    std::string path_;
};

constexpr RegistryRoot kUser = RegistryRoot::current_user;
constexpr RegistryRoot kMachine = RegistryRoot::local_machine;

// The backend reads the file again at every open, in either encoding regedit writes.
TEST_F(Registry, FileReadAgainAtEachOpenInEitherEncoding) {
    writeUtf16(
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvik]\r\n"
        u"\"RaydeckVersion\"=\"Raydeck \u00e97\"\r\n");
    EXPECT_EQ(text(kMachine, u"SOFTWARE\\Tarvik", u"RaydeckVersion"), u"Raydeck \u00e97");
    write("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"2\"\n");
    EXPECT_EQ(text(kMachine, u"A", u"v"), u"2");
    EXPECT_EQ(text(kMachine, u"SOFTWARE\\Tarvik", u"RaydeckVersion"), u"<no key>");
}

TEST_F(Registry, MissingFileOrNoHeaderFindsNothing) {
    RegistryKey key = nullptr;
    EXPECT_EQ(platform::openRegistryKey(kUser, u"", key).code(), platform::StatusCode::not_found);
    write("[HKEY_CURRENT_USER\\K]\n\"v\"=\"1\"\n");
    EXPECT_EQ(platform::openRegistryKey(kUser, u"K", key).code(), platform::StatusCode::not_found);
    EXPECT_EQ(key, nullptr);
}

// Restores an environment variable when the test ends.
class SavedEnv {
  public:
    explicit SavedEnv(const char* name) : name_(name) {
        const char* v = std::getenv(name);
        had_ = v != nullptr;
        value_ = had_ ? v : "";
    }
    ~SavedEnv() {
        if (had_) {
            ::setenv(name_, value_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

  private:
    const char* name_;
    bool had_ = false;
    std::string value_;
};

TEST(RegistryLocation, DefaultsUnderTheConfigFolderThenHome) {
    TempDir dir;
    SavedEnv registry("RAYDECK_REGISTRY");
    SavedEnv config("XDG_CONFIG_HOME");
    SavedEnv home("HOME");
    ::unsetenv("RAYDECK_REGISTRY");
    std::filesystem::create_directories(dir.path() + "/xdg/raydeck");
    std::filesystem::create_directories(dir.path() + "/home/.config/raydeck");
    std::ofstream(dir.path() + "/xdg/raydeck/registry.reg") << "REGEDIT4\n[HKEY_CURRENT_USER\\X]\n";
    std::ofstream(dir.path() + "/home/.config/raydeck/registry.reg")
        << "REGEDIT4\n[HKEY_CURRENT_USER\\H]\n";
    ::setenv("XDG_CONFIG_HOME", (dir.path() + "/xdg").c_str(), 1);
    ::setenv("HOME", (dir.path() + "/home").c_str(), 1);

    RegistryKey key = nullptr;
    EXPECT_TRUE(platform::openRegistryKey(kUser, u"X", key).ok());
    platform::closeRegistryKey(key);
    EXPECT_FALSE(platform::openRegistryKey(kUser, u"H", key).ok());
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_TRUE(platform::openRegistryKey(kUser, u"H", key).ok());
    platform::closeRegistryKey(key);
}

}  // namespace

namespace {

// A FIFO in the registry file's place once blocked every open until something wrote into it;
// a file far larger than any registry was read whole. Both are refused at once.
TEST_F(Registry, FifoOrHugeFileIsRefusedWithoutWaiting) {
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    RegistryKey key = nullptr;
    const platform::Status fifo = platform::openRegistryKey(kUser, u"K", key);
    EXPECT_EQ(fifo.code(), platform::StatusCode::not_found);
    EXPECT_NE(fifo.message().find("not a regular file"), std::string::npos) << fifo.message();
    std::filesystem::remove(path_);
    {
        std::ofstream out(path_, std::ios::binary);
        out << "REGEDIT4\n\n[HKEY_CURRENT_USER\\K]\n\"v\"=\"1\"\n";
    }
    EXPECT_EQ(text(kUser, u"K", u"v"), u"1");
    std::filesystem::resize_file(path_, (16u << 20) + 1);
    EXPECT_EQ(platform::openRegistryKey(kUser, u"K", key).code(), platform::StatusCode::io_error);
    EXPECT_EQ(key, nullptr);
}

}  // namespace
