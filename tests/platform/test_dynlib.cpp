// Dynamic library loading by UTF-16 path with `\` separators.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/dynlib.h"
#include "platform/utf.h"

TEST(DynLib, LoadsByBackslashPathFindsSymbolAndFrees) {
    std::string path = RAYDECK_DYNLIB_FIXTURE;
    std::replace(path.begin(), path.end(), '/', '\\');
    std::u16string wide;
    ASSERT_TRUE(platform::utf8ToUtf16(path, wide).ok());

    platform::LibraryHandle lib = nullptr;
    ASSERT_TRUE(platform::loadLibrary(wide, lib).ok());
    ASSERT_NE(lib, nullptr);
    void* sym = nullptr;
    ASSERT_TRUE(platform::findSymbol(lib, "raydeck_fixture_answer", sym).ok());
    EXPECT_EQ(reinterpret_cast<int (*)()>(sym)(), 42);

    EXPECT_EQ(platform::findSymbol(lib, "no_such_symbol", sym).code(),
              platform::StatusCode::not_found);
    EXPECT_EQ(sym, nullptr);
    EXPECT_TRUE(platform::freeLibrary(lib).ok());
}

TEST(DynLib, MissingLibraryAndNullHandlesFail) {
    platform::LibraryHandle lib = reinterpret_cast<platform::LibraryHandle>(1);
    EXPECT_EQ(platform::loadLibrary(u".\\no-such-library.so", lib).code(),
              platform::StatusCode::not_found);
    EXPECT_EQ(lib, nullptr);
    void* sym = nullptr;
    EXPECT_FALSE(platform::findSymbol(nullptr, "x", sym).ok());
    EXPECT_FALSE(platform::freeLibrary(nullptr).ok());
}
