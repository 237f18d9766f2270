// RdkCheck: walks the tree once; each geometry and animation block is checked against the
// rules its renderer-side reader relies on.
#include "tools/rdk/RdkCheck.h"

#include <algorithm>
#include <cmath>

namespace rdk {
namespace {

std::string quote(const std::string& name) {
    return "\"" + name + "\"";
}

class Checker {
  public:
    explicit Checker(std::vector<Fault>& faults) : faults_(faults) {}

    void header(const Scene& scene) {
        if (scene.header.empty() || scene.header[0].offset != 0 ||
            scene.header[0].text != kSceneHeader) {
            add(0, std::string("the file does not start with the header line ") + kSceneHeader);
        }
        bool version = false;
        for (const Node& node : scene.nodes) {
            if (!node.isBlock() && node.name == "version") {
                version = true;
                if (!node.value.isNumbers() || node.value.numbers.size() != 1) {
                    add(node.offset, "version line without a single number");
                }
                break;
            }
            if (node.isBlock()) {
                break;
            }
        }
        if (!version) {
            add(scene.nodes.empty() ? scene.size : scene.nodes[0].offset,
                "no version line before the first block");
        }
    }

    void walk(const std::vector<Node>& nodes) {
        for (const Node& node : nodes) {
            if (node.isBlock()) {
                if (node.name == "geometry") {
                    geometry(node);
                } else if (node.name == "animation") {
                    animation(node);
                }
                walk(node.children);
            } else {
                if (node.name == "transform" || node.name == "set transform") {
                    transform(node);
                }
                value(node.value);
            }
        }
    }

  private:
    void add(uint64_t offset, std::string message) {
        faults_.push_back({offset, std::move(message)});
    }

    void value(const Value& v) {
        if (v.kind == Value::Kind::shader && v.shader) {
            walk(v.shader->children);
        }
        for (const Value& item : v.items) {
            value(item);
        }
    }

    void transform(const Node& node) {
        const Value& v = node.value;
        if (!v.isNumbers() || v.numbers.size() != 16) {
            add(node.offset, node.name + " needs 16 numbers, has " +
                                 std::to_string(v.isNumbers() ? v.numbers.size() : 0));
            return;
        }
        for (double x : v.numbers) {
            if (!std::isfinite(x)) {
                add(v.offset, node.name + " holds a number that is not finite");
                return;
            }
        }
    }

    // False, after the fault, when the attribute holds no array, or a packed block of another kind
    // than `want` (`wanted` in words).
    bool arrayOfKind(const Node& attr, char want, const std::string& wanted) {
        const Value& v = attr.value;
        if (!v.isArray()) {
            add(attr.offset, quote(attr.name) + " is not an array");
            return false;
        }
        if (v.kind == Value::Kind::packed && v.packed.kind != want) {
            add(v.offset, quote(attr.name) + " is a packed block of kind '" +
                              std::string(1, v.packed.kind) + "', not " + wanted);
            return false;
        }
        return true;
    }

    // An array of float triples: a 'c' block, or a text array of three numbers per element.
    // Returns the number of triples, or -1 after a fault.
    long long triples(const Node& attr, bool finite) {
        const Value& v = attr.value;
        const std::string name = quote(attr.name);
        if (!arrayOfKind(attr, 'c', "float triples")) {
            return -1;
        }
        if (v.kind == Value::Kind::packed) {
            if (v.packed.count % 3 != 0) {
                add(attr.value.offset, name + " holds " + std::to_string(v.packed.count) +
                                           " floats, not a multiple of 3");
                return -1;
            }
        } else if (v.elementCount() > 0 && v.width() != 3) {
            add(attr.value.offset, name + " is not an array of number triples");
            return -1;
        }
        if (finite && !allFinite(attr)) {
            return -1;
        }
        return static_cast<long long>(v.componentCount() / 3);
    }

