// The simulator's document model: loading errors with their JSON paths, defaults, track values,
// evaluation and the placement math.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "tests/support/DeepDocument.h"
#include "tests/support/TempDir.h"
#include "tools/host/SimDocument.h"

using namespace raydeck::hostsim;

namespace {

std::string wrap(const std::string& body) {
    return R"({"format": "raydeck-host-document", "version": 1, )" + body + "}";
}

std::unique_ptr<SimDocument> load(const std::string& body, std::string& error) {
    return loadDocumentText(wrap(body), "doc.c4d", "/docs", error, "doc.json");
}

std::unique_ptr<SimDocument> loadOk(const std::string& body) {
    std::string error;
    auto doc = load(body, error);
    EXPECT_TRUE(doc) << error;
    return doc;
}

std::string loadError(const std::string& text) {
    std::string error;
    auto doc = loadDocumentText(text, "doc.c4d", "/docs", error, "doc.json");
    EXPECT_FALSE(doc);
    return error;
}

void expectVector(const RdHostVector& v, double x, double y, double z) {
    EXPECT_NEAR(v.x, x, 1e-12);
    EXPECT_NEAR(v.y, y, 1e-12);
    EXPECT_NEAR(v.z, z, 1e-12);
}

}  // namespace

TEST(SimDocumentErrors, NamesTheFileAndTheJsonPathOfTheBadValue) {
    EXPECT_EQ(loadError(wrap(R"("objects": [{"points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]],
        "polygons": [[0,1,2,3],[0,1,2,3],[0,1,2,3],[0,1,9,3]]}])")),
              "doc.json: /objects/0/polygons/3/2: index 9 out of range of 4 points");
    EXPECT_EQ(loadError(wrap(R"("objects": [{"position": "up"}])")),
              "doc.json: /objects/0/position: expected [x, y, z]");
    EXPECT_EQ(loadError(wrap(R"("objects": [{"children": [{"layer": "L9"}]}])")),
              "doc.json: /objects/0/children/0/layer: link to unknown id \"L9\"");
    EXPECT_EQ(loadError(wrap(R"("materials": [{"id": "M1", "params": {"8000": {"link": "S7"}}}])")),
              "doc.json: /materials/0/params/8000/link: link to unknown id \"S7\"");
    EXPECT_EQ(loadError(R"({"format": "other", "version": 1})"),
              "doc.json: /format: expected \"raydeck-host-document\"");
    EXPECT_EQ(loadError(R"({"format": "raydeck-host-document", "version": 2})"),
              "doc.json: /version: unsupported version 2; expected 1");
    EXPECT_EQ(loadError(wrap(R"("layers": [{"id": "A"}], "materials": [{"id": "A"}])")),
              "doc.json: /materials/0/id: duplicate id \"A\"");
    EXPECT_EQ(loadError(wrap(R"("layers": [{"id": "L1"}],
        "objects": [{"tags": [{"type": 5616, "material": "L1"}]}])")),
              "doc.json: /objects/0/tags/0/material: \"L1\" is not a material");
    EXPECT_NE(loadError("{not json").find("doc.json: not JSON: "), std::string::npos);
}

TEST(SimDocumentErrors, LayerParameterLinkToUnknownIdIsReported) {
    EXPECT_EQ(loadError(wrap(R"("layers": [{"id": "L1", "params": {"1000": {"link": "X"}}}])")),
              "doc.json: /layers/0/params/1000/link: link to unknown id \"X\"");
    auto doc =
        loadOk(R"("layers": [{"id": "L1", "params": {"1000": {"link": "L2"}}}, {"id": "L2"}])");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->layers[0]->params.at(1000).link, doc->layers[1].get());
}

TEST(SimDocumentErrors, TagDataMustMatchTheObjectsPolygons) {
    const std::string quad =
        R"("points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "polygons": [[0,1,2,3]])";
    EXPECT_EQ(
        loadError(wrap(R"("objects": [{)" + quad + R"(, "tags": [{"type": 5671, "uvw": []}]}])")),
        "doc.json: /objects/0/tags/0/uvw: 0 records for 1 polygons");
    EXPECT_EQ(loadError(wrap(
                  R"("objects": [{"hair": {"segments": 2, "guides": [{"points": [[0,0,0]]}]}}])")),
              "doc.json: /objects/0/hair/guides/0/points: 1 points; 2 segments need 3");
    EXPECT_EQ(loadError(wrap(R"("objects": [{"tags": [{"type": 5673, "selection": [[3, 1]]}]}])")),
              "doc.json: /objects/0/tags/0/selection/0: range [3, 1] is not 0 <= first <= last");
}

