// The document model: JSON loading with path-precise errors, track values, evaluation and the
// host's placement math.
#include "tools/host/SimDocument.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "plugins/c4d/convert/sincos.h"

namespace raydeck::hostsim {

using nlohmann::json;

namespace {

// A load failure at a JSON path; caught in loadDocumentText.
struct LoadError : std::runtime_error {
    LoadError(const std::string& path, const std::string& what)
        : std::runtime_error(what), path(path) {}
    std::string path;
};

[[noreturn]] void fail(const std::string& path, const std::string& what) {
    throw LoadError(path.empty() ? "/" : path, what);
}

std::string sub(const std::string& path, const std::string& key) {
    std::string escaped;
    for (char c : key) {
        if (c == '~') {
            escaped += "~0";
        } else if (c == '/') {
            escaped += "~1";
        } else {
            escaped += c;
        }
    }
    return path + "/" + escaped;
}
std::string sub(const std::string& path, size_t index) {
    return path + "/" + std::to_string(index);
}

bool isNumber(const json& v) {
    return v.is_number() || v.is_boolean();
}

double number(const json& v, const std::string& path) {
    if (v.is_boolean()) {
        return v.get<bool>() ? 1.0 : 0.0;
    }
    if (!v.is_number()) {
        fail(path, "expected a number");
    }
    return v.get<double>();
}

int32_t integer(const json& v, const std::string& path) {
    if (!v.is_number_integer() && !v.is_boolean()) {
        if (v.is_number()) {
            double d = v.get<double>();
            if (d == std::floor(d) && std::fabs(d) < 2147483648.0) {
                return static_cast<int32_t>(d);
            }
        }
        fail(path, "expected an integer");
    }
    if (v.is_boolean()) {
        return v.get<bool>() ? 1 : 0;
    }
    int64_t i = v.get<int64_t>();
    if (i < std::numeric_limits<int32_t>::min() || i > std::numeric_limits<int32_t>::max()) {
        fail(path, "integer out of range");
    }
    return static_cast<int32_t>(i);
}

bool boolean(const json& v, const std::string& path) {
    if (v.is_boolean()) {
        return v.get<bool>();
    }
    if (v.is_number()) {
        return v.get<double>() != 0.0;
    }
    fail(path, "expected true or false");
}

std::string text(const json& v, const std::string& path) {
    if (!v.is_string()) {
        fail(path, "expected a string");
    }
    return v.get<std::string>();
}

RdHostVector vector3(const json& v, const std::string& path) {
    if (!v.is_array() || v.size() != 3) {
        fail(path, "expected [x, y, z]");
    }
    return RdHostVector{number(v[0], sub(path, 0)), number(v[1], sub(path, 1)),
                        number(v[2], sub(path, 2))};
}

const json& array(const json& v, const std::string& path) {
    if (!v.is_array()) {
        fail(path, "expected an array");
    }
    return v;
}

const json& object(const json& v, const std::string& path) {
    if (!v.is_object()) {
        fail(path, "expected an object");
    }
    return v;
}

RdHostTime timeValue(const json& v, const std::string& path) {
    if (v.is_object()) {
        if (!v.contains("num") || !v.contains("den")) {
            fail(path, "expected seconds or {\"num\": n, \"den\": d}");
        }
        return RdHostTime{number(v["num"], sub(path, "num")), number(v["den"], sub(path, "den"))};
    }
    if (!v.is_number()) {
        fail(path, "expected seconds or {\"num\": n, \"den\": d}");
    }
    return RdHostTime{v.get<double>(), 1.0};
}

RdHostMatrix matrixValue(const json& v, const std::string& path) {
    object(v, path);
    RdHostMatrix m{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    if (v.contains("offset")) {
        m.off = vector3(v["offset"], sub(path, "offset"));
    }
    if (v.contains("x")) {
        m.v1 = vector3(v["x"], sub(path, "x"));
    }
    if (v.contains("y")) {
        m.v2 = vector3(v["y"], sub(path, "y"));
    }
    if (v.contains("z")) {
        m.v3 = vector3(v["z"], sub(path, "z"));
    }
    return m;
}

std::string idText(const json& v, const std::string& path) {
    if (v.is_string()) {
        return v.get<std::string>();
    }
    if (v.is_number_unsigned() || v.is_number_integer()) {
        if (v.is_number_integer() && v.get<int64_t>() < 0) {
            fail(path, "expected an id (a string or a non-negative integer)");
        }
        return std::to_string(v.get<uint64_t>());
    }
    fail(path, "expected an id (a string or a non-negative integer)");
}

// Links to resolve once every node is known.
struct PendingLink {
    std::string path;
    std::string id;
    SimNode** target;
    bool materialOnly = false;
    bool layerOnly = false;
};

class Loader {
  public:
    explicit Loader(SimDocument& doc) : doc_(doc) {}

    void load(const json& root) {
        object(root, "");
        if (!root.contains("format")) {
            fail("/format", "missing; expected \"raydeck-host-document\"");
        }
        if (!root["format"].is_string() ||
            root["format"].get<std::string>() != "raydeck-host-document") {
            fail("/format", "expected \"raydeck-host-document\"");
        }
        if (!root.contains("version")) {
            fail("/version", "missing; expected 1");
        }
        if (!root["version"].is_number() || root["version"].get<double>() != 1.0) {
            fail("/version", "unsupported version " + root["version"].dump() + "; expected 1");
        }
        if (root.contains("file")) {
            doc_.fileName = text(root["file"], "/file");
        }
        if (root.contains("folder")) {
            doc_.folder = text(root["folder"], "/folder");
        }
        if (root.contains("minTime")) {
            doc_.minTime = timeValue(root["minTime"], "/minTime");
        }
        if (root.contains("time")) {
            doc_.time = timeValue(root["time"], "/time");
        }
        if (root.contains("services")) {
            const json& s = object(root["services"], "/services");
            if (s.contains("hair")) {
                doc_.hairService = boolean(s["hair"], "/services/hair");
            }
            if (s.contains("gradient")) {
                doc_.gradientService = boolean(s["gradient"], "/services/gradient");
            }
        }
        if (root.contains("layers")) {
            const json& a = array(root["layers"], "/layers");
            for (size_t i = 0; i < a.size(); ++i) {
                doc_.layers.push_back(layer(a[i], sub("/layers", i)));
            }
        }
        if (root.contains("materials")) {
            const json& a = array(root["materials"], "/materials");
            for (size_t i = 0; i < a.size(); ++i) {
                doc_.materials.push_back(material(a[i], sub("/materials", i)));
            }
        }
        if (root.contains("objects")) {
            const json& a = array(root["objects"], "/objects");
            for (size_t i = 0; i < a.size(); ++i) {
                doc_.objects.push_back(objectNode(a[i], sub("/objects", i)));
            }
        }
        link(doc_.objects);
        assignIds();
        for (SimObject* o : doc_.allObjects()) {
            registerId(o, o->id, idPaths_[o]);
        }
        for (const PendingLink& p : pending_) {
            SimNode* n = doc_.find(p.id);
            if (n == nullptr) {
                fail(p.path, "link to unknown id \"" + p.id + "\"");
            }
            if (p.materialOnly && n->kind != NodeKind::Material) {
                fail(p.path, "\"" + p.id + "\" is not a material");
            }
            if (p.layerOnly && n->kind != NodeKind::Layer) {
                fail(p.path, "\"" + p.id + "\" is not a layer");
            }
            *p.target = n;
        }
    }

  private:
    void base(SimNode& n, NodeKind kind, const json& v, const std::string& path) {
        n.kind = kind;
        n.document = &doc_;
        if (v.contains("type")) {
            n.type = integer(v["type"], sub(path, "type"));
        }
        if (v.contains("name")) {
            n.name = text(v["name"], sub(path, "name"));
        }
        if (v.contains("params")) {
            params(v["params"], sub(path, "params"), n.params);
        }
    }

    void params(const json& v, const std::string& path, std::map<int32_t, SimValue>& out) {
        object(v, path);
        for (auto it = v.begin(); it != v.end(); ++it) {
            const std::string p = sub(path, it.key());
            int32_t id = parameterNumber(it.key(), p);
            out[id] = value(it.value(), p);
        }
    }

    int32_t parameterNumber(const std::string& key, const std::string& path) {
        char* end = nullptr;
        long long n = std::strtoll(key.c_str(), &end, 10);
        if (key.empty() || *end != '\0' || n < std::numeric_limits<int32_t>::min() ||
            n > std::numeric_limits<int32_t>::max()) {
            fail(path, "parameter key \"" + key + "\" is not a number");
        }
        return static_cast<int32_t>(n);
    }

    SimValue value(const json& v, const std::string& path) {
        SimValue out;
        if (isNumber(v)) {
            out.kind = SimValue::Kind::Number;
            out.number = number(v, path);
        } else if (v.is_array()) {
            out.kind = SimValue::Kind::Vector;
            out.vector = vector3(v, path);
        } else if (v.is_string()) {
            out.kind = SimValue::Kind::Text;
            out.text = v.get<std::string>();
        } else if (v.is_object() && v.contains("link")) {
            out.kind = SimValue::Kind::Link;
            out.linkId = idText(v["link"], sub(path, "link"));
        } else if (v.is_object() && v.contains("gradient")) {
            out.kind = SimValue::Kind::Gradient;
            const std::string gp = sub(path, "gradient");
            const json& knots = array(v["gradient"], gp);
            for (size_t i = 0; i < knots.size(); ++i) {
                const std::string kp = sub(gp, i);
                object(knots[i], kp);
                GradientKnot k;
                if (knots[i].contains("position")) {
                    k.position = number(knots[i]["position"], sub(kp, "position"));
                }
                if (!knots[i].contains("color")) {
                    fail(sub(kp, "color"), "missing knot colour");
                }
                k.color = vector3(knots[i]["color"], sub(kp, "color"));
                out.gradient.push_back(k);
            }
        } else {
            fail(path,
                 "expected a number, [x, y, z], a string, {\"link\": id} or "
                 "{\"gradient\": [...]}");
        }
        return out;
    }

    void registerId(SimNode* n, const std::string& id, const std::string& path) {
        if (id.empty()) {
            return;
        }
        if (!doc_.links.emplace(id, n).second) {
            fail(path, "duplicate id \"" + id + "\"");
        }
    }

    // The optional "id" by which links name a layer, material or shader.
    void linkId(SimNode& n, const json& v, const std::string& path) {
        if (v.contains("id")) {
            n.id = idText(v["id"], sub(path, "id"));
            registerId(&n, n.id, sub(path, "id"));
        }
    }

    std::unique_ptr<SimLayer> layer(const json& v, const std::string& path) {
        object(v, path);
        auto l = std::make_unique<SimLayer>();
        base(*l, NodeKind::Layer, v, path);
        linkId(*l, v, path);
        resolveParams(*l, path);
        return l;
    }

    std::unique_ptr<SimMaterial> material(const json& v, const std::string& path) {
        object(v, path);
        auto m = std::make_unique<SimMaterial>();
        base(*m, NodeKind::Material, v, path);
        linkId(*m, v, path);
        if (v.contains("channels")) {
            const std::string cp = sub(path, "channels");
            const json& a = array(v["channels"], cp);
            for (size_t i = 0; i < a.size(); ++i) {
                m->channels.insert(integer(a[i], sub(cp, i)));
            }
        }
        if (v.contains("container")) {
            params(v["container"], sub(path, "container"), m->container);
        }
        if (v.contains("shaders")) {
            const std::string sp = sub(path, "shaders");
            const json& a = array(v["shaders"], sp);
            for (size_t i = 0; i < a.size(); ++i) {
                const std::string p = sub(sp, i);
                object(a[i], p);
                auto s = std::make_unique<SimShader>();
                base(*s, NodeKind::Shader, a[i], p);
                linkId(*s, a[i], p);
                m->shaders.push_back(std::move(s));
            }
            for (size_t i = 0; i + 1 < m->shaders.size(); ++i) {
                m->shaders[i]->next = m->shaders[i + 1].get();
            }
        }
        resolveParams(*m, path);
        for (size_t i = 0; i < m->shaders.size(); ++i) {
            resolveParams(*m->shaders[i], sub(sub(path, "shaders"), i));
        }
        return m;
    }

    void resolveParams(SimNode& n, const std::string& path) {
        for (auto& [id, val] : n.params) {
            if (val.kind == SimValue::Kind::Link) {
                pending_.push_back({sub(sub(sub(path, "params"), std::to_string(id)), "link"),
                                    val.linkId, &val.link});
            }
        }
    }

    std::unique_ptr<SimTag> tag(const json& v, const std::string& path, SimObject& owner) {
        object(v, path);
        auto t = std::make_unique<SimTag>();
        base(*t, NodeKind::Tag, v, path);
        t->owner = &owner;
        if (!v.contains("type")) {
            fail(sub(path, "type"), "missing tag type");
        }
        if (v.contains("selected")) {
            t->selected = boolean(v["selected"], sub(path, "selected"));
        }
        if (v.contains("material")) {
            t->materialId = idText(v["material"], sub(path, "material"));
            pending_.push_back(
                {sub(path, "material"), t->materialId, &t->material, /*materialOnly=*/true});
        }
        if (v.contains("textureMatrix")) {
            t->textureMatrix = matrixValue(v["textureMatrix"], sub(path, "textureMatrix"));
        }
        if (v.contains("uvw")) {
            const std::string up = sub(path, "uvw");
            const json& a = array(v["uvw"], up);
            for (size_t i = 0; i < a.size(); ++i) {
                const std::string rp = sub(up, i);
                if (!a[i].is_array() || a[i].size() != 4) {
                    fail(rp, "expected four corners [[u, v, w], ...]");
                }
                t->uvw.push_back(
                    RdHostUVWPolygon{vector3(a[i][0], sub(rp, 0)), vector3(a[i][1], sub(rp, 1)),
                                     vector3(a[i][2], sub(rp, 2)), vector3(a[i][3], sub(rp, 3))});
            }
        }
        if (v.contains("selection")) {
            const std::string sp = sub(path, "selection");
            const json& a = array(v["selection"], sp);
            for (size_t i = 0; i < a.size(); ++i) {
                const std::string rp = sub(sp, i);
                if (!a[i].is_array() || a[i].size() != 2) {
                    fail(rp, "expected an inclusive range [first, last]");
                }
                int32_t first = integer(a[i][0], sub(rp, 0));
                int32_t last = integer(a[i][1], sub(rp, 1));
                if (first < 0 || last < first) {
                    fail(rp, "range [" + std::to_string(first) + ", " + std::to_string(last) +
                                 "] is not 0 <= first <= last");
                }
                t->ranges.emplace_back(first, last);
            }
        }
        if (v.contains("normals")) {
            const std::string np = sub(path, "normals");
            const json& a = array(v["normals"], np);
            t->hasNormals = true;
            for (size_t i = 0; i < a.size(); ++i) {
                const std::string rp = sub(np, i);
                if (!a[i].is_array() || a[i].size() != 12) {
                    fail(rp, "expected 12 numbers (four corner normals)");
                }
                for (size_t k = 0; k < 12; ++k) {
                    t->normals.push_back(static_cast<float>(number(a[i][k], sub(rp, k))));
                }
            }
        }
        // A tag's name is also its parameter 900.
        if (t->params.find(900) == t->params.end()) {
            SimValue name;
            name.kind = SimValue::Kind::Text;
            name.text = t->name;
            t->params[900] = name;
        }
        return t;
    }

    std::unique_ptr<SimTrack> track(const json& v, const std::string& path) {
        object(v, path);
        auto t = std::make_unique<SimTrack>();
        base(*t, NodeKind::Track, v, path);
        if (!v.contains("id")) {
            fail(sub(path, "id"), "missing track id [parameter, component]");
        }
        const std::string ip = sub(path, "id");
        const json& id = v["id"];
        if (id.is_array()) {
            if (id.empty() || id.size() > 2) {
                fail(ip, "expected [parameter] or [parameter, component]");
            }
            t->depth = static_cast<int32_t>(id.size());
            for (size_t i = 0; i < id.size(); ++i) {
                t->descId[i] = integer(id[i], sub(ip, i));
            }
        } else {
            t->depth = 1;
            t->descId[0] = integer(id, ip);
        }
        if (v.contains("keys")) {
            t->hasCurve = true;
            const std::string kp = sub(path, "keys");
            const json& a = array(v["keys"], kp);
            for (size_t i = 0; i < a.size(); ++i) {
                const std::string p = sub(kp, i);
                object(a[i], p);
                SimKey k;
                if (!a[i].contains("time")) {
                    fail(sub(p, "time"), "missing key time");
                }
                k.time = timeValue(a[i]["time"], sub(p, "time"));
                if (!a[i].contains("value")) {
                    fail(sub(p, "value"), "missing key value");
                }
                k.value = number(a[i]["value"], sub(p, "value"));
                t->curve.keys.push_back(k);
            }
            // The host keeps a curve's keys in time order.
            std::stable_sort(t->curve.keys.begin(), t->curve.keys.end(),
                             [](const SimKey& a, const SimKey& b) {
                                 return timeSeconds(a.time) < timeSeconds(b.time);
                             });
        }
        if (v.contains("interpolation")) {
            std::string mode = text(v["interpolation"], sub(path, "interpolation"));
            if (mode == "linear") {
                t->interpolation = Interpolation::Linear;
            } else if (mode == "step") {
                t->interpolation = Interpolation::Step;
            } else {
                fail(sub(path, "interpolation"),
                     "unknown interpolation \"" + mode + "\"; expected \"linear\" or \"step\"");
            }
        }
        return t;
    }

    std::unique_ptr<SimObject> objectNode(const json& v, const std::string& path) {
        object(v, path);
        auto o = std::make_unique<SimObject>();
        base(*o, NodeKind::Object, v, path);
        for (int32_t vis : {901, 902}) {
            if (o->params.find(vis) == o->params.end()) {
                SimValue inherit;
                inherit.number = 2;
                o->params[vis] = inherit;
            }
        }
        if (v.contains("id")) {
            const std::string ip = sub(path, "id");
            const json& id = v["id"];
            if (id.is_number_unsigned() || (id.is_number_integer() && id.get<int64_t>() >= 0)) {
                o->guid = id.get<uint64_t>();
            } else if (id.is_string()) {
                const std::string s = id.get<std::string>();
                char* end = nullptr;
                errno = 0;
                unsigned long long n = std::strtoull(s.c_str(), &end, 10);
                if (s.empty() || *end != '\0' || errno != 0 || s[0] == '-') {
                    fail(ip, "expected an unsigned 64-bit object id");
                }
                o->guid = n;
            } else {
                fail(ip, "expected an unsigned 64-bit object id");
            }
            o->hasGuid = true;
            idPaths_[o.get()] = ip;
        }
        if (v.contains("position")) {
            o->position = vector3(v["position"], sub(path, "position"));
        }
        if (v.contains("rotation")) {
            o->rotation = vector3(v["rotation"], sub(path, "rotation"));
        }
        if (v.contains("scale")) {
            o->scale = vector3(v["scale"], sub(path, "scale"));
        }
        if (v.contains("rotationOrder")) {
            o->rotationOrder = integer(v["rotationOrder"], sub(path, "rotationOrder"));
            if (o->rotationOrder < 0 || o->rotationOrder > 6) {
                fail(sub(path, "rotationOrder"), "expected 0 to 6");
            }
        }
        if (v.contains("matrix")) {
            o->explicitMatrix = true;
            o->matrix = matrixValue(v["matrix"], sub(path, "matrix"));
        }
        if (v.contains("generatorInput")) {
            o->generatorInput = boolean(v["generatorInput"], sub(path, "generatorInput"));
        }
        if (v.contains("selected")) {
            o->selected = boolean(v["selected"], sub(path, "selected"));
        }
        if (v.contains("layer")) {
            o->layerId = idText(v["layer"], sub(path, "layer"));
            pending_.push_back({sub(path, "layer"), o->layerId, &o->layer, false, true});
        }
        if (v.contains("points")) {
            const std::string pp = sub(path, "points");
            const json& a = array(v["points"], pp);
            for (size_t i = 0; i < a.size(); ++i) {
                o->points.push_back(vector3(a[i], sub(pp, i)));
            }
        }
        if (v.contains("polygons")) {
            const std::string pp = sub(path, "polygons");
            const json& a = array(v["polygons"], pp);
            for (size_t i = 0; i < a.size(); ++i) {
                const std::string rp = sub(pp, i);
                if (!a[i].is_array() || (a[i].size() != 3 && a[i].size() != 4)) {
                    fail(rp, "expected [a, b, c, d] (or [a, b, c] for a triangle)");
                }
                int32_t idx[4];
                for (size_t k = 0; k < a[i].size(); ++k) {
                    idx[k] = integer(a[i][k], sub(rp, k));
                    if (idx[k] < 0 || static_cast<size_t>(idx[k]) >= o->points.size()) {
                        fail(sub(rp, k), "index " + std::to_string(idx[k]) + " out of range of " +
                                             std::to_string(o->points.size()) + " points");
                    }
                }
                if (a[i].size() == 3) {
                    idx[3] = idx[2];
                }
                o->polygons.push_back(RdHostPolygon{idx[0], idx[1], idx[2], idx[3]});
            }
        }
        if (v.contains("tags")) {
            const std::string tp = sub(path, "tags");
            const json& a = array(v["tags"], tp);
            for (size_t i = 0; i < a.size(); ++i) {
                o->tags.push_back(tag(a[i], sub(tp, i), *o));
            }
            for (size_t i = 0; i + 1 < o->tags.size(); ++i) {
                o->tags[i]->next = o->tags[i + 1].get();
            }
            for (size_t i = 0; i < o->tags.size(); ++i) {
                checkTag(*o, *o->tags[i], sub(tp, i));
                resolveParams(*o->tags[i], sub(tp, i));
            }
        }
        if (v.contains("tracks")) {
            const std::string tp = sub(path, "tracks");
            const json& a = array(v["tracks"], tp);
            for (size_t i = 0; i < a.size(); ++i) {
                o->tracks.push_back(track(a[i], sub(tp, i)));
            }
            for (size_t i = 0; i + 1 < o->tracks.size(); ++i) {
                o->tracks[i]->next = o->tracks[i + 1].get();
            }
            for (size_t i = 0; i < o->tracks.size(); ++i) {
                resolveParams(*o->tracks[i], sub(tp, i));
            }
        }
        if (v.contains("hair")) {
            hair(v["hair"], sub(path, "hair"), *o);
        }
        if (v.contains("deformCache")) {
            o->deformCache = objectNode(v["deformCache"], sub(path, "deformCache"));
        }
        if (v.contains("cache")) {
            o->cache = objectNode(v["cache"], sub(path, "cache"));
        }
        if (v.contains("children")) {
            const std::string cp = sub(path, "children");
            const json& a = array(v["children"], cp);
            for (size_t i = 0; i < a.size(); ++i) {
                o->children.push_back(objectNode(a[i], sub(cp, i)));
            }
        }
        resolveParams(*o, path);
        return o;
    }

    void checkTag(const SimObject& o, const SimTag& t, const std::string& path) {
        const size_t n = o.polygons.size();
        if ((t.type == 5671 || !t.uvw.empty()) && t.uvw.size() != n) {
            fail(sub(path, "uvw"),
                 std::to_string(t.uvw.size()) + " records for " + std::to_string(n) + " polygons");
        }
        if (t.hasNormals && t.normals.size() != 12 * n) {
            fail(sub(path, "normals"), std::to_string(t.normals.size() / 12) + " records for " +
                                           std::to_string(n) + " polygons");
        }
    }

    void hair(const json& v, const std::string& path, SimObject& o) {
        object(v, path);
        o.hasHair = true;
        if (v.contains("segments")) {
            o.hair.segments = integer(v["segments"], sub(path, "segments"));
            if (o.hair.segments < 0) {
                fail(sub(path, "segments"), "expected a segment count of at least 0");
            }
        }
        if (v.contains("guides")) {
            const std::string gp = sub(path, "guides");
            const json& a = array(v["guides"], gp);
            const size_t perGuide =
                o.hair.segments > 0 ? static_cast<size_t>(o.hair.segments) + 1 : 0;
            for (size_t i = 0; i < a.size(); ++i) {
                const std::string p = sub(gp, i);
                object(a[i], p);
                size_t count = 0;
                if (a[i].contains("points")) {
                    const json& pts = array(a[i]["points"], sub(p, "points"));
                    count = pts.size();
                    for (size_t k = 0; k < pts.size(); ++k) {
                        o.hair.points.push_back(vector3(pts[k], sub(sub(p, "points"), k)));
                    }
                }
                if (count != perGuide) {
                    fail(sub(p, "points"), std::to_string(count) + " points; " +
                                               std::to_string(o.hair.segments) + " segments need " +
                                               std::to_string(perGuide));
                }
                RdHostVector uv{0, 0, 0};
                if (a[i].contains("rootUV")) {
                    uv = vector3(a[i]["rootUV"], sub(p, "rootUV"));
                }
                o.hair.rootUV.push_back(uv);
            }
        }
    }

    // next/down pointers of the tree (caches keep their own).
    void link(std::vector<std::unique_ptr<SimObject>>& list) {
        for (size_t i = 0; i < list.size(); ++i) {
            linkObject(*list[i], i + 1 < list.size() ? list[i + 1].get() : nullptr);
        }
    }

    // A cache is a tree of its own, with no object after its root.
    void linkObject(SimObject& o, SimObject* next) {
        o.next = next;
        o.down = o.children.empty() ? nullptr : o.children.front().get();
        link(o.children);
        if (o.cache) {
            linkObject(*o.cache, nullptr);
        }
        if (o.deformCache) {
            linkObject(*o.deformCache, nullptr);
        }
    }

    // Objects without an id get 1, 2, 3 ... in document order, skipping ids the file uses.
    void assignIds() {
        std::vector<SimObject*> all = doc_.allObjects();
        std::set<uint64_t> used;
        for (SimObject* o : all) {
            if (o->hasGuid && !used.insert(o->guid).second) {
                fail(idPaths_[o], "duplicate object id " + std::to_string(o->guid));
            }
        }
        uint64_t next = 1;
        for (SimObject* o : all) {
            if (!o->hasGuid) {
                while (used.count(next)) {
                    ++next;
                }
                o->guid = next;
                used.insert(next);
            }
            o->id = std::to_string(o->guid);
        }
    }

    SimDocument& doc_;
    std::vector<PendingLink> pending_;
    std::map<const SimObject*, std::string> idPaths_;
};

void collect(SimObject* o, std::vector<SimObject*>& out) {
    out.push_back(o);
    if (o->deformCache) {
        collect(o->deformCache.get(), out);
    }
    if (o->cache) {
        collect(o->cache.get(), out);
    }
    for (auto& c : o->children) {
        collect(c.get(), out);
    }
}

using M3 = double[3][3];

void mul3(const M3& a, const M3& b, M3& out) {
    M3 r;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            r[i][j] = a[i][0] * b[0][j] + a[i][1] * b[1][j] + a[i][2] * b[2][j];
        }
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out[i][j] = r[i][j];
        }
    }
}

