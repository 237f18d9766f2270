// The benchmark mesh (bench/GridScene.h: 1000 x 1000 quads) streamed through the live link into
// the stand-in renderer, against the same mesh exported to a scene file, side by side in one run.
// Each streamed iteration is a whole live session: the live factory loads the live library
// through the registry, picks the running renderer, connects, streams, and waits until the
// renderer has stored the scene. BM_StreamToRenderer also exports the file in each iteration
// (first or second in turn) and reports the median of the iterations' ratios as the counter
// vs_file (target: at most 1.2). Scratch files, the registry file and the renderer's scene folder
// live on /dev/shm when it exists.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/GridScene.h"
#include "tests/support/RegistryFile.h"
#include "tests/support/RunProgram.h"
#include "trvFactories.h"

namespace {

namespace fs = std::filesystem;
using raydeck::bench::GridScene;

GridScene& scene() {
    static GridScene s;
    return s;
}

// One stand-in renderer with its installation in a registry file, for the whole run.
class Renderer {
  public:
    explicit Renderer(const raydeck::bench::ScratchDir& scratch)
        : runtime_(scratch.path("run")), scenes_(scratch.path("scenes")) {
        fs::create_directories(runtime_);
        fs::create_directories(scenes_);
        const std::string reg = scratch.path("registry.reg");
        std::ofstream(reg) << installationReg(RAYDECK_RENDERER, RAYDECK_LIVE_DIR,
                                              scratch.path("res"));
        fs::create_directories(scratch.path("res"));
        setenv("RAYDECK_REGISTRY", reg.c_str(), 1);
        setenv("RAYDECK_RUNTIME_DIR", runtime_.c_str(), 1);
        setenv("RAYDECK_SCENE_DIR", scenes_.c_str(), 1);
        setenv("RAYDECK_RENDERER_IDLE_S", "600", 1);
        RunOptions options;
        options.stdoutPath = "/dev/null";  // its progress lines are not figures
        options.outputFolder = scratch.folder();
        if (!child_.start(RAYDECK_RENDERER, {}, options)) {
            return;
        }
        const std::string announcement = runtime_ + "/" + std::to_string(child_.pid()) + ".xml";
        for (int i = 0; i < 500 && !fs::exists(announcement) && !child_.ended(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ready_ = fs::exists(announcement);
    }
    ~Renderer() { child_.stop(SIGTERM); }  // it removes its announcement

    bool ready() const { return ready_; }
    // Removes the stored scenes; answers the size of the last one seen.
    std::uintmax_t clearScenes() const {
        std::uintmax_t size = 0;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(scenes_, ec)) {
            size = entry.file_size(ec);
            fs::remove(entry.path(), ec);
        }
        return size;
    }

  private:
    std::string runtime_, scenes_;
    ChildProcess child_;
    bool ready_ = false;
};

Renderer& renderer() {
    static Renderer r(scene().scratch);
    return r;
}

// One export of the mesh to `path` through the file factory.
void exportToFile(GridScene& s, const std::string& path) {
    trv::LightFileFactory factory(path);
    s.convert(factory);
    factory.close();
}

// One live session streaming the mesh; the factory's error, empty on success.
std::string streamToRenderer(GridScene& s) {
    trv::RepeatLinkFactory factory;
    factory.setAcceptAnyInstance(true);  // the renderer holds the previous scene
    factory.setVersionRange(7, 8);
    s.convert(factory);
    const bool connected = factory.state().backend != nullptr;
    factory.close();
    if (!factory.lastError().empty()) {
        return factory.lastError();
    }
    return connected ? std::string() : std::string("no connection to the renderer");
}

void BM_ExportToFile(benchmark::State& state) {
    GridScene& s = scene();
    const std::string path = s.scratch.path("export.rdk");
    for (auto _ : state) {
        exportToFile(s, path);
    }
    std::error_code ec;
    state.counters["bytes"] = static_cast<double>(fs::file_size(path, ec));
}

void BM_StreamToRenderer(benchmark::State& state) {
    GridScene& s = scene();
    Renderer& r = renderer();
    if (!r.ready()) {
        state.SkipWithError("the stand-in renderer did not announce itself");
        return;
    }
    const std::string path = s.scratch.path("export.rdk");
    std::uintmax_t size = 0;
    std::vector<double> ratios;
    raydeck::bench::SideBySide timing;
    for (auto _ : state) {
        std::string error;
        const auto [live, file] =
            timing.run([&] { error = streamToRenderer(s); }, [&] { exportToFile(s, path); });
        if (!error.empty()) {
            state.SkipWithError(error.c_str());
            break;
        }
        state.SetIterationTime(live);
        if (file > 0) {
            ratios.push_back(live / file);
        }
        size = r.clearScenes();
    }
    state.counters["bytes"] = static_cast<double>(size);
    state.counters["vs_file"] = raydeck::bench::median(ratios);
}

}  // namespace

BENCHMARK(BM_ExportToFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_StreamToRenderer)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    raydeck::bench::Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    const double file = collector.seconds["BM_ExportToFile"];
    const double live = collector.seconds["BM_StreamToRenderer"];
    std::printf(
        "\nexport to a file %.2f ms, stream into the renderer %.2f ms; vs_file %.2f "
        "(alternating, target <= 1.2)\n",
        file * 1e3, live * 1e3, collector.counters["BM_StreamToRenderer"]["vs_file"]);
    benchmark::Shutdown();
    return 0;
}
