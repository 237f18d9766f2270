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

    // Bytes the arrays hold, used or not.
    size_t heldBytes() const {
        return bytes(positions) + bytes(normals) + bytes(uvs) + bytes(triangles) + bytes(corners) +
               bytes(pointRemap) + bytes(pointStamp) + bytes(claimed) + bytes(piece) +
               bytes(ranges);
    }

    // After a command: gives the largest arrays back until at most `keepBytes` stay. What stays
    // is warm for the next command, whose first mesh then costs no page faults on it.
    void trim(size_t keepBytes) {
        while (heldBytes() > keepBytes) {
            releaseLargest();
        }
    }

  private:
    template <typename V>
    static size_t bytes(const V& v) {
        return v.capacity() * sizeof(typename V::value_type);
    }
    template <typename V>
    static void release(V& v) {
        V().swap(v);
    }
    void releaseLargest() {
        size_t largest = 0;
        int which = -1;
        const size_t sizes[] = {
            bytes(positions),  bytes(normals),    bytes(uvs),     bytes(triangles), bytes(corners),
            bytes(pointRemap), bytes(pointStamp), bytes(claimed), bytes(piece),     bytes(ranges)};
        for (int i = 0; i < 10; ++i) {
            if (sizes[i] > largest) {
                largest = sizes[i];
                which = i;
            }
        }
        switch (which) {
            case 0:
                release(positions);
                break;
            case 1:
                release(normals);
                break;
            case 2:
                release(uvs);
                break;
            case 3:
                release(triangles);
                break;
            case 4:
                release(corners);
                break;
            case 5:
            case 6:
                // The remap is sized by its stamps, and their generation starts again with them.
                release(pointRemap);
                release(pointStamp);
                generation = 0;
                break;
            case 7:
                release(claimed);
                break;
            case 8:
                release(piece);
                break;
            case 9:
                release(ranges);
                break;
            default:
                break;
        }
    }
};

}  // namespace raydeck::c4d
