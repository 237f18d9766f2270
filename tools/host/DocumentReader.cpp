// Reading host document files: one streaming pass of JSON events (RapidJSON's reader, numbers
// converted here as the C library would) straight into the document's arrays. An explicit stack of
// frames keeps the place in the file, so that nesting costs no call stack; the JSON path of a value
// is built from it only when an error is reported.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <unordered_map>

#include "platform/file.h"
#include "platform/utf.h"
#include "plugins/c4d/host/HostNumbers.h"
#include "plugins/c4d/host/RotationOrder.h"
#include "rapidjson/error/en.h"
#include "rapidjson/reader.h"
#include "tools/host/SimDocument.h"

namespace raydeck::hostsim {

namespace {

using nlohmann::json;

// Each object level takes two JSON levels (the object and its "children" array); a node's own
// members add a few more.
constexpr size_t kMaxJsonDepth = 2 * static_cast<size_t>(kMaxObjectDepth) + 64;

const char* const kValueKinds =
    "expected a number, [x, y, z], a string, {\"link\": id} or {\"gradient\": [...]}";
const char* const kTimeKinds = "expected seconds or {\"num\": n, \"den\": d}";
const char* const kPolygonRecord = "expected [a, b, c, d] (or [a, b, c] for a triangle)";
const char* const kUvwRecord = "expected four corners [[u, v, w], ...]";
const char* const kRangeRecord = "expected an inclusive range [first, last]";
const char* const kNormalRecord = "expected 12 numbers (four corner normals)";
const char* const kTrackId = "expected [parameter] or [parameter, component]";
const char* const kObjectId = "expected an unsigned 64-bit object id";
const char* const kLinkId = "expected an id (a string or a non-negative integer)";

void appendKey(std::string& path, const std::string& key) {
    path += '/';
    for (char c : key) {
        if (c == '~') {
            path += "~0";
        } else if (c == '/') {
            path += "~1";
        } else {
            path += c;
        }
    }
}

// One scalar event of the reader.
struct Scalar {
    enum class Kind { Null, Bool, Int, Uint, Float, String };
    Kind kind = Kind::Null;
    bool b = false;
    int64_t i = 0;
    uint64_t u = 0;
    double d = 0.0;
    const std::string* s = nullptr;

    bool isNumber() const { return kind == Kind::Int || kind == Kind::Uint || kind == Kind::Float; }
    double asDouble() const {
        switch (kind) {
            case Kind::Int:
                return static_cast<double>(i);
            case Kind::Uint:
                return static_cast<double>(u);
            default:
                return d;
        }
    }
    json toJson() const {
        switch (kind) {
            case Kind::Bool:
                return json(b);
            case Kind::Int:
                return json(i);
            case Kind::Uint:
                return json(u);
            case Kind::Float:
                return json(d);
            case Kind::String:
                return json(*s);
            default:
                return json(nullptr);
        }
    }
};

// What a reader sees where a container stands instead of a plain value: a value of no kind, which
// every reader refuses with its own message.
const Scalar kNoValue{};

// A JSON number's text as the kind and value it stands for: a non-negative integer, a negative
// one, else (a fraction, an exponent, an integer beyond 64 bits) the nearest double. False when
// it is beyond every double.
bool parseNumber(const char* b, const char* e, Scalar& out) {
    bool integral = true;
    for (const char* p = b; p != e; ++p) {
        if (*p == '.' || *p == 'e' || *p == 'E') {
            integral = false;
            break;
        }
    }
    if (integral) {
        if (*b == '-') {
            auto r = std::from_chars(b, e, out.i);
            if (r.ec == std::errc() && r.ptr == e) {
                out.kind = Scalar::Kind::Int;
                return true;
            }
        } else {
            auto r = std::from_chars(b, e, out.u);
            if (r.ec == std::errc() && r.ptr == e) {
                out.kind = Scalar::Kind::Uint;
                return true;
            }
        }
    }
    out.kind = Scalar::Kind::Float;
    auto r = std::from_chars(b, e, out.d);
    if (r.ec == std::errc() && r.ptr == e) {
        return true;
    }
    // Out of range: strtod tells an underflow (a tiny value, kept as it rounds) from an overflow.
    const std::string text(b, e);
    out.d = std::strtod(text.c_str(), nullptr);
    return std::isfinite(out.d);
}

// Where a node sits in the file, kept for errors found after its frame is gone (unknown links,
// duplicate ids): a chain of steps, one allocation per node.
struct PathNode {
    const PathNode* parent = nullptr;
    std::string step;
};

std::string pathText(const PathNode* p) {
    std::vector<const PathNode*> chain;
    for (; p != nullptr; p = p->parent) {
        chain.push_back(p);
    }
    std::string out;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        out += (*it)->step;
    }
    return out;
}

enum class Ctx : uint8_t {
    Root,
    Skip,
    Services,
    Layers,
    Materials,
    Objects,  // top-level objects and children
    Shaders,
    Tags,
    Tracks,
    Layer,
    Material,
    Shader,
    Object,
    Tag,
    Track,
    Params,
    ParamObject,
    Gradient,
    Knot,
    Vector,
    Time,
    Matrix,
    Channels,
    Points,
    Polygons,
    Polygon,
    Uvw,
    UvwRecord,
    Selection,
    Range,
    Normals,
    NormalRecord,
    TrackId,
    Keys,
    Key,
    Hair,
    Guides,
    Guide,
    GuidePoints,
};

// Frame flags.
constexpr uint16_t kHasType = 1, kHasTime = 2, kHasValue = 4, kHasNum = 8, kHasDen = 16,
                   kHasLink = 32, kHasGradient = 64, kHasColor = 128, kHasId = 256;

// For a member that names nodes a second time in one object.
constexpr const char* kGivenTwice = "given twice: the nodes it names are already read";

struct Frame {
    Ctx ctx = Ctx::Skip;
    bool array = false;
    uint16_t flags = 0;
    uint32_t count = 0;              // elements read into the target
    size_t index = 0;                // arrays: elements completed
    std::string key;                 // objects: the member being read
    void* target = nullptr;          // what the frame fills
    const PathNode* path = nullptr;  // node frames
};

// Links to resolve once every node is known.
struct PendingLink {
    const PathNode* node;
    std::string suffix;
    std::string id;
    SimNode** target;
    bool materialOnly = false;
    bool layerOnly = false;
};

class Reader {
  public:
    // `textBytes`, the document's size, bounds what the reader reserves ahead of the records.
    Reader(SimDocument& doc, size_t textBytes) : doc_(doc), reserveBudget_(4 * textBytes) {
        frames_.reserve(64);
    }

    // ---- JSON events (numbers arrive as their text) ----

