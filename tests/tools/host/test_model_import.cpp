// Model files as host documents: an inline OBJ with two materials, an inline glTF box with a
// texture and a rotation animation, Collada lights and cameras from the Assimp test models, the
// quaternion-to-angles round trip, and the content test between host documents and models.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"
#include "tools/host/HostFile.h"

namespace fs = std::filesystem;
using namespace raydeck::hostsim;

namespace {

class ModelImport : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(tmp_.path().empty());
        dir_ = fs::u8path(tmp_.path());
    }
    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / name, std::ios::binary) << text;
        return (dir_ / name).string();
    }
    std::unique_ptr<SimDocument> load(const std::string& path) {
        warnings_.clear();
        error_.clear();
        return loadHostFile(path, error_, warnings_);
    }

    TempDir tmp_;
    fs::path dir_;
    std::string error_;
    std::vector<std::string> warnings_;
};

SimObject* byName(const SimDocument& doc, const std::string& name) {
    for (SimObject* o : doc.allObjects()) {
        if (o->name == name) {
            return o;
        }
    }
    return nullptr;
}

std::vector<const SimTag*> tagsOf(const SimObject& o, int32_t type) {
    std::vector<const SimTag*> out;
    for (const auto& t : o.tags) {
        if (t->type == type) {
            out.push_back(t.get());
        }
    }
    return out;
}

void expectNear(const RdHostVector& a, const RdHostVector& b, double eps = 1e-6) {
    EXPECT_NEAR(a.x, b.x, eps);
    EXPECT_NEAR(a.y, b.y, eps);
    EXPECT_NEAR(a.z, b.z, eps);
}

void expectMatrixNear(const RdHostMatrix& a, const RdHostMatrix& b, double eps = 1e-6) {
    expectNear(a.off, b.off, eps);
    expectNear(a.v1, b.v1, eps);
    expectNear(a.v2, b.v2, eps);
    expectNear(a.v3, b.v3, eps);
}

// A right-handed model's matrix in the host's left-handed coordinates: z mirrored on both sides.
RdHostMatrix handed(RdHostMatrix m) {
    m.off.z = -m.off.z;
    m.v1.z = -m.v1.z;
    m.v2.z = -m.v2.z;
    m.v3.x = -m.v3.x;
    m.v3.y = -m.v3.y;
    return m;
}

// Rotation matrix (axes as columns) of a unit quaternion.
RdHostMatrix quaternionAxes(double w, double x, double y, double z) {
    RdHostMatrix m{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
    m.v1 = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)};
    m.v2 = {2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)};
    m.v3 = {2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)};
    return m;
}

const char* const kMtl = R"(newmtl Wood
Kd 0.8 0.5 0.2
Ks 0.1 0.2 0.3
map_Kd textures/wood.png
newmtl Steel
Kd 0.3 0.3 0.35
)";

// A quad and a pentagon in Wood, a triangle in Steel, then a last quad in Wood again.
const char* const kObj = R"(mtllib two.mtl
v 0 0 0
v 1 0 0
v 1 1 0
v 0 1 0
v 2 0 0
v 2 1 0
v 3 0.5 0
vt 0 0
vt 1 0
vt 1 1
vt 0 1
vn 0 0 1
o Panel
usemtl Wood
f 1/1/1 2/2/1 3/3/1 4/4/1
f 2/1/1 5/2/1 7/3/1 6/4/1 3/1/1
usemtl Steel
f 1/1/1 2/2/1 4/4/1
l 1 2
)";

}  // namespace

