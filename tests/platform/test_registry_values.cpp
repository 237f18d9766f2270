// The registry as the product reads it, with the same expectations on every system: here the
// keys stand in a `.reg` file that RAYDECK_REGISTRY names; under Wine the same text is imported
// into the real registry by regedit, and the keys are deleted again when the test ends. So the
// file backend is held to what the Windows calls do.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

#include "platform/child.h"
#include "platform/program.h"
#include "platform/registry.h"
#include "platform/utf.h"
#include "tests/support/RegistryFile.h"
#include "tests/support/TempDir.h"

namespace {

using platform::RegistryKey;
using platform::RegistryRoot;
namespace fs = std::filesystem;

constexpr RegistryRoot kUser = RegistryRoot::current_user;
constexpr RegistryRoot kMachine = RegistryRoot::local_machine;

class RegistryValues : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        // The folder's own name is unique, so the keys of one test never meet another's.
        base_ = "Software\\RaydeckPlatformTests\\" + fs::u8path(dir_.path()).filename().u8string();
        file_ = dir_.path() + "/registry.reg";
        ASSERT_TRUE(platform::setEnvironment("RAYDECK_REGISTRY", file_).ok());
        std::string ignored;
        realRegistry_ = !platform::registryFile(ignored).ok();
    }
    void TearDown() override {
        if (realRegistry_ && imported_) {
            importText("[-HKEY_CURRENT_USER\\" + base_ + "]\r\n\r\n[-HKEY_LOCAL_MACHINE\\" + base_ +
                       "]\r\n");
        }
        platform::unsetEnvironment("RAYDECK_REGISTRY");
    }

    // Sections and values under the test's own key, which the text names `{user}` under the
    // current user and `{machine}` under the local machine; lines end in CR LF as regedit's do.
    void install(const std::string& body) {
        std::string text;
        for (size_t i = 0; i < body.size(); ++i) {
            if (body.compare(i, 6, "{user}") == 0) {
                text += "HKEY_CURRENT_USER\\" + base_;
                i += 5;
            } else if (body.compare(i, 9, "{machine}") == 0) {
                text += "HKEY_LOCAL_MACHINE\\" + base_;
                i += 8;
            } else if (body[i] == '\n') {
                text += "\r\n";
            } else {
                text += body[i];
            }
        }
        importText(text);
    }

    // The key's path below its root, as the product names one.
    std::u16string key(const std::string& below = "") const {
        std::u16string w;
        EXPECT_TRUE(platform::utf8ToUtf16(base_ + below, w).ok());
        return w;
    }

    std::u16string text(RegistryRoot root, const std::u16string& path, const std::u16string& name,
                        std::size_t bytes = 2048) {
        RegistryKey k = nullptr;
        if (!platform::openRegistryKey(root, path, k).ok()) {
            return u"<no key>";
        }
        std::u16string out = u"<untouched>";
        const bool ok = platform::readRegistryString(k, name, bytes, out).ok();
        platform::closeRegistryKey(k);
        if (!ok) {
            return out.empty() ? u"<fails>" : u"<fails, leaves " + out + u">";
        }
        return out;
    }
    std::optional<std::uint32_t> dword(RegistryRoot root, const std::u16string& path,
                                       const std::u16string& name) {
        RegistryKey k = nullptr;
        if (!platform::openRegistryKey(root, path, k).ok()) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        const bool ok = platform::readRegistryDword(k, name, value).ok();
        platform::closeRegistryKey(k);
        return ok ? std::optional<std::uint32_t>(value) : std::nullopt;
    }

  private:
    // Version 5.00 text in UTF-16LE with its byte order mark, as regedit writes it and reads
    // non-ASCII names; into the file, or through regedit into the registry.
    void importText(const std::string& body) {
        std::u16string wide;
        ASSERT_TRUE(
            platform::utf8ToUtf16("Windows Registry Editor Version 5.00\r\n\r\n" + body, wide)
                .ok());
        {
            std::ofstream out(fs::u8path(file_), std::ios::binary | std::ios::trunc);
            out << regUtf16(wide);
        }
        imported_ = true;
        if (!realRegistry_) {
            return;
        }
        std::string systemRoot;
        ASSERT_TRUE(platform::getEnvironment("SystemRoot", systemRoot));
        platform::Child child;
        const platform::Status started =
            platform::spawnChild(systemRoot + "\\regedit.exe", {"/s", file_}, {}, child);
        ASSERT_TRUE(started.ok()) << started.message();
        bool exited = false;
        int code = -1;
        ASSERT_TRUE(platform::waitChild(child, 60000, exited, code).ok());
        ASSERT_TRUE(exited && code == 0) << "regedit: " << code;
    }

    TempDir dir_;
    std::string base_;
    std::string file_;
    bool realRegistry_ = false;
    bool imported_ = false;
};

