// The reader of host document files, internal to tools/host: one streaming pass of JSON events
// straight into the document's arrays, led by tables (DocumentMembers.cpp) that say, for every
// kind of JSON container in the format, what its members or elements are, where each goes and
// how it is checked. An explicit stack of frames keeps the place in the file, so that nesting
// costs no call stack; the JSON path of a value is built from it only when a fault is reported.
#ifndef RAYDECK_TOOLS_HOST_DOCUMENTPARSER_H
#define RAYDECK_TOOLS_HOST_DOCUMENTPARSER_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/host/DocumentText.h"
#include "tools/host/SimDocument.h"

namespace raydeck::hostsim::docread {

using doctext::Scalar;

class Reader;
struct Frame;

// What stands where a member's or an element's value is: a scalar, or the start of a container.
struct Value {
    const Scalar* scalar = nullptr;  // null for a container
    bool array = false;              // the container is an array
    bool isObject() const { return scalar == nullptr && !array; }
    bool isArray() const { return scalar == nullptr && array; }
};

// Reads one value in a frame; for a container, answers true when it pushed the container's frame
// (false: the container is skipped).
using ReadFn = bool (*)(Reader&, Frame&, const Value&);
// Runs at the end of a container, for the checks that need all of it.
using FinishFn = void (*)(Reader&, Frame&);

// What a frame fills, with its type: a frame's reader takes it back only as the type it was
// given as.
template <typename T>
inline constexpr char kTypeTag = 0;

class Target {
  public:
    Target() = default;
    template <typename T>
    Target(T* p) : p_(p), type_(&kTypeTag<T>) {}  // NOLINT: a frame's target from any pointer
    template <typename T>
    T& as() const {
        if (type_ != &kTypeTag<T>) {
            throw std::logic_error("document reader: a frame read as another kind");
        }
        return *static_cast<T*>(p_);
    }

  private:
    void* p_ = nullptr;
    const void* type_ = nullptr;
};

// A member of a JSON object: its name and how its value is read.
struct Member {
    const char* name;
    ReadFn read;
    bool evenAfterAFault = false;  // read after the first fault too ("format", "version")
};

// A record of numbers, as an array: [x, y, z], a polygon, a range, twelve normal components, or
// (in groups) four corners of three. Its numbers gather in the reader's record buffer and are
// stored when the record ends, whole.
struct RecordFormat {
    const char* expected;  // the fault when the record has the wrong size
    uint8_t min, max;      // numbers (or groups) in a record
    bool integers;         // int32 numbers, else doubles
    bool groups;           // each element a [x, y, z] of its own
    // Stores a whole record of n numbers (n groups: 3n numbers) into the frame's target.
    void (*store)(Reader&, Frame&, const double* numbers, unsigned n);
};

// How a JSON container of the format is read.
struct Shape {
    enum class Kind : uint8_t {
        Skip,     // not read: after a fault, or a value nothing reads
        Members,  // an object of named members (`members`; any other name is refused)
        Map,      // an object of free keys, each value read by `element` (parameters)
        List,     // an array, each element read by `element`
        Record,   // an array of numbers (`record`)
    };
    Kind kind = Kind::Skip;
    const Member* members = nullptr;
    size_t memberCount = 0;
    const Shape* more = nullptr;  // Members: further members (those every node has)
    ReadFn element = nullptr;
    const RecordFormat* record = nullptr;
    FinishFn finish = nullptr;
};

// Frame flags: which members a Members frame has seen.
constexpr uint16_t kHasType = 1, kHasTime = 2, kHasValue = 4, kHasNum = 8, kHasDen = 16,
                   kHasLink = 32, kHasGradient = 64, kHasColor = 128, kHasId = 256;

// Where a node sits in the file, kept for faults found after its frame is gone (unknown links,
// duplicate ids): a chain of steps, one allocation per node.
struct PathNode {
    const PathNode* parent = nullptr;
    std::string step;
};
std::string pathText(const PathNode* p);

struct Frame {
    const Shape* shape = nullptr;
    Target target;                   // what the frame fills
    SimNode* node = nullptr;         // node frames: the node (also the target, as its own type)
    const PathNode* path = nullptr;  // node frames
    const Member* member = nullptr;  // Members: the member being read, null for an unknown one
    std::string key;                 // objects: the member being read
    size_t index = 0;                // arrays: elements completed
    uint32_t count = 0;              // records: numbers (or groups) read
    uint16_t flags = 0;
    uint8_t base = 0;  // records: where in the record buffer its numbers go
    bool array = false;
};

// Links to resolve once every node is known.
struct PendingLink {
    const PathNode* node;
    std::string suffix;
    std::string id;
    SimNode** target;
    NodeKind only;  // the kind the link must name
    bool anyKind;
};

// The shapes of the format (DocumentMembers.cpp, DocumentObjectMembers.cpp).
extern const Shape kRootShape, kNodeShape, kObjectsShape, kObjectShape, kTagShape, kVectorShape;
extern const RecordFormat kVectorRecord;

// Fault messages of the format that the engine and the tables share.
extern const char* const kTimeKinds;
extern const char* const kGivenTwice;
extern const char* const kExpectedVector;

class Reader {
  public:
    // `textBytes`, the document's size, bounds what the reader reserves ahead of the records.
    Reader(SimDocument& doc, size_t textBytes);

