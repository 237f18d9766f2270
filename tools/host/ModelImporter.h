// The model import's own parts, shared by its files and by nothing else: the placement math
// (ModelImportMath.cpp) and the converter from an Assimp scene into a SimDocument, whose members
// live by concern in ModelImportScene.cpp (nodes, cameras, lights, warnings),
// ModelImportMaterials.cpp (materials, texture tags, embedded images), ModelImportMesh.cpp
// (polygon objects, the vertex join, the face mending) and ModelImportAnimation.cpp (tracks).
// ModelImport.cpp runs Assimp and the converter.
#ifndef RAYDECK_TOOLS_HOST_MODELIMPORTER_H
#define RAYDECK_TOOLS_HOST_MODELIMPORTER_H

#include <assimp/scene.h>

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "plugins/c4d/host/HostNumbers.h"
#include "tools/host/SimDocument.h"

namespace raydeck::hostsim::modelimport {

namespace hn = raydeck::host;

constexpr double kPi = 3.14159265358979323846;

// ---- placement math (ModelImportMath.cpp) ---------------------------------------------------

struct Affine {
    double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};  // axes as columns
    double t[3] = {0, 0, 0};
};

double component(const RdHostVector& v, int c);

// Model files are right-handed, the host is left-handed: a point (x, y, z) of the model is
// (x, y, -z) in the host, so that the scene (which mirrors z again on its way to the renderer)
// holds the model as it looks, seen from its own cameras as its viewers show it.
inline aiVector3D handed(const aiVector3D& v) {
    return aiVector3D(v.x, v.y, -v.z);
}

// A node transform in host coordinates: the mirror on both sides (M' = F M F).
Affine fromAssimp(const aiMatrix4x4& a);
Affine multiply(const Affine& a, const Affine& b);
RdHostMatrix toHost(const Affine& a);
// The rotation of a quaternion, in host coordinates.
void quaternionMatrix(const aiQuaternion& q, double r[3][3]);
// Position, rotation angles (order 0) and scale of an affine matrix; false when the matrix holds
// a shear or a zero scale, which position, rotation and scale cannot express.
bool decompose(const Affine& a, RdHostVector& position, RdHostVector& rotation,
               RdHostVector& scale);
// The camera's or light's own frame inside its node: looking along `direction`, `up` up.
Affine frame(const aiVector3D& position, const aiVector3D& direction, const aiVector3D& up);
bool isIdentity(const Affine& a);

// ---- document values ------------------------------------------------------------------------

inline SimValue numberValue(double n) {
    SimValue v;
    v.kind = SimValue::Kind::Number;
    v.number = n;
    return v;
}
inline SimValue vectorValue(const RdHostVector& x) {
    SimValue v;
    v.kind = SimValue::Kind::Vector;
    v.vector = x;
    return v;
}
inline SimValue textValue(const std::string& s) {
    SimValue v;
    v.kind = SimValue::Kind::Text;
    v.text = s;
    return v;
}
inline SimValue linkValue(SimNode* node) {
    SimValue v;
    v.kind = SimValue::Kind::Link;
    v.linkId = node->id;
    v.link = node;
    return v;
}
inline RdHostVector colour(const aiColor3D& c) {
    return RdHostVector{c.r, c.g, c.b};
}

// ---- the scene before the conversion (ModelImportMesh.cpp) ----------------------------------

// Makes a scene that a reader left inconsistent fit for Assimp's checks: faces whose indices
// name no vertex of their mesh are dropped (counted), and each mesh's primitive types are set
// from the faces it holds, so that a stray two-index face line is a line the import skips, not a
// reason to refuse the file. Answers the faces dropped.
size_t mendFaces(aiScene& scene);

// Joins a mesh's identical vertices in place, as Assimp's own step does, without that step's
// record of every attribute Assimp knows for every vertex. Vertices no face uses are dropped, as
// there.
void joinIdenticalVertices(aiMesh& mesh);

// ---- the conversion -------------------------------------------------------------------------

