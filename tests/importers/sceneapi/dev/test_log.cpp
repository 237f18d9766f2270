// The log "sceneapi.log". Its stream is process-wide and opened once, so every scenario runs in
// a child process of its own, with the registry naming the test folder as resource folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "RegistryFixture.h"
#include "tests/support/FileText.h"
#include "tests/support/RunProgram.h"
#include "trvLog.h"

namespace {

class LogTest : public RegistryFixture {
  protected:
    // An installation whose resource folder is `folder`.
    void useResourceFolder(const std::string& folder) {
        writeRegistry(installation(kUser, "Raydeck 7", makeProgram("raydeck"),
                                   "\"ResourceFolder\"=" + regQuoted(folder) + "\n"));
    }
    std::string logPath() const { return dir() + "/sceneapi.log"; }

    // Runs `body` in a child process; returns the child's exit code, or -1 when it did not exit
    // normally, and its standard error in `stderrText`.
    int inChild(const std::function<int()>& body, std::string* stderrText = nullptr) {
        RunOptions options;
        options.outputFolder = dir();
        const ProgramRun run = runInChild(body, options);
        if (stderrText != nullptr) {
            *stderrText = run.err;
        }
        return run.code;
    }
};

const char* const kStamp = "\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d";

TEST_F(LogTest, LineFormatAndBaseNames) {
    useResourceFolder(dir());
    ASSERT_EQ(inChild([] {
                  // Lines made without the macro go out once the macro's check opened the file.
                  if (Output2FILE::stream() == nullptr) {
                      return 1;
                  }
                  FILELog().get(1, "C:\\src\\dev\\raydecklive_loader.cpp", 234)
                      << "NO shared handle";
                  FILELog().get(0, "/src/dev/unix.cpp", 7) << "n=" << 42;
                  FILELog().get(2, "plain.cpp", 8) << "whole";
                  FILELog().get(3, "a\\b/c\\mixed.cpp", 9) << "";
                  TRV_LOG(logDEBUG4) << "from the macro";
                  return 0;
              }),
              0);
    const std::string text = readFile(logPath());
    const std::regex expected(std::string("raydecklive_loader\\.cpp:234 - ") + kStamp +
                              " WARNING:  NO shared handle\n"
                              "unix\\.cpp:7 - " +
                              kStamp +
                              " ERROR:  n=42\n"
                              "plain\\.cpp:8 - " +
                              kStamp +
                              " INFO:  whole\n"
                              "mixed\\.cpp:9 - " +
                              kStamp +
                              " DEBUG:  \n"
                              "test_log\\.cpp:\\d+ - " +
                              kStamp + " DEBUG4:  from the macro\n");
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(LogTest, LevelsAboveReportingAreNotEvaluated) {
    EXPECT_EQ(FILELog::reportingLevel(), 7);
    EXPECT_EQ(FILELog::toString(0), "ERROR");
    EXPECT_EQ(FILELog::toString(4), "DEBUG1");
    EXPECT_EQ(FILELog::toString(7), "DEBUG4");
    EXPECT_EQ(FILELog::toString(8), "NONE");
    EXPECT_EQ(FILELog::toString(-1), "NONE");  // out of the table, not past its end
    EXPECT_EQ(FILELog::toString(99), "NONE");

    useResourceFolder(dir());
    ASSERT_EQ(inChild([] {
                  int evaluated = 0;
                  TRV_LOG(8) << "hidden" << ++evaluated;
                  TRV_LOG(logINFO) << "shown" << ++evaluated;
                  return evaluated;
              }),
              1);
    const std::string text = readFile(logPath());
    EXPECT_NE(text.find("shown1\n"), std::string::npos);
    EXPECT_EQ(text.find("hidden"), std::string::npos);
}

TEST_F(LogTest, FullSizeFileIsEmptiedAndSmallerOneAppended) {
    useResourceFolder(dir());
    auto logOnce = [] {
        TRV_LOG(logINFO) << "next";
        return 0;
    };
    { std::ofstream(logPath(), std::ios::binary); }
    std::filesystem::resize_file(logPath(), 20971520);
    ASSERT_EQ(inChild(logOnce), 0);
    const std::uint64_t emptied = std::filesystem::file_size(logPath());
    EXPECT_LT(emptied, 100u);
    EXPECT_NE(readFile(logPath()).find("INFO:  next\n"), std::string::npos);

    std::filesystem::resize_file(logPath(), 20971519);
    ASSERT_EQ(inChild(logOnce), 0);
    EXPECT_EQ(std::filesystem::file_size(logPath()), 20971519u + emptied);
}

TEST_F(LogTest, UnopenableFileReportsOnStandardErrorAndRetries) {
    const std::string folder = dir() + "/later";
    useResourceFolder(folder);
    std::string errText;
    ASSERT_EQ(inChild(
                  [&] {
                      TRV_LOG(logERROR) << "lost";
                      TRV_LOG(logERROR) << "lost too";
                      std::filesystem::create_directory(folder);
                      TRV_LOG(logERROR) << "kept";
                      return 0;
                  },
                  &errText),
              0);
    const std::string once = "could not open log file:\nopening log: No such file or directory\n";
    EXPECT_EQ(errText, once + once);
    const std::string text = readFile(folder + "/sceneapi.log");
    EXPECT_EQ(text.find("lost"), std::string::npos);
    EXPECT_NE(text.find("ERROR:  kept\n"), std::string::npos);
}

TEST(LogTime, StampFormatAndMillisecondsStayThreeDigits) {
    EXPECT_TRUE(std::regex_match(NowTime(), std::regex(kStamp)));
    EXPECT_EQ(elapsedMillisPart(1000, 1234), 234);
    EXPECT_EQ(elapsedMillisPart(0xFFFFFFF0u, 0x10u), 32);  // across the counter's wrap
}

// Half the counter's range after the first stamp: a signed difference gave "-643".
TEST(LogTime, MillisecondsNotNegativeAfterHalfTheTickRange) {
    EXPECT_EQ(elapsedMillisPart(0, 0x80000005u), 653);
}

}  // namespace