    // ---- JSON events (numbers arrive as their text) ----
    bool Null();
    bool Bool(bool v);
    bool Int(int) { return false; }
    bool Uint(unsigned) { return false; }
    bool Int64(int64_t) { return false; }
    bool Uint64(uint64_t) { return false; }
    bool Double(double) { return false; }
    bool RawNumber(const char* text, unsigned length, bool);
    bool String(const char* text, unsigned length, bool);
    bool StartObject() { return open(false); }
    bool StartArray() { return open(true); }
    bool Key(const char* text, unsigned length, bool);
    bool EndObject(unsigned) { return close(); }
    bool EndArray(unsigned) { return close(); }

    // The text is not JSON, for `reason`.
    void syntaxError(const std::string& reason);
    // Refuses the document where it stands and stops reading.
    void refuse(const std::string& what);
    // The pass stopped on its own (a root that is no object, nesting too deep).
    bool stopped() const { return stop_ || rootRefused_; }
    // The fault to report, or "" when the document is good; runs the checks that need the whole
    // document.
    std::string finish();

    // ---- for the tables: faults ----
    void fail(const std::string& path, const std::string& what);
    void failHere(const std::string& what) { fail(valuePath(), what); }
    void failFrame(const std::string& what) { fail(framePath(frames_.size() - 1), what); }
    bool failed() const { return failed_; }
    // The path of frames_[level], and of the value being read.
    std::string framePath(size_t level) const;
    std::string valuePath() const { return framePath(frames_.size()); }
    std::string currentFramePath() const { return framePath(frames_.size() - 1); }

    // ---- for the tables: scalar reads with the format's messages; a container is refused ----
    bool number(const Value& v, double& out);
    bool integer(const Value& v, int32_t& out);
    bool flag(const Value& v, bool& out);
    bool text(const Value& v, std::string& out);
    bool idText(const Value& v, std::string& out);

    // ---- for the tables: containers ----
    // Pushes the frame of the container that stands in the current frame.
    Frame& push(const Shape& shape, Target target);
    // Checks that the value is an object (or an array) and pushes its frame; the fault otherwise.
    bool object(const Value& v, const Shape& shape, Target target);
    bool list(const Value& v, const Shape& shape, Target target,
              const char* expected = "expected an array");
    bool vector(const Value& v, RdHostVector& out) {
        return list(v, kVectorShape, &out, "expected [x, y, z]");
    }
    // A new node in `slot` (or at the end of `list`) and its frame.
    template <typename T>
    T& pushNode(const Shape& shape, std::unique_ptr<T>& slot, NodeKind kind) {
        slot = std::make_unique<T>();
        slot->kind = kind;
        slot->document = &doc_;
        const PathNode* p = nodePath();
        Frame& f = push(shape, slot.get());
        f.node = slot.get();
        f.path = p;
        return *slot;
    }
    template <typename T>
    T& pushNode(const Shape& shape, std::vector<std::unique_ptr<T>>& list, NodeKind kind) {
        list.emplace_back();
        return pushNode(shape, list.back(), kind);
    }
    // An object node one level below the current one; false when that is too deep: the
    // document is refused there.
    bool pushObject(std::unique_ptr<SimObject>& slot);
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