    bool Null() { return scalar(Scalar{}); }
    bool Bool(bool v) {
        Scalar s;
        s.kind = Scalar::Kind::Bool;
        s.b = v;
        return scalar(s);
    }
    bool Int(int) { return false; }
    bool Uint(unsigned) { return false; }
    bool Int64(int64_t) { return false; }
    bool Uint64(uint64_t) { return false; }
    bool Double(double) { return false; }
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        Scalar s;
        if (!parseNumber(text, text + length, s)) {
            // Fits no double: the value's fault, at its path.
            failHere("number " + std::string(text, length) + " out of range of a double");
            advance();
            return true;
        }
        return scalar(s);
    }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        text_.assign(text, length);
        Scalar s;
        s.kind = Scalar::Kind::String;
        s.s = &text_;
        return scalar(s);
    }
    bool StartObject() { return open(false); }
    bool StartArray() { return open(true); }
    bool Key(const char* text, rapidjson::SizeType length, bool) {
        frames_.back().key.assign(text, length);
        return true;
    }
    bool EndObject(rapidjson::SizeType) { return close(); }
    bool EndArray(rapidjson::SizeType) { return close(); }

    // The text is not JSON, for `reason`.
    void syntaxError(const std::string& reason) {
        if (syntaxError_.empty()) {
            syntaxError_ = "not JSON: " + reason + " (at " + pathOrRoot(valuePath()) + ")";
        }
    }
    // Refuses the document where it stands and stops reading.
    void refuse(const std::string& what) {
        if (syntaxError_.empty()) {
            syntaxError_ = pathOrRoot(valuePath()) + ": " + what;
        }
        stop_ = true;
    }
    // The pass stopped on its own (a root that is no object, nesting too deep).
    bool stopped() const { return stop_ || rootRefused_; }

    // ---- after the pass ----

    // The error to report, or "" when the document is good; runs the checks that need the
    // whole document.
    std::string finish() {
        if (!syntaxError_.empty()) {
            return syntaxError_;
        }
        if (!sawRoot_) {
            return error_.empty() ? "not JSON: no value" : error_;
        }
        if (!sawFormat_) {
            return "/format: missing; expected \"raydeck-host-document\"";
        }
        if (!formatOk_) {
            return "/format: expected \"raydeck-host-document\"";
        }
        if (!sawVersion_) {
            return "/version: missing; expected 1";
        }
        if (!versionOk_) {
            return "/version: unsupported version " + versionText_ + "; expected 1";
        }
        if (failed_) {
            return error_;
        }
        try {
            resolve();
        } catch (const std::string& e) {
            return e;
        }
        return {};
    }

  private:
    // ---- errors ----

    // A path as messages show it: "/" for the root; the middle of a very deep one left out.
    static std::string pathOrRoot(const std::string& p) {
        constexpr size_t kEnds = 80;
        if (p.empty()) {
            return "/";
        }
        if (p.size() <= 3 * kEnds) {
            return p;
        }
        const size_t head = p.rfind('/', kEnds);
        size_t tail = p.find('/', p.size() - kEnds);
        if (tail == std::string::npos) {
            tail = p.size() - kEnds;  // a long last key
        }
        return p.substr(0, head) + "/..." + p.substr(tail);
    }

    // Records the first fault; the pass goes on without building, for the faults that count
    // before it (bad JSON, a wrong format or version).
    void fail(const std::string& path, const std::string& what) {
        if (!failed_) {
            failed_ = true;
            error_ = pathOrRoot(path) + ": " + what;
        }
    }
    void failHere(const std::string& what) { fail(valuePath(), what); }
    void failFrame(const std::string& what) { fail(framePath(frames_.size() - 1), what); }

    static void appendStep(std::string& out, const Frame& f) {
        if (f.array) {
            out += '/';
            out += std::to_string(f.index);
        } else {
            appendKey(out, f.key);
        }
    }
    // The path of frames_[level].
    std::string framePath(size_t level) const {
        std::string out;
        for (size_t i = 0; i < level; ++i) {
            appendStep(out, frames_[i]);
        }
        return out;
    }
    // The path of the value being read.
    std::string valuePath() const { return framePath(frames_.size()); }

    // ---- scalar reads, with the messages of the format; null where a container stands ----

    bool number(const Scalar* given, double& out) {
        const Scalar& v = given != nullptr ? *given : kNoValue;
        if (v.kind == Scalar::Kind::Bool) {
            out = v.b ? 1.0 : 0.0;
            return true;
        }
        if (!v.isNumber()) {
            failHere("expected a number");
            return false;
        }
        out = v.asDouble();
        return true;
    }
    bool integer(const Scalar* given, int32_t& out) {
        const Scalar& v = given != nullptr ? *given : kNoValue;
        switch (v.kind) {
            case Scalar::Kind::Bool:
                out = v.b ? 1 : 0;
                return true;
            case Scalar::Kind::Int:
            case Scalar::Kind::Uint: {
                const bool fits = v.kind == Scalar::Kind::Int
                                      ? v.i >= std::numeric_limits<int32_t>::min() &&
                                            v.i <= std::numeric_limits<int32_t>::max()
                                      : v.u <= uint64_t(std::numeric_limits<int32_t>::max());
                if (!fits) {
                    failHere("integer out of range");
                    return false;
                }
                out = static_cast<int32_t>(v.kind == Scalar::Kind::Int ? v.i
                                                                       : static_cast<int64_t>(v.u));
                return true;
            }
            case Scalar::Kind::Float:
                if (v.d == std::floor(v.d) && std::fabs(v.d) < 2147483648.0) {
                    out = static_cast<int32_t>(v.d);
                    return true;
                }
                break;
            default:
                break;
        }
        failHere("expected an integer");
        return false;
    }
    bool flag(const Scalar* given, bool& out) {
        const Scalar& v = given != nullptr ? *given : kNoValue;
        if (v.kind == Scalar::Kind::Bool) {
            out = v.b;
            return true;
        }
        if (v.isNumber()) {
            out = v.asDouble() != 0.0;
            return true;
        }
        failHere("expected true or false");
        return false;
    }
    bool text(const Scalar* given, std::string& out) {
        const Scalar& v = given != nullptr ? *given : kNoValue;
        if (v.kind != Scalar::Kind::String) {
            failHere("expected a string");
            return false;
        }
        out = *v.s;
        return true;
    }
    bool idText(const Scalar* given, std::string& out) {
        const Scalar& v = given != nullptr ? *given : kNoValue;
        if (v.kind == Scalar::Kind::String) {
            out = *v.s;
            return true;
        }
        if (v.kind == Scalar::Kind::Uint || (v.kind == Scalar::Kind::Int && v.i >= 0)) {
            out = std::to_string(v.kind == Scalar::Kind::Uint ? v.u : static_cast<uint64_t>(v.i));
            return true;
        }
        failHere(kLinkId);
        return false;
    }
    bool time(const Scalar& v, RdHostTime& out) {
        if (!v.isNumber()) {
            failHere(kTimeKinds);
            return false;
        }
        out = RdHostTime{v.asDouble(), 1.0};
        return true;
    }

    // ---- the frame stack ----

    // The frame that reads a container value: its context, or Skip after a fault.
    Frame& push(Ctx ctx, bool array, void* target = nullptr) {
        frames_.emplace_back();
        Frame& f = frames_.back();
        f.ctx = ctx;
        f.array = array;
        f.target = target;
        return f;
    }

    // A completed value moves its array on to the next index.
    void advance() {
        if (!frames_.empty() && frames_.back().array) {
            ++frames_.back().index;
        }
    }

    // The path chain of a node whose frame is about to be pushed.
    const PathNode* nodePath() {
        size_t k = frames_.size();
        while (k > 0 && frames_[k - 1].path == nullptr) {
            --k;
        }
        PathNode n;
        n.parent = k > 0 ? frames_[k - 1].path : nullptr;
        for (size_t i = k > 0 ? k - 1 : 0; i < frames_.size(); ++i) {
            appendStep(n.step, frames_[i]);
        }
        paths_.push_back(std::move(n));
        return &paths_.back();
    }

    template <typename T>
    T* pushNode(Ctx ctx, std::unique_ptr<T>& slot, NodeKind kind) {
        slot = std::make_unique<T>();
        slot->kind = kind;
        slot->document = &doc_;
        const PathNode* p = nodePath();
        Frame& f = push(ctx, false, slot.get());
        f.path = p;
        return slot.get();
    }
    template <typename T>
    T* pushNode(Ctx ctx, std::vector<std::unique_ptr<T>>& list, NodeKind kind) {
        list.emplace_back();
        return pushNode(ctx, list.back(), kind);
    }

    bool scalar(const Scalar& v) {
        if (frames_.empty()) {
            error_ = "/: expected an object";
            failed_ = rootRefused_ = true;
            return false;
        }
        Frame& f = frames_.back();
        if (f.ctx == Ctx::Root) {
            rootScalar(v);
        } else if (!failed_ && f.ctx != Ctx::Skip) {
            read(f, &v, false);
        }
        advance();
        return true;
    }

    bool open(bool array) {
        if (frames_.empty()) {
            if (array) {
                error_ = "/: expected an object";
                failed_ = rootRefused_ = true;
                return false;
            }
            sawRoot_ = true;
            Frame& root = push(Ctx::Root, false);
            paths_.emplace_back();
            root.path = &paths_.back();
            return true;
        }
        if (frames_.size() >= kMaxJsonDepth) {
            // Refused before the nesting costs more memory.
            refuse("nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
            return false;
        }
        Frame& f = frames_.back();
        if (f.ctx == Ctx::Root && (f.key == "format" || f.key == "version")) {
            rootContainer(f, array);
            push(Ctx::Skip, array);
        } else if (failed_ || f.ctx == Ctx::Skip) {
            push(Ctx::Skip, array);
        } else {
            const bool pushed = read(f, nullptr, array);
            if (stop_) {
                return false;
            }
            if (!pushed) {
                push(Ctx::Skip, array);
            }
        }
        return true;
    }

    bool close() {
        if (!failed_) {
            finishFrame(frames_.size() - 1);
        }
        if (frames_.back().ctx == Ctx::Object) {
            --objectDepth_;
        }
        frames_.pop_back();
        advance();
        return true;
    }

    // ---- the document's root ----

    void rootScalar(const Scalar& v) {
        const std::string& k = frames_.back().key;
        if (k == "format") {
            sawFormat_ = true;
            formatOk_ = v.kind == Scalar::Kind::String && *v.s == "raydeck-host-document";
        } else if (k == "version") {
            sawVersion_ = true;
            versionOk_ = v.isNumber() && v.asDouble() == 1.0;
            versionText_ = v.toJson().dump();
        } else if (!failed_) {
            read(frames_.back(), &v, false);
        }
    }
    void rootContainer(const Frame& f, bool array) {
        if (f.key == "format") {
            sawFormat_ = true;
            formatOk_ = false;
        } else {
            sawVersion_ = true;
            versionOk_ = false;
            versionText_ = array ? "[...]" : "{...}";
        }
    }

    // ---- values: `v` a scalar, or null for a container (array or object) ----

    // Reads a value in the frame `f`; for a container pushes its frame and answers true, or
    // answers false when the caller is to skip it.
    bool read(Frame& f, const Scalar* v, bool array) {
        switch (f.ctx) {
            case Ctx::Root:
                return rootMember(f, v, array);
            case Ctx::Services: {
                bool b = false;
                if (f.key == "hair" || f.key == "gradient") {
                    if (flag(v, b)) {
                        (f.key == "hair" ? doc_.hairService : doc_.gradientService) = b;
                    }
                }
                return false;
            }
            case Ctx::Layers:
                return element(v, array,
                               [&] { pushNode(Ctx::Layer, doc_.layers, NodeKind::Layer); });
            case Ctx::Materials:
                return element(
                    v, array, [&] { pushNode(Ctx::Material, doc_.materials, NodeKind::Material); });
            case Ctx::Objects:
                return element(v, array, [&] {
                    pushObject(*static_cast<std::vector<std::unique_ptr<SimObject>>*>(f.target));
                });
            case Ctx::Shaders:
                return element(v, array, [&] {
                    pushNode(Ctx::Shader, static_cast<SimMaterial*>(f.target)->shaders,
                             NodeKind::Shader);
                });
            case Ctx::Tags:
                return element(v, array, [&] {
                    auto* owner = static_cast<SimObject*>(f.target);
                    pushNode(Ctx::Tag, owner->tags, NodeKind::Tag)->owner = owner;
                });
            case Ctx::Tracks:
                return element(v, array, [&] {
                    pushNode(Ctx::Track, static_cast<SimObject*>(f.target)->tracks,
                             NodeKind::Track);
                });
            case Ctx::Layer:
            case Ctx::Material:
            case Ctx::Shader:
            case Ctx::Object:
            case Ctx::Tag:
            case Ctx::Track:
                return nodeMember(f, v, array);
            case Ctx::Params:
                return paramValue(f, v, array);
            case Ctx::ParamObject: {
                auto* val = static_cast<SimValue*>(f.target);
                if (f.key == "link") {
                    if (idText(v, val->linkId)) {
                        f.flags |= kHasLink;
                    }
                } else if (f.key == "gradient") {
                    return list(v, array, [&] {
                        f.flags |= kHasGradient;
                        val->gradient.clear();
                        push(Ctx::Gradient, true, &val->gradient);
                    });
                }
                return false;
            }
            case Ctx::Gradient:
                return element(v, array, [&] {
                    auto* knots = static_cast<std::vector<GradientKnot>*>(f.target);
                    knots->emplace_back();
                    push(Ctx::Knot, false, &knots->back());
                });
            case Ctx::Knot: {
                auto* knot = static_cast<GradientKnot*>(f.target);
                if (f.key == "position") {
                    number(v, knot->position);
                } else if (f.key == "color") {
                    f.flags |= kHasColor;
                    return vector(v, array, &knot->color);
                }
                return false;
            }
            case Ctx::Vector: {
                if (f.count >= 3) {
                    failFrame("expected [x, y, z]");
                    return false;
                }
                double c = 0.0;
                if (number(v, c)) {
                    auto* out = static_cast<RdHostVector*>(f.target);
                    (f.count == 0 ? out->x : f.count == 1 ? out->y : out->z) = c;
                    ++f.count;
                }
                return false;
            }
            case Ctx::Time: {
                auto* t = static_cast<RdHostTime*>(f.target);
                if (f.key == "num" || f.key == "den") {
                    if (v == nullptr) {
                        failHere("expected a number");
                    } else {
                        number(v, f.key == "num" ? t->num : t->den);
                        f.flags |= f.key == "num" ? kHasNum : kHasDen;
                    }
                }
                return false;
            }
            case Ctx::Matrix: {
                auto* m = static_cast<RdHostMatrix*>(f.target);
                const std::string& k = f.key;
                RdHostVector* part = k == "offset" ? &m->off
                                     : k == "x"    ? &m->v1
                                     : k == "y"    ? &m->v2
                                     : k == "z"    ? &m->v3
                                                   : nullptr;
                return part != nullptr && vector(v, array, part);
            }
            case Ctx::Channels: {
                int32_t c = 0;
                if (integer(v, c)) {
                    static_cast<SimMaterial*>(f.target)->channels.insert(c);
                }
                return false;
            }
            case Ctx::Points:
            case Ctx::GuidePoints: {
                auto* o = static_cast<SimObject*>(f.target);
                auto& points = f.ctx == Ctx::Points ? o->points : o->hair.points;
                if (f.ctx == Ctx::GuidePoints) {
                    ++guideCounts_.back();
                }
                return list(
                    v, array,
                    [&] {
                        points.emplace_back(RdHostVector{0, 0, 0});
                        push(Ctx::Vector, true, &points.back());
                    },
                    "expected [x, y, z]");
            }
            case Ctx::Polygons: {
                auto& polygons = static_cast<SimObject*>(f.target)->polygons;
                return list(
                    v, array,
                    [&] {
                        polygons.emplace_back(RdHostPolygon{0, 0, 0, 0});
                        push(Ctx::Polygon, true, &polygons.back());
                    },
                    kPolygonRecord);
            }
            case Ctx::Polygon: {
                auto* p = static_cast<RdHostPolygon*>(f.target);
                int32_t* const corners[] = {&p->a, &p->b, &p->c, &p->d};
                recordInteger(f, v, corners, kPolygonRecord);
                return false;
            }
            case Ctx::Uvw: {
                auto& uvw = static_cast<SimTag*>(f.target)->uvw;
                return list(
                    v, array,
                    [&] {
                        uvw.emplace_back(
                            RdHostUVWPolygon{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}});
                        push(Ctx::UvwRecord, true, &uvw.back());
                    },
                    kUvwRecord);
            }
            case Ctx::UvwRecord: {
                if (f.count >= 4) {
                    failFrame(kUvwRecord);
                    return false;
                }
                auto* r = static_cast<RdHostUVWPolygon*>(f.target);
                RdHostVector* corner = f.count == 0   ? &r->a
                                       : f.count == 1 ? &r->b
                                       : f.count == 2 ? &r->c
                                                      : &r->d;
                ++f.count;
                return vector(v, array, corner);
            }
            case Ctx::Selection: {
                auto& ranges = static_cast<SimTag*>(f.target)->ranges;
                return list(
                    v, array,
                    [&] {
                        ranges.emplace_back(0, 0);
                        push(Ctx::Range, true, &ranges.back());
                    },
                    kRangeRecord);
            }
            case Ctx::Range: {
                auto* r = static_cast<std::pair<int32_t, int32_t>*>(f.target);
                int32_t* const ends[] = {&r->first, &r->second};
                recordInteger(f, v, ends, kRangeRecord);
                return false;
            }
            case Ctx::Normals: {
                void* normals = f.target;
                return list(
                    v, array, [&] { push(Ctx::NormalRecord, true, normals); }, kNormalRecord);
            }
            case Ctx::NormalRecord: {
                if (f.count >= 12) {
                    failFrame(kNormalRecord);
                    return false;
                }
                double c = 0.0;
                if (number(v, c)) {
                    static_cast<SimTag*>(f.target)->normals.push_back(static_cast<float>(c));
                    ++f.count;
                }
                return false;
            }
            case Ctx::TrackId: {
                if (f.count >= 2) {
                    failFrame(kTrackId);
                    return false;
                }
                auto* t = static_cast<SimTrack*>(f.target);
                if (integer(v, t->descId[f.count])) {
                    ++f.count;
                }
                return false;
            }
            case Ctx::Keys:
                return element(v, array, [&] {
                    auto* t = static_cast<SimTrack*>(f.target);
                    t->curve.keys.emplace_back();
                    push(Ctx::Key, false, &t->curve.keys.back());
                });
            case Ctx::Key: {
                auto* k = static_cast<SimKey*>(f.target);
                if (f.key == "time") {
                    f.flags |= kHasTime;
                    return timeValue(v, array, k->time);
                }
                if (f.key == "value") {
                    f.flags |= kHasValue;
                    number(v, k->value);
                }
                return false;
            }
            case Ctx::Hair: {
                auto* o = static_cast<SimObject*>(f.target);
                if (f.key == "segments") {
                    if (integer(v, o->hair.segments) && o->hair.segments < 0) {
                        failHere("expected a segment count of at least 0");
                    }
                } else if (f.key == "guides") {
                    return list(v, array, [&] { push(Ctx::Guides, true, o); });
                }
                return false;
            }
            case Ctx::Guides:
                return element(v, array, [&] {
                    auto* o = static_cast<SimObject*>(f.target);
                    o->hair.rootUV.push_back(RdHostVector{0, 0, 0});
                    guideCounts_.push_back(0);
                    push(Ctx::Guide, false, o);
                });
            case Ctx::Guide: {
                auto* o = static_cast<SimObject*>(f.target);
                if (f.key == "points") {
                    return list(v, array, [&] { push(Ctx::GuidePoints, true, o); });
                }
                if (f.key == "rootUV") {
                    return vector(v, array, &o->hair.rootUV.back());
                }
                return false;
            }
            case Ctx::Skip:
                return false;
        }
        return false;
    }

    // An element that must be an object: `start` pushes its frame.
    template <typename Start>
    bool element(const Scalar* v, bool array, Start start) {
        if (v != nullptr || array) {
            failHere("expected an object");
            return false;
        }
        start();
        return true;
    }

    // Nodes are never replaced once read: links, ids and paths already point at them. A member
    // that would name them a second time is refused (an empty first list may be given again).
    template <typename Nodes>
    bool firstTime(const Nodes& nodes) {
        if (!nodes.empty()) {
            failHere(kGivenTwice);
            return false;
        }
        return true;
    }

    // A member that must be an array: `start` pushes its frame; `expected` is the fault otherwise.
    template <typename Start>
    bool list(const Scalar* v, bool array, Start start,
              const char* expected = "expected an array") {
        if (v != nullptr || !array) {
            failHere(expected);
            return false;
        }
        start();
        return true;
    }

    // The next integer of a record of fixed size, into its slot; the fault when the record is
    // full or the value is no integer.
    template <size_t N>
    void recordInteger(Frame& f, const Scalar* v, int32_t* const (&slots)[N], const char* record) {
        int32_t i = 0;
        if (f.count >= N) {
            failFrame(record);
        } else if (integer(v, i)) {
            *slots[f.count++] = i;
        }
    }

    bool vector(const Scalar* v, bool array, RdHostVector* out) {
        return list(
            v, array, [&] { push(Ctx::Vector, true, out); }, "expected [x, y, z]");
    }

    bool matrix(const Scalar* v, bool array, RdHostMatrix* out) {
        if (v != nullptr || array) {
            failHere("expected an object");
            return false;
        }
        *out = RdHostMatrix{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
        push(Ctx::Matrix, false, out);
        return true;
    }

    bool timeValue(const Scalar* v, bool array, RdHostTime& out) {
        if (v != nullptr) {
            time(*v, out);
            return false;
        }
        if (array) {
            failHere(kTimeKinds);
            return false;
        }
        out = RdHostTime{0.0, 1.0};
        push(Ctx::Time, false, &out);
        return true;
    }

    bool pushObject(std::vector<std::unique_ptr<SimObject>>& list) {
        list.emplace_back();
        if (!pushObjectInto(list.back())) {
            list.pop_back();
            return false;
        }
        return true;
    }
    // False when the object is one level too deep: the document is refused there.
    bool pushObjectInto(std::unique_ptr<SimObject>& slot) {
        if (objectDepth_ >= kMaxObjectDepth) {
            refuse("objects nested deeper than " + std::to_string(kMaxObjectDepth) + " levels");
            return false;
        }
        ++objectDepth_;
        pushNode(Ctx::Object, slot, NodeKind::Object);
        return true;
    }

    bool rootMember(Frame& f, const Scalar* v, bool array) {
        const std::string& k = f.key;
        if (k == "file" || k == "folder") {
            text(v, k == "file" ? doc_.fileName : doc_.folder);
        } else if (k == "minTime" || k == "time") {
            return timeValue(v, array, k == "time" ? doc_.time : doc_.minTime);
        } else if (k == "services") {
            if (v != nullptr || array) {
                failHere("expected an object");
                return false;
            }
            push(Ctx::Services, false);
            return true;
        } else if (k == "layers") {
            return firstTime(doc_.layers) && list(v, array, [&] { push(Ctx::Layers, true); });
        } else if (k == "materials") {
            return firstTime(doc_.materials) && list(v, array, [&] { push(Ctx::Materials, true); });
        } else if (k == "objects") {
            return firstTime(doc_.objects) &&
                   list(v, array, [&] { push(Ctx::Objects, true, &doc_.objects); });
        }
        return false;
    }

    // The optional "id" by which links name a layer, material or shader.
    void linkId(SimNode& n, const Scalar* v) {
        if (idText(v, n.id)) {
            registerId(&n, n.id, valuePath());
        }
    }

    void registerId(SimNode* n, const std::string& id, const std::string& path) {
        if (!id.empty() && !doc_.links.emplace(id, n).second) {
            fail(path, "duplicate id \"" + id + "\"");
        }
    }

    bool nodeMember(Frame& f, const Scalar* v, bool array) {
        auto* n = static_cast<SimNode*>(f.target);
        const std::string& k = f.key;
        if (k == "type") {
            f.flags |= kHasType;
            integer(v, n->type);
            return false;
        }
        if (k == "name") {
            text(v, n->name);
            return false;
        }
        if (k == "params") {
            return paramsObject(v, array, n->params);
        }
        switch (f.ctx) {
            case Ctx::Layer:
            case Ctx::Shader:
                if (k == "id") {
                    linkId(*n, v);
                }
                return false;
            case Ctx::Material:
                return materialMember(static_cast<SimMaterial&>(*n), k, v, array);
            case Ctx::Object:
                return objectMember(f, static_cast<SimObject&>(*n), k, v, array);
            case Ctx::Tag:
                return tagMember(f, static_cast<SimTag&>(*n), k, v, array);
            case Ctx::Track:
                return trackMember(f, static_cast<SimTrack&>(*n), k, v, array);
            default:
                return false;
        }
    }

    bool paramsObject(const Scalar* v, bool array, std::map<int32_t, SimValue>& out) {
        if (v != nullptr || array) {
            failHere("expected an object");
            return false;
        }
        push(Ctx::Params, false, &out);
        return true;
    }

    bool paramValue(Frame& f, const Scalar* v, bool array) {
        const std::string& key = f.key;
        char* end = nullptr;
        errno = 0;
        const long long id = std::strtoll(key.c_str(), &end, 10);
        if (key.empty() || *end != '\0' || errno != 0 || id < std::numeric_limits<int32_t>::min() ||
            id > std::numeric_limits<int32_t>::max()) {
            failHere("parameter key \"" + key + "\" is not a number");
            return false;
        }
        SimValue& out = (*static_cast<std::map<int32_t, SimValue>*>(f.target))[int32_t(id)];
        out = SimValue();
        if (v != nullptr) {
            if (v->kind == Scalar::Kind::String) {
                out.kind = SimValue::Kind::Text;
                out.text = *v->s;
            } else if (v->kind == Scalar::Kind::Null) {
                failHere(kValueKinds);
            } else {
                number(v, out.number);
            }
            return false;
        }
        if (array) {
            out.kind = SimValue::Kind::Vector;
            push(Ctx::Vector, true, &out.vector);
            return true;
        }
        push(Ctx::ParamObject, false, &out);
        return true;
    }

    bool materialMember(SimMaterial& m, const std::string& k, const Scalar* v, bool array) {
        if (k == "id") {
            linkId(m, v);
        } else if (k == "channels") {
            return list(v, array, [&] { push(Ctx::Channels, true, &m); });
        } else if (k == "container") {
            return paramsObject(v, array, m.container);
        } else if (k == "shaders") {
            return firstTime(m.shaders) && list(v, array, [&] { push(Ctx::Shaders, true, &m); });
        }
        return false;
    }

    bool objectMember(Frame& f, SimObject& o, const std::string& k, const Scalar* v, bool array) {
        if (k == "id") {
            objectId(f, o, v);
        } else if (k == "position" || k == "rotation" || k == "scale") {
            return vector(v, array,
                          k == "position"   ? &o.position
                          : k == "rotation" ? &o.rotation
                                            : &o.scale);
        } else if (k == "rotationOrder") {
            if (integer(v, o.rotationOrder) &&
                (o.rotationOrder < 0 || o.rotationOrder >= host::kRotationOrderCount)) {
                failHere("expected 0 to " + std::to_string(host::kRotationOrderCount - 1));
            }
        } else if (k == "matrix") {
            o.explicitMatrix = true;
            return matrix(v, array, &o.matrix);
        } else if (k == "generatorInput" || k == "selected") {
            flag(v, k == "selected" ? o.selected : o.generatorInput);
        } else if (k == "layer") {
            if (idText(v, o.layerId)) {
                pending_.push_back({f.path, "/layer", o.layerId, &o.layer, false, true});
            }
        } else if (k == "points") {
            return list(v, array, [&] {
                o.points.clear();
                push(Ctx::Points, true, &o);
            });
        } else if (k == "polygons") {
            return list(v, array, [&] {
                o.polygons.clear();
                push(Ctx::Polygons, true, &o);
            });
        } else if (k == "tags") {
            return firstTime(o.tags) && list(v, array, [&] { push(Ctx::Tags, true, &o); });
        } else if (k == "tracks") {
            return firstTime(o.tracks) && list(v, array, [&] { push(Ctx::Tracks, true, &o); });
        } else if (k == "hair") {
            if (v != nullptr || array) {
                failHere("expected an object");
                return false;
            }
            o.hasHair = true;
            o.hair = SimHair();
            guideCounts_.clear();
            push(Ctx::Hair, false, &o);
            return true;
        } else if (k == "cache" || k == "deformCache") {
            if (v != nullptr || array) {
                failHere("expected an object");
                return false;
            }
            std::unique_ptr<SimObject>& slot = k == "cache" ? o.cache : o.deformCache;
            if (slot) {
                failHere(kGivenTwice);
                return false;
            }
            return pushObjectInto(slot);
        } else if (k == "children") {
            return firstTime(o.children) &&
                   list(v, array, [&] { push(Ctx::Objects, true, &o.children); });
        }
        return false;
    }

    void objectId(Frame& f, SimObject& o, const Scalar* v) {
        if (v != nullptr && v->kind == Scalar::Kind::Uint) {
            o.guid = v->u;
        } else if (v != nullptr && v->kind == Scalar::Kind::String) {
            const std::string& s = *v->s;
            char* end = nullptr;
            errno = 0;
            const unsigned long long n = std::strtoull(s.c_str(), &end, 10);
            if (s.empty() || *end != '\0' || errno != 0 || s[0] == '-') {
                failHere(kObjectId);
                return;
            }
            o.guid = n;
        } else {
            failHere(kObjectId);
            return;
        }
        o.hasGuid = true;
        idPaths_[&o] = f.path;
    }

    // Room for a tag's records reserved up front for speed, but never more in all than a few
    // times the document's size: every record costs at least a third of its memory in text, so
    // a real document stays within it, while many empty "uvw": [] on a large mesh do not each
    // reserve the whole mesh's worth.
    template <typename V>
    void reserveWithinBudget(V& records, size_t count) {
        const size_t bytes = count * sizeof(typename V::value_type);
        if (count <= reserveBudget_ / sizeof(typename V::value_type) && bytes <= reserveBudget_) {
            reserveBudget_ -= bytes;
            records.reserve(count);
        }
    }

    bool tagMember(Frame& f, SimTag& t, const std::string& k, const Scalar* v, bool array) {
        if (k == "selected") {
            flag(v, t.selected);
        } else if (k == "material") {
            if (idText(v, t.materialId)) {
                pending_.push_back({f.path, "/material", t.materialId, &t.material, true, false});
            }
        } else if (k == "textureMatrix") {
            return matrix(v, array, &t.textureMatrix);
        } else if (k == "uvw") {
            return list(v, array, [&] {
                t.uvw.clear();
                reserveWithinBudget(t.uvw, t.owner->polygons.size());  // one record per polygon
                push(Ctx::Uvw, true, &t);
            });
        } else if (k == "selection") {
            return list(v, array, [&] {
                t.ranges.clear();
                push(Ctx::Selection, true, &t);
            });
        } else if (k == "normals") {
            return list(v, array, [&] {
                t.hasNormals = true;
                t.normals.clear();
                reserveWithinBudget(t.normals, 12 * t.owner->polygons.size());
                push(Ctx::Normals, true, &t);
            });
        }
        return false;
    }

    bool trackMember(Frame& f, SimTrack& t, const std::string& k, const Scalar* v, bool array) {
        if (k == "id") {
            f.flags |= kHasId;
            if (v != nullptr) {
                t.depth = 1;
                integer(v, t.descId[0]);
                return false;
            }
            if (!array) {
                failHere("expected an integer");
                return false;
            }
            push(Ctx::TrackId, true, &t);
            return true;
        }
        if (k == "keys") {
            return list(v, array, [&] {
                t.hasCurve = true;
                t.curve.keys.clear();
                push(Ctx::Keys, true, &t);
            });
        }
        if (k == "interpolation") {
            std::string mode;
            if (text(v, mode)) {
                if (mode == "linear") {
                    t.interpolation = Interpolation::Linear;
                } else if (mode == "step") {
                    t.interpolation = Interpolation::Step;
                } else {
                    failHere("unknown interpolation \"" + mode +
                             "\"; expected \"linear\" or \"step\"");
                }
            }
        }
        return false;
    }

    // ---- the end of a container: checks that need all of it ----

    void finishFrame(size_t level) {
        Frame& f = frames_[level];
        switch (f.ctx) {
            case Ctx::Vector:
                if (f.count != 3) {
                    failFrame("expected [x, y, z]");
                }
                break;
            case Ctx::Polygon:
                if (f.count < 3) {
                    failFrame(kPolygonRecord);
                } else if (f.count == 3) {
                    auto* p = static_cast<RdHostPolygon*>(f.target);
                    p->d = p->c;
                }
                break;
            case Ctx::UvwRecord:
                if (f.count != 4) {
                    failFrame(kUvwRecord);
                }
                break;
            case Ctx::Range: {
                auto* r = static_cast<std::pair<int32_t, int32_t>*>(f.target);
                if (f.count != 2) {
                    failFrame(kRangeRecord);
                } else if (r->first < 0 || r->second < r->first) {
                    failFrame("range [" + std::to_string(r->first) + ", " +
                              std::to_string(r->second) + "] is not 0 <= first <= last");
                }
                break;
            }
            case Ctx::NormalRecord:
                if (f.count != 12) {
                    failFrame(kNormalRecord);
                }
                break;
            case Ctx::TrackId: {
                auto* t = static_cast<SimTrack*>(f.target);
                if (f.count == 0) {
                    failFrame(kTrackId);
                }
                t->depth = static_cast<int32_t>(f.count);
                break;
            }
            case Ctx::Time:
                if ((f.flags & (kHasNum | kHasDen)) != (kHasNum | kHasDen)) {
                    failFrame(kTimeKinds);
                }
                break;
            case Ctx::ParamObject: {
                auto* val = static_cast<SimValue*>(f.target);
                if (f.flags & kHasLink) {
                    val->kind = SimValue::Kind::Link;
                    val->gradient.clear();
                } else if (f.flags & kHasGradient) {
                    val->kind = SimValue::Kind::Gradient;
                } else {
                    failFrame(kValueKinds);
                }
                break;
            }
            case Ctx::Knot:
                if (!(f.flags & kHasColor)) {
                    fail(framePath(level) + "/color", "missing knot colour");
                }
                break;
            case Ctx::Key:
                if (!(f.flags & kHasTime)) {
                    fail(framePath(level) + "/time", "missing key time");
                } else if (!(f.flags & kHasValue)) {
                    fail(framePath(level) + "/value", "missing key value");
                }
                break;
            case Ctx::Hair:
                finishHair(f);
                break;
            case Ctx::Layer:
                resolveParams(*static_cast<SimNode*>(f.target), f.path);
                break;
            case Ctx::Shader:
                resolveParams(*static_cast<SimNode*>(f.target), f.path);
                break;
            case Ctx::Material: {
                auto* m = static_cast<SimMaterial*>(f.target);
                for (size_t i = 0; i + 1 < m->shaders.size(); ++i) {
                    m->shaders[i]->next = m->shaders[i + 1].get();
                }
                resolveParams(*m, f.path);
                break;
            }
            case Ctx::Tag:
                finishTag(f);
                break;
            case Ctx::Track:
                finishTrack(f);
                break;
            case Ctx::Object:
                finishObject(f);
                break;
            default:
                break;
        }
    }

    void finishHair(const Frame& f) {
        const auto* o = static_cast<const SimObject*>(f.target);
        const size_t perGuide = o->hair.segments > 0 ? size_t(o->hair.segments) + 1 : 0;
        for (size_t i = 0; i < guideCounts_.size(); ++i) {
            if (guideCounts_[i] != perGuide) {
                fail(framePath(frames_.size() - 1) + "/guides/" + std::to_string(i) + "/points",
                     std::to_string(guideCounts_[i]) + " points; " +
                         std::to_string(o->hair.segments) + " segments need " +
                         std::to_string(perGuide));
                return;
            }
        }
    }

    void finishTag(const Frame& f) {
        auto* t = static_cast<SimTag*>(f.target);
        if (!(f.flags & kHasType)) {
            fail(framePath(frames_.size() - 1) + "/type", "missing tag type");
            return;
        }
        // A tag's name is also its name parameter.
        if (t->params.find(host::nodeParam::kName) == t->params.end()) {
            SimValue name;
            name.kind = SimValue::Kind::Text;
            name.text = t->name;
            t->params[host::nodeParam::kName] = name;
        }
        resolveParams(*t, f.path);
    }

    void finishTrack(const Frame& f) {
        auto* t = static_cast<SimTrack*>(f.target);
        if (!(f.flags & kHasId)) {
            fail(framePath(frames_.size() - 1) + "/id", "missing track id [parameter, component]");
            return;
        }
        // The host keeps a curve's keys in time order.
        std::stable_sort(t->curve.keys.begin(), t->curve.keys.end(),
                         [](const SimKey& a, const SimKey& b) {
                             return timeSeconds(a.time) < timeSeconds(b.time);
                         });
        resolveParams(*t, f.path);
    }

    void finishObject(const Frame& f) {
        auto* o = static_cast<SimObject*>(f.target);
        for (int32_t vis :
             {host::objectParam::kEditorVisibility, host::objectParam::kRenderVisibility}) {
            if (o->params.find(vis) == o->params.end()) {
                SimValue inherit;
                inherit.number = host::objectParam::kVisibilityInherit;
                o->params[vis] = inherit;
            }
        }
        // Points may follow the polygons in the file: indices are checked once both are read.
        const size_t points = o->points.size();
        for (size_t i = 0; i < o->polygons.size(); ++i) {
            const RdHostPolygon& p = o->polygons[i];
            const int32_t idx[4] = {p.a, p.b, p.c, p.d};
            for (size_t k = 0; k < 4; ++k) {
                if (idx[k] < 0 || size_t(idx[k]) >= points) {
                    fail(framePath(frames_.size() - 1) + "/polygons/" + std::to_string(i) + "/" +
                             std::to_string(k),
                         "index " + std::to_string(idx[k]) + " out of range of " +
                             std::to_string(points) + " points");
                    return;
                }
            }
        }
        const size_t n = o->polygons.size();
        for (size_t i = 0; i < o->tags.size(); ++i) {
            SimTag& t = *o->tags[i];
            t.next = i + 1 < o->tags.size() ? o->tags[i + 1].get() : nullptr;
            auto tagPath = [&] {
                return framePath(frames_.size() - 1) + "/tags/" + std::to_string(i);
            };
            if ((t.type == raydeck::host::kTagUVW || !t.uvw.empty()) && t.uvw.size() != n) {
                fail(tagPath() + "/uvw", std::to_string(t.uvw.size()) + " records for " +
                                             std::to_string(n) + " polygons");
                return;
            }
            if (t.hasNormals && t.normals.size() != 12 * n) {
                fail(tagPath() + "/normals", std::to_string(t.normals.size() / 12) +
                                                 " records for " + std::to_string(n) + " polygons");
                return;
            }
        }
        for (size_t i = 0; i + 1 < o->tracks.size(); ++i) {
            o->tracks[i]->next = o->tracks[i + 1].get();
        }
        resolveParams(*o, f.path);
    }

    void resolveParams(SimNode& n, const PathNode* path) {
        for (auto& [id, val] : n.params) {
            if (val.kind == SimValue::Kind::Link) {
                pending_.push_back({path, "/params/" + std::to_string(id) + "/link", val.linkId,
                                    &val.link, false, false});
            }
        }
    }

    // ---- the whole document ----

    [[noreturn]] static void raise(const std::string& path, const std::string& what) {
        throw pathOrRoot(path) + ": " + what;
    }

    void resolve() {
        linkTree(doc_.objects);
        std::vector<SimObject*> all = doc_.allObjects();
        assignIds(all);
        for (SimObject* o : all) {
            if (!o->id.empty() && !doc_.links.emplace(o->id, o).second) {
                auto it = idPaths_.find(o);
                raise(it == idPaths_.end() ? "" : pathText(it->second) + "/id",
                      "duplicate id \"" + o->id + "\"");
            }
        }
        for (const PendingLink& p : pending_) {
            SimNode* n = doc_.find(p.id);
            if (n == nullptr) {
                raise(pathText(p.node) + p.suffix, "link to unknown id \"" + p.id + "\"");
            }
            if (p.materialOnly && n->kind != NodeKind::Material) {
                raise(pathText(p.node) + p.suffix, "\"" + p.id + "\" is not a material");
            }
            if (p.layerOnly && n->kind != NodeKind::Layer) {
                raise(pathText(p.node) + p.suffix, "\"" + p.id + "\" is not a layer");
            }
            *p.target = n;
        }
    }

    // next/down pointers of the tree; a cache is a tree of its own, with no object after its
    // root. Iterative, as deep as the document goes.
    static void linkTree(std::vector<std::unique_ptr<SimObject>>& top) {
        std::vector<std::pair<SimObject*, SimObject*>> work;  // object, the one after it
        auto addList = [&work](std::vector<std::unique_ptr<SimObject>>& list) {
            for (size_t i = 0; i < list.size(); ++i) {
                work.emplace_back(list[i].get(), i + 1 < list.size() ? list[i + 1].get() : nullptr);
            }
        };
        addList(top);
        while (!work.empty()) {
            auto [o, next] = work.back();
            work.pop_back();
            o->next = next;
            o->down = o->children.empty() ? nullptr : o->children.front().get();
            addList(o->children);
            if (o->cache) {
                work.emplace_back(o->cache.get(), nullptr);
            }
            if (o->deformCache) {
                work.emplace_back(o->deformCache.get(), nullptr);
            }
        }
    }

    // Objects without an id get 1, 2, 3 ... in document order, skipping ids the file uses.
    void assignIds(const std::vector<SimObject*>& all) {
        std::unordered_map<uint64_t, bool> used;
        used.reserve(all.size());
        for (SimObject* o : all) {
            if (o->hasGuid && !used.emplace(o->guid, true).second) {
                raise(pathText(idPaths_[o]) + "/id",
                      "duplicate object id " + std::to_string(o->guid));
            }
        }
        uint64_t next = 1;
        for (SimObject* o : all) {
            if (!o->hasGuid) {
                while (used.count(next)) {
                    ++next;
                }
                o->guid = next;
                used.emplace(next, true);
            }
            o->id = std::to_string(o->guid);
        }
    }

    SimDocument& doc_;
    size_t reserveBudget_;  // bytes that reserveWithinBudget may still reserve
    std::vector<Frame> frames_;
    std::deque<PathNode> paths_;
    std::vector<PendingLink> pending_;
    std::unordered_map<const SimObject*, const PathNode*> idPaths_;
    std::vector<size_t> guideCounts_;  // points per guide of the hair being read
    int objectDepth_ = 0;

    bool sawRoot_ = false;
    bool rootRefused_ = false;  // the text's value is no object
    bool sawFormat_ = false, formatOk_ = false;
    bool sawVersion_ = false, versionOk_ = false;
    std::string versionText_;
    std::string text_;  // the string being read

    bool stop_ = false;  // refused: the pass ends at once
    bool failed_ = false;
    std::string error_;        // the first fault in the content: "<path>: <reason>"
    std::string syntaxError_;  // the text is not JSON
};

