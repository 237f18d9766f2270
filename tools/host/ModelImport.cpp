// Model import through Assimp into the document model (the content test that sends a file here
// or to the JSON loader is in HostFile.cpp).
#include "tools/host/ModelImport.h"

#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "platform/thread.h"
#include "plugins/c4d/host/HostNumbers.h"
#include "plugins/c4d/host/RotationOrder.h"
#include "tools/host/DocumentLimits.h"

namespace raydeck::hostsim {

namespace {

constexpr double kPi = 3.14159265358979323846;

namespace hn = raydeck::host;

// ---- placement math -------------------------------------------------------------------------

double component(const RdHostVector& v, int c) {
    return c == 0 ? v.x : c == 1 ? v.y : v.z;
}
void setComponent(RdHostVector& v, int c, double value) {
    (c == 0 ? v.x : c == 1 ? v.y : v.z) = value;
}

// The angle equivalent to `a` (modulo a full turn) nearest to `near`.
double nearestTurn(double a, double near) {
    return a + 2.0 * kPi * std::round((near - a) / (2.0 * kPi));
}

struct Affine {
    double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};  // axes as columns
    double t[3] = {0, 0, 0};
};

// Model files are right-handed, the host is left-handed: a point (x, y, z) of the model is
// (x, y, -z) in the host, so that the scene (which mirrors z again on its way to the renderer)
// holds the model as it looks, seen from its own cameras as its viewers show it.
aiVector3D handed(const aiVector3D& v) {
    return aiVector3D(v.x, v.y, -v.z);
}

// A node transform in host coordinates: the mirror on both sides (M' = F M F).
Affine fromAssimp(const aiMatrix4x4& a) {
    Affine out;
    const ai_real* rows[3] = {a[0], a[1], a[2]};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out.m[i][j] = (i == 2) != (j == 2) ? -rows[i][j] : rows[i][j];
        }
        out.t[i] = i == 2 ? -rows[i][3] : rows[i][3];
    }
    return out;
}

Affine multiply(const Affine& a, const Affine& b) {
    Affine r;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            r.m[i][j] = a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j] + a.m[i][2] * b.m[2][j];
        }
        r.t[i] = a.m[i][0] * b.t[0] + a.m[i][1] * b.t[1] + a.m[i][2] * b.t[2] + a.t[i];
    }
    return r;
}

RdHostMatrix toHost(const Affine& a) {
    return RdHostMatrix{{a.t[0], a.t[1], a.t[2]},
                        {a.m[0][0], a.m[1][0], a.m[2][0]},
                        {a.m[0][1], a.m[1][1], a.m[2][1]},
                        {a.m[0][2], a.m[1][2], a.m[2][2]}};
}

void quaternionMatrix(const aiQuaternion& q, double r[3][3]) {
    double w = q.w, x = q.x, y = q.y, z = q.z;
    const double n = std::sqrt(w * w + x * x + y * y + z * z);
    if (n > 0.0) {
        w /= n, x /= n, y /= n, z /= n;
    } else {
        w = 1.0;
    }
    r[0][0] = 1 - 2 * (y * y + z * z), r[0][1] = 2 * (x * y - z * w), r[0][2] = 2 * (x * z + y * w);
    r[1][0] = 2 * (x * y + z * w), r[1][1] = 1 - 2 * (x * x + z * z), r[1][2] = 2 * (y * z - x * w);
    r[2][0] = 2 * (x * z - y * w), r[2][1] = 2 * (y * z + x * w), r[2][2] = 1 - 2 * (x * x + y * y);
    // In host coordinates, as fromAssimp does for matrices.
    r[0][2] = -r[0][2], r[1][2] = -r[1][2], r[2][0] = -r[2][0], r[2][1] = -r[2][1];
}

// Position, rotation angles (order 0) and scale of an affine matrix; false when the matrix holds
// a shear or a zero scale, which position, rotation and scale cannot express.
bool decompose(const Affine& a, RdHostVector& position, RdHostVector& rotation,
               RdHostVector& scale) {
    position = RdHostVector{a.t[0], a.t[1], a.t[2]};
    double s[3];
    for (int j = 0; j < 3; ++j) {
        s[j] = std::sqrt(a.m[0][j] * a.m[0][j] + a.m[1][j] * a.m[1][j] + a.m[2][j] * a.m[2][j]);
    }
    const double det = a.m[0][0] * (a.m[1][1] * a.m[2][2] - a.m[1][2] * a.m[2][1]) -
                       a.m[0][1] * (a.m[1][0] * a.m[2][2] - a.m[1][2] * a.m[2][0]) +
                       a.m[0][2] * (a.m[1][0] * a.m[2][1] - a.m[1][1] * a.m[2][0]);
    if (det < 0) {
        for (double& v : s) {
            v = -v;
        }
    }
    scale = RdHostVector{s[0], s[1], s[2]};
    if (s[0] == 0.0 || s[1] == 0.0 || s[2] == 0.0) {
        rotation = RdHostVector{0, 0, 0};
        return false;
    }
    double r[3][3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            r[i][j] = a.m[i][j] / s[j];
        }
    }
    rotation = anglesForRotation(r, 0);
    // The parts must rebuild the matrix; otherwise it held a shear.
    const RdHostMatrix back = composeMatrix(position, rotation, scale, 0);
    const RdHostMatrix want = toHost(a);
    const RdHostVector* pb[3] = {&back.v1, &back.v2, &back.v3};
    const RdHostVector* pw[3] = {&want.v1, &want.v2, &want.v3};
    const double tolerance = 1e-5 * std::max({std::fabs(s[0]), std::fabs(s[1]), std::fabs(s[2])});
    for (int k = 0; k < 3; ++k) {
        if (std::fabs(pb[k]->x - pw[k]->x) > tolerance ||
            std::fabs(pb[k]->y - pw[k]->y) > tolerance ||
            std::fabs(pb[k]->z - pw[k]->z) > tolerance) {
            return false;
        }
    }
    return true;
}