TEST(SimDocumentDefaults, IdsVisibilityNamesAndCommentsFollowTheDocumentFormat) {
    auto doc = loadOk(R"(
        // comments are allowed
        "objects": [{"name": "A", "id": 2, "children": [{"name": "B"}]}, /* skip */ {"name": "C",
                     "params": {"901": 1}, "tags": [{"type": 5673, "name": "front"}]}])");
    ASSERT_TRUE(doc);
    std::vector<SimObject*> all = doc->allObjects();
    ASSERT_EQ(all.size(), 3u);
    // File order, skipping the id the file already uses.
    EXPECT_EQ(all[0]->guid, 2u);
    EXPECT_EQ(all[1]->guid, 1u);
    EXPECT_EQ(all[2]->guid, 3u);
    EXPECT_EQ(all[1]->params.at(901).number, 2.0);
    EXPECT_EQ(all[2]->params.at(901).number, 1.0);
    EXPECT_EQ(all[2]->params.at(902).number, 2.0);
    EXPECT_EQ(all[2]->tags[0]->params.at(900).text, "front");
    EXPECT_EQ(doc->fileName, "doc.c4d");
    EXPECT_EQ(doc->folder, "/docs");
}

TEST(SimDocumentDefaults, SelectionIsInDocumentOrder) {
    auto doc = loadOk(R"("objects": [{"name": "A", "selected": true,
        "tags": [{"type": 5616, "selected": true}],
        "children": [{"name": "B", "selected": true}]}, {"name": "C"}, {"name": "D", "selected": true}])");
    ASSERT_TRUE(doc);
    std::vector<SimNode*> sel = doc->selection();
    ASSERT_EQ(sel.size(), 4u);
    EXPECT_EQ(sel[0]->name, "A");
    EXPECT_EQ(sel[1]->kind, NodeKind::Tag);
    EXPECT_EQ(sel[2]->name, "B");
    EXPECT_EQ(sel[3]->name, "D");
}

TEST(SimTrackValue, LinearInterpolatesAndHoldsTheEndValues) {
    auto doc = loadOk(R"("objects": [{"tracks": [{"id": [903, 1000], "keys": [
        {"time": 1.0, "value": 10.0}, {"time": 0.0, "value": 0.0}, {"time": {"num": 3, "den": 1}, "value": 30.0}]}]}])");
    ASSERT_TRUE(doc);
    const SimTrack& t = *doc->objects[0]->tracks[0];
    // Keys come sorted by time as the host keeps them.
    EXPECT_EQ(t.curve.keys[0].value, 0.0);
    EXPECT_DOUBLE_EQ(t.valueAt(-1.0), 0.0);
    EXPECT_DOUBLE_EQ(t.valueAt(0.25), 2.5);
    EXPECT_DOUBLE_EQ(t.valueAt(1.0), 10.0);
    EXPECT_DOUBLE_EQ(t.valueAt(2.0), 20.0);
    EXPECT_DOUBLE_EQ(t.valueAt(5.0), 30.0);
}

TEST(SimTrackValue, StepHoldsTheEarlierKeyAndNoKeysGiveZero) {
    auto doc = loadOk(R"("objects": [{"tracks": [
        {"id": [904, 1001], "interpolation": "step", "keys": [{"time": 0, "value": 1}, {"time": 1, "value": 5}]},
        {"id": [903, 1000], "keys": []},
        {"id": [903, 1001]}]}])");
    ASSERT_TRUE(doc);
    const auto& tracks = doc->objects[0]->tracks;
    EXPECT_DOUBLE_EQ(tracks[0]->valueAt(0.999), 1.0);
    EXPECT_DOUBLE_EQ(tracks[0]->valueAt(1.0), 5.0);
    EXPECT_DOUBLE_EQ(tracks[1]->valueAt(0.5), 0.0);
    EXPECT_TRUE(tracks[1]->hasCurve);
    EXPECT_FALSE(tracks[2]->hasCurve);
    std::string error;
    EXPECT_FALSE(
        load(R"("objects": [{"tracks": [{"id": [903, 1000], "interpolation": "cubic"}]}])", error));
    EXPECT_EQ(error,
              "doc.json: /objects/0/tracks/0/interpolation: unknown interpolation \"cubic\"; "
              "expected \"linear\" or \"step\"");
}

TEST(SimHostTime, ValueIsTheQuotientAndZeroWithoutDenominator) {
    EXPECT_DOUBLE_EQ(timeSeconds(RdHostTime{1, 30}), 1.0 / 30.0);
    EXPECT_EQ(timeSeconds(RdHostTime{5, 0}), 0.0);
    auto doc = loadOk(R"("minTime": {"num": 1, "den": 30}, "time": 2.5)");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->minTime.num, 1.0);
    EXPECT_EQ(doc->minTime.den, 30.0);
    EXPECT_DOUBLE_EQ(timeSeconds(doc->time), 2.5);
}

