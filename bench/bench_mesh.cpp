// Polygon mesh conversion of a 1000 x 1000 quad grid (1,002,001 points) with a UVW tag, phong
// normals and two texture tags (one restricted to half the polygons), written to a scene file
// with packed arrays, against one fwrite of the same output bytes, both on /dev/shm when it
// exists. BM_ConvertAndWrite alternates the two within each iteration and reports the median of
// their ratios as the counter vs_fwrite (target: at most 1.3), with the scratch kept warm from
// the previous conversion and, in BM_ConvertAndWriteColdScratch, given back before each.
// vs_fwrite_cpu is the same ratio in thread CPU time, which a shared machine disturbs less.
// BM_KeptAfterCommand reports kept_after_command_mb: the resident memory one command leaves. The
// same mesh exported as binary PLY by Assimp is shown beside when Assimp is available. Prints the
// times, the ratio, the output size and the peak memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/GridScene.h"
#include "platform/processinfo.h"

#ifdef RAYDECK_HAVE_ASSIMP
#include <assimp/scene.h>

#include <assimp/Exporter.hpp>
#endif

namespace {

using raydeck::bench::GridScene;
using raydeck::bench::kGrid;

GridScene& scene() {
    static GridScene s;
    return s;
}

// One conversion's output bytes, kept for the fwrite baseline; false, with the benchmark skipped,
// when they cannot be read.
bool referenceBytes(GridScene& s, benchmark::State& state) {
    if (!s.output.empty()) {
        return true;
    }
    const std::string path = s.scratch.path("reference.rdk");
    const long size = s.convertTo(path);
    s.output.resize(size > 0 ? static_cast<size_t>(size) : 0);
    FILE* f = std::fopen(path.c_str(), "rb");
    const bool ok = f != nullptr && !s.output.empty() &&
                    std::fread(s.output.data(), 1, s.output.size(), f) == s.output.size();
    if (f != nullptr) {
        std::fclose(f);
    }
    if (!ok) {
        state.SkipWithError("cannot read the converted file back");
    }
    return ok;
}

// The CPU seconds (user and system) this thread spends in `work`: on a machine shared with other
// builds the wall-clock ratio measures the scheduler as much as the work.
template <typename F>
double threadCpuSeconds(F&& work) {
    timespec a{}, b{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
    work();
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
    return static_cast<double>(b.tv_sec - a.tv_sec) +
           1e-9 * static_cast<double>(b.tv_nsec - a.tv_nsec);
}

// The reference bytes written to `path` with one fwrite.
void fwriteOnce(const GridScene& s, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f != nullptr) {
        std::fwrite(s.output.data(), 1, s.output.size(), f);
        std::fclose(f);
    }
}

// Convert and write, timed; each iteration also writes the same bytes with one fwrite (first or
// second in turn), timed apart. vs_fwrite is the median of the iterations' ratios, which a busy
// machine disturbs least.
void BM_ConvertAndWrite(benchmark::State& state) {
    GridScene& s = scene();
    if (!referenceBytes(s, state)) {
        return;
    }
    const std::string path = s.scratch.path("converted.rdk");
    const std::string plain = s.scratch.path("fwrite.bin");
    long size = 0;
    std::vector<double> ratios, cpuRatios;
    raydeck::bench::SideBySide timing;
    for (auto _ : state) {
        double convertCpu = 0, fwriteCpu = 0;
        const auto [c, f] =
            timing.run([&] { convertCpu = threadCpuSeconds([&] { size = s.convertTo(path); }); },
                       [&] { fwriteCpu = threadCpuSeconds([&] { fwriteOnce(s, plain); }); });
        state.SetIterationTime(c);
        if (f > 0) {
            ratios.push_back(c / f);
        }
        if (fwriteCpu > 0) {
            cpuRatios.push_back(convertCpu / fwriteCpu);
        }
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["bytes"] = static_cast<double>(size);
    state.counters["vs_fwrite"] = raydeck::bench::median(ratios);
    state.counters["vs_fwrite_cpu"] = raydeck::bench::median(cpuRatios);
}

// As BM_ConvertAndWrite, with the scratch given back before each conversion, as the first
// command of a session (or one after a much larger mesh) meets it: the page faults of a cold
// scratch are in the time.
void BM_ConvertAndWriteColdScratch(benchmark::State& state) {
    GridScene& s = scene();
    if (!referenceBytes(s, state)) {
        return;
    }
    const std::string path = s.scratch.path("converted.rdk");
    const std::string plain = s.scratch.path("fwrite.bin");
    std::vector<double> ratios;
    raydeck::bench::SideBySide timing;
    for (auto _ : state) {
        s.context.meshScratch = raydeck::c4d::MeshScratch();
        platform::releaseFreeMemory();
        const auto [c, f] = timing.run([&] { s.convertTo(path); }, [&] { fwriteOnce(s, plain); });
        state.SetIterationTime(c);
        if (f > 0) {
            ratios.push_back(c / f);
        }
    }
    state.counters["vs_fwrite"] = raydeck::bench::median(ratios);
}

// What one command leaves resident, as a user sees it: the process's resident memory after an
// Export of the grid and the plug-in's end of command, against before it.
void BM_KeptAfterCommand(benchmark::State& state) {
    GridScene& s = scene();
    const std::string path = s.scratch.path("kept.rdk");
    double kept = 0;
    for (auto _ : state) {
        s.context.endCommand();
        s.context.meshScratch = raydeck::c4d::MeshScratch();
        platform::releaseFreeMemory();
        std::uint64_t before = 0, after = 0;
        if (!platform::residentBytes(before).ok()) {
            state.SkipWithError("no resident memory figure on this system");
            break;
        }
        s.convertTo(path);
        s.context.endCommand();
        platform::residentBytes(after);
        kept = after > before ? static_cast<double>(after - before) / (1 << 20) : 0.0;
    }
    state.counters["kept_after_command_mb"] = kept;
    state.counters["scratch_mb"] =
        static_cast<double>(s.context.meshScratch.heldBytes()) / (1 << 20);
}

// The conversion alone, into a writer without a stream: how much of the total is ours.
void BM_ConvertOnly(benchmark::State& state) {
    GridScene& s = scene();
    for (auto _ : state) {
        s.convertTo("");
    }
}

// What the host spends handing out the phong normals once (part of every conversion above): a
// lend of its stored array, where it used to be a fresh copy.
void BM_HostPhongRequest(benchmark::State& state) {
    GridScene& s = scene();
    const raydeck::host::BaseObject grid(reinterpret_cast<RdHostNode*>(s.grid));
    for (auto _ : state) {
        raydeck::host::PhongNormals normals = grid.phongNormals();
        benchmark::DoNotOptimize(normals.data());
    }
}

void BM_FwriteSameBytes(benchmark::State& state) {
    GridScene& s = scene();
    if (!referenceBytes(s, state)) {
        return;
    }
    const std::string path = s.scratch.path("fwrite.bin");
    for (auto _ : state) {
        fwriteOnce(s, path);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(s.output.size()));
}

#ifdef RAYDECK_HAVE_ASSIMP
// The same grid as an Assimp scene: positions, phong normals, UVs, one quad face per polygon.
std::unique_ptr<aiScene> assimpGrid(const GridScene& s) {
    auto scene = std::make_unique<aiScene>();
    scene->mRootNode = new aiNode("Grid");
    scene->mRootNode->mNumMeshes = 1;
    scene->mRootNode->mMeshes = new unsigned[1]{0};
    scene->mNumMaterials = 1;
    scene->mMaterials = new aiMaterial* [1] { new aiMaterial() };
    scene->mNumMeshes = 1;
    scene->mMeshes = new aiMesh* [1] { new aiMesh() };
    aiMesh* mesh = scene->mMeshes[0];
    mesh->mPrimitiveTypes = aiPrimitiveType_POLYGON;
    const auto& points = s.grid->points;
    mesh->mNumVertices = static_cast<unsigned>(points.size());
    mesh->mVertices = new aiVector3D[points.size()];
    mesh->mNormals = new aiVector3D[points.size()];
    mesh->mTextureCoords[0] = new aiVector3D[points.size()];
    mesh->mNumUVComponents[0] = 2;
    for (size_t i = 0; i < points.size(); ++i) {
        mesh->mVertices[i] = aiVector3D(float(points[i].x), float(points[i].y), float(points[i].z));
        mesh->mNormals[i] = aiVector3D(0, 1, 0);
        mesh->mTextureCoords[0][i] =
            aiVector3D(float(points[i].x / kGrid), float(points[i].z / kGrid), 0);
    }
    const auto& polygons = s.grid->polygons;
    mesh->mNumFaces = static_cast<unsigned>(polygons.size());
    mesh->mFaces = new aiFace[polygons.size()];
    for (size_t i = 0; i < polygons.size(); ++i) {
        aiFace& face = mesh->mFaces[i];
        face.mNumIndices = 4;
        face.mIndices = new unsigned[4]{unsigned(polygons[i].a), unsigned(polygons[i].b),
                                        unsigned(polygons[i].c), unsigned(polygons[i].d)};
    }
    return scene;
}

void BM_AssimpBinaryPly(benchmark::State& state) {
    GridScene& s = scene();
    std::unique_ptr<aiScene> grid = assimpGrid(s);
    const std::string path = s.scratch.path("grid.ply");
    Assimp::Exporter exporter;
    for (auto _ : state) {
        if (exporter.Export(grid.get(), "plyb", path) != AI_SUCCESS) {
            state.SkipWithError(exporter.GetErrorString());
            break;
        }
    }
    std::error_code ec;
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path, ec));
}
#endif

}  // namespace

