// Standard output takeover and tap: run in child processes, since they rewire the process's
// stdout.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/stdstream.h"
#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"

namespace {}  // namespace

TEST(StdStream, DataGoesToOldStdoutAndLaterPrintsToStderr) {
    TempDir dir;
    const std::string outPath = dir.path() + "/out";
    const std::string errPath = dir.path() + "/err";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
            _exit(2);
        }
        std::printf("before|");  // still buffered: must land in stdout before the takeover
        FILE* data = nullptr;
        if (!platform::takeStandardOutput(data).ok() || data == nullptr) {
            _exit(3);
        }
        std::fputs("DATA\n\x01", data);
        std::printf("after");
        std::fflush(stdout);
        _exit(std::fclose(data) == 0 ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(outPath), "before|DATA\n\x01");
    EXPECT_EQ(readFile(errPath), "after");
}

TEST(StdStream, TapSeesEveryByteOnItsWayToStdoutAlsoThroughATakeover) {
    TempDir dir;
    const std::string outPath = dir.path() + "/out";
    const std::string errPath = dir.path() + "/err";
    const std::string seenPath = dir.path() + "/seen";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
            _exit(2);
        }
        std::printf("before|");  // buffered: reaches stdout before the tap, not through it
        std::string seen;
        platform::StandardOutputTap* tap = nullptr;
        if (!platform::tapStandardOutput(
                 [&seen](const char* data, size_t size) { seen.append(data, size); }, tap)
                 .ok()) {
            _exit(3);
        }
        std::printf("tapped|");
        FILE* data = nullptr;
        if (!platform::takeStandardOutput(data).ok()) {
            _exit(4);
        }
        std::fputs("DATA\n\x01", data);
        std::fclose(data);
        if (!platform::untapStandardOutput(tap).ok()) {
            _exit(5);
        }
        std::printf("|restored");
        std::fflush(stdout);
        std::ofstream(seenPath, std::ios::binary) << seen;
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(readFile(outPath), "before|tapped|DATA\n\x01|restored");
    EXPECT_EQ(readFile(seenPath), "tapped|DATA\n\x01");
}

TEST(StdStream, TapPassesTheOriginalOutputsRefusalOnToTheWriters) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGPIPE, SIG_IGN);
        int ends[2];
        if (pipe(ends) != 0 || dup2(ends[1], 1) < 0) {
            _exit(2);
        }
        close(ends[0]);  // nobody reads standard output
        close(ends[1]);
        platform::StandardOutputTap* tap = nullptr;
        if (!platform::tapStandardOutput([](const char*, size_t) {}, tap).ok()) {
            _exit(3);
        }
        // Writes go on until the tap has stopped reading; then they fail as they would have.
        bool refused = false;
        for (int i = 0; i < 1000 && !refused; ++i) {
            refused = write(1, "x", 1) < 0 && errno == EPIPE;
            usleep(1000);
        }
        const platform::Status s = platform::untapStandardOutput(tap);
        _exit(refused && !s.ok() && s.sysError() == EPIPE ? 0 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
