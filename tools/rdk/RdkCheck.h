// RdkCheck: structural checks of a scene read by RdkReader: the header line, the counts and
// indices that the geometry blocks must agree on, and finite numbers where the renderer needs
// them (points, normals, transforms, animation matrices).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/rdk/RdkReader.h"

namespace rdk {

struct Fault {
    uint64_t offset = 0;  // byte offset in the file
    std::string message;
};

// The header line every scene file starts with.
constexpr const char* kSceneHeader = "//---tarvik:dal:7---";

// All faults found (at most one per array), ordered by offset; empty when the scene is clean.
std::vector<Fault> checkScene(const Scene& scene);

}  // namespace rdk
