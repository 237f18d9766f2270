// Animation export of one object with nine tracks (position, rotation and scale, each x, y, z)
// over 10 minutes: 18,000 samples a track. Sampling (host evaluation and placed changes),
// writing the sampled blocks through the scene text writer, and the whole export (collect,
// sample, write), side by side in one run. The counter samples_per_s counts samples per second
// of the benchmark thread's CPU time, which a busy machine disturbs less than the clock.
// BM_PoseFidelity exports the generated rigs, rotation orders and start times of
// tests/support/PoseScenes.h and reports, as pose_error_max, the largest relative deviation of
// the scene's placements (rdk pose) from the host's own at every sample time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "plugins/c4d/convert/DocumentWalk.h"
#include "plugins/c4d/convert/animation.h"
#include "plugins/c4d/host/HostContext.h"
#include "tests/support/PoseScenes.h"
#include "tools/host/HostPose.h"
#include "tools/host/SimDocument.h"
#include "tools/host/SimHost.h"
#include "tools/rdk/RdkPose.h"
#include "trvScene_api_file.h"
#include "trvSceneapi_oo.h"

namespace {

using namespace raydeck;

constexpr double kSeconds = 600.0;

std::string nineTracks() {
    std::string tracks;
    const int params[3] = {903, 904, 905};
    for (int p : params) {
        for (int c = 1000; c <= 1002; ++c) {
            if (!tracks.empty()) {
                tracks += ",";
            }
            tracks += R"({"id": [)" + std::to_string(p) + ", " + std::to_string(c) +
                      R"(], "params": {"904": 1}, "keys": [{"time": 0, "value": 1},
                      {"time": 300, "value": 2}, {"time": 600, "value": 1.5}]})";
        }
    }
    return R"({"format": "raydeck-host-document", "version": 1, "objects": [{"name": "Cube",
        "type": 5140, "position": [1, 2, 3], "rotation": [0.1, 0.2, 0.3], "scale": [1, 2, 1],
        "rotationOrder": 2, "tracks": [)" +
           tracks + "]}]}";
}

// The scratch scene file, emptied between iterations.
class Scratch {
  public:
    Scratch() : file_(dir_.open("scene.rdk")) {}
    ~Scratch() {
        if (file_) {
            std::fclose(file_);
        }
    }
    FILE* file() const { return file_; }
    void restart() const { raydeck::bench::restart(file_); }

  private:
    raydeck::bench::ScratchDir dir_;
    FILE* file_ = nullptr;
};

struct Setup {
    std::unique_ptr<hostsim::SimDocument> doc;
    hostsim::SimHost host;
    Scratch scratch;
    std::unique_ptr<trvScene_api_file> writer;
    std::unique_ptr<BorrowedFactory> factory;
    std::unique_ptr<trv::trvSceneapi_oo> builder;
    c4d::PluginContext context;
    host::BaseObject object;
    Setup() {
        std::string error;
        doc = hostsim::loadDocumentText(nineTracks(), "bench.c4d", "", error);
        host.setActiveDocument(doc.get());
        host::setHostInterface(host.table());
        writer = std::make_unique<trvScene_api_file>(scratch.file(), true);
        factory = std::make_unique<BorrowedFactory>(writer.get());
        builder = std::make_unique<trv::trvSceneapi_oo>(factory.get());
        context.builder = builder.get();
        context.document = host::BaseDocument(host.documentHandle());
        object = host::BaseObject::firstIn(context.document);
    }
    ~Setup() { host::setHostInterface(nullptr); }
    c4d::AnimationPlacement placement() const {
        return c4d::AnimationPlacement(object.position(), object.rotation(), object.scale(),
                                       object.rotationOrder(), false);
    }
};

void BM_SampleNineTracks(benchmark::State& state) {
    Setup s;
    const c4d::AnimationPlacement placement = s.placement();
    c4d::TrackSamples samples;
    int64_t count = 0;
    for (auto _ : state) {
        for (host::CTrack t = s.object.firstTrack(); t; t = t.next()) {
            c4d::sampleTrack(s.context.document, t, placement, samples);
            count += static_cast<int64_t>(samples.matrices.size());
        }
        benchmark::DoNotOptimize(samples.matrices.data());
    }
    state.counters["samples_per_s"] =
        benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsRate);
    state.counters["samples_per_track"] = static_cast<double>(samples.matrices.size());
}

