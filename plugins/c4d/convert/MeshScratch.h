// MeshScratch: the polygon mesh conversion's working storage, its output arrays included, kept in
// the plug-in context so that large meshes reuse it instead of reallocating per object.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

namespace raydeck::c4d {

// An allocator whose value-less construct leaves an element uninitialised, so that growing a
// scratch array by resize costs no zero-fill. Whoever grows such an array writes every new
// element before anything reads it.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
    template <typename U>
    struct rebind {
        using other = UninitializedAllocator<U>;
    };
    UninitializedAllocator() = default;
    template <typename U>
    UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible<U>::value) {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <typename T>
using ScratchVector = std::vector<T, UninitializedAllocator<T>>;

struct MeshScratch {
    // One piece's output arrays, cleared per object and never shrunk; growing them writes no
    // zeros. The normal and the uv corner indices are always equal: `corners` serves both.
    ScratchVector<float> positions;
    ScratchVector<float> normals;
    ScratchVector<float> uvs;
    ScratchVector<int32_t> triangles;
    ScratchVector<int32_t> corners;
    // Emitted vertex number of a host point, valid only where pointStamp equals generation;
    // bumping generation empties the map for the next piece in constant time.
    std::vector<int32_t> pointRemap;
    std::vector<uint32_t> pointStamp;
    uint32_t generation = 0;
    // Per polygon of the current object: non-zero once a piece claimed it (or it is unusable).
    std::vector<uint8_t> claimed;
    // The current piece's polygon indices, ascending.
    std::vector<int32_t> piece;
    // A selection's inclusive polygon ranges, clamped to the object and merged.
    std::vector<std::pair<int32_t, int32_t>> ranges;
};

}  // namespace raydeck::c4d
