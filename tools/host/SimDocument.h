// The host simulator's document model: a host document read from a JSON document file (format in
// tools/host/README.md), held in memory, evaluated at a time.
//
// Usage (unit tests build in-memory documents this way):
//   std::string error;
//   auto doc = raydeck::hostsim::loadDocumentText(R"({"format": "raydeck-host-document",
//       "version": 1, "objects": [{"name": "Cube", "type": 5100, ...}]})",
//       "scene.c4d", "/tmp/docs", error);      // null and `error` set on a bad document
//   raydeck::hostsim::SimHost host;            // tools/host/SimHost.h: the host interface table
//   host.setActiveDocument(doc.get());
//   raydeck::host::setHostInterface(host.table());
//   raydeck::host::BaseDocument d(host.documentHandle());   // hand this to the converters
#ifndef RAYDECK_TOOLS_HOST_SIMDOCUMENT_H
#define RAYDECK_TOOLS_HOST_SIMDOCUMENT_H

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "plugins/c4d/host/HostInterface.h"
#include "tools/host/DocumentLimits.h"

namespace raydeck::hostsim {

class SimDocument;
struct SimNode;

struct GradientKnot {
    double position = 0.0;
    RdHostVector color{0, 0, 0};
};

// One stored parameter value; its kind decides which reads succeed.
struct SimValue {
    enum class Kind { Number, Vector, Text, Link, Gradient };
    Kind kind = Kind::Number;
    double number = 0.0;
    RdHostVector vector{0, 0, 0};
    std::string text;         // Text
    std::string linkId;       // Link: the id as written
    SimNode* link = nullptr;  // Link: resolved after loading
    std::vector<GradientKnot> gradient;
};

enum class NodeKind { Object, Tag, Material, Shader, Layer, Track };

struct SimNode {
    virtual ~SimNode() = default;
    NodeKind kind = NodeKind::Object;
    int32_t type = 0;
    std::string name;
    std::string id;  // link id ("" when the node cannot be linked)
    std::map<int32_t, SimValue> params;
    SimDocument* document = nullptr;
};

struct SimKey {
    RdHostTime time{0.0, 1.0};
    double value = 0.0;
};

struct SimCurve {
    std::vector<SimKey> keys;  // ascending time
};

enum class Interpolation { Linear, Step };

struct SimTrack : SimNode {
    int32_t depth = 0;
    int32_t descId[2] = {0, 0};
    bool hasCurve = false;
    SimCurve curve;
    Interpolation interpolation = Interpolation::Linear;
    SimTrack* next = nullptr;
    // The value at t seconds: interpolated between the keys around t, the first key's value
    // before it, the last key's after it; 0 without keys.
    double valueAt(double seconds) const;
};

struct SimObject;

struct SimTag : SimNode {
    std::string materialId;
    SimNode* material = nullptr;
    RdHostMatrix textureMatrix{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    std::vector<RdHostUVWPolygon> uvw;                // 5671
    std::vector<std::pair<int32_t, int32_t>> ranges;  // 5673, inclusive
    bool hasNormals = false;                          // 5612 with explicit normals
    std::vector<float> normals;                       // 12 per polygon
    bool selected = false;
    SimTag* next = nullptr;
    SimObject* owner = nullptr;
};

struct SimShader : SimNode {
    SimShader* next = nullptr;
};

struct SimMaterial : SimNode {
    std::set<int32_t> channels;
    std::map<int32_t, SimValue> container;
    std::vector<std::unique_ptr<SimShader>> shaders;
};

struct SimLayer : SimNode {};

struct SimHair {
    int32_t segments = 0;
    std::vector<RdHostVector> points;  // guide after guide, segments + 1 each
    std::vector<RdHostVector> rootUV;  // one per guide
};

struct SimObject : SimNode {
    SimObject() = default;
    SimObject(const SimObject&) = delete;
    SimObject& operator=(const SimObject&) = delete;
    // Frees the descendants without recursing, however deep the hierarchy.
    ~SimObject() override;