void axisRotation(int axis, double t, M3& out) {
    double c, s;
    raydeck::c4d::sinCos(t, s, c);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            out[i][j] = i == j ? 1.0 : 0.0;
        }
    }
    const int a = (axis + 1) % 3, b = (axis + 2) % 3;
    out[a][a] = c;
    out[a][b] = -s;
    out[b][a] = s;
    out[b][b] = c;
}

}  // namespace

double timeSeconds(const RdHostTime& t) {
    return t.den == 0.0 ? 0.0 : t.num / t.den;
}

RdHostMatrix rotationMatrix(const RdHostVector& a, int32_t order) {
    // Factor sequence per order, applied left to right: (axis, angle).
    struct F {
        int axis;
        double angle;
    };
    F f[3];
    switch (order) {
        case 1:
            f[0] = {0, -a.x}, f[1] = {2, -a.z}, f[2] = {1, -a.y};
            break;
        case 2:
            f[0] = {0, -a.x}, f[1] = {1, -a.y}, f[2] = {2, -a.z};
            break;
        case 3:
            f[0] = {1, -a.y}, f[1] = {0, -a.x}, f[2] = {2, -a.z};
            break;
        case 4:
            f[0] = {1, -a.y}, f[1] = {2, -a.z}, f[2] = {0, -a.x};
            break;
        case 5:
            f[0] = {2, -a.z}, f[1] = {1, -a.y}, f[2] = {0, -a.x};
            break;
        case 6:
            // Order 6 takes the y factor from a.x and the x factor from a.y, as defined.
            f[0] = {1, -a.x}, f[1] = {0, -a.y}, f[2] = {2, -a.z};
            break;
        default:
            f[0] = {2, -a.z}, f[1] = {0, -a.x}, f[2] = {1, -a.y};
            break;
    }
    M3 r, m;
    axisRotation(f[0].axis, f[0].angle, r);
    axisRotation(f[1].axis, f[1].angle, m);
    mul3(r, m, r);
    axisRotation(f[2].axis, f[2].angle, m);
    mul3(r, m, r);
    RdHostMatrix out;
    out.off = RdHostVector{0, 0, 0};
    out.v1 = RdHostVector{r[0][0], r[1][0], r[2][0]};
    out.v2 = RdHostVector{r[0][1], r[1][1], r[2][1]};
    out.v3 = RdHostVector{r[0][2], r[1][2], r[2][2]};
    return out;
}

