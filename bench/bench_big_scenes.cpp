// Big scenes in one run, each case side by side with its smaller twin:
//   BM_ManyTextures  the export of 5,000 and of 40,000 quads, each with a material of its own
//                    whose bitmap names a distinct missing texture, and the streaming summary of
//                    each scene; the counters export_growth and summary_growth are the growth
//                    exponents log(t40k / t5k) / log(8) (target: at most 1.15).
//   BM_DeepTree      1,000 textured quads nested 1,000 levels deep against the same side by side;
//                    deep_vs_flat is the ratio of their export times (the walk shares the
//                    inherited texture-tag list instead of copying it per level).
//   BM_ShaderCaptures 100,000 textured mesh pieces' shaders through the scene text writer as the
//                    material writer makes them (a texture shader placed into a material shader,
//                    placed into the material); captures_held_mb is the heap the writer still
//                    holds for them after the last piece (each capture keeps its text until the
//                    writer ends, as a handle may be placed again; a finished one is fitted to
//                    its length).
// Times are the medians of five runs each; every run converts the whole document through the
// plug-in's document walk into the scene text writer on a scratch file.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/convert/DocumentWalk.h"
#include "plugins/c4d/host/HostContext.h"
#include "tools/host/SimDocument.h"
#include "tools/host/SimHost.h"
#include "tools/rdk/RdkStream.h"
#include "tools/rdk/RdkSummary.h"
#include "trvScene_api_file.h"
#include "trvSceneapi_oo.h"

