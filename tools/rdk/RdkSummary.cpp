// RdkSummary: one walk over the tree; material, light and texture facts are read from the
// shaders that the plug-in writes ("trv_diffuse", "trv_advanced", "texture2_rgb", the lights').
#include "tools/rdk/RdkSummary.h"

namespace rdk {
namespace {

bool isAbsolute(const std::string& path) {
    if (!path.empty() && (path[0] == '/' || path[0] == '\\')) {
        return true;
    }
    return path.size() >= 2 && path[1] == ':';
}

const Node* surfaceShader(const Node& material) {
    for (const Node& child : material.children) {
        if (!child.isBlock() && child.name == "surface" &&
            child.value.kind == Value::Kind::shader) {
            return child.value.shader.get();
        }
    }
    return nullptr;
}

std::string shaderType(const Node& shader) {
    // Captured shaders carry their type as the one argument; named ones as the second.
    if (shader.captured) {
        return shader.arg(0);
    }
    return shader.args.size() >= 2 ? shader.args[1] : shader.arg(0);
}

double numberOf(const Node& block, const char* name, double fallback) {
    const Node* a = block.attribute(name);
    return a && a->value.isNumbers() ? a->value.number() : fallback;
}

class Summarizer {
  public:
    Summarizer(Summary& s, std::string folder) : s_(s), folder_(std::move(folder)) {}

    void walk(const std::vector<Node>& nodes, const Node* object) {
        for (const Node& node : nodes) {
            if (node.isBlock()) {
                block(node, object);
            } else if (node.value.kind == Value::Kind::shader && node.value.shader) {
                shader(*node.value.shader);
            }
        }
    }

  private:
    void block(const Node& node, const Node* object) {
        const std::string& k = node.name;
        if (k == "group") {
            ++s_.groups;
        } else if (k == "object") {
            ++s_.objects;
            object = &node;
        } else if (k == "geometry") {
            geometry(node);
        } else if (k == "material") {
            material(node, object);
        } else if (k == "camera") {
            camera(node);
        } else if (k == "animation") {
            animation(node);
        } else if (k == "light") {
            LightInfo light;
            light.name = node.arg(0);
            light.shaderType = "light";
            s_.lights.push_back(light);
        } else if (k == "shader") {
            shader(node);
            return;
        }
        walk(node.children, object);
    }

    void geometry(const Node& node) {
        const std::string type = node.arg(0);
        if (type == "triangles") {
            ++s_.meshes;
            const Node* v = node.attribute("vertices");
            if (v == nullptr) {
                v = node.attribute("p");
            }
            if (v != nullptr) {
                s_.vertices += v->value.componentCount() / 3;
            }
            if (const Node* t = node.attribute("triangles")) {
                s_.triangles += t->value.componentCount() / 3;
            }
        } else if (type == "trv_bezier_curves") {
            ++s_.curveObjects;
            if (const Node* n = node.attribute("nvertices")) {
                s_.curves += n->value.componentCount();
            }
            if (const Node* p = node.attribute("p")) {
                s_.curvePoints += p->value.componentCount() / 3;
            }
        }
    }

    void material(const Node& node, const Node* object) {
        ++s_.materials;
        const Node* surface = surfaceShader(node);
        const std::string type = surface ? shaderType(*surface) : std::string("(none)");
        ++s_.materialsByShader[type];
        if (surface != nullptr && (type == "trv_point_light" || type == "trv_mesh_light")) {
            LightInfo light;
            light.name = object ? object->arg(0) : node.arg(0);
            light.shaderType = type;
            light.power = numberOf(*surface, "power", 0);
            if (const Node* c = surface->attribute("color")) {
                for (size_t i = 0; i < 3; ++i) {
                    light.color[i] = c->value.number(i);
                }
            }
            if (const Node* l = surface->attribute("lumen")) {
                light.lumen = l->value.kind == Value::Kind::boolean && l->value.on;
            }
            s_.lights.push_back(light);
        }
        walk(node.children, object);
    }

    void shader(const Node& node) {
        const std::string type = shaderType(node);
        if (const Node* t = node.attribute("texture")) {
            if (t->value.kind == Value::Kind::text) {
                texture(t->value.text, type);
            }
        }
        walk(node.children, nullptr);
    }

    void texture(const std::string& path, const std::string& type) {
        if (type == "trv_envmap") {
            for (const std::string& e : s_.environmentMaps) {
                if (e == path) {
                    return;
                }
            }
            s_.environmentMaps.push_back(path);
            return;
        }
        for (TextureUse& use : s_.textures) {
            if (use.path == path) {
                ++use.uses;
                return;
            }
        }
        TextureUse use;
        use.path = path;
        use.shaderType = type;
        use.uses = 1;
        if (fileReadable(path)) {
            use.resolved = path;
        } else if (!isAbsolute(path) && !folder_.empty() && fileReadable(folder_ + "/" + path)) {
            use.resolved = folder_ + "/" + path;
        }
        s_.textures.push_back(use);
    }

    void camera(const Node& node) {
        CameraInfo c;
        c.name = node.arg(0);
        if (const Node* p = node.attribute("projection")) {
            c.projection = p->value.text;
        }
        c.fov = numberOf(node, "fov", 0);
        c.hasTransform = node.attribute("transform") != nullptr;
        s_.cameras.push_back(c);
    }

    void animation(const Node& node) {
        AnimationInfo a;
        a.type = node.arg(0);
        a.name = node.arg(1);
        if (const Node* f = node.attribute("folder")) {
            a.folder = f->value.text;
        }
        a.startTime = numberOf(node, "start_time", 0);
        a.duration = numberOf(node, "duration", 0);
        if (const Node* m = node.attribute("matrices")) {
            a.samples = m->value.componentCount() / 16;
        } else if (const Node* t = node.attribute("timestamps")) {
            a.samples = t->value.componentCount();
        }
        s_.animationSamples += a.samples;
        s_.animations.push_back(a);
    }

    Summary& s_;
    std::string folder_;
};

}  // namespace

std::string folderOf(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) {
        return std::string();
    }
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

Summary summarize(const Scene& scene, const std::string& sceneFolder) {
    Summary s;
    Summarizer(s, sceneFolder).walk(scene.nodes, nullptr);
    return s;
}

}  // namespace rdk
