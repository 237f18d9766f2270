// Standard output takeover: runs in a child process, since it rewires the process's stdout.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "TempDir.h"
#include "platform/stdstream.h"

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

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
    EXPECT_EQ(readAll(outPath), "before|DATA\n\x01");
    EXPECT_EQ(readAll(errPath), "after");
}
