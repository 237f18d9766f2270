// The registry on POSIX: `.reg` files in both formats stand for the Windows registry.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "platform/registry.h"
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
    void writeUtf16(const std::u16string& text) {
        std::string bytes = "\xFF\xFE";
        for (char16_t u : text) {
            bytes += static_cast<char>(u & 0xFF);
            bytes += static_cast<char>(u >> 8);
        }
        write(bytes);
    }

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

TEST_F(Registry, Regedit4TextDwordDefaultAndEscapes) {
    write(
        "REGEDIT4\r\n\r\n"
        "; a comment\r\n"
        "[HKEY_CURRENT_USER\\SOFTWARE\\Tarvik\\Raydeck 7]\r\n"
        "@=\"the default\"\r\n"
        "\"BinName\"=\"C:\\\\Programs\\\\Raydeck 7\\\\bin\\\\raydeck.exe\"\r\n"
        "\"Quoted\"=\"say \\\"hi\\\"\"\r\n"
        "\"Accent\"=\"caf\xC3\xA9\"\r\n"
        "\"LiveLinkPort\"=dword:0000238c\r\n");
    EXPECT_EQ(text(kUser, u"SOFTWARE\\Tarvik\\Raydeck 7", u"BinName"),
              u"C:\\Programs\\Raydeck 7\\bin\\raydeck.exe");
    EXPECT_EQ(text(kUser, u"SOFTWARE\\Tarvik\\Raydeck 7", u""), u"the default");
    EXPECT_EQ(text(kUser, u"SOFTWARE\\Tarvik\\Raydeck 7", u"Quoted"), u"say \"hi\"");
    EXPECT_EQ(text(kUser, u"SOFTWARE\\Tarvik\\Raydeck 7", u"Accent"), u"caf\u00e9");
    EXPECT_EQ(dword(kUser, u"software\\TARVIK\\raydeck 7\\", u"livelinkport"), 0x238cu);
}

// A scoped key closes once, whoever holds it last (the sanitized run catches a double close).
TEST_F(Registry, ScopedKeyMovesAndClosesOnce) {
    write("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n\"N\"=dword:00000007\r\n");
    RegistryKey opened = nullptr;
    ASSERT_TRUE(open(kUser, u"Software\\A", opened));
    platform::ScopedRegistryKey first(opened);
    platform::ScopedRegistryKey second(std::move(first));
    EXPECT_FALSE(first);
    ASSERT_TRUE(second);
    std::uint32_t n = 0;
    EXPECT_TRUE(platform::readRegistryDword(second.get(), u"N", n).ok());
    EXPECT_EQ(n, 7u);
    first = std::move(second);
    EXPECT_TRUE(platform::readRegistryDword(first.get(), u"N", n).ok());
    RegistryKey kept = first.release();
    EXPECT_FALSE(first);
    EXPECT_TRUE(platform::closeRegistryKey(kept).ok());
}

TEST_F(Registry, Version5AsUtf16WithBomAndAsUtf8) {
    const std::u16string body =
        u"Windows Registry Editor Version 5.00\r\n\r\n"
        u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarvik]\r\n"
        u"\"RaydeckVersion\"=\"Raydeck \u00e97\"\r\n";
    writeUtf16(body);
    EXPECT_EQ(text(kMachine, u"SOFTWARE\\Tarvik", u"RaydeckVersion"), u"Raydeck \u00e97");
    EXPECT_EQ(text(kUser, u"SOFTWARE\\Tarvik", u"RaydeckVersion"), u"<no key>");

    write(
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\"\n");
    EXPECT_EQ(text(kMachine, u"A", u"v"), u"1");
    write("Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"2\"\n");
    EXPECT_EQ(text(kMachine, u"A", u"v"), u"2");  // the file is read again at each open
}

TEST_F(Registry, HexValuesAcrossLinesAndTheirTypes) {
    // "%R%\x" as expand string in UTF-16LE, continued over two lines.
    write(
        "Windows Registry Editor Version 5.00\n"
        "[HKEY_CURRENT_USER\\K]\n"
        "\"Exp\"=hex(2):25,00,52,00,25,00,\\\n"
        "  5c,00,78,00,00,00\n"
        "\"Bin\"=hex:01,02,03\n"
        "\"D4\"=hex(4):8c,23,00,00\n");
    EXPECT_EQ(text(kUser, u"K", u"Exp"), u"%R%\\x");
    EXPECT_EQ(text(kUser, u"K", u"Bin"), u"<fails>");
    EXPECT_EQ(dword(kUser, u"K", u"D4"), 0x238cu);
    EXPECT_EQ(dword(kUser, u"K", u"Bin"), std::nullopt);

    // REGEDIT4 writes the string kinds of hex data as 8-bit text.
    write("REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"Exp\"=hex(2):25,52,25,00\n");
    EXPECT_EQ(text(kUser, u"K", u"Exp"), u"%R%");
}