TEST(SimPlacement, RotationFollowsTheOrderTable) {
    // Order 0 is Rz(-a.z) * Rx(-a.x) * Ry(-a.y); a lone z angle of +90 degrees rotates the x axis
    // onto -y.
    const double h = std::acos(0.0);
    RdHostMatrix m = rotationMatrix(RdHostVector{0, 0, h}, 0);
    expectVector(m.v1, 0, -1, 0);
    expectVector(m.v2, 1, 0, 0);
    expectVector(m.v3, 0, 0, 1);
    // Order 2 applies Rz first, then Ry, then Rx (left to right product Rx * Ry * Rz).
    RdHostMatrix a = rotationMatrix(RdHostVector{h, h, 0}, 2);
    RdHostMatrix b = rotationMatrix(RdHostVector{h, h, 0}, 5);
    // Rx(-h) * Ry(-h) takes x to z, then z to y; Ry(-h) * Rx(-h) leaves x for Ry to take to z.
    expectVector(a.v1, 0, 1, 0);
    expectVector(b.v1, 0, 0, 1);
    // Order 6 takes the y factor from a.x.
    RdHostMatrix c = rotationMatrix(RdHostVector{h, 0, 0}, 6);
    expectVector(c.v1, 0, 0, 1);
    for (int order = 0; order <= 6; ++order) {
        RdHostMatrix id = rotationMatrix(RdHostVector{0, 0, 0}, order);
        expectVector(id.v1, 1, 0, 0);
        expectVector(id.v3, 0, 0, 1);
    }
}

TEST(SimEvaluation, TracksMoveObjectsAndRebuildTheirMatrices) {
    auto doc = loadOk(R"("objects": [
        {"name": "moving", "scale": [2, 1, 1], "tracks": [
            {"id": [903, 1000], "keys": [{"time": 0, "value": 0}, {"time": 1, "value": 10}]},
            {"id": [904, 1002], "keys": [{"time": 0, "value": 0}, {"time": 1, "value": 3.141592653589793}]}]},
        {"name": "fixed", "position": [1, 2, 3],
         "matrix": {"offset": [7, 8, 9]},
         "tracks": [{"id": [903, 1000], "keys": [{"time": 0, "value": 0}, {"time": 1, "value": 10}]}]}])");
    ASSERT_TRUE(doc);
    SimObject& moving = *doc->objects[0];
    SimObject& fixed = *doc->objects[1];
    expectVector(moving.matrix.off, 0, 0, 0);
    expectVector(moving.matrix.v1, 2, 0, 0);

    doc->time = RdHostTime{1, 2};
    doc->evaluate();
    expectVector(moving.position, 5, 0, 0);
    expectVector(moving.rotation, 0, 0, 3.141592653589793 / 2);
    expectVector(moving.matrix.off, 5, 0, 0);
    // Scale 2 along x, then a quarter turn: the x axis lies on -y with length 2.
    expectVector(moving.matrix.v1, 0, -2, 0);
    // An explicit matrix stays as the file gave it; the position still follows its track.
    expectVector(fixed.position, 5, 2, 3);
    expectVector(fixed.matrix.off, 7, 8, 9);
}

TEST(SimGeometry, PhongNormalsAreSmoothPerPointUnlessTheTagGivesThem) {
    auto doc = loadOk(R"("objects": [
        {"type": 5100, "points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0],[0,0,-1]],
         "polygons": [[0,1,2,3],[0,4,1]], "tags": [{"type": 5612}]},
        {"type": 5100, "points": [[0,0,0],[1,0,0],[1,1,0]], "polygons": [[0,1,2]],
         "tags": [{"type": 5612, "normals": [[0,0,1, 0,0,1, 0,0,1, 0,0,1]]}]},
        {"type": 5100, "points": [[0,0,0],[1,0,0],[1,1,0]], "polygons": [[0,1,2]]}])");
    ASSERT_TRUE(doc);
    std::vector<float> n = doc->objects[0]->phongNormals();
    ASSERT_EQ(n.size(), 24u);
    // Point 2 belongs to the quad only: its normal is the quad's, +z.
    EXPECT_FLOAT_EQ(n[6], 0.0f);
    EXPECT_FLOAT_EQ(n[8], 1.0f);
    // Point 0 is shared with the triangle facing -y: the average leans toward -y.
    EXPECT_LT(n[1], 0.0f);
    EXPECT_GT(n[2], 0.0f);
    EXPECT_NEAR(n[0] * n[0] + n[1] * n[1] + n[2] * n[2], 1.0, 1e-6);
    EXPECT_EQ(doc->objects[1]->phongNormals().size(), 12u);
    EXPECT_TRUE(doc->objects[2]->phongNormals().empty());
}

