// platform::startProcess on every system, with the test helper as the program: it runs, with the
// caller's environment, and a missing program is reported. Runs under Wine too.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/program.h"
#include "platform/utf.h"
#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

TEST(StartProcessEverywhere, StartsTheProgramWithTheEnvironmentAndReportsAMissingOne) {
    TempDir dir;
    const std::string mark = dir.path() + "/started.txt";
    ASSERT_TRUE(platform::setEnvironment("RAYDECK_CHILD_HELPER_MARK", mark).ok());
    std::u16string helper;
    ASSERT_TRUE(platform::utf8ToUtf16(RAYDECK_CHILD_HELPER, helper).ok());
    const platform::Status started = platform::startProcess(helper);
    platform::unsetEnvironment("RAYDECK_CHILD_HELPER_MARK");
    ASSERT_TRUE(started.ok()) << started.message();
    std::string text;
    for (int i = 0; i < 1000 && text != "started"; ++i) {
        platform::sleepMs(10);
        text = readFile(fs::u8path(mark));
    }
    EXPECT_EQ(text, "started");

    const platform::Status missing = platform::startProcess(helper + u".missing");
    EXPECT_EQ(missing.code(), platform::StatusCode::not_found);
}