// Counts of what a host document cannot hold, reported once per kind.
struct Skipped {
    size_t bones = 0, morphs = 0, colours = 0, uvChannels = 0, lines = 0, points = 0,
           directional = 0, ambient = 0, animations = 0, meshAnimations = 0, unknownChannels = 0,
           badFaces = 0, nonFiniteFaces = 0, nonFiniteNormals = 0, orthographic = 0,
           textureRotations = 0, ambiguousChannels = 0, unencodablePixels = 0, unwritable = 0,
           embeddedWritten = 0, embeddedMissing = 0;
};

class Importer {
  public:
    // Embedded images go to "<model file name>.textures" in `imageBase` (the model's folder when
    // empty), or to the per-user folder when that cannot be written.
    Importer(const aiScene& scene, SimDocument& doc, size_t mendedFaces,
             const std::string& imageBase = std::string())
        : scene_(scene), doc_(doc), imageBase_(imageBase.empty() ? doc.folder : imageBase) {
        skipped_.badFaces = mendedFaces;
    }

    void run();
    // One line per kind of what was skipped, without the file's name.
    std::vector<std::string> warnings() const;

  private:
    // A material's texture placement, for the texture tags that use it.
    struct Mapping {
        double offsetU = 0, offsetV = 0, lengthU = 1, lengthV = 1;
    };
    // A mesh merged into a polygon object, and its polygons there.
    struct MeshPart {
        const aiMesh* mesh;
        int32_t first = 0, count = 0;
    };
    enum class FaceFit { Usable, Line, Point, OutOfRange, NonFinite };

    // Scene: nodes, cameras, lights.
    std::unique_ptr<SimObject> newObject(int32_t type, const std::string& name);
    std::unique_ptr<SimTag> newTag(SimObject& owner, int32_t type, const std::string& name);
    static void place(SimObject& o, const Affine& local, bool animated);
    std::unique_ptr<SimObject> node(const aiNode& n);
    std::unique_ptr<SimObject> cameraObject(const aiCamera& c, const std::string& name);
    std::unique_ptr<SimObject> lightObject(const aiLight& l, const std::string& name);
    static std::map<std::string, size_t> nodeNames(const aiNode* root);
    void finish();
    static void linkObject(SimObject& o, SimObject* next);

    // Materials and textures.
    std::unique_ptr<SimMaterial> material(const aiMaterial& src, unsigned index);
    std::string embeddedImage(const std::string& ref);
    std::string writeImage(const std::string& name, const char* bytes, size_t size);
    void textureTags(SimObject& o, const std::vector<MeshPart>& parts);

    // Meshes.
    static FaceFit fit(const aiMesh& m, const aiFace& f);
    bool usable(const aiMesh& m, const aiFace& f);
    std::unique_ptr<SimObject> meshObject(const aiNode& n, const std::string& name);

    // Animation.
    RdHostTime keyTime(double ticks) const { return RdHostTime{ticks, ticksPerSecond_}; }
    std::unique_ptr<SimTrack> newTrack(int32_t parameter, int component, const char* label);
    void tracks(SimObject& o, const aiNodeAnim& ch, const Affine& own);

    const aiScene& scene_;
    SimDocument& doc_;
    std::vector<Mapping> mapping_;           // per material
    std::string imageBase_;                  // the folder that takes "<model>.textures"
    std::string imageFolder_;                // where embedded images go, once the first is written
    std::string besideFolder_, userFolder_;  // the latter set when the former failed
    std::map<std::string, std::string> embeddedFiles_;  // "*0" -> the file written
    std::map<int, std::string> imageFiles_;             // embedded image index -> the same
    std::multimap<std::string, const aiCamera*> cameras_;
    std::multimap<std::string, const aiLight*> lights_;
    std::multimap<std::string, const aiNodeAnim*> channels_;  // equal names in file order
    double ticksPerSecond_ = 25.0;
    Skipped skipped_;
};

}  // namespace raydeck::hostsim::modelimport

#endif
