// Strict UTF-8 <-> UTF-16 conversion.
#include <gtest/gtest.h>

#include "platform/utf.h"

using platform::StatusCode;

TEST(Utf, RoundTripsEveryEncodingLength) {
    // 1, 2, 3 and 4 byte sequences; the last becomes a surrogate pair.
    const std::string utf8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    std::u16string wide;
    ASSERT_TRUE(platform::utf8ToUtf16(utf8, wide).ok());
    EXPECT_EQ(wide, (std::u16string{u'a', 0x00E9, 0x20AC, 0xD83D, 0xDE00}));
    std::string back;
    ASSERT_TRUE(platform::utf16ToUtf8(wide, back).ok());
    EXPECT_EQ(back, utf8);

    ASSERT_TRUE(platform::utf8ToUtf16("", wide).ok());
    EXPECT_TRUE(wide.empty());
    // Embedded NUL is kept, not a terminator.
    ASSERT_TRUE(platform::utf8ToUtf16(std::string("a\0b", 3), wide).ok());
    EXPECT_EQ(wide.size(), 3u);
}

TEST(Utf, RejectsMalformedUtf8) {
    const std::string bad[] = {
        "\x80",              // lone continuation byte
        "\xC3",              // truncated at the end
        "\xE2\x82",          // truncated three-byte sequence
        "\xC3\x41",          // continuation expected
        "\xC0\x80",          // overlong NUL
        "\xE0\x80\xAF",      // overlong '/'
        "\xED\xA0\x80",      // surrogate encoded in UTF-8
        "\xF4\x90\x80\x80",  // beyond U+10FFFF
        "\xFF",              // never a lead byte
    };
    for (const std::string& s : bad) {
        std::u16string wide = u"stale";
        const platform::Status st = platform::utf8ToUtf16("ok" + s, wide);
        EXPECT_EQ(st.code(), StatusCode::invalid_argument) << testing::PrintToString(s);
        EXPECT_TRUE(wide.empty());
    }
}

TEST(Utf, RejectsUnpairedSurrogates) {
    const std::u16string bad[] = {{0xD83D}, {0xDE00}, {0xD83D, u'a'}, {u'a', 0xDC00, 0xD800}};
    for (const std::u16string& s : bad) {
        std::string out = "stale";
        EXPECT_FALSE(platform::utf16ToUtf8(s, out).ok());
        EXPECT_TRUE(out.empty());
    }
}
