// The host interface table of the simulator. Handles are the model's own objects: a node handle
// is a SimNode*, a document handle a SimDocument*; strings, file names, bitmaps, atom arrays and
// hair guides are small structs owned by whoever the table's contract says.
#include "tools/host/SimHost.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/file.h"
#include "platform/utf.h"
#include "plugins/c4d/host/CommandData.h"
#include "plugins/c4d/host/HostNumbers.h"

namespace raydeck::hostsim {

namespace {

SimHost* g_current = nullptr;

struct SimString {
    std::string text;
};
// Kept as directory and last component, so that a directory set before the file survives.
struct SimFilename {
    std::string directory, file;
    char separator = '/';  // the one the text used, so Windows paths come back unchanged
    std::string path() const;
    void set(const std::string& p);
};
struct SimBitmap {
    std::string path;
    int32_t width = 0, height = 0;
    double iconScale = 0.0;
};
struct SimAtomArray {
    std::vector<SimNode*> entries;
};
struct SimHairGuides {
    int32_t segments = 0;
    std::vector<RdHostVector> points;
    std::vector<RdHostVector> rootUV;
};

void count(int delta) {
    if (g_current) {
        g_current->countHandle(delta);
    }
}

// --- handle conversions ---------------------------------------------------------------------
SimNode* node(const RdHostNode* n) {
    return const_cast<SimNode*>(reinterpret_cast<const SimNode*>(n));
}
RdHostNode* handle(const SimNode* n) {
    return reinterpret_cast<RdHostNode*>(const_cast<SimNode*>(n));
}
// The node as its kind's type; null for another kind or no node.
template <typename T, NodeKind kind>
T* nodeOfKind(const RdHostNode* n) {
    SimNode* s = node(n);
    return s && s->kind == kind ? static_cast<T*>(s) : nullptr;
}
SimObject* asObject(const RdHostNode* n) {
    return nodeOfKind<SimObject, NodeKind::Object>(n);
}
SimTag* asTag(const RdHostNode* n) {
    return nodeOfKind<SimTag, NodeKind::Tag>(n);
}
SimMaterial* asMaterial(const RdHostNode* n) {
    return nodeOfKind<SimMaterial, NodeKind::Material>(n);
}
SimShader* asShader(const RdHostNode* n) {
    return nodeOfKind<SimShader, NodeKind::Shader>(n);
}
SimTrack* asTrack(const RdHostNode* n) {
    return nodeOfKind<SimTrack, NodeKind::Track>(n);
}
// Copies a member of the node out: 1, or 0 when there is no such node or no place to put it.
template <typename Node, typename T>
int32_t copyOut(const Node* node, T Node::*member, T* out) {
    if (node == nullptr || out == nullptr) {
        return 0;
    }
    *out = node->*member;
    return 1;
}
SimDocument* doc(const RdHostDocument* d) {
    return const_cast<SimDocument*>(reinterpret_cast<const SimDocument*>(d));
}
SimString* str(const RdHostString* s) {
    return const_cast<SimString*>(reinterpret_cast<const SimString*>(s));
}
SimFilename* fname(const RdHostFilename* f) {
    return const_cast<SimFilename*>(reinterpret_cast<const SimFilename*>(f));
}

const SimValue* param(const RdHostNode* n, int32_t id) {
    SimNode* s = node(n);
    if (s == nullptr) {
        return nullptr;
    }
    auto it = s->params.find(id);
    return it == s->params.end() ? nullptr : &it->second;
}

// --- memory and console ---------------------------------------------------------------------
void* memAlloc(size_t size) {
    void* p = std::calloc(1, size == 0 ? 1 : size);
    if (p) {
        count(+1);
    }
    return p;
}
void memFree(void* block) {
    if (block) {
        std::free(block);
        count(-1);
    }
}
void consolePrint(const char* line) {
    if (g_current) {
        g_current->addConsoleLine(line ? line : "");
    }
}
void statusSetProgress(const char* text, int32_t percent) {
    if (g_current) {
        g_current->addStatus({text ? text : "", percent < 0 ? -1 : std::min(percent, 100)});
    }
}

// --- strings --------------------------------------------------------------------------------
RdHostString* stringAlloc() {
    count(+1);
    return reinterpret_cast<RdHostString*>(new SimString());
}
void stringFree(RdHostString* s) {
    if (s) {
        delete str(s);
        count(-1);
    }
}
int32_t stringSetCString(RdHostString* s, const char* text, int32_t len, int32_t encoding) {
    if (!s || encoding != RD_HOST_ENCODING_UTF8 || len < 0 || (len > 0 && !text)) {
        return 0;
    }
    str(s)->text.assign(text ? text : "", static_cast<size_t>(len));
    return 1;
}
char* stringGetCString(const RdHostString* s, int32_t encoding) {
    // An empty text is handed out as an empty copy, as the application does: the plug-in tells
    // "no name" from "cannot be read" by it.
    if (!s || encoding != RD_HOST_ENCODING_UTF8) {
        return nullptr;
    }
    const std::string& t = str(s)->text;
    char* out = static_cast<char*>(memAlloc(t.size() + 1));
    if (out) {
        std::memcpy(out, t.data(), t.size());
    }
    return out;
}
int32_t stringCopy(RdHostString* dst, const RdHostString* src) {
    if (!dst || !src) {
        return 0;
    }
    str(dst)->text = str(src)->text;
    return 1;
}
void setText(RdHostString* out, const std::string& text) {
    if (out) {
        str(out)->text = text;
    }
}

// --- file names -----------------------------------------------------------------------------
size_t lastSeparator(const std::string& p) {
    return p.find_last_of("/\\");
}
std::string directoryOf(const std::string& p) {
    size_t s = lastSeparator(p);
    if (s == std::string::npos) {
        return "";
    }
    return s == 0 ? p.substr(0, 1) : p.substr(0, s);
}
std::string fileOf(const std::string& p) {
    size_t s = lastSeparator(p);
    return s == std::string::npos ? p : p.substr(s + 1);
}
std::string join(const std::string& dir, const std::string& file, char separator = '/') {
    if (dir.empty()) {
        return file;
    }
    if (file.empty()) {
        return dir;
    }
    const char last = dir.back();
    return last == '/' || last == '\\' ? dir + file : dir + separator + file;
}

std::string SimFilename::path() const {
    return join(directory, file, separator);
}
void SimFilename::set(const std::string& p) {
    directory = directoryOf(p);
    file = fileOf(p);
    const size_t s = lastSeparator(p);
    separator = s == std::string::npos ? '/' : p[s];
}

RdHostFilename* filenameAlloc() {
    count(+1);
    return reinterpret_cast<RdHostFilename*>(new SimFilename());
}
void filenameFree(RdHostFilename* f) {
    if (f) {
        delete fname(f);
        count(-1);
    }
}
int32_t filenameCopy(RdHostFilename* dst, const RdHostFilename* src) {
    if (!dst || !src) {
        return 0;
    }
    *fname(dst) = *fname(src);
    return 1;
}
int32_t filenameSetString(RdHostFilename* f, const RdHostString* text) {
    if (!f || !text) {
        return 0;
    }
    fname(f)->set(str(text)->text);
    return 1;
}
int32_t filenameGetString(const RdHostFilename* f, RdHostString* out) {
    if (!f || !out) {
        return 0;
    }
    str(out)->text = fname(f)->path();
    return 1;
}
int32_t filenameSetDirectory(RdHostFilename* f, const RdHostString* directory) {
    if (!f || !directory) {
        return 0;
    }
    fname(f)->directory = str(directory)->text;
    return 1;
}
int32_t filenameSetFile(RdHostFilename* f, const RdHostString* file) {
    if (!f || !file) {
        return 0;
    }
    fname(f)->file = str(file)->text;
    return 1;
}
int32_t filenameSetSuffix(RdHostFilename* f, const RdHostString* suffix) {
    if (!f || !suffix) {
        return 0;
    }
    std::string& file = fname(f)->file;
    size_t dot = file.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        file.erase(dot);
    }
    if (!str(suffix)->text.empty()) {
        file += "." + str(suffix)->text;
    }
    return 1;
}
int32_t filenameIsEmpty(const RdHostFilename* f) {
    return !f || fname(f)->path().empty() ? 1 : 0;
}
int32_t filenameGetFile(const RdHostFilename* f, RdHostFilename* out) {
    if (!f || !out) {
        return 0;
    }
    fname(out)->set(fname(f)->file);
    return 1;
}
int32_t filenameGetDirectory(const RdHostFilename* f, RdHostFilename* out) {
    if (!f || !out) {
        return 0;
    }
    fname(out)->set(fname(f)->directory);
    return 1;
}
int32_t filenameAppend(RdHostFilename* f, const RdHostString* component) {
    if (!f || !component) {
        return 0;
    }
    fname(f)->set(join(fname(f)->path(), str(component)->text, fname(f)->separator));
    return 1;
}
int32_t fileSelect(RdHostFilename* f, int32_t type, int32_t mode, const RdHostString* title,
                   const RdHostString* forcedSuffix) {
    if (!f || !g_current) {
        return 0;
    }
    SimHost::DialogCall call;
    call.initialName = fname(f)->path();
    call.type = type;
    call.mode = mode;
    call.title = title ? str(title)->text : "";
    call.forcedSuffix = forcedSuffix ? str(forcedSuffix)->text : "";
    std::optional<std::string> answer = g_current->answerDialog(call);
    if (!answer) {
        return 0;
    }
    fname(f)->set(*answer);
    return 1;
}

// --- bitmaps --------------------------------------------------------------------------------
RdHostBitmap* bitmapAlloc() {
    count(+1);
    return reinterpret_cast<RdHostBitmap*>(new SimBitmap());
}
void bitmapFree(RdHostBitmap* b) {
    if (b) {
        delete reinterpret_cast<SimBitmap*>(b);
        count(-1);
    }
}
// Loads PNG files: checks the signature and takes the size from the header chunk.
int32_t bitmapInit(RdHostBitmap* b, const RdHostFilename* file) {
    if (!b || !file) {
        return RD_HOST_IMAGE_NOT_EXISTING;
    }
    // By its UTF-16 name: a narrow name on Windows is in the ANSI code page, which may not hold
    // the plug-in's folder.
    std::u16string wide;
    FILE* in = nullptr;
    if (!platform::utf8ToUtf16(fname(file)->path(), wide).ok() ||
        !platform::openFile(wide, u"rb", in).ok()) {
        return RD_HOST_IMAGE_NOT_EXISTING;
    }
    unsigned char head[24] = {0};
    const std::size_t got = std::fread(head, 1, sizeof head, in);
    std::fclose(in);
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (got < 24 || std::memcmp(head, signature, 8) != 0 ||
        std::memcmp(head + 12, "IHDR", 4) != 0) {
        return RD_HOST_IMAGE_WRONG_TYPE;
    }
    auto be32 = [&](int at) {
        return static_cast<int32_t>((uint32_t(head[at]) << 24) | (uint32_t(head[at + 1]) << 16) |
                                    (uint32_t(head[at + 2]) << 8) | uint32_t(head[at + 3]));
    };
    SimBitmap* bm = reinterpret_cast<SimBitmap*>(b);
    bm->path = fname(file)->path();
    bm->width = be32(16);
    bm->height = be32(20);
    return RD_HOST_IMAGE_OK;
}
int32_t bitmapSetSetting(RdHostBitmap* b, int32_t id, double value) {
    if (!b || id != RD_HOST_BITMAP_SETTING_ICON_SCALE) {
        return 0;
    }
    reinterpret_cast<SimBitmap*>(b)->iconScale = value;
    return 1;
}

// --- registration and libraries -------------------------------------------------------------
int32_t registerCommand(int32_t apiVersion, int32_t pluginKind, int32_t pluginId,
                        const RdHostString* name, int32_t info, RdHostBitmap* icon,
                        const RdHostString* help, void* commandData) {
    if (!g_current || !commandData || apiVersion < RD_HOST_API_VERSION ||
        pluginKind != RD_HOST_PLUGIN_KIND_COMMAND) {
        return 0;
    }
    SimHost::Registration r;
    r.pluginId = pluginId;
    r.apiVersion = apiVersion;
    r.pluginKind = pluginKind;
    r.info = info;
    r.name = name ? str(name)->text : "";
    r.help = help ? str(help)->text : "";
    if (icon) {
        const SimBitmap* bm = reinterpret_cast<const SimBitmap*>(icon);
        r.icon = fileOf(bm->path);
        r.iconScale = bm->iconScale;
        g_current->adoptIcon(icon);
        count(-1);
    }
    r.command = commandData;
    count(-1);  // the command's block now belongs to the host
    g_current->addRegistration(r);
    return 1;
}

bool gradientService() {
    SimDocument* d = g_current ? g_current->activeDocument() : nullptr;
    return d == nullptr || d->gradientService;
}

int32_t libraryAvailable(int32_t id) {
    SimDocument* d = g_current ? g_current->activeDocument() : nullptr;
    if (id == RD_HOST_LIBRARY_HAIR) {
        return d == nullptr || d->hairService ? 1 : 0;
    }
    if (id == RD_HOST_LIBRARY_GRADIENT) {
        return gradientService() ? 1 : 0;
    }
    return 0;
}

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
    if (d == nullptr && g_current != nullptr) {
        d = g_current->activeDocument();
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

RdHostInterface makeTable() {
    RdHostInterface t;
    std::memset(&t, 0, sizeof t);
    t.apiVersion = RD_HOST_API_VERSION;
    t.structSize = sizeof(RdHostInterface);
    t.memAlloc = memAlloc;
    t.memFree = memFree;
    t.consolePrint = consolePrint;
    t.registerCommand = registerCommand;
    t.stringAlloc = stringAlloc;
    t.stringFree = stringFree;
    t.stringSetCString = stringSetCString;
    t.stringGetCString = stringGetCString;
    t.stringCopy = stringCopy;
    t.filenameAlloc = filenameAlloc;
    t.filenameFree = filenameFree;
    t.filenameCopy = filenameCopy;
    t.filenameSetString = filenameSetString;
    t.filenameGetString = filenameGetString;
    t.filenameSetDirectory = filenameSetDirectory;
    t.filenameSetFile = filenameSetFile;
    t.filenameSetSuffix = filenameSetSuffix;
    t.filenameIsEmpty = filenameIsEmpty;
    t.filenameGetFile = filenameGetFile;
    t.filenameGetDirectory = filenameGetDirectory;
    t.filenameAppend = filenameAppend;
    t.fileSelect = fileSelect;
    t.bitmapAlloc = bitmapAlloc;
    t.bitmapFree = bitmapFree;
    t.bitmapInit = bitmapInit;
    t.bitmapSetSetting = bitmapSetSetting;
    t.libraryAvailable = libraryAvailable;
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
    t.statusSetProgress = statusSetProgress;
    return t;
}

const RdHostInterface g_table = makeTable();

}  // namespace

SimHost::SimHost() {
    g_current = this;
}

SimHost::~SimHost() {
    for (RdHostBitmap* icon : icons_) {
        delete reinterpret_cast<SimBitmap*>(icon);
    }
    if (g_current == this) {
        g_current = nullptr;
    }
}

const RdHostInterface* SimHost::table() const {
    return &g_table;
}

SimHost* SimHost::current() {
    return g_current;
}

void SimHost::destroyCommands() {
    for (Registration& r : registrations_) {
        if (r.command) {
            auto* command = static_cast<raydeck::host::CommandData*>(r.command);
            command->~CommandData();
            std::free(r.command);
            r.command = nullptr;
        }
    }
}

}  // namespace raydeck::hostsim