TEST_F(ModelImport, ObjKeepsQuadsSplitsLargerPolygonsAndSelectsPolygonsPerMaterial) {
    write("two.mtl", kMtl);
    auto doc = load(write("two.obj", kObj));
    ASSERT_TRUE(doc) << error_;
    EXPECT_EQ(doc->fileName, "two.obj");
    EXPECT_EQ(doc->folder, fs::path(dir_).lexically_normal().string());
    ASSERT_EQ(warnings_.size(), 1u);
    EXPECT_EQ(warnings_[0], "two.obj: skipped 1 line");

    ASSERT_EQ(doc->objects.size(), 1u);
    EXPECT_EQ(doc->objects[0]->type, 5140);
    SimObject* panel = byName(*doc, "Panel");
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->type, 5100);
    EXPECT_EQ(doc->objects[0]->down, panel);

    // Quad, pentagon as quad + triangle (fan from its first corner), triangle.
    ASSERT_EQ(panel->polygons.size(), 4u);
    auto at = [&](int32_t i) { return panel->points[static_cast<size_t>(i)]; };
    const RdHostPolygon& q = panel->polygons[0];
    EXPECT_NE(q.c, q.d);
    expectNear(at(q.a), {0, 0, 0});
    expectNear(at(q.c), {1, 1, 0});
    const RdHostPolygon& fanQuad = panel->polygons[1];
    const RdHostPolygon& fanTri = panel->polygons[2];
    EXPECT_NE(fanQuad.c, fanQuad.d);
    EXPECT_EQ(fanTri.c, fanTri.d);
    expectNear(at(fanQuad.a), {1, 0, 0});
    expectNear(at(fanQuad.d), {2, 1, 0});
    expectNear(at(fanTri.a), {1, 0, 0});
    expectNear(at(fanTri.b), {2, 1, 0});
    expectNear(at(fanTri.c), {1, 1, 0});
    EXPECT_EQ(panel->polygons[3].c, panel->polygons[3].d);

    // Per corner UVs and normals; a triangle's corner d repeats c.
    const SimTag* uvw = panel->findTag(5671);
    ASSERT_NE(uvw, nullptr);
    ASSERT_EQ(uvw->uvw.size(), 4u);
    expectNear(uvw->uvw[0].c, {1, 1, 0});
    expectNear(uvw->uvw[2].a, {0, 0, 0});
    expectNear(uvw->uvw[2].b, {0, 1, 0});
    expectNear(uvw->uvw[2].d, uvw->uvw[2].c);
    const std::vector<float> normals = panel->phongNormals();
    ASSERT_EQ(normals.size(), 48u);
    for (size_t k = 0; k < 16; ++k) {
        // The file's +z is the host's -z: the model is right-handed, the host left-handed.
        EXPECT_FLOAT_EQ(normals[3 * k + 2], -1.0f) << k;
    }

    // Materials: colours, specular, the texture as the model names it.
    ASSERT_EQ(doc->materials.size(), 3u);  // with the importer's default material
    SimMaterial* wood = nullptr;
    SimMaterial* steel = nullptr;
    for (auto& m : doc->materials) {
        EXPECT_EQ(m->type, 5703);
        if (m->name == "Wood") {
            wood = m.get();
        } else if (m->name == "Steel") {
            steel = m.get();
        }
    }
    ASSERT_NE(wood, nullptr);
    ASSERT_NE(steel, nullptr);
    expectNear(wood->params.at(2100).vector, {0.8, 0.5, 0.2});
    EXPECT_TRUE(wood->channels.count(0) && wood->channels.count(8));
    expectNear(wood->params.at(3100).vector, {0.1, 0.2, 0.3});
    ASSERT_EQ(wood->shaders.size(), 1u);
    EXPECT_EQ(wood->shaders[0]->type, 5833);
    EXPECT_EQ(wood->shaders[0]->params.at(1000).text, "textures/wood.png");
    EXPECT_EQ(wood->params.at(8000).link, wood->shaders[0].get());
    EXPECT_EQ(doc->find(wood->id), wood);
    EXPECT_TRUE(steel->shaders.empty());

    // One selection and one restricted texture tag per material.
    const auto selections = tagsOf(*panel, 5673);
    const auto textures = tagsOf(*panel, 5616);
    ASSERT_EQ(selections.size(), 2u);
    ASSERT_EQ(textures.size(), 2u);
    for (const SimTag* t : textures) {
        const std::string restriction = t->params.at(1006).text;
        const SimTag* sel = nullptr;
        for (const SimTag* s : selections) {
            if (s->name == restriction) {
                sel = s;
            }
        }
        ASSERT_NE(sel, nullptr) << restriction;
        EXPECT_EQ(sel->name, static_cast<SimMaterial*>(t->material)->name);
        EXPECT_EQ(t->params.at(1004).number, 6);
        if (t->material == wood) {
            EXPECT_EQ(sel->ranges, (std::vector<std::pair<int32_t, int32_t>>{{0, 2}}));
        } else {
            EXPECT_EQ(t->material, steel);
            EXPECT_EQ(sel->ranges, (std::vector<std::pair<int32_t, int32_t>>{{3, 3}}));
        }
    }
}