    uint64_t guid = 0;
    bool hasGuid = false;
    RdHostVector position{0, 0, 0}, rotation{0, 0, 0}, scale{1, 1, 1};
    int32_t rotationOrder = 0;
    bool explicitMatrix = false;
    RdHostMatrix matrix{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    bool generatorInput = false;
    bool selected = false;
    std::string layerId;
    SimNode* layer = nullptr;
    std::vector<RdHostVector> points;
    std::vector<RdHostPolygon> polygons;
    std::vector<std::unique_ptr<SimTag>> tags;
    std::vector<std::unique_ptr<SimTrack>> tracks;
    bool hasHair = false;
    SimHair hair;
    std::unique_ptr<SimObject> cache, deformCache;
    std::vector<std::unique_ptr<SimObject>> children;
    SimObject* next = nullptr;
    SimObject* down = nullptr;

    const SimTag* findTag(int32_t tagType) const;
    // Phong normals: 12 floats per polygon, explicit ones from the phong tag or smooth normals
    // per point (averaged face normals). Empty without a phong tag.
    std::vector<float> phongNormals() const;
    // Rebuilds the matrix from position, rotation and scale unless the file gave one.
    void updateMatrix();
};

class SimDocument {
  public:
    std::string fileName;  // parameter 1013
    std::string folder;    // parameter 1012
    RdHostTime time{0.0, 1.0};
    RdHostTime minTime{0.0, 1.0};
    bool hairService = true;
    bool gradientService = true;
    std::vector<std::unique_ptr<SimLayer>> layers;
    std::vector<std::unique_ptr<SimMaterial>> materials;
    std::vector<std::unique_ptr<SimObject>> objects;

    SimObject* firstObject() const { return objects.empty() ? nullptr : objects.front().get(); }
    // The node with that link id, or null.
    SimNode* find(const std::string& id) const;
    // Selected objects and tags in document order (an object, its tags, its caches, children).
    std::vector<SimNode*> selection() const;
    // Applies every position/rotation/scale track at the current time and rebuilds the matrices
    // of objects without an explicit matrix.
    void evaluate();
    // Every object in document order, caches included.
    std::vector<SimObject*> allObjects() const;
    // Sets the objects' next and down pointers from the tree (a cache is a tree of its own, with
    // no object after its root); without recursion, as deep as the document goes.
    void linkObjects();

    std::map<std::string, SimNode*> links;
};

// Loads a document from JSON text (comments allowed; a UTF-8 byte-order mark is read as nothing)
// in one streaming pass (DocumentReader.cpp; the members it knows are in DocumentMembers.cpp).
// fileName and folder are the defaults of "file" and "folder"; errorName names the text in
// messages. Null with `error` set on a bad document: "<errorName>: <json path>: <reason>", or
// "<errorName>: not JSON: <reason> (at <json path>)" when the text is not JSON. A member the
// format does not know is refused at its path with the nearest known name. Objects nest at most
// kMaxObjectDepth levels (DocumentLimits.h).
std::unique_ptr<SimDocument> loadDocumentText(const std::string& text, const std::string& fileName,
                                              const std::string& folder, std::string& error,
                                              const std::string& errorName = "");
// The encoding that a byte-order mark at the start of `text` names when the loader does not read
// it ("UTF-16 (little-endian)", ...), or null (no mark, or UTF-8's).
const char* foreignByteOrderMark(const std::string& text);
// The same encoding when the text behind that mark starts a JSON object (its first character
// other than blanks is '{'), else null: what the content test sends to the document loader.
const char* jsonInAnotherEncoding(const std::string& text);
// Loads a document file; "file"/"folder" default to the file's own name and folder. A file that
// cannot be read is refused as readDocumentFile says.
std::unique_ptr<SimDocument> loadDocumentFile(const std::string& path, std::string& error);

// A document file's bytes, or why there are none: "<path>: is a folder, not a document file",
// "<path>: the document file is empty", or "<path>: cannot open|read the document file: <the
// system's reason>".
bool readDocumentFile(const std::string& path, std::string& content, std::string& error);

// The file's name and absolute folder, the defaults of a document's "file" and "folder".
void documentNameAndFolder(const std::string& path, std::string& fileName, std::string& folder);

// Placement math of the host.
double timeSeconds(const RdHostTime& t);
// rotation(a, order) as the animation export defines it, axes as columns.
RdHostMatrix rotationMatrix(const RdHostVector& angles, int32_t order);
// translation(position) * rotation(rotation, order) * scale(scale).
RdHostMatrix composeMatrix(const RdHostVector& position, const RdHostVector& rotation,
                           const RdHostVector& scale, int32_t order);
// a * b for host placements (b applied first).
RdHostMatrix placementProduct(const RdHostMatrix& a, const RdHostMatrix& b);

}  // namespace raydeck::hostsim

#endif