    // ---- for the tables: the document and what is resolved at its end ----
    SimDocument& document() { return doc_; }
    void linkLater(const PathNode* node, std::string suffix, const std::string& id,
                   SimNode** target, NodeKind only, bool anyKind);
    void registerId(SimNode& n, const std::string& path);
    void objectIdAt(const SimObject& o, const PathNode* path) { idPaths_[&o] = path; }
    // The links among a node's parameters, resolved at the end.
    void linkParams(SimNode& n, const PathNode* path);
    // Room for `count` records reserved up front for speed, but never more in all than a few
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
    // Points per guide of the hair being read.
    std::vector<size_t>& guideCounts() { return guideCounts_; }
    // The root's "format" and "version".
    void sawFormat(bool ok);
    void sawVersion(bool ok, std::string spelled);

  private:
    bool scalar(const Scalar& v);
    bool open(bool array);
    bool close();
    void advance();
    bool read(Frame& f, const Value& v);
    bool recordElement(Frame& f, const Value& v);
    void finishRecord(Frame& f);
    const PathNode* nodePath();
    void unknownMember(const Frame& f);
    void resolve();

    SimDocument& doc_;
    size_t reserveBudget_;  // bytes that reserveWithinBudget may still reserve
    std::vector<Frame> frames_;
    std::deque<PathNode> paths_;
    std::vector<PendingLink> pending_;
    std::unordered_map<const SimObject*, const PathNode*> idPaths_;
    std::vector<size_t> guideCounts_;
    int objectDepth_ = 0;
    double record_[12] = {};  // the numbers of the record being read
    std::string text_;        // the string being read
    bool opening_ = false;    // the container being opened is an array

    bool sawRoot_ = false;
    bool rootRefused_ = false;  // the text's value is no object
    bool sawFormat_ = false, formatOk_ = false;
    bool sawVersion_ = false, versionOk_ = false;
    std::string versionText_;

    bool stop_ = false;  // refused: the pass ends at once
    bool failed_ = false;
    std::string error_;        // the first fault in the content: "<path>: <reason>"
    std::string syntaxError_;  // the text is not JSON
};

// ---- what the tables share ----

template <size_t N>
constexpr Shape members(const Member (&rows)[N], FinishFn finish = nullptr,
                        const Shape* more = nullptr) {
    return Shape{Shape::Kind::Members, rows, N, more, nullptr, nullptr, finish};
}
constexpr Shape listOf(ReadFn element) {
    return Shape{Shape::Kind::List, nullptr, 0, nullptr, element, nullptr, nullptr};
}
constexpr Shape recordOf(const RecordFormat& format) {
    return Shape{Shape::Kind::Record, nullptr, 0, nullptr, nullptr, &format, nullptr};
}

// A time: seconds, or {"num": n, "den": d}.
bool timeValue(Reader& r, const Value& v, RdHostTime& out);
// A placement: {"offset", "x", "y", "z"}, the identity where a member is missing.
bool matrixValue(Reader& r, const Value& v, RdHostMatrix& out);
// An array member that needs its target made ready first: the fault when it is no array.
bool isArray(Reader& r, const Value& v, const char* expected = "expected an array");

// A list element that is a node of type T, appended to the frame's list.
template <typename T, const Shape& S, NodeKind K>
bool nodeElement(Reader& r, Frame& f, const Value& v) {
    if (!v.isObject()) {
        r.failHere("expected an object");
        return false;
    }
    r.pushNode(S, f.target.as<std::vector<std::unique_ptr<T>>>(), K);
    return true;
}

}  // namespace raydeck::hostsim::docread

#endif