TEST(SimSample, TheBundledSampleLoadsWithEveryPartLaterConvertersRead) {
    std::string error;
    auto doc = loadDocumentFile(RAYDECK_SOURCE_DIR "/examples/workshop.json", error);
    ASSERT_TRUE(doc) << error;
    EXPECT_EQ(doc->fileName, "workshop.c4d");
    EXPECT_EQ(doc->folder, RAYDECK_SOURCE_DIR "/examples");
    std::set<int32_t> types;
    bool polygonCache = false, animated = false, hairTag = false;
    for (SimObject* o : doc->allObjects()) {
        types.insert(o->type);
        polygonCache |= o->cache && o->cache->type == 5100 && !o->cache->polygons.empty();
        animated |= !o->tracks.empty();
        hairTag |= o->type == 1017305 && o->findTag(1017729) != nullptr && !o->hair.rootUV.empty();
    }
    for (int32_t t : {5100, 5102, 5103, 5140, 1017305}) {
        EXPECT_TRUE(types.count(t)) << t;
    }
    EXPECT_TRUE(polygonCache);
    EXPECT_TRUE(animated);
    EXPECT_TRUE(hairTag);
    std::ifstream texture(RAYDECK_SOURCE_DIR "/examples/tex/planks.png", std::ios::binary);
    EXPECT_TRUE(texture.good());
}

// Regression: a number beyond every double ended the simulator with an uncaught exception.
TEST(SimDocumentReading, NumberTooLargeForADoubleIsAnErrorWithItsPath) {
    EXPECT_EQ(loadError(wrap(R"("time": 1e999)")),
              "doc.json: /time: number out of range of a double at line 1, column 59");
    EXPECT_EQ(loadError(wrap(R"("objects": [{"points": [[0, -1E+400, 0]]}])"))
                  .rfind("doc.json: /objects/0/points/0/1: number out of range of a double", 0),
              0u);
    // Too small to tell from zero is zero, as the C library reads it; a huge integer is a double.
    auto doc = loadOk(R"("time": 1e-400, "minTime": 123456789012345678901234567890)");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->time.num, 0.0);
    EXPECT_EQ(doc->minTime.num, 123456789012345678901234567890.0);
}

// Regression: every level of nesting built a path string, so time and memory grew with the
// square of the depth, and the loader and the destructors recursed once per level.
TEST(SimDocumentReading, HundredThousandNestedChildrenAreRefusedAtTheDocumentedDepth) {
    auto nested = [](int depth) { return R"("objects": [)" + nestedInNulls(depth, "") + "]"; };
    const std::string error = loadError(wrap(nested(100000)));
    EXPECT_EQ(error.rfind("doc.json: /objects/0/children/0/children/0/", 0), 0u) << error;
    EXPECT_NE(error.find("/..."), std::string::npos) << error;  // long paths are shortened
    EXPECT_NE(
        error.find(": objects nested deeper than " + std::to_string(kMaxObjectDepth) + " levels"),
        std::string::npos)
        << error;
    auto deepest = loadOk(nested(kMaxObjectDepth));
    ASSERT_TRUE(deepest);
    EXPECT_EQ(deepest->allObjects().size(), size_t(kMaxObjectDepth));

    // Nesting outside objects is bounded too, before it costs memory.
    std::string arrays(100000, '[');
    EXPECT_NE(loadError(wrap(R"("extra": )" + arrays)).find("nested deeper than"),
              std::string::npos);
}

TEST(SimDocumentReading, FreeingAndWalkingADeepHierarchyDoNotRecurse) {
    // Deep enough that one destructor call per level would overrun an 8 MiB stack.
    auto root = std::make_unique<SimObject>();
    SimObject* at = root.get();
    for (int i = 0; i < 200000; ++i) {
        at->children.push_back(std::make_unique<SimObject>());
        at->cache = i % 2 ? std::make_unique<SimObject>() : nullptr;
        at = at->children.back().get();
    }
    SimDocument doc;
    doc.objects.push_back(std::move(root));
    EXPECT_EQ(doc.allObjects().size(), 300001u);
    doc.objects.clear();
    EXPECT_TRUE(doc.allObjects().empty());
}