TEST_F(ModelImport, MeshesWithoutNormalsOrUvBesideOthersGetFaceNormalsAndZeroUvs) {
    // "a" has normals and UVs, "b" neither; both on one node.
    write("two.mtl", kMtl);
    auto doc = load(write("mixed.obj", R"(mtllib two.mtl
v 0 0 0
v 1 0 0
v 1 1 0
v 0 0 1
v 0 1 1
vt 0.5 0.5
vn 0 0 1
o Mixed
usemtl Wood
f 1/1/1 2/1/1 3/1/1
usemtl Steel
f 1 4 5
)"));
    ASSERT_TRUE(doc) << error_;
    SimObject* o = byName(*doc, "Mixed");
    ASSERT_NE(o, nullptr);
    ASSERT_EQ(o->polygons.size(), 2u);
    const SimTag* uvw = o->findTag(5671);
    ASSERT_NE(uvw, nullptr);
    ASSERT_EQ(uvw->uvw.size(), 2u);
    const std::vector<float> n = o->phongNormals();
    ASSERT_EQ(n.size(), 24u);
    // Which polygon came from which mesh follows the selections.
    for (const SimTag* s : tagsOf(*o, 5673)) {
        const int32_t p = s->ranges.at(0).first;
        const size_t base = static_cast<size_t>(p) * 12;
        if (s->name == "Wood") {
            expectNear(uvw->uvw[p].a, {0.5, 0.5, 0});
            EXPECT_FLOAT_EQ(n[base + 2], -1.0f);  // the file's +z
        } else {
            expectNear(uvw->uvw[p].a, {0, 0, 0});
            // Points (0,0,0), (0,0,1), (0,1,1): the face normal is -x.
            EXPECT_NEAR(std::fabs(n[base]), 1.0f, 1e-6);
            EXPECT_FLOAT_EQ(n[base + 1], 0.0f);
        }
    }
}

namespace {

std::string base64(const std::vector<unsigned char>& bytes) {
    static const char* const table =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t v = static_cast<uint32_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            v |= bytes[i + 2];
        out += table[(v >> 18) & 63];
        out += table[(v >> 12) & 63];
        out += i + 1 < bytes.size() ? table[(v >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? table[v & 63] : '=';
    }
    return out;
}

template <typename T>
void append(std::vector<unsigned char>& out, const std::vector<T>& values) {
    const auto* p = reinterpret_cast<const unsigned char*>(values.data());
    out.insert(out.end(), p, p + values.size() * sizeof(T));
}

// Rotation keys of the glTF animation: (w, x, y, z) at 0, 1 and 2 seconds.
const double kHalf = std::sqrt(0.5);
const double kKeys[3][4] = {{1, 0, 0, 0}, {kHalf, 0, kHalf, 0}, {0.5, 0.5, 0.5, 0.5}};

// A unit box (24 vertices, 12 triangles) with normals and UVs, a texture, and a node whose
// rotation is animated by three quaternion keys.
std::string gltfBox() {
    std::vector<float> pos, nrm, uv;
    std::vector<uint16_t> idx;
    for (int axis = 0; axis < 3; ++axis) {
        for (int side = -1; side <= 1; side += 2) {
            const uint16_t base = static_cast<uint16_t>(pos.size() / 3);
            const int u = (axis + 1) % 3, v = (axis + 2) % 3;
            const float corners[4][2] = {
                {-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}};
            for (const auto& c : corners) {
                float p[3], n[3] = {0, 0, 0};
                p[axis] = 0.5f * side;
                p[u] = c[0];
                p[v] = c[1];
                n[axis] = static_cast<float>(side);
                pos.insert(pos.end(), p, p + 3);
                nrm.insert(nrm.end(), n, n + 3);
                uv.push_back(c[0] + 0.5f);
                uv.push_back(c[1] + 0.5f);
            }
            const uint16_t tri[6] = {0, 1, 2, 0, 2, 3};
            for (uint16_t t : tri) {
                idx.push_back(static_cast<uint16_t>(base + t));
            }
        }
    }
    const std::vector<float> times = {0, 1, 2};
    std::vector<float> rotations;
    for (const auto& k : kKeys) {
        rotations.insert(rotations.end(), {float(k[1]), float(k[2]), float(k[3]), float(k[0])});
    }
    std::vector<unsigned char> buf;
    append(buf, pos);        // 0, 288
    append(buf, nrm);        // 288, 288
    append(buf, uv);         // 576, 192
    append(buf, idx);        // 768, 72
    append(buf, times);      // 840, 12
    append(buf, rotations);  // 852, 48
    return R"({"asset": {"version": "2.0"}, "scene": 0, "scenes": [{"nodes": [0]}],
  "nodes": [{"name": "Box", "mesh": 0, "translation": [1, 2, 3]}],
  "meshes": [{"name": "BoxMesh", "primitives": [{"attributes": {"POSITION": 0, "NORMAL": 1,
      "TEXCOORD_0": 2}, "indices": 3, "material": 0}]}],
  "materials": [{"name": "Crate", "pbrMetallicRoughness": {"baseColorTexture": {"index": 0},
      "baseColorFactor": [1, 0.5, 0.25, 1]}}],
  "textures": [{"source": 0}], "images": [{"uri": "crate.png"}],
  "animations": [{"channels": [{"sampler": 0, "target": {"node": 0, "path": "rotation"}}],
      "samplers": [{"input": 4, "output": 5, "interpolation": "LINEAR"}]}],
  "accessors": [
    {"bufferView": 0, "componentType": 5126, "count": 24, "type": "VEC3",
     "min": [-0.5, -0.5, -0.5], "max": [0.5, 0.5, 0.5]},
    {"bufferView": 1, "componentType": 5126, "count": 24, "type": "VEC3"},
    {"bufferView": 2, "componentType": 5126, "count": 24, "type": "VEC2"},
    {"bufferView": 3, "componentType": 5123, "count": 36, "type": "SCALAR"},
    {"bufferView": 4, "componentType": 5126, "count": 3, "type": "SCALAR", "min": [0], "max": [2]},
    {"bufferView": 5, "componentType": 5126, "count": 3, "type": "VEC4"}],
  "bufferViews": [
    {"buffer": 0, "byteOffset": 0, "byteLength": 288},
    {"buffer": 0, "byteOffset": 288, "byteLength": 288},
    {"buffer": 0, "byteOffset": 576, "byteLength": 192},
    {"buffer": 0, "byteOffset": 768, "byteLength": 72},
    {"buffer": 0, "byteOffset": 840, "byteLength": 12},
    {"buffer": 0, "byteOffset": 852, "byteLength": 48}],
  "buffers": [{"byteLength": )" +
           std::to_string(buf.size()) + R"(, "uri": "data:application/octet-stream;base64,)" +
           base64(buf) + R"("}]})";
}

}  // namespace

