// Standard output taken over for data, with and without a tap in front of it, in a child started
// through platform/: the data's bytes arrive untranslated (on Windows a text-mode descriptor
// would turn LF into CR LF). Runs under Wine too.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/child.h"
#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

// `raydeck-host export DOC -o -` used to write a corrupt scene on Windows: the tap passed the
// data on through a duplicate of standard output still in text mode.
TEST(StdStreamChild, TakeoverAndTapPassTheDataBytesAsWritten) {
    const std::string data("DATA\n\x01\r\n\r\x1a|");
    for (const char* mode : {"take", "tap"}) {
        SCOPED_TRACE(mode);
        TempDir dir;
        platform::ChildOptions options;
        options.outputFile = dir.path() + "/stdout.bin";
        options.errorFile = dir.path() + "/stderr.txt";
        platform::Child child;
        ASSERT_TRUE(platform::spawnChild(RAYDECK_CHILD_HELPER, {mode}, options, child).ok());
        bool exited = false;
        int code = -1;
        ASSERT_TRUE(platform::waitChild(child, 60000, exited, code).ok());
        ASSERT_TRUE(exited);
        EXPECT_EQ(code, 0);
        EXPECT_EQ(readFile(fs::u8path(options.outputFile)), "before|" + data);
        EXPECT_EQ(readFile(fs::u8path(options.errorFile)), "after");
    }
}