TEST(SimDocumentReading, MembersLoadTheSameInAnyOrder) {
    // Polygons before their points, tags before the polygons, hair guides before the segment
    // count: checks that need both wait for the end of the object.
    auto doc = loadOk(R"("objects": [{"tags": [{"type": 5671, "uvw": [[[0,0,0],[1,0,0],[1,1,0],
        [0,1,0]]]}, {"type": 5612, "normals": [[0,0,1, 0,0,1, 0,0,1, 0,0,1]]}],
        "polygons": [[0, 1, 2]], "points": [[0,0,0],[1,0,0],[1,1,0]],
        "hair": {"guides": [{"rootUV": [0.5, 0.5, 0], "points": [[0,0,0],[0,0,1]]}],
                 "segments": 1},
        "type": 5100, "name": "Tri"}])");
    ASSERT_TRUE(doc);
    const SimObject& o = *doc->objects[0];
    EXPECT_EQ(o.name, "Tri");
    ASSERT_EQ(o.polygons.size(), 1u);
    EXPECT_EQ(o.polygons[0].d, 2);  // a triangle repeats its last corner
    EXPECT_EQ(o.tags[0]->uvw.size(), 1u);
    EXPECT_EQ(o.tags[1]->normals.size(), 12u);
    EXPECT_EQ(o.hair.points.size(), 2u);
    EXPECT_EQ(o.hair.rootUV[0].x, 0.5);
    EXPECT_EQ(o.tags[0]->next, o.tags[1].get());

    EXPECT_EQ(loadError(wrap(R"("objects": [{"polygons": [[0, 1, 2]], "points": [[0,0,0]]}])")),
              "doc.json: /objects/0/polygons/0/1: index 1 out of range of 1 points");
    EXPECT_EQ(loadError(wrap(R"("objects": [{"tags": [{"type": 5612, "normals": []}],
        "points": [[0,0,0]], "polygons": [[0, 0, 0]]}])")),
              "doc.json: /objects/0/tags/0/normals: 0 records for 1 polygons");
    // A later duplicate member replaces the earlier one, as a JSON object reads.
    auto twice = loadOk(R"("objects": [{"points": [[0,0,0]], "points": [[1,1,1],[2,2,2]]}])");
    ASSERT_TRUE(twice);
    EXPECT_EQ(twice->objects[0]->points.size(), 2u);
}

TEST(SimDocumentReading, TextThatIsNotJsonNamesWhereReadingStopped) {
    const std::string broken = loadError(wrap("\"objects\": [{\"name\": \"A\",\n  \"type\": x}]"));
    EXPECT_EQ(broken.rfind("doc.json: not JSON: ", 0), 0u) << broken;
    EXPECT_NE(broken.find("line 2, column 11"), std::string::npos) << broken;
    EXPECT_NE(broken.find("(at /objects/0/type)"), std::string::npos) << broken;
    // Bad JSON anywhere outranks a bad value before it, and a wrong format outranks both.
    EXPECT_EQ(loadError(wrap(R"("objects": 5, "x": [1 2])")).rfind("doc.json: not JSON: ", 0), 0u);
    EXPECT_EQ(loadError(R"({"objects": 5, "format": "other", "version": 1})"),
              "doc.json: /format: expected \"raydeck-host-document\"");
    EXPECT_EQ(loadError(R"({"format": "raydeck-host-document", "version": [1]})"),
              "doc.json: /version: unsupported version [...]; expected 1");
    std::string nul = R"({"format": "raydeck-host-document"})";
    nul += '\0';
    EXPECT_EQ(loadError(nul),
              "doc.json: not JSON: a NUL byte at line 1, column " + std::to_string(nul.size()));
    EXPECT_EQ(loadError("[]"), "doc.json: /: expected an object");
    EXPECT_EQ(loadError(" ").rfind("doc.json: not JSON: ", 0), 0u);
    EXPECT_EQ(loadError(std::string("{\"format\": \"\xff\"}")).rfind("doc.json: not JSON: ", 0),
              0u);
}

// A second "tags" (or "objects", "children", "cache", ...) freed the nodes of the first while
// links and ids still pointed at them, and resolving the links wrote into freed memory (found by
// the document fuzzer). Such a member is refused where it stands.
TEST(SimDocumentReading, MemberNamingNodesTwiceIsRefusedNotFreedUnderItsLinks) {
    const std::string linked = R"("materials": [{"id": "M", "type": 5703}], "objects": [
        {"name": "A", "type": 5100,
         "tags": [{"type": 5616, "params": {"1010": {"link": "M"}}}],
         "tags": [{"type": 5616}]}])";
    EXPECT_EQ(loadError(wrap(linked)),
              "doc.json: /objects/0/tags: given twice: the nodes it names are already read");
    EXPECT_EQ(loadError(wrap(R"("objects": [{"name": "A", "type": 5100}], "objects": [])")),
              "doc.json: /objects: given twice: the nodes it names are already read");
    EXPECT_EQ(loadError(wrap(R"("objects": [{"name": "A", "type": 5100,
        "cache": {"name": "C", "type": 5100}, "cache": {"name": "D", "type": 5100}}])")),
              "doc.json: /objects/0/cache: given twice: the nodes it names are already read");
    // An empty first list names no node: the second is read as the list.
    std::string error;
    auto doc = load(R"("objects": [], "objects": [{"name": "A", "type": 5100}])", error);
    ASSERT_TRUE(doc) << error;
    ASSERT_EQ(doc->objects.size(), 1u);
    EXPECT_EQ(doc->objects[0]->name, "A");
}

