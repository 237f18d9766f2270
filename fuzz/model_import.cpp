// Fuzz target: a model file through the model import (Assimp reads it; the import maps the scene
// to a host document and evaluates it). The first byte picks the file's extension, which is how
// Assimp chooses its reader; the rest is the file.
#include <string>
#include <vector>

#include "fuzz/FuzzTargets.h"
#include "fuzz/Scratch.h"
#include "tools/host/ModelImport.h"

namespace raydeck::fuzz {

namespace {

// From bare triangle lists (STL, OFF) to scenes with node transforms, materials, cameras, lights
// and animation (3DS, COLLADA, glTF); OBJ adds materials and groups. The stored seeds pick their
// format by index modulo the count: change only entries that no seed picks, and keep the count.
// Not PLY: Assimp's own PLY reader loops for ever on some truncated files, which buries
// everything else.
const char* const kExtensions[] = {".obj", ".3ds", ".off", ".stl", ".dae", ".gltf"};

}  // namespace

int modelImport(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const char* ext = kExtensions[data[0] % (sizeof kExtensions / sizeof kExtensions[0])];
    const std::string path = (scratchFolder() / (std::string("model") + ext)).string();
    if (!writeScratchFile(path, data + 1, size - 1)) {
        return 0;
    }
    std::string error;
    std::vector<std::string> warnings;
    auto doc = hostsim::importModelFile(path, error, warnings);
    if (doc) {
        doc->time = RdHostTime{0.5, 1.0};
        doc->evaluate();
    }
    return 0;
}

}  // namespace raydeck::fuzz
