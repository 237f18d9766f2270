// Polygon mesh conversion: piece layout, claiming order, normals and UVs, the layer gate, and
// host data that does not hold together.
#include <algorithm>
#include <cmath>
#include <limits>

#include "plugins/c4d/convert/mesh.h"
#include "tests/plugins/c4d/test_mesh_fixture.h"

namespace raydeck::c4d::testing {
namespace {

const char* kRed = R"([{"id": "RED", "type": 5703, "name": "Red", "channels": [0],
                         "params": {"2100": [1, 0, 0]}},
                        {"id": "BLUE", "type": 5703, "name": "Blue", "channels": [0],
                         "params": {"2100": [0, 0, 1]}}])";

// Two quads side by side: points 0 1 2 along the bottom, 3 4 5 along the top.
std::string twoQuads(const std::string& tags, const std::string& extra = "") {
    return R"([{"name": "Strip", "type": 5100, )" + extra +
           R"( "points": [[0,0,0],[1,0,0],[2,0,0],[0,1,0],[1,1,0],[2,1,0]],
               "polygons": [[0,1,4,3],[1,2,5,4]], "tags": )" +
           tags + "}]";
}

std::string texture(const std::string& material, const std::string& restriction = "") {
    return R"({"type": 5616, "material": ")" + material + R"(", "params": {"1006": ")" +
           restriction + R"("}})";
}

class MeshTest : public ConverterTest {
  protected:
    void convert(const std::string& name) {
        convertPolygonObject(context, object(name), textureTags(name));
    }
    std::vector<std::string> materials() const { return calls("beginMaterial"); }
};

TEST_F(MeshTest, SingleQuadAndSingleTriangleLayouts) {
    load(documentJson(R"([{"name": "Quad", "type": 5100,
        "points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "polygons": [[0,1,2,3]]},
        {"name": "Tri", "type": 5100, "points": [[0,0,0],[1,0,0],[0,1,0]],
         "polygons": [[0,1,2,2]], "tags": [{"type": 5671,
         "uvw": [[[0,0,0],[1,0,0],[0,1,0],[0,1,0]]]}]}])"));
    convert("Quad");
    EXPECT_TRUE(hasAttributes(0, {{"vertices", "count=4 0,0,0,1,0,0,1,1,0,0,1,0"},
                                  {"triangles", "count=6 0,3,1,2,1,3"},
                                  {"normals", ""},
                                  {"uv_tex", ""}}));
    // No texture tag: the display colour material.
    EXPECT_EQ(materials(), std::vector<std::string>{"beginMaterial Display color plain"});
    EXPECT_EQ(calls("beginShader"), std::vector<std::string>{"beginShader (null) trv_diffuse"});
    EXPECT_EQ(calls("attribute diffuse"),
              std::vector<std::string>{"attribute diffuse vec3f 0.65,0.65,0.65"});

    convert("Tri");
    EXPECT_TRUE(hasAttributes(1, {{"triangles", "count=3 0,2,1"},
                                  {"uv_tex", "count=6 0,0,1,0,0,1"},
                                  {"triangles_uv", "count=3 0,2,1"}}));
}

TEST_F(MeshTest, AttributeOrderWithNormalTagAndUvs) {
    load(documentJson(R"([{"name": "Quad", "type": 5100,
        "points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "polygons": [[0,1,2,3]],
        "tags": [{"type": 5711}, {"type": 5612, "normals": [[0,0,1, 0,0,1, 0,0,1, 0,0,1]]},
                 {"type": 5671, "uvw": [[[0,0,0],[1,0,0],[1,1,0],[0,1,0]]]}]}])"));
    convert("Quad");
    std::vector<std::string> names;
    for (const std::string& c : calls("attribute ")) {
        names.push_back(c.substr(10, c.find(' ', 10) - 10));
        if (names.back() == "triangles") {
            break;
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"vertices", "normals", "triangles_norm", "uv_tex",
                                               "triangles_uv", "triangles"}));
    // A normal tag replaces the phong normals by zero normals, one per corner.
    EXPECT_TRUE(hasAttributes(0, {{"normals", "count=4 0,0,0,0,0,0,0,0,0,0,0,0"},
                                  {"triangles_norm", "count=6 0,3,1,2,1,3"}}));
    // The uv count is the number of floats.
    EXPECT_TRUE(hasAttributes(
        0, {{"uv_tex", "count=8 0,0,1,0,1,1,0,1"}, {"triangles_uv", "count=6 0,3,1,2,1,3"}}));
}

