// Renderer: the stand-in renderer (see Renderer.h).
#include "tools/live/Renderer.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "Installation.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/program.h"
#include "platform/utf.h"
#include "tools/live/LiveProtocol.h"
#include "tools/live/SceneScanner.h"

namespace raydeck::live {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadBuffer = 4u << 20;

int intFrom(const char* variable, int fallback, int low, int high) {
    const char* text = std::getenv(variable);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    return (*end == '\0' && value >= low && value <= high) ? static_cast<int>(value) : fallback;
}

int msUntil(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(std::min<long long>(left.count(), 1 << 30)) : 0;
}

// Waits for `s` to become readable; 1 readable, 0 timed out, -1 termination requested (or the
// wait failed).
int waitReadable(platform::Socket s, int timeoutMs) {
    bool ready = false;
    if (!platform::waitReadable(s, timeoutMs, ready).ok() || platform::terminationRequested()) {
        return -1;
    }
    return ready ? 1 : 0;
}

// Waits for a termination request only.
bool sleepUnlessTerminated(int ms) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        if (platform::terminationRequested()) {
            return false;
        }
        platform::sleepMs(20);
    }
    return !platform::terminationRequested();
}

// The log beside the announcement, which repeats every line of the output with its time: a
// renderer that the plug-in launched has its standard streams on the null device.
FILE* logFile = nullptr;

void openLog(const std::string& folder, std::int64_t processId) {
    logFile = openUtf8(logPath(folder, processId), u"a");
    if (logFile != nullptr) {
        std::setvbuf(logFile, nullptr, _IOLBF, 0);
    }
}

void logLine(const char* text) {
    if (logFile == nullptr) {
        return;
    }
    char stamp[32] = "";
    const std::time_t now = std::time(nullptr);
    if (const std::tm* local = std::localtime(&now)) {
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", local);
    }
    std::fprintf(logFile, "%s raydeck-renderer: %s\n", stamp, text);
}

// One line of the renderer's output.
__attribute__((format(printf, 1, 2))) void say(const char* format, ...) {
    char text[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::printf("raydeck-renderer: %s\n", text);
    logLine(text);
}

}  // namespace

RendererSettings RendererSettings::fromEnvironment() {
    RendererSettings s;
    s.runtimeFolder = raydeck::live::runtimeFolder();
    std::string scenes;
    s.sceneFolder = platform::getEnvironment("RAYDECK_SCENE_DIR", scenes) && !scenes.empty()
                        ? scenes
                        : (std::filesystem::u8path(s.runtimeFolder) / "scenes").u8string();
    s.versionMajor = intFrom("RAYDECK_RENDERER_VERSION", 7, 1, 1000);
    s.idleSeconds = intFrom("RAYDECK_RENDERER_IDLE_S", 600, 0, 1 << 24);
    s.reportPort = intFrom("RAYDECK_RENDERER_REPORT_PORT", -1, 0, 65535);
    s.readTimeoutSeconds = intFrom("RAYDECK_RENDERER_READ_TIMEOUT_S", 600, 1, 2000000);
    const char* ports = std::getenv("RAYDECK_RENDERER_PORTS");
    int first = 0;
    int last = 0;
    char extra = 0;
    if (ports != nullptr && std::sscanf(ports, "%d-%d%c", &first, &last, &extra) == 2 &&
        first >= 1 && last <= 65535 && first <= last) {
        s.firstPort = first;
        s.lastPort = last;
    } else {
        first = last = -1;
        if (trv::link::Installation::instance().liveLinkPorts(5, 20, first, last) == 0) {
            s.firstPort = std::max(first, 1);
            s.lastPort = std::min(last, 65535);
        }
    }
    const char* failAfter = std::getenv("RAYDECK_RENDERER_FAIL_AFTER_BYTES");
    if (failAfter != nullptr && *failAfter != '\0') {
        s.failAfterBytes = std::atoll(failAfter);
    }
    const char* failMode = std::getenv("RAYDECK_RENDERER_FAIL_MODE");
    if (failMode != nullptr && *failMode != '\0') {
        s.failMode = failMode;
    }
    return s;
}

Renderer::Renderer(RendererSettings settings)
    : settings_(std::move(settings)), buffer_(new char[kReadBuffer]) {
    announcement_.versionMajor = settings_.versionMajor;
    announcement_.processId = platform::currentProcessId();
}

Renderer::~Renderer() {
    platform::closeSocket(listener_);
}

bool Renderer::listen() {
    std::vector<int> ports;
    for (int p = settings_.firstPort; p >= 1 && p <= settings_.lastPort; ++p) {
        ports.push_back(p);
    }
    ports.push_back(0);  // no range, or every port of it taken: the system picks one
    for (int port : ports) {
        int bound = 0;
        if (platform::listenLoopback(port, listener_, bound).ok()) {
            announcement_.livelinkPort = bound;
            return true;
        }
    }
    return false;
}

bool Renderer::announce() {
    Announcement shown = announcement_;
    if (settings_.reportPort >= 0) {
        shown.livelinkPort = settings_.reportPort;
    }
    return writeAnnouncement(settings_.runtimeFolder, shown);
}