void BM_WriteNineBlocks(benchmark::State& state) {
    Setup s;
    const c4d::AnimationPlacement placement = s.placement();
    std::vector<c4d::TrackSamples> sampled;
    for (host::CTrack t = s.object.firstTrack(); t; t = t.next()) {
        sampled.emplace_back();
        c4d::sampleTrack(s.context.document, t, placement, sampled.back());
    }
    int64_t count = 0;
    for (auto _ : state) {
        s.scratch.restart();
        for (const c4d::TrackSamples& one : sampled) {
            c4d::writeAnimationBlock(*s.writer, one, "Cube/Position");
            count += static_cast<int64_t>(one.matrices.size());
        }
    }
    state.counters["samples_per_s"] =
        benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsRate);
}

void BM_WholeObjectExport(benchmark::State& state) {
    Setup s;
    for (auto _ : state) {
        s.scratch.restart();
        c4d::TrackList scale, rotation, position;
        for (host::CTrack t = s.object.firstTrack(); t; t = t.next()) {
            c4d::collectTrack(s.context, t, scale, rotation, position);
        }
        const host::Vector p = s.object.position(), r = s.object.rotation(), sc = s.object.scale();
        const int order = s.object.rotationOrder();
        c4d::writeAnimation(s.context, "Cube", scale, "Scale", p, r, sc, order, false);
        c4d::writeAnimation(s.context, "Cube", rotation, "Rotation", p, r, sc, order, false);
        c4d::writeAnimation(s.context, "Cube", position, "Position", p, r, sc, order, false);
    }
    state.counters["samples_per_s"] =
        benchmark::Counter(9.0 * (kSeconds * 30.0) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

// The largest relative deviation of one document's exported placements from the host's, at
// every time the export samples; 1 when the scene does not read or the listings differ in form.
double poseError(const std::string& json, const raydeck::bench::ScratchDir& dir) {
    std::string error;
    std::unique_ptr<hostsim::SimDocument> doc =
        hostsim::loadDocumentText(json, "pose.c4d", "", error);
    if (!doc) {
        return 1.0;
    }
    hostsim::SimHost host;
    host.setActiveDocument(doc.get());
    host::setHostInterface(host.table());
    FILE* file = dir.open("pose.rdk");
    if (file == nullptr) {
        return 1.0;
    }
    {
        trvScene_api_file writer(file, true);
        BorrowedFactory factory(&writer);
        trv::trvSceneapi_oo builder(&factory);
        c4d::PluginContext context;
        context.builder = &builder;
        c4d::convertDocument(context, host::BaseDocument(host.documentHandle()));
    }
    std::fclose(file);
    host::setHostInterface(nullptr);
    rdk::Scene scene;
    rdk::ReadError readError;
    bool readable = false;
    if (!rdk::readScene(dir.path("pose.rdk"), scene, readError, readable)) {
        return 1.0;
    }
    std::ostringstream fromScene, fromHost;
    for (const hostsim::SampleTime& t : hostsim::documentSampleTimes(*doc)) {
        const double stamp = static_cast<double>(t.ms) / 1000.0;
        for (const rdk::PoseEntry& e : rdk::scenePose(scene, stamp)) {
            rdk::writePoseLine(fromScene, stamp, e.kind, e.path, e.placement);
        }
        hostsim::writeDocumentPose(*doc, stamp, t.seconds, fromHost);
    }
    double deviation = 0.0;
    std::string why;
    return rdk::comparePoses(fromScene.str(), fromHost.str(), deviation, why) ? deviation : 1.0;
}

void BM_PoseFidelity(benchmark::State& state) {
    const raydeck::bench::ScratchDir dir;
    const std::vector<testing::PoseScene> scenes = testing::poseScenes();
    double worst = 0.0;
    for (auto _ : state) {
        worst = 0.0;
        for (const testing::PoseScene& s : scenes) {
            // Flat placements are what the scene cannot follow; the export warns about them.
            if (!s.flat) {
                worst = std::max(worst, poseError(s.json, dir));
            }
        }
    }
    state.counters["pose_error_max"] = worst;
}

BENCHMARK(BM_SampleNineTracks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteNineBlocks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeObjectExport)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PoseFidelity)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
