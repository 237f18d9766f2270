// The host simulator's table, second half: documents, selection, nodes, objects, polygons,
// tags, materials and shaders, animation tracks and hair, answered from the SimDocument model.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "plugins/c4d/host/HostNumbers.h"
#include "tools/host/SimHostHandles.h"

namespace raydeck::hostsim {

namespace {

using namespace handles;

// --- documents ------------------------------------------------------------------------------
int32_t documentGetTime(const RdHostDocument* d, int32_t id, RdHostTime* out) {
    if (!d || !out) {
        return 0;
    }
    if (id == RD_HOST_DOC_TIME) {
        *out = doc(d)->time;
        return 1;
    }
    if (id == RD_HOST_DOC_MINTIME) {
        *out = doc(d)->minTime;
        return 1;
    }
    return 0;
}
int32_t documentSetTime(RdHostDocument* d, int32_t id, const RdHostTime* value) {
    if (!d || !value || id != RD_HOST_DOC_TIME) {
        return 0;
    }
    doc(d)->time = *value;
    return 1;
}
int32_t documentGetFilename(const RdHostDocument* d, int32_t id, RdHostFilename* out) {
    if (!d || !out) {
        return 0;
    }
    if (id == RD_HOST_DOC_PATH) {
        fname(out)->set(doc(d)->folder);
        return 1;
    }
    if (id == RD_HOST_DOC_FILENAME) {
        fname(out)->set(doc(d)->fileName);
        return 1;
    }
    return 0;
}
int32_t documentExecutePasses(RdHostDocument* d, int32_t, int32_t animation, int32_t, int32_t,
                              int32_t) {
    if (!d) {
        return 0;
    }
    if (animation) {
        doc(d)->evaluate();
    } else {
        for (SimObject* o : doc(d)->allObjects()) {
            o->updateMatrix();
        }
    }
    return 1;
}
RdHostNode* documentGetFirstObject(const RdHostDocument* d) {
    return d ? handle(doc(d)->firstObject()) : nullptr;
}

// --- selection ------------------------------------------------------------------------------
RdHostAtomArray* atomArrayAlloc() {
    count(+1);
    return reinterpret_cast<RdHostAtomArray*>(new SimAtomArray());
}
void atomArrayFree(RdHostAtomArray* a) {
    if (a) {
        delete reinterpret_cast<SimAtomArray*>(a);
        count(-1);
    }
}
int32_t documentGetSelection(const RdHostDocument* d, RdHostAtomArray* out, int32_t) {
    if (!d || !out) {
        return 0;
    }
    reinterpret_cast<SimAtomArray*>(out)->entries = doc(d)->selection();
    return 1;
}
int32_t atomArrayCount(const RdHostAtomArray* a) {
    return a ? static_cast<int32_t>(reinterpret_cast<const SimAtomArray*>(a)->entries.size()) : 0;
}
RdHostNode* atomArrayGet(const RdHostAtomArray* a, int32_t i) {
    if (!a) {
        return nullptr;
    }
    const auto& e = reinterpret_cast<const SimAtomArray*>(a)->entries;
    return i >= 0 && static_cast<size_t>(i) < e.size() ? handle(e[i]) : nullptr;
}

// --- nodes ----------------------------------------------------------------------------------
int32_t nodeGetType(const RdHostNode* n) {
    return n ? node(n)->type : 0;
}
int32_t nodeGetName(const RdHostNode* n, RdHostString* out) {
    if (!n || !out) {
        return 0;
    }
    setText(out, node(n)->name);
    return 1;
}
int32_t nodeGetInt(const RdHostNode* n, int32_t id, int32_t* out) {
    const SimValue* v = param(n, id);
    if (!v || !out || v->kind != SimValue::Kind::Number) {
        return 0;
    }
    double d = std::trunc(v->number);
    if (!(d == d)) {
        d = 0.0;
    }
    d = std::min<double>(std::max<double>(d, std::numeric_limits<int32_t>::min()),
                         std::numeric_limits<int32_t>::max());
    *out = static_cast<int32_t>(d);
    return 1;
}
int32_t nodeGetFloat(const RdHostNode* n, int32_t id, double* out) {
    const SimValue* v = param(n, id);
    if (!v || !out || v->kind != SimValue::Kind::Number) {
        return 0;
    }
    *out = v->number;
    return 1;
}
int32_t nodeGetVector(const RdHostNode* n, int32_t id, RdHostVector* out) {
    const SimValue* v = param(n, id);
    if (!v || !out || v->kind != SimValue::Kind::Vector) {
        return 0;
    }
    *out = v->vector;
    return 1;
}
int32_t nodeGetString(const RdHostNode* n, int32_t id, RdHostString* out) {
    const SimValue* v = param(n, id);
    if (!v || !out || v->kind != SimValue::Kind::Text) {
        return 0;
    }
    setText(out, v->text);
    return 1;
}
int32_t nodeGetFilename(const RdHostNode* n, int32_t id, RdHostFilename* out) {
    const SimValue* v = param(n, id);
    if (!v || !out || v->kind != SimValue::Kind::Text) {
        return 0;
    }
    fname(out)->set(v->text);
    return 1;
}
int32_t nodeGetLink(const RdHostNode* n, int32_t id, const RdHostDocument*, RdHostNode** out) {
    if (out) {
        *out = nullptr;
    }
    const SimValue* v = param(n, id);
    if (!v || !out || v->kind != SimValue::Kind::Link || !v->link) {
        return 0;
    }
    *out = handle(v->link);
    return 1;
}
int32_t nodeGetGradient(const RdHostNode* n, int32_t id, const RdHostGradient** out) {
    const SimValue* v = param(n, id);
    if (!v || !out || v->kind != SimValue::Kind::Gradient) {
        return 0;
    }
    *out = reinterpret_cast<const RdHostGradient*>(v);
    return 1;
}
int32_t gradientGetKnotColor(const RdHostGradient* g, int32_t knot, RdHostVector* out) {
    if (!g || !out || !gradientService()) {
        return 0;
    }
    const auto& knots = reinterpret_cast<const SimValue*>(g)->gradient;
    if (knot < 0 || static_cast<size_t>(knot) >= knots.size()) {
        return 0;
    }
    *out = knots[knot].color;
    return 1;
}

// --- objects --------------------------------------------------------------------------------
RdHostNode* objectGetNext(const RdHostNode* n) {
    SimObject* o = asObject(n);
    return o ? handle(o->next) : nullptr;
}
RdHostNode* objectGetDown(const RdHostNode* n) {
    SimObject* o = asObject(n);
    return o ? handle(o->down) : nullptr;
}
int32_t objectGetBit(const RdHostNode* n, int32_t bit) {
    SimObject* o = asObject(n);
    return o && bit == RD_HOST_BIT_GENERATOR_INPUT && o->generatorInput ? 1 : 0;
}
int32_t objectGetMatrix(const RdHostNode* n, RdHostMatrix* out) {
    return copyOut(asObject(n), &SimObject::matrix, out);
}
int32_t objectGetPosition(const RdHostNode* n, RdHostVector* out) {
    return copyOut(asObject(n), &SimObject::position, out);
}
int32_t objectGetRotation(const RdHostNode* n, RdHostVector* out) {
    return copyOut(asObject(n), &SimObject::rotation, out);
}
int32_t objectGetScale(const RdHostNode* n, RdHostVector* out) {
    return copyOut(asObject(n), &SimObject::scale, out);
}
int32_t objectGetRotationOrder(const RdHostNode* n) {
    SimObject* o = asObject(n);
    return o ? o->rotationOrder : 0;
}
uint64_t objectGetGuid(const RdHostNode* n) {
    SimObject* o = asObject(n);
    return o ? o->guid : 0;
}
RdHostNode* objectGetDeformCache(const RdHostNode* n) {
    SimObject* o = asObject(n);
    return o ? handle(o->deformCache.get()) : nullptr;
}
RdHostNode* objectGetCache(const RdHostNode* n) {
    SimObject* o = asObject(n);
    return o ? handle(o->cache.get()) : nullptr;
}
RdHostNode* objectGetFirstTag(const RdHostNode* n) {
    SimObject* o = asObject(n);
    return o && !o->tags.empty() ? handle(o->tags.front().get()) : nullptr;
}
RdHostNode* objectGetLayer(const RdHostNode* n, const RdHostDocument*) {
    SimObject* o = asObject(n);
    return o ? handle(o->layer) : nullptr;
}
RdHostNode* objectGetFirstTrack(const RdHostNode* n) {
    SimObject* o = asObject(n);
    return o && !o->tracks.empty() ? handle(o->tracks.front().get()) : nullptr;
}

// The document's objects are linked downwards only: the object's ancestors are found by a
// search from the top, which keeps its placement on the way (caches below the object that built
// them). Iterative, as hierarchies may be deeper than the stack.
int32_t objectGetGlobalMatrix(const RdHostNode* n, RdHostMatrix* out) {
    SimObject* target = asObject(n);
    if (!target || !out) {
        return 0;
    }
    SimDocument* d = target->document;
    if (d == nullptr && SimHost::current() != nullptr) {
        d = SimHost::current()->activeDocument();
    }
    if (d == nullptr) {
        return 0;
    }
    struct Visit {
        const SimObject* object;
        RdHostMatrix world;
    };
    // Top-level objects keep their own matrix exactly (no product with an identity, which
    // would turn negative zeros positive).
    std::vector<Visit> pending;
    for (const SimObject* o = d->firstObject(); o != nullptr; o = o->next) {
        pending.push_back(Visit{o, o->matrix});
    }
    std::reverse(pending.begin(), pending.end());
    while (!pending.empty()) {
        const Visit v = pending.back();
        pending.pop_back();
        if (v.object == target) {
            *out = v.world;
            return 1;
        }
        for (const SimObject* c = v.object->down; c != nullptr; c = c->next) {
            pending.push_back(Visit{c, placementProduct(v.world, c->matrix)});
        }
        for (const SimObject* c : {v.object->cache.get(), v.object->deformCache.get()}) {
            if (c != nullptr) {
                pending.push_back(Visit{c, placementProduct(v.world, c->matrix)});
            }
        }
    }
    return 0;
}

const RdHostVector* polygonGetPoints(const RdHostNode* n, int32_t* count) {
    SimObject* o = asObject(n);
    const bool has = o && !o->points.empty();
    if (count) {
        *count = has ? static_cast<int32_t>(o->points.size()) : 0;
    }
    return has ? o->points.data() : nullptr;
}
const RdHostPolygon* polygonGetPolygons(const RdHostNode* n, int32_t* count) {
    SimObject* o = asObject(n);
    const bool has = o && !o->polygons.empty();
    if (count) {
        *count = has ? static_cast<int32_t>(o->polygons.size()) : 0;
    }
    return has ? o->polygons.data() : nullptr;
}
float* polygonCreatePhongNormals(const RdHostNode* n, int32_t* polygonCount) {
    if (polygonCount) {
        *polygonCount = 0;
    }
    SimObject* o = asObject(n);
    const SimTag* phong = o ? o->findTag(raydeck::host::kTagPhong) : nullptr;
    if (!phong) {
        return nullptr;
    }
    // Explicit normals are copied straight from the tag: one copy, however large the mesh.
    std::vector<float> computed;
    if (!phong->hasNormals) {
        computed = o->phongNormals();
    }
    const std::vector<float>& normals = phong->hasNormals ? phong->normals : computed;
    float* out = static_cast<float*>(memAlloc(std::max<size_t>(1, normals.size()) * sizeof(float)));
    if (!out) {
        return nullptr;
    }
    if (!normals.empty()) {
        std::memcpy(out, normals.data(), normals.size() * sizeof(float));
    }
    if (polygonCount) {
        // The records really handed out, which is what a caller may read.
        *polygonCount = static_cast<int32_t>(normals.size() / 12);
    }
    return out;
}

// Explicit normals are lent from the tag; smooth normals are computed per request instead.
const float* polygonGetPhongNormals(const RdHostNode* n, int32_t* polygonCount) {
    if (polygonCount) {
        *polygonCount = 0;
    }
    SimObject* o = asObject(n);
    const SimTag* phong = o ? o->findTag(raydeck::host::kTagPhong) : nullptr;
    if (!phong || !phong->hasNormals || phong->normals.empty()) {
        return nullptr;
    }
    if (polygonCount) {
        // Whole records only, which is what a caller may read.
        *polygonCount = static_cast<int32_t>(phong->normals.size() / 12);
    }
    return phong->normals.data();
}

// --- tags -----------------------------------------------------------------------------------
RdHostNode* tagGetNext(const RdHostNode* n) {
    SimTag* t = asTag(n);
    return t ? handle(t->next) : nullptr;
}
const RdHostUVWData* uvwTagGetData(const RdHostNode* n, int32_t* count) {
    SimTag* t = asTag(n);
    const bool uvw = t && t->type == raydeck::host::kTagUVW;
    if (count) {
        *count = uvw ? static_cast<int32_t>(t->uvw.size()) : 0;
    }
    return uvw ? reinterpret_cast<const RdHostUVWData*>(t) : nullptr;
}
int32_t uvwGetPolygon(const RdHostUVWData* data, int32_t i, RdHostUVWPolygon* out) {
    if (!out) {
        return 0;
    }
    *out = RdHostUVWPolygon{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    const SimTag* t = reinterpret_cast<const SimTag*>(data);
    if (!t || i < 0 || static_cast<size_t>(i) >= t->uvw.size()) {
        return 0;
    }
    *out = t->uvw[i];
    return 1;
}
const RdHostSelection* selectionTagGetSelection(const RdHostNode* n) {
    SimTag* t = asTag(n);
    return t && t->type == raydeck::host::kTagPolygonSelection
               ? reinterpret_cast<const RdHostSelection*>(t)
               : nullptr;
}
int32_t selectionGetSegmentCount(const RdHostSelection* s) {
    return s ? static_cast<int32_t>(reinterpret_cast<const SimTag*>(s)->ranges.size()) : 0;
}
int32_t selectionGetRange(const RdHostSelection* s, int32_t segment, int32_t maxElements,
                          int32_t* first, int32_t* last) {
    if (!s || !first || !last || maxElements <= 0) {
        return 0;
    }
    const auto& r = reinterpret_cast<const SimTag*>(s)->ranges;
    if (segment < 0 || static_cast<size_t>(segment) >= r.size()) {
        return 0;
    }
    *first = r[segment].first;
    const int64_t cap = static_cast<int64_t>(r[segment].first) + maxElements - 1;
    *last = static_cast<int32_t>(std::min<int64_t>(r[segment].second, cap));
    return 1;
}
RdHostNode* textureTagGetMaterial(const RdHostNode* n) {
    SimTag* t = asTag(n);
    return t ? handle(t->material) : nullptr;
}
int32_t textureTagGetMatrix(const RdHostNode* n, RdHostMatrix* out) {
    SimTag* t = asTag(n);
    if (!t || !out || t->type != raydeck::host::kTagTexture) {
        return 0;
    }
    *out = t->textureMatrix;
    return 1;
}

// --- materials and shaders ------------------------------------------------------------------
int32_t materialGetChannelState(const RdHostNode* n, int32_t channel) {
    SimMaterial* m = asMaterial(n);
    return m && m->channels.count(channel) ? 1 : 0;
}
int32_t materialGetContainerVector(const RdHostNode* n, int32_t id, const RdHostVector* def,
                                   RdHostVector* out) {
    if (!out) {
        return 0;
    }
    *out = def ? *def : RdHostVector{0, 0, 0};
    SimMaterial* m = asMaterial(n);
    if (!m) {
        return 0;
    }
    auto it = m->container.find(id);
    if (it == m->container.end() || it->second.kind != SimValue::Kind::Vector) {
        return 0;
    }
    *out = it->second.vector;
    return 1;
}
RdHostNode* materialGetFirstShader(const RdHostNode* n) {
    SimMaterial* m = asMaterial(n);
    return m && !m->shaders.empty() ? handle(m->shaders.front().get()) : nullptr;
}
RdHostNode* shaderGetNext(const RdHostNode* n) {
    SimShader* s = asShader(n);
    return s ? handle(s->next) : nullptr;
}

// --- animation ------------------------------------------------------------------------------
RdHostNode* trackGetNext(const RdHostNode* n) {
    SimTrack* t = asTrack(n);
    return t ? handle(t->next) : nullptr;
}
int32_t trackGetDescId(const RdHostNode* n, int32_t* ids, int32_t maxDepth) {
    SimTrack* t = asTrack(n);
    if (!t || !ids || maxDepth <= 0) {
        return 0;
    }
    const int32_t depth = std::min(t->depth, maxDepth);
    for (int32_t i = 0; i < depth; ++i) {
        ids[i] = t->descId[i];
    }
    return depth;
}
RdHostCurve* trackGetCurve(const RdHostNode* n) {
    SimTrack* t = asTrack(n);
    return t && t->hasCurve ? reinterpret_cast<RdHostCurve*>(&t->curve) : nullptr;
}
int32_t curveGetKeyCount(const RdHostCurve* c) {
    return c ? static_cast<int32_t>(reinterpret_cast<const SimCurve*>(c)->keys.size()) : 0;
}
RdHostKey* curveGetKey(const RdHostCurve* c, int32_t i) {
    if (!c) {
        return nullptr;
    }
    auto& keys = const_cast<SimCurve*>(reinterpret_cast<const SimCurve*>(c))->keys;
    return i >= 0 && static_cast<size_t>(i) < keys.size() ? reinterpret_cast<RdHostKey*>(&keys[i])
                                                          : nullptr;
}
int32_t keyGetTime(const RdHostKey* k, RdHostTime* out) {
    if (!k || !out) {
        return 0;
    }
    *out = reinterpret_cast<const SimKey*>(k)->time;
    return 1;
}
double trackGetValue(const RdHostNode* n, const RdHostDocument*, const RdHostTime* time, int32_t) {
    SimTrack* t = asTrack(n);
    if (!t || !time) {
        return 0.0;
    }
    return t->valueAt(timeSeconds(*time));
}

// --- hair -----------------------------------------------------------------------------------
SimObject* hairObject(const RdHostNode* n) {
    SimObject* o = asObject(n);
    return o && o->document && o->document->hairService ? o : nullptr;
}
int32_t hairBeginAccess(RdHostNode* n, RdHostDocument*, int32_t, int32_t, int32_t) {
    return hairObject(n) ? 1 : 0;
}
void hairEndAccess(RdHostNode*) {}
RdHostHairGuides* hairGenerateGuides(RdHostNode* n) {
    SimObject* o = hairObject(n);
    if (!o || !o->hasHair) {
        return nullptr;
    }
    auto* g = new SimHairGuides();
    g->segments = o->hair.segments;
    g->points = o->hair.points;
    g->rootUV = o->hair.rootUV;
    count(+1);
    return reinterpret_cast<RdHostHairGuides*>(g);
}
void hairGuidesFree(RdHostHairGuides* g) {
    if (g) {
        delete reinterpret_cast<SimHairGuides*>(g);
        count(-1);
    }
}
int32_t hairGuidesGetSegmentCount(const RdHostHairGuides* g) {
    return g ? reinterpret_cast<const SimHairGuides*>(g)->segments : 0;
}
int32_t hairGuidesGetCount(const RdHostHairGuides* g) {
    return g ? static_cast<int32_t>(reinterpret_cast<const SimHairGuides*>(g)->rootUV.size()) : 0;
}
const RdHostVector* hairGuidesGetPoints(const RdHostHairGuides* g, int32_t* count) {
    const SimHairGuides* h = reinterpret_cast<const SimHairGuides*>(g);
    const bool has = h && !h->points.empty();
    if (count) {
        *count = has ? static_cast<int32_t>(h->points.size()) : 0;
    }
    return has ? h->points.data() : nullptr;
}
int32_t hairGuidesGetRootUV(const RdHostHairGuides* g, int32_t i, RdHostVector* out) {
    const SimHairGuides* h = reinterpret_cast<const SimHairGuides*>(g);
    if (!h || !out || i < 0 || static_cast<size_t>(i) >= h->rootUV.size()) {
        return 0;
    }
    *out = h->rootUV[i];
    return 1;
}

}  // namespace

void handles::addDocumentSlots(RdHostInterface& t) {
    t.documentGetTime = documentGetTime;
    t.documentSetTime = documentSetTime;
    t.documentGetFilename = documentGetFilename;
    t.documentExecutePasses = documentExecutePasses;
    t.documentGetFirstObject = documentGetFirstObject;
    t.atomArrayAlloc = atomArrayAlloc;
    t.atomArrayFree = atomArrayFree;
    t.documentGetSelection = documentGetSelection;
    t.atomArrayCount = atomArrayCount;
    t.atomArrayGet = atomArrayGet;
    t.nodeGetType = nodeGetType;
    t.nodeGetName = nodeGetName;
    t.nodeGetInt = nodeGetInt;
    t.nodeGetFloat = nodeGetFloat;
    t.nodeGetVector = nodeGetVector;
    t.nodeGetString = nodeGetString;
    t.nodeGetFilename = nodeGetFilename;
    t.nodeGetLink = nodeGetLink;
    t.nodeGetGradient = nodeGetGradient;
    t.gradientGetKnotColor = gradientGetKnotColor;
    t.objectGetNext = objectGetNext;
    t.objectGetDown = objectGetDown;
    t.objectGetBit = objectGetBit;
    t.objectGetMatrix = objectGetMatrix;
    t.objectGetPosition = objectGetPosition;
    t.objectGetRotation = objectGetRotation;
    t.objectGetScale = objectGetScale;
    t.objectGetRotationOrder = objectGetRotationOrder;
    t.objectGetGuid = objectGetGuid;
    t.objectGetDeformCache = objectGetDeformCache;
    t.objectGetCache = objectGetCache;
    t.objectGetFirstTag = objectGetFirstTag;
    t.objectGetLayer = objectGetLayer;
    t.objectGetFirstTrack = objectGetFirstTrack;
    t.polygonGetPoints = polygonGetPoints;
    t.polygonGetPolygons = polygonGetPolygons;
    t.polygonCreatePhongNormals = polygonCreatePhongNormals;
    t.tagGetNext = tagGetNext;
    t.uvwTagGetData = uvwTagGetData;
    t.uvwGetPolygon = uvwGetPolygon;
    t.selectionTagGetSelection = selectionTagGetSelection;
    t.selectionGetSegmentCount = selectionGetSegmentCount;
    t.selectionGetRange = selectionGetRange;
    t.textureTagGetMaterial = textureTagGetMaterial;
    t.textureTagGetMatrix = textureTagGetMatrix;
    t.materialGetChannelState = materialGetChannelState;
    t.materialGetContainerVector = materialGetContainerVector;
    t.materialGetFirstShader = materialGetFirstShader;
    t.shaderGetNext = shaderGetNext;
    t.trackGetNext = trackGetNext;
    t.trackGetDescId = trackGetDescId;
    t.trackGetCurve = trackGetCurve;
    t.curveGetKeyCount = curveGetKeyCount;
    t.curveGetKey = curveGetKey;
    t.keyGetTime = keyGetTime;
    t.trackGetValue = trackGetValue;
    t.hairBeginAccess = hairBeginAccess;
    t.hairEndAccess = hairEndAccess;
    t.hairGenerateGuides = hairGenerateGuides;
    t.hairGuidesFree = hairGuidesFree;
    t.hairGuidesGetSegmentCount = hairGuidesGetSegmentCount;
    t.hairGuidesGetCount = hairGuidesGetCount;
    t.hairGuidesGetPoints = hairGuidesGetPoints;
    t.hairGuidesGetRootUV = hairGuidesGetRootUV;
    t.objectGetGlobalMatrix = objectGetGlobalMatrix;
    t.polygonGetPhongNormals = polygonGetPhongNormals;
}

}  // namespace raydeck::hostsim