TEST_F(ModelImport, GltfBoxWithTextureAndRotationTrackThatReproducesTheQuaternions) {
    auto doc = load(write("box.gltf", gltfBox()));
    ASSERT_TRUE(doc) << error_;
    EXPECT_TRUE(warnings_.empty()) << warnings_[0];
    SimObject* box = byName(*doc, "Box");
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->type, 5100);
    EXPECT_EQ(box->polygons.size(), 12u);
    ASSERT_NE(box->findTag(5671), nullptr);
    EXPECT_EQ(box->phongNormals().size(), 12u * 12u);

    // One material for the whole mesh: one unrestricted texture tag, no selection.
    const auto textures = tagsOf(*box, 5616);
    ASSERT_EQ(textures.size(), 1u);
    EXPECT_EQ(textures[0]->params.at(1006).text, "");
    EXPECT_TRUE(tagsOf(*box, 5673).empty());
    const auto* crate = static_cast<const SimMaterial*>(textures[0]->material);
    ASSERT_NE(crate, nullptr);
    EXPECT_EQ(crate->name, "Crate");
    expectNear(crate->params.at(2100).vector, {1, 0.5, 0.25});
    ASSERT_EQ(crate->shaders.size(), 1u);
    EXPECT_EQ(crate->shaders[0]->params.at(1000).text, "crate.png");

    // Three rotation tracks with keys at 0, 1, 2 s; the evaluated matrix is the quaternion's.
    ASSERT_EQ(box->tracks.size(), 3u);
    for (int c = 0; c < 3; ++c) {
        const SimTrack& t = *box->tracks[static_cast<size_t>(c)];
        EXPECT_EQ(t.descId[0], 904);
        EXPECT_EQ(t.descId[1], 1000 + c);
        EXPECT_EQ(t.params.at(904).number, 1);
        ASSERT_EQ(t.curve.keys.size(), 3u);
        for (int k = 0; k < 3; ++k) {
            EXPECT_DOUBLE_EQ(timeSeconds(t.curve.keys[static_cast<size_t>(k)].time), k);
        }
    }
    for (int k = 0; k < 3; ++k) {
        doc->time = RdHostTime{static_cast<double>(k), 1.0};
        doc->evaluate();
        RdHostMatrix want = quaternionAxes(kKeys[k][0], kKeys[k][1], kKeys[k][2], kKeys[k][3]);
        want.off = {1, 2, 3};
        expectMatrixNear(box->matrix, handed(want), 1e-5);
    }
}

TEST_F(ModelImport, AnglesReproduceRotationsInEveryOrderAndKeysTakeTheShortWay) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    for (int32_t order = 0; order <= 6; ++order) {
        for (int i = 0; i < 200; ++i) {
            double w = d(rng), x = d(rng), y = d(rng), z = d(rng);
            if (i == 0) {  // gimbal lock of the middle factor, for order 0 a quarter turn on x
                w = kHalf, x = kHalf, y = 0, z = 0;
            }
            const double n = std::sqrt(w * w + x * x + y * y + z * z);
            const RdHostMatrix q = quaternionAxes(w / n, x / n, y / n, z / n);
            const double r[3][3] = {
                {q.v1.x, q.v2.x, q.v3.x}, {q.v1.y, q.v2.y, q.v3.y}, {q.v1.z, q.v2.z, q.v3.z}};
            const RdHostMatrix back = rotationMatrix(anglesForRotation(r, order), order);
            expectMatrixNear(back, q, 1e-9);
        }
    }
    // Keys at 170 and -170 degrees about z: the second as 190, 20 degrees on, not 340 back.
    const double a = 170.0 * 3.14159265358979323846 / 180.0;
    const RdHostVector previous{0, 0, -a};  // order 0 negates the angle
    const double r[3][3] = {
        {std::cos(-a), -std::sin(-a), 0}, {std::sin(-a), std::cos(-a), 0}, {0, 0, 1}};
    const RdHostVector next = anglesForRotation(r, 0, &previous);
    EXPECT_NEAR(next.z - previous.z, -20.0 * 3.14159265358979323846 / 180.0, 1e-9);
    EXPECT_NEAR(next.x, 0.0, 1e-9);
    EXPECT_NEAR(next.y, 0.0, 1e-9);
}