// The JSON library took every continuation byte of a sequence the end cut off, reading past the
// text (found by the document fuzzer): such text is refused before it is parsed.
TEST(SimDocumentReading, Utf8SequenceCutOffByTheEndIsRefusedNotReadPast) {
    for (const std::string tail : {"\xC3", "\xE2\x82", "\xF0\x9F\x98", "\xF0"}) {
        const std::string text =
            R"({"format": "raydeck-host-document", "version": 1, "x": ")" + tail;
        EXPECT_EQ(
            loadError(text).rfind("doc.json: not JSON: a UTF-8 sequence cut off by the end", 0), 0u)
            << loadError(text);
    }
    // A whole sequence at the end is the parser's to judge (here: an unterminated string).
    const std::string whole = R"({"format": "raydeck-host-document", "version": 1, "x": ")"
                              "\xE2\x82\xAC";
    EXPECT_EQ(loadError(whole).find("UTF-8 sequence cut off"), std::string::npos);
    EXPECT_EQ(loadError(whole).rfind("doc.json: not JSON: ", 0), 0u);
}

TEST(SimDocumentReading, FilesAreReadWhole) {
    const TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string path = dir.path() + "/reader-whole.json";
    std::string body = R"("objects": [{"points": [)";
    for (int i = 0; i < 20000; ++i) {
        body += (i ? ",[" : "[") + std::to_string(i) + ", 0.5, -1e-3]";
    }
    body += "]}]";
    std::ofstream(path, std::ios::binary) << wrap(body);
    std::string error;
    auto doc = loadDocumentFile(path, error);
    ASSERT_TRUE(doc) << error;
    ASSERT_EQ(doc->objects[0]->points.size(), 20000u);
    EXPECT_EQ(doc->objects[0]->points[19999].x, 19999.0);
    EXPECT_EQ(doc->objects[0]->points[19999].z, -1e-3);
    EXPECT_EQ(doc->fileName, "reader-whole.json");
    std::remove(path.c_str());
    EXPECT_FALSE(loadDocumentFile(path, error));
    EXPECT_EQ(error, path + ": cannot open the document file: " + std::strerror(ENOENT));
}

