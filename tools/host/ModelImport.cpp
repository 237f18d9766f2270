// Model import through Assimp into the document model: Assimp reads and checks the file, the
// converter (ModelImporter.h) builds the document, on a stack of its own. The content test that
// sends a file here or to the JSON loader is in HostFile.cpp.
#include "tools/host/ModelImport.h"

#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <cstdlib>

#include "platform/thread.h"
#include "tools/host/DocumentLimits.h"
#include "tools/host/ModelImporter.h"

namespace raydeck::hostsim {

namespace {

// Node levels below the scene, the root being level 1; without recursion, however deep.
int nodeDepth(const aiNode* root) {
    int deepest = 0;
    std::vector<std::pair<const aiNode*, int>> pending;
    if (root != nullptr) {
        pending.emplace_back(root, 1);
    }
    while (!pending.empty()) {
        const auto [n, level] = pending.back();
        pending.pop_back();
        deepest = std::max(deepest, level);
        for (unsigned i = 0; i < n->mNumChildren; ++i) {
            if (n->mChildren[i] != nullptr) {
                pending.emplace_back(n->mChildren[i], level + 1);
            }
        }
    }
    return deepest;
}

// The import itself; it recurses along the node hierarchy (Assimp reading, checking and freeing
// the scene, the conversion of the nodes), so importModelFile runs it on a stack of its own.
std::unique_ptr<SimDocument> importOnThisStack(const std::string& path, std::string& error,
                                               std::vector<std::string>& warnings) {
    Assimp::Importer importer;
    // The source's axes and units as they are; no helper nodes for pivots.
    importer.SetPropertyBool(AI_CONFIG_IMPORT_COLLADA_IGNORE_UP_DIRECTION, true);
    importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    // No stand-in meshes for scenes without geometry: the source has none.
    importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
    // No triangulation: quads and larger polygons stay as the source has them.
    const aiScene* read = importer.ReadFile(path, 0);
    if (read == nullptr) {
        error = path + ": cannot read the model: " + importer.GetErrorString();
        return nullptr;
    }
    // The scene is the importer's until it is freed; mending it in place is what its
    // post-processing steps do too.
    const size_t mended = modelimport::mendFaces(*const_cast<aiScene*>(read));
    const aiScene* scene = importer.ApplyPostProcessing(aiProcess_ValidateDataStructure);
    if (scene == nullptr) {
        error = path + ": cannot read the model: the file's structure is inconsistent (" +
                importer.GetErrorString() + ")";
        return nullptr;
    }
    for (unsigned i = 0; i < scene->mNumMeshes; ++i) {
        if (scene->mMeshes[i] != nullptr) {
            modelimport::joinIdenticalVertices(*scene->mMeshes[i]);
        }
    }
    // As deep as a host document may be, so that every export of it reads back.
    if (nodeDepth(scene->mRootNode) > kMaxObjectDepth) {
        error = path + ": cannot read the model: objects nested deeper than " +
                std::to_string(kMaxObjectDepth) + " levels";
        return nullptr;
    }
    auto doc = std::make_unique<SimDocument>();
    documentNameAndFolder(path, doc->fileName, doc->folder);
    // Where the images a model embeds go instead of beside it (tests of read-only model sets).
    const char* imageBase = std::getenv("RAYDECK_EMBEDDED_TEXTURES");
    modelimport::Importer run(*scene, *doc, mended, imageBase != nullptr ? imageBase : "");
    run.run();
    const std::string base = doc->fileName;
    for (const std::string& w : run.warnings()) {
        warnings.push_back(base + ": " + w);
    }
    doc->evaluate();
    return doc;
}

}  // namespace

std::unique_ptr<SimDocument> importModelFile(const std::string& path, std::string& error,
                                             std::vector<std::string>& warnings) {
    // Room for Assimp's recursion through a deep file, reserved rather than committed.
    constexpr std::size_t kImportStackBytes = std::size_t(512) << 20;
    std::unique_ptr<SimDocument> doc;
    // A reader's failed allocation reaches here when Assimp does not catch it itself; on the
    // import's own thread it must not escape.
    auto guarded = [&] {
        try {
            doc = importOnThisStack(path, error, warnings);
        } catch (const std::bad_alloc&) {
            doc.reset();
            error = path + ": cannot read the model: std::bad_alloc";
        } catch (const std::exception& e) {
            doc.reset();
            error = path + ": cannot read the model: " + e.what();
        }
    };
    const platform::Status ran = platform::runWithStack(kImportStackBytes, guarded);
    if (!ran.ok()) {
        guarded();
    }
    return doc;
}

}  // namespace raydeck::hostsim