TEST_F(MeshTest, PhongNormalsPerCorner) {
    load(documentJson(R"([{"name": "Quad", "type": 5100,
        "points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "polygons": [[0,1,2,3]],
        "tags": [{"type": 5612, "normals": [[1,0,0, 0,1,0, 0,0,1, 1,1,1]]}]}])"));
    convert("Quad");
    EXPECT_EQ(attributeOf(0, "normals"), "count=4 1,0,0,0,1,0,0,0,1,1,1,1");
}

TEST_F(MeshTest, PiecesNumberTheirVerticesInOrderOfFirstUse) {
    load(documentJson(twoQuads("[" + texture("RED", "right") +
                               R"(, {"type": 5673, "name": "right", "selection": [[1, 1]]}])"),
                      kRed));
    convert("Strip");
    ASSERT_EQ(calls("beginObject").size(), 2u);
    // The restricted tag's piece (polygon 1, points 1 2 5 4) first, from vertex 0 again.
    EXPECT_TRUE(hasAttributes(0, {{"vertices", "count=4 1,0,0,2,0,0,2,1,0,1,1,0"},
                                  {"triangles", "count=6 0,3,1,2,1,3"}}));
    EXPECT_EQ(attributeOf(1, "vertices"), "count=4 0,0,0,1,0,0,1,1,0,0,1,0");
    EXPECT_EQ(materials(), (std::vector<std::string>{"beginMaterial Red plain",
                                                     "beginMaterial Display color plain"}));
}

TEST_F(MeshTest, ClaimingOrderOfTextureTags) {
    struct Case {
        const char* what;
        std::string tags;
        std::vector<std::string> materials;
        std::vector<std::string> triangleCounts;
    };
    const std::string sel = R"({"type": 5673, "name": "left", "selection": [[0, 0]]})";
    const std::string empty = R"({"type": 5673, "name": "none", "selection": []})";
    const std::vector<Case> cases = {
        {"two unrestricted: only the last writes",
         texture("RED") + "," + texture("BLUE"),
         {"Blue"},
         {"count=12"}},
        {"restricted before unrestricted: the later claims all",
         texture("RED", "left") + "," + texture("BLUE") + "," + sel,
         {"Blue"},
         {"count=12"}},
        {"unrestricted before restricted: both write",
         texture("BLUE") + "," + texture("RED", "left") + "," + sel,
         {"Red", "Blue"},
         {"count=6", "count=6"}},
        {"empty selection writes nothing and does not fall back",
         texture("RED", "none") + "," + empty,
         {"Display color"},
         {"count=12"}},
        {"a name that no selection carries applies to all",
         texture("RED", "nowhere") + "," + sel,
         {"Red"},
         {"count=12"}},
        {"a tag without material is skipped",
         R"({"type": 5616, "params": {}})",
         {"Display color"},
         {"count=12"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        load(documentJson(twoQuads("[" + c.tags + "]"), kRed));
        convert("Strip");
        std::vector<std::string> expectedMaterials, counts;
        for (const std::string& m : c.materials) {
            expectedMaterials.push_back("beginMaterial " + m + " plain");
        }
        EXPECT_EQ(materials(), expectedMaterials);
        for (size_t i = 0; i < c.materials.size(); ++i) {
            const std::string t = attributeOf(static_cast<int>(i), "triangles");
            counts.push_back(t.substr(0, t.find(' ')));
        }
        EXPECT_EQ(counts, c.triangleCounts);
    }
}

TEST_F(MeshTest, InheritedTagsClaimAfterTheObjectsOwn) {
    load(documentJson(twoQuads("[" + texture("RED", "left") +
                               R"(, {"type": 5673, "name": "left", "selection": [[0, 0]]}])"),
                      kRed));
    // The list as the walk hands it down: null entry, an ancestor's Blue tag, the own Red tag.
    hostsim::SimTag ancestorTag;
    ancestorTag.kind = hostsim::NodeKind::Tag;
    ancestorTag.type = host::kTagTexture;
    ancestorTag.material = doc_->find("BLUE");
    TextureTagList list = textureTags("Strip");
    list.insert(list.begin() + 1, tagHandle(&ancestorTag));
    convertPolygonObject(context, object("Strip"), list);
    EXPECT_EQ(materials(),
              (std::vector<std::string>{"beginMaterial Red plain", "beginMaterial Blue plain"}));
}

TEST_F(MeshTest, LayerGate) {
    const std::string layers = R"([{"id": "ON", "params": {"1001": 1, "1002": 1}},
                                   {"id": "HALF", "params": {"1001": 1, "1002": 0}},
                                   {"id": "BARE", "params": {}}])";
    for (const auto& [layer, written] : std::vector<std::pair<std::string, bool>>{
             {"ON", true}, {"HALF", false}, {"BARE", false}}) {
        SCOPED_TRACE(layer);
        load(documentJson(twoQuads("[]", R"("layer": ")" + layer + R"(",)"), "[]", layers));
        convert("Strip");
        EXPECT_EQ(recording.calls.empty(), !written);
    }
}

