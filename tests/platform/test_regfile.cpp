// A `.reg` text read from a string, as the POSIX registry reads its file: both formats and
// encodings, the data kinds, sections that create and delete keys, and the checks a read makes.
// Runs on every build, Windows included, as it needs no file.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/regfile.h"
#include "tests/support/RegistryFile.h"

namespace {

using platform::RegistryRoot;
using platform::regfile::Values;

class RegText : public ::testing::Test {
  protected:
    void write(const std::string& bytes) { keys_ = platform::regfile::parse(bytes); }
    // The text as regedit writes version 5.00 files: UTF-16LE with a byte order mark.
    void writeUtf16(const std::u16string& text) { write(regUtf16(text)); }

    bool open(RegistryRoot root, const std::u16string& path, const Values*& key) {
        return platform::regfile::findKey(keys_, root, path, key).ok();
    }
    std::u16string text(RegistryRoot root, const std::u16string& path, const std::u16string& name,
                        std::size_t bytes = 2048) {
        const Values* key = nullptr;
        if (!open(root, path, key)) {
            return u"<no key>";
        }
        std::u16string out;
        return platform::regfile::readString(*key, name, bytes, out).ok() ? out : u"<fails>";
    }
    // The number, or nothing when the key or the value is missing or not a number.
    std::optional<std::uint32_t> dword(RegistryRoot root, const std::u16string& path,
                                       const std::u16string& name) {
        const Values* key = nullptr;
        std::uint32_t value = 0;
        if (!open(root, path, key) || !platform::regfile::readDword(*key, name, value).ok()) {
            return std::nullopt;
        }
        return value;
    }

    platform::regfile::Keys keys_;
};

constexpr RegistryRoot kUser = RegistryRoot::current_user;
constexpr RegistryRoot kMachine = RegistryRoot::local_machine;

TEST_F(RegText, Regedit4TextDwordDefaultAndEscapes) {
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

TEST_F(RegText, HexValuesAcrossLinesAndTheirTypes) {
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

TEST_F(RegText, WrongTypesFailBothWays) {
    write("REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"Text\"=\"9\"\n\"Num\"=dword:00000009\n");
    const Values* key = nullptr;
    ASSERT_TRUE(open(kUser, u"K", key));
    // "9" is 4 bytes with its NUL: a read without a type check would take it as the number 57.
    std::uint32_t v = 1234;
    EXPECT_EQ(platform::regfile::readDword(*key, u"Text", v).code(),
              platform::StatusCode::invalid_argument);
    EXPECT_EQ(v, 1234u);
    std::u16string s = u"x";
    EXPECT_FALSE(platform::regfile::readString(*key, u"Num", 2048, s).ok());
    EXPECT_TRUE(s.empty());
    EXPECT_EQ(platform::regfile::readString(*key, u"Missing", 2048, s).code(),
              platform::StatusCode::not_found);
}

TEST_F(RegText, StringMustFitBufferWithItsNul) {
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

TEST_F(RegText, KeysExistThroughSectionsAndParentsAndDeletions) {
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
    const Values* key = nullptr;
    EXPECT_TRUE(open(kUser, u"A", key));
    EXPECT_TRUE(open(kUser, u"A\\B", key));
    EXPECT_EQ(text(kUser, u"A\\B\\C", u"v"), u"1");
    EXPECT_EQ(text(kUser, u"A\\B\\C", u"gone"), u"<fails>");
    EXPECT_FALSE(open(kUser, u"X", key));
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(open(kUser, u"X\\Y", key));
    EXPECT_TRUE(open(kUser, u"X2", key));  // a prefix of a deleted name is another key
    EXPECT_FALSE(open(kUser, u"A\\B\\C\\D", key));
    EXPECT_FALSE(open(kMachine, u"A", key));
}

TEST_F(RegText, MalformedLinesAreSkipped) {
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

TEST_F(RegText, Version5AsUtf16WithBomAndAsUtf8) {
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
    EXPECT_EQ(text(kMachine, u"A", u"v"), u"2");  // without a byte order mark
}

TEST_F(RegText, NoHeaderOrAnUnknownOneDescribesNoKey) {
    write("[HKEY_CURRENT_USER\\K]\n\"v\"=\"1\"\n");
    EXPECT_TRUE(keys_.empty());
    write("\n  \nREGEDIT5\n[HKEY_CURRENT_USER\\K]\n");
    EXPECT_TRUE(keys_.empty());
    write("");
    EXPECT_TRUE(keys_.empty());
    const Values* key = nullptr;
    EXPECT_EQ(platform::regfile::findKey(keys_, kUser, u"K", key).code(),
              platform::StatusCode::not_found);
    EXPECT_EQ(key, nullptr);
}

// UTF-16 text is split into lines before it is converted: an unpaired surrogate costs only its
// line, a continuation at the very end and an odd last byte cost nothing else.
TEST_F(RegText, BrokenUtf16LinesCostOnlyThemselves) {
    std::u16string body = u"Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\K]\n";
    body += u"\"bad\"=\"";
    body += static_cast<char16_t>(0xD800);
    body += u"\"\n\"good\"=\"yes\"\n\"tail\"=hex:01,\\";
    writeUtf16(body);
    EXPECT_EQ(text(kUser, u"K", u"good"), u"yes");
    EXPECT_EQ(text(kUser, u"K", u"bad"), u"<fails>");
    std::string bytes = "\xFF\xFE";
    for (char c : std::string("Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\O]\n")) {
        bytes += c;
        bytes += '\0';
    }
    write(bytes + "x");
    const Values* key = nullptr;
    EXPECT_TRUE(open(kUser, u"O", key));
}

}  // namespace