TEST_F(ModelImport, ColladaLightsAndCamerasFromTheTestModels) {
    const std::string models = "/usr/share/assimp/models/Collada/";
    if (!fs::exists(models + "lights.dae")) {
        GTEST_SKIP() << "assimp-testmodels is not installed";
    }
    auto doc = load(models + "lights.dae");
    ASSERT_TRUE(doc) << error_;
    EXPECT_EQ(doc->folder, "/usr/share/assimp/models/Collada");
    EXPECT_EQ(warnings_, (std::vector<std::string>{"lights.dae: skipped 1 directional light",
                                                   "lights.dae: skipped 1 ambient light"}));
    SimObject* lamp = byName(*doc, "Lamp");
    SimObject* spot = byName(*doc, "Spot");
    ASSERT_NE(lamp, nullptr);
    ASSERT_NE(spot, nullptr);
    EXPECT_EQ(lamp->type, 5102);
    EXPECT_EQ(spot->type, 5102);
    EXPECT_EQ(spot->params.at(90002).number, 0);  // as a point light
    expectNear(lamp->params.at(90000).vector, {1, 1, 1});
    expectNear(lamp->matrix.off, {0, 1, -1});  // z mirrored into the host's coordinates
    expectNear(spot->matrix.off, {8.888217, -5.016863, -5.336025});
    EXPECT_EQ(byName(*doc, "Sun")->type, 5140);  // a directional light's node stays a null

    // The perspective cameras with their horizontal angles (the orthographic one's magnification
    // reaches us as an angle, which the reader leaves no way to tell apart).
    auto cams = load(models + "cameras.dae");
    ASSERT_TRUE(cams) << error_;
    const double degree = 3.14159265358979323846 / 180.0;
    for (const char* name : {"Camera", "Camera_002", "Camera_003"}) {
        ASSERT_NE(byName(*cams, name), nullptr) << name;
        EXPECT_EQ(byName(*cams, name)->type, 5103) << name;
    }
    EXPECT_NEAR(byName(*cams, "Camera")->params.at(1008).number, 49.13434 * degree, 1e-6);
    EXPECT_NEAR(byName(*cams, "Camera_003")->params.at(1008).number, 29.86284 * degree, 1e-6);
    EXPECT_TRUE(warnings_.empty());
}

TEST_F(ModelImport, ContentDecidesBetweenHostDocumentsAndModels) {
    EXPECT_EQ(classifyFileContent(R"({"format": "raydeck-host-document", "version": 1})"),
              FileKind::HostDocument);
    EXPECT_EQ(classifyFileContent(R"({"objects": [], "format": )"), FileKind::HostDocument);
    EXPECT_EQ(classifyFileContent(R"({"version": 1})"), FileKind::HostDocument);
    EXPECT_EQ(classifyFileContent(R"(// note
        {"asset": {"version": "2.0"}, "format": 1})"),
              FileKind::Model);
    EXPECT_EQ(classifyFileContent(R"({"objects": [)"), FileKind::JsonOrModel);
    EXPECT_EQ(classifyFileContent("v 0 0 0\nf 1 1 1\n"), FileKind::Model);
    EXPECT_EQ(classifyFileContent(std::string("\0\1\2", 3)), FileKind::Model);

    // A host document's errors stay the JSON loader's; a file Assimp cannot read names its
    // reason.
    EXPECT_FALSE(load(write("doc.json", R"({"format": "scene", "version": 1})")));
    EXPECT_EQ(
        error_.rfind((dir_ / "doc.json").string() + ": /format: expected \"raydeck-host-document\"",
                     0),
        0u)
        << error_;
    EXPECT_FALSE(load(write("broken.json", R"({"objects": [)")));
    EXPECT_NE(error_.find("broken.json: not JSON: "), std::string::npos) << error_;
    EXPECT_FALSE(load(write("junk.obj", "this is no model\n")));
    EXPECT_NE(error_.find("junk.obj: cannot read the model: "), std::string::npos) << error_;
    EXPECT_GT(error_.size(), error_.find("model: ") + 7);
}

// A glTF of nested nodes, `levels` deep.
std::string nestedNodesGltf(int levels) {
    std::string nodes;
    for (int i = 0; i < levels; ++i) {
        nodes += (i > 0 ? "," : "") + std::string("{\"name\":\"n") + std::to_string(i) + "\"" +
                 (i + 1 < levels ? ",\"children\":[" + std::to_string(i + 1) + "]" : "") + "}";
    }
    return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[)" + nodes +
           "]}";
}

// Used to crash inside the model reader's recursion (100000 levels) or, deeper than a document
// may be, to export a scene that rdk-inspect would not read back.
TEST_F(ModelImport, ModelsDeeperThanADocumentAreRefusedNotCrashedOn) {
    EXPECT_TRUE(load(write("deep1024.gltf", nestedNodesGltf(1024)))) << error_;
    for (int levels : {1025, 100000}) {
        const std::string path = write("deep.gltf", nestedNodesGltf(levels));
        EXPECT_FALSE(load(path)) << levels;
        EXPECT_EQ(error_, path + ": cannot read the model: objects nested deeper than 1024 levels");
    }
}

