// The engine of the host document reader (DocumentParser.h): JSON events into frames, each read
// by the shape its container has in the tables (DocumentMembers.cpp); faults with their JSON
// paths; links and ids resolved once the whole document is read.
#include "tools/host/DocumentParser.h"

#include <cmath>
#include <limits>

namespace raydeck::hostsim::docread {

using doctext::pathOrRoot;

namespace {

// Each object level takes two JSON levels (the object and its "children" array); a node's own
// members add a few more.
constexpr size_t kMaxJsonDepth = 2 * static_cast<size_t>(kMaxObjectDepth) + 64;

// What a container is read as when nothing reads it.
const Shape kSkip{};

// One corner of a record in groups: three numbers into the record being read.
const RecordFormat kCornerRecord{"expected [x, y, z]", 3, 3, false, false, nullptr};
const Shape kCornerShape{Shape::Kind::Record, nullptr, 0, nullptr, nullptr,
                         &kCornerRecord,      nullptr};

const char* kindName(NodeKind kind) {
    switch (kind) {
        case NodeKind::Material:
            return "a material";
        case NodeKind::Layer:
            return "a layer";
        default:
            return "of that kind";
    }
}

const Member* findMember(const Shape& shape, const std::string& name) {
    for (const Shape* s = &shape; s != nullptr; s = s->more) {
        for (size_t i = 0; i < s->memberCount; ++i) {
            if (name == s->members[i].name) {
                return &s->members[i];
            }
        }
    }
    return nullptr;
}

void appendStep(std::string& out, const Frame& f) {
    if (f.array) {
        out += '/';
        out += std::to_string(f.index);
    } else {
        doctext::appendKey(out, f.key);
    }
}

}  // namespace

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

Reader::Reader(SimDocument& doc, size_t textBytes) : doc_(doc), reserveBudget_(4 * textBytes) {
    frames_.reserve(64);
}

// ---- JSON events ----

bool Reader::Null() {
    return scalar(Scalar{});
}

bool Reader::Bool(bool v) {
    Scalar s;
    s.kind = Scalar::Kind::Bool;
    s.b = v;
    return scalar(s);
}

bool Reader::RawNumber(const char* text, unsigned length, bool) {
    Scalar s;
    if (!doctext::parseNumber(text, text + length, s)) {
        // Fits no double: the value's fault, at its path.
        failHere("number " + std::string(text, length) + " out of range of a double");
        advance();
        return true;
    }
    return scalar(s);
}

bool Reader::String(const char* text, unsigned length, bool) {
    text_.assign(text, length);
    Scalar s;
    s.kind = Scalar::Kind::String;
    s.s = &text_;
    return scalar(s);
}

bool Reader::Key(const char* text, unsigned length, bool) {
    Frame& f = frames_.back();
    f.key.assign(text, length);
    if (f.shape->kind == Shape::Kind::Members) {
        f.member = findMember(*f.shape, f.key);
        if (f.member == nullptr && !failed_) {
            unknownMember(f);
        }
    }
    return true;
}

void Reader::unknownMember(const Frame& f) {
    doctext::NearestName nearest(f.key);
    for (const Shape* s = f.shape; s != nullptr; s = s->more) {
        for (size_t i = 0; i < s->memberCount; ++i) {
            nearest.consider(s->members[i].name);
        }
    }
    std::string what = "unknown member";
    if (!nearest.best().empty()) {
        what += "; did you mean \"" + nearest.best() + "\"?";
    }
    failHere(what);
}

bool Reader::scalar(const Scalar& v) {
    if (frames_.empty()) {
        error_ = "/: expected an object";
        failed_ = rootRefused_ = true;
        return false;
    }
    read(frames_.back(), Value{&v, false});
    advance();
    return true;
}

bool Reader::open(bool array) {
    if (frames_.empty()) {
        if (array) {
            error_ = "/: expected an object";
            failed_ = rootRefused_ = true;
            return false;
        }
        sawRoot_ = true;
        opening_ = false;
        Frame& root = push(kRootShape, &doc_);
        paths_.emplace_back();
        root.path = &paths_.back();
        return true;
    }
    if (frames_.size() >= kMaxJsonDepth) {
        // Refused before the nesting costs more memory.
        refuse("nested deeper than " + std::to_string(kMaxJsonDepth) + " levels");
        return false;
    }
    opening_ = array;
    // The frame below may move as frames are pushed: not touched after reading.
    const bool pushed = read(frames_.back(), Value{nullptr, array});
    if (stop_) {
        return false;
    }
    if (!pushed) {
        push(kSkip, Target());
    }
    return true;
}

bool Reader::close() {
    Frame& f = frames_.back();
    if (!failed_) {
        if (f.shape->kind == Shape::Kind::Record) {
            finishRecord(f);
        } else if (f.shape->finish != nullptr) {
            f.shape->finish(*this, f);
        }
    }
    if (f.shape == &kObjectShape) {
        --objectDepth_;
    }
    frames_.pop_back();
    advance();
    return true;
}

void Reader::advance() {
    if (!frames_.empty() && frames_.back().array) {
        ++frames_.back().index;
    }
}

bool Reader::read(Frame& f, const Value& v) {
    switch (f.shape->kind) {
        case Shape::Kind::Members:
            return f.member != nullptr && (!failed_ || f.member->evenAfterAFault) &&
                   f.member->read(*this, f, v);
        case Shape::Kind::Map:
        case Shape::Kind::List:
            return !failed_ && f.shape->element(*this, f, v);
        case Shape::Kind::Record:
            return !failed_ && recordElement(f, v);
        case Shape::Kind::Skip:
            break;
    }
    return false;
}

// ---- records ----

bool Reader::recordElement(Frame& f, const Value& v) {
    const RecordFormat& r = *f.shape->record;
    if (f.count >= r.max) {
        failFrame(r.expected);
        return false;
    }
    if (r.groups) {
        const unsigned at = f.count++;
        if (!v.isArray()) {
            failHere("expected [x, y, z]");
            return false;
        }
        const Target target = f.target;
        push(kCornerShape, target).base = static_cast<uint8_t>(3 * at);
        return true;
    }
    double& slot = record_[f.base + f.count];
    if (r.integers) {
        int32_t i = 0;
        if (!integer(v, i)) {
            return false;
        }
        slot = i;
    } else if (!number(v, slot)) {
        return false;
    }
    ++f.count;
    return false;
}

void Reader::finishRecord(Frame& f) {
    const RecordFormat& r = *f.shape->record;
    if (f.count < r.min) {
        failFrame(r.expected);
    } else if (r.store != nullptr) {
        r.store(*this, f, record_ + f.base, f.count);
    }
}

// ---- faults ----

void Reader::syntaxError(const std::string& reason) {
    if (syntaxError_.empty()) {
        syntaxError_ = "not JSON: " + reason + " (at " + pathOrRoot(valuePath()) + ")";
    }
}

void Reader::refuse(const std::string& what) {
    if (syntaxError_.empty()) {
        syntaxError_ = pathOrRoot(valuePath()) + ": " + what;
    }
    stop_ = true;
}

// Records the first fault; the pass goes on without building, for the faults that count before
// it (bad JSON, a wrong format or version).
void Reader::fail(const std::string& path, const std::string& what) {
    if (!failed_) {
        failed_ = true;
        error_ = pathOrRoot(path) + ": " + what;
    }
}

std::string Reader::framePath(size_t level) const {
    std::string out;
    for (size_t i = 0; i < level; ++i) {
        appendStep(out, frames_[i]);
    }
    return out;
}

// ---- scalar reads; a container (no scalar) is refused with the message of the read ----

bool Reader::number(const Value& v, double& out) {
    const Scalar* s = v.scalar;
    if (s != nullptr && s->kind == Scalar::Kind::Bool) {
        out = s->b ? 1.0 : 0.0;
        return true;
    }
    if (s == nullptr || !s->isNumber()) {
        failHere("expected a number");
        return false;
    }
    out = s->asDouble();
    return true;
}

bool Reader::integer(const Value& v, int32_t& out) {
    const Scalar* s = v.scalar;
    if (s != nullptr) {
        switch (s->kind) {
            case Scalar::Kind::Bool:
                out = s->b ? 1 : 0;
                return true;
            case Scalar::Kind::Int:
            case Scalar::Kind::Uint: {
                const bool fits = s->kind == Scalar::Kind::Int
                                      ? s->i >= std::numeric_limits<int32_t>::min() &&
                                            s->i <= std::numeric_limits<int32_t>::max()
                                      : s->u <= uint64_t(std::numeric_limits<int32_t>::max());
                if (!fits) {
                    failHere("integer out of range");
                    return false;
                }
                out = static_cast<int32_t>(
                    s->kind == Scalar::Kind::Int ? s->i : static_cast<int64_t>(s->u));
                return true;
            }
            case Scalar::Kind::Float:
                if (s->d == std::floor(s->d) && std::fabs(s->d) < 2147483648.0) {
                    out = static_cast<int32_t>(s->d);
                    return true;
                }
                break;
            default:
                break;
        }
    }
    failHere("expected an integer");
    return false;
}

bool Reader::flag(const Value& v, bool& out) {
    const Scalar* s = v.scalar;
    if (s != nullptr && s->kind == Scalar::Kind::Bool) {
        out = s->b;
        return true;
    }
    if (s != nullptr && s->isNumber()) {
        out = s->asDouble() != 0.0;
        return true;
    }
    failHere("expected true or false");
    return false;
}

bool Reader::text(const Value& v, std::string& out) {
    if (v.scalar == nullptr || v.scalar->kind != Scalar::Kind::String) {
        failHere("expected a string");
        return false;
    }
    out = *v.scalar->s;
    return true;
}

bool Reader::idText(const Value& v, std::string& out) {
    const Scalar* s = v.scalar;
    if (s != nullptr && s->kind == Scalar::Kind::String) {
        out = *s->s;
        return true;
    }
    if (s != nullptr &&
        (s->kind == Scalar::Kind::Uint || (s->kind == Scalar::Kind::Int && s->i >= 0))) {
        out = std::to_string(s->kind == Scalar::Kind::Uint ? s->u : static_cast<uint64_t>(s->i));
        return true;
    }
    failHere("expected an id (a string or a non-negative integer)");
    return false;
}

// ---- containers ----

Frame& Reader::push(const Shape& shape, Target target) {
    frames_.emplace_back();
    Frame& f = frames_.back();
    f.shape = &shape;
    f.target = target;
    f.array = opening_;
    return f;
}

bool Reader::object(const Value& v, const Shape& shape, Target target) {
    if (!v.isObject()) {
        failHere("expected an object");
        return false;
    }
    push(shape, target);
    return true;
}

bool Reader::list(const Value& v, const Shape& shape, Target target, const char* expected) {
    if (!v.isArray()) {
        failHere(expected);
        return false;
    }
    push(shape, target);
    return true;
}

bool Reader::pushObject(std::unique_ptr<SimObject>& slot) {
    if (objectDepth_ >= kMaxObjectDepth) {
        refuse("objects nested deeper than " + std::to_string(kMaxObjectDepth) + " levels");
        return false;
    }
    ++objectDepth_;
    pushNode(kObjectShape, slot, NodeKind::Object);
    return true;
}

// The path chain of a node whose frame is about to be pushed.
const PathNode* Reader::nodePath() {
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

// ---- what is resolved at the end ----

void Reader::linkLater(const PathNode* node, std::string suffix, const std::string& id,
                       SimNode** target, NodeKind only, bool anyKind) {
    pending_.push_back({node, std::move(suffix), id, target, only, anyKind});
}

void Reader::registerId(SimNode& n, const std::string& path) {
    if (!n.id.empty() && !doc_.links.emplace(n.id, &n).second) {
        fail(path, "duplicate id \"" + n.id + "\"");
    }
}

void Reader::linkParams(SimNode& n, const PathNode* path) {
    for (auto& [id, val] : n.params) {
        if (val.kind == SimValue::Kind::Link) {
            linkLater(path, "/params/" + std::to_string(id) + "/link", val.linkId, &val.link,
                      NodeKind::Object, true);
        }
    }
}

void Reader::sawFormat(bool ok) {
    sawFormat_ = true;
    formatOk_ = ok;
}

void Reader::sawVersion(bool ok, std::string spelled) {
    sawVersion_ = true;
    versionOk_ = ok;
    versionText_ = std::move(spelled);
}

std::string Reader::finish() {
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

namespace {

[[noreturn]] void raise(const std::string& path, const std::string& what) {
    throw pathOrRoot(path) + ": " + what;
}

}  // namespace

void Reader::resolve() {
    doc_.linkObjects();
    std::vector<SimObject*> all = doc_.allObjects();
    // Objects without an id get 1, 2, 3 ... in document order, skipping ids the file uses.
    std::unordered_map<uint64_t, bool> used;
    used.reserve(all.size());
    for (SimObject* o : all) {
        if (o->hasGuid && !used.emplace(o->guid, true).second) {
            raise(pathText(idPaths_[o]) + "/id", "duplicate object id " + std::to_string(o->guid));
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
        if (!p.anyKind && n->kind != p.only) {
            raise(pathText(p.node) + p.suffix, "\"" + p.id + "\" is not " + kindName(p.only));
        }
        *p.target = n;
    }
}

}  // namespace raydeck::hostsim::docread
