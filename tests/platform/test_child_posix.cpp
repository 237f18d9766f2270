// The POSIX additions to child processes: limits and default write signals in the child whatever
// the caller set, a pipe read as far as the caller wants, a function in a forked copy, an end by
// a signal told apart from an exit; and the tests' runner on top of them.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/child.h"
#include "platform/child_posix.h"
#include "tests/support/FileText.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// SIGPIPE and SIGXFSZ ignored in the test for the life of the object, as the tools ignore them.
class IgnoredWriteSignals {
  public:
    IgnoredWriteSignals() {
        pipe_ = signal(SIGPIPE, SIG_IGN);
        fileSize_ = signal(SIGXFSZ, SIG_IGN);
    }
    ~IgnoredWriteSignals() {
        signal(SIGPIPE, pipe_);
        signal(SIGXFSZ, fileSize_);
    }
    IgnoredWriteSignals(const IgnoredWriteSignals&) = delete;
    IgnoredWriteSignals& operator=(const IgnoredWriteSignals&) = delete;

  private:
    sighandler_t pipe_, fileSize_;
};

platform::ChildEnd waitForEnd(platform::Child& child) {
    platform::ChildEnd end;
    EXPECT_TRUE(platform::waitChildEnd(child, 60000, end).ok());
    EXPECT_TRUE(end.ended);
    return end;
}

bool defaultHandling(int signal) {
    struct sigaction now {};
    return sigaction(signal, nullptr, &now) == 0 && now.sa_handler == SIG_DFL;
}

}  // namespace

TEST(ChildPosix, LimitsAndDefaultWriteSignalsReachTheChild) {
    const IgnoredWriteSignals ignored;
    platform::PosixChildOptions limits;
    limits.stackBytes = 4 << 20;
    limits.fileSizeBytes = 8192;
    platform::Child child;
    int pipe = -1;
    ASSERT_TRUE(platform::forkChild(
                    [&] {
                        rlimit stack{}, fileSize{};
                        getrlimit(RLIMIT_STACK, &stack);
                        getrlimit(RLIMIT_FSIZE, &fileSize);
                        return (stack.rlim_cur == limits.stackBytes ? 0 : 1) |
                               (fileSize.rlim_cur == limits.fileSizeBytes ? 0 : 2) |
                               (defaultHandling(SIGPIPE) ? 0 : 4) |
                               (defaultHandling(SIGXFSZ) ? 0 : 8);
                    },
                    {}, limits, child, pipe)
                    .ok());
    EXPECT_EQ(pipe, -1);
    EXPECT_EQ(waitForEnd(child).code, 0);

    // The limits hold for a program too; one past its file-size limit ends by SIGXFSZ, as under a
    // shell's `ulimit -f`.
    TempDir dir;
    std::string sh;
    ASSERT_TRUE(platform::findProgram("sh", sh).ok());
    platform::ChildOptions options;
    options.workingFolder = dir.path();
    ASSERT_TRUE(platform::spawnPosixChild(
                    sh, {"-c", "ulimit -s >stack; exec head -c 100000 /dev/zero >big"}, options,
                    limits, child, pipe)
                    .ok());
    const platform::ChildEnd end = waitForEnd(child);
    EXPECT_FALSE(end.exited);
    EXPECT_EQ(end.signal, SIGXFSZ);
    EXPECT_EQ(readFile(fs::path(dir.path()) / "stack"), "4096\n");  // in KiB
    EXPECT_EQ(fs::file_size(fs::path(dir.path()) / "big"), limits.fileSizeBytes);
}

TEST(ChildPosix, APipeReadPartlyLeavesTheWriterWithoutAReader) {
    const IgnoredWriteSignals ignored;
    std::string yes;
    ASSERT_TRUE(platform::findProgram("yes", yes).ok());
    platform::PosixChildOptions piped;
    piped.outputPipe = true;
    platform::Child child;
    int pipe = -1;
    ASSERT_TRUE(platform::spawnPosixChild(yes, {"ab"}, {}, piped, child, pipe).ok());
    ASSERT_GE(pipe, 0);
    std::string out;
    ASSERT_TRUE(platform::readOutputPipe(pipe, 7, 30000, out).ok());
    EXPECT_EQ(out, "ab\nab\na");
    EXPECT_EQ(pipe, -1);
    // Ignored in the test, the default in the child: the write into the closed pipe ends it.
    const platform::ChildEnd end = waitForEnd(child);
    EXPECT_FALSE(end.exited);
    EXPECT_EQ(end.signal, SIGPIPE);

    // A writer that ends first: what it wrote, then the end of the pipe.
    ASSERT_TRUE(
        platform::forkChild([] { return std::fputs("short", stdout) < 0; }, {}, piped, child, pipe)
            .ok());
    ASSERT_TRUE(platform::readOutputPipe(pipe, 100, -1, out).ok());
    EXPECT_EQ(out, "short");
    EXPECT_EQ(waitForEnd(child).code, 0);
}

