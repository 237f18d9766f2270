// Polygon mesh conversion: the polygons of a host polygon object are split into material pieces
// (each texture tag claims the polygons of its selection, or all, that no later tag claimed), and
// each non-empty piece becomes one scene object with a "triangles" geometry and its material.
#include "plugins/c4d/convert/mesh.h"

#include <algorithm>
#include <limits>
#include <map>
#include <string>

#include "plugins/c4d/convert/Material.h"
#include "plugins/c4d/convert/MaterialRecord.h"
#include "plugins/c4d/host/BaseTag.h"
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

// The vertex number of host point `index` in the current piece, appending its position when
// the piece has not used it yet.
inline int32_t vertexOf(PluginContext& ctx, const MeshSource& src, int32_t index) {
    MeshScratch& s = ctx.meshScratch;
    if (s.pointStamp[index] != s.generation) {
        s.pointStamp[index] = s.generation;
        s.pointRemap[index] = static_cast<int32_t>(ctx.positions.size() / 3);
        const RdHostVector& p = src.points[index];
        ctx.positions.push_back(static_cast<float>(p.x));
        ctx.positions.push_back(static_cast<float>(p.y));
        ctx.positions.push_back(static_cast<float>(p.z));
    }
    return s.pointRemap[index];
}

inline void appendUv(PluginContext& ctx, const RdHostVector& uvw) {
    ctx.uvs.push_back(static_cast<float>(uvw.x));
    ctx.uvs.push_back(static_cast<float>(uvw.y));
}

