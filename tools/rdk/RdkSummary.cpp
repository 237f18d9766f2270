// RdkSummary: follows the stream's blocks; material, light and texture facts are read from the
// shaders that the plug-in writes ("trv_diffuse", "trv_advanced", "texture2_rgb", and the light
// shaders of trvSceneFormat.h).
// Textures are found again by a hash of their path, so that each is looked up on disk once.
#include "tools/rdk/RdkSummary.h"

#include <unordered_map>
#include <unordered_set>

#include "trvSceneFormat.h"

namespace rdk {

namespace kw = trvFormat::keyword;
namespace {

bool isAbsolute(const std::string& path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) {
        return true;
    }
    return path.size() >= 2 && path[1] == ':';
}

size_t componentCount(const StreamValue& v) {
    return v.isArray() ? static_cast<size_t>(v.array.components) : 0;
}

class Summarizer : public SceneEvents {
  public:
    Summarizer(Summary& s, std::string folder, bool lookUp)
        : s_(s), folder_(std::move(folder)), lookUp_(lookUp) {}

    void blockStart(const BlockStart& b) override {
        Block block;
        if (ignored_ > 0 || (b.captured && b.inArray)) {
            // Shaders inside arrays are parameters of other shaders, not materials' own.
            ++ignored_;
            block.kind = Block::ignored;
            blocks_.push_back(std::move(block));
            return;
        }
        const std::string& k = b.name;
        block.name = b.args.empty() ? std::string() : b.args[0];
        if (b.captured || k == kw::shader) {
            block.kind = Block::shader;
            block.type = b.captured ? block.name : b.args.size() >= 2 ? b.args[1] : block.name;
            if (b.captured && b.valueOf == "surface" && !blocks_.empty() &&
                blocks_.back().kind == Block::material && !blocks_.back().hasSurface) {
                blocks_.back().hasSurface = true;
                blocks_.back().type = block.type;
                block.surface = true;
            }
        } else if (k == kw::group) {
            ++s_.groups;
        } else if (k == kw::object) {
            ++s_.objects;
            block.kind = Block::object;
        } else if (k == kw::geometry) {
            block.kind = Block::geometry;
        } else if (k == kw::material) {
            block.kind = Block::material;
            block.type = "(none)";
            block.light.name = block.name;
            // The object a material belongs to, as long as no shader stands between them.
            for (auto it = blocks_.rbegin(); it != blocks_.rend(); ++it) {
                if (it->kind == Block::shader) {
                    break;
                }
                if (it->kind == Block::object) {
                    block.light.name = it->name;
                    break;
                }
            }
        } else if (k == kw::camera) {
            block.kind = Block::camera;
        } else if (k == kw::animation) {
            block.kind = Block::animation;
            block.anim.type = block.name;
            block.anim.name = b.args.size() >= 2 ? b.args[1] : std::string();
        } else if (k == kw::light) {
            LightInfo light;
            light.name = block.name;
            light.shaderType = kw::light;
            s_.lights.push_back(light);
        }
        blocks_.push_back(std::move(block));
    }

    void blockEnd(uint64_t) override {
        Block block = std::move(blocks_.back());
        blocks_.pop_back();
        if (block.kind == Block::ignored) {
            --ignored_;
            return;
        }
        switch (block.kind) {
            case Block::geometry:
                geometry(block);
                break;
            case Block::material:
                material(block);
                break;
            case Block::camera:
                camera(block);
                break;
            case Block::animation:
                animationDone(block);
                s_.animationSamples += block.anim.samples;
                s_.animations.push_back(std::move(block.anim));
                break;
            default:
                break;
        }
    }

    void attribute(const Attribute& a) override {
        if (blocks_.empty() || ignored_ > 0) {
            return;
        }
        Block& b = blocks_.back();
        switch (b.kind) {
            case Block::shader:
                if (a.name == "texture" && !b.textureSeen) {
                    b.textureSeen = true;
                    if (a.value.kind == Value::Kind::text) {
                        texture(a.value.text, b.type);
                    }
                }
                if (b.surface) {
                    surfaceAttribute(blocks_[blocks_.size() - 2], a);
                }
                break;
            case Block::geometry:
            case Block::camera:
            case Block::animation:
                first(b, a);
                break;
            default:
                break;
        }
    }

  private:
    struct Block {
        enum Kind { other, ignored, object, geometry, material, camera, animation, shader };
        Kind kind = other;
        std::string name;  // the first argument
        std::string type;  // geometry's argument; shader's type; material's surface type
        bool hasSurface = false;
        bool surface = false;  // a shader that is its material's surface
        bool textureSeen = false;
        LightInfo light;
        bool power = false, color = false, lumen = false;
        std::vector<Attribute> attributes;  // the first of each name that counts
        AnimationInfo anim;