RdHostMatrix composeMatrix(const RdHostVector& position, const RdHostVector& rotation,
                           const RdHostVector& scale, int32_t order) {
    RdHostMatrix m = rotationMatrix(rotation, order);
    m.off = position;
    m.v1 = RdHostVector{m.v1.x * scale.x, m.v1.y * scale.x, m.v1.z * scale.x};
    m.v2 = RdHostVector{m.v2.x * scale.y, m.v2.y * scale.y, m.v2.z * scale.y};
    m.v3 = RdHostVector{m.v3.x * scale.z, m.v3.y * scale.z, m.v3.z * scale.z};
    return m;
}

double SimTrack::valueAt(double t) const {
    const std::vector<SimKey>& k = curve.keys;
    if (!hasCurve || k.empty()) {
        return 0.0;
    }
    if (t <= timeSeconds(k.front().time)) {
        return k.front().value;
    }
    if (t >= timeSeconds(k.back().time)) {
        return k.back().value;
    }
    // First key after t (keys are ascending); t lies in [previous, this).
    const size_t i = static_cast<size_t>(
        std::upper_bound(k.begin() + 1, k.end(), t,
                         [](double at, const SimKey& key) { return at < timeSeconds(key.time); }) -
        k.begin());
    const SimKey& a = k[i - 1];
    const SimKey& b = k[i];
    if (interpolation == Interpolation::Step) {
        return a.value;
    }
    const double ta = timeSeconds(a.time), tb = timeSeconds(b.time);
    if (tb <= ta) {
        return b.value;
    }
    return a.value + (b.value - a.value) * (t - ta) / (tb - ta);
}

