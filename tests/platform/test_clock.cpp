// Sleep, ticks and the local time text.
#include <gtest/gtest.h>

#include <regex>

#include "platform/clock.h"

TEST(Clock, LocalTimeIsTwoDigitFields) {
    std::string text;
    ASSERT_TRUE(platform::localTimeText(text).ok());
    EXPECT_TRUE(std::regex_match(text, std::regex("([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]")))
        << text;
}

TEST(Clock, SleepLastsAtLeastTheRequestedTicks) {
    const std::uint32_t before = platform::tickMs();
    ASSERT_TRUE(platform::sleepMs(15).ok());
    // Unsigned difference stays right across a wrap of the 32-bit counter.
    EXPECT_GE(static_cast<std::uint32_t>(platform::tickMs() - before), 15u);
    EXPECT_TRUE(platform::sleepMs(0).ok());
}