    bool allFinite(const Node& attr) {
        const Value& v = attr.value;
        const size_t n = v.componentCount();
        if (v.kind == Value::Kind::packed && v.packed.kind != 'r' && v.packed.kind != 'i') {
            // Packed floats straight from the file's bytes: the big arrays of a mesh.
            size_t bad = n;
            for (size_t i = 0; i < n; ++i) {
                if (!std::isfinite(v.packed.f(i))) {
                    bad = i;
                    break;
                }
            }
            if (bad == n) {
                return true;
            }
        }
        for (size_t i = 0; i < n; ++i) {
            if (!std::isfinite(v.component(i))) {
                add(v.componentOffset(i), quote(attr.name) + " element " +
                                              std::to_string(i / std::max<size_t>(1, v.width())) +
                                              " is not finite");
                return false;
            }
        }
        return true;
    }

    // An array of single numbers (floats or integers); the count, or -1 after a fault.
    long long singles(const Node& attr, bool integers) {
        const Value& v = attr.value;
        const std::string name = quote(attr.name);
        const char want = integers ? 'i' : 'f';
        if (!arrayOfKind(attr, want, "'" + std::string(1, want) + "'")) {
            return -1;
        }
        if (v.kind == Value::Kind::packed) {
            return v.packed.count;
        }
        if (v.elementCount() > 0 && v.width() != 1) {
            add(v.offset, name + " is not an array of single numbers");
            return -1;
        }
        if (integers) {
            for (size_t i = 0; i < v.numbers.size(); ++i) {
                double x = v.numbers[i];
                if (x != std::floor(x) || std::fabs(x) > 2147483647.0) {
                    add(v.componentOffset(i),
                        name + " element " + std::to_string(i) + " is not an integer");
                    return -1;
                }
            }
        }
        return static_cast<long long>(v.numbers.size());
    }

    // Every index below `limit`; `what` names the array the indices point into.
    void indices(const Node& attr, long long limit, const std::string& what) {
        const Value& v = attr.value;
        const size_t n = v.componentCount();
        if (v.kind == Value::Kind::packed && v.packed.kind == 'i') {
            size_t i = 0;
            for (; i < n; ++i) {
                const int32_t x = v.packed.i(i);
                if (x < 0 || x >= limit) {
                    break;
                }
            }
            if (i == n) {
                return;
            }
        }
        for (size_t i = 0; i < n; ++i) {
            double x = v.component(i);
            if (x < 0 || x >= static_cast<double>(limit)) {
                add(v.componentOffset(i), quote(attr.name) + " index " +
                                              std::to_string(static_cast<long long>(x)) +
                                              " at element " + std::to_string(i) + " is outside " +
                                              what + " (" + std::to_string(limit) + " entries)");
                return;
            }
        }
    }

    void pairedIndices(const Node& geometry, const char* dataName, const char* indexName,
                       long long dataCount, long long vertexCount, long long triangleIndices,
                       const std::string& what) {
        const Node* data = geometry.attribute(dataName);
        const Node* index = geometry.attribute(indexName);
        if (index != nullptr && data == nullptr) {
            add(index->offset, quote(indexName) + " without " + quote(dataName));
            return;
        }
        if (dataCount < 0) {
            return;
        }
        if (index == nullptr) {
            // Without an index array the data is per vertex, like the light proxies' normals.
            if (data != nullptr && vertexCount >= 0 && dataCount != vertexCount) {
                add(data->offset, quote(dataName) + " without " + quote(indexName) + " has " +
                                      std::to_string(dataCount) + " entries for " +
                                      std::to_string(vertexCount) + " vertices");
            }
            return;
        }
        long long n = singles(*index, true);
        if (n < 0) {
            return;
        }
        if (triangleIndices >= 0 && n != triangleIndices) {
            add(index->offset, quote(indexName) + " has " + std::to_string(n) +
                                   " indices, \"triangles\" has " +
                                   std::to_string(triangleIndices));
            return;
        }
        indices(*index, dataCount, what);
    }

    void geometry(const Node& node) {
        const std::string type = node.arg(0);
        if (type == "triangles") {
            triangles(node);
        } else if (type == "trv_bezier_curves") {
            curves(node);
        }
    }