// ---- document building ----------------------------------------------------------------------

SimValue numberValue(double n) {
    SimValue v;
    v.kind = SimValue::Kind::Number;
    v.number = n;
    return v;
}
SimValue vectorValue(const RdHostVector& x) {
    SimValue v;
    v.kind = SimValue::Kind::Vector;
    v.vector = x;
    return v;
}
SimValue textValue(const std::string& s) {
    SimValue v;
    v.kind = SimValue::Kind::Text;
    v.text = s;
    return v;
}
SimValue linkValue(SimNode* node) {
    SimValue v;
    v.kind = SimValue::Kind::Link;
    v.linkId = node->id;
    v.link = node;
    return v;
}
RdHostVector colour(const aiColor3D& c) {
    return RdHostVector{c.r, c.g, c.b};
}

// Counts of what a host document cannot hold, reported once per kind.
struct Skipped {
    size_t bones = 0, morphs = 0, colours = 0, uvChannels = 0, lines = 0, points = 0,
           directional = 0, ambient = 0, animations = 0, meshAnimations = 0, unknownChannels = 0,
           badFaces = 0, nonFiniteFaces = 0, nonFiniteNormals = 0, orthographic = 0,
           textureRotations = 0, ambiguousChannels = 0, rawTexels = 0, unwritable = 0,
           embeddedWritten = 0, embeddedMissing = 0;
};

// ---- embedded images ------------------------------------------------------------------------

namespace fs = std::filesystem;

// Writes `bytes` to `file` unless it already holds exactly them, so that a re-export leaves the
// file as it was; a new file goes in under its final name only when complete.
bool writeOnce(const fs::path& file, const char* bytes, size_t size) {
    std::error_code ec;
    if (fs::is_regular_file(file, ec) && fs::file_size(file, ec) == size && !ec) {
        std::ifstream in(file, std::ios::binary);
        std::string have(size, '\0');
        if (in.read(&have[0], static_cast<std::streamsize>(size)) &&
            std::memcmp(have.data(), bytes, size) == 0) {
            return true;
        }
    }
    fs::path part = file;
    part += ".part";
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        if (!out.write(bytes, static_cast<std::streamsize>(size)) || !out.flush()) {
            out.close();
            fs::remove(part, ec);
            return false;
        }
    }
    fs::rename(part, file, ec);
    if (ec) {
        fs::remove(part, ec);
        return false;
    }
    return true;
}

// The per-user folder for the images of models whose own folder is not writable; the model's
// folder is part of the name, so that models of the same name elsewhere keep theirs apart.
fs::path userImageFolder(const std::string& modelFolder, const std::string& modelName) {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    const char* home = std::getenv("HOME");
    fs::path base;
    if (cache != nullptr && cache[0] == '/') {
        base = fs::u8path(cache);
    } else if (home != nullptr && home[0] != '\0') {
        base = fs::u8path(home) / ".cache";
    } else {
        return fs::path();
    }
    char tag[17];
    std::snprintf(tag, sizeof tag, "%016llx",
                  static_cast<unsigned long long>(std::hash<std::string>()(modelFolder)));
    return base / "raydeck" / "embedded-textures" / tag / fs::u8path(modelName + ".textures");
}

// "png" from a format hint; "bin" when the hint says nothing usable as a file name suffix.
std::string imageSuffix(const char* hint) {
    std::string s;
    for (const char* c = hint; *c != '\0' && s.size() < 8; ++c) {
        const char l = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
        if (!((l >= 'a' && l <= 'z') || (l >= '0' && l <= '9'))) {
            return "bin";
        }
        s += l;
    }
    return s.empty() ? "bin" : s;
}