// "at line L, column C" of a byte offset.
std::string textPosition(const std::string& text, size_t offset) {
    offset = std::min(offset, text.size());
    size_t line = 1, lineStart = 0;
    for (const char* p = text.data();
         (p = static_cast<const char*>(std::memchr(p, '\n', text.data() + offset - p))) != nullptr;
         ++p) {
        ++line;
        lineStart = static_cast<size_t>(p - text.data()) + 1;
    }
    return "at line " + std::to_string(line) + ", column " + std::to_string(offset - lineStart + 1);
}

// Where a multi-byte UTF-8 sequence starts that the end of `text` cuts off; text.size() when
// none does. The JSON library validates such a sequence by taking all of its continuation bytes,
// and so reads past the text's terminating NUL.
size_t truncatedUtf8AtEnd(const std::string& text) {
    const size_t n = text.size();
    for (size_t back = 1; back <= 3 && back <= n; ++back) {
        const auto lead = static_cast<unsigned char>(text[n - back]);
        const size_t tails = lead >= 0xF0 && lead <= 0xF4   ? 3
                             : lead >= 0xE0 && lead <= 0xEF ? 2
                             : lead >= 0xC0 && lead <= 0xDF ? 1
                                                            : 0;
        if (tails >= back) {
            return n - back;
        }
    }
    return n;
}

}  // namespace

