// raydeck-live-throughput: a timed run of the stand-ins. Writes the scene of a 1000 x 1000 quad
// grid (points, normals, UVs, triangle indices: about 164 MB with packed arrays) once to a scene
// file and once through the live library into a renderer started for the run, side by side, and
// prints both times and their ratio. Uses a temporary folder of its own and ends its renderer.
//   raydeck-live-throughput [rounds]     (default 3; the best of each is shown)
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/child.h"
#include "platform/dynlib.h"
#include "platform/utf.h"
#include "raydecklive_api.h"
#include "tools/live/LiveAnnouncement.h"
#include "trvScene_api_file.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kGrid = 1000;

struct Mesh {
    std::vector<float> points, normals, uvs;
    std::vector<int> indices;
    Mesh() {
        const int side = kGrid + 1;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                points.insert(points.end(), {float(x), 0.0f, float(y)});
                normals.insert(normals.end(), {0.0f, 1.0f, 0.0f});
                uvs.insert(uvs.end(), {float(x) / kGrid, float(y) / kGrid, 0.0f});
            }
        }
        for (int y = 0; y < kGrid; ++y) {
            for (int x = 0; x < kGrid; ++x) {
                const int a = y * side + x;
                indices.insert(indices.end(), {a, a + 1, a + side + 1, a, a + side + 1, a + side});
            }
        }
        // Per-corner normals and UVs as the mesh converter writes them.
        std::vector<float> cornerN, cornerUv;
        for (int i : indices) {
            cornerN.insert(cornerN.end(), normals.begin() + 3 * i, normals.begin() + 3 * i + 3);
            cornerUv.insert(cornerUv.end(), uvs.begin() + 3 * i, uvs.begin() + 3 * i + 3);
        }
        normals.swap(cornerN);
        uvs.swap(cornerUv);
    }
};

void writeScene(trvScene_api& api, const Mesh& m) {
    api.print("raydeck-live-throughput");
    api.version(8);
    api.beginGroup("grid", true);
    api.progress("Grid", 0.0f);
    api.beginObject("Grid", true);
    api.beginGeometry("triangles");
    auto vec3 = [&](const char* name, const std::vector<float>& v) {
        trvArray a{v.data(), static_cast<uint32_t>(v.size() / 3)};
        api.attribute(name, trvType::vec3f | trvType::array_bit, &a);
    };
    vec3("points", m.points);
    trvArray idx{m.indices.data(), static_cast<uint32_t>(m.indices.size())};
    api.attribute("indices", trvType::int_ | trvType::array_bit, &idx);
    vec3("normals", m.normals);
    vec3("uv_tex", m.uvs);
    api.endGeometry();
    api.endObject();
    api.progress("Grid", 1.0f);
    api.endGroup();
}

double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::string folder = (fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path())
                             .append("raydeck-throughput-XXXXXX")
                             .string();
    if (mkdtemp(folder.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string runtime = folder + "/run";
    setenv("RAYDECK_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("RAYDECK_SCENE_DIR", (folder + "/scenes").c_str(), 1);
    setenv("RAYDECK_REGISTRY", (folder + "/none.reg").c_str(), 1);

    // Its progress lines are not figures.
    platform::ChildOptions quiet;
    quiet.outputFile = "/dev/null";
    platform::Child renderer;
    if (!platform::spawnChild(RAYDECK_RENDERER_EXE, {}, quiet, renderer).ok()) {
        std::fprintf(stderr, "raydeck-live-throughput: cannot start %s\n", RAYDECK_RENDERER_EXE);
        std::error_code ec;
        fs::remove_all(folder, ec);
        return 1;
    }
    const std::int64_t rendererId = renderer.id;
    raydeck::live::Announcement a;
    for (int i = 0; i < 500 && !raydeck::live::findAnnouncement(runtime, rendererId, a); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::u16string path;
    platform::utf8ToUtf16(RAYDECK_LIVE_LIBRARY, path);
    platform::LibraryHandle lib = nullptr;
    void* init = nullptr;
    LiveRoot* root = nullptr;
    if (a.livelinkPort > 0 && platform::loadLibrary(path, lib).ok() &&
        platform::findSymbol(lib, "raydeck_live_initialize", init).ok()) {
        root = reinterpret_cast<raydeck_live_initialize_fn>(init)();
    }
    int status = 1;
    if (root != nullptr) {
        const Mesh mesh;
        double bestFile = 1e9, bestLive = 1e9;
        uintmax_t bytes = 0;
        bool ok = true;
        for (int r = 0; r < rounds; ++r) {
            const std::string file = folder + "/export.rdk";
            Clock::time_point start = Clock::now();
            FILE* f = std::fopen(file.c_str(), "wb+");
            {
                trvScene_api_file w(f, true);
                writeScene(w, mesh);
            }
            std::fclose(f);
            bestFile = std::min(bestFile, seconds(start));
            bytes = fs::file_size(file);

            trvScene_api* live = root->sceneApi();
            start = Clock::now();
            live->id(1);
            ok = live->connect("localhost", static_cast<unsigned>(a.livelinkPort), 4) && ok;
            writeScene(*live, mesh);
            ok = live->disconnect() && ok;
            bestLive = std::min(bestLive, seconds(start));
        }
        std::printf(
            "scene %.1f MB; best of %d: export to a file %.3f s, streaming to the renderer "
            "(stored and acknowledged) %.3f s, ratio %.2f%s\n",
            bytes / 1e6, rounds, bestFile, bestLive, bestLive / bestFile,
            ok ? "" : " (a live scene FAILED)");
        status = ok ? 0 : 1;
        delete root;
    }
    if (lib != nullptr) {
        platform::freeLibrary(lib);
    }
    bool ended = false;
    int code = 0;
    platform::stopChild(renderer);
    platform::waitChild(renderer, -1, ended, code);
    std::error_code ec;
    fs::remove_all(folder, ec);
    return status;
}
