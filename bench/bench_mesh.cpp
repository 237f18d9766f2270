// Polygon mesh conversion of a 1000 x 1000 quad grid (1,002,001 points) with a UVW tag, phong
// normals and two texture tags (one restricted to half the polygons), written to a scene file
// with packed arrays, against one fwrite of the same output bytes, side by side in one run, both
// on /dev/shm when it exists. The same mesh exported as binary PLY by Assimp is shown beside
// when Assimp is available. Prints the times, the ratio, the output size and the peak memory.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
#include "trvScene_api_file.h"
#include "trvSceneapi_oo.h"

#ifdef RAYDECK_HAVE_ASSIMP
#include <assimp/scene.h>

#include <assimp/Exporter.hpp>
#endif

namespace {

constexpr int kGrid = 1000;  // quads per side

using raydeck::bench::BorrowedFactory;

// The grid document, bound to the host layer for the whole run.
struct GridScene {
    std::unique_ptr<raydeck::hostsim::SimDocument> doc;
    raydeck::hostsim::SimHost host;
    raydeck::c4d::PluginContext context;
    raydeck::hostsim::SimObject* grid = nullptr;
    raydeck::c4d::TextureTagList tags;
    raydeck::bench::ScratchDir scratch;
    std::vector<char> output;  // one conversion's file, for the fwrite baseline

    GridScene() {
        std::string error;
        doc = raydeck::hostsim::loadDocumentText(R"({"format": "raydeck-host-document",
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
            std::fprintf(stderr, "bench_mesh: %s\n", error.c_str());
            std::abort();
        }
        grid = doc->objects[0].get();
        const int side = kGrid + 1;
        grid->points.reserve(static_cast<size_t>(side) * side);
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
        host.setActiveDocument(doc.get());
        raydeck::host::setHostInterface(host.table());
        context.document = raydeck::host::BaseDocument(host.documentHandle());
        tags.push_back(raydeck::host::BaseTag());
        for (auto& t : grid->tags) {
            if (t->type == 5616) {
                tags.push_back(raydeck::host::BaseTag(reinterpret_cast<RdHostNode*>(t.get())));
            }
        }
    }

    // One conversion written to `path` (to no stream when empty); answers the bytes written.
    long convertTo(const std::string& path) {
        FILE* f = path.empty() ? nullptr : std::fopen(path.c_str(), "wb");
        if (f == nullptr && !path.empty()) {
            return -1;
        }
        {
            trvScene_api_file writer(f, true);
            BorrowedFactory factory(&writer);
            trv::trvSceneapi_oo builder(&factory);
            context.builder = &builder;
            raydeck::c4d::convertPolygonObject(
                context, raydeck::host::BaseObject(reinterpret_cast<RdHostNode*>(grid)), tags);
            context.builder = nullptr;
        }
        if (f == nullptr) {
            return 0;
        }
        const long size = std::ftell(f);
        std::fclose(f);
        return size;
    }
};

GridScene& scene() {
    static GridScene s;
    return s;
}

void BM_ConvertAndWrite(benchmark::State& state) {
    GridScene& s = scene();
    const std::string path = s.scratch.path("converted.rdk");
    long size = 0;
    for (auto _ : state) {
        size = s.convertTo(path);
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.counters["bytes"] = static_cast<double>(size);
}

// The conversion alone, into a writer without a stream: how much of the total is ours.
void BM_ConvertOnly(benchmark::State& state) {
    GridScene& s = scene();
    for (auto _ : state) {
        s.convertTo("");
    }
}

// What the host spends handing out the phong normals once (part of every conversion above).
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
    if (s.output.empty()) {
        const std::string path = s.scratch.path("reference.rdk");
        const long size = s.convertTo(path);
        s.output.resize(size > 0 ? static_cast<size_t>(size) : 0);
        FILE* f = std::fopen(path.c_str(), "rb");
        if (f == nullptr || std::fread(s.output.data(), 1, s.output.size(), f) != s.output.size()) {
            state.SkipWithError("cannot read the converted file back");
            return;
        }
        std::fclose(f);
    }
    const std::string path = s.scratch.path("fwrite.bin");
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(s.output.data(), 1, s.output.size(), f);
        std::fclose(f);
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

// Keeps the real time of each benchmark for the ratio printed at the end.
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

BENCHMARK(BM_ConvertAndWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
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
    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    const double convert = collector.seconds["BM_ConvertAndWrite"];
    const double fwrite = collector.seconds["BM_FwriteSameBytes"];
    std::printf("\nmesh: 1000 x 1000 quads, %zu points, output %zu bytes\n",
                scene().grid->points.size(), scene().output.size());
    std::printf(
        "convert+write %.2f ms, fwrite of the same bytes %.2f ms, ratio %.2f (target <= 2)\n",
        convert * 1e3, fwrite * 1e3, fwrite > 0 ? convert / fwrite : 0.0);
    const double phong = collector.seconds["BM_HostPhongRequest"];
    std::printf("of which the host's phong normal request %.2f ms; ratio without it %.2f\n",
                phong * 1e3, fwrite > 0 ? (convert - phong) / fwrite : 0.0);
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
