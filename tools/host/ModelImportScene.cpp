// The model import's walk of the scene: nodes become objects, cameras and lights theirs, and what
// a host document cannot hold is counted for the warnings.
#include <algorithm>
#include <cmath>

#include "tools/host/ModelImporter.h"

namespace raydeck::hostsim::modelimport {

namespace {

std::string plural(size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

void Importer::run() {
    for (unsigned i = 0; i < scene_.mNumMaterials; ++i) {
        doc_.materials.push_back(material(*scene_.mMaterials[i], i));
    }
    for (unsigned i = 0; i < scene_.mNumCameras; ++i) {
        cameras_.emplace(scene_.mCameras[i]->mName.C_Str(), scene_.mCameras[i]);
    }
    for (unsigned i = 0; i < scene_.mNumLights; ++i) {
        lights_.emplace(scene_.mLights[i]->mName.C_Str(), scene_.mLights[i]);
    }
    if (scene_.mNumAnimations > 0) {
        const aiAnimation& a = *scene_.mAnimations[0];
        ticksPerSecond_ = a.mTicksPerSecond > 0.0 ? a.mTicksPerSecond : 25.0;
        for (unsigned i = 0; i < a.mNumChannels; ++i) {
            channels_.emplace(a.mChannels[i]->mNodeName.C_Str(), a.mChannels[i]);
        }
        // A name that several nodes share, or several channels, does not say which node a
        // channel moves: the nodes take that name's channels one each, in the order the
        // reader gives them (not always the file's), with a warning.
        const std::map<std::string, size_t> nodes = nodeNames(scene_.mRootNode);
        for (const auto& [name, channel] : channels_) {
            const auto it = nodes.find(name);
            skipped_.ambiguousChannels +=
                (it != nodes.end() && it->second > 1) || channels_.count(name) > 1;
        }
        skipped_.meshAnimations += a.mNumMeshChannels + a.mNumMorphMeshChannels;
        skipped_.animations = scene_.mNumAnimations - 1;
    }
    if (scene_.mRootNode != nullptr) {
        doc_.objects.push_back(node(*scene_.mRootNode));
    }
    skipped_.unknownChannels = channels_.size();  // what no node took
    for (unsigned i = 0; i < scene_.mNumMeshes; ++i) {
        const aiMesh& m = *scene_.mMeshes[i];
        skipped_.bones += m.mNumBones > 0;
        skipped_.morphs += m.mNumAnimMeshes > 0;
        skipped_.colours += m.HasVertexColors(0);
        for (unsigned c = 1; c < AI_MAX_NUMBER_OF_TEXTURECOORDS; ++c) {
            skipped_.uvChannels += m.HasTextureCoords(c);
        }
    }
    finish();
}

std::vector<std::string> Importer::warnings() const {
    std::vector<std::string> w;
    const Skipped& s = skipped_;
    auto add = [&](size_t n, const std::string& what) {
        if (n > 0) {
            w.push_back("skipped " + what);
        }
    };
    add(s.bones, plural(s.bones, "mesh's bones", "meshes' bones"));
    add(s.morphs, plural(s.morphs, "mesh's morph targets", "meshes' morph targets"));
    add(s.colours, plural(s.colours, "mesh's vertex colours", "meshes' vertex colours"));
    add(s.uvChannels,
        plural(s.uvChannels, "UV channel beyond the first", "UV channels beyond the first"));
    add(s.lines, plural(s.lines, "line", "lines"));
    add(s.points, plural(s.points, "point primitive", "point primitives"));
    add(s.badFaces, plural(s.badFaces, "face with a vertex index out of range",
                           "faces with vertex indices out of range"));
    add(s.nonFiniteFaces,
        plural(s.nonFiniteFaces, "face with a non-finite point", "faces with non-finite points"));
    add(s.nonFiniteNormals,
        plural(s.nonFiniteNormals, "polygon's non-finite normals (face normals instead)",
               "polygons' non-finite normals (face normals instead)"));
    add(s.unencodablePixels,
        plural(s.unencodablePixels, "embedded raw-pixel texture that cannot be encoded as PNG",
               "embedded raw-pixel textures that cannot be encoded as PNG"));
    add(s.embeddedMissing, plural(s.embeddedMissing, "embedded texture the file does not hold",
                                  "embedded textures the file does not hold"));
    add(s.unwritable, plural(s.unwritable, "embedded texture that could not be written to",
                             "embedded textures that could not be written to") +
                          " " + imageFolder_);
    if (!userFolder_.empty()) {
        w.push_back("wrote " + plural(s.embeddedWritten, "embedded texture", "embedded textures") +
                    " to " + userFolder_ + " (" + besideFolder_ + " is not writable)");
    }
    add(s.textureRotations,
        plural(s.textureRotations, "texture transform's rotation (the texture tag has none)",
               "texture transforms' rotations (the texture tag has none)"));
    add(s.orthographic, plural(s.orthographic, "orthographic camera's view width",
                               "orthographic cameras' view widths"));
    add(s.directional, plural(s.directional, "directional light", "directional lights"));
    add(s.ambient, plural(s.ambient, "ambient light", "ambient lights"));
    add(s.animations,
        plural(s.animations, "animation after the first", "animations after the first"));
    add(s.meshAnimations,
        plural(s.meshAnimations, "mesh animation channel", "mesh animation channels"));
    add(s.unknownChannels,
        plural(s.unknownChannels, "animation channel of no node", "animation channels of no node"));
    if (s.ambiguousChannels > 0) {
        w.push_back("bound " +
                    plural(s.ambiguousChannels, "animation channel", "animation channels") +
                    " by a node name that several nodes share: which moves which is a "
                    "guess");
    }
    return w;
}

std::unique_ptr<SimObject> Importer::newObject(int32_t type, const std::string& name) {
    auto o = std::make_unique<SimObject>();
    o->kind = NodeKind::Object;
    o->document = &doc_;
    o->type = type;
    o->name = name;
    o->params[hn::objectParam::kEditorVisibility] =
        numberValue(hn::objectParam::kVisibilityInherit);
    o->params[hn::objectParam::kRenderVisibility] =
        numberValue(hn::objectParam::kVisibilityInherit);
    return o;
}

std::unique_ptr<SimTag> Importer::newTag(SimObject& owner, int32_t type, const std::string& name) {
    auto t = std::make_unique<SimTag>();
    t->kind = NodeKind::Tag;
    t->document = &doc_;
    t->type = type;
    t->name = name;
    t->owner = &owner;
    t->params[hn::nodeParam::kName] = textValue(name);
    return t;
}

// Sets the object's placement from a local matrix; animated objects always take position,
// rotation and scale, as the tracks drive them.
void Importer::place(SimObject& o, const Affine& local, bool animated) {
    const bool exact = decompose(local, o.position, o.rotation, o.scale);
    o.rotationOrder = 0;
    if (!exact && !animated) {
        o.explicitMatrix = true;
        o.matrix = toHost(local);
    } else {
        o.updateMatrix();
    }
}

std::unique_ptr<SimObject> Importer::node(const aiNode& n) {
    const std::string name = n.mName.C_Str();
    const aiNodeAnim* channel = nullptr;
    if (auto it = channels_.find(name); it != channels_.end()) {
        channel = it->second;
        channels_.erase(it);
    }
    const Affine local = fromAssimp(n.mTransformation);

    // What the node itself becomes: a camera or light named after it, else its meshes.
    const aiCamera* camera = nullptr;
    const aiLight* light = nullptr;
    if (auto it = cameras_.find(name); it != cameras_.end()) {
        camera = it->second;
    } else if (auto jt = lights_.find(name); jt != lights_.end()) {
        light = jt->second;
        if (light->mType == aiLightSource_DIRECTIONAL) {
            ++skipped_.directional;
            light = nullptr;
        } else if (light->mType == aiLightSource_AMBIENT) {
            ++skipped_.ambient;
            light = nullptr;
        }
    }

    std::unique_ptr<SimObject> o;
    Affine own;  // the camera's or light's frame inside the node
    if (camera != nullptr) {
        o = cameraObject(*camera, name);
        own = frame(handed(camera->mPosition), handed(camera->mLookAt), handed(camera->mUp));
    } else if (light != nullptr) {
        o = lightObject(*light, name);
        own = light->mType == aiLightSource_AREA
                  ? frame(handed(light->mPosition), handed(light->mDirection), handed(light->mUp))
                  : frame(handed(light->mPosition), aiVector3D(0, 0, 1), aiVector3D(0, 1, 0));
    }

    std::unique_ptr<SimObject> meshes;
    if (n.mNumMeshes > 0) {
        meshes = meshObject(n, name);
    }

    std::unique_ptr<SimObject> self;
    std::vector<std::unique_ptr<SimObject>> extra;  // children before the node's own
    if (o) {
        // A frame of its own that cannot be folded into the node's matrix, and meshes on the
        // same node, go below a null object standing for the node.
        const bool fold =
            isIdentity(own) ||
            (n.mNumChildren == 0 && !meshes &&
             (channel == nullptr || (own.t[0] == 0 && own.t[1] == 0 && own.t[2] == 0)));
        if (fold && !meshes) {
            place(*o, multiply(local, own), channel != nullptr);
            if (channel != nullptr) {
                tracks(*o, *channel, own);
            }
            self = std::move(o);
        } else {
            self = newObject(hn::kObjectNull, name);
            place(*self, local, channel != nullptr);
            if (channel != nullptr) {
                tracks(*self, *channel, Affine{});
            }
            place(*o, own, false);
            extra.push_back(std::move(o));
            if (meshes) {
                extra.push_back(std::move(meshes));
            }
        }
    } else if (meshes) {
        self = std::move(meshes);
        place(*self, local, channel != nullptr);
        if (channel != nullptr) {
            tracks(*self, *channel, Affine{});
        }
    } else {
        self = newObject(hn::kObjectNull, name);
        place(*self, local, channel != nullptr);
        if (channel != nullptr) {
            tracks(*self, *channel, Affine{});
        }
    }
    for (auto& e : extra) {
        self->children.push_back(std::move(e));
    }
    for (unsigned i = 0; i < n.mNumChildren; ++i) {
        if (n.mChildren[i] != nullptr) {
            self->children.push_back(node(*n.mChildren[i]));
        }
    }
    return self;
}

std::unique_ptr<SimObject> Importer::cameraObject(const aiCamera& c, const std::string& name) {
    auto o = newObject(hn::kObjectCamera, name);
    // Importers store the whole horizontal angle here (in radians), as the host's
    // field-of-view parameter does.
    o->params[hn::cameraParam::kFieldOfView] = numberValue(c.mHorizontalFOV);
    if (c.mOrthographicWidth > 0.0f) {
        // A parallel view; the host frames it by its zoom, which the width does not give.
        o->params[hn::cameraParam::kProjection] = numberValue(hn::cameraParam::kProjectionParallel);
        ++skipped_.orthographic;
    }
    return o;
}

std::unique_ptr<SimObject> Importer::lightObject(const aiLight& l, const std::string& name) {
    auto o = newObject(hn::kObjectLight, name);
    // The source's colour carries the intensity: the host keeps a colour and a brightness.
    RdHostVector c = colour(l.mColorDiffuse);
    const double peak = std::max({c.x, c.y, c.z});
    double brightness = 1.0;
    if (peak > 1.0) {
        brightness = peak;
        c = RdHostVector{c.x / peak, c.y / peak, c.z / peak};
    }
    o->params[hn::lightParam::kColor] = vectorValue(c);
    o->params[hn::lightParam::kBrightness] = numberValue(brightness);
    o->params[hn::lightParam::kIntensitySwitch] = numberValue(0);
    if (l.mType == aiLightSource_AREA) {
        o->params[hn::lightParam::kType] = numberValue(hn::lightParam::kTypeArea);
        o->params[hn::lightParam::kAreaSizeX] = numberValue(l.mSize.x);
        o->params[hn::lightParam::kAreaSizeY] = numberValue(l.mSize.y);
        o->params[hn::lightParam::kAreaSizeZ] = numberValue(0);
    } else {
        o->params[hn::lightParam::kType] =
            numberValue(hn::lightParam::kTypePoint);  // spot lights too
    }
    return o;
}

// How many nodes bear each name; without recursion, however deep.
std::map<std::string, size_t> Importer::nodeNames(const aiNode* root) {
    std::map<std::string, size_t> count;
    std::vector<const aiNode*> pending;
    if (root != nullptr) {
        pending.push_back(root);
    }
    while (!pending.empty()) {
        const aiNode* n = pending.back();
        pending.pop_back();
        ++count[n->mName.C_Str()];
        for (unsigned i = 0; i < n->mNumChildren; ++i) {
            if (n->mChildren[i] != nullptr) {
                pending.push_back(n->mChildren[i]);
            }
        }
    }
    return count;
}

// Links the tree, gives objects their ids 1, 2, 3 ... in document order and registers every
// linkable node, as the JSON loader does.
void Importer::finish() {
    for (size_t i = 0; i < doc_.objects.size(); ++i) {
        linkObject(*doc_.objects[i],
                   i + 1 < doc_.objects.size() ? doc_.objects[i + 1].get() : nullptr);
    }
    uint64_t next = 1;
    for (SimObject* o : doc_.allObjects()) {
        o->guid = next++;
        o->id = std::to_string(o->guid);
        doc_.links.emplace(o->id, o);
        for (size_t i = 0; i + 1 < o->tags.size(); ++i) {
            o->tags[i]->next = o->tags[i + 1].get();
        }
    }
    for (auto& m : doc_.materials) {
        doc_.links.emplace(m->id, m.get());
        for (auto& s : m->shaders) {
            doc_.links.emplace(s->id, s.get());
        }
        for (size_t i = 0; i + 1 < m->shaders.size(); ++i) {
            m->shaders[i]->next = m->shaders[i + 1].get();
        }
    }
}

void Importer::linkObject(SimObject& o, SimObject* next) {
    o.next = next;
    o.down = o.children.empty() ? nullptr : o.children.front().get();
    for (size_t i = 0; i < o.children.size(); ++i) {
        linkObject(*o.children[i], i + 1 < o.children.size() ? o.children[i + 1].get() : nullptr);
    }
}

}  // namespace raydeck::hostsim::modelimport
