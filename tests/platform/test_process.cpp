// Starting a program in the background on POSIX: detached, quiet streams, no leaked descriptors,
// no zombie, and start failures reported.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/utf.h"
#include "tests/support/TempDir.h"

namespace {

std::u16string wide(const std::string& s) {
    std::u16string w;
    EXPECT_TRUE(platform::utf8ToUtf16(s, w).ok());
    return w;
}

void writeScript(const std::string& path, const std::string& body, mode_t mode) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    ::chmod(path.c_str(), mode);
}

// Waits up to five seconds for `path` to appear with a complete last line.
std::string waitForFile(const std::string& path) {
    for (int i = 0; i < 500; ++i) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        const std::string s = text.str();
        if (s.find("done\n") != std::string::npos) {
            return s;
        }
        platform::sleepMs(10);
    }
    return std::string();
}

TEST(StartProcess, RunsDetachedWithQuietStreamsAndNoInheritedFiles) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string marker = dir.path() + "/marker";
    // Records its streams, its open descriptors, its session and its arguments, then ends.
    writeScript(dir.path() + "/prog.sh",
                "exec 9>" + marker +
                    ".tmp\n"
                    "echo args $# >&9\n"
                    "for fd in 0 1 2; do l=$(readlink /proc/$$/fd/$fd); echo $l >&9; done\n"
                    "echo fds $(ls /proc/$$/fd | sort -n | tr '\\n' ' ') >&9\n"
                    "set -- $(cat /proc/$$/stat)\necho sid $6 >&9\n"
                    "echo done >&9\nmv " +
                    marker + ".tmp " + marker + "\n",
                0755);
    const int leaked = ::open("/dev/null", O_RDONLY);  // inheritable: must not reach the child
    ASSERT_GE(leaked, 0);

    // A Windows-style separator in the path.
    ASSERT_TRUE(platform::startProcess(wide(dir.path() + "\\prog.sh")).ok());
    // The intermediate child has been reaped and the program is not our child.
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);

    const std::string out = waitForFile(marker);
    ::close(leaked);
    ASSERT_FALSE(out.empty()) << "the program did not run";
    std::istringstream lines(out);
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "args 0");
    for (int fd = 0; fd < 3; ++fd) {
        std::getline(lines, line);
        EXPECT_EQ(line, "/dev/null") << "fd " << fd;
    }
    std::getline(lines, line);
    // 0-2, the script's own 9 and the listing's descriptor; not ours.
    EXPECT_EQ(line.find(" " + std::to_string(leaked) + " "), std::string::npos) << line;
    std::getline(lines, line);
    EXPECT_NE(line, "sid " + std::to_string(::getsid(0)));
}

TEST(StartProcess, StartFailuresAreReported) {
    TempDir dir;
    const platform::Status missing = platform::startProcess(wide(dir.path() + "/nothing-here"));
    EXPECT_EQ(missing.code(), platform::StatusCode::not_found);
    // The message carries the system's own reason, which is all a caller prints.
    EXPECT_NE(missing.message().find(std::strerror(ENOENT)), std::string::npos)
        << missing.message();

    writeScript(dir.path() + "/plain.sh", "exit 0\n", 0644);
    const platform::Status denied = platform::startProcess(wide(dir.path() + "/plain.sh"));
    EXPECT_EQ(denied.code(), platform::StatusCode::io_error);
    EXPECT_NE(denied.message().find(std::strerror(EACCES)), std::string::npos) << denied.message();

    EXPECT_EQ(platform::startProcess(u"").code(), platform::StatusCode::invalid_argument);
    int status = 0;
    EXPECT_EQ(::waitpid(-1, &status, WNOHANG), -1);  // failures leave no child either
}

}  // namespace
