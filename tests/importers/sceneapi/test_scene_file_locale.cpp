// The writer holds the "C" numeric locale for its life and gives the host's back afterwards.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "scene_file_test_util.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"

namespace {

class DecimalCommaLocale : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = tmp_.path();
        ASSERT_FALSE(dir_.empty());
        RunOptions quiet;
        quiet.stdoutPath = quiet.stderrPath = "/dev/null";
        const ProgramRun run = runProgram(
            "localedef", {"-c", "-i", "de_DE", "-f", "UTF-8", dir_ + "/de_DE.UTF-8"}, quiet);
        if (!std::filesystem::exists(dir_ + "/de_DE.UTF-8/LC_NUMERIC")) {
            GTEST_SKIP() << "localedef could not build de_DE.UTF-8 (exit " << run.code << ")";
        }
        const char* old = std::getenv("LOCPATH");
        hadLocpath_ = old != nullptr;
        if (hadLocpath_) {
            oldLocpath_ = old;
        }
        setenv("LOCPATH", dir_.c_str(), 1);
        ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr);
        char probe[16];
        std::snprintf(probe, sizeof probe, "%g", 0.5);
        ASSERT_STREQ(probe, "0,5") << "the test locale must use a decimal comma";
    }
    void TearDown() override {
        std::setlocale(LC_NUMERIC, "C");
        if (hadLocpath_) {
            setenv("LOCPATH", oldLocpath_.c_str(), 1);
        } else {
            unsetenv("LOCPATH");
        }
    }

    TempDir tmp_;
    std::string dir_;
    std::string oldLocpath_;
    bool hadLocpath_ = false;
};

TEST_F(DecimalCommaLocale, NumbersUseAPointAndTheHostLocaleComesBack) {
    std::string text;
    {
        MemoryScene s;
        EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
        const float f = 0.5f;
        const double d = 0.25;
        const float v[3] = {1.5f, 2, 3};
        const trvArray a = {v, 3};
        s->beginObject("o", true);
        s->attribute("f", trvType::float_, &f);
        s->attribute("d", trvType::double_, &d);
        s->attribute("a", trvType::array_bit | trvType::float_, &a);
        s->progress("p", 0.5f);
        s->printf("%g\n", 0.75);  // free text is formatted by printf itself
        text = s.text();
    }
    EXPECT_EQ(text,
              "object \"o\" {\nf 0.5\nd 0.2500000000000000\na [ 1.5,2,3 ] \n"
              "progress \"p\" 0.500\n\n0.75\n");
    const char* restored = std::setlocale(LC_NUMERIC, nullptr);
    ASSERT_NE(restored, nullptr);
    EXPECT_STREQ(restored, "de_DE.UTF-8");
    char probe[16];
    std::snprintf(probe, sizeof probe, "%g", 0.5);
    EXPECT_STREQ(probe, "0,5");
}

}  // namespace