BENCHMARK(BM_ConvertAndWrite)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(2.0);
BENCHMARK(BM_ConvertAndWriteColdScratch)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->MinTime(2.0);
BENCHMARK(BM_KeptAfterCommand)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ConvertOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_HostPhongRequest)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_FwriteSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
#ifdef RAYDECK_HAVE_ASSIMP
BENCHMARK(BM_AssimpBinaryPly)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
#endif

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    if (!scene().scratch.ok()) {
        std::fprintf(stderr, "bench_mesh: no scratch folder\n");
        return 1;
    }
    raydeck::bench::Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    const double convert = collector.seconds["BM_ConvertAndWrite"];
    const double fwrite = collector.seconds["BM_FwriteSameBytes"];
    std::printf("\nmesh: 1000 x 1000 quads, %zu points, output %zu bytes\n",
                scene().grid->points.size(), scene().output.size());
    std::printf(
        "convert+write %.2f ms, fwrite of the same bytes alone %.2f ms; vs_fwrite %.2f "
        "(alternating, target <= 1.3; in CPU time %.2f)\n",
        convert * 1e3, fwrite * 1e3, collector.counters["BM_ConvertAndWrite"]["vs_fwrite"],
        collector.counters["BM_ConvertAndWrite"]["vs_fwrite_cpu"]);
    std::printf(
        "with a cold scratch: vs_fwrite %.2f; kept after the command %.1f MB (scratch %.1f "
        "MB, target <= 64)\n",
        collector.counters["BM_ConvertAndWriteColdScratch"]["vs_fwrite"],
        collector.counters["BM_KeptAfterCommand"]["kept_after_command_mb"],
        collector.counters["BM_KeptAfterCommand"]["scratch_mb"]);
    const double phong = collector.seconds["BM_HostPhongRequest"];
    std::printf("the host's phong normal request %.3f ms\n", phong * 1e3);
    const auto assimp = collector.seconds.find("BM_AssimpBinaryPly");
    if (assimp != collector.seconds.end()) {
        std::printf("assimp binary PLY export of the same mesh %.2f ms\n", assimp->second * 1e3);
    }
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory (ru_maxrss) %ld KiB\n", usage.ru_maxrss);
    benchmark::Shutdown();
    raydeck::host::setHostInterface(nullptr);
    return 0;
}