TEST_F(MeshTest, PolygonNamingAMissingPointIsSkipped) {
    load(documentJson(twoQuads("[]")));
    // The document loader refuses such files; a host may still hand them out.
    simObject("Strip")->polygons[0].c = 6;
    simObject("Strip")->polygons.push_back(RdHostPolygon{-1, 0, 1, 1});
    convert("Strip");
    EXPECT_TRUE(hasAttributes(0, {{"triangles", "count=6 0,3,1,2,1,3"},
                                  {"vertices", "count=4 1,0,0,2,0,0,2,1,0,1,1,0"}}));

    // When no polygon is usable, nothing is written at all.
    for (RdHostPolygon& p : simObject("Strip")->polygons) {
        p.a = 100;
    }
    recording.calls.clear();
    convert("Strip");
    EXPECT_TRUE(calls("beginObject").empty());
}

TEST_F(MeshTest, ShortUvwDataMeansNoUvs) {
    load(documentJson(twoQuads(R"([{"type": 5671, "uvw": [[[0,0,0],[1,0,0],[1,1,0],[0,1,0]],
                                                           [[0,0,0],[1,0,0],[1,1,0],[0,1,0]]]}])")));
    // The document loader refuses such files; a host may still hand them out.
    simObject("Strip")->tags[0]->uvw.pop_back();
    convert("Strip");
    EXPECT_TRUE(hasAttributes(
        0,
        {{"uv_tex", ""}, {"triangles_uv", ""}, {"triangles", "count=12 0,3,1,2,1,3,1,2,4,5,4,2"}}));
}

// A host that hands out phong normals for fewer polygons than the object has.
float* shortPhong(const RdHostNode*, int32_t* count) {
    *count = 1;
    return static_cast<float*>(host::hostAlloc(12 * sizeof(float)));
}

// Four polygons along a strip, the third a triangle; the phong normal of corner k of polygon t
// is (t, k, 1).
std::string stripWithPhong(const std::string& textureTags) {
    return R"([{"name": "Strip", "type": 5100,
        "points": [[0,0,0],[1,0,0],[2,0,0],[3,0,0],[0,1,0],[1,1,0],[2,1,0],[3,1,0]],
        "polygons": [[0,1,5,4],[1,2,6,5],[2,3,7],[2,3,7,6]],
        "tags": [{"type": 5612, "normals": [[0,0,1, 0,1,1, 0,2,1, 0,3,1],
                                            [1,0,1, 1,1,1, 1,2,1, 1,3,1],
                                            [2,0,1, 2,1,1, 2,2,1, 2,3,1],
                                            [3,0,1, 3,1,1, 3,2,1, 3,3,1]]}, )" +
           textureTags + "]}]";
}

// Piece one is an unbroken run of quads, written from the host's own array; the others have a
// triangle or a gap, and copy. The bytes are those of the host's copy, piece by piece.
TEST_F(MeshTest, LentPhongNormalsWriteTheSameAsCopiedOnes) {
    // The recording numbers its shader handles across runs: those lines are left out.
    const auto geometry = [this] {
        std::vector<std::string> out;
        for (const std::string& c : recording.calls) {
            if (c.compare(0, 7, "shader ") != 0) {
                out.push_back(c);
            }
        }
        return out;
    };
    for (const char* selection : {"[[0, 1]]", "[[0, 0], [3, 3]]", "[[1, 3]]"}) {
        load(documentJson(
            stripWithPhong(texture("RED", "sel") +
                           R"(, {"type": 5673, "name": "sel", "selection": )" + selection + "}"),
            kRed));
        ASSERT_TRUE(object("Strip").phongNormals().isBorrowed());
        convert("Strip");
        const std::vector<std::string> lent = geometry();

        RdHostInterface table = *host_.table();
        table.polygonGetPhongNormals = nullptr;  // a host that only hands out copies
        host::setHostInterface(&table);
        ASSERT_FALSE(object("Strip").phongNormals().isBorrowed());
        recording.calls.clear();
        convert("Strip");
        EXPECT_EQ(geometry(), lent) << selection;
        host::setHostInterface(host_.table());
    }
    // The run [0, 1] and the rest: triangle 2 gives corners a, b, c only.
    EXPECT_EQ(attributeOf(0, "normals"),
              "count=11 1,0,1,1,1,1,1,2,1,1,3,1,2,0,1,2,1,1,2,2,1,"
              "3,0,1,3,1,1,3,2,1,3,3,1");
    EXPECT_EQ(attributeOf(1, "normals"), "count=4 0,0,1,0,1,1,0,2,1,0,3,1");
}