// The bounded import hands the document from its child process back through these bytes: what
// comes back must be the document that went in, links and all, and damaged bytes an error.
TEST_F(ModelImport, ImportResultBytesGiveTheSameDocumentBackAndRefuseDamage) {
    write("two.mtl", kMtl);
    auto doc = load(write("two.obj", kObj));
    ASSERT_TRUE(doc) << error_;
    std::string bytes;
    ASSERT_TRUE(encodeImportResult(doc.get(), "", warnings_, bytes));
    std::string error;
    std::vector<std::string> warnings;
    auto back = decodeImportResult(bytes, error, warnings);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(warnings, warnings_);
    EXPECT_EQ(back->fileName, doc->fileName);
    EXPECT_EQ(back->folder, doc->folder);
    const std::vector<SimObject*> was = doc->allObjects(), is = back->allObjects();
    ASSERT_EQ(is.size(), was.size());
    for (size_t i = 0; i < is.size(); ++i) {
        EXPECT_EQ(is[i]->name, was[i]->name);
        EXPECT_EQ(is[i]->id, was[i]->id);
        EXPECT_EQ(back->find(is[i]->id), is[i]);
        ASSERT_EQ(is[i]->points.size(), was[i]->points.size());
        ASSERT_EQ(is[i]->polygons.size(), was[i]->polygons.size());
        ASSERT_EQ(is[i]->tags.size(), was[i]->tags.size());
        for (size_t p = 0; p < is[i]->points.size(); ++p) {
            expectNear(is[i]->points[p], was[i]->points[p], 0);
        }
        expectMatrixNear(is[i]->matrix, was[i]->matrix, 0);
        for (size_t t = 0; t < is[i]->tags.size(); ++t) {
            const SimTag& a = *is[i]->tags[t];
            const SimTag& b = *was[i]->tags[t];
            EXPECT_EQ(a.owner, is[i]);
            EXPECT_EQ(a.next, t + 1 < is[i]->tags.size() ? is[i]->tags[t + 1].get() : nullptr);
            EXPECT_EQ(a.ranges, b.ranges);
            EXPECT_EQ(a.normals, b.normals);
            EXPECT_EQ(a.uvw.size(), b.uvw.size());
            if (b.material != nullptr) {
                ASSERT_NE(a.material, nullptr);
                EXPECT_EQ(a.material->document, back.get());
                EXPECT_EQ(a.material->name, b.material->name);
            }
        }
    }
    // The texture shader link of the wood material resolves into the new document.
    ASSERT_EQ(back->materials.size(), doc->materials.size());
    const SimMaterial* wood = nullptr;
    for (const auto& m : back->materials) {
        wood = m->name == "Wood" ? m.get() : wood;
    }
    ASSERT_NE(wood, nullptr);
    ASSERT_EQ(wood->shaders.size(), 1u);
    EXPECT_EQ(wood->params.at(8000).link, wood->shaders[0].get());

    for (size_t cut : {size_t(0), size_t(7), bytes.size() / 2, bytes.size() - 1}) {
        error.clear();
        EXPECT_FALSE(decodeImportResult(bytes.substr(0, cut), error, warnings)) << cut;
        EXPECT_FALSE(error.empty()) << cut;
    }
    // An error and its warnings come back as they went.
    ASSERT_TRUE(encodeImportResult(nullptr, "m.obj: cannot read the model: x", {"w"}, bytes));
    warnings.clear();
    EXPECT_FALSE(decodeImportResult(bytes, error, warnings));
    EXPECT_EQ(error, "m.obj: cannot read the model: x");
    EXPECT_EQ(warnings, std::vector<std::string>{"w"});
}

// Two nodes named "joint", each moved by a channel of its own: the first node took one of the
// motions and the other was lost, silently. The reader names both channels "joint" and gives
// them in an order of its own, so which joint takes which cannot be told: one each, and a
// warning.
TEST_F(ModelImport, ChannelsOfNodesSharingANameBindOneEachWithAWarning) {
    auto doc = load(write("joints.gltf", R"({"asset": {"version": "2.0"}, "scene": 0,
      "scenes": [{"nodes": [0, 1]}], "nodes": [{"name": "joint"}, {"name": "joint"}],
      "animations": [{"samplers": [{"input": 0, "output": 1}, {"input": 0, "output": 2}],
        "channels": [{"sampler": 0, "target": {"node": 0, "path": "translation"}},
                     {"sampler": 1, "target": {"node": 1, "path": "translation"}}]}],
      "buffers": [{"byteLength": 56, "uri": "data:application/octet-stream;base64,AAAAAAAAgD8AAAAAAAAAAAAAAAAAAIA/AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAACgQAAAAAA="}],
      "bufferViews": [{"buffer": 0, "byteLength": 8}, {"buffer": 0, "byteOffset": 8,
                       "byteLength": 24}, {"buffer": 0, "byteOffset": 32, "byteLength": 24}],
      "accessors": [{"bufferView": 0, "componentType": 5126, "count": 2, "type": "SCALAR",
                     "min": [0], "max": [1]},
                    {"bufferView": 1, "componentType": 5126, "count": 2, "type": "VEC3"},
                    {"bufferView": 2, "componentType": 5126, "count": 2, "type": "VEC3"}]})"));
    ASSERT_TRUE(doc) << error_;
    std::vector<const SimObject*> joints;
    for (const SimObject* o : doc->allObjects()) {
        if (o->name == "joint") {
            joints.push_back(o);
        }
    }
    ASSERT_EQ(joints.size(), 2u);
    doc->time = RdHostTime{1, 1};
    doc->evaluate();
    const bool firstMovesAlongX = joints[0]->position.x > 0.5;
    expectNear(joints[firstMovesAlongX ? 0 : 1]->position, {1, 0, 0});
    expectNear(joints[firstMovesAlongX ? 1 : 0]->position, {0, 5, 0});
    EXPECT_EQ(warnings_, std::vector<std::string>{
                             "joints.gltf: bound 2 animation channels by a node name that several "
                             "nodes share: which moves which is a guess"});
}

