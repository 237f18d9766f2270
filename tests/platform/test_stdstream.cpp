// Standard output takeover and tap: run in child processes, since they rewire the process's
// stdout.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/stdstream.h"
#include "tests/support/FileText.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"

TEST(StdStream, DataGoesToOldStdoutAndLaterPrintsToStderr) {
    TempDir dir;
    RunOptions options;
    options.outputFolder = dir.path();
    const ProgramRun run = runInChild(
        [] {
            std::printf("before|");  // still buffered: must land in stdout before the takeover
            FILE* data = nullptr;
            if (!platform::takeStandardOutput(data).ok() || data == nullptr) {
                return 3;
            }
            std::fputs("DATA\n\x01", data);
            std::printf("after");
            std::fflush(stdout);
            return std::fclose(data) == 0 ? 0 : 4;
        },
        options);
    ASSERT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "before|DATA\n\x01");
    EXPECT_EQ(run.err, "after");
}

TEST(StdStream, TapSeesEveryByteOnItsWayToStdoutAlsoThroughATakeover) {
    TempDir dir;
    const std::string seenPath = dir.path() + "/seen";
    RunOptions options;
    options.outputFolder = dir.path();
    const ProgramRun run = runInChild(
        [&seenPath] {
            std::printf("before|");  // buffered: reaches stdout before the tap, not through it
            std::string seen;
            platform::StandardOutputTap* tap = nullptr;
            if (!platform::tapStandardOutput(
                     [&seen](const char* data, size_t size) { seen.append(data, size); }, tap)
                     .ok()) {
                return 3;
            }
            std::printf("tapped|");
            FILE* data = nullptr;
            if (!platform::takeStandardOutput(data).ok()) {
                return 4;
            }
            std::fputs("DATA\n\x01", data);
            std::fclose(data);
            if (!platform::untapStandardOutput(tap).ok()) {
                return 5;
            }
            std::printf("|restored");
            std::fflush(stdout);
            std::ofstream(seenPath, std::ios::binary) << seen;
            return 0;
        },
        options);
    ASSERT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "before|tapped|DATA\n\x01|restored");
    EXPECT_EQ(readFile(seenPath), "tapped|DATA\n\x01");
}

TEST(StdStream, TapPassesTheOriginalOutputsRefusalOnToTheWriters) {
    TempDir dir;
    RunOptions options;
    options.outputFolder = dir.path();
    const ProgramRun run = runInChild(
        [] {
            std::signal(SIGPIPE, SIG_IGN);
            int ends[2];
            if (pipe(ends) != 0 || dup2(ends[1], 1) < 0) {
                return 2;
            }
            close(ends[0]);  // nobody reads standard output
            close(ends[1]);
            platform::StandardOutputTap* tap = nullptr;
            if (!platform::tapStandardOutput([](const char*, size_t) {}, tap).ok()) {
                return 3;
            }
            // Writes go on until the tap has stopped reading; then they fail as they would
            // have.
            bool refused = false;
            for (int i = 0; i < 1000 && !refused; ++i) {
                refused = write(1, "x", 1) < 0 && errno == EPIPE;
                usleep(1000);
            }
            const platform::Status s = platform::untapStandardOutput(tap);
            return refused && !s.ok() && s.message() == std::strerror(EPIPE) ? 0 : 4;
        },
        options);
    EXPECT_EQ(run.code, 0);
}
