// Polygon mesh conversion: the polygons of a host polygon object are split into material pieces
// (each texture tag claims the polygons of its selection, or all, that no later tag claimed), and
// each non-empty piece becomes one scene object with a "triangles" geometry and its material.
#include "plugins/c4d/convert/mesh.h"

#include <algorithm>
#include <limits>
#include <string>

#include "plugins/c4d/convert/Material.h"
#include "plugins/c4d/convert/MaterialRecord.h"
#include "plugins/c4d/convert/ObjectTags.h"
#include "plugins/c4d/convert/SceneValues.h"
#include "plugins/c4d/host/BaseTag.h"
#include "plugins/c4d/host/HostNumbers.h"
#include "trvScene_api.h"

namespace raydeck::c4d {

namespace {

enum class NormalSource { none, zero, phong };

// What every piece of one object shares.
struct MeshSource {
    const RdHostVector* points = nullptr;
    int32_t pointCount = 0;
    const RdHostPolygon* polygons = nullptr;
    int32_t polygonCount = 0;
    host::UVWData uvw;  // only when it holds a record for every polygon
    bool hasUv = false;
    const float* phong = nullptr;  // 12 floats per polygon, only when complete
    NormalSource normals = NormalSource::none;
    std::string name;
};

bool pointExists(const MeshSource& src, int32_t index) {
    return index >= 0 && index < src.pointCount;
}

// Output cursors into the scratch arrays, which are sized for the whole piece up front (without
// a zero-fill: see ScratchVector), so that the per-corner appends are plain stores.
struct PieceCursor {
    float* positions;
    int32_t vertexCount;
    float* uvs;
    int32_t* triangles;
    int32_t* corners;  // corner indices: the same for the normal and the uv index arrays
};

// The vertex number of host point `index` in the current piece, appending its position when
// the piece has not used it yet.
inline int32_t vertexOf(MeshScratch& s, PieceCursor& out, const RdHostVector* points,
                        int32_t index) {
    if (s.pointStamp[index] != s.generation) {
        s.pointStamp[index] = s.generation;
        s.pointRemap[index] = out.vertexCount++;
        const RdHostVector& p = points[index];
        out.positions[0] = static_cast<float>(p.x);
        out.positions[1] = static_cast<float>(p.y);
        out.positions[2] = static_cast<float>(p.z);
        out.positions += 3;
    }
    return s.pointRemap[index];
}

inline void appendUv(PieceCursor& out, const RdHostVector& uvw) {
    out.uvs[0] = static_cast<float>(uvw.x);
    out.uvs[1] = static_cast<float>(uvw.y);
    out.uvs += 2;
}

// The piece's phong normals of corners a, b, c (and d for quads), copied from the host's array:
// the normals of consecutive quads lie back to back there, so runs of them go in one copy.
void copyPhongNormals(PluginContext& ctx, const MeshSource& src, size_t cornerCount) {
    ctx.meshScratch.normals.reserve(3 * cornerCount);
    const std::vector<int32_t>& piece = ctx.meshScratch.piece;
    const auto isQuad = [&](int32_t t) { return src.polygons[t].c != src.polygons[t].d; };
    for (size_t i = 0; i < piece.size();) {
        const int32_t first = piece[i];
        const float* from = src.phong + 12 * static_cast<int64_t>(first);
        if (!isQuad(first)) {
            ctx.meshScratch.normals.insert(ctx.meshScratch.normals.end(), from, from + 9);
            ++i;
            continue;
        }
        size_t j = i + 1;
        while (j < piece.size() && piece[j] == piece[j - 1] + 1 && isQuad(piece[j])) {
            ++j;
        }
        ctx.meshScratch.normals.insert(ctx.meshScratch.normals.end(), from, from + 12 * (j - i));
        i = j;
    }
}

// Starts a new, empty point remap for the next piece.
void resetRemap(MeshScratch& s, int32_t pointCount) {
    if (s.pointStamp.size() < static_cast<size_t>(pointCount)) {
        s.pointStamp.resize(pointCount, 0);
        s.pointRemap.resize(pointCount, 0);
    }
    if (++s.generation == 0) {
        // The stamp wrapped: forget every old stamp once.
        std::fill(s.pointStamp.begin(), s.pointStamp.end(), 0u);
        s.generation = 1;
    }
}

// Writes one piece (the polygons in ctx.meshScratch.piece, ascending) as a scene object with its
// geometry and material, and claims its polygons.
void emitMeshPiece(PluginContext& ctx, trvScene_api* api, const MeshSource& src,
                   const MaterialRecord& record, int32_t& claimedCount) {
    MeshScratch& s = ctx.meshScratch;
    if (s.piece.empty()) {
        return;
    }
    api->beginObject(src.name.c_str(), true);
    api->beginGeometry("triangles");

    resetRemap(s, src.pointCount);
    // Sizes of the piece: 3 corners and 3 indices per triangle, 4 and 6 per quad.
    size_t triangleCount = 0;
    for (int32_t t : s.piece) {
        triangleCount += src.polygons[t].c == src.polygons[t].d ? 1 : 0;
    }
    const size_t quadCount = s.piece.size() - triangleCount;
    const size_t cornerCount = 3 * triangleCount + 4 * quadCount;
    const size_t indexCount = 3 * triangleCount + 6 * quadCount;
    // Every element of the arrays sized here is written below before it is read.
    ctx.meshScratch.positions.resize(3 *
                                     std::min(cornerCount, static_cast<size_t>(src.pointCount)));
    ctx.meshScratch.triangles.resize(indexCount);
    ctx.meshScratch.corners.resize(indexCount);
    if (src.hasUv) {
        ctx.meshScratch.uvs.resize(2 * cornerCount);
    }
    // The normals: zeros for a normal tag; the host's phong normals themselves when the piece is
    // one unbroken run of quads (their layout is then the piece's), else copies of them.
    const float* normals = nullptr;
    size_t normalCount = 0;  // in vectors
    if (src.normals == NormalSource::zero) {
        ctx.meshScratch.normals.assign(3 * cornerCount, 0.0f);
    } else if (src.normals == NormalSource::phong) {
        const bool oneRun =
            static_cast<size_t>(s.piece.back() - s.piece.front()) + 1 == s.piece.size();
        if (oneRun && triangleCount == 0) {
            normals = src.phong + 12 * static_cast<int64_t>(s.piece.front());
            normalCount = cornerCount;
        } else {
            copyPhongNormals(ctx, src, cornerCount);
        }
    }
    if (normals == nullptr && !ctx.meshScratch.normals.empty()) {
        normals = ctx.meshScratch.normals.data();
        normalCount = ctx.meshScratch.normals.size() / 3;
    }

    PieceCursor out{ctx.meshScratch.positions.data(), 0, ctx.meshScratch.uvs.data(),
                    ctx.meshScratch.triangles.data(), ctx.meshScratch.corners.data()};
    int32_t k = 0;  // the corner counter, shared by normal and uv indices
    for (int32_t t : s.piece) {
        s.claimed[t] = 1;
        ++claimedCount;
        const RdHostPolygon& p = src.polygons[t];
        RdHostUVWPolygon uv;  // read only with a UVW tag, which fills it
        if (src.hasUv) {
            src.uvw.polygon(t, uv);
        }
        // A triangle repeats its third point as the fourth.
        const bool triangle = p.c == p.d;
        const int32_t polygonCorners = triangle ? 3 : 4;
        int32_t vertex[4] = {vertexOf(s, out, src.points, p.a), vertexOf(s, out, src.points, p.b),
                             vertexOf(s, out, src.points, p.c), 0};
        if (!triangle) {
            vertex[3] = vertexOf(s, out, src.points, p.d);
        }
        if (src.hasUv) {
            const RdHostVector* cornerUv[4] = {&uv.a, &uv.b, &uv.c, &uv.d};
            for (int32_t i = 0; i < polygonCorners; ++i) {
                appendUv(out, *cornerUv[i]);
            }
        }
        // Reversed winding: a triangle as a, c, b; a quad cut along b-d into a-d-b and c-b-d.
        static constexpr int32_t kTriangleOrder[] = {0, 2, 1};
        static constexpr int32_t kQuadOrder[] = {0, 3, 1, 2, 1, 3};
        const int32_t* order = triangle ? kTriangleOrder : kQuadOrder;
        const int32_t polygonIndices = triangle ? 3 : 6;
        for (int32_t i = 0; i < polygonIndices; ++i) {
            out.triangles[i] = vertex[order[i]];
            out.corners[i] = k + order[i];
        }
        out.triangles += polygonIndices;
        out.corners += polygonIndices;
        k += polygonCorners;
    }
    // Positions were sized for the most vertices the piece could have.
    ctx.meshScratch.positions.resize(3 * static_cast<size_t>(out.vertexCount));
    const ScratchVector<float>& positions = ctx.meshScratch.positions;
    const ScratchVector<float>& uvs = ctx.meshScratch.uvs;
    const ScratchVector<int32_t>& triangles = ctx.meshScratch.triangles;
    const ScratchVector<int32_t>& corners = ctx.meshScratch.corners;

    // Normal and uv corner indices are always equal, so one array serves both attributes.
    writeArray(*api, "vertices", trvType::vec3f, positions.data(), positions.size() / 3);
    if (normalCount > 0) {
        writeArray(*api, "normals", trvType::vec3f, normals, normalCount);
        writeArray(*api, "triangles_norm", trvType::int_, corners.data(), corners.size());
    }
    if (!uvs.empty()) {
        writeArray(*api, "uv_tex", trvType::float_, uvs.data(), uvs.size());
        writeArray(*api, "triangles_uv", trvType::int_, corners.data(), corners.size());
    }
    writeArray(*api, "triangles", trvType::int_, triangles.data(), triangles.size());
    api->endGeometry();
    emitMaterial(ctx, record);
    api->endObject();
}

// Fills ctx.meshScratch.piece with the unclaimed polygons of a selection, ascending. False when
// the selection has no segments (the entry then writes nothing). The ranges are merged before
// their polygons are visited, so that overlapping ranges cost their count, not their lengths.
bool collectSelection(PluginContext& ctx, const host::BaseTag& selectionTag, int32_t n) {
    MeshScratch& s = ctx.meshScratch;
    s.piece.clear();
    s.ranges.clear();
    host::Selection selection = selectionTag.selection();
    const int32_t segments = selection ? selection.segmentCount() : 0;
    if (segments <= 0) {
        return false;
    }
    bool ordered = true;  // ascending and apart: nothing to merge
    for (int32_t i = 0; i < segments; ++i) {
        int32_t first = 0, last = -1;
        if (!selection.range(i, std::numeric_limits<int32_t>::max(), first, last)) {
            continue;
        }
        // Ranges reaching past the polygons name nothing that exists.
        first = std::max(first, 0);
        last = std::min(last, n - 1);
        if (first > last) {
            continue;
        }
        if (!s.ranges.empty() && first <= s.ranges.back().second) {
            ordered = false;
        }
        s.ranges.emplace_back(first, last);
    }
    if (!ordered) {
        std::sort(s.ranges.begin(), s.ranges.end());
        size_t kept = 0;
        for (size_t i = 1; i < s.ranges.size(); ++i) {
            auto& back = s.ranges[kept];
            if (s.ranges[i].first <= back.second) {
                back.second = std::max(back.second, s.ranges[i].second);
            } else {
                s.ranges[++kept] = s.ranges[i];
            }
        }
        s.ranges.resize(kept + 1);
    }
    for (const auto& r : s.ranges) {
        for (int32_t t = r.first; t <= r.second; ++t) {
            if (!s.claimed[t]) {
                s.piece.push_back(t);
            }
        }
    }
    return true;
}

void collectAll(PluginContext& ctx, int32_t n) {
    MeshScratch& s = ctx.meshScratch;
    s.piece.clear();
    for (int32_t t = 0; t < n; ++t) {
        if (!s.claimed[t]) {
            s.piece.push_back(t);
        }
    }
}

void clearScratch(PluginContext& ctx) {
    ctx.meshScratch.positions.clear();
    ctx.meshScratch.normals.clear();
    ctx.meshScratch.uvs.clear();
    ctx.meshScratch.triangles.clear();
    ctx.meshScratch.corners.clear();
}

}  // namespace

void convertPolygonObject(PluginContext& context, const host::BaseObject& object,
                          const TextureTagList& textureTags) {
    trvScene_api* api = context.builder ? context.builder->backend() : nullptr;
    if (api == nullptr || !object) {
        return;
    }
    // Layer gate: an object on a layer is written only when both layer switches are on.
    host::BaseList2D layer = object.layer(context.document);
    if (layer) {
        int32_t on1 = 0, on2 = 0;
        if (!layer.getInt(host::layerParam::kSwitchA, on1) ||
            !layer.getInt(host::layerParam::kSwitchB, on2) || on1 == 0 || on2 == 0) {
            return;
        }
    }
    const host::Vector display = objectDisplayColor(context, object);

    MeshSource src;
    const host::ConstArray<RdHostVector> points = object.points();
    const host::ConstArray<RdHostPolygon> polygons = object.polygons();
    src.points = points.data;
    src.pointCount = points.size();
    src.polygons = polygons.data;
    src.polygonCount = polygons.size();
    src.name = nodeName(object);
    const int32_t n = src.polygonCount;

    host::BaseTag uvwTag, normalTag;
    SelectionTagMap selections;
    TextureTagList ownTextureTags;  // unused: the walk already put them into textureTags
    for (host::BaseTag tag = object.firstTag(); tag; tag = tag.next()) {
        scanTag(tag, &uvwTag, &normalTag, &selections, ownTextureTags);
    }

    // UVW or phong data that does not cover every polygon counts as absent for the whole object.
    if (uvwTag) {
        src.uvw = uvwTag.uvwData();
        src.hasUv = src.uvw && src.uvw.count() >= n;
    }
    host::PhongNormals phong;
    if (normalTag) {
        src.normals = NormalSource::zero;
    } else {
        phong = object.phongNormals();
        if (phong && phong.polygonCount() >= n) {
            src.phong = phong.data();
            src.normals = NormalSource::phong;
        }
    }

    // A polygon naming a point that does not exist is never written: it counts as claimed.
    MeshScratch& scratch = context.meshScratch;
    scratch.claimed.assign(static_cast<size_t>(n), 0);
    int32_t claimedCount = 0;
    for (int32_t t = 0; t < n; ++t) {
        const RdHostPolygon& p = src.polygons[t];
        if (!pointExists(src, p.a) || !pointExists(src, p.b) || !pointExists(src, p.c) ||
            !pointExists(src, p.d)) {
            scratch.claimed[t] = 1;
            ++claimedCount;
        }
    }

    // Last entry first: the object's own tags claim before the inherited ones, and the null
    // entry at the front gives what is left the display colour.
    for (size_t i = textureTags.size(); i-- > 0;) {
        clearScratch(context);
        if (claimedCount >= n) {
            break;
        }
        const host::BaseTag& entry = textureTags[i];
        const bool isTexture = static_cast<bool>(entry);
        if (isTexture && entry.type() != host::kTagTexture) {
            continue;
        }
        const host::BaseTag* restriction = nullptr;
        if (isTexture) {
            std::string text;
            entry.getStringUtf8(host::textureTagParam::kRestriction, text);
            auto it = selections.find(text);
            if (it != selections.end()) {
                restriction = &it->second;
            }
        }
        MaterialRecord record;
        record.diffuse[0] = display.x;
        record.diffuse[1] = display.y;
        record.diffuse[2] = display.z;
        if (isTexture && !readTextureTag(context, entry, record)) {
            continue;
        }
        if (restriction) {
            if (!collectSelection(context, *restriction, n)) {
                continue;
            }
        } else {
            collectAll(context, n);
        }
        emitMeshPiece(context, api, src, record, claimedCount);
    }
    scratch.piece.clear();
}

}  // namespace raydeck::c4d
