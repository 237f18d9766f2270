// Model import of the 1,000,000-quad grid (a binary PLY written once into a scratch folder):
// the Assimp read alone beside the whole import into a host document, so their ratio shows what
// building the document adds. Then the import's memory per triangle of a binary STL whose
// triangles share no corner (counter kib_per_triangle: peak resident memory above the start,
// per triangle), and the grid as OBJ beside the same grid as a host document file, side by side
// (counters cpu_ratio and peak_ratio: the OBJ import over the document load, in this process;
// tool_cpu_ratio: `raydeck-host export` of the OBJ over that of the document, with the real
// plug-in, counting the CPU time of the tool and of the processes it waits for, the bounded
// import's child among them).
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <assimp/Importer.hpp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "tests/support/RunProgram.h"
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

// Resident memory of this process in KiB: now, or the peak since the last resetPeak.
long residentKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::atol(line.c_str() + std::string(field).size());
        }
    }
    return 0;
}
// Hands freed memory back first, so that what one step freed does not hide the next one's use.
bool resetPeak() {
    malloc_trim(0);
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.close();
    return static_cast<bool>(clear);
}

constexpr int kStlTriangles = 84000;

// A binary STL whose triangles share no corner: every vertex stands alone until joined.
std::string stlSoup(const raydeck::bench::ScratchDir& dir) {
    const std::string path = dir.path("soup.stl");
    std::ofstream out(path, std::ios::binary);
    out << std::string(80, ' ');
    const uint32_t count = kStlTriangles;
    out.write(reinterpret_cast<const char*>(&count), sizeof count);
    std::mt19937 random(7);
    std::uniform_real_distribution<float> coordinate(0.0f, 1.0f);
    for (uint32_t t = 0; t < count; ++t) {
        float record[12] = {0, 0, 1};
        for (int k = 3; k < 12; ++k) {
            record[k] = coordinate(random);
        }
        out.write(reinterpret_cast<const char*>(record), sizeof record);
        out.write("\0\0", 2);
    }
    return path;
}

void BM_BinaryStlImportMemory(benchmark::State& state) {
    raydeck::bench::ScratchDir dir;
    const std::string path = stlSoup(dir);
    double perTriangle = 0;
    for (auto _ : state) {
        if (!resetPeak()) {
            state.SkipWithError("cannot reset the peak resident memory");
            break;
        }
        const long before = residentKiB("VmRSS:");
        std::string error;
        std::vector<std::string> warnings;
        auto doc = raydeck::hostsim::importModelFile(path, error, warnings);
        if (!doc) {
            state.SkipWithError(error.c_str());
            break;
        }
        perTriangle = double(residentKiB("VmHWM:") - before) / kStlTriangles;
    }
    state.counters["kib_per_triangle"] = perTriangle;
}
BENCHMARK(BM_BinaryStlImportMemory)->Unit(benchmark::kMillisecond)->Iterations(3);