const SimTag* SimObject::findTag(int32_t tagType) const {
    for (const auto& t : tags) {
        if (t->type == tagType) {
            return t.get();
        }
    }
    return nullptr;
}

std::vector<float> SimObject::phongNormals() const {
    const SimTag* phong = findTag(5612);
    if (phong == nullptr) {
        return {};
    }
    if (phong->hasNormals) {
        return phong->normals;
    }
    std::vector<RdHostVector> acc(points.size(), RdHostVector{0, 0, 0});
    auto corner = [&](const RdHostPolygon& p, int k) {
        const int32_t idx[4] = {p.a, p.b, p.c, p.d};
        return idx[k];
    };
    // Loading rejects bad indices, but tests edit documents afterwards: skip what names no point.
    auto valid = [&](const RdHostPolygon& p) {
        for (int k = 0; k < 4; ++k) {
            if (corner(p, k) < 0 || static_cast<size_t>(corner(p, k)) >= points.size()) {
                return false;
            }
        }
        return true;
    };
    for (const RdHostPolygon& p : polygons) {
        if (!valid(p)) {
            continue;
        }
        // Newell's method: robust for quads that are not quite planar.
        RdHostVector n{0, 0, 0};
        const int corners = p.c == p.d ? 3 : 4;
        for (int k = 0; k < corners; ++k) {
            const RdHostVector& u = points[corner(p, k)];
            const RdHostVector& w = points[corner(p, (k + 1) % corners)];
            n.x += (u.y - w.y) * (u.z + w.z);
            n.y += (u.z - w.z) * (u.x + w.x);
            n.z += (u.x - w.x) * (u.y + w.y);
        }
        for (int k = 0; k < corners; ++k) {
            RdHostVector& s = acc[corner(p, k)];
            s.x += n.x;
            s.y += n.y;
            s.z += n.z;
        }
    }
    std::vector<float> out;
    out.reserve(polygons.size() * 12);
    for (const RdHostPolygon& p : polygons) {
        for (int k = 0; k < 4; ++k) {
            RdHostVector n = valid(p) ? acc[corner(p, k)] : RdHostVector{0, 0, 0};
            const double len = std::sqrt(n.x * n.x + n.y * n.y + n.z * n.z);
            if (len > 0.0) {
                n = RdHostVector{n.x / len, n.y / len, n.z / len};
            }
            out.push_back(static_cast<float>(n.x));
            out.push_back(static_cast<float>(n.y));
            out.push_back(static_cast<float>(n.z));
        }
    }
    return out;
}

