// The child that the platform suites start: `exit N` ends with N; `args` prints its arguments one
// a line; `env NAME...` prints each variable (or "unset"); `write FILE TEXT` writes TEXT into FILE
// (a relative name: in its current folder); `both` writes the lines "1" to standard output, "2"
// to standard error and "3" to standard output; `read` prints how many bytes standard input
// held; `wait` waits for a termination request and exits with 7 (or 9 after a minute); `stop PID`
// asks process PID to end, as platform::stopChild does; `take` and `tap` write data through a
// takeover of standard output, the second with a tap in front of it; `interrupt FILE` writes FILE
// through a replacing file and waits, exiting on an interrupt; `hold FILE SECONDS` keeps FILE
// open (as another program may) for that long. Started without arguments (as
// platform::startProcess starts programs) it writes "started" into the file
// RAYDECK_CHILD_HELPER_MARK names.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/child.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/interrupt.h"
#include "platform/program.h"
#include "platform/stdstream.h"
#include "platform/utf.h"

namespace {

// Bytes that newline translation would change: LF, CR LF, a lone CR, and a Ctrl-Z.
const char kData[] = "DATA\n\x01\r\n\r\x1a|";

int take(bool tapped) {
    std::printf("before|");  // still buffered: must land in standard output before the data
    platform::StandardOutputTap* tap = nullptr;
    if (tapped && !platform::tapStandardOutput([](const char*, std::size_t) {}, tap).ok()) {
        return 3;
    }
    FILE* data = nullptr;
    if (!platform::takeStandardOutput(data).ok() || data == nullptr) {
        return 4;
    }
    std::fwrite(kData, 1, sizeof kData - 1, data);
    std::printf("after");  // to standard error now
    std::fflush(stdout);
    if (std::fclose(data) != 0) {
        return 5;
    }
    return tapped && !platform::untapStandardOutput(tap).ok() ? 6 : 0;
}

// Writes `text` into the file `path`: 0, or 3 when it does not open, 4 when it does not close.
int writeText(const std::string& path, const char* text) {
    std::u16string wide;
    FILE* file = nullptr;
    if (!platform::utf8ToUtf16(path, wide).ok() || !platform::openFile(wide, u"wb", file).ok()) {
        return 3;
    }
    std::fputs(text, file);
    return std::fclose(file) == 0 ? 0 : 4;
}

int interrupt(const std::string& target) {
    std::u16string wide;
    platform::ReplacingFile file;
    if (!platform::exitOnInterrupt("child_helper").ok() ||
        !platform::removeTemporariesOnInterrupt(target).ok() ||
        !platform::utf8ToUtf16(target, wide).ok() || !file.open(wide).ok()) {
        return 3;
    }
    std::fputs("half a scene", file.stream());
    std::fflush(file.stream());
    std::printf("waiting\n");
    std::fflush(stdout);
    platform::sleepMs(60000);
    return 9;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = platform::commandLineArguments(argc, argv);
    const std::string what = args.size() > 1 ? args[1] : "";
    if (what == "exit" && args.size() > 2) {
        return std::atoi(args[2].c_str());
    }
    if (what == "args") {
        for (size_t i = 2; i < args.size(); ++i) {
            std::printf("%s\n", args[i].c_str());
        }
        return 0;
    }
    if (what == "env" && args.size() > 2) {
        for (size_t i = 2; i < args.size(); ++i) {
            std::string value;
            std::printf("%s\n", platform::getEnvironment(args[i], value) ? value.c_str() : "unset");
        }
        return 0;
    }
    if (what == "write" && args.size() > 3) {
        return writeText(args[2], args[3].c_str());
    }
    if (what == "both") {
        // Each line flushed before the next, so that a shared file gets them in this order.
        const std::pair<FILE*, const char*> lines[] = {
            {stdout, "1\n"}, {stderr, "2\n"}, {stdout, "3\n"}};
        for (const auto& [stream, line] : lines) {
            std::fputs(line, stream);
            std::fflush(stream);
        }
        return 0;
    }
    if (what == "read") {
        std::size_t bytes = 0;
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
            bytes += n;
        }
        std::printf("%lu\n", static_cast<unsigned long>(bytes));
        return 0;
    }
    if (what == "stop" && args.size() > 2) {
        platform::Child other;
        other.id = std::atoll(args[2].c_str());
        return platform::stopChild(other).ok() ? 0 : 1;
    }
    if (what == "wait") {
        platform::catchTermination();
        std::printf("waiting\n");
        std::fflush(stdout);
        for (int i = 0; i < 6000 && !platform::terminationRequested(); ++i) {
            platform::sleepMs(10);
        }
        return platform::terminationRequested() ? 7 : 9;
    }
    std::string mark;
    if (args.size() == 1 && platform::getEnvironment("RAYDECK_CHILD_HELPER_MARK", mark)) {
        return writeText(mark, "started");
    }
    if (what == "hold" && args.size() > 3) {
        std::u16string wide;
        FILE* file = nullptr;
        if (!platform::utf8ToUtf16(args[2], wide).ok() ||
            !platform::openFile(wide, u"rb", file).ok()) {
            return 3;
        }
        std::printf("holding\n");
        std::fflush(stdout);
        platform::sleepMs(static_cast<std::uint32_t>(std::atoi(args[3].c_str())) * 1000u);
        std::fclose(file);
        return 0;
    }
    if (what == "take" || what == "tap") {
        return take(what == "tap");
    }
    if (what == "interrupt" && args.size() > 2) {
        return interrupt(args[2]);
    }
    return 2;
}
