// The fuzz targets: one function per entry point, taking the raw input bytes. The libFuzzer
// executables (fuzz/FuzzMain.cpp) and the replay test (tests/fuzz) call the same functions, so
// every stored input runs through exactly the code that found it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace raydeck::fuzz {

using TargetFunction = int (*)(const std::uint8_t* data, std::size_t size);

// Host document text: loaded, then evaluated at the document's time and at others.
int hostDocument(const std::uint8_t* data, std::size_t size);
// Scene file text: read, then checked, summarised and previewed.
int sceneFile(const std::uint8_t* data, std::size_t size);
// The renderers' query XML: an instance list and scene descriptions (NUL-separated), through
// the instance list and the choice.
int queryXml(const std::uint8_t* data, std::size_t size);
// A `.reg` text: keys found and values read as the registry functions read them.
int registryFile(const std::uint8_t* data, std::size_t size);
// A decoded sequence of scene interface calls on the scene text writer.
int sceneWriter(const std::uint8_t* data, std::size_t size);
// A model file (format chosen by the first byte) through the model import.
int modelImport(const std::uint8_t* data, std::size_t size);
// Host document text through the plug-in's whole Export, into memory.
int exportDocument(const std::uint8_t* data, std::size_t size);

struct Target {
    const char* name;  // also the folder of its inputs under tests/data/fuzz
    TargetFunction run;
};

constexpr Target kTargets[] = {
    {"host_document", hostDocument}, {"scene_file", sceneFile},     {"query_xml", queryXml},
    {"registry", registryFile},      {"scene_writer", sceneWriter}, {"model_import", modelImport},
    {"export", exportDocument},
};

}  // namespace raydeck::fuzz
