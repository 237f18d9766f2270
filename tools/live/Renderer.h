// Renderer: the stand-in renderer. Listens on 127.0.0.1, announces itself in the runtime folder,
// stores every scene streamed to it as a scene file, keeps the model sets (root group names) it
// holds, shows import progress on standard output and in its log beside the announcement, and
// exits after an idle time or on SIGTERM or SIGINT, removing its announcement (the log stays).
// One connection at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "tools/live/LiveAnnouncement.h"

namespace raydeck::live {

struct RendererSettings {
    std::string runtimeFolder;  // RAYDECK_RUNTIME_DIR (see runtimeFolder())
    std::string sceneFolder;    // RAYDECK_SCENE_DIR, default "scenes" under the runtime folder
    int versionMajor = 7;       // RAYDECK_RENDERER_VERSION
    int idleSeconds = 600;      // RAYDECK_RENDERER_IDLE_S: exit after this long without a client
    int reportPort = -1;        // RAYDECK_RENDERER_REPORT_PORT: announced instead of the real one
    int readTimeoutSeconds = 600;  // RAYDECK_RENDERER_READ_TIMEOUT_S: a silent client is dropped
    int firstPort = 0;  // RAYDECK_RENDERER_PORTS "first-last": listen on the first free one;
    int lastPort = -1;  // without it the registry's Live Link range, else the system's choice
    // Test knobs for a renderer that fails mid-stream: after RAYDECK_RENDERER_FAIL_AFTER_BYTES
    // bytes of a scene it either dies (RAYDECK_RENDERER_FAIL_MODE "exit") or stops reading
    // ("stall") until it is terminated.
    long long failAfterBytes = -1;
    std::string failMode = "exit";

    static RendererSettings fromEnvironment();
};

class Renderer {
  public:
    explicit Renderer(RendererSettings settings);
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    // Sets up signals, the socket and the announcement, then serves until idle or terminated.
    // The process exit code: 0 after a normal end, 1 when it could not start.
    int run();

  private:
    bool listen();
    bool announce();
    // Reads one client's stream into a scene file; false when a termination signal came.
    bool serve(platform::Socket client);
    void record(const std::string& modelSet);
    [[noreturn]] void failOnPurpose();

    RendererSettings settings_;
    Announcement announcement_;
    platform::Socket listener_ = platform::kNoSocket;
    int sceneCounter_ = 0;
    std::unique_ptr<char[]> buffer_;
};

}  // namespace raydeck::live