// A row of n unit quads named "Row" whose texture tag is restricted to `selection`.
std::string rowOfQuads(int n, const std::string& selection) {
    std::string points, polygons;
    for (int i = 0; i <= n; ++i) {
        points +=
            (i ? "," : "") + ("[" + std::to_string(i) + ",0,0],[" + std::to_string(i) + ",1,0]");
    }
    for (int i = 0; i < n; ++i) {
        const int a = 2 * i;
        polygons += (i ? "," : "") + ("[" + std::to_string(a) + "," + std::to_string(a + 2) + "," +
                                      std::to_string(a + 3) + "," + std::to_string(a + 1) + "]");
    }
    return R"([{"name": "Row", "type": 5100, "points": [)" + points + R"(], "polygons": [)" +
           polygons + R"(], "tags": [)" + texture("RED", "sel") +
           R"(, {"type": 5673, "name": "sel", "selection": )" + selection + "}]}]";
}

// Overlapping ranges once cost the sum of their lengths in time and memory (each polygon was
// visited and queued once per range that named it). Unordered, overlapping, nested and
// out-of-bounds ranges must claim exactly what their union names, once each.
TEST_F(MeshTest, OverlappingSelectionRangesClaimTheirUnionOnce) {
    const auto pieces = [&](const std::string& selection) {
        load(documentJson(rowOfQuads(10, selection), kRed));
        recording.calls.clear();
        convertPolygonObject(context, object("Row"), textureTags("Row"));
        return std::make_pair(attributeOf(0, "triangles"), attributeOf(1, "triangles"));
    };
    const auto clean = pieces("[[0, 5], [7, 9]]");
    EXPECT_EQ(pieces("[[7, 9], [2, 5], [0, 3], [4, 4], [8, 8], [0, 0], [9, 100]]"), clean);
    EXPECT_EQ(pieces("[[0, 1], [1, 2], [2, 3], [3, 5], [7, 7], [7, 9]]"), clean);
    // 4000 copies of the whole span: one piece of every quad, the rest empty.
    std::string same = "[";
    for (int i = 0; i < 4000; ++i) {
        same += i ? ", [0, 2999]" : "[0, 2999]";
    }
    load(documentJson(rowOfQuads(3000, same + "]"), kRed));
    recording.calls.clear();
    convertPolygonObject(context, object("Row"), textureTags("Row"));
    EXPECT_EQ(materials().size(), 1u);
    EXPECT_EQ(attributeOf(0, "triangles").substr(0, 11), "count=18000");
}

TEST_F(MeshTest, PhongNormalsOfAnUnbrokenRunComeFromTheHostsArray) {
    load(documentJson(stripWithPhong(texture("RED", "sel") +
                                     R"(, {"type": 5673, "name": "sel", "selection": [[0, 1]]})"),
                      kRed));
    convert("Strip");
    EXPECT_TRUE(
        hasAttributes(0, {{"normals", "count=8 0,0,1,0,1,1,0,2,1,0,3,1,1,0,1,1,1,1,1,2,1,1,3,1"},
                          {"triangles_norm", "count=12 0,3,1,2,1,3,4,7,5,6,5,7"}}));
    EXPECT_TRUE(hasAttributes(1, {{"normals", "count=7 2,0,1,2,1,1,2,2,1,3,0,1,3,1,1,3,2,1,3,3,1"},
                                  {"triangles_norm", "count=9 0,2,1,3,6,4,5,4,6"}}));
}

