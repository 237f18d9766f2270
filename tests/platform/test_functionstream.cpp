// A stdio stream on a function: every byte arrives, in order, by the time the stream is closed,
// buffered or not.
#include <gtest/gtest.h>

#include <string>

#include "platform/functionstream.h"

TEST(FunctionStream, EveryByteArrivesByTheClose) {
    std::string got;
    FILE* stream = nullptr;
    ASSERT_TRUE(platform::openFunctionStream(
                    [](void* context, const char* data, size_t size) {
                        static_cast<std::string*>(context)->append(data, size);
                    },
                    &got, stream)
                    .ok());
    ASSERT_NE(stream, nullptr);
    std::string expected;
    for (int i = 0; i < 20000; ++i) {
        std::fprintf(stream, "line %d\n", i);
        expected += "line " + std::to_string(i) + "\n";
    }
    const std::string block(5 << 20, 'x');  // larger than any buffer on the way
    EXPECT_EQ(std::fwrite(block.data(), 1, block.size(), stream), block.size());
    expected += block;
    EXPECT_TRUE(platform::closeFunctionStream(stream).ok());
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected);
}