// The grid with per-corner UVs and one normal, as OBJ and as a host document file.
void gridObjAndDocument(const raydeck::bench::ScratchDir& dir, std::string& obj,
                        std::string& document) {
    obj = dir.path("grid.obj");
    document = dir.path("grid.json");
    const int s = kSide + 1;
    const double d = 1.0 / kSide;
    FILE* o = std::fopen(obj.c_str(), "w");
    FILE* j = std::fopen(document.c_str(), "w");
    if (o == nullptr || j == nullptr) {
        return;
    }
    std::fprintf(j,
                 "{\"format\": \"raydeck-host-document\", \"version\": 1, \"objects\": "
                 "[{\"name\": \"Grid\", \"type\": 5100, \"points\": [");
    for (int y = 0; y < s; ++y) {
        for (int x = 0; x < s; ++x) {
            const double h = 0.25 * ((x + y) % 7);
            std::fprintf(o, "v %d %g %d\nvt %g %g\n", x, h, y, x * d, y * d);
            std::fprintf(j, "%s[%d, %g, %d]", x || y ? ",\n" : "\n", x, h, y);
        }
    }
    std::fprintf(o, "vn 0 1 0\n");
    std::fprintf(j, "],\n\"polygons\": [");
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            const int a = y * s + x + 1;  // OBJ counts from 1
            const int c[4] = {a, a + 1, a + s + 1, a + s};
            std::fprintf(o, "f %d/%d/1 %d/%d/1 %d/%d/1 %d/%d/1\n", c[0], c[0], c[1], c[1], c[2],
                         c[2], c[3], c[3]);
            std::fprintf(j, "%s[%d, %d, %d, %d]", x || y ? ",\n" : "\n", c[0] - 1, c[1] - 1,
                         c[2] - 1, c[3] - 1);
        }
    }
    std::fprintf(j, "],\n\"tags\": [{\"type\": 5671, \"uvw\": [");
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            const double u = x * d, v = y * d;
            std::fprintf(j, "%s[[%g, %g, 0], [%g, %g, 0], [%g, %g, 0], [%g, %g, 0]]",
                         x || y ? ",\n" : "\n", u, v, u + d, v, u + d, v + d, u, v + d);
        }
    }
    std::fprintf(j, "]},\n{\"type\": 5612, \"normals\": [");
    for (int i = 0; i < kSide * kSide; ++i) {
        std::fprintf(j, "%s[0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0]", i ? ",\n" : "\n");
    }
    std::fprintf(j, "]}]}]}\n");
    std::fclose(o);
    std::fclose(j);
}

void BM_GridObjBesideDocument(benchmark::State& state) {
    raydeck::bench::ScratchDir dir;
    std::string obj, document;
    gridObjAndDocument(dir, obj, document);
    std::vector<double> cpu, peak;
    for (auto _ : state) {
        double seconds[2] = {0, 0};
        long kib[2] = {0, 0};
        for (int side = 0; side < 2; ++side) {
            resetPeak();
            const long before = residentKiB("VmRSS:");
            const std::clock_t start = std::clock();
            std::string error;
            std::vector<std::string> warnings;
            auto doc = side == 0 ? raydeck::hostsim::importModelFile(obj, error, warnings)
                                 : raydeck::hostsim::loadDocumentFile(document, error);
            seconds[side] = double(std::clock() - start) / CLOCKS_PER_SEC;  // CPU time
            kib[side] = residentKiB("VmHWM:") - before;
            if (!doc || doc->allObjects().back()->polygons.size() != size_t(kSide) * kSide) {
                state.SkipWithError(("the grid did not load: " + error).c_str());
                return;
            }
        }
        cpu.push_back(seconds[0] / seconds[1]);
        peak.push_back(double(kib[0]) / double(kib[1]));
    }
    state.counters["cpu_ratio"] = raydeck::bench::median(cpu);
    state.counters["peak_ratio"] = raydeck::bench::median(peak);
}
BENCHMARK(BM_GridObjBesideDocument)->Unit(benchmark::kMillisecond)->Iterations(3);

double childrenCpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_CHILDREN, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) * 1e-6;
}

void BM_GridExportObjBesideDocument(benchmark::State& state) {
    raydeck::bench::ScratchDir dir;
    std::string obj, document;
    gridObjAndDocument(dir, obj, document);
    std::vector<double> cpu;
    for (auto _ : state) {
        double seconds[2] = {0, 0};
        for (int side = 0; side < 2; ++side) {
            RunOptions options;
            options.outputFolder = dir.folder();
            const double before = childrenCpuSeconds();
            const ProgramRun run =
                runProgram(RAYDECK_HOST_EXE,
                           {"--plugin", RAYDECK_PLUGIN, "export", side == 0 ? obj : document, "-o",
                            dir.path("grid.rdk")},
                           options);
            seconds[side] = childrenCpuSeconds() - before;
            if (run.code != 0) {
                state.SkipWithError("raydeck-host export failed");
                return;
            }
        }
        cpu.push_back(seconds[0] / seconds[1]);
    }
    state.counters["tool_cpu_ratio"] = raydeck::bench::median(cpu);
}
BENCHMARK(BM_GridExportObjBesideDocument)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
