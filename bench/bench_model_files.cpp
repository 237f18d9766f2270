// Model files through the tools, side by side in one run, for two models: the largest of the
// Assimp test set by triangles (BLEND/SuzanneSubdiv_252.blend, 251,904 triangles) and the
// 1,000,000-quad grid, written once as binary PLY by Assimp's exporter into a scratch folder on
// /dev/shm. What each figure covers:
//   Import   importModelFile: the Assimp read and the host document built from it.
//   Export   `raydeck-host export MODEL -o SCENE` as a child process, waited for: process start,
//            loading the real plug-in, the import, the plug-in's Export writing the scene file
//            (on /dev/shm) and the process's end; nothing subtracted.
//   Check    rdk::checkScene streaming that scene file.
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>

#include <assimp/Exporter.hpp>
#include <assimp/Importer.hpp>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "tests/support/RunProgram.h"
#include "tools/host/ModelImport.h"
#include "tools/rdk/RdkCheck.h"
#include "tools/rdk/RdkReader.h"

namespace {

constexpr unsigned kSide = 1000;  // kSide * kSide quads

// The scratch folder, the grid file and one exported scene per model, made once.
struct Models {
    raydeck::bench::ScratchDir scratch;
    std::vector<std::string> paths;  // 0: the largest test model, 1: the grid
    std::vector<std::string> names;
    std::string error;

    Models() {
        paths.push_back("/usr/share/assimp/models/BLEND/SuzanneSubdiv_252.blend");
        names.push_back("SuzanneSubdiv_252.blend");
        paths.push_back(writeGrid());
        names.push_back("grid 1000x1000 quads (PLY)");
    }

    std::string writeGrid() {
        aiScene scene;
        scene.mRootNode = new aiNode("grid");
        scene.mRootNode->mNumMeshes = 1;
        scene.mRootNode->mMeshes = new unsigned[1]{0};
        scene.mNumMaterials = 1;
        scene.mMaterials = new aiMaterial* [1] { new aiMaterial() };
        scene.mNumMeshes = 1;
        scene.mMeshes = new aiMesh* [1] { new aiMesh() };
        aiMesh& mesh = *scene.mMeshes[0];
        mesh.mPrimitiveTypes = aiPrimitiveType_POLYGON;
        mesh.mNumVertices = (kSide + 1) * (kSide + 1);
        mesh.mVertices = new aiVector3D[mesh.mNumVertices];
        for (unsigned j = 0; j <= kSide; ++j) {
            for (unsigned i = 0; i <= kSide; ++i) {
                mesh.mVertices[j * (kSide + 1) + i] = aiVector3D(float(i), 0.0f, float(j));
            }
        }
        mesh.mNumFaces = kSide * kSide;
        mesh.mFaces = new aiFace[mesh.mNumFaces];
        for (unsigned j = 0; j < kSide; ++j) {
            for (unsigned i = 0; i < kSide; ++i) {
                const unsigned a = j * (kSide + 1) + i;
                aiFace& f = mesh.mFaces[j * kSide + i];
                f.mNumIndices = 4;
                f.mIndices = new unsigned[4]{a, a + kSide + 1, a + kSide + 2, a + 1};
            }
        }
        const std::string path = scratch.path("grid.ply");
        Assimp::Exporter exporter;
        if (exporter.Export(&scene, "plyb", path) != AI_SUCCESS) {
            error = exporter.GetErrorString();
        }
        return path;
    }

    std::string scenePath(size_t model) const {
        return scratch.path(model == 0 ? "largest.rdk" : "grid.rdk");
    }
};

Models& models() {
    static Models m;
    return m;
}

// raydeck-host export, waited for; true on exit code 0. Its output goes to the scratch folder.
bool exportScene(const std::string& model, const std::string& scene) {
    RunOptions options;
    options.outputFolder = models().scratch.folder();
    return runProgram(RAYDECK_HOST_EXE, {"--plugin", RAYDECK_PLUGIN, "export", model, "-o", scene},
                      options)
               .code == 0;
}

bool ready(benchmark::State& state, size_t model) {
    Models& m = models();
    if (!m.scratch.ok() || !m.error.empty()) {
        state.SkipWithError(m.error.empty() ? "no scratch folder" : m.error.c_str());
        return false;
    }
    if (!std::filesystem::exists(m.paths[model])) {
        state.SkipWithError("the Assimp test models are not installed");
        return false;
    }
    state.SetLabel(m.names[model]);
    return true;
}

void BM_Import(benchmark::State& state) {
    const size_t model = static_cast<size_t>(state.range(0));
    if (!ready(state, model)) {
        return;
    }
    for (auto _ : state) {
        std::string error;
        std::vector<std::string> warnings;
        auto doc = raydeck::hostsim::importModelFile(models().paths[model], error, warnings);
        if (!doc) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(doc.get());
    }
}
BENCHMARK(BM_Import)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ExportThroughRaydeckHost(benchmark::State& state) {
    const size_t model = static_cast<size_t>(state.range(0));
    if (!ready(state, model)) {
        return;
    }
    const std::string scene = models().scenePath(model);
    for (auto _ : state) {
        if (!exportScene(models().paths[model], scene)) {
            state.SkipWithError("raydeck-host export failed");
            break;
        }
    }
    std::error_code ec;
    state.counters["scene_bytes"] = static_cast<double>(std::filesystem::file_size(scene, ec));
}
BENCHMARK(BM_ExportThroughRaydeckHost)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_ReadAndCheckScene(benchmark::State& state) {
    const size_t model = static_cast<size_t>(state.range(0));
    if (!ready(state, model)) {
        return;
    }
    const std::string scene = models().scenePath(model);
    if (!std::filesystem::exists(scene) && !exportScene(models().paths[model], scene)) {
        state.SkipWithError("raydeck-host export failed");
        return;
    }
    for (auto _ : state) {
        std::FILE* file = nullptr;
        std::string reason;
        if (!rdk::openSceneFile(scene, file, reason)) {
            state.SkipWithError("the scene does not read");
            break;
        }
        rdk::FileSource source(file);
        const std::vector<rdk::Fault> faults = rdk::checkScene(source).faults;
        std::fclose(file);
        if (!faults.empty()) {
            state.SkipWithError(faults.front().message.c_str());
            break;
        }
    }
}
BENCHMARK(BM_ReadAndCheckScene)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
