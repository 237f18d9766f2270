// Model import of the 1,000,000-quad grid (a binary PLY written once into a scratch folder):
// the Assimp read alone beside the whole import into a host document, so their ratio shows what
// building the document adds.
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>

#include <assimp/Importer.hpp>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "tools/host/ModelImport.h"

namespace {

constexpr int kSide = 1000;  // kSide * kSide quads

std::string gridFile(const raydeck::bench::ScratchDir& dir) {
    const std::string path = dir.path("grid.ply");
    std::ofstream out(path, std::ios::binary);
    const int points = (kSide + 1) * (kSide + 1);
    out << "ply\nformat binary_little_endian 1.0\nelement vertex " << points
        << "\nproperty float x\nproperty float y\nproperty float z\nelement face " << kSide * kSide
        << "\nproperty list uchar int vertex_indices\nend_header\n";
    std::vector<float> xyz;
    xyz.reserve(static_cast<size_t>(points) * 3);
    for (int j = 0; j <= kSide; ++j) {
        for (int i = 0; i <= kSide; ++i) {
            xyz.insert(xyz.end(), {float(i), float(j), 0.0f});
        }
    }
    out.write(reinterpret_cast<const char*>(xyz.data()),
              static_cast<std::streamsize>(xyz.size() * sizeof(float)));
    for (int j = 0; j < kSide; ++j) {
        for (int i = 0; i < kSide; ++i) {
            const int32_t a = j * (kSide + 1) + i;
            const int32_t face[4] = {a, a + 1, a + kSide + 2, a + kSide + 1};
            out.put(4);
            out.write(reinterpret_cast<const char*>(face), sizeof face);
        }
    }
    return path;
}

void BM_AssimpReadOnly(benchmark::State& state) {
    raydeck::bench::ScratchDir dir;
    const std::string path = gridFile(dir);
    for (auto _ : state) {
        Assimp::Importer importer;
        const aiScene* scene = importer.ReadFile(
            path, aiProcess_JoinIdenticalVertices | aiProcess_ValidateDataStructure);
        if (scene == nullptr) {
            state.SkipWithError(importer.GetErrorString());
            break;
        }
        benchmark::DoNotOptimize(scene->mMeshes[0]->mNumFaces);
    }
}
BENCHMARK(BM_AssimpReadOnly)->Unit(benchmark::kMillisecond);

void BM_ImportIntoHostDocument(benchmark::State& state) {
    raydeck::bench::ScratchDir dir;
    const std::string path = gridFile(dir);
    for (auto _ : state) {
        std::string error;
        std::vector<std::string> warnings;
        auto doc = raydeck::hostsim::importModelFile(path, error, warnings);
        if (!doc || doc->objects.empty() || doc->objects[0]->polygons.size() != kSide * kSide) {
            state.SkipWithError("the grid did not import as one million quads");
            break;
        }
        benchmark::DoNotOptimize(doc->objects[0]->polygons.data());
    }
}
BENCHMARK(BM_ImportIntoHostDocument)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
