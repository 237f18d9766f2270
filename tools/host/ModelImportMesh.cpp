// The model import's meshes: the meshes of a node merged into one polygon object with its UVW
// and phong tags, and what precedes the conversion (faces mended, identical vertices joined).
#include <cmath>
#include <cstdint>
#include <cstring>

#include "tools/host/ModelImporter.h"

namespace raydeck::hostsim::modelimport {

namespace {

bool finite(const aiVector3D& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// For a mesh without normals beside meshes with them: the face's own normal at each corner.
void faceNormal(const aiVector3D* p, const unsigned c[4], bool quad, std::vector<float>& out) {
    const int corners = quad ? 4 : 3;
    double n[3] = {0, 0, 0};
    for (int k = 0; k < corners; ++k) {
        const aiVector3D& u = p[c[k]];
        const aiVector3D& w = p[c[(k + 1) % corners]];
        n[0] += (u.y - w.y) * (u.z + w.z);
        n[1] += (u.z - w.z) * (u.x + w.x);
        n[2] += (u.x - w.x) * (u.y + w.y);
    }
    const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
    n[2] = -n[2];  // into host coordinates
    for (int k = 0; k < 4; ++k) {
        for (double v : n) {
            out.push_back(static_cast<float>(len > 0 ? v / len : 0.0));
        }
    }
}

// Assimp's own step keeps a record of every attribute Assimp knows for every vertex (1.9 KiB per
// triangle of a binary STL, and most of the time of a large OBJ); this one does without.
class VertexJoin {
  public:
    explicit VertexJoin(aiMesh& m) : m_(m) {
        for (unsigned c = 0; c < AI_MAX_NUMBER_OF_TEXTURECOORDS; ++c) {
            if (m.HasTextureCoords(c)) {
                uv_.push_back(m.mTextureCoords[c]);
            }
        }
    }

    void run() {
        const unsigned n = m_.mNumVertices;
        if (n == 0 || m_.mVertices == nullptr || m_.mFaces == nullptr) {
            return;
        }
        constexpr unsigned kUnused = ~0u;
        std::vector<unsigned> newIndex(n, kUnused);
        std::vector<unsigned> kept;  // old index of each new vertex
        kept.reserve(n);
        // In vertex order, as Assimp's step: the first of identical vertices stands for them.
        // Candidates share the position exactly (Assimp's search allows a few units in the last
        // place of a squared distance, which is equality); an open-addressing table over the
        // kept vertices finds them, in the order they were kept.
        std::vector<uint8_t> used(n, 0);
        for (unsigned f = 0; f < m_.mNumFaces; ++f) {
            const aiFace& face = m_.mFaces[f];
            for (unsigned k = 0; k < face.mNumIndices; ++k) {
                used[face.mIndices[k]] = 1;
            }
        }
        size_t capacity = 16;
        while (capacity < 2 * size_t(n)) {
            capacity *= 2;
        }
        std::vector<unsigned> slots(capacity, 0);  // 1 + the new index; 0: empty
        for (unsigned v = 0; v < n; ++v) {
            if (!used[v]) {
                continue;
            }
            size_t slot = hash(m_.mVertices[v]) & (capacity - 1);
            unsigned match = kUnused;
            for (; slots[slot] != 0; slot = (slot + 1) & (capacity - 1)) {
                const unsigned c = kept[slots[slot] - 1];
                if (m_.mVertices[c] == m_.mVertices[v] && same(c, v)) {
                    match = slots[slot] - 1;
                    break;
                }
            }
            if (match == kUnused) {
                match = static_cast<unsigned>(kept.size());
                kept.push_back(v);
                slots[slot] = match + 1;
            }
            newIndex[v] = match;
        }
        for (unsigned f = 0; f < m_.mNumFaces; ++f) {
            aiFace& face = m_.mFaces[f];
            for (unsigned k = 0; k < face.mNumIndices; ++k) {
                face.mIndices[k] = newIndex[face.mIndices[k]];
            }
        }
        if (kept.size() == n) {
            return;  // every vertex used and distinct: each kept its index
        }
        compact(m_.mVertices, kept);
        compact(m_.mNormals, kept);
        compact(m_.mTangents, kept);
        compact(m_.mBitangents, kept);
        for (unsigned c = 0; c < AI_MAX_NUMBER_OF_TEXTURECOORDS; ++c) {
            compact(m_.mTextureCoords[c], kept);
        }
        for (unsigned c = 0; c < AI_MAX_NUMBER_OF_COLOR_SETS; ++c) {
            compact(m_.mColors[c], kept);
        }
        for (unsigned b = 0; b < m_.mNumBones; ++b) {
            aiBone* bone = m_.mBones[b];
            if (bone == nullptr || bone->mWeights == nullptr) {
                continue;
            }
            // A joined vertex keeps the weight of the vertex that stands for it.
            unsigned w = 0;
            for (unsigned i = 0; i < bone->mNumWeights; ++i) {
                const unsigned v = bone->mWeights[i].mVertexId;
                if (v < n && newIndex[v] != kUnused && kept[newIndex[v]] == v) {
                    bone->mWeights[w] = bone->mWeights[i];
                    bone->mWeights[w].mVertexId = newIndex[v];
                    ++w;
                }
            }
            bone->mNumWeights = w;
        }
        m_.mNumVertices = static_cast<unsigned>(kept.size());
    }

  private:
    static uint64_t mix(uint64_t h, float f) {
        f += 0.0f;  // -0 equals 0: one hash for both
        uint32_t bits;
        std::memcpy(&bits, &f, sizeof bits);
        return (h ^ bits) * 0x100000001b3ull;
    }
    static size_t hash(const aiVector3D& p) {
        const uint64_t h = mix(mix(mix(0xcbf29ce484222325ull, p.x), p.y), p.z);
        return static_cast<size_t>(h ^ (h >> 32));
    }

    // Assimp's test: every attribute within 1e-5 of the other vertex's; vertex colours are not
    // compared (Assimp's step does not either, and the import drops them).
    bool same(unsigned a, unsigned b) const {
        constexpr float kSquareEpsilon = 1e-5f * 1e-5f;
        auto near = [a, b](const aiVector3D* p) {
            return p == nullptr || (p[a] - p[b]).SquareLength() <= kSquareEpsilon;
        };
        if (!near(m_.mVertices) || !near(m_.mNormals) || !near(m_.mTangents) ||
            !near(m_.mBitangents)) {
            return false;
        }
        for (const aiVector3D* uv : uv_) {
            if (!near(uv)) {
                return false;
            }
        }
        return true;
    }

    template <typename T>
    static void compact(T* values, const std::vector<unsigned>& kept) {
        if (values == nullptr) {
            return;
        }
        for (size_t i = 0; i < kept.size(); ++i) {
            values[i] = values[kept[i]];  // kept is ascending: kept[i] >= i
        }
    }

    aiMesh& m_;
    std::vector<const aiVector3D*> uv_;
};

}  // namespace

void joinIdenticalVertices(aiMesh& mesh) {
    VertexJoin(mesh).run();
}

size_t mendFaces(aiScene& scene) {
    size_t dropped = 0;
    for (unsigned i = 0; i < scene.mNumMeshes; ++i) {
        aiMesh* m = scene.mMeshes[i];
        if (m == nullptr || m->mFaces == nullptr) {
            continue;
        }
        unsigned kept = 0, types = 0;
        for (unsigned f = 0; f < m->mNumFaces; ++f) {
            aiFace& face = m->mFaces[f];
            bool fits = face.mNumIndices > 0 && face.mIndices != nullptr;
            for (unsigned k = 0; fits && k < face.mNumIndices; ++k) {
                fits = face.mIndices[k] < m->mNumVertices;
            }
            if (!fits) {
                ++dropped;
                continue;
            }
            types |= face.mNumIndices == 1   ? aiPrimitiveType_POINT
                     : face.mNumIndices == 2 ? aiPrimitiveType_LINE
                     : face.mNumIndices == 3 ? aiPrimitiveType_TRIANGLE
                                             : aiPrimitiveType_POLYGON;
            if (kept != f) {
                std::swap(m->mFaces[kept], face);  // the dropped face's indices go to the end
            }
            ++kept;
        }
        m->mNumFaces = kept;  // Assimp frees faces by the array, not by the count
        if (kept > 0) {
            m->mPrimitiveTypes = types;
        }
    }
    return dropped;
}

// Faces a host polygon can hold: 3 or more corners whose indices name vertices of the mesh
// at finite positions (a renderer cannot place a corner at infinity).
Importer::FaceFit Importer::fit(const aiMesh& m, const aiFace& f) {
    if (f.mNumIndices < 3) {
        return f.mNumIndices == 2 ? FaceFit::Line : FaceFit::Point;
    }
    for (unsigned k = 0; k < f.mNumIndices; ++k) {
        if (f.mIndices[k] >= m.mNumVertices) {
            return FaceFit::OutOfRange;
        }
    }
    for (unsigned k = 0; k < f.mNumIndices; ++k) {
        if (!finite(m.mVertices[f.mIndices[k]])) {
            return FaceFit::NonFinite;
        }
    }
    return FaceFit::Usable;
}

// Counts what it skips.
bool Importer::usable(const aiMesh& m, const aiFace& f) {
    switch (fit(m, f)) {
        case FaceFit::Usable:
            return true;
        case FaceFit::Line:
            ++skipped_.lines;
            break;
        case FaceFit::Point:
            ++skipped_.points;
            break;
        case FaceFit::OutOfRange:
            ++skipped_.badFaces;
            break;
        case FaceFit::NonFinite:
            ++skipped_.nonFiniteFaces;
            break;
    }
    return false;
}

// One polygon object holding every mesh of the node; per material a selection and a
// restricted texture tag when the meshes use more than one material.
std::unique_ptr<SimObject> Importer::meshObject(const aiNode& n, const std::string& name) {
    std::vector<MeshPart> parts;
    bool anyUv = false, anyNormals = false;
    size_t pointCount = 0, polygonCount = 0;
    for (unsigned i = 0; i < n.mNumMeshes; ++i) {
        if (n.mMeshes[i] >= scene_.mNumMeshes) {
            continue;
        }
        const aiMesh* m = scene_.mMeshes[n.mMeshes[i]];
        size_t count = 0;
        for (unsigned f = 0; f < m->mNumFaces; ++f) {
            const aiFace& face = m->mFaces[f];
            if (usable(*m, face)) {
                count += (face.mNumIndices - 1) / 2;  // 3,4 -> 1; 5,6 -> 2; ...
            }
        }
        if (count == 0) {
            continue;
        }
        parts.push_back(MeshPart{m});
        pointCount += m->mNumVertices;
        polygonCount += count;
        anyUv = anyUv || m->HasTextureCoords(0);
        anyNormals = anyNormals || m->HasNormals();
    }
    if (parts.empty()) {
        return nullptr;
    }
    auto o = newObject(hn::kObjectPolygon, name);
    o->points.reserve(pointCount);
    o->polygons.reserve(polygonCount);
    std::vector<RdHostUVWPolygon> uvw;
    std::vector<float> normals;
    if (anyUv) {
        uvw.reserve(polygonCount);
    }
    if (anyNormals) {
        normals.reserve(polygonCount * 12);
    }
    for (MeshPart& part : parts) {
        const aiMesh& m = *part.mesh;
        const int32_t base = static_cast<int32_t>(o->points.size());
        for (unsigned v = 0; v < m.mNumVertices; ++v) {
            o->points.push_back(
                RdHostVector{m.mVertices[v].x, m.mVertices[v].y, -m.mVertices[v].z});
        }
        part.first = static_cast<int32_t>(o->polygons.size());
        const aiVector3D* uv = m.HasTextureCoords(0) ? m.mTextureCoords[0] : nullptr;
        const aiVector3D* nv = m.HasNormals() ? m.mNormals : nullptr;
        for (unsigned f = 0; f < m.mNumFaces; ++f) {
            const aiFace& face = m.mFaces[f];
            if (fit(m, face) != FaceFit::Usable) {
                continue;  // counted while sizing
            }
            // A fan from corner 0: quads 0,k,k+1,k+2, and a closing triangle when one is left.
            for (unsigned k = 1; k + 1 < face.mNumIndices; k += 2) {
                const bool quad = k + 2 < face.mNumIndices;
                const unsigned c[4] = {face.mIndices[0], face.mIndices[k], face.mIndices[k + 1],
                                       face.mIndices[quad ? k + 2 : k + 1]};
                o->polygons.push_back(RdHostPolygon{base + static_cast<int32_t>(c[0]),
                                                    base + int32_t(c[1]), base + int32_t(c[2]),
                                                    base + int32_t(c[3])});
                if (anyUv) {
                    RdHostUVWPolygon r{};
                    if (uv != nullptr) {
                        RdHostVector* out[4] = {&r.a, &r.b, &r.c, &r.d};
                        for (int q = 0; q < 4; ++q) {
                            *out[q] = RdHostVector{uv[c[q]].x, uv[c[q]].y, uv[c[q]].z};
                        }
                    }
                    uvw.push_back(r);
                }
                if (anyNormals) {
                    const bool normalsFinite = nv != nullptr && finite(nv[c[0]]) &&
                                               finite(nv[c[1]]) && finite(nv[c[2]]) &&
                                               finite(nv[c[3]]);
                    if (nv != nullptr && !normalsFinite) {
                        ++skipped_.nonFiniteNormals;
                    }
                    if (normalsFinite) {
                        for (int q = 0; q < 4; ++q) {
                            normals.push_back(nv[c[q]].x);
                            normals.push_back(nv[c[q]].y);
                            normals.push_back(-nv[c[q]].z);
                        }
                    } else {
                        faceNormal(m.mVertices, c, quad, normals);
                    }
                }
            }
        }
        part.count = static_cast<int32_t>(o->polygons.size()) - part.first;
    }
    if (anyNormals) {
        auto phong = newTag(*o, hn::kTagPhong, "");
        phong->hasNormals = true;
        phong->normals = std::move(normals);
        o->tags.push_back(std::move(phong));
    }
    if (anyUv) {
        auto tag = newTag(*o, hn::kTagUVW, "");
        tag->uvw = std::move(uvw);
        o->tags.push_back(std::move(tag));
    }
    textureTags(*o, parts);
    return o;
}

}  // namespace raydeck::hostsim::modelimport
