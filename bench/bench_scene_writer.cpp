// Throughput of the scene text writer: a 64 MiB packed float array against one fwrite of the same
// bytes (side by side, same kind of stream), text-form arrays and single attributes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "trvScene_api_file.h"

namespace {

const raydeck::bench::ScratchDir& scratch() {
    static raydeck::bench::ScratchDir s;
    return s;
}

using raydeck::bench::restart;
using raydeck::bench::SideBySide;

// Each iteration writes the array once through the writer and once with a bare fwrite, in
// alternating order; the counters give both rates and their ratio.
void BM_PackedArrayVersusFwrite(benchmark::State& state) {
    const size_t floats = (64u << 20) / sizeof(float);
    std::vector<float> data(floats);
    for (size_t i = 0; i < floats; ++i) {
        data[i] = static_cast<float>(i) * 0.25f;
    }
    FILE* raw = scratch().open("raw.bin");
    FILE* scene = scratch().open("scene.rdk");
    if (raw == nullptr || scene == nullptr) {
        state.SkipWithError("cannot open scratch files");
        return;
    }
    trvScene_api_file writer(scene, true);
    const trvArray array = {data.data(), static_cast<uint32_t>(floats)};
    const size_t bytes = floats * sizeof(float);
    double rawTime = 0, writerTime = 0;
    SideBySide timing;
    for (auto _ : state) {
        restart(raw);
        restart(scene);
        const auto [r, w] = timing.run(
            [&] {
                std::fwrite(data.data(), 1, bytes, raw);
                std::fflush(raw);
            },
            [&] {
                writer.attribute("p", trvType::array_bit | trvType::float_, &array);
                std::fflush(scene);
            });
        rawTime += r;
        writerTime += w;
    }
    const double n = static_cast<double>(state.iterations());
    const double gib = static_cast<double>(bytes) / (1u << 30);
    state.counters["fwrite_GiB/s"] = gib * n / rawTime;
    state.counters["writer_GiB/s"] = gib * n / writerTime;
    state.counters["writer/fwrite"] = rawTime / writerTime;
    if (writer.writeFailed()) {
        state.SkipWithError("write failed");
    }
    std::fclose(scene);
    std::fclose(raw);
}
BENCHMARK(BM_PackedArrayVersusFwrite)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A float array in text form: one formatted element after another.
void BM_TextFloatArray(benchmark::State& state) {
    const size_t count = static_cast<size_t>(state.range(0));
    std::vector<float> data(count);
    for (size_t i = 0; i < count; ++i) {
        data[i] = static_cast<float>(i) * 0.001f - 3.0f;
    }
    FILE* scene = scratch().open("text.rdk");
    if (scene == nullptr) {
        state.SkipWithError("cannot open scratch file");
        return;
    }
    trvScene_api_file writer(scene, false);
    const trvArray array = {data.data(), static_cast<uint32_t>(count)};
    for (auto _ : state) {
        restart(scene);
        writer.attribute("st", trvType::array_bit | trvType::float_, &array);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(count));
    std::fclose(scene);
}
BENCHMARK(BM_TextFloatArray)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// Single attributes of the kinds a material or camera carries.
void BM_SingleAttributes(benchmark::State& state) {
    FILE* scene = scratch().open("attributes.rdk");
    if (scene == nullptr) {
        state.SkipWithError("cannot open scratch file");
        return;
    }
    trvScene_api_file writer(scene, true);
    const float colour[3] = {0.8f, 0.7f, 0.6f};
    const float f = 0.5f;
    const double d = 35.0;
    const int32_t i = 3;
    writer.beginShader("bench", "trv_advanced");
    const int perIteration = 4000;
    for (auto _ : state) {
        restart(scene);
        for (int k = 0; k < perIteration / 4; ++k) {
            writer.attribute("trv_diffuse", trvType::vec3f, colour);
            writer.attribute("glossiness", trvType::float_, &f);
            writer.attribute("focal_length", trvType::double_, &d);
            writer.attribute("samples", trvType::int_, &i);
        }
    }
    state.SetItemsProcessed(state.iterations() * perIteration);
    std::fclose(scene);
}
BENCHMARK(BM_SingleAttributes);

}  // namespace

BENCHMARK_MAIN();