        const Attribute* find(const char* name) const {
            for (const Attribute& a : attributes) {
                if (a.name == name) {
                    return &a;
                }
            }
            return nullptr;
        }
    };

    static void first(Block& b, const Attribute& a) {
        static const char* const counted[] = {"vertices",   "p",        "triangles", "nvertices",
                                              "projection", "fov",      "transform", "folder",
                                              "start_time", "duration", "matrices",  "timestamps"};
        for (const char* name : counted) {
            if (a.name == name) {
                if (b.find(name) == nullptr) {
                    Attribute kept;
                    kept.name = a.name;
                    kept.offset = a.offset;
                    kept.value = a.value;
                    b.attributes.push_back(std::move(kept));
                }
                return;
            }
        }
    }

    static double numberOf(const Block& b, const char* name, double fallback) {
        const Attribute* a = b.find(name);
        return a && a->value.isNumbers() ? a->value.number() : fallback;
    }

    // The light parameters of a material's surface shader: the first of each.
    static void surfaceAttribute(Block& material, const Attribute& a) {
        if (a.name == "power" && !material.power) {
            material.power = true;
            material.light.power = a.value.isNumbers() ? a.value.number() : 0;
        } else if (a.name == "color" && !material.color) {
            material.color = true;
            for (size_t i = 0; i < 3; ++i) {
                material.light.color[i] = a.value.number(i);
            }
        } else if (a.name == "lumen" && !material.lumen) {
            material.lumen = true;
            material.light.lumen = a.value.kind == Value::Kind::boolean && a.value.on;
        }
    }

    void geometry(const Block& b) {
        if (b.name == "triangles") {
            ++s_.meshes;
            const Attribute* v = b.find("vertices");
            if (v == nullptr) {
                v = b.find("p");
            }
            if (v != nullptr) {
                s_.vertices += componentCount(v->value) / 3;
            }
            if (const Attribute* t = b.find("triangles")) {
                s_.triangles += componentCount(t->value) / 3;
            }
        } else if (b.name == "trv_bezier_curves") {
            ++s_.curveObjects;
            if (const Attribute* n = b.find("nvertices")) {
                s_.curves += componentCount(n->value);
            }
            if (const Attribute* p = b.find("p")) {
                s_.curvePoints += componentCount(p->value) / 3;
            }
        }
    }

    void material(Block& b) {
        ++s_.materials;
        ++s_.materialsByShader[b.type];
        if (b.hasSurface && trvFormat::isLightShader(b.type)) {
            b.light.shaderType = b.type;
            s_.lights.push_back(b.light);
        }
    }

    void camera(const Block& b) {
        CameraInfo c;
        c.name = b.name;
        if (const Attribute* p = b.find("projection")) {
            c.projection = p->value.text;
        }
        c.fov = numberOf(b, "fov", 0);
        c.hasTransform = b.find("transform") != nullptr;
        s_.cameras.push_back(c);
    }

    void animationDone(Block& b) {
        AnimationInfo& a = b.anim;
        if (const Attribute* f = b.find("folder")) {
            a.folder = f->value.text;
        }
        a.startTime = numberOf(b, "start_time", 0);
        a.duration = numberOf(b, "duration", 0);
        if (const Attribute* m = b.find("matrices")) {
            a.samples = componentCount(m->value) / 16;
        } else if (const Attribute* t = b.find("timestamps")) {
            a.samples = componentCount(t->value);
        }
    }

    void texture(const std::string& path, const std::string& type) {
        if (type == "trv_envmap") {
            if (environmentMaps_.insert(path).second) {
                s_.environmentMaps.push_back(path);
            }
            return;
        }
        auto found = textures_.find(path);
        if (found != textures_.end()) {
            ++s_.textures[found->second].uses;
            return;
        }
        TextureUse use;
        use.path = path;
        use.shaderType = type;
        use.uses = 1;
        if (lookUp_ && fileReadable(path)) {
            use.resolved = path;
        } else if (lookUp_ && !isAbsolute(path) && !folder_.empty() &&
                   fileReadable(folder_ + "/" + path)) {
            use.resolved = folder_ + "/" + path;
        }
        textures_.emplace(path, s_.textures.size());
        s_.textures.push_back(std::move(use));
    }

    Summary& s_;
    std::string folder_;
    bool lookUp_;
    std::vector<Block> blocks_;
    int ignored_ = 0;
    std::unordered_map<std::string, size_t> textures_;
    std::unordered_set<std::string> environmentMaps_;
};

}  // namespace

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) {
        return std::string();
    }
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

bool summarize(ByteSource& source, const std::string& sceneFolder, Summary& out, ReadError& error,
               bool lookUp) {
    out = Summary();
    Summarizer summarizer(out, sceneFolder, lookUp);
    return streamScene(source, summarizer, error);
}

}  // namespace rdk