namespace {

using namespace raydeck;

std::string quad(const std::string& name, const std::string& material,
                 const std::string& children = "") {
    return R"({"name": ")" + name + R"(", "type": 5100, "points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]],
        "polygons": [[0,1,2,3]], "tags": [{"type": 5616, "material": ")" +
           material + "\"}]" + (children.empty() ? "" : ", \"children\": [" + children + "]") + "}";
}

std::string material(const std::string& id, const std::string& texture) {
    return R"({"id": ")" + id + R"(", "type": 5703, "name": ")" + id +
           R"(", "channels": [0], "params": {"8000": {"link": "S)" + id +
           R"("}}, "shaders": [{"id": "S)" + id + R"(", "type": 5833, "params": {"1000": ")" +
           texture + "\"}}]}";
}

std::string document(const std::string& materials, const std::string& objects) {
    return R"({"format": "raydeck-host-document", "version": 1, "materials": [)" + materials +
           R"(], "objects": [)" + objects + "]}";
}

// `n` quads side by side, each with a material and a missing texture of its own.
std::string manyTextures(int n) {
    std::string materials, objects;
    for (int i = 0; i < n; ++i) {
        const std::string id = "M" + std::to_string(i);
        materials += (i ? "," : "") + material(id, "maps/t" + std::to_string(i) + ".png");
        objects += (i ? "," : "") + quad("Q" + std::to_string(i), id);
    }
    return document(materials, objects);
}

// `n` textured quads, nested each in the one before, or side by side.
std::string tree(int n, bool deep) {
    std::string objects;
    for (int i = n - 1; i >= 0; --i) {
        const std::string name = "Q" + std::to_string(i);
        objects = deep ? quad(name, "M", objects)
                       : quad(name, "M") + (objects.empty() ? "" : ",") + objects;
    }
    return document(material("M", "maps/wood.png"), objects);
}

// A loaded document bound to the host layer, exported on demand.
class Exporter {
  public:
    explicit Exporter(const std::string& json) {
        std::string error;
        doc_ = hostsim::loadDocumentText(json, "big.c4d", "", error);
        if (!doc_) {
            std::fprintf(stderr, "bench_big_scenes: %s\n", error.c_str());
        }
    }
    bool ok() const { return doc_ != nullptr && dir_.ok(); }
    std::string path() const { return dir_.path("big.rdk"); }

    // One export into the scratch file; its seconds.
    double run() {
        host_.setActiveDocument(doc_.get());
        host::setHostInterface(host_.table());
        FILE* f = std::fopen(path().c_str(), "wb");
        const auto start = std::chrono::steady_clock::now();
        {
            trvScene_api_file writer(f, true);
            BorrowedFactory factory(&writer);
            trv::trvSceneapi_oo builder(&factory);
            context_.builder = &builder;
            c4d::convertDocument(context_, host::BaseDocument(host_.documentHandle()));
            context_.builder = nullptr;
            context_.endCommand();
        }
        const double seconds = bench::secondsSince(start);
        std::fclose(f);
        host::setHostInterface(nullptr);
        return seconds;
    }

    // The streaming summary of the last export; its seconds.
    double summary(size_t& materials) const {
        const auto start = std::chrono::steady_clock::now();
        FILE* f = std::fopen(path().c_str(), "rb");
        rdk::FileSource source(f);
        rdk::Summary s;
        rdk::ReadError error;
        rdk::summarize(source, "", s, error);
        std::fclose(f);
        materials = s.materials;
        return bench::secondsSince(start);
    }

  private:
    std::unique_ptr<hostsim::SimDocument> doc_;
    hostsim::SimHost host_;
    c4d::PluginContext context_;
    bench::ScratchDir dir_;
};

template <typename F>
double medianOf(int runs, F&& f) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        t.push_back(f());
    }
    return bench::median(t);
}

double exponent(double small, double large, double factor) {
    return small > 0 ? std::log(large / small) / std::log(factor) : 0.0;
}

void BM_ManyTextures(benchmark::State& state) {
    Exporter small(manyTextures(5000)), large(manyTextures(40000));
    if (!small.ok() || !large.ok()) {
        state.SkipWithError("cannot load the documents");
        return;
    }
    double e5 = 0, e40 = 0, s5 = 0, s40 = 0;
    size_t materials = 0;
    for (auto _ : state) {
        e5 = medianOf(5, [&] { return small.run(); });
        e40 = medianOf(5, [&] { return large.run(); });
        s5 = medianOf(5, [&] { return small.summary(materials); });
        s40 = medianOf(5, [&] { return large.summary(materials); });
    }
    state.counters["export_5k_ms"] = e5 * 1e3;
    state.counters["export_40k_ms"] = e40 * 1e3;
    state.counters["summary_5k_ms"] = s5 * 1e3;
    state.counters["summary_40k_ms"] = s40 * 1e3;
    state.counters["export_growth"] = exponent(e5, e40, 8);
    state.counters["summary_growth"] = exponent(s5, s40, 8);
    state.counters["materials"] = static_cast<double>(materials);
}

void BM_DeepTree(benchmark::State& state) {
    Exporter deep(tree(1000, true)), flat(tree(1000, false));
    if (!deep.ok() || !flat.ok()) {
        state.SkipWithError("cannot load the documents");
        return;
    }
    std::vector<double> ratios;
    double d = 0, f = 0;
    for (auto _ : state) {
        d = medianOf(5, [&] { return deep.run(); });
        f = medianOf(5, [&] { return flat.run(); });
        ratios.push_back(d / f);
    }
    state.counters["deep_ms"] = d * 1e3;
    state.counters["flat_ms"] = f * 1e3;
    state.counters["deep_vs_flat"] = bench::median(ratios);
}

// The heap in use now, in bytes (glibc's count).
double heapInUse() {
    return static_cast<double>(mallinfo2().uordblks);
}

void BM_ShaderCaptures(benchmark::State& state) {
    constexpr int kPieces = 100000;
    bench::ScratchDir dir;
    const float white[3] = {1, 1, 1}, grey[3] = {0.2f, 0.2f, 0.2f};
    const int one = 1;
    double held = 0;
    for (auto _ : state) {
        FILE* f = std::fopen(dir.path("captures.rdk").c_str(), "wb");
        {
            trvScene_api_file writer(f, true);
            const double before = heapInUse();
            writer.beginObject("Pieces", true);
            for (int i = 0; i < kPieces; ++i) {
                const std::string texture =
                    "/textures/library/wood/planks_" + std::to_string(i) + "_diffuse_4k.png";
                writer.beginShader(nullptr, "texture2_rgb");
                writer.attribute("texture", trvType::string, texture.c_str());
                writer.attribute("scale", trvType::vec3f, white);
                writer.attribute("wrap", trvType::int_, &one);
                writer.endShader();
                trvShaderHandle tex = writer.currentShader();
                writer.beginShader(nullptr, "trv_advanced");
                writer.attribute("specular", trvType::vec3f, grey);
                writer.attributeShader("diffuse", tex);
                writer.endShader();
                trvShaderHandle surface = writer.currentShader();
                const std::string name = "Material " + std::to_string(i);
                writer.beginMaterial(name.c_str(), true);
                writer.shader(0, surface);
                writer.endMaterial();
            }
            writer.endObject();
            held = heapInUse() - before;
        }
        std::fclose(f);
    }
    state.counters["pieces"] = kPieces;
    state.counters["captures_held_mb"] = held / (1024.0 * 1024.0);
}

}  // namespace

BENCHMARK(BM_ManyTextures)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_DeepTree)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ShaderCaptures)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
