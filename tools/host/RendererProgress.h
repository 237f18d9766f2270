// RendererProgress: what the stand-in renderers report of their import while Render or Update
// runs, read from their logs in the runtime folder (the channel they already keep for us). A
// watcher thread follows every log from where it stood when the watch began, and hands each
// "importing" line to a callback; the plug-in knows nothing of it.
//
// Usage:
//   RendererProgress watch(runtimeFolder, [&](const std::string& name, int percent) { ... });
//   ... run the command ...
//   watch.stop();  // also on destruction; the callback is not called after stop() returns
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace raydeck::hostsim {

class RendererProgress {
  public:
    using Sink = std::function<void(const std::string& name, int percent)>;

    RendererProgress(std::string runtimeFolder, Sink sink);
    ~RendererProgress() { stop(); }
    RendererProgress(const RendererProgress&) = delete;
    RendererProgress& operator=(const RendererProgress&) = delete;

    void stop();

    // Reads everything appended to the logs since the last call and reports its import lines.
    // The watcher calls it; tests call it directly on a watch whose thread is stopped.
    void poll();

    // One log line: `... raydeck-renderer: importing "Cube" 0.500` gives "Cube" and 50.
    static bool parseImportLine(const std::string& line, std::string& name, int& percent);

  private:
    struct Followed {
        std::uint64_t offset = 0;
        std::string partial;  // a line not yet ended
    };
    void run();
    void follow(const std::string& path, Followed& log);

    std::string folder_;
    Sink sink_;
    std::map<std::string, Followed> logs_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace raydeck::hostsim