TEST(ChildPosix, AForkedFunctionRunsInACopyWithTheOptions) {
    TempDir dir;
    platform::ChildOptions options;
    options.workingFolder = dir.path();
    options.outputFile = dir.path() + "/out.txt";
    options.errorFile = dir.path() + "/err.txt";
    options.environment = {{"RAYDECK_CHILD_POSIX_TEST", "set"}};
    platform::Child child;
    int pipe = -1;
    ASSERT_TRUE(platform::forkChild(
                    [&] {
                        const char* value = getenv("RAYDECK_CHILD_POSIX_TEST");
                        std::printf("%s\n", value != nullptr ? value : "unset");
                        std::fprintf(stderr, "%s\n", fs::current_path().c_str());
                        setenv("RAYDECK_CHILD_POSIX_COPY", "child", 1);  // the copy's only
                        return 5;
                    },
                    options, {}, child, pipe)
                    .ok());
    EXPECT_EQ(waitForEnd(child).code, 5);
    EXPECT_EQ(readFile(options.outputFile), "set\n");
    EXPECT_EQ(readFile(options.errorFile), fs::canonical(dir.path()).string() + "\n");
    EXPECT_EQ(getenv("RAYDECK_CHILD_POSIX_COPY"), nullptr);
    EXPECT_EQ(getenv("RAYDECK_CHILD_POSIX_TEST"), nullptr);

    ASSERT_TRUE(platform::forkChild([]() -> int { throw std::runtime_error("out of the body"); },
                                    options, {}, child, pipe)
                    .ok());
    EXPECT_EQ(waitForEnd(child).code, 101);
}

TEST(ChildPosix, AnEndBySignalIsToldApartFromAnExit) {
    platform::Child child;
    int pipe = -1;
    ASSERT_TRUE(platform::forkChild([] { return 128 + SIGKILL; }, {}, {}, child, pipe).ok());
    platform::ChildEnd end = waitForEnd(child);
    EXPECT_TRUE(end.exited);
    EXPECT_EQ(end.code, 128 + SIGKILL);
    EXPECT_EQ(end.signal, 0);

    ASSERT_TRUE(platform::forkChild([] { return pause(); }, {}, {}, child, pipe).ok());
    ASSERT_TRUE(platform::killChild(child).ok());
    end = waitForEnd(child);
    EXPECT_FALSE(end.exited);
    EXPECT_EQ(end.signal, SIGKILL);
}

// The tests' runner: a shell found on PATH, a replaced environment, output read back, and a
// deadline after which the child is killed.
TEST(ChildPosix, TheTestRunnerFindsProgramsAndKeepsItsDeadline) {
    TempDir dir;
    RunOptions options;
    options.workingFolder = dir.path();
    options.replaceEnvironment = true;
    options.environment = {"RAYDECK_CHILD_POSIX_TEST=only"};
    ProgramRun run = runProgram(
        "sh", {"-c", "echo \"$RAYDECK_CHILD_POSIX_TEST ${HOME:-none}\"; echo err >&2"}, options);
    EXPECT_TRUE(run.exited);
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.out, "only none\n");
    EXPECT_EQ(run.err, "err\n");

    options = RunOptions();
    options.timeoutSeconds = 1;
    options.stdoutPath = options.stderrPath = "/dev/null";
    run = runProgram("sleep", {"30"}, options);
    EXPECT_TRUE(run.timedOut);
    EXPECT_FALSE(run.exited);
    EXPECT_EQ(run.signal, SIGKILL);
    EXPECT_LT(run.seconds, 20);

    EXPECT_EQ(runProgram(dir.path() + "/missing", {}, options).code, 127);
}