// KHR_texture_transform's offset and scale become the texture tag's offset and length; its
// rotation has no place there and is named in a warning.
TEST_F(ModelImport, TextureTransformBecomesTheTagsOffsetAndLength) {
    auto doc = load(write("tt.gltf", R"({"asset": {"version": "2.0"}, "scene": 0,
      "extensionsUsed": ["KHR_texture_transform"],
      "scenes": [{"nodes": [0, 1]}],
      "nodes": [{"name": "Plain", "mesh": 0}, {"name": "Turned", "mesh": 1}],
      "meshes": [{"primitives": [{"attributes": {"POSITION": 0, "TEXCOORD_0": 1},
                                  "material": 0}]},
                 {"primitives": [{"attributes": {"POSITION": 0, "TEXCOORD_0": 1},
                                  "material": 1}]}],
      "materials": [
        {"pbrMetallicRoughness": {"baseColorTexture": {"index": 0, "extensions": {
           "KHR_texture_transform": {"offset": [0.5, 0], "scale": [2, 4]}}}}},
        {"pbrMetallicRoughness": {"baseColorTexture": {"index": 0, "extensions": {
           "KHR_texture_transform": {"rotation": 0.5}}}}}],
      "textures": [{"source": 0}], "images": [{"uri": "uv.png"}],
      "buffers": [{"byteLength": 60, "uri": "data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAAAAAAAAAAAAAAAIA/AAAAAAAAAAAAAIA/"}],
      "bufferViews": [{"buffer": 0, "byteLength": 36}, {"buffer": 0, "byteOffset": 36,
                       "byteLength": 24}],
      "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                     "min": [0, 0, 0], "max": [1, 1, 0]},
                    {"bufferView": 1, "componentType": 5126, "count": 3, "type": "VEC2"}]})"));
    ASSERT_TRUE(doc) << error_;
    const SimObject* plain = byName(*doc, "Plain");
    ASSERT_NE(plain, nullptr);
    const auto tags = tagsOf(*plain, 5616);
    ASSERT_EQ(tags.size(), 1u);
    // u' = 2u + 0.5 is (u - offset) / length with length 1/2 and offset -1/4. In v the reader
    // flips the image (v' = 1 - v) and with it the transform: v' = 4v + (1 - 4) = 4v - 3.
    EXPECT_DOUBLE_EQ(tags[0]->params.at(1002).number, 0.5);
    EXPECT_DOUBLE_EQ(tags[0]->params.at(1003).number, 0.25);
    EXPECT_DOUBLE_EQ(tags[0]->params.at(1000).number, -0.25);
    EXPECT_DOUBLE_EQ(tags[0]->params.at(1001).number, 0.75);
    EXPECT_EQ(warnings_, std::vector<std::string>{
                             "tt.gltf: skipped 1 texture transform's rotation (the texture tag "
                             "has none)"});
}

// Images held in the file (here as data URIs, which the reader embeds like a GLB's) are written
// once each beside the model, named by their index and format, and the bitmap shaders name
// those files; two materials sharing an image share its file, and a second import writes
// nothing new.
TEST_F(ModelImport, EmbeddedImagesAreWrittenOnceBesideTheModelAndNamed) {
    const std::string gltf = write("two.gltf", R"({"asset": {"version": "2.0"}, "scene": 0,
      "scenes": [{"nodes": [0, 1, 2]}],
      "nodes": [{"name": "A", "mesh": 0}, {"name": "B", "mesh": 1}, {"name": "C", "mesh": 2}],
      "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "material": 0}]},
                 {"primitives": [{"attributes": {"POSITION": 0}, "material": 1}]},
                 {"primitives": [{"attributes": {"POSITION": 0}, "material": 2}]}],
      "materials": [{"pbrMetallicRoughness": {"baseColorTexture": {"index": 0}}},
                    {"pbrMetallicRoughness": {"baseColorTexture": {"index": 1}}},
                    {"pbrMetallicRoughness": {"baseColorTexture": {"index": 0}}}],
      "textures": [{"source": 0}, {"source": 1}],
      "images": [{"uri": "data:image/png;base64,SU1BR0UtQQ=="},
                 {"uri": "data:image/jpeg;base64,SU1BR0UtQkI="}],
      "buffers": [{"byteLength": 36, "uri": "data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA"}],
      "bufferViews": [{"buffer": 0, "byteLength": 36}],
      "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                     "min": [0, 0, 0], "max": [1, 1, 0]}]})");
    const fs::path images = dir_ / "two.gltf.textures";
    auto shaderFiles = [](const SimDocument& doc) {
        std::vector<std::string> files;
        for (const auto& m : doc.materials) {
            files.push_back(m->shaders.empty() ? std::string()
                                               : m->shaders[0]->params.at(1000).text);
        }
        return files;
    };
    auto listing = [&images] {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::directory_iterator(images)) {
            std::ifstream in(e.path(), std::ios::binary);
            files[e.path().filename().string()] =
                std::string(std::istreambuf_iterator<char>(in), {});
        }
        return files;
    };
    const std::map<std::string, std::string> expected{{"image0.png", "IMAGE-A"},
                                                      {"image1.jpg", "IMAGE-BB"}};
    for (int pass = 0; pass < 2; ++pass) {
        auto doc = load(gltf);
        ASSERT_TRUE(doc) << error_;
        EXPECT_TRUE(warnings_.empty()) << warnings_[0];
        const std::string a = (images / "image0.png").string(),
                          b = (images / "image1.jpg").string();
        // The reader adds a default material after the file's own.
        EXPECT_EQ(shaderFiles(*doc), (std::vector<std::string>{a, b, a, ""})) << "pass " << pass;
        EXPECT_EQ(listing(), expected) << "pass " << pass;
    }
}