std::unique_ptr<SimDocument> loadDocumentText(const std::string& text, const std::string& fileName,
                                              const std::string& folder, std::string& error,
                                              const std::string& errorName) {
    const std::string name =
        errorName.empty() ? (fileName.empty() ? "document" : fileName) : errorName;
    auto doc = std::make_unique<SimDocument>();
    doc->fileName = fileName;
    doc->folder = folder;
    std::string fault;
    try {
        Reader reader(*doc, text.size());
        if (const void* nul = std::memchr(text.data(), '\0', text.size())) {
            // Stands nowhere in JSON text; the reader would take it for the end.
            const size_t at = static_cast<size_t>(static_cast<const char*>(nul) - text.data());
            fault = "not JSON: a NUL byte " + textPosition(text, at);
        } else if (const size_t cut = truncatedUtf8AtEnd(text); cut != text.size()) {
            fault = "not JSON: a UTF-8 sequence cut off by the end of the text " +
                    textPosition(text, cut);
        } else {
            rapidjson::Reader json;
            rapidjson::StringStream in(text.c_str());
            constexpr unsigned kFlags =
                rapidjson::kParseIterativeFlag | rapidjson::kParseCommentsFlag |
                rapidjson::kParseNumbersAsStringsFlag | rapidjson::kParseValidateEncodingFlag;
            const rapidjson::ParseResult r = json.Parse<kFlags>(in, reader);
            if (r.Code() == rapidjson::kParseErrorNumberTooBig) {
                reader.refuse("number out of range of a double " + textPosition(text, r.Offset()));
            } else if (r.IsError() && !reader.stopped()) {
                reader.syntaxError(std::string(rapidjson::GetParseError_En(r.Code())) + " " +
                                   textPosition(text, r.Offset()));
            }
            fault = reader.finish();
        }
    } catch (const std::exception& e) {
        fault = std::string("cannot load the document: ") + e.what();
    }
    if (!fault.empty()) {
        error = name + ": " + fault;
        return nullptr;
    }
    doc->evaluate();
    return doc;
}