void SimObject::updateMatrix() {
    if (!explicitMatrix) {
        matrix = composeMatrix(position, rotation, scale, rotationOrder);
    }
}

SimNode* SimDocument::find(const std::string& id) const {
    auto it = links.find(id);
    return it == links.end() ? nullptr : it->second;
}

std::vector<SimObject*> SimDocument::allObjects() const {
    std::vector<SimObject*> out;
    for (const auto& o : objects) {
        collect(o.get(), out);
    }
    return out;
}

std::vector<SimNode*> SimDocument::selection() const {
    std::vector<SimNode*> out;
    for (SimObject* o : allObjects()) {
        if (o->selected) {
            out.push_back(o);
        }
        for (const auto& t : o->tags) {
            if (t->selected) {
                out.push_back(t.get());
            }
        }
    }
    return out;
}

void SimDocument::evaluate() {
    const double t = timeSeconds(time);
    for (SimObject* o : allObjects()) {
        for (const auto& tr : o->tracks) {
            if (tr->depth != 2 || !tr->hasCurve || tr->curve.keys.empty()) {
                continue;
            }
            RdHostVector* target = nullptr;
            switch (tr->descId[0]) {
                case 903:
                    target = &o->position;
                    break;
                case 904:
                    target = &o->rotation;
                    break;
                case 905:
                    target = &o->scale;
                    break;
                default:
                    break;
            }
            if (target == nullptr) {
                continue;
            }
            const double v = tr->valueAt(t);
            switch (tr->descId[1]) {
                case 1000:
                    target->x = v;
                    break;
                case 1001:
                    target->y = v;
                    break;
                case 1002:
                    target->z = v;
                    break;
                default:
                    break;
            }
        }
        o->updateMatrix();
    }
}

