// The conversion driver and the object walk.
#include "plugins/c4d/convert/DocumentWalk.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "plugins/c4d/convert/animation.h"
#include "plugins/c4d/convert/camera.h"
#include "plugins/c4d/convert/hair.h"
#include "plugins/c4d/convert/light.h"
#include "plugins/c4d/convert/mesh.h"
#include "plugins/c4d/host/AtomArray.h"
#include "plugins/c4d/host/Filename.h"
#include "plugins/c4d/host/HostContext.h"
#include "plugins/c4d/host/HostInterface.h"
#include "plugins/c4d/host/HostNumbers.h"
#include "trvScene_api.h"

namespace raydeck::c4d {

namespace {

// Below this a subtree's remaining progress is rounding noise, not worth a line.
constexpr float kProgressEpsilon = 0.00001f;

// The z axis mirrored: the only axis change of the whole conversion.
const trv::matrix kRootTransform = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1}};

// What the walk reads from one object. Kept on the heap so that a level of the recursion costs
// only a few words of stack: hierarchies thousands of levels deep must fit a small stack.
struct ObjectState {
    std::string name;
    int32_t type = 0;
    host::Matrix matrix;
    host::Vector position, rotation, scale;
    int32_t rotationOrder = 0;
    bool generatorInput = false;
};

// Visibility parameter `id`: 2 (and an unreadable value, the host's default) keeps the parent's
// state, 0 shows, anything else hides.
bool inheritVisibility(const host::BaseObject& object, int32_t id, bool parentVisible) {
    int32_t value = host::objectParam::kVisibilityInherit;
    if (!object.getInt(id, value) || value == host::objectParam::kVisibilityInherit) {
        return parentVisible;
    }
    return value == host::objectParam::kVisibilityOn;
}

struct CameraEntry {
    host::BaseObject camera;
    std::vector<host::BaseObject> ancestors;  // parent first; empty for a top-level camera
};

// Every camera of the document with its ancestors, an object before its children, siblings in
// host order; caches are not searched. Iterative: the hierarchy may be deeper than the stack
// would allow.
std::vector<CameraEntry> collectCameras(const host::BaseDocument& document) {
    std::vector<CameraEntry> cameras;
    // The ancestors of `current`, outermost first.
    std::vector<host::BaseObject> chain;
    // Next siblings still to visit, innermost last, each with its depth in `chain`.
    std::vector<std::pair<host::BaseObject, size_t>> pending;
    host::BaseObject current = host::BaseObject::firstIn(document);
    while (current) {
        if (current.type() == host::kObjectCamera) {
            cameras.push_back(CameraEntry{current, {chain.rbegin(), chain.rend()}});
        }
        host::BaseObject next = current.next();
        host::BaseObject down = current.down();
        if (down) {
            if (next) {
                pending.emplace_back(next, chain.size());
            }
            chain.push_back(current);
            current = down;
        } else if (next) {
            current = next;
        } else if (!pending.empty()) {
            current = pending.back().first;
            chain.resize(pending.back().second);
            pending.pop_back();
        } else {
            current = host::BaseObject();
        }
    }
    return cameras;
}

// Puts the document back at the time it had before the conversion, also when a converter fails.
class TimeRestore {
  public:
    TimeRestore(host::BaseDocument doc, const host::HostTime& saved) : doc_(doc), saved_(saved) {}
    ~TimeRestore() {
        doc_.setTime(RD_HOST_DOC_TIME, saved_);
        doc_.executePasses(false, true, true, true, 0);
    }
    TimeRestore(const TimeRestore&) = delete;
    TimeRestore& operator=(const TimeRestore&) = delete;

  private:
    host::BaseDocument doc_;
    host::HostTime saved_;
};

int32_t countSiblings(host::BaseObject first) {
    int32_t n = 0;
    for (; first; first = first.next()) {
        ++n;
    }
    return n;
}

// The walk's progress in the host's status bar too, where artists look; only when the whole
// percentage moves, so that a document of many small objects does not flood the host.
void showProgress(PluginContext& context, const std::string& name) {
    const int percent =
        std::max(0, std::min(100, static_cast<int>(context.progressTotal * 100.0f)));
    if (percent != context.statusPercent) {
        context.statusPercent = percent;
        host::statusProgress(name, percent);
    }
}

}  // namespace

std::string sceneNameFromFileName(const std::string& fileName) {
    const size_t dot = fileName.find_last_of('.');
    return dot == std::string::npos ? fileName : fileName.substr(0, dot);
}

std::string documentSceneName(const host::BaseDocument& document) {
    host::Filename file;
    if (document.getFilename(RD_HOST_DOC_FILENAME, file) && !file.isEmpty()) {
        return sceneNameFromFileName(file.utf8());
    }
    return "untitled";
}