void Renderer::record(const std::string& modelSet) {
    std::vector<std::string>& sets = announcement_.modelSets;
    sets.erase(std::remove(sets.begin(), sets.end(), modelSet), sets.end());
    sets.push_back(modelSet);
}

int Renderer::run() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string why;
    if (!privateRuntimeFolder(settings_.runtimeFolder, why)) {
        // Another user could read our scenes there, or plant announcements in our name.
        say("%s", why.c_str());
        return 1;
    }
    if (!platform::catchTermination().ok() || !listen()) {
        say("cannot listen on 127.0.0.1");
        return 1;
    }
    if (!announce()) {
        say("cannot announce itself in %s", settings_.runtimeFolder.c_str());
        return 1;
    }
    openLog(settings_.runtimeFolder, announcement_.processId);
    say("version %d, process %lld, listening on 127.0.0.1:%d", settings_.versionMajor,
        static_cast<long long>(announcement_.processId), announcement_.livelinkPort);
    bool terminated = false;
    const auto idle = std::chrono::seconds(settings_.idleSeconds);
    Clock::time_point idleEnd = Clock::now() + idle;
    for (;;) {
        int r = waitReadable(listener_, msUntil(idleEnd));
        if (r < 0) {
            terminated = true;
            break;
        }
        if (r == 0) {
            if (Clock::now() < idleEnd) {
                continue;  // a wait is capped below the full idle time
            }
            say("idle for %d s, exiting", settings_.idleSeconds);
            break;
        }
        platform::Socket client = platform::kNoSocket;
        if (!platform::acceptConnection(listener_, client).ok()) {
            continue;
        }
        const bool goOn = serve(client);
        platform::closeSocket(client);
        idleEnd = Clock::now() + idle;
        if (!goOn) {
            terminated = true;
            break;
        }
    }
    if (terminated) {
        say("terminated, exiting");
    }
    removeAnnouncement(settings_.runtimeFolder, announcement_.processId);
    return 0;
}

void Renderer::failOnPurpose() {
    if (settings_.failMode == "stall") {
        say("stalling on purpose after %llu bytes",
            static_cast<unsigned long long>(settings_.failAfterBytes));
        while (sleepUnlessTerminated(1000)) {
        }
        removeAnnouncement(settings_.runtimeFolder, announcement_.processId);
        std::_Exit(0);
    }
    say("dying on purpose after %llu bytes",
        static_cast<unsigned long long>(settings_.failAfterBytes));
    std::_Exit(3);
}

bool Renderer::serve(platform::Socket client) {
    ++sceneCounter_;
    const std::string path = (std::filesystem::u8path(settings_.sceneFolder) /
                              ("scene-" + std::to_string(announcement_.processId) + "-" +
                               std::to_string(sceneCounter_) + ".rdk"))
                                 .u8string();
    FILE* out = ensureFolder(settings_.sceneFolder) ? openUtf8(path, u"wb") : nullptr;
    if (out == nullptr) {
        say("cannot store a scene in %s", path.c_str());
        return true;
    }
    SceneScanner scanner([](const std::string& text, double fraction) {
        say("importing \"%s\" %.3f", text.c_str(), fraction);
    });
    bool terminated = false;
    bool ended = false;    // the client closed its side
    bool damaged = false;  // read or store failure
    while (!ended && !damaged) {
        int r = waitReadable(client, settings_.readTimeoutSeconds * 1000);
        if (r <= 0) {
            terminated = r < 0;
            damaged = true;
            break;
        }
        size_t n = 0;
        if (!platform::receiveSome(client, buffer_.get(), kReadBuffer, n).ok()) {
            damaged = true;
        } else if (n == 0) {
            ended = true;
        } else {
            scanner.feed(buffer_.get(), n);
            damaged = std::fwrite(buffer_.get(), 1, n, out) != n;
            if (settings_.failAfterBytes >= 0 &&
                scanner.bytes() >= static_cast<std::uint64_t>(settings_.failAfterBytes)) {
                failOnPurpose();
            }
        }
    }
    std::uint64_t sceneBytes = 0;
    bool complete =
        ended && !damaged && parseEndOfScene(scanner.tail(), scanner.bytes(), sceneBytes);
    complete = std::fclose(out) == 0 && complete;
    std::error_code ec;
    // The end-of-scene line is the wire's, not the scene's: cut it off.
    complete = complete &&
               (std::filesystem::resize_file(std::filesystem::u8path(path), sceneBytes, ec), !ec);
    if (!complete) {
        std::filesystem::remove(std::filesystem::u8path(path), ec);
        say("scene broken off after %llu bytes: discarded",
            static_cast<unsigned long long>(scanner.bytes()));
        return !terminated;
    }
    const std::optional<std::string>& name = scanner.modelSetName();
    if (name) {
        record(*name);
    }
    announce();
    say("scene complete: model set \"%s\", %llu bytes, stored in %s", name ? name->c_str() : "",
        static_cast<unsigned long long>(sceneBytes), path.c_str());
    const std::string ack = acknowledgement(sceneBytes);
    size_t sent = 0;
    platform::sendSome(client, ack.data(), ack.size(), sent);
    return true;
}

}  // namespace raydeck::live