TEST(SimDocumentReading, EveryKindOfBadValueIsNamedAtItsPath) {
    const std::string quad =
        R"("points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "polygons": [[0,1,2,3]])";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"("objects": [{"points": [[0, 0]]}])", "/objects/0/points/0: expected [x, y, z]"},
        {R"("objects": [{"points": [[0, 0, 0, 0]]}])", "/objects/0/points/0: expected [x, y, z]"},
        {R"("objects": [{"points": [[0, "a", 0]]}])", "/objects/0/points/0/1: expected a number"},
        {R"("objects": [{"points": {}}])", "/objects/0/points: expected an array"},
        {R"("objects": [{"polygons": [[0, 1]]}])",
         "/objects/0/polygons/0: expected [a, b, c, d] (or [a, b, c] for a triangle)"},
        {R"("objects": [{"polygons": [[0, 1, 2.5]]}])",
         "/objects/0/polygons/0/2: expected an integer"},
        {R"("objects": [{"type": 4294967296}])", "/objects/0/type: integer out of range"},
        {R"("objects": [{)" + quad + R"(, "tags": [{"type": 5671, "uvw": [[[0,0,0]]]}]}])",
         "/objects/0/tags/0/uvw/0: expected four corners [[u, v, w], ...]"},
        {R"("objects": [{)" + quad + R"(, "tags": [{"type": 5612, "normals": [[0,0,1]]}]}])",
         "/objects/0/tags/0/normals/0: expected 12 numbers (four corner normals)"},
        {R"("objects": [{"tags": [{"type": 5673, "selection": [[1]]}]}])",
         "/objects/0/tags/0/selection/0: expected an inclusive range [first, last]"},
        {R"("objects": [{"tags": [{"name": "x"}]}])", "/objects/0/tags/0/type: missing tag type"},
        {R"("objects": [{"tracks": [{"keys": []}]}])",
         "/objects/0/tracks/0/id: missing track id [parameter, component]"},
        {R"("objects": [{"tracks": [{"id": [1, 2, 3]}]}])",
         "/objects/0/tracks/0/id: expected [parameter] or [parameter, component]"},
        {R"("objects": [{"tracks": [{"id": 1, "keys": [{"value": 1}]}]}])",
         "/objects/0/tracks/0/keys/0/time: missing key time"},
        {R"("objects": [{"tracks": [{"id": 1, "keys": [{"time": {"num": 1}, "value": 1}]}]}])",
         "/objects/0/tracks/0/keys/0/time: expected seconds or {\"num\": n, \"den\": d}"},
        {R"("objects": [{"tracks": [{"id": 1, "interpolation": "cubic"}]}])",
         "/objects/0/tracks/0/interpolation: unknown interpolation \"cubic\"; expected "
         "\"linear\" or \"step\""},
        {R"("objects": [{"rotationOrder": 7}])", "/objects/0/rotationOrder: expected 0 to 6"},
        {R"("objects": [{"id": -1}])", "/objects/0/id: expected an unsigned 64-bit object id"},
        {R"("objects": [{"id": 3}, {"id": "3"}])", "/objects/1/id: duplicate object id 3"},
        {R"("objects": [{"cache": []}])", "/objects/0/cache: expected an object"},
        {R"("objects": [{"hair": {"segments": -1}}])",
         "/objects/0/hair/segments: expected a segment count of at least 0"},
        {R"("objects": [{"params": {"x1": 1}}])",
         "/objects/0/params/x1: parameter key \"x1\" is not a number"},
        {R"("objects": [{"params": {"1": null}}])",
         "/objects/0/params/1: expected a number, [x, y, z], a string, {\"link\": id} or "
         "{\"gradient\": [...]}"},
        {R"("objects": [{"params": {"a/b": 1}}])",
         "/objects/0/params/a~1b: parameter key \"a/b\" is not a number"},
        {R"("materials": [{"params": {"1": {"gradient": [{"position": 0}]}}}])",
         "/materials/0/params/1/gradient/0/color: missing knot colour"},
        {R"("materials": [{"channels": [true, "x"]}])",
         "/materials/0/channels/1: expected an integer"},
        {R"("services": {"hair": "yes"})", "/services/hair: expected true or false"},
        {R"("minTime": true)", "/minTime: expected seconds or {\"num\": n, \"den\": d}"},
        {R"("file": 1)", "/file: expected a string"},
        {R"("layers": [3])", "/layers/0: expected an object"},
        // A container where a plain value belongs: each reader names what it expected.
        {R"("objects": [{"name": []}])", "/objects/0/name: expected a string"},
        {R"("objects": [{"type": {}}])", "/objects/0/type: expected an integer"},
        {R"("objects": [{"points": [[0, [1], 0]]}])", "/objects/0/points/0/1: expected a number"},
        {R"("objects": [{"layer": []}])",
         "/objects/0/layer: expected an id (a string or a non-negative integer)"},
        {R"("services": {"hair": []})", "/services/hair: expected true or false"},
    };
    for (const auto& [body, message] : cases) {
        EXPECT_EQ(loadError(wrap(body)), "doc.json: " + message) << body;
    }
}

namespace {

// "uvw": [] on tags of a large mesh once each reserved the whole mesh's
// worth of records up front: a few hundred kilobytes of text could reserve 183 GB. What the
// reader reserves ahead of records now stays within a few times the text's size.
TEST(SimDocumentReading, EmptyUvwListsReserveNoMoreThanTheirTextIsWorth) {
    std::string polygons;
    for (int i = 0; i < 2000; ++i) {
        polygons += i ? ",[0,1,2,2]" : "[0,1,2,2]";
    }
    std::string tags;
    for (int i = 0; i < 100; ++i) {
        tags += std::string(i ? "," : "") + R"({"type": 5616, "uvw": []})";
    }
    const std::string text = wrap(R"("objects": [{"name": "Mesh", "type": 5100,
        "points": [[0,0,0],[1,0,0],[0,1,0]], "polygons": [)" +
                                  polygons + R"(], "tags": [)" + tags + "]}]");
    std::string error;
    auto doc = loadDocumentText(text, "doc.c4d", "/docs", error, "doc.json");
    ASSERT_TRUE(doc) << error;
    size_t reserved = 0;
    for (const auto& tag : doc->objects.at(0)->tags) {
        reserved += tag->uvw.capacity() * sizeof(RdHostUVWPolygon);
    }
    EXPECT_LE(reserved, 4 * text.size());
}

}  // namespace