    void triangles(const Node& node) {
        const Node* vertices = node.attribute("vertices");
        if (vertices == nullptr) {
            vertices = node.attribute("p");
        }
        const Node* tris = node.attribute("triangles");
        if (vertices == nullptr) {
            add(node.offset, "triangles geometry without \"vertices\"");
            return;
        }
        if (tris == nullptr) {
            add(node.offset, "triangles geometry without \"triangles\"");
            return;
        }
        long long points = triples(*vertices, true);
        long long corners = singles(*tris, true);
        if (corners >= 0 && corners % 3 != 0) {
            add(tris->offset,
                "\"triangles\" holds " + std::to_string(corners) + " indices, not a multiple of 3");
        } else if (corners >= 0 && points >= 0) {
            indices(*tris, points, quote(vertices->name));
        }
        long long normals = -1;
        if (const Node* n = node.attribute("normals")) {
            normals = triples(*n, true);
        }
        pairedIndices(node, "normals", "triangles_norm", normals, points, corners, "\"normals\"");
        long long uvs = -1;
        if (const Node* uv = node.attribute("uv_tex")) {
            long long floats = singles(*uv, false);
            if (floats >= 0 && floats % 2 != 0) {
                add(uv->offset,
                    "\"uv_tex\" holds " + std::to_string(floats) + " floats, not u, v pairs");
            } else if (floats >= 0) {
                uvs = floats / 2;
            }
        }
        pairedIndices(node, "uv_tex", "triangles_uv", uvs, points, corners, "\"uv_tex\" pairs");
    }

    void curves(const Node& node) {
        const Node* p = node.attribute("p");
        const Node* counts = node.attribute("nvertices");
        if (p == nullptr || counts == nullptr) {
            add(node.offset, std::string("curves geometry without ") +
                                 (p == nullptr ? "\"p\"" : "\"nvertices\""));
            return;
        }
        long long points = triples(*p, true);
        long long curves = singles(*counts, true);
        if (points < 0 || curves < 0) {
            return;
        }
        long long sum = 0;
        for (long long i = 0; i < curves; ++i) {
            double n = counts->value.component(static_cast<size_t>(i));
            if (n < 0) {
                add(counts->value.componentOffset(static_cast<size_t>(i)),
                    "\"nvertices\" element " + std::to_string(i) + " is negative");
                return;
            }
            sum += static_cast<long long>(n);
        }
        if (sum != points) {
            add(counts->offset, "\"nvertices\" adds up to " + std::to_string(sum) +
                                    " points, \"p\" holds " + std::to_string(points));
        }
        if (const Node* pr = node.attribute("pr")) {
            long long radii = singles(*pr, false);
            if (radii >= 0 && radii != points) {
                add(pr->offset, "\"pr\" holds " + std::to_string(radii) + " radii for " +
                                    std::to_string(points) + " points");
            }
        }
        if (const Node* uv = node.attribute("curve_uv")) {
            long long floats = singles(*uv, false);
            if (floats >= 0 && floats != 2 * curves) {
                add(uv->offset, "\"curve_uv\" holds " + std::to_string(floats) + " floats for " +
                                    std::to_string(curves) + " curves");
            }
        }
    }

    void animation(const Node& node) {
        const Node* matrices = node.attribute("matrices");
        const Node* stamps = node.attribute("timestamps");
        if (matrices == nullptr || stamps == nullptr) {
            return;  // other animation types carry other data
        }
        const Value& m = matrices->value;
        size_t count = 0;
        if (m.kind == Value::Kind::packed
                ? m.packed.kind != 'r' || m.packed.count % 16 != 0
                : !m.isArray() || (m.elementCount() > 0 && m.width() != 16)) {
            add(matrices->offset, "\"matrices\" is not an array of 16-number matrices");
            return;
        }
        count = m.componentCount() / 16;
        if (!allFinite(*matrices)) {
            return;
        }
        long long n = singles(*stamps, true);
        if (n >= 0 && static_cast<size_t>(n) != count) {
            add(stamps->offset, "\"timestamps\" has " + std::to_string(n) + " entries, " +
                                    "\"matrices\" has " + std::to_string(count));
        }
    }

    std::vector<Fault>& faults_;
};

}  // namespace

std::vector<Fault> checkScene(const Scene& scene) {
    std::vector<Fault> faults;
    Checker checker(faults);
    checker.header(scene);
    checker.walk(scene.nodes);
    std::stable_sort(faults.begin(), faults.end(),
                     [](const Fault& a, const Fault& b) { return a.offset < b.offset; });
    return faults;
}

}  // namespace rdk