TEST_F(Registry, WrongTypesFailBothWays) {
    write("REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"Text\"=\"9\"\n\"Num\"=dword:00000009\n");
    RegistryKey key = nullptr;
    ASSERT_TRUE(open(kUser, u"K", key));
    // "9" is 4 bytes with its NUL: a read without a type check would take it as the number 57.
    std::uint32_t v = 1234;
    EXPECT_EQ(platform::readRegistryDword(key, u"Text", v).code(),
              platform::StatusCode::invalid_argument);
    EXPECT_EQ(v, 1234u);
    std::u16string s = u"x";
    EXPECT_FALSE(platform::readRegistryString(key, u"Num", 2048, s).ok());
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(platform::readRegistryString(key, u"Missing", 2048, s).code(),
              platform::StatusCode::not_found);
    platform::closeRegistryKey(key);
}

TEST_F(Registry, StringMustFitBufferWithItsNul) {
    write(
        "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n\"V\"=\"abcd\"\n"
        "\"NoNul\"=hex(1):61,00,62,00\n");
    EXPECT_EQ(text(kUser, u"K", u"V", 10), u"abcd");  // (4 + 1) * 2
    EXPECT_EQ(text(kUser, u"K", u"V", 9), u"<fails>");
    EXPECT_EQ(text(kUser, u"K", u"V", 0), u"<fails>");
    // Stored without a NUL: 4 bytes of data still need 6 to come back terminated.
    EXPECT_EQ(text(kUser, u"K", u"NoNul", 6), u"ab");
    EXPECT_EQ(text(kUser, u"K", u"NoNul", 5), u"<fails>");
}

TEST_F(Registry, KeysExistThroughSectionsAndParentsAndDeletions) {
    write(
        "REGEDIT4\n"
        "[HKEY_CURRENT_USER\\A\\B\\C]\n"
        "\"v\"=\"1\"\n"
        "\"gone\"=\"x\"\n"
        "\"gone\"=-\n"
        "[HKEY_CURRENT_USER\\X\\Y]\n"
        "[-HKEY_CURRENT_USER\\X]\n"
        "[HKEY_CURRENT_USER\\X2]\n"
        "[HKEY_CLASSES_ROOT\\A]\n"
        "\"v\"=\"foreign\"\n");
    RegistryKey key = nullptr;
    EXPECT_TRUE(open(kUser, u"A", key));
    platform::closeRegistryKey(key);
    EXPECT_TRUE(open(kUser, u"A\\B", key));
    platform::closeRegistryKey(key);
    EXPECT_EQ(text(kUser, u"A\\B\\C", u"v"), u"1");
    EXPECT_EQ(text(kUser, u"A\\B\\C", u"gone"), u"<fails>");
    EXPECT_FALSE(open(kUser, u"X", key));
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(open(kUser, u"X\\Y", key));
    EXPECT_TRUE(open(kUser, u"X2", key));  // a prefix of a deleted name is another key
    platform::closeRegistryKey(key);
    EXPECT_FALSE(open(kUser, u"A\\B\\C\\D", key));
    EXPECT_FALSE(open(kMachine, u"A", key));
}

TEST_F(Registry, MalformedLinesAreSkipped) {
    write(
        "REGEDIT4\n"
        "[HKEY_CURRENT_USER\\K]\n"
        "\"Unclosed=\"x\"\n"
        "\"Bad\"=dword:xyz\n"
        "\"Long\"=dword:123456789\n"
        "\"BadHex\"=hex:1,2g,3\n"
        "garbage line\n"
        "\"Trail\"=\"a\" b\n"
        "\"Good\"=\"yes\"\n"
        "[HKEY_CURRENT_USER\\Broken\n"
        "\"Lost\"=\"a value under a broken section name goes nowhere\"\n"
        "\"End\"=hex:01,\\\n");
    EXPECT_EQ(text(kUser, u"K", u"Good"), u"yes");
    EXPECT_EQ(text(kUser, u"K", u"Lost"), u"<fails>");
    EXPECT_EQ(dword(kUser, u"K", u"Bad"), std::nullopt);
    EXPECT_EQ(dword(kUser, u"K", u"Long"), std::nullopt);
    EXPECT_EQ(text(kUser, u"K", u"Trail"), u"<fails>");
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