inline void appendNormal(PluginContext& ctx, const MeshSource& src, int32_t polygon,
                         int32_t corner) {
    if (src.normals == NormalSource::zero) {
        ctx.normals.insert(ctx.normals.end(), 3, 0.0f);
    } else {
        const float* n = src.phong + 3 * (4 * static_cast<int64_t>(polygon) + corner);
        ctx.normals.insert(ctx.normals.end(), n, n + 3);
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

bool writeArray(trvScene_api* api, const char* name, int type, const void* data, size_t count) {
    const trvArray array{data, static_cast<uint32_t>(count)};
    return api->attribute(name, type, &array);
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
    int32_t corners = 0;  // both corner counters: they always hold the same value
    for (int32_t t : s.piece) {
        s.claimed[t] = 1;
        ++claimedCount;
        const RdHostPolygon& p = src.polygons[t];
        RdHostUVWPolygon uv{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
        if (src.hasUv) {
            src.uvw.polygon(t, uv);
        }
        const int32_t a = vertexOf(ctx, src, p.a);
        const int32_t b = vertexOf(ctx, src, p.b);
        const int32_t c = vertexOf(ctx, src, p.c);
        if (src.hasUv) {
            appendUv(ctx, uv.a);
            appendUv(ctx, uv.b);
            appendUv(ctx, uv.c);
        }
        if (src.normals != NormalSource::none) {
            appendNormal(ctx, src, t, 0);
            appendNormal(ctx, src, t, 1);
            appendNormal(ctx, src, t, 2);
        }
        const int32_t k = corners;
        if (p.c == p.d) {
            // Reversed winding: a, c, b.
            const int32_t tri[3] = {a, c, b};
            const int32_t idx[3] = {k, k + 2, k + 1};
            ctx.triangles.insert(ctx.triangles.end(), tri, tri + 3);
            ctx.uvIndices.insert(ctx.uvIndices.end(), idx, idx + 3);
            ctx.normalIndices.insert(ctx.normalIndices.end(), idx, idx + 3);
            corners += 3;
        } else {
            const int32_t d = vertexOf(ctx, src, p.d);
            if (src.hasUv) {
                appendUv(ctx, uv.d);
            }
            if (src.normals != NormalSource::none) {
                appendNormal(ctx, src, t, 3);
            }
            // Cut along b-d into a-d-b and c-b-d, both with reversed winding.
            const int32_t tri[6] = {a, d, b, c, b, d};
            const int32_t idx[6] = {k, k + 3, k + 1, k + 2, k + 1, k + 3};
            ctx.triangles.insert(ctx.triangles.end(), tri, tri + 6);
            ctx.uvIndices.insert(ctx.uvIndices.end(), idx, idx + 6);
            ctx.normalIndices.insert(ctx.normalIndices.end(), idx, idx + 6);
            corners += 4;
        }
    }

    writeArray(api, "vertices", trvType::vec3f | trvType::array_bit, ctx.positions.data(),
               ctx.positions.size() / 3);
    if (!ctx.normals.empty()) {
        writeArray(api, "normals", trvType::vec3f | trvType::array_bit, ctx.normals.data(),
                   ctx.normals.size() / 3);
        writeArray(api, "triangles_norm", trvType::int_ | trvType::array_bit,
                   ctx.normalIndices.data(), ctx.normalIndices.size());
    }
    if (!ctx.uvs.empty()) {
        writeArray(api, "uv_tex", trvType::float_ | trvType::array_bit, ctx.uvs.data(),
                   ctx.uvs.size());
        writeArray(api, "triangles_uv", trvType::int_ | trvType::array_bit, ctx.uvIndices.data(),
                   ctx.uvIndices.size());
    }
    writeArray(api, "triangles", trvType::int_ | trvType::array_bit, ctx.triangles.data(),
               ctx.triangles.size());
    api->endGeometry();
    emitMaterial(ctx, record);
    api->endObject();
}

// Fills ctx.meshScratch.piece with the unclaimed polygons of a selection, ascending. False when
// the selection has no segments (the entry then writes nothing).
bool collectSelection(PluginContext& ctx, const host::BaseTag& selectionTag, int32_t n) {
    MeshScratch& s = ctx.meshScratch;
    s.piece.clear();
    host::Selection selection = selectionTag.selection();
    const int32_t segments = selection ? selection.segmentCount() : 0;
    if (segments <= 0) {
        return false;
    }
    bool ascending = true;
    for (int32_t i = 0; i < segments; ++i) {
        int32_t first = 0, last = -1;
        if (!selection.range(i, std::numeric_limits<int32_t>::max(), first, last)) {
            continue;
        }
        // Ranges reaching past the polygons name nothing that exists.
        first = std::max(first, 0);
        last = std::min(last, n - 1);
        for (int32_t t = first; t <= last; ++t) {
            if (!s.claimed[t]) {
                if (!s.piece.empty() && t <= s.piece.back()) {
                    ascending = false;
                }
                s.piece.push_back(t);
            }
        }
    }
    if (!ascending) {
        std::sort(s.piece.begin(), s.piece.end());
        s.piece.erase(std::unique(s.piece.begin(), s.piece.end()), s.piece.end());
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
    ctx.positions.clear();
    ctx.normals.clear();
    ctx.uvs.clear();
    ctx.triangles.clear();
    ctx.normalIndices.clear();
    ctx.uvIndices.clear();
}

}  // namespace

void convertPolygonObject(PluginContext& context, const host::BaseObject& object,
                          TextureTagList textureTags) {
    trvScene_api* api = context.builder ? context.builder->backend() : nullptr;
    if (api == nullptr || !object) {
        return;
    }
    // Layer gate: an object on a layer is written only when both layer switches are on.
    host::BaseList2D layer = object.layer(context.document);
    if (layer) {
        int32_t on1 = 0, on2 = 0;
        if (!layer.getInt(1001, on1) || !layer.getInt(1002, on2) || on1 == 0 || on2 == 0) {
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
    if (!object.nameUtf8(src.name)) {
        src.name = "object";
    }
    const int32_t n = src.polygonCount;

    host::BaseTag uvwTag, normalTag;
    std::map<std::string, host::BaseTag> selections;
    for (host::BaseTag tag = object.firstTag(); tag; tag = tag.next()) {
        switch (tag.type()) {
            case host::kTagUVW:
                uvwTag = tag;
                break;
            case host::kTagNormal:
                normalTag = tag;
                break;
            case host::kTagPolygonSelection: {
                std::string name;
                tag.nameUtf8(name);
                selections[name] = tag;
                break;
            }
            default:
                break;
        }
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
            entry.getStringUtf8(1006, text);
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
