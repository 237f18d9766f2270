// Renderer: the stand-in renderer (see Renderer.h).
#include "tools/live/Renderer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "Installation.h"
#include "tools/live/LiveProtocol.h"
#include "tools/live/SceneScanner.h"

namespace raydeck::live {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kReadBuffer = 4u << 20;

// The self-pipe that turns SIGTERM and SIGINT into something poll() sees.
int signalPipe[2] = {-1, -1};

extern "C" void onTerminate(int) {
    const int saved = errno;
    const char byte = 1;
    if (::write(signalPipe[1], &byte, 1) < 0) {
        // Full pipe: a termination is already pending.
    }
    errno = saved;
}

bool installSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    return true;
}

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

bool writeAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Waits for `fd` to become readable; 1 readable, 0 timed out, -1 termination requested.
int waitReadable(int fd, int timeoutMs) {
    for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
        int r = ::poll(p, 2, timeoutMs);
        if (r < 0 && errno == EINTR) {
            continue;  // the handler wrote to the pipe; the next poll sees it
        }
        if (r < 0 || (p[1].revents & POLLIN) != 0) {
            return -1;
        }
        return r == 0 ? 0 : 1;
    }
}

// The log beside the announcement, which repeats every line of the output with its time: a
// renderer that the plug-in launched has its standard streams on the null device.
FILE* logFile = nullptr;

void openLog(const std::string& folder, std::int64_t processId) {
    logFile = std::fopen(logPath(folder, processId).c_str(), "a");
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
    const char* scenes = std::getenv("RAYDECK_SCENE_DIR");
    s.sceneFolder = (scenes != nullptr && *scenes != '\0')
                        ? std::string(scenes)
                        : (std::filesystem::path(s.runtimeFolder) / "scenes").string();
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
    announcement_.processId = ::getpid();
}

Renderer::~Renderer() {
    if (listener_ >= 0) {
        ::close(listener_);
    }
}

bool Renderer::listen() {
    std::vector<int> ports;
    for (int p = settings_.firstPort; p >= 1 && p <= settings_.lastPort; ++p) {
        ports.push_back(p);
    }
    ports.push_back(0);  // no range, or every port of it taken: the system picks one
    for (int port : ports) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return false;
        }
        int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(static_cast<uint16_t>(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::listen(fd, 8) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
            listener_ = fd;
            announcement_.livelinkPort = ntohs(addr.sin_port);
            return true;
        }
        ::close(fd);
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
    if (!installSignals() || !listen()) {
        say("cannot listen on 127.0.0.1: %s", std::strerror(errno));
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
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        const bool goOn = serve(client);
        ::close(client);
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
        while (waitReadable(-1, 1000) >= 0) {
        }
        removeAnnouncement(settings_.runtimeFolder, announcement_.processId);
        std::_Exit(0);
    }
    say("dying on purpose after %llu bytes",
        static_cast<unsigned long long>(settings_.failAfterBytes));
    std::_Exit(3);
}

bool Renderer::serve(int client) {
    ++sceneCounter_;
    const std::string path = (std::filesystem::path(settings_.sceneFolder) /
                              ("scene-" + std::to_string(announcement_.processId) + "-" +
                               std::to_string(sceneCounter_) + ".rdk"))
                                 .string();
    int out = -1;
    if (ensureFolder(settings_.sceneFolder)) {
        out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    }
    if (out < 0) {
        say("cannot store a scene in %s: %s", path.c_str(), std::strerror(errno));
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
        ssize_t n = ::read(client, buffer_.get(), kReadBuffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            continue;
        }
        if (n < 0) {
            damaged = true;
        } else if (n == 0) {
            ended = true;
        } else {
            scanner.feed(buffer_.get(), static_cast<size_t>(n));
            damaged = !writeAll(out, buffer_.get(), static_cast<size_t>(n));
            if (settings_.failAfterBytes >= 0 &&
                scanner.bytes() >= static_cast<std::uint64_t>(settings_.failAfterBytes)) {
                failOnPurpose();
            }
        }
    }
    std::uint64_t sceneBytes = 0;
    bool complete = ended && !damaged &&
                    parseEndOfScene(scanner.tail(), scanner.bytes(), sceneBytes) &&
                    ::ftruncate(out, static_cast<off_t>(sceneBytes)) == 0;
    complete = ::close(out) == 0 && complete;
    if (!complete) {
        ::unlink(path.c_str());
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
    ::send(client, ack.data(), ack.size(), MSG_NOSIGNAL);
    return true;
}

}  // namespace raydeck::live