std::unique_ptr<SimDocument> loadDocumentText(const std::string& text, const std::string& fileName,
                                              const std::string& folder, std::string& error,
                                              const std::string& errorName) {
    const std::string name =
        errorName.empty() ? (fileName.empty() ? "document" : fileName) : errorName;
    json root;
    try {
        root = json::parse(text, nullptr, /*allow_exceptions=*/true, /*ignore_comments=*/true);
    } catch (const json::parse_error& e) {
        error = name + ": not JSON: " + e.what();
        return nullptr;
    }
    auto doc = std::make_unique<SimDocument>();
    doc->fileName = fileName;
    doc->folder = folder;
    try {
        Loader(*doc).load(root);
    } catch (const LoadError& e) {
        error = name + ": " + e.path + ": " + e.what();
        return nullptr;
    } catch (const std::exception& e) {
        error = name + ": " + e.what();
        return nullptr;
    }
    doc->evaluate();
    return doc;
}

std::unique_ptr<SimDocument> loadDocumentFile(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open the document file";
        return nullptr;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        error = path + ": cannot read the document file";
        return nullptr;
    }
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(std::filesystem::path(path), ec);
    if (ec) {
        full = std::filesystem::path(path);
    }
    full = full.lexically_normal();
    const std::string fileName = full.filename().string();
    const std::string folder = full.parent_path().string();
    return loadDocumentText(text.str(), fileName, folder, error, path);
}

}  // namespace raydeck::hostsim
