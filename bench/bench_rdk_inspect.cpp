// rdk-inspect on a 1000 x 1000 quad grid (1,002,001 points, UVs, phong normals, two material
// pieces) converted by the mesh converter into a complete scene file on the scratch folder:
// reading the file alone, reading and parsing, check, summary and a 640x480 preview, side by
// side in one run. Prints the times and each one's ratio to the plain read.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/convert/mesh.h"
#include "plugins/c4d/host/HostContext.h"
#include "tools/host/SimDocument.h"
#include "tools/host/SimHost.h"
#include "tools/rdk/RdkCheck.h"
#include "tools/rdk/RdkPreview.h"
#include "tools/rdk/RdkReader.h"
#include "tools/rdk/RdkSummary.h"
#include "trvScene_api_file.h"
#include "trvSceneapi_oo.h"

namespace {

constexpr int kGrid = 1000;

// The grid scene written once to the scratch folder.
struct GridFile {
    raydeck::bench::ScratchDir scratch;
    std::string path;
    long size = 0;

    GridFile() {
        std::string error;
        auto doc = raydeck::hostsim::loadDocumentText(R"({"format": "raydeck-host-document",
            "version": 1, "folder": "", "materials": [
              {"id": "A", "type": 5703, "name": "Planks", "channels": [0, 8],
               "params": {"2100": [0.8, 0.6, 0.4], "3100": [0.2, 0.2, 0.2], "8000": {"link": "S"}},
               "shaders": [{"id": "S", "type": 5833, "params": {"1000": "planks.png"}}]},
              {"id": "B", "type": 5703, "name": "Paint", "channels": [0],
               "params": {"2100": [1, 0, 0]}}],
            "objects": [{"name": "Grid", "type": 5100, "tags": [
              {"type": 5671, "uvw": []}, {"type": 5612},
              {"type": 5673, "name": "half", "selection": []},
              {"type": 5616, "material": "A", "params": {"1006": ""}},
              {"type": 5616, "material": "B", "params": {"1006": "half"}}]}]})",
                                                      "grid.c4d", "", error);
        if (!doc) {
            std::fprintf(stderr, "bench_rdk_inspect: %s\n", error.c_str());
            std::abort();
        }
        raydeck::hostsim::SimObject* grid = doc->objects[0].get();
        const int side = kGrid + 1;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                grid->points.push_back(RdHostVector{x * 1.0, 0.25 * ((x + y) % 7), y * 1.0});
            }
        }
        auto& uvw = grid->tags[0]->uvw;
        auto& phong = grid->tags[1]->normals;
        grid->tags[1]->hasNormals = true;
        for (int y = 0; y < kGrid; ++y) {
            for (int x = 0; x < kGrid; ++x) {
                const int32_t a = y * side + x;
                grid->polygons.push_back(RdHostPolygon{a, a + 1, a + side + 1, a + side});
                const double u = x / double(kGrid), v = y / double(kGrid), d = 1.0 / kGrid;
                uvw.push_back(
                    RdHostUVWPolygon{{u, v, 0}, {u + d, v, 0}, {u + d, v + d, 0}, {u, v + d, 0}});
                for (int k = 0; k < 4; ++k) {
                    phong.insert(phong.end(), {0.0f, 1.0f, 0.0f});
                }
            }
        }
        grid->tags[2]->ranges = {{0, kGrid * kGrid / 2 - 1}};
        raydeck::hostsim::SimHost host;
        host.setActiveDocument(doc.get());
        raydeck::host::setHostInterface(host.table());
        raydeck::c4d::PluginContext context;
        context.document = raydeck::host::BaseDocument(host.documentHandle());
        raydeck::c4d::TextureTagList tags;
        tags.push_back(raydeck::host::BaseTag());
        for (auto& t : grid->tags) {
            if (t->type == 5616) {
                tags.push_back(raydeck::host::BaseTag(reinterpret_cast<RdHostNode*>(t.get())));
            }
        }
        path = scratch.path("grid.rdk");
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            std::abort();
        }
        {
            trvScene_api_file writer(f, true);
            writer.printf("//---tarvik:dal:7---\n");
            raydeck::bench::BorrowedFactory factory(&writer);
            trv::trvSceneapi_oo builder(&factory);
            const double mirror[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1};
            writer.beginGroup("grid", true);
            writer.transform(mirror);
            context.builder = &builder;
            raydeck::c4d::convertPolygonObject(
                context, raydeck::host::BaseObject(reinterpret_cast<RdHostNode*>(grid)), tags);
            context.builder = nullptr;
            writer.endGroup();
        }
        size = std::ftell(f);
        std::fclose(f);
        raydeck::host::setHostInterface(nullptr);
    }
};

GridFile& grid() {
    static GridFile g;
    return g;
}

rdk::Scene readGrid(benchmark::State& state) {
    rdk::Scene scene;
    rdk::ReadError error;
    bool readable = false;
    if (!rdk::readScene(grid().path, scene, error, readable)) {
        state.SkipWithError(error.message.c_str());
    }
    return scene;
}

// Into fresh memory each time, as every command reads.
void BM_ReadFileOnly(benchmark::State& state) {
    std::string reason;
    for (auto _ : state) {
        std::vector<char> bytes;
        rdk::readFileBytes(grid().path, bytes, reason);
        benchmark::DoNotOptimize(bytes.data());
    }
}

void BM_ReadAndParse(benchmark::State& state) {
    for (auto _ : state) {
        rdk::Scene scene = readGrid(state);
        benchmark::DoNotOptimize(scene.nodes.data());
    }
}

void BM_Check(benchmark::State& state) {
    size_t faults = 0;
    for (auto _ : state) {
        rdk::Scene scene = readGrid(state);
        faults = rdk::checkScene(scene).size();
    }
    state.counters["faults"] = static_cast<double>(faults);
}

void BM_Summary(benchmark::State& state) {
    size_t triangles = 0;
    for (auto _ : state) {
        rdk::Scene scene = readGrid(state);
        triangles = rdk::summarize(scene, "").triangles;
    }
    state.counters["triangles"] = static_cast<double>(triangles);
}

void BM_Preview640x480(benchmark::State& state) {
    for (auto _ : state) {
        rdk::Scene scene = readGrid(state);
        rdk::PreviewImage image = rdk::renderPreview(scene, 640, 480, nullptr);
        benchmark::DoNotOptimize(image.rgb.data());
    }
}

class Collector : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                const std::string name = run.benchmark_name();
                seconds[name.substr(0, name.find('/'))] =
                    run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

BENCHMARK(BM_ReadFileOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_ReadAndParse)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Check)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Summary)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);
BENCHMARK(BM_Preview640x480)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    if (!grid().scratch.ok()) {
        std::fprintf(stderr, "bench_rdk_inspect: no scratch folder\n");
        return 1;
    }
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    const double read = collector.seconds["BM_ReadFileOnly"];
    std::printf("\nscene: %d x %d quads, %ld bytes\n", kGrid, kGrid, grid().size);
    for (const char* name : {"BM_ReadAndParse", "BM_Check", "BM_Summary", "BM_Preview640x480"}) {
        const double t = collector.seconds[name];
        std::printf("%-18s %8.1f ms, %.2f x the plain read (%.1f ms)\n", name, t * 1e3,
                    read > 0 ? t / read : 0.0, read * 1e3);
    }
    benchmark::Shutdown();
    return 0;
}