std::string plural(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

class Importer {
  public:
    // Embedded images go to "<model file name>.textures" in `imageBase` (the model's folder when
    // empty), or to the per-user folder when that cannot be written.
    Importer(const aiScene& scene, SimDocument& doc, size_t mendedFaces,
             const std::string& imageBase = std::string())
        : scene_(scene), doc_(doc), imageBase_(imageBase.empty() ? doc.folder : imageBase) {
        skipped_.badFaces = mendedFaces;
    }

    void run() {
        for (unsigned i = 0; i < scene_.mNumMaterials; ++i) {
            doc_.materials.push_back(material(*scene_.mMaterials[i], i));
        }
        for (unsigned i = 0; i < scene_.mNumCameras; ++i) {
            cameras_.emplace(scene_.mCameras[i]->mName.C_Str(), scene_.mCameras[i]);
        }
        for (unsigned i = 0; i < scene_.mNumLights; ++i) {
            lights_.emplace(scene_.mLights[i]->mName.C_Str(), scene_.mLights[i]);
        }
        if (scene_.mNumAnimations > 0) {
            const aiAnimation& a = *scene_.mAnimations[0];
            ticksPerSecond_ = a.mTicksPerSecond > 0.0 ? a.mTicksPerSecond : 25.0;
            for (unsigned i = 0; i < a.mNumChannels; ++i) {
                channels_.emplace(a.mChannels[i]->mNodeName.C_Str(), a.mChannels[i]);
            }
            // A name that several nodes share, or several channels, does not say which node a
            // channel moves: the nodes take that name's channels one each, in the order the
            // reader gives them (not always the file's), with a warning.
            const std::map<std::string, size_t> nodes = nodeNames(scene_.mRootNode);
            for (const auto& [name, channel] : channels_) {
                const auto it = nodes.find(name);
                skipped_.ambiguousChannels +=
                    (it != nodes.end() && it->second > 1) || channels_.count(name) > 1;
            }
            skipped_.meshAnimations += a.mNumMeshChannels + a.mNumMorphMeshChannels;
            skipped_.animations = scene_.mNumAnimations - 1;
        }
        if (scene_.mRootNode != nullptr) {
            doc_.objects.push_back(node(*scene_.mRootNode));
        }
        skipped_.unknownChannels = channels_.size();  // what no node took
        for (unsigned i = 0; i < scene_.mNumMeshes; ++i) {
            const aiMesh& m = *scene_.mMeshes[i];
            skipped_.bones += m.mNumBones > 0;
            skipped_.morphs += m.mNumAnimMeshes > 0;
            skipped_.colours += m.HasVertexColors(0);
            for (unsigned c = 1; c < AI_MAX_NUMBER_OF_TEXTURECOORDS; ++c) {
                skipped_.uvChannels += m.HasTextureCoords(c);
            }
        }
        finish();
    }

    std::vector<std::string> warnings() const {
        std::vector<std::string> w;
        const Skipped& s = skipped_;
        auto add = [&](size_t n, const std::string& what) {
            if (n > 0) {
                w.push_back("skipped " + what);
            }
        };
        add(s.bones, plural(s.bones, "mesh's bones", "meshes' bones"));
        add(s.morphs, plural(s.morphs, "mesh's morph targets", "meshes' morph targets"));
        add(s.colours, plural(s.colours, "mesh's vertex colours", "meshes' vertex colours"));
        add(s.uvChannels,
            plural(s.uvChannels, "UV channel beyond the first", "UV channels beyond the first"));
        add(s.lines, plural(s.lines, "line", "lines"));
        add(s.points, plural(s.points, "point primitive", "point primitives"));
        add(s.badFaces, plural(s.badFaces, "face with a vertex index out of range",
                               "faces with vertex indices out of range"));
        add(s.nonFiniteFaces, plural(s.nonFiniteFaces, "face with a non-finite point",
                                     "faces with non-finite points"));
        add(s.nonFiniteNormals,
            plural(s.nonFiniteNormals, "polygon's non-finite normals (face normals instead)",
                   "polygons' non-finite normals (face normals instead)"));
        add(s.rawTexels, plural(s.rawTexels, "embedded texture given as raw texels",
                                "embedded textures given as raw texels"));
        add(s.embeddedMissing, plural(s.embeddedMissing, "embedded texture the file does not hold",
                                      "embedded textures the file does not hold"));
        add(s.unwritable, plural(s.unwritable, "embedded texture that could not be written to",
                                 "embedded textures that could not be written to") +
                              " " + imageFolder_);
        if (!userFolder_.empty()) {
            w.push_back("wrote " +
                        plural(s.embeddedWritten, "embedded texture", "embedded textures") +
                        " to " + userFolder_ + " (" + besideFolder_ + " is not writable)");
        }
        add(s.textureRotations,
            plural(s.textureRotations, "texture transform's rotation (the texture tag has none)",
                   "texture transforms' rotations (the texture tag has none)"));
        add(s.orthographic, plural(s.orthographic, "orthographic camera's view width",
                                   "orthographic cameras' view widths"));
        add(s.directional, plural(s.directional, "directional light", "directional lights"));
        add(s.ambient, plural(s.ambient, "ambient light", "ambient lights"));
        add(s.animations,
            plural(s.animations, "animation after the first", "animations after the first"));
        add(s.meshAnimations,
            plural(s.meshAnimations, "mesh animation channel", "mesh animation channels"));
        add(s.unknownChannels, plural(s.unknownChannels, "animation channel of no node",
                                      "animation channels of no node"));
        if (s.ambiguousChannels > 0) {
            w.push_back("bound " +
                        plural(s.ambiguousChannels, "animation channel", "animation channels") +
                        " by a node name that several nodes share: which moves which is a "
                        "guess");
        }
        return w;
    }

  private:
    std::unique_ptr<SimMaterial> material(const aiMaterial& src, unsigned index) {
        auto m = std::make_unique<SimMaterial>();
        m->kind = NodeKind::Material;
        m->document = &doc_;
        m->type = hn::kMaterialStandard;
        m->id = "M" + std::to_string(index + 1);
        aiString name;
        if (src.Get(AI_MATKEY_NAME, name) == AI_SUCCESS) {
            m->name = name.C_Str();
        }
        // The colour channel always: a standard material without one has nothing to read.
        aiColor3D diffuse(0.8f, 0.8f, 0.8f);
        src.Get(AI_MATKEY_COLOR_DIFFUSE, diffuse);
        m->channels.insert(0);
        m->params[hn::standardMaterialParam::kColor] = vectorValue(colour(diffuse));
        m->params[hn::standardMaterialParam::kColorBrightness] = numberValue(1.0);
        aiColor3D specular(0, 0, 0);
        if (src.Get(AI_MATKEY_COLOR_SPECULAR, specular) == AI_SUCCESS) {
            m->channels.insert(8);
            m->params[hn::standardMaterialParam::kSpecularColor] = vectorValue(colour(specular));
        }
        aiString path;
        aiTextureType textureType = aiTextureType_DIFFUSE;
        bool hasTexture = src.GetTexture(textureType, 0, &path) == AI_SUCCESS;
        if (!hasTexture || path.length == 0) {
            textureType = aiTextureType_BASE_COLOR;
            hasTexture = src.GetTexture(textureType, 0, &path) == AI_SUCCESS;
        }
        mapping_.push_back(Mapping{});
        aiUVTransform uvTransform;
        if (hasTexture && path.length > 0 &&
            src.Get(AI_MATKEY_UVTRANSFORM(textureType, 0), uvTransform) == AI_SUCCESS &&
            uvTransform.mScaling.x != 0 && uvTransform.mScaling.y != 0) {
            // The transform maps (u, v) to (u, v) * scaling + translation; the tag maps them to
            // ((u, v) - offset) / length.
            Mapping& map = mapping_.back();
            map.lengthU = 1.0 / uvTransform.mScaling.x;
            map.lengthV = 1.0 / uvTransform.mScaling.y;
            map.offsetU = -uvTransform.mTranslation.x * map.lengthU;
            map.offsetV = -uvTransform.mTranslation.y * map.lengthV;
            skipped_.textureRotations += uvTransform.mRotation != 0;
        }
        if (hasTexture && path.length > 0) {
            const std::string file =
                path.data[0] == '*' ? embeddedImage(path.C_Str()) : std::string(path.C_Str());
            if (!file.empty()) {
                auto s = std::make_unique<SimShader>();
                s->kind = NodeKind::Shader;
                s->document = &doc_;
                s->type = hn::kShaderBitmap;
                s->id = m->id + "S1";
                s->params[hn::shaderParam::kBitmapFile] = textValue(file);
                m->params[hn::standardMaterialParam::kColorShader] = linkValue(s.get());
                m->shaders.push_back(std::move(s));
            }
        }
        return m;
    }

    // The file that holds the embedded image `ref` ("*0"), written on first use; empty when it
    // cannot be written (counted for the warnings).
    std::string embeddedImage(const std::string& ref) {
        const auto known = embeddedFiles_.find(ref);
        if (known != embeddedFiles_.end()) {
            return known->second;
        }
        std::string& file = embeddedFiles_[ref];
        const aiTexture* t = scene_.GetEmbeddedTexture(ref.c_str());
        const std::string index = ref.substr(1);
        if (t == nullptr || t->pcData == nullptr || index.empty() ||
            index.find_first_not_of("0123456789") != std::string::npos) {
            ++skipped_.embeddedMissing;
            return file;
        }
        if (t->mHeight != 0) {
            ++skipped_.rawTexels;  // pixels, not an image file: nothing to write as they are
            return file;
        }
        const std::string name = "image" + index + "." + imageSuffix(t->achFormatHint);
        const char* bytes = reinterpret_cast<const char*>(t->pcData);
        std::error_code ec;
        if (imageFolder_.empty()) {
            const fs::path beside =
                fs::u8path(imageBase_) / fs::u8path(doc_.fileName + ".textures");
            besideFolder_ = beside.u8string();
            fs::create_directories(beside, ec);
            imageFolder_ = besideFolder_;
            if (!writeOnce(beside / name, bytes, t->mWidth)) {
                const fs::path user = userImageFolder(doc_.folder, doc_.fileName);
                if (!user.empty()) {
                    imageFolder_ = userFolder_ = user.u8string();
                    fs::create_directories(user, ec);
                }
            } else {
                ++skipped_.embeddedWritten;
                return file = (beside / name).u8string();
            }
        }
        const fs::path target = fs::u8path(imageFolder_) / name;
        if (writeOnce(target, bytes, t->mWidth)) {
            ++skipped_.embeddedWritten;  // written: counted for the per-user folder's warning
            file = target.u8string();
        } else {
            ++skipped_.unwritable;
        }
        return file;
    }

    std::unique_ptr<SimObject> newObject(int32_t type, const std::string& name) {
        auto o = std::make_unique<SimObject>();
        o->kind = NodeKind::Object;
        o->document = &doc_;
        o->type = type;
        o->name = name;
        o->params[hn::objectParam::kEditorVisibility] =
            numberValue(hn::objectParam::kVisibilityInherit);
        o->params[hn::objectParam::kRenderVisibility] =
            numberValue(hn::objectParam::kVisibilityInherit);
        return o;
    }

    std::unique_ptr<SimTag> newTag(SimObject& owner, int32_t type, const std::string& name) {
        auto t = std::make_unique<SimTag>();
        t->kind = NodeKind::Tag;
        t->document = &doc_;
        t->type = type;
        t->name = name;
        t->owner = &owner;
        t->params[hn::nodeParam::kName] = textValue(name);
        return t;
    }

    // Sets the object's placement from a local matrix; animated objects always take position,
    // rotation and scale, as the tracks drive them.
    static void place(SimObject& o, const Affine& local, bool animated) {
        const bool exact = decompose(local, o.position, o.rotation, o.scale);
        o.rotationOrder = 0;
        if (!exact && !animated) {
            o.explicitMatrix = true;
            o.matrix = toHost(local);
        } else {
            o.updateMatrix();
        }
    }

    // The camera's or light's own frame inside its node: looking along `direction`, `up` up.
    static Affine frame(const aiVector3D& position, const aiVector3D& direction,
                        const aiVector3D& up) {
        Affine f;
        f.t[0] = position.x, f.t[1] = position.y, f.t[2] = position.z;
        double z[3] = {direction.x, direction.y, direction.z};
        double y[3] = {up.x, up.y, up.z};
        auto normalize = [](double v[3]) {
            const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
            if (n <= 0.0) {
                return false;
            }
            v[0] /= n, v[1] /= n, v[2] /= n;
            return true;
        };
        if (!normalize(z)) {
            return f;
        }
        const double d = y[0] * z[0] + y[1] * z[1] + y[2] * z[2];
        for (int i = 0; i < 3; ++i) {
            y[i] -= d * z[i];
        }
        if (!normalize(y)) {
            // Up along the view: any perpendicular will do.
            const double alt[3] = {std::fabs(z[0]) < 0.9 ? 1.0 : 0.0,
                                   std::fabs(z[0]) < 0.9 ? 0.0 : 1.0, 0.0};
            y[0] = z[1] * alt[2] - z[2] * alt[1];
            y[1] = z[2] * alt[0] - z[0] * alt[2];
            y[2] = z[0] * alt[1] - z[1] * alt[0];
            normalize(y);
        }
        const double x[3] = {y[1] * z[2] - y[2] * z[1], y[2] * z[0] - y[0] * z[2],
                             y[0] * z[1] - y[1] * z[0]};
        for (int i = 0; i < 3; ++i) {
            f.m[i][0] = x[i], f.m[i][1] = y[i], f.m[i][2] = z[i];
        }
        return f;
    }

    static bool isIdentity(const Affine& a) {
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                if (std::fabs(a.m[i][j] - (i == j ? 1.0 : 0.0)) > 1e-9) {
                    return false;
                }
            }
            if (a.t[i] != 0.0) {
                return false;
            }
        }
        return true;
    }

    std::unique_ptr<SimObject> node(const aiNode& n) {
        const std::string name = n.mName.C_Str();
        const aiNodeAnim* channel = nullptr;
        if (auto it = channels_.find(name); it != channels_.end()) {
            channel = it->second;
            channels_.erase(it);
        }
        const Affine local = fromAssimp(n.mTransformation);

        // What the node itself becomes: a camera or light named after it, else its meshes.
        const aiCamera* camera = nullptr;
        const aiLight* light = nullptr;
        if (auto it = cameras_.find(name); it != cameras_.end()) {
            camera = it->second;
        } else if (auto jt = lights_.find(name); jt != lights_.end()) {
            light = jt->second;
            if (light->mType == aiLightSource_DIRECTIONAL) {
                ++skipped_.directional;
                light = nullptr;
            } else if (light->mType == aiLightSource_AMBIENT) {
                ++skipped_.ambient;
                light = nullptr;
            }
        }

        std::unique_ptr<SimObject> o;
        Affine own;  // the camera's or light's frame inside the node
        if (camera != nullptr) {
            o = cameraObject(*camera, name);
            own = frame(handed(camera->mPosition), handed(camera->mLookAt), handed(camera->mUp));
        } else if (light != nullptr) {
            o = lightObject(*light, name);
            own =
                light->mType == aiLightSource_AREA
                    ? frame(handed(light->mPosition), handed(light->mDirection), handed(light->mUp))
                    : frame(handed(light->mPosition), aiVector3D(0, 0, 1), aiVector3D(0, 1, 0));
        }

        std::unique_ptr<SimObject> meshes;
        if (n.mNumMeshes > 0) {
            meshes = meshObject(n, name);
        }

        std::unique_ptr<SimObject> self;
        std::vector<std::unique_ptr<SimObject>> extra;  // children before the node's own
        if (o) {
            // A frame of its own that cannot be folded into the node's matrix, and meshes on the
            // same node, go below a null object standing for the node.
            const bool fold =
                isIdentity(own) ||
                (n.mNumChildren == 0 && !meshes &&
                 (channel == nullptr || (own.t[0] == 0 && own.t[1] == 0 && own.t[2] == 0)));
            if (fold && !meshes) {
                place(*o, multiply(local, own), channel != nullptr);
                if (channel != nullptr) {
                    tracks(*o, *channel, own);
                }
                self = std::move(o);
            } else {
                self = newObject(hn::kObjectNull, name);
                place(*self, local, channel != nullptr);
                if (channel != nullptr) {
                    tracks(*self, *channel, Affine{});
                }
                place(*o, own, false);
                extra.push_back(std::move(o));
                if (meshes) {
                    extra.push_back(std::move(meshes));
                }
            }
        } else if (meshes) {
            self = std::move(meshes);
            place(*self, local, channel != nullptr);
            if (channel != nullptr) {
                tracks(*self, *channel, Affine{});
            }
        } else {
            self = newObject(hn::kObjectNull, name);
            place(*self, local, channel != nullptr);
            if (channel != nullptr) {
                tracks(*self, *channel, Affine{});
            }
        }
        for (auto& e : extra) {
            self->children.push_back(std::move(e));
        }
        for (unsigned i = 0; i < n.mNumChildren; ++i) {
            if (n.mChildren[i] != nullptr) {
                self->children.push_back(node(*n.mChildren[i]));
            }
        }
        return self;
    }

    std::unique_ptr<SimObject> cameraObject(const aiCamera& c, const std::string& name) {
        auto o = newObject(hn::kObjectCamera, name);
        // Importers store the whole horizontal angle here (in radians), as the host's
        // field-of-view parameter does.
        o->params[hn::cameraParam::kFieldOfView] = numberValue(c.mHorizontalFOV);
        if (c.mOrthographicWidth > 0.0f) {
            // A parallel view; the host frames it by its zoom, which the width does not give.
            o->params[hn::cameraParam::kProjection] =
                numberValue(hn::cameraParam::kProjectionParallel);
            ++skipped_.orthographic;
        }
        return o;
    }

    std::unique_ptr<SimObject> lightObject(const aiLight& l, const std::string& name) {
        auto o = newObject(hn::kObjectLight, name);
        // The source's colour carries the intensity: the host keeps a colour and a brightness.
        RdHostVector c = colour(l.mColorDiffuse);
        const double peak = std::max({c.x, c.y, c.z});
        double brightness = 1.0;
        if (peak > 1.0) {
            brightness = peak;
            c = RdHostVector{c.x / peak, c.y / peak, c.z / peak};
        }
        o->params[hn::lightParam::kColor] = vectorValue(c);
        o->params[hn::lightParam::kBrightness] = numberValue(brightness);
        o->params[hn::lightParam::kIntensitySwitch] = numberValue(0);
        if (l.mType == aiLightSource_AREA) {
            o->params[hn::lightParam::kType] = numberValue(hn::lightParam::kTypeArea);
            o->params[hn::lightParam::kAreaSizeX] = numberValue(l.mSize.x);
            o->params[hn::lightParam::kAreaSizeY] = numberValue(l.mSize.y);
            o->params[hn::lightParam::kAreaSizeZ] = numberValue(0);
        } else {
            o->params[hn::lightParam::kType] =
                numberValue(hn::lightParam::kTypePoint);  // spot lights too
        }
        return o;
    }

    enum class FaceFit { Usable, Line, Point, OutOfRange, NonFinite };

    static bool finite(const aiVector3D& v) {
        return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
    }

    // Faces a host polygon can hold: 3 or more corners whose indices name vertices of the mesh
    // at finite positions (a renderer cannot place a corner at infinity).
    static FaceFit fit(const aiMesh& m, const aiFace& f) {
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
    bool usable(const aiMesh& m, const aiFace& f) {
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
    std::unique_ptr<SimObject> meshObject(const aiNode& n, const std::string& name) {
        struct Part {
            const aiMesh* mesh;
            int32_t first = 0, count = 0;
        };
        std::vector<Part> parts;
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
            parts.push_back(Part{m});
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
        for (Part& part : parts) {
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

    // For a mesh without normals beside meshes with them: the face's own normal at each corner.
    static void faceNormal(const aiVector3D* p, const unsigned c[4], bool quad,
                           std::vector<float>& out) {
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

    template <typename Part>
    void textureTags(SimObject& o, const std::vector<Part>& parts) {
        // Materials in order of first use, each with the polygon ranges of its meshes.
        std::vector<std::pair<unsigned, std::vector<std::pair<int32_t, int32_t>>>> used;
        for (const Part& p : parts) {
            const unsigned mi = p.mesh->mMaterialIndex;
            if (mi >= doc_.materials.size()) {
                continue;
            }
            auto it = std::find_if(used.begin(), used.end(),
                                   [&](const auto& u) { return u.first == mi; });
            if (it == used.end()) {
                used.push_back({mi, {}});
                it = used.end() - 1;
            }
            auto& ranges = it->second;
            if (!ranges.empty() && ranges.back().second + 1 == p.first) {
                ranges.back().second = p.first + p.count - 1;
            } else {
                ranges.emplace_back(p.first, p.first + p.count - 1);
            }
        }
        const bool restricted = used.size() > 1;
        std::vector<std::string> names;
        for (const auto& [mi, ranges] : used) {
            SimMaterial* m = doc_.materials[mi].get();
            std::string name;
            if (restricted) {
                name = m->name.empty() ? "material" : m->name;
                // Selections are found by name: keep the names of one object distinct.
                const std::string stem = name;
                for (int k = 2; std::find(names.begin(), names.end(), name) != names.end(); ++k) {
                    name = stem + " " + std::to_string(k);
                }
                names.push_back(name);
                auto sel = newTag(o, hn::kTagPolygonSelection, name);
                sel->ranges = ranges;
                o.tags.push_back(std::move(sel));
            }
        }
        for (size_t i = 0; i < used.size(); ++i) {
            SimMaterial* m = doc_.materials[used[i].first].get();
            auto tag = newTag(o, hn::kTagTexture, "");
            tag->material = m;
            tag->materialId = m->id;
            const Mapping& map = mapping_[used[i].first];
            tag->params[hn::textureTagParam::kOffsetU] = numberValue(map.offsetU);
            tag->params[hn::textureTagParam::kOffsetV] = numberValue(map.offsetV);
            tag->params[hn::textureTagParam::kLengthU] = numberValue(map.lengthU);
            tag->params[hn::textureTagParam::kLengthV] = numberValue(map.lengthV);
            tag->params[hn::textureTagParam::kProjection] =
                numberValue(hn::textureTagParam::kProjectionUvw);
            tag->params[hn::textureTagParam::kRestriction] = textValue(restricted ? names[i] : "");
            tag->params[hn::textureTagParam::kTile] = numberValue(1);
            o.tags.push_back(std::move(tag));
        }
    }

    RdHostTime keyTime(double ticks) const { return RdHostTime{ticks, ticksPerSecond_}; }

    std::unique_ptr<SimTrack> newTrack(int32_t parameter, int component, const char* label) {
        static const char* const axes[3] = {"X", "Y", "Z"};
        auto t = std::make_unique<SimTrack>();
        t->kind = NodeKind::Track;
        t->document = &doc_;
        t->depth = 2;
        t->descId[0] = parameter;
        t->descId[1] = hn::vectorComponent::kX + component;
        t->hasCurve = true;
        t->interpolation = Interpolation::Linear;
        t->name = std::string(label) + " . " + axes[component];
        t->params[hn::trackParam::kEnabled] = numberValue(1);
        return t;
    }

    // Position, rotation and scale tracks from a node channel; `own` is a pure rotation folded
    // into the node (a camera's frame), applied after each key's rotation. A part with a single
    // key is no motion (importers fill unanimated parts with the resting value): no track.
    void tracks(SimObject& o, const aiNodeAnim& ch, const Affine& own) {
        std::vector<std::unique_ptr<SimTrack>> made;
        auto sorted = [](std::vector<SimKey>& keys) {
            std::stable_sort(keys.begin(), keys.end(), [](const SimKey& a, const SimKey& b) {
                return timeSeconds(a.time) < timeSeconds(b.time);
            });
        };
        // One track a component of a vector channel, its keys in time order.
        auto vectorTracks = [&](int32_t param, const char* name, const aiVectorKey* keys,
                                unsigned count) {
            if (count <= 1) {
                return;
            }
            for (int c = 0; c < 3; ++c) {
                auto t = newTrack(param, c, name);
                // Positions into host coordinates; scales are the same in both.
                const double sign = c == 2 && param == hn::objectParam::kPosition ? -1.0 : 1.0;
                for (unsigned k = 0; k < count; ++k) {
                    t->curve.keys.push_back(
                        SimKey{keyTime(keys[k].mTime), sign * keys[k].mValue[c]});
                }
                sorted(t->curve.keys);
                made.push_back(std::move(t));
            }
        };
        vectorTracks(hn::objectParam::kPosition, "Position", ch.mPositionKeys, ch.mNumPositionKeys);
        if (ch.mNumRotationKeys > 1) {
            const int32_t rotation = hn::objectParam::kRotation;
            std::unique_ptr<SimTrack> t[3] = {newTrack(rotation, 0, "Rotation"),
                                              newTrack(rotation, 1, "Rotation"),
                                              newTrack(rotation, 2, "Rotation")};
            std::vector<const aiQuatKey*> keys;
            for (unsigned k = 0; k < ch.mNumRotationKeys; ++k) {
                keys.push_back(&ch.mRotationKeys[k]);
            }
            std::stable_sort(keys.begin(), keys.end(), [](const aiQuatKey* a, const aiQuatKey* b) {
                return a->mTime < b->mTime;
            });
            RdHostVector previous{0, 0, 0};
            for (size_t k = 0; k < keys.size(); ++k) {
                double q[3][3];
                quaternionMatrix(keys[k]->mValue, q);
                Affine r;
                std::copy(&q[0][0], &q[0][0] + 9, &r.m[0][0]);
                r = multiply(r, own);
                const RdHostVector a =
                    anglesForRotation(r.m, o.rotationOrder, k == 0 ? nullptr : &previous);
                previous = a;
                for (int c = 0; c < 3; ++c) {
                    t[c]->curve.keys.push_back(SimKey{keyTime(keys[k]->mTime), component(a, c)});
                }
            }
            for (auto& track : t) {
                made.push_back(std::move(track));
            }
        }
        vectorTracks(hn::objectParam::kScale, "Scale", ch.mScalingKeys, ch.mNumScalingKeys);
        for (auto& t : made) {
            o.tracks.push_back(std::move(t));
        }
        for (size_t i = 0; i + 1 < o.tracks.size(); ++i) {
            o.tracks[i]->next = o.tracks[i + 1].get();
        }
    }

    // How many nodes bear each name; without recursion, however deep.
    static std::map<std::string, size_t> nodeNames(const aiNode* root) {
        std::map<std::string, size_t> count;
        std::vector<const aiNode*> pending;
        if (root != nullptr) {
            pending.push_back(root);
        }
        while (!pending.empty()) {
            const aiNode* n = pending.back();
            pending.pop_back();
            ++count[n->mName.C_Str()];
            for (unsigned i = 0; i < n->mNumChildren; ++i) {
                if (n->mChildren[i] != nullptr) {
                    pending.push_back(n->mChildren[i]);
                }
            }
        }
        return count;
    }

    // Links the tree, gives objects their ids 1, 2, 3 ... in document order and registers every
    // linkable node, as the JSON loader does.
    void finish() {
        for (size_t i = 0; i < doc_.objects.size(); ++i) {
            linkObject(*doc_.objects[i],
                       i + 1 < doc_.objects.size() ? doc_.objects[i + 1].get() : nullptr);
        }
        uint64_t next = 1;
        for (SimObject* o : doc_.allObjects()) {
            o->guid = next++;
            o->id = std::to_string(o->guid);
            doc_.links.emplace(o->id, o);
            for (size_t i = 0; i + 1 < o->tags.size(); ++i) {
                o->tags[i]->next = o->tags[i + 1].get();
            }
        }
        for (auto& m : doc_.materials) {
            doc_.links.emplace(m->id, m.get());
            for (auto& s : m->shaders) {
                doc_.links.emplace(s->id, s.get());
            }
            for (size_t i = 0; i + 1 < m->shaders.size(); ++i) {
                m->shaders[i]->next = m->shaders[i + 1].get();
            }
        }
    }

    static void linkObject(SimObject& o, SimObject* next) {
        o.next = next;
        o.down = o.children.empty() ? nullptr : o.children.front().get();
        for (size_t i = 0; i < o.children.size(); ++i) {
            linkObject(*o.children[i],
                       i + 1 < o.children.size() ? o.children[i + 1].get() : nullptr);
        }
    }

    // A material's texture placement, for the texture tags that use it.
    struct Mapping {
        double offsetU = 0, offsetV = 0, lengthU = 1, lengthV = 1;
    };

    const aiScene& scene_;
    SimDocument& doc_;
    std::vector<Mapping> mapping_;           // per material
    std::string imageBase_;                  // the folder that takes "<model>.textures"
    std::string imageFolder_;                // where embedded images go, once the first is written
    std::string besideFolder_, userFolder_;  // the latter set when the former failed
    std::map<std::string, std::string> embeddedFiles_;  // "*0" -> the file written
    std::multimap<std::string, const aiCamera*> cameras_;
    std::multimap<std::string, const aiLight*> lights_;
    std::multimap<std::string, const aiNodeAnim*> channels_;  // equal names in file order
    double ticksPerSecond_ = 25.0;
    Skipped skipped_;
};

}  // namespace

RdHostVector anglesForRotation(const double r[3][3], int32_t order, const RdHostVector* previous) {
    const host::RotationFactor* f = host::rotationOrderFactors(order);
    const int i = f[0].axis, j = f[1].axis, k = f[2].axis;
    const double s = j == (i + 1) % 3 ? 1.0 : -1.0;  // even or odd axis sequence
    // r = A_i(alpha) A_j(beta) A_k(gamma).
    const double sb = std::clamp(s * r[i][k], -1.0, 1.0);
    double alpha, beta = std::asin(sb), gamma;
    if (std::fabs(sb) < 1.0 - 1e-12) {
        alpha = std::atan2(-s * r[j][k], r[k][k]);
        gamma = std::atan2(-s * r[i][j], r[i][i]);
    } else {
        // Gimbal lock: alpha and gamma turn about one axis; put it all into alpha.
        gamma = 0.0;
        alpha = std::atan2(s * r[k][j], r[j][j]);
    }
    auto toAngles = [&](double a0, double a1, double a2) {
        RdHostVector out{0, 0, 0};
        setComponent(out, f[0].component, -a0);
        setComponent(out, f[1].component, -a1);
        setComponent(out, f[2].component, -a2);
        return out;
    };
    RdHostVector best = toAngles(alpha, beta, gamma);
    if (previous == nullptr) {
        return best;
    }
    // The same rotation: (alpha + pi, pi - beta, gamma + pi); each angle modulo a full turn.
    const RdHostVector other = toAngles(alpha + kPi, kPi - beta, gamma + kPi);
    auto nearest = [&](RdHostVector v, double& distance) {
        distance = 0.0;
        for (int c = 0; c < 3; ++c) {
            const double a = nearestTurn(component(v, c), component(*previous, c));
            setComponent(v, c, a);
            distance += std::fabs(a - component(*previous, c));
        }
        return v;
    };
    double d1 = 0.0, d2 = 0.0;
    best = nearest(best, d1);
    const RdHostVector alt = nearest(other, d2);
    return d2 < d1 ? alt : best;
}

namespace {

// Node levels below the scene, the root being level 1; without recursion, however deep.
int nodeDepth(const aiNode* root) {
    int deepest = 0;
    std::vector<std::pair<const aiNode*, int>> pending;
    if (root != nullptr) {
        pending.emplace_back(root, 1);
    }
    while (!pending.empty()) {
        const auto [n, level] = pending.back();
        pending.pop_back();
        deepest = std::max(deepest, level);
        for (unsigned i = 0; i < n->mNumChildren; ++i) {
            if (n->mChildren[i] != nullptr) {
                pending.emplace_back(n->mChildren[i], level + 1);
            }
        }
    }
    return deepest;
}

// Joins a mesh's identical vertices in place, as Assimp's own step does, without that step's
// record of every attribute Assimp knows for every vertex (1.9 KiB per triangle of a binary STL,
// and most of the time of a large OBJ). Vertices no face uses are dropped, as there.
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

// Makes a scene that a reader left inconsistent fit for Assimp's checks: faces whose indices
// name no vertex of their mesh are dropped (counted), and each mesh's primitive types are set
// from the faces it holds, so that a stray two-index face line is a line the import skips, not a
// reason to refuse the file. Answers the faces dropped.
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

// The import itself; it recurses along the node hierarchy (Assimp reading, checking and freeing
// the scene, the conversion of the nodes), so importModelFile runs it on a stack of its own.
std::unique_ptr<SimDocument> importOnThisStack(const std::string& path, std::string& error,
                                               std::vector<std::string>& warnings) {
    Assimp::Importer importer;
    // The source's axes and units as they are; no helper nodes for pivots.
    importer.SetPropertyBool(AI_CONFIG_IMPORT_COLLADA_IGNORE_UP_DIRECTION, true);
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    // No stand-in meshes for scenes without geometry: the source has none.
    importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
    // No triangulation: quads and larger polygons stay as the source has them.
    const aiScene* read = importer.ReadFile(path, 0);
    if (read == nullptr) {
        error = path + ": cannot read the model: " + importer.GetErrorString();
        return nullptr;
    }
    // The scene is the importer's until it is freed; mending it in place is what its
    // post-processing steps do too.
    const size_t mended = mendFaces(*const_cast<aiScene*>(read));
    const aiScene* scene = importer.ApplyPostProcessing(aiProcess_ValidateDataStructure);
    if (scene == nullptr) {
        error = path + ": cannot read the model: the file's structure is inconsistent (" +
                importer.GetErrorString() + ")";
        return nullptr;
    }
    for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
        if (scene->mMeshes[i] != nullptr) {
            VertexJoin(*scene->mMeshes[i]).run();
        }
    }
    // As deep as a host document may be, so that every export of it reads back.
    if (nodeDepth(scene->mRootNode) > kMaxObjectDepth) {
        error = path + ": cannot read the model: objects nested deeper than " +
                std::to_string(kMaxObjectDepth) + " levels";
        return nullptr;
    }
    auto doc = std::make_unique<SimDocument>();
    documentNameAndFolder(path, doc->fileName, doc->folder);
    // Where the images a model embeds go instead of beside it (tests of read-only model sets).
    const char* imageBase = std::getenv("RAYDECK_EMBEDDED_TEXTURES");
    Importer run(*scene, *doc, mended, imageBase != nullptr ? imageBase : "");
    run.run();
    const std::string base = doc->fileName;
    for (const std::string& w : run.warnings()) {
        warnings.push_back(base + ": " + w);
    }
    doc->evaluate();
    return doc;
}

}  // namespace

std::unique_ptr<SimDocument> importModelFile(const std::string& path, std::string& error,
                                             std::vector<std::string>& warnings) {
    // Room for Assimp's recursion through a deep file, reserved rather than committed.
    constexpr std::size_t kImportStackBytes = std::size_t(512) << 20;
    std::unique_ptr<SimDocument> doc;
    // A reader's failed allocation reaches here when Assimp does not catch it itself; on the
    // import's own thread it must not escape.
    auto guarded = [&] {
        try {
            doc = importOnThisStack(path, error, warnings);
        } catch (const std::bad_alloc&) {
            doc.reset();
            error = path + ": cannot read the model: std::bad_alloc";
        } catch (const std::exception& e) {
            doc.reset();
            error = path + ": cannot read the model: " + e.what();
        }
    };
    const platform::Status ran = platform::runWithStack(kImportStackBytes, guarded);
    if (!ran.ok()) {
        guarded();
    }
    return doc;
}

}  // namespace raydeck::hostsim