TEST_F(RegistryValues, TextsAndNumbersReadAsStored) {
    install(
        "[{user}]\n"
        "\"Plain\"=\"C:\\\\Program Files\\\\Raydeck 7\"\n"
        "\"Accents\"=\"Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC \xE6\x97\xA5\"\n"
        "\"Empty\"=\"\"\n"
        "@=\"the default\"\n"
        "\"Count\"=dword:0000002a\n"
        "\"Top\"=dword:ffffffff\n"
        "\"Path\"=hex(2):25,00,41,00,25,00,00,00\n"
        "\n");
    EXPECT_EQ(text(kUser, key(), u"Plain"), u"C:\\Program Files\\Raydeck 7");
    EXPECT_EQ(text(kUser, key(), u"Accents"), u"Gr\u00fc\u00dfe \u20ac \u65e5");
    EXPECT_EQ(text(kUser, key(), u"Empty"), u"");
    EXPECT_EQ(text(kUser, key(), u""), u"the default");
    EXPECT_EQ(text(kUser, key(), u"Path"), u"%A%");  // an expandable text is not expanded
    EXPECT_EQ(dword(kUser, key(), u"Count"), 42u);
    EXPECT_EQ(dword(kUser, key(), u"Top"), 0xFFFFFFFFu);
}

TEST_F(RegistryValues, WrongTypesMissingValuesAndMissingKeysFail) {
    install("[{user}]\n\"Text\"=\"7\"\n\"Number\"=dword:00000007\n\"Bytes\"=hex:01,02\n\n");
    EXPECT_EQ(dword(kUser, key(), u"Text"), std::nullopt);
    EXPECT_EQ(text(kUser, key(), u"Number"), u"<fails>");
    EXPECT_EQ(text(kUser, key(), u"Bytes"), u"<fails>");
    EXPECT_EQ(text(kUser, key(), u"Nothing"), u"<fails>");
    EXPECT_EQ(dword(kUser, key(), u"Nothing"), std::nullopt);

    RegistryKey k = reinterpret_cast<RegistryKey>(1);
    const platform::Status missing = platform::openRegistryKey(kUser, key("\\Absent"), k);
    EXPECT_EQ(missing.code(), platform::StatusCode::not_found) << missing.message();
    EXPECT_FALSE(missing.message().empty());
    EXPECT_EQ(k, nullptr);
    // The same path under the other root is another key.
    EXPECT_EQ(text(kMachine, key(), u"Text"), u"<no key>");
}

// The value with its NUL must fit the caller's buffer, as it must fit the buffer of the Windows
// call; a value that does not leaves the answer empty.
TEST_F(RegistryValues, TextMustFitTheBufferWithItsNul) {
    install("[{user}]\n\"Ten\"=\"0123456789\"\n\n");
    EXPECT_EQ(text(kUser, key(), u"Ten", 22), u"0123456789");
    EXPECT_EQ(text(kUser, key(), u"Ten", 21), u"<fails>");
    EXPECT_EQ(text(kUser, key(), u"Ten", 2), u"<fails>");
}

// Names compare without case; a trailing `\` is ignored; a key's parents exist with it; a
// deletion in a later section takes the key and those below it.
TEST_F(RegistryValues, KeysByPathParentsCaseAndDeletion) {
    install(
        "[{user}\\Deep\\Below\\Leaf]\n\"Value\"=\"leaf\"\n\n"
        "[{user}\\Gone\\Child]\n\"Value\"=\"gone\"\n\n"
        "[-{user}\\Gone]\n\n"
        "[{machine}\\Machine]\n\"Value\"=\"machine\"\n\n");
    EXPECT_EQ(text(kUser, key("\\deep\\BELOW\\leaf\\"), u"VALUE"), u"leaf");
    EXPECT_EQ(text(kUser, key("\\Deep\\Below"), u"Value"), u"<fails>");  // exists, no value
    EXPECT_EQ(text(kUser, key("\\Gone\\Child"), u"Value"), u"<no key>");
    EXPECT_EQ(text(kUser, key("\\Gone"), u"Value"), u"<no key>");
    EXPECT_EQ(text(kMachine, key("\\Machine"), u"Value"), u"machine");
}

// A scoped key closes once, whoever holds it last (the sanitized run catches a double close).
TEST_F(RegistryValues, ScopedKeyMovesAndClosesOnce) {
    install("[{user}]\n\"N\"=dword:00000007\n\n");
    RegistryKey opened = nullptr;
    ASSERT_TRUE(platform::openRegistryKey(kUser, key(), opened).ok());
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

}  // namespace