bool readDocumentFile(const std::string& path, std::string& content, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(std::filesystem::u8path(path), ec)) {
        error = path + ": is a folder, not a document file";
        return false;
    }
    // By its UTF-16 name, so that names outside the ANSI code page open on Windows too.
    std::u16string wide;
    bool opened = false;
    std::string why = std::strerror(EINVAL);
    bool read = false;
    if (platform::utf8ToUtf16(path, wide).ok()) {
        const platform::Status status =
            platform::readWholeFile(wide, content, opened, kMaxDocumentBytes);
        read = status.ok();
        why = status.message();
    }
    if (!read) {
        error = path +
                (opened ? ": cannot read the document file" : ": cannot open the document file") +
                (why.empty() ? std::string() : ": " + why);
        return false;
    }
    if (content.empty()) {
        error = path + ": the document file is empty";
        return false;
    }
    return true;
}

void documentNameAndFolder(const std::string& path, std::string& fileName, std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path full = fs::absolute(fs::u8path(path), ec);
    if (ec) {
        full = fs::u8path(path);
    }
    full = full.lexically_normal();
    fileName = full.filename().u8string();
    folder = full.parent_path().u8string();
}

std::unique_ptr<SimDocument> loadDocumentFile(const std::string& path, std::string& error) {
    std::string text;
    if (!readDocumentFile(path, text, error)) {
        return nullptr;
    }
    std::string fileName, folder;
    documentNameAndFolder(path, fileName, folder);
    return loadDocumentText(text, fileName, folder, error, path);
}

}  // namespace raydeck::hostsim
