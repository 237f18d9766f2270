// The tables of a host document's objects (see DocumentMembers.cpp): objects with their points
// and polygons, hair, tags with their per-polygon arrays, and animation tracks.
//
// To read a new per-polygon array of a tag: a field in SimTag (SimDocument.h), one row in
// kPolygonArrays below, and its line in document-format.md.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <type_traits>

#include "plugins/c4d/host/HostNumbers.h"
#include "plugins/c4d/host/RotationOrder.h"
#include "tools/host/DocumentParser.h"

namespace raydeck::hostsim::docread {

namespace {

constexpr const char* kPolygonRecord = "expected [a, b, c, d] (or [a, b, c] for a triangle)";
constexpr const char* kUvwRecord = "expected four corners [[u, v, w], ...]";
constexpr const char* kRangeRecord = "expected an inclusive range [first, last]";
constexpr const char* kNormalRecord = "expected 12 numbers (four corner normals)";
constexpr const char* kTrackId = "expected [parameter] or [parameter, component]";
constexpr const char* kObjectId = "expected an unsigned 64-bit object id";

using Kind = Shape::Kind;
using ObjectList = std::vector<std::unique_ptr<SimObject>>;

extern const Shape kPointsShape, kPointShape, kPolygonsShape, kPolygonShape, kTagsShape,
    kTagPolygonArrays, kSelectionShape, kRangeShape, kTracksShape, kTrackShape, kTrackIdShape,
    kKeysShape, kKeyShape, kHairShape, kGuidesShape, kGuideShape, kGuidePointsShape,
    kGuidePointShape;

// ---- records of numbers ----

void storePoint(Reader&, Frame& f, const double* v, unsigned) {
    f.target.as<SimObject>().points.push_back(RdHostVector{v[0], v[1], v[2]});
}
void storeGuidePoint(Reader&, Frame& f, const double* v, unsigned) {
    f.target.as<SimObject>().hair.points.push_back(RdHostVector{v[0], v[1], v[2]});
}
void storePolygon(Reader&, Frame& f, const double* v, unsigned n) {
    // A triangle repeats its last corner.
    f.target.as<SimObject>().polygons.push_back(
        RdHostPolygon{int32_t(v[0]), int32_t(v[1]), int32_t(v[2]), int32_t(n == 4 ? v[3] : v[2])});
}
void storeRange(Reader& r, Frame& f, const double* v, unsigned) {
    const auto first = int32_t(v[0]), last = int32_t(v[1]);
    if (first < 0 || last < first) {
        r.failFrame("range [" + std::to_string(first) + ", " + std::to_string(last) +
                    "] is not 0 <= first <= last");
        return;
    }
    f.target.as<SimTag>().ranges.emplace_back(first, last);
}
void storeTrackId(Reader&, Frame& f, const double* v, unsigned n) {
    auto& t = f.target.as<SimTrack>();
    t.depth = int32_t(n);
    for (unsigned i = 0; i < n; ++i) {
        t.descId[i] = int32_t(v[i]);
    }
}

const RecordFormat kPointRecord{kExpectedVector, 3, 3, false, false, storePoint};
const RecordFormat kGuidePointRecord{kExpectedVector, 3, 3, false, false, storeGuidePoint};
const RecordFormat kPolygonFormat{kPolygonRecord, 3, 4, true, false, storePolygon};
const RecordFormat kRangeFormat{kRangeRecord, 2, 2, true, false, storeRange};
const RecordFormat kTrackIdFormat{kTrackId, 1, 2, true, false, storeTrackId};

// A list whose elements are records of `format`, each stored into the list's target.
template <const Shape& RecordShape, const char* const& Expected>
bool recordElement(Reader& r, Frame& f, const Value& v) {
    if (!isArray(r, v, Expected)) {
        return false;
    }
    const Target target = f.target;
    r.push(RecordShape, target);
    return true;
}
// ---- per-polygon arrays of a tag ----

// One record appended to a per-polygon array: four corners of three, or a run of numbers.
void appendRecord(std::vector<RdHostUVWPolygon>& out, const double* v, unsigned) {
    out.push_back(RdHostUVWPolygon{
        {v[0], v[1], v[2]}, {v[3], v[4], v[5]}, {v[6], v[7], v[8]}, {v[9], v[10], v[11]}});
}
template <typename Number, typename = std::enable_if_t<std::is_arithmetic_v<Number>>>
void appendRecord(std::vector<Number>& out, const double* v, unsigned n) {
    for (unsigned i = 0; i < n; ++i) {
        out.push_back(static_cast<Number>(v[i]));
    }
}

// A tag member holding one record per polygon of its object: `Count` numbers a record, or with
// `Groups` `Count` groups of three; `Given` the tag's flag that it was given, if it keeps one.
template <auto Field, const char* const& Expected, uint8_t Count, bool Groups,
          bool SimTag::*Given = nullptr>
struct PolygonArrayOf {
    using Records = std::remove_reference_t<decltype(std::declval<SimTag&>().*Field)>;
    // Elements of the vector per record.
    static constexpr size_t kStride =
        std::is_arithmetic_v<typename Records::value_type> ? (Groups ? 3 * Count : Count) : 1;

