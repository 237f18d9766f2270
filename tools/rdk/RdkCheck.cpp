// RdkCheck: follows the stream's blocks; a geometry or animation block keeps the first of each
// array it needs as counts and marks, and is checked when it closes against the rules its
// renderer-side reader relies on.
#include "tools/rdk/RdkCheck.h"

#include <algorithm>
#include <cmath>

#include "trvSceneFormat.h"

namespace rdk {

namespace kw = trvFormat::keyword;
namespace {

std::string quote(const std::string& name) {
    return "\"" + name + "\"";
}

// What marks a shader as a light's, whatever its type is called: the light shaders' type ending
// and the attribute only they carry.
constexpr std::string_view kLightTypeEnding = "_light";
constexpr std::string_view kLightOnlyAttribute = "lumen";

bool endsWith(const std::string& text, std::string_view ending) {
    return text.size() >= ending.size() &&
           text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

const char* const kKeptArrays[] = {
    "vertices",     "p",         "triangles", "normals",  "triangles_norm", "uv_tex",
    "triangles_uv", "nvertices", "pr",        "curve_uv", "matrices",       "timestamps"};

class Checker : public SceneEvents {
  public:
    explicit Checker(CheckResult& result) : result_(result) {}

    bool wantsNumbers() const override { return true; }

    void headerLine(uint64_t offset, const std::string& text) override {
        if (!headerSeen_) {
            headerSeen_ = true;
            headerOk_ = offset == 0 && text == kSceneHeader;
        }
    }

    void blockStart(const BlockStart& b) override {
        if (blocks_.empty()) {
            topLevel(b.offset, true);
        }
        Block block;
        block.offset = b.offset;
        if (!b.captured && b.name == kw::geometry) {
            block.kind = Block::geometry;
            block.type = b.args.empty() ? std::string() : b.args[0];
        } else if (!b.captured && b.name == kw::animation) {
            block.kind = Block::animation;
        } else if (b.name == kw::shader) {
            // Captured: the type is its only text; defined: the name, then the type.
            block.kind = Block::shader;
            const size_t typeAt = b.captured ? 0 : 1;
            block.type = typeAt < b.args.size() ? b.args[typeAt] : std::string();
        }
        blocks_.push_back(std::move(block));
    }

    void blockEnd(uint64_t) override {
        Block block = std::move(blocks_.back());
        blocks_.pop_back();
        if (block.kind == Block::geometry) {
            if (block.type == "triangles") {
                triangles(block);
            } else if (block.type == "trv_bezier_curves") {
                curves(block);
            }
        } else if (block.kind == Block::animation) {
            animation(block);
        } else if (block.kind == Block::shader) {
            shader(block);
        }
    }

    void attribute(const Attribute& a) override {
        if (blocks_.empty()) {
            if (topLevel(a.offset, false) && a.name == kw::version) {
                versionSearch_ = false;
                if (!a.value.isNumbers() || a.value.numberCount != 1) {
                    add(a.offset, "version line without a single number");
                }
            }
        } else if (blocks_.back().kind == Block::shader) {
            blocks_.back().emits = blocks_.back().emits || a.name == kLightOnlyAttribute;
        } else if (blocks_.back().kind != Block::other) {
            keep(blocks_.back(), a);
        }
        if (a.name == "transform" || a.name == "set transform") {
            transform(a);
        }
    }

    int64_t indexLimit(const std::string& name) override {
        if (blocks_.empty() || blocks_.back().kind != Block::geometry ||
            blocks_.back().type != "triangles") {
            return -1;
        }
        const Block& g = blocks_.back();
        if (name == "triangles") {
            const Attribute* v = g.find("vertices");
            return v != nullptr ? tripleCount(*v) : g.find("p") ? tripleCount(*g.find("p")) : -1;
        }
        if (name == "triangles_norm") {
            const Attribute* n = g.find("normals");
            return n != nullptr ? tripleCount(*n) : -1;
        }
        if (name == "triangles_uv") {
            const Attribute* uv = g.find("uv_tex");
            return uv != nullptr && uv->value.isArray() ? uv->value.array.components / 2 : -1;
        }
        return -1;
    }

    void end(uint64_t size) override {
        if (!headerOk_) {
            add(0, std::string("the file does not start with the header line ") + kSceneHeader);
        }
        if (versionSearch_) {
            add(firstNode_ ? firstNodeOffset_ : size, "no version line before the first block");
        }
    }

  private:
    struct Block {
        enum Kind { other, geometry, animation, shader };
        Kind kind = other;
        uint64_t offset = 0;
        std::string type;
        bool emits = false;             // shader: it carries the light shaders' own attribute
        std::vector<Attribute> arrays;  // the first of each name in kKeptArrays

        const Attribute* find(const std::string& name) const {
            for (const Attribute& a : arrays) {
                if (a.name == name) {
                    return &a;
                }
            }
            return nullptr;
        }
    };

    // A top-level statement at `offset`: the version search ends at the first block. True while
    // the search goes on.
    bool topLevel(uint64_t offset, bool block) {
        if (!firstNode_) {
            firstNode_ = true;
            firstNodeOffset_ = offset;
        }
        if (block && versionSearch_) {
            versionSearch_ = false;
            add(firstNodeOffset_, "no version line before the first block");
            return false;
        }
        return versionSearch_;
    }

    static void keep(Block& block, const Attribute& a) {
        for (const char* name : kKeptArrays) {
            if (a.name == name) {
                if (block.find(a.name) == nullptr) {
                    block.arrays.push_back(a);
                }
                return;
            }
        }
    }

    // The triples of an array that holds them whole, else -1.
    static int64_t tripleCount(const Attribute& a) {
        const ArrayInfo& v = a.value.array;
        if (!a.value.isArray() || (v.packed && (v.kind != 'c' || v.components % 3 != 0)) ||
            (!v.packed && v.elements > 0 && v.width != 3) || v.nonFinite.found) {
            return -1;
        }
        return static_cast<int64_t>(v.components / 3);
    }

    void add(uint64_t offset, std::string message) {
        ++result_.total;
        if (result_.faults.size() < kKeptFaults) {
            result_.faults.push_back({offset, std::move(message)});
        }
    }

    void transform(const Attribute& a) {
        const StreamValue& v = a.value;
        if (!v.isNumbers() || v.numberCount != 16) {
            add(a.offset, a.name + " needs 16 numbers, has " +
                              std::to_string(v.isNumbers() ? v.numberCount : 0));
            return;
        }
        for (double x : v.numbers) {
            if (!std::isfinite(x)) {
                add(v.offset, a.name + " holds a number that is not finite");
                return;
            }
        }
    }

    bool arrayOfKind(const Attribute& attr, char want, const std::string& wanted) {
        const StreamValue& v = attr.value;
        if (!v.isArray()) {
            add(attr.offset, quote(attr.name) + " is not an array");
            return false;
        }
        if (v.array.packed && v.array.kind != want) {
            add(v.offset, quote(attr.name) + " is a packed block of kind '" +
                              std::string(1, v.array.kind) + "', not " + wanted);
            return false;
        }
        return true;
    }

    long long triples(const Attribute& attr, bool finite) {
        const ArrayInfo& v = attr.value.array;
        const std::string name = quote(attr.name);
        if (!arrayOfKind(attr, 'c', "float triples")) {
            return -1;
        }
        if (v.packed) {
            if (v.components % 3 != 0) {
                add(attr.value.offset, name + " holds " + std::to_string(v.components) +
                                           " floats, not a multiple of 3");
                return -1;
            }
        } else if (v.elements > 0 && v.width != 3) {
            add(attr.value.offset, name + " is not an array of number triples");
            return -1;
        }
        if (finite && !allFinite(attr)) {
            return -1;
        }
        return static_cast<long long>(v.components / 3);
    }

    bool allFinite(const Attribute& attr) {
        const ArrayInfo& v = attr.value.array;
        if (!v.nonFinite.found) {
            return true;
        }
        add(v.nonFinite.offset,
            quote(attr.name) + " element " +
                std::to_string(v.nonFinite.index / std::max<uint32_t>(1, v.width)) +
                " is not finite");
        return false;
    }

    long long singles(const Attribute& attr, bool integers) {
        const StreamValue& value = attr.value;
        const ArrayInfo& v = value.array;
        const std::string name = quote(attr.name);
        const char want = integers ? 'i' : 'f';
        if (!arrayOfKind(attr, want, "'" + std::string(1, want) + "'")) {
            return -1;
        }
        if (v.packed) {
            return static_cast<long long>(v.components);
        }
        if (v.elements > 0 && v.width != 1) {
            add(value.offset, name + " is not an array of single numbers");
            return -1;
        }
        if (integers && v.nonInteger.found) {
            add(v.nonInteger.offset,
                name + " element " + std::to_string(v.nonInteger.index) + " is not an integer");
            return -1;
        }
        return static_cast<long long>(v.components);
    }

    // Every index below `limit`. The stream measured the array against its limit when the data
    // came first, as every export writes it; otherwise the first negative index or the first
    // place of the largest stands for the fault.
    void indices(const Attribute& attr, long long limit, const std::string& what) {
        const ArrayInfo& v = attr.value.array;
        ArrayMark bad;
        if (v.limit == limit) {
            bad = v.outside;
        } else {
            if (v.negative.found) {
                bad = v.negative;
            }
            if (v.maximum.found && v.maximum.value >= static_cast<double>(limit) &&
                (!bad.found || v.maximum.index < bad.index)) {
                bad = v.maximum;
            }
        }
        if (!bad.found) {
            return;
        }
        add(bad.offset, quote(attr.name) + " index " +
                            std::to_string(static_cast<long long>(bad.value)) + " at element " +
                            std::to_string(bad.index) + " is outside " + what + " (" +
                            std::to_string(limit) + " entries)");
    }

    void pairedIndices(const Block& geometry, const char* dataName, const char* indexName,
                       long long dataCount, long long vertexCount, long long triangleIndices,
                       const std::string& what) {
        const Attribute* data = geometry.find(dataName);
        const Attribute* index = geometry.find(indexName);
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

    void triangles(const Block& node) {
        const Attribute* vertices = node.find("vertices");
        if (vertices == nullptr) {
            vertices = node.find("p");
        }
        const Attribute* tris = node.find("triangles");
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
        if (const Attribute* n = node.find("normals")) {
            normals = triples(*n, true);
        }
        pairedIndices(node, "normals", "triangles_norm", normals, points, corners, "\"normals\"");
        long long uvs = -1;
        if (const Attribute* uv = node.find("uv_tex")) {
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

    void curves(const Block& node) {
        const Attribute* p = node.find("p");
        const Attribute* counts = node.find("nvertices");
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
        const ArrayInfo& c = counts->value.array;
        if (c.negative.found) {
            add(c.negative.offset,
                "\"nvertices\" element " + std::to_string(c.negative.index) + " is negative");
            return;
        }
        const long long sum = c.sum < 9.2e18 ? static_cast<long long>(c.sum) : -1;
        if (sum != points) {
            add(counts->offset, "\"nvertices\" adds up to " + std::to_string(sum) +
                                    " points, \"p\" holds " + std::to_string(points));
        }
        if (const Attribute* pr = node.find("pr")) {
            long long radii = singles(*pr, false);
            if (radii >= 0 && radii != points) {
                add(pr->offset, "\"pr\" holds " + std::to_string(radii) + " radii for " +
                                    std::to_string(points) + " points");
            }
        }
        if (const Attribute* uv = node.find("curve_uv")) {
            long long floats = singles(*uv, false);
            if (floats >= 0 && floats != 2 * curves) {
                add(uv->offset, "\"curve_uv\" holds " + std::to_string(floats) + " floats for " +
                                    std::to_string(curves) + " curves");
            }
        }
    }

    // A light shader that the summary and the preview do not know would go uncounted and be drawn
    // as a surface: name it.
    void shader(const Block& node) {
        if (trvFormat::isLightShader(node.type) ||
            !(node.emits || endsWith(node.type, kLightTypeEnding))) {
            return;
        }
        std::string known;
        for (std::string_view type : trvFormat::kLightShaders) {
            known += (known.empty() ? "" : ", ") + quote(std::string(type));
        }
        add(node.offset,
            "light shader " + quote(node.type) + " is not one this reader knows (" + known + ")");
    }

    void animation(const Block& node) {
        const Attribute* matrices = node.find("matrices");
        const Attribute* stamps = node.find("timestamps");
        if (matrices == nullptr || stamps == nullptr) {
            return;  // other animation types carry other data
        }
        const StreamValue& m = matrices->value;
        if (m.array.packed ? m.array.kind != 'r' || m.array.components % 16 != 0
                           : !m.isArray() || (m.array.elements > 0 && m.array.width != 16)) {
            add(matrices->offset, "\"matrices\" is not an array of 16-number matrices");
            return;
        }
        const uint64_t count = m.array.components / 16;
        if (!allFinite(*matrices)) {
            return;
        }
        long long n = singles(*stamps, true);
        if (n >= 0 && static_cast<uint64_t>(n) != count) {
            add(stamps->offset, "\"timestamps\" has " + std::to_string(n) + " entries, " +
                                    "\"matrices\" has " + std::to_string(count));
        }
    }

    CheckResult& result_;
    std::vector<Block> blocks_;
    bool headerSeen_ = false;
    bool headerOk_ = false;
    bool versionSearch_ = true;
    bool firstNode_ = false;
    uint64_t firstNodeOffset_ = 0;
};

}  // namespace

CheckResult checkScene(ByteSource& source) {
    CheckResult result;
    Checker checker(result);
    ReadError error;
    if (!streamScene(source, checker, error)) {
        // A file that does not read is a structural fault at the place where reading stopped.
        result.faults.assign(1, Fault{error.offset, error.message});
        result.total = 1;
        return result;
    }
    std::stable_sort(result.faults.begin(), result.faults.end(),
                     [](const Fault& a, const Fault& b) { return a.offset < b.offset; });
    return result;
}

}  // namespace rdk
