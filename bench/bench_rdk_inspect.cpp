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

#include "bench/GridScene.h"
#include "tools/rdk/RdkCheck.h"
#include "tools/rdk/RdkPreview.h"
#include "tools/rdk/RdkReader.h"
#include "tools/rdk/RdkStream.h"
#include "tools/rdk/RdkSummary.h"
#include "trvScene_api_file.h"
#include "trvSceneapi_oo.h"

namespace {

using raydeck::bench::kGrid;

// The grid scene written once to the scratch folder, in a root group that mirrors z as the
// object walk's does.
struct GridFile {
    raydeck::bench::GridScene grid;
    std::string path;
    long size = 0;

    GridFile() : path(grid.scratch.path("grid.rdk")) {
        FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) {
            std::abort();
        }
        {
            trvScene_api_file writer(f, true);
            writer.printf("//---tarvik:dal:7---\n");
            BorrowedFactory factory(&writer);
            trv::trvSceneapi_oo builder(&factory);
            const double mirror[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1};
            writer.beginGroup("grid", true);
            writer.transform(mirror);
            grid.convertInto(builder);
            writer.endGroup();
        }
        size = std::ftell(f);
        std::fclose(f);
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

// The check and the summary stream the file: they never hold it whole.
void BM_Check(benchmark::State& state) {
    size_t faults = 0;
    for (auto _ : state) {
        std::FILE* file = nullptr;
        std::string reason;
        if (!rdk::openSceneFile(grid().path, file, reason)) {
            state.SkipWithError(reason.c_str());
            break;
        }
        rdk::FileSource source(file);
        faults = rdk::checkScene(source).total;
        std::fclose(file);
    }
    state.counters["faults"] = static_cast<double>(faults);
}

void BM_Summary(benchmark::State& state) {
    size_t triangles = 0;
    for (auto _ : state) {
        std::FILE* file = nullptr;
        std::string reason;
        if (!rdk::openSceneFile(grid().path, file, reason)) {
            state.SkipWithError(reason.c_str());
            break;
        }
        rdk::FileSource source(file);
        rdk::Summary summary;
        rdk::ReadError error;
        rdk::summarize(source, "", summary, error);
        triangles = summary.triangles;
        std::fclose(file);
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
    if (!grid().grid.scratch.ok()) {
        std::fprintf(stderr, "bench_rdk_inspect: no scratch folder\n");
        return 1;
    }
    raydeck::bench::Collector collector;
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