void walkObject(PluginContext& context, const host::BaseObject& object, TextureTagList& textureTags,
                bool editorVisible, bool renderVisible, float share, bool selected) {
    trv::trvSceneapi_oo& builder = *context.builder;
    trvScene_api* api = builder.backend();

    selected = selected || context.selectedIds.count(object.guid()) != 0;
    if (selected) {
        // Required output, not a leftover debug trace: the host's console shows it for each
        // selected object, and the Update tests and tools count it.
        std::fputs("whoa", stdout);
    }

    const float totalAtEntry = context.progressTotal;
    auto state = std::make_unique<ObjectState>();
    state->type = object.type();
    state->matrix = object.matrix();
    state->position = object.position();
    state->rotation = object.rotation();
    state->scale = object.scale();
    state->rotationOrder = object.rotationOrder();
    state->generatorInput = object.bit(RD_HOST_BIT_GENERATOR_INPUT);
    state->name = nodeName(object);

    api->progress(state->name.c_str(), context.progressTotal);
    showProgress(context, state->name);

    editorVisible = inheritVisibility(object, host::objectParam::kEditorVisibility, editorVisible);
    renderVisible = inheritVisibility(object, host::objectParam::kRenderVisibility, renderVisible);
    const bool visible = editorVisible && renderVisible;

    builder.beginGroup(state->name);
    api->flags(trvNodeFlag::group);
    AnimationReport report;
    if (!fitsScene(state->matrix)) {
        // Beyond the range the scene's text holds: written as it stands it would read as inf.
        state->matrix = host::Matrix();
        report.placementLeftOut = true;
    }
    {
        const trv::matrix m = sceneMatrix(state->matrix);
        api->transform(m.m);
    }

    // One list serves the whole walk: each level appends its own tags and takes them off again
    // on the way out, so depth costs no copies.
    struct OwnTags {
        TextureTagList& list;
        const size_t size;
        ~OwnTags() { list.resize(size); }
    } ownTags{textureTags, textureTags.size()};
    for (host::BaseTag tag = object.firstTag(); tag; tag = tag.next()) {
        scanTag(tag, nullptr, nullptr, nullptr, textureTags);
    }

    float childrenShare = share;
    host::BaseObject built = object.deformCache();
    if (!built) {
        built = object.cache();
    }
    if (built) {
        walkObject(context, built, textureTags, editorVisible, renderVisible, share * 0.5f,
                   selected);
        childrenShare = share * 0.5f;
    } else {
        switch (state->type) {
            case host::kObjectPolygon:
                if ((!context.selectionOnly || selected || context.selectedIds.empty()) &&
                    visible && !state->generatorInput) {
                    convertPolygonObject(context, object, textureTags);
                    childrenShare = share * 0.5f;
                }
                break;
            case host::kObjectLight:
                convertLight(context, state->name, object);
                break;
            case host::kObjectHair:
                convertHairObject(context, object, textureTags);
                break;
            default:
                break;
        }
    }

    const int32_t n = countSiblings(object.down());
    for (host::BaseObject child = object.down(); child; child = child.next()) {
        walkObject(context, child, textureTags, editorVisible, renderVisible,
                   childrenShare / static_cast<float>(n), selected);
    }

    writeObjectAnimation(context, object, state->name, state->position, state->rotation,
                         state->scale, state->rotationOrder, false, nullptr, &report);
    reportAnimation(state->name, report);

    builder.endGroup();

    const float delta = share - (context.progressTotal - totalAtEntry);
    context.progressTotal += delta;
    if (delta > kProgressEpsilon) {
        api->progress(state->name.c_str(), context.progressTotal);
        showProgress(context, state->name);
    }
}

void convertDocument(PluginContext& context, const host::BaseDocument& document) {
    context.document = document;
    context.documentFolder.clear();
    context.progressTotal = 0.0f;
    if (!document || context.builder == nullptr || context.builder->backend() == nullptr) {
        return;
    }
    host::BaseDocument doc = document;
    trv::trvSceneapi_oo& builder = *context.builder;

    // Every object, cache and deformation as at the first frame.
    host::HostTime savedTime(0.0, 1.0);
    if (!doc.getTime(RD_HOST_DOC_TIME, savedTime)) {
        savedTime = host::HostTime(0.0, 1.0);
    }
    host::HostTime minTime(0.0, 1.0);
    if (!doc.getTime(RD_HOST_DOC_MINTIME, minTime)) {
        minTime = host::HostTime(0.0, 1.0);
    }
    doc.setTime(RD_HOST_DOC_TIME, minTime);
    doc.executePasses(false, true, true, true, 0);
    const TimeRestore restore(doc, savedTime);

    {
        host::Filename path;
        if (doc.getFilename(RD_HOST_DOC_PATH, path) && !path.isEmpty()) {
            context.documentFolder = path.utf8();
        }
    }
    const std::string sceneName = documentSceneName(doc);

    for (const CameraEntry& entry : collectCameras(doc)) {
        convertCamera(context, entry.camera, entry.ancestors);
    }

    builder.beginGroup(sceneName);
    builder.backend()->transform(kRootTransform.m);
    builder.backend()->declareAttribute("source file", "source file");

    context.selectedIds.clear();
    host::AtomArray selection;
    if (selection.valid() && selection.fillWithSelection(doc) && context.selectionOnly) {
        for (int32_t i = 0; i < selection.count(); ++i) {
            host::BaseList2D entry = selection.at(i);
            if (entry && entry.type() != host::kTagTexture) {
                context.selectedIds.insert(host::BaseObject(entry).guid());
            }
        }
    }

    const host::BaseObject first = host::BaseObject::firstIn(doc);
    const int32_t n = countSiblings(first);
    TextureTagList textureTags(1);
    for (host::BaseObject object = first; object; object = object.next()) {
        walkObject(context, object, textureTags, true, true, 1.0f / static_cast<float>(n), false);
    }

    builder.endGroup();
    // The saved time comes back (and is evaluated) as `restore` goes.
}

}  // namespace raydeck::c4d
