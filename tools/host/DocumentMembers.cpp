// What a host document holds, as tables: for every kind of JSON container of the format
// (document-format.md), its members or elements, where each goes and how it is checked. The
// engine (DocumentParser.cpp) refuses any member these tables do not name. This file: the
// document, what every node has, parameters, layers, materials and shaders; objects, tags and
// tracks are in DocumentObjectMembers.cpp.
#include <cerrno>
#include <cstdlib>
#include <limits>

#include "tools/host/DocumentParser.h"

namespace raydeck::hostsim::docread {

const char* const kTimeKinds = "expected seconds or {\"num\": n, \"den\": d}";
const char* const kGivenTwice = "given twice: the nodes it names are already read";
const char* const kExpectedVector = "expected [x, y, z]";

namespace {
extern const Shape kTimeShape, kMatrixShape;
}  // namespace

bool timeValue(Reader& r, const Value& v, RdHostTime& out) {
    if (v.scalar != nullptr) {
        if (!v.scalar->isNumber()) {
            r.failHere(kTimeKinds);
        } else {
            out = RdHostTime{v.scalar->asDouble(), 1.0};
        }
        return false;
    }
    if (v.array) {
        r.failHere(kTimeKinds);
        return false;
    }
    out = RdHostTime{0.0, 1.0};
    r.push(kTimeShape, &out);
    return true;
}

bool matrixValue(Reader& r, const Value& v, RdHostMatrix& out) {
    if (!v.isObject()) {
        r.failHere("expected an object");
        return false;
    }
    out = RdHostMatrix{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    r.push(kMatrixShape, &out);
    return true;
}

bool isArray(Reader& r, const Value& v, const char* expected) {
    if (!v.isArray()) {
        r.failHere(expected);
        return false;
    }
    return true;
}

namespace {

constexpr const char* kValueKinds =
    "expected a number, [x, y, z], a string, {\"link\": id} or {\"gradient\": [...]}";

using Kind = Shape::Kind;
using ParamMap = std::map<int32_t, SimValue>;

extern const Shape kServicesShape, kLayersShape, kMaterialsShape, kLayerShape, kMaterialShape,
    kShaderShape, kShadersShape, kChannelsShape, kParamsShape, kParamObjectShape, kGradientShape,
    kKnotShape, kTimeShape, kMatrixShape;

// The optional "id" by which links name a layer, material or shader.
bool linkId(Reader& r, Frame& f, const Value& v) {
    if (r.idText(v, f.node->id)) {
        r.registerId(*f.node, r.valuePath());
    }
    return false;
}

// ---- the document ----

const Member kRootMembers[] = {
    {"format",
     [](Reader& r, Frame&, const Value& v) {
         r.sawFormat(v.scalar != nullptr && v.scalar->kind == Scalar::Kind::String &&
                     *v.scalar->s == "raydeck-host-document");
         return false;
     },
     true},
    {"version",
     [](Reader& r, Frame&, const Value& v) {
         if (v.scalar != nullptr) {
             r.sawVersion(v.scalar->isNumber() && v.scalar->asDouble() == 1.0, v.scalar->spelled());
         } else {
             r.sawVersion(false, v.array ? "[...]" : "{...}");
         }
         return false;
     },
     true},
    {"file",
     [](Reader& r, Frame&, const Value& v) { return r.text(v, r.document().fileName), false; }},
    {"folder",
     [](Reader& r, Frame&, const Value& v) { return r.text(v, r.document().folder), false; }},
    {"minTime",
     [](Reader& r, Frame&, const Value& v) { return timeValue(r, v, r.document().minTime); }},
    {"time", [](Reader& r, Frame&, const Value& v) { return timeValue(r, v, r.document().time); }},
    {"services",
     [](Reader& r, Frame&, const Value& v) { return r.object(v, kServicesShape, &r.document()); }},
    {"layers",
     [](Reader& r, Frame&, const Value& v) {
         return r.firstTime(r.document().layers) && r.list(v, kLayersShape, &r.document().layers);
     }},
    {"materials",
     [](Reader& r, Frame&, const Value& v) {
         return r.firstTime(r.document().materials) &&
                r.list(v, kMaterialsShape, &r.document().materials);
     }},
    {"objects",
     [](Reader& r, Frame&, const Value& v) {
         return r.firstTime(r.document().objects) &&
                r.list(v, kObjectsShape, &r.document().objects);
     }},
};

const Member kServicesMembers[] = {
    {"hair",
     [](Reader& r, Frame&, const Value& v) { return r.flag(v, r.document().hairService), false; }},
    {"gradient", [](Reader& r, Frame&,
                    const Value& v) { return r.flag(v, r.document().gradientService), false; }},
};
// ---- what every node has ----

const Member kNodeMembers[] = {
    {"type",
     [](Reader& r, Frame& f, const Value& v) {
         f.flags |= kHasType;
         return r.integer(v, f.node->type), false;
     }},
    {"name", [](Reader& r, Frame& f, const Value& v) { return r.text(v, f.node->name), false; }},
    {"params", [](Reader& r, Frame& f,
                  const Value& v) { return r.object(v, kParamsShape, &f.node->params); }},
};

// A parameter value; its JSON kind decides the stored kind.
bool paramValue(Reader& r, Frame& f, const Value& v) {
    const std::string& key = f.key;
    char* end = nullptr;
    errno = 0;
    const long long id = std::strtoll(key.c_str(), &end, 10);
    if (key.empty() || *end != '\0' || errno != 0 || id < std::numeric_limits<int32_t>::min() ||
        id > std::numeric_limits<int32_t>::max()) {
        r.failHere("parameter key \"" + key + "\" is not a number");
        return false;
    }
    SimValue& out = f.target.as<ParamMap>()[int32_t(id)];
    out = SimValue();
    if (v.scalar != nullptr) {
        if (v.scalar->kind == Scalar::Kind::String) {
            out.kind = SimValue::Kind::Text;
            out.text = *v.scalar->s;
        } else if (v.scalar->kind == Scalar::Kind::Null) {
            r.failHere(kValueKinds);
        } else {
            r.number(v, out.number);
        }
        return false;
    }
    if (v.array) {
        out.kind = SimValue::Kind::Vector;
        r.push(kVectorShape, &out.vector);
        return true;
    }
    r.push(kParamObjectShape, &out);
    return true;
}

const Member kParamObjectMembers[] = {
    {"link",
     [](Reader& r, Frame& f, const Value& v) {
         if (r.idText(v, f.target.as<SimValue>().linkId)) {
             f.flags |= kHasLink;
         }
         return false;
     }},
    {"gradient",
     [](Reader& r, Frame& f, const Value& v) {
         if (!isArray(r, v)) {
             return false;
         }
         f.flags |= kHasGradient;
         auto& knots = f.target.as<SimValue>().gradient;
         knots.clear();
         r.push(kGradientShape, &knots);
         return true;
     }},
};

void finishParamObject(Reader& r, Frame& f) {
    auto& val = f.target.as<SimValue>();
    if (f.flags & kHasLink) {
        val.kind = SimValue::Kind::Link;
        val.gradient.clear();
    } else if (f.flags & kHasGradient) {
        val.kind = SimValue::Kind::Gradient;
    } else {
        r.failFrame(kValueKinds);
    }
}

const Member kKnotMembers[] = {
    {"position",
     [](Reader& r, Frame& f, const Value& v) {
         return r.number(v, f.target.as<GradientKnot>().position), false;
     }},
    {"color",
     [](Reader& r, Frame& f, const Value& v) {
         f.flags |= kHasColor;
         return r.vector(v, f.target.as<GradientKnot>().color);
     }},
};

const Member kTimeMembers[] = {
    {"num",
     [](Reader& r, Frame& f, const Value& v) {
         f.flags |= kHasNum;
         return r.number(v, f.target.as<RdHostTime>().num), false;
     }},
    {"den",
     [](Reader& r, Frame& f, const Value& v) {
         f.flags |= kHasDen;
         return r.number(v, f.target.as<RdHostTime>().den), false;
     }},
};

const Member kMatrixMembers[] = {
    {"offset", [](Reader& r, Frame& f,
                  const Value& v) { return r.vector(v, f.target.as<RdHostMatrix>().off); }},
    {"x", [](Reader& r, Frame& f,
             const Value& v) { return r.vector(v, f.target.as<RdHostMatrix>().v1); }},
    {"y", [](Reader& r, Frame& f,
             const Value& v) { return r.vector(v, f.target.as<RdHostMatrix>().v2); }},
    {"z", [](Reader& r, Frame& f,
             const Value& v) { return r.vector(v, f.target.as<RdHostMatrix>().v3); }},
};
// ---- layers, materials, shaders ----

const Member kLinkableMembers[] = {{"id", linkId}};

const Member kMaterialMembers[] = {
    {"id", linkId},
    {"channels",
     [](Reader& r, Frame& f, const Value& v) {
         return r.list(v, kChannelsShape, &f.target.as<SimMaterial>());
     }},
    {"container",
     [](Reader& r, Frame& f, const Value& v) {
         return r.object(v, kParamsShape, &f.target.as<SimMaterial>().container);
     }},
    {"shaders",
     [](Reader& r, Frame& f, const Value& v) {
         auto& m = f.target.as<SimMaterial>();
         return r.firstTime(m.shaders) && r.list(v, kShadersShape, &m.shaders);
     }},
};

void finishLinkable(Reader& r, Frame& f) {
    r.linkParams(*f.node, f.path);
}

void finishMaterial(Reader& r, Frame& f) {
    auto& m = f.target.as<SimMaterial>();
    for (size_t i = 0; i + 1 < m.shaders.size(); ++i) {
        m.shaders[i]->next = m.shaders[i + 1].get();
    }
    r.linkParams(m, f.path);
}

void storeVector(Reader&, Frame& f, const double* v, unsigned) {
    f.target.as<RdHostVector>() = RdHostVector{v[0], v[1], v[2]};
}
// ---- the shapes ----

const Shape kServicesShape = members(kServicesMembers);
const Shape kLayersShape = listOf(nodeElement<SimLayer, kLayerShape, NodeKind::Layer>);
const Shape kLayerShape = members(kLinkableMembers, finishLinkable, &kNodeShape);
const Shape kMaterialsShape = listOf(nodeElement<SimMaterial, kMaterialShape, NodeKind::Material>);
const Shape kMaterialShape = members(kMaterialMembers, finishMaterial, &kNodeShape);
const Shape kShadersShape = listOf(nodeElement<SimShader, kShaderShape, NodeKind::Shader>);
const Shape kShaderShape = members(kLinkableMembers, finishLinkable, &kNodeShape);
const Shape kChannelsShape = listOf([](Reader& r, Frame& f, const Value& v) {
    int32_t c = 0;
    if (r.integer(v, c)) {
        f.target.as<SimMaterial>().channels.insert(c);
    }
    return false;
});
const Shape kParamsShape{Kind::Map, nullptr, 0, nullptr, paramValue, nullptr, nullptr};
const Shape kParamObjectShape = members(kParamObjectMembers, finishParamObject);
const Shape kGradientShape = listOf([](Reader& r, Frame& f, const Value& v) {
    if (!v.isObject()) {
        r.failHere("expected an object");
        return false;
    }
    auto& knots = f.target.as<std::vector<GradientKnot>>();
    knots.emplace_back();
    r.push(kKnotShape, &knots.back());
    return true;
});
const Shape kKnotShape = members(kKnotMembers, [](Reader& r, Frame& f) {
    if (!(f.flags & kHasColor)) {
        r.fail(r.currentFramePath() + "/color", "missing knot colour");
    }
});
const Shape kTimeShape = members(kTimeMembers, [](Reader& r, Frame& f) {
    if ((f.flags & (kHasNum | kHasDen)) != (kHasNum | kHasDen)) {
        r.failFrame(kTimeKinds);
    }
});
const Shape kMatrixShape = members(kMatrixMembers);

}  // namespace

const Shape kNodeShape = members(kNodeMembers);
const RecordFormat kVectorRecord{kExpectedVector, 3, 3, false, false, storeVector};
const Shape kVectorShape = recordOf(kVectorRecord);
const Shape kRootShape = members(kRootMembers);

}  // namespace raydeck::hostsim::docread