// A file that already holds other bytes under an image's name is replaced, not kept: the scene
// must show the model's image.
TEST_F(ModelImport, EmbeddedImageReplacesStaleBytesUnderItsName) {
    const std::string gltf = write("one.gltf", R"({"asset": {"version": "2.0"}, "scene": 0,
      "scenes": [{"nodes": [0]}], "nodes": [{"name": "A", "mesh": 0}],
      "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "material": 0}]}],
      "materials": [{"pbrMetallicRoughness": {"baseColorTexture": {"index": 0}}}],
      "textures": [{"source": 0}], "images": [{"uri": "data:image/png;base64,SU1BR0UtQQ=="}],
      "buffers": [{"byteLength": 36, "uri": "data:application/octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA"}],
      "bufferViews": [{"buffer": 0, "byteLength": 36}],
      "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                     "min": [0, 0, 0], "max": [1, 1, 0]}]})");
    fs::create_directories(dir_ / "one.gltf.textures");
    write("one.gltf.textures/image0.png", "IMAGE-Z");  // same size, other bytes
    ASSERT_TRUE(load(gltf)) << error_;
    std::ifstream in(dir_ / "one.gltf.textures" / "image0.png", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "IMAGE-A");
    EXPECT_FALSE(fs::exists(dir_ / "one.gltf.textures" / "image0.png.part"));
}

// The import joins identical vertices itself: a binary STL gives every triangle corners of its
// own, and a quad cut into two triangles must come back as four shared points; a vertex no face
// uses is dropped, and corners that differ in their normal stay apart.
TEST_F(ModelImport, IdenticalCornersAreJoinedAndDifferentNormalsKeptApart) {
    auto stl = [](const std::vector<std::array<float, 12>>& triangles) {
        std::string bytes(80, ' ');
        const uint32_t count = static_cast<uint32_t>(triangles.size());
        bytes.append(reinterpret_cast<const char*>(&count), sizeof count);
        for (const auto& t : triangles) {
            bytes.append(reinterpret_cast<const char*>(t.data()), sizeof(float) * 12);
            bytes.append(2, '\0');
        }
        return bytes;
    };
    // Normal, then three corners: (0,0,0) (1,0,0) (1,1,0) and (0,0,0) (1,1,0) (0,1,0).
    auto doc = load(write("quad.stl", stl({{0, 0, 1, 0, 0, 0, 1, 0, 0, 1, 1, 0},
                                           {0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 1, 0}})));
    ASSERT_TRUE(doc) << error_;
    const SimObject* mesh = nullptr;
    for (const SimObject* o : doc->allObjects()) {
        mesh = o->type == 5100 ? o : mesh;
    }
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->points.size(), 4u);
    ASSERT_EQ(mesh->polygons.size(), 2u);
    EXPECT_EQ(mesh->polygons[0].a, mesh->polygons[1].a);
    EXPECT_EQ(mesh->polygons[0].c, mesh->polygons[1].b);

    // The same corners with the second triangle's normal turned: nothing shared.
    doc = load(write("fold.stl", stl({{0, 0, 1, 0, 0, 0, 1, 0, 0, 1, 1, 0},
                                      {1, 0, 0, 0, 0, 0, 1, 1, 0, 0, 1, 0}})));
    ASSERT_TRUE(doc) << error_;
    for (const SimObject* o : doc->allObjects()) {
        mesh = o->type == 5100 ? o : mesh;
    }
    EXPECT_EQ(mesh->points.size(), 6u);

    // An OBJ point no face uses is not imported.
    doc = load(write("unused.obj", "v 0 0 0\nv 9 9 9\nv 1 0 0\nv 1 1 0\nf 1 3 4\n"));
    ASSERT_TRUE(doc) << error_;
    for (const SimObject* o : doc->allObjects()) {
        mesh = o->type == 5100 ? o : mesh;
    }
    ASSERT_EQ(mesh->points.size(), 3u);
    for (const RdHostVector& p : mesh->points) {
        EXPECT_NE(p.x, 9.0);
    }
}