    static void store(Reader&, Frame& f, const double* v, unsigned n) {
        appendRecord(f.target.as<SimTag>().*Field, v, Groups ? 3 * n : n);
    }
    static inline const RecordFormat kFormat{Expected, Count, Count, false, Groups, store};
    static inline const Shape kRecord = recordOf(kFormat);
    static inline const Shape kList = listOf(recordElement<kRecord, Expected>);

    static bool read(Reader& r, Frame& f, const Value& v) {
        if (!isArray(r, v, Expected)) {
            return false;
        }
        SimTag& t = f.target.as<SimTag>();
        if constexpr (Given != nullptr) {
            t.*Given = true;
        }
        (t.*Field).clear();
        r.reserveWithinBudget(t.*Field, kStride * t.owner->polygons.size());
        r.push(kList, &t);
        return true;
    }
    static size_t records(const SimTag& t) { return (t.*Field).size() / kStride; }
};

// A per-polygon array: the member and how many records a tag holds. Its count must match the
// object's polygons when the tag is of `requiredBy` (0: no type needs it), when the array holds
// records, or when it was given at all (`given`).
struct PolygonArray {
    Member member;
    size_t (*records)(const SimTag&);
    int32_t requiredBy;
    bool SimTag::*given;
};

template <typename A>
PolygonArray polygonArray(const char* name, int32_t requiredBy, bool SimTag::*given = nullptr) {
    return PolygonArray{{name, A::read}, A::records, requiredBy, given};
}

const PolygonArray kPolygonArrays[] = {
    polygonArray<PolygonArrayOf<&SimTag::uvw, kUvwRecord, 4, true>>("uvw", host::kTagUVW),
    polygonArray<PolygonArrayOf<&SimTag::normals, kNormalRecord, 12, false, &SimTag::hasNormals>>(
        "normals", 0, &SimTag::hasNormals),
};

const std::vector<Member> kPolygonArrayMembers = [] {
    std::vector<Member> out;
    for (const PolygonArray& a : kPolygonArrays) {
        out.push_back(a.member);
    }
    return out;
}();
// ---- objects ----

void objectId(Reader& r, Frame& f, const Value& v) {
    auto& o = f.target.as<SimObject>();
    const Scalar* s = v.scalar;
    if (s != nullptr && s->kind == Scalar::Kind::Uint) {
        o.guid = s->u;
    } else if (s != nullptr && s->kind == Scalar::Kind::String) {
        const std::string& text = *s->s;
        char* end = nullptr;
        errno = 0;
        const unsigned long long n = std::strtoull(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || errno != 0 || text[0] == '-') {
            r.failHere(kObjectId);
            return;
        }
        o.guid = n;
    } else {
        r.failHere(kObjectId);
        return;
    }
    o.hasGuid = true;
    r.objectIdAt(o, f.path);
}

// "cache" and "deformCache": an object of its own, given once.
template <std::unique_ptr<SimObject> SimObject::*Slot>
bool cacheMember(Reader& r, Frame& f, const Value& v) {
    if (!v.isObject()) {
        r.failHere("expected an object");
        return false;
    }
    std::unique_ptr<SimObject>& slot = f.target.as<SimObject>().*Slot;
    if (slot) {
        r.failHere(kGivenTwice);
        return false;
    }
    return r.pushObject(slot);
}

template <RdHostVector SimObject::*Field>
bool objectVector(Reader& r, Frame& f, const Value& v) {
    return r.vector(v, f.target.as<SimObject>().*Field);
}

template <bool SimObject::*Field>
bool objectFlag(Reader& r, Frame& f, const Value& v) {
    return r.flag(v, f.target.as<SimObject>().*Field), false;
}

const Member kObjectMembers[] = {
    {"id", [](Reader& r, Frame& f, const Value& v) { return objectId(r, f, v), false; }},
    {"position", objectVector<&SimObject::position>},
    {"rotation", objectVector<&SimObject::rotation>},
    {"scale", objectVector<&SimObject::scale>},
    {"rotationOrder",
     [](Reader& r, Frame& f, const Value& v) {
         int32_t& order = f.target.as<SimObject>().rotationOrder;
         if (r.integer(v, order) && (order < 0 || order >= host::kRotationOrderCount)) {
             r.failHere("expected 0 to " + std::to_string(host::kRotationOrderCount - 1));
         }
         return false;
     }},
    {"matrix",
     [](Reader& r, Frame& f, const Value& v) {
         auto& o = f.target.as<SimObject>();
         o.explicitMatrix = true;
         return matrixValue(r, v, o.matrix);
     }},
    {"generatorInput", objectFlag<&SimObject::generatorInput>},
    {"selected", objectFlag<&SimObject::selected>},
    {"layer",
     [](Reader& r, Frame& f, const Value& v) {
         auto& o = f.target.as<SimObject>();
         if (r.idText(v, o.layerId)) {
             r.linkLater(f.path, "/layer", o.layerId, &o.layer, NodeKind::Layer, false);
         }
         return false;
     }},
    {"points",
     [](Reader& r, Frame& f, const Value& v) {
         if (!isArray(r, v)) {
             return false;
         }
         auto& o = f.target.as<SimObject>();
         o.points.clear();
         r.push(kPointsShape, &o);
         return true;
     }},
    {"polygons",
     [](Reader& r, Frame& f, const Value& v) {
         if (!isArray(r, v)) {
             return false;
         }
         auto& o = f.target.as<SimObject>();
         o.polygons.clear();
         r.push(kPolygonsShape, &o);
         return true;
     }},
    {"tags",
     [](Reader& r, Frame& f, const Value& v) {
         auto& o = f.target.as<SimObject>();
         return r.firstTime(o.tags) && r.list(v, kTagsShape, &o);
     }},
    {"tracks",
     [](Reader& r, Frame& f, const Value& v) {
         auto& o = f.target.as<SimObject>();
         return r.firstTime(o.tracks) && r.list(v, kTracksShape, &o.tracks);
     }},
    {"hair",
     [](Reader& r, Frame& f, const Value& v) {
         if (!v.isObject()) {
             r.failHere("expected an object");
             return false;
         }
         auto& o = f.target.as<SimObject>();
         o.hasHair = true;
         o.hair = SimHair();
         r.guideCounts().clear();
         r.push(kHairShape, &o);
         return true;
     }},
    {"cache", cacheMember<&SimObject::cache>},
    {"deformCache", cacheMember<&SimObject::deformCache>},
    {"children",
     [](Reader& r, Frame& f, const Value& v) {
         auto& o = f.target.as<SimObject>();
         return r.firstTime(o.children) && r.list(v, kObjectsShape, &o.children);
     }},
};

bool objectElement(Reader& r, Frame& f, const Value& v) {
    if (!v.isObject()) {
        r.failHere("expected an object");
        return false;
    }
    auto& list = f.target.as<ObjectList>();
    list.emplace_back();
    if (!r.pushObject(list.back())) {
        list.pop_back();
        return false;
    }
    return true;
}

void finishObject(Reader& r, Frame& f) {
    auto& o = f.target.as<SimObject>();
    for (int32_t vis :
         {host::objectParam::kEditorVisibility, host::objectParam::kRenderVisibility}) {
        if (o.params.find(vis) == o.params.end()) {
            SimValue inherit;
            inherit.number = host::objectParam::kVisibilityInherit;
            o.params[vis] = inherit;
        }
    }
    // Points may follow the polygons in the file: indices are checked once both are read.
    const size_t points = o.points.size();
    for (size_t i = 0; i < o.polygons.size(); ++i) {
        const RdHostPolygon& p = o.polygons[i];
        const int32_t idx[4] = {p.a, p.b, p.c, p.d};
        for (size_t k = 0; k < 4; ++k) {
            if (idx[k] < 0 || size_t(idx[k]) >= points) {
                r.fail(r.currentFramePath() + "/polygons/" + std::to_string(i) + "/" +
                           std::to_string(k),
                       "index " + std::to_string(idx[k]) + " out of range of " +
                           std::to_string(points) + " points");
                return;
            }
        }
    }
    const size_t n = o.polygons.size();
    for (size_t i = 0; i < o.tags.size(); ++i) {
        SimTag& t = *o.tags[i];
        t.next = i + 1 < o.tags.size() ? o.tags[i + 1].get() : nullptr;
        for (const PolygonArray& a : kPolygonArrays) {
            const size_t records = a.records(t);
            const bool checked = records != 0 || (a.requiredBy != 0 && t.type == a.requiredBy) ||
                                 (a.given != nullptr && t.*a.given);
            if (checked && records != n) {
                r.fail(r.currentFramePath() + "/tags/" + std::to_string(i) + "/" + a.member.name,
                       std::to_string(records) + " records for " + std::to_string(n) + " polygons");
                return;
            }
        }
    }
    for (size_t i = 0; i + 1 < o.tracks.size(); ++i) {
        o.tracks[i]->next = o.tracks[i + 1].get();
    }
    r.linkParams(o, f.path);
}
// ---- hair ----

const Member kHairMembers[] = {
    {"segments",
     [](Reader& r, Frame& f, const Value& v) {
         int32_t& segments = f.target.as<SimObject>().hair.segments;
         if (r.integer(v, segments) && segments < 0) {
             r.failHere("expected a segment count of at least 0");
         }
         return false;
     }},
    {"guides", [](Reader& r, Frame& f,
                  const Value& v) { return r.list(v, kGuidesShape, &f.target.as<SimObject>()); }},
};

void finishHair(Reader& r, Frame& f) {
    const auto& o = f.target.as<SimObject>();
    const size_t perGuide = o.hair.segments > 0 ? size_t(o.hair.segments) + 1 : 0;
    const std::vector<size_t>& counts = r.guideCounts();
    for (size_t i = 0; i < counts.size(); ++i) {
        if (counts[i] != perGuide) {
            r.fail(r.currentFramePath() + "/guides/" + std::to_string(i) + "/points",
                   std::to_string(counts[i]) + " points; " + std::to_string(o.hair.segments) +
                       " segments need " + std::to_string(perGuide));
            return;
        }
    }
}

bool guideElement(Reader& r, Frame& f, const Value& v) {
    if (!v.isObject()) {
        r.failHere("expected an object");
        return false;
    }
    auto& o = f.target.as<SimObject>();
    o.hair.rootUV.push_back(RdHostVector{0, 0, 0});
    r.guideCounts().push_back(0);
    r.push(kGuideShape, &o);
    return true;
}

const Member kGuideMembers[] = {
    {"points",
     [](Reader& r, Frame& f, const Value& v) {
         return r.list(v, kGuidePointsShape, &f.target.as<SimObject>());
     }},
    {"rootUV",
     [](Reader& r, Frame& f, const Value& v) {
         return r.vector(v, f.target.as<SimObject>().hair.rootUV.back());
     }},
};

bool guidePointElement(Reader& r, Frame& f, const Value& v) {
    ++r.guideCounts().back();
    return recordElement<kGuidePointShape, kExpectedVector>(r, f, v);
}
// ---- tags ----

bool tagElement(Reader& r, Frame& f, const Value& v) {
    if (!v.isObject()) {
        r.failHere("expected an object");
        return false;
    }
    auto& owner = f.target.as<SimObject>();
    r.pushNode(kTagShape, owner.tags, NodeKind::Tag).owner = &owner;
    return true;
}

const Member kTagMembers[] = {
    {"selected", [](Reader& r, Frame& f,
                    const Value& v) { return r.flag(v, f.target.as<SimTag>().selected), false; }},
    {"material",
     [](Reader& r, Frame& f, const Value& v) {
         auto& t = f.target.as<SimTag>();
         if (r.idText(v, t.materialId)) {
             r.linkLater(f.path, "/material", t.materialId, &t.material, NodeKind::Material, false);
         }
         return false;
     }},
    {"textureMatrix",
     [](Reader& r, Frame& f, const Value& v) {
         return matrixValue(r, v, f.target.as<SimTag>().textureMatrix);
     }},
    {"selection",
     [](Reader& r, Frame& f, const Value& v) {
         if (!isArray(r, v)) {
             return false;
         }
         auto& t = f.target.as<SimTag>();
         t.ranges.clear();
         r.push(kSelectionShape, &t);
         return true;
     }},
};

void finishTag(Reader& r, Frame& f) {
    auto& t = f.target.as<SimTag>();
    if (!(f.flags & kHasType)) {
        r.fail(r.currentFramePath() + "/type", "missing tag type");
        return;
    }
    // A tag's name is also its name parameter.
    if (t.params.find(host::nodeParam::kName) == t.params.end()) {
        SimValue name;
        name.kind = SimValue::Kind::Text;
        name.text = t.name;
        t.params[host::nodeParam::kName] = name;
    }
    r.linkParams(t, f.path);
}
// ---- animation tracks ----

const Member kTrackMembers[] = {
    {"id",
     [](Reader& r, Frame& f, const Value& v) {
         f.flags |= kHasId;
         auto& t = f.target.as<SimTrack>();
         if (v.scalar != nullptr) {
             t.depth = 1;
             r.integer(v, t.descId[0]);
             return false;
         }
         if (!v.array) {
             r.failHere("expected an integer");
             return false;
         }
         r.push(kTrackIdShape, &t);
         return true;
     }},
    {"keys",
     [](Reader& r, Frame& f, const Value& v) {
         if (!isArray(r, v)) {
             return false;
         }
         auto& t = f.target.as<SimTrack>();
         t.hasCurve = true;
         t.curve.keys.clear();
         r.push(kKeysShape, &t.curve.keys);
         return true;
     }},
    {"interpolation",
     [](Reader& r, Frame& f, const Value& v) {
         std::string mode;
         if (r.text(v, mode)) {
             auto& t = f.target.as<SimTrack>();
             if (mode == "linear") {
                 t.interpolation = Interpolation::Linear;
             } else if (mode == "step") {
                 t.interpolation = Interpolation::Step;
             } else {
                 r.failHere("unknown interpolation \"" + mode +
                            "\"; expected \"linear\" or \"step\"");
             }
         }
         return false;
     }},
};

void finishTrack(Reader& r, Frame& f) {
    auto& t = f.target.as<SimTrack>();
    if (!(f.flags & kHasId)) {
        r.fail(r.currentFramePath() + "/id", "missing track id [parameter, component]");
        return;
    }
    // The host keeps a curve's keys in time order.
    std::stable_sort(
        t.curve.keys.begin(), t.curve.keys.end(),
        [](const SimKey& a, const SimKey& b) { return timeSeconds(a.time) < timeSeconds(b.time); });
    r.linkParams(t, f.path);
}

bool keyElement(Reader& r, Frame& f, const Value& v) {
    if (!v.isObject()) {
        r.failHere("expected an object");
        return false;
    }
    auto& keys = f.target.as<std::vector<SimKey>>();
    keys.emplace_back();
    r.push(kKeyShape, &keys.back());
    return true;
}

const Member kKeyMembers[] = {
    {"time",
     [](Reader& r, Frame& f, const Value& v) {
         f.flags |= kHasTime;
         return timeValue(r, v, f.target.as<SimKey>().time);
     }},
    {"value",
     [](Reader& r, Frame& f, const Value& v) {
         f.flags |= kHasValue;
         return r.number(v, f.target.as<SimKey>().value), false;
     }},
};

void finishKey(Reader& r, Frame& f) {
    if (!(f.flags & kHasTime)) {
        r.fail(r.currentFramePath() + "/time", "missing key time");
    } else if (!(f.flags & kHasValue)) {
        r.fail(r.currentFramePath() + "/value", "missing key value");
    }
}
// ---- the shapes ----

const Shape kPointShape = recordOf(kPointRecord);
const Shape kPointsShape = listOf(recordElement<kPointShape, kExpectedVector>);
const Shape kPolygonShape = recordOf(kPolygonFormat);
const Shape kPolygonsShape = listOf(recordElement<kPolygonShape, kPolygonRecord>);
const Shape kTagsShape = listOf(tagElement);
const Shape kTagPolygonArrays{Kind::Members,
                              kPolygonArrayMembers.data(),
                              kPolygonArrayMembers.size(),
                              &kNodeShape,
                              nullptr,
                              nullptr,
                              nullptr};
const Shape kRangeShape = recordOf(kRangeFormat);
const Shape kSelectionShape = listOf(recordElement<kRangeShape, kRangeRecord>);
const Shape kTracksShape = listOf(nodeElement<SimTrack, kTrackShape, NodeKind::Track>);
const Shape kTrackShape = members(kTrackMembers, finishTrack, &kNodeShape);
const Shape kTrackIdShape = recordOf(kTrackIdFormat);
const Shape kKeysShape = listOf(keyElement);
const Shape kKeyShape = members(kKeyMembers, finishKey);
const Shape kHairShape = members(kHairMembers, finishHair);
const Shape kGuidesShape = listOf(guideElement);
const Shape kGuideShape = members(kGuideMembers);
const Shape kGuidePointShape = recordOf(kGuidePointRecord);
const Shape kGuidePointsShape = listOf(guidePointElement);

}  // namespace

const Shape kObjectsShape = listOf(objectElement);
const Shape kObjectShape = members(kObjectMembers, finishObject, &kNodeShape);
const Shape kTagShape = members(kTagMembers, finishTag, &kTagPolygonArrays);

}  // namespace raydeck::hostsim::docread
