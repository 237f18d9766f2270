// The benchmark mesh: a 1000 x 1000 quad grid (1,002,001 points) with a UVW tag, phong normals
// and two texture tags (one restricted to half the polygons), bound to the host layer for the
// whole run. Shared by the mesh and the live-link benchmarks.
#pragma once

#include <cstdio>
#include <cstdlib>
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

namespace raydeck::bench {

constexpr int kGrid = 1000;  // quads per side

// The grid document, bound to the host layer for the whole run.
struct GridScene {
    std::unique_ptr<raydeck::hostsim::SimDocument> doc;
    raydeck::hostsim::SimHost host;
    raydeck::c4d::PluginContext context;
    raydeck::hostsim::SimObject* grid = nullptr;
    raydeck::c4d::TextureTagList tags;
    ScratchDir scratch;
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

    // One conversion of the grid into `builder`.
    void convertInto(trv::trvSceneapi_oo& builder) {
        context.builder = &builder;
        raydeck::c4d::convertPolygonObject(
            context, raydeck::host::BaseObject(reinterpret_cast<RdHostNode*>(grid)), tags);
        context.builder = nullptr;
    }

    // One conversion of the grid through a builder on `factory`.
    void convert(trv::LightFactory& factory) {
        trv::trvSceneapi_oo builder(&factory);
        if (builder.backend() != nullptr) {
            convertInto(builder);
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
            convert(factory);
        }
        if (f == nullptr) {
            return 0;
        }
        const long size = std::ftell(f);
        std::fclose(f);
        return size;
    }
};

}  // namespace raydeck::bench
