// MeshScratch: working storage of the polygon mesh conversion beyond the six output arrays,
// kept in the plug-in context so that large meshes reuse it instead of reallocating per object.
#pragma once

#include <cstdint>
#include <vector>

namespace raydeck::c4d {

struct MeshScratch {
    // Emitted vertex number of a host point, valid only where pointStamp equals generation;
    // bumping generation empties the map for the next piece in constant time.
    std::vector<int32_t> pointRemap;
    std::vector<uint32_t> pointStamp;
    uint32_t generation = 0;
    // Per polygon of the current object: non-zero once a piece claimed it (or it is unusable).
    std::vector<uint8_t> claimed;
    // The current piece's polygon indices, ascending.
    std::vector<int32_t> piece;
};

}  // namespace raydeck::c4d