// A misspelt member loaded as nothing: "objets" exported an empty scene and "polygon" a mesh
// without faces. A member the format does not name is refused at its path, with the nearest
// name the format has there.
TEST(SimDocumentReading, UnknownMemberIsRefusedWithTheNearestKnownName) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {R"("objets": [{"name": "A", "type": 5100}])",
         "/objets: unknown member; did you mean \"objects\"?"},
        {R"("objects": [{"points": [[0,0,0]], "polygon": [[0,0,0]]}])",
         "/objects/0/polygon: unknown member; did you mean \"polygons\"?"},
        {R"("objects": [{"name": "A", "children": [{"nmae": "B"}]}])",
         "/objects/0/children/0/nmae: unknown member; did you mean \"name\"?"},
        {R"("objects": [{"tags": [{"type": 5671, "uvws": []}]}])",
         "/objects/0/tags/0/uvws: unknown member; did you mean \"uvw\"?"},
        {R"("objects": [{"tags": [{"type": 5612, "normal": []}]}])",
         "/objects/0/tags/0/normal: unknown member; did you mean \"normals\"?"},
        {R"("objects": [{"tracks": [{"id": 1, "keys": [{"time": 0, "valeu": 1}]}]}])",
         "/objects/0/tracks/0/keys/0/valeu: unknown member; did you mean \"value\"?"},
        {R"("objects": [{"hair": {"segments": 1, "guides": [{"point": []}]}}])",
         "/objects/0/hair/guides/0/point: unknown member; did you mean \"points\"?"},
        {R"("materials": [{"params": {"1": {"lnk": "M"}}}])",
         "/materials/0/params/1/lnk: unknown member; did you mean \"link\"?"},
        {R"("materials": [{"shaders": [{"ID": "S"}]}])",
         "/materials/0/shaders/0/ID: unknown member; did you mean \"id\"?"},
        {R"("services": {"hiar": false})",
         "/services/hiar: unknown member; did you mean \"hair\"?"},
        {R"("time": {"num": 1, "den": 30, "dem": 30})",
         "/time/dem: unknown member; did you mean \"den\"?"},
        // The first fault is the one reported, and a wrong format outranks it.
        {R"("file": 1, "objets": [])", "/file: expected a string"},
    };
    for (const auto& [body, message] : cases) {
        EXPECT_EQ(loadError(wrap(body)), "doc.json: " + message) << body;
    }
    EXPECT_EQ(loadError(R"({"objets": [], "format": "other", "version": 1})"),
              "doc.json: /format: expected \"raydeck-host-document\"");
}

TEST(SimDocumentReading, ByteOrderMarkIsReadForUtf8AndNamedForOtherEncodings) {
    const std::string utf8Mark = "\xEF\xBB\xBF";
    std::string error;
    auto doc = loadDocumentText(utf8Mark + wrap(R"("objects": [{"name": "A"}])"), "doc.c4d", "/d",
                                error, "doc.json");
    ASSERT_TRUE(doc) << error;
    EXPECT_EQ(doc->objects.at(0)->name, "A");
    // Positions count from after the mark, as an editor shows them.
    EXPECT_NE(loadError(utf8Mark + R"({"format": x})").find("at line 1, column 12"),
              std::string::npos);
    const std::vector<std::pair<std::string, std::string>> foreign = {
        {std::string("\xFF\xFE{\0", 4), "UTF-16 (little-endian)"},
        {std::string("\xFE\xFF\0{", 4), "UTF-16 (big-endian)"},
        {std::string("\xFF\xFE\0\0{\0\0\0", 8), "UTF-32 (little-endian)"},
        {std::string("\0\0\xFE\xFF\0\0\0{", 8), "UTF-32 (big-endian)"},
    };
    for (const auto& [text, name] : foreign) {
        EXPECT_EQ(loadError(text),
                  "doc.json: not JSON: the text starts with the byte-order mark of " + name +
                      "; save the document as UTF-8");
        EXPECT_STREQ(foreignByteOrderMark(text), name.c_str());
        EXPECT_STREQ(jsonInAnotherEncoding(text), name.c_str());
    }
    EXPECT_EQ(foreignByteOrderMark(utf8Mark + "{}"), nullptr);
    EXPECT_EQ(foreignByteOrderMark("{}"), nullptr);
    // A model file in UTF-16 stays the model reader's: only an object is taken for JSON.
    EXPECT_EQ(jsonInAnotherEncoding(std::string("\xFF\xFE \0\n\0<\0", 8)), nullptr);
    EXPECT_STREQ(jsonInAnotherEncoding(std::string("\xFE\xFF\0 \0{", 6)), "UTF-16 (big-endian)");
}

// The refused version is spelled as the file wrote it (it once went through a second JSON
// library for that).
TEST(SimDocumentReading, RefusedVersionIsSpelledAsWritten) {
    for (const auto& [version, spelled] : std::vector<std::pair<std::string, std::string>>{
             {"2.5", "2.5"}, {"2.0", "2.0"}, {"-3", "-3"}, {"\"1\"", "\"1\""}, {"null", "null"}}) {
        EXPECT_EQ(loadError(R"({"format": "raydeck-host-document", "version": )" + version + "}"),
                  "doc.json: /version: unsupported version " + spelled + "; expected 1");
    }
}