// A host that lends phong normals for fewer polygons than the object has.
const float kOneRecord[12] = {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1};
const float* shortLentPhong(const RdHostNode*, int32_t* count) {
    *count = 1;
    return kOneRecord;
}

TEST_F(MeshTest, ShortPhongDataCopiedOrLentMeansNoNormals) {
    for (const bool lent : {false, true}) {
        SCOPED_TRACE(lent ? "lent" : "copied");
        load(documentJson(twoQuads(R"([{"type": 5612}])")));
        RdHostInterface table = *host_.table();
        if (lent) {
            table.polygonGetPhongNormals = shortLentPhong;
        } else {
            table.polygonCreatePhongNormals = shortPhong;
        }
        host::setHostInterface(&table);
        convert("Strip");
        EXPECT_TRUE(hasAttributes(0, {{"normals", ""},
                                      {"triangles_norm", ""},
                                      {"triangles", "count=12 0,3,1,2,1,3,1,2,4,5,4,2"}}));
        host::setHostInterface(host_.table());
    }
}

TEST_F(MeshTest, NonFinitePointsAreWrittenAsTheyAre) {
    load(documentJson(twoQuads("[]")));
    simObject("Strip")->points[0].x = std::numeric_limits<double>::quiet_NaN();
    simObject("Strip")->points[1].y = std::numeric_limits<double>::infinity();
    convert("Strip");
    EXPECT_EQ(attributeOf(0, "vertices").substr(0, 22), "count=6 nan,0,0,1,inf,");

    // Through the text writer as well: the object is written to its end.
    FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    {
        trvScene_api_file writer(out, false);
        recordTo(&writer);
        convert("Strip");
    }
    std::string text(4096, '\0');
    std::rewind(out);
    text.resize(std::fread(&text[0], 1, text.size(), out));
    std::fclose(out);
    EXPECT_NE(text.find("triangles"), std::string::npos) << text;
    EXPECT_NE(text.find("Display color"), std::string::npos) << text;
}

// After a command the scratch keeps at most its budget, giving back its largest arrays first;
// what it keeps and what it rebuilds convert to the same calls.
TEST_F(MeshTest, TrimmedScratchKeepsItsBudgetAndConvertsTheSame) {
    load(documentJson(twoQuads("[" + texture("RED", "right") +
                               R"(, {"type": 5673, "name": "right", "selection": [[1, 1]]}])"),
                      kRed));
    // The calls without the recording's running shader handle numbers.
    auto written = [this] {
        std::vector<std::string> out;
        for (const std::string& c : recording.calls) {
            out.push_back(c.rfind("shader 0 #", 0) == 0 ? "shader 0" : c);
        }
        recording.calls.clear();
        return out;
    };
    convert("Strip");
    const std::vector<std::string> first = written();
    const size_t held = context.meshScratch.heldBytes();
    ASSERT_GT(held, 0u);
    const size_t positions =
        context.meshScratch.positions.capacity() * sizeof(context.meshScratch.positions[0]);
    // A budget one byte short of everything: the largest array goes, the rest stays warm.
    size_t largest = 0;
    for (size_t bytes : {positions, context.meshScratch.normals.capacity() * sizeof(float),
                         context.meshScratch.uvs.capacity() * sizeof(float),
                         context.meshScratch.triangles.capacity() * sizeof(int32_t),
                         context.meshScratch.corners.capacity() * sizeof(int32_t),
                         context.meshScratch.pointRemap.capacity() * sizeof(int32_t) +
                             context.meshScratch.pointStamp.capacity() * sizeof(uint32_t),
                         context.meshScratch.claimed.capacity() * sizeof(uint8_t),
                         context.meshScratch.piece.capacity() * sizeof(int32_t)}) {
        largest = std::max(largest, bytes);
    }
    context.meshScratch.trim(held - 1);
    EXPECT_LE(context.meshScratch.heldBytes(), held - 1);
    EXPECT_GE(context.meshScratch.heldBytes(), held - largest);
    convert("Strip");
    EXPECT_EQ(written(), first);

    // The remap and its stamps go together: a remap without stamps would be read past its end.
    context.meshScratch.trim(0);
    EXPECT_EQ(context.meshScratch.heldBytes(), 0u);
    EXPECT_EQ(context.meshScratch.generation, 0u);
    convert("Strip");
    EXPECT_EQ(written(), first);
}

}  // namespace
}  // namespace raydeck::c4d::testing
