// The levelled line log "sceneapi.log". The stream and the first tick are process-wide; the
// stream is opened lazily by the first statement that writes and is never closed here.
#include "trvLog.h"

#include <cstdio>

#include "Installation.h"
#include "platform/clock.h"
#include "platform/file.h"

namespace {

FILE* g_logStream = nullptr;
bool g_haveFirstTick = false;
std::uint32_t g_firstTick = 0;

// A file that has reached this size is started afresh by the next process.
constexpr std::uint64_t kTruncateBytes = 20971520;  // 20 MiB

const char* baseName(const char* path) {
    if (path == nullptr) {
        return "";
    }
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/') {
            base = p + 1;
        }
    }
    return base;
}

FILE* openLogStream() {
    const std::u16string folder = trv::link::Installation::instance().resourceFolder(5, 20);
    const std::u16string path = folder + u"\\" + u"sceneapi.log";
    std::uint64_t size = 0;
    if (!platform::fileSize(path, size).ok()) {
        size = 0;
    }
    FILE* f = nullptr;
    const platform::Status st = platform::openFile(path, size >= kTruncateBytes ? u"w" : u"a", f);
    if (!st.ok()) {
        std::fputs("could not open log file:\n", stderr);
        std::fprintf(stderr, "opening log: %s\n", st.message().c_str());
        return nullptr;
    }
    return f;
}

}  // namespace

long elapsedMillisPart(std::uint32_t firstTick, std::uint32_t nowTick) {
    return static_cast<long>(static_cast<std::uint32_t>(nowTick - firstTick) % 1000u);
}

std::string NowTime() {
    std::string text;
    if (!platform::localTimeText(text).ok()) {
        return "Error in NowTime()";
    }
    if (!g_haveFirstTick) {
        g_firstTick = platform::tickMs();
        g_haveFirstTick = true;
    }
    char buf[256];
    std::snprintf(buf, sizeof buf, "%s.%03ld", text.c_str(),
                  elapsedMillisPart(g_firstTick, platform::tickMs()));
    return buf;
}

template <typename OutputPolicy>
Log<OutputPolicy>::~Log() {
    os << std::endl;
    OutputPolicy::output(os.str());
}

template <typename OutputPolicy>
std::ostringstream& Log<OutputPolicy>::get(int level, const char* file, int line) {
    os << baseName(file) << ":" << line << " - " << NowTime() << " " << toString(level) << ":  ";
    return os;
}

template <typename OutputPolicy>
int Log<OutputPolicy>::reportingLevel() {
    return logDEBUG4;
}

template <typename OutputPolicy>
std::string Log<OutputPolicy>::toString(int level) {
    static const char* const names[] = {"ERROR",  "WARNING", "INFO",   "DEBUG", "DEBUG1",
                                        "DEBUG2", "DEBUG3",  "DEBUG4", "NONE"};
    // Levels outside the table (a negative one passes the reporting filter) read as "NONE".
    if (level < 0 || level >= static_cast<int>(sizeof names / sizeof names[0])) {
        return "NONE";
    }
    return names[level];
}

template class Log<Output2FILE>;

FILE* Output2FILE::stream() {
    if (g_logStream == nullptr) {
        g_logStream = openLogStream();
    }
    return g_logStream;
}

void Output2FILE::output(const std::string& message) {
    FILE* f = g_logStream;
    if (f == nullptr) {
        return;
    }
    // Write errors are ignored: the log must never disturb its caller.
    std::fprintf(f, "%s", message.c_str());
    std::fflush(f);
}
