// RdkCheck: structural checks of scene text as RdkStream reads it: the header line, the counts
// and indices that the geometry blocks must agree on, and finite numbers where the renderer needs
// them (points, normals, transforms, animation matrices).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/rdk/RdkStream.h"

namespace rdk {

struct Fault {
    uint64_t offset = 0;  // byte offset in the file
    std::string message;
};

// The header line every scene file starts with.
constexpr const char* kSceneHeader = "//---tarvik:dal:7---";

struct CheckResult {
    // The faults found (at most one per array), ordered by offset; empty when the scene is
    // clean. A text that does not read is one fault, where reading stopped.
    std::vector<Fault> faults;
    // Every fault found; beyond kKeptFaults they are counted, not kept.
    size_t total = 0;
};

constexpr size_t kKeptFaults = 10000;

CheckResult checkScene(ByteSource& source);

}  // namespace rdk
