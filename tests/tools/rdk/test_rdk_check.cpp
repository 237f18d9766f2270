// Structural checks: each kind of fault in a minimal scene, found at its byte offset.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "RdkTestSupport.h"
#include "tools/rdk/RdkCheck.h"

using rdktest::floats;
using rdktest::ints;

namespace {

const float kNan = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// A scene with one object whose geometry holds `body`.
std::string scene(const std::string& body, const std::string& type = "triangles") {
    return rdktest::fileStart() + "group \"root\" {\nobject \"o\" {\ngeometry \"" + type +
           "\" {\n" + body + "}\n}\n}\n";
}

std::string attr(const std::string& name, const std::string& block) {
    return "\"" + name + "\" [ " + block + "] ,\n";
}

const std::string kTriangle = attr("vertices", floats({0, 0, 0, 1, 0, 0, 0, 1, 0}));

std::vector<rdk::Fault> faultsOf(const std::string& text) {
    rdk::MemorySource source(text);
    return rdk::checkScene(source).faults;
}

// The first fault must sit at `offset` and say `message`.
void expectFault(const std::string& text, size_t offset, const std::string& message) {
    std::vector<rdk::Fault> faults = faultsOf(text);
    ASSERT_FALSE(faults.empty()) << "no fault found; expected: " << message;
    EXPECT_EQ(faults[0].offset, offset) << faults[0].message;
    EXPECT_NE(faults[0].message.find(message), std::string::npos) << faults[0].message;
}

// Offset of element `i` of the packed block that `block` spells, inside `text`.
size_t packedElement(const std::string& text, const std::string& block, size_t i) {
    return text.find(block) + 8 + 4 * i;
}

TEST(RdkCheck, CleanTriangleMeshWithNormalsAndUvsHasNoFault) {
    const std::string text = scene(
        kTriangle + attr("normals", floats({0, 0, 1, 0, 0, 1, 0, 0, 1})) +
        attr("triangles_norm", ints({0, 2, 1})) + attr("uv_tex", floats({0, 0, 1, 0, 0, 1}, 'f')) +
        attr("triangles_uv", ints({0, 2, 1})) + attr("triangles", ints({0, 2, 1})));
    EXPECT_TRUE(faultsOf(text).empty());
}

TEST(RdkCheck, LightProxyNormalsWithoutIndexArrayAreClean) {
    // Per-vertex normals (one per vertex, no "triangles_norm"), as the light proxies have.
    const std::string text =
        scene(kTriangle + attr("normals", floats({0, 0, 0, 1, 0, 0, 0, 1, 0})) +
              attr("triangles", ints({0, 2, 1})));
    EXPECT_TRUE(faultsOf(text).empty());
}

TEST(RdkCheck, HeaderAndVersionFaults) {
    expectFault("version 8\n", 0, "header line");
    const std::string noVersion = "//---tarvik:dal:7---\ngroup \"g\" {\n}\n";
    expectFault(noVersion, noVersion.find("group"), "no version line");
}

TEST(RdkCheck, TriangleIndexPastTheVerticesIsFoundAtItsByte) {
    const std::string tris = ints({0, 1, 3});
    const std::string text = scene(kTriangle + attr("triangles", tris));
    expectFault(text, packedElement(text, tris, 2), "index 3 at element 2 is outside \"vertices\"");
}

TEST(RdkCheck, NegativeTriangleIndexInTextFormIsFoundAtItsElement) {
    const std::string text =
        scene("\"vertices\" [ 0 0 0,1 0 0,0 1 0 ] ,\n\"triangles\" [ 0,-1,2 ] ,\n");
    expectFault(text, text.find("-1,2"), "index -1 at element 1");
}

TEST(RdkCheck, TriangleCountNotAMultipleOfThree) {
    const std::string text = scene(kTriangle + attr("triangles", ints({0, 1, 2, 0})));
    expectFault(text, text.rfind("\"triangles\""), "4 indices, not a multiple of 3");
}

TEST(RdkCheck, NormalIndexCountDiffersFromTriangles) {
    const std::string text =
        scene(kTriangle + attr("normals", floats({0, 0, 1})) +
              attr("triangles_norm", ints({0, 0})) + attr("triangles", ints({0, 1, 2})));
    expectFault(text, text.find("\"triangles_norm\""), "has 2 indices, \"triangles\" has 3");
}

TEST(RdkCheck, NormalIndexPastTheNormals) {
    const std::string index = ints({0, 1, 0});
    const std::string text =
        scene(kTriangle + attr("normals", floats({0, 0, 1})) + attr("triangles_norm", index) +
              attr("triangles", ints({0, 1, 2})));
    expectFault(text, packedElement(text, index, 1), "outside \"normals\" (1 entries)");
}

TEST(RdkCheck, UvIndexPastTheUvPairs) {
    const std::string index = ints({0, 1, 2});
    const std::string text =
        scene(kTriangle + attr("uv_tex", floats({0, 0, 1, 1}, 'f')) + attr("triangles_uv", index) +
              attr("triangles", ints({0, 1, 2})));
    expectFault(text, packedElement(text, index, 2), "outside \"uv_tex\" pairs (2 entries)");
}

TEST(RdkCheck, CountsThatMustAgree) {
    const std::string tris = attr("triangles", ints({0, 1, 2}));
    {
        const std::string text = scene(kTriangle + attr("uv_tex", floats({0, 0, 1}, 'f')) + tris);
        expectFault(text, text.find("\"uv_tex\""), "3 floats, not u, v pairs");
    }
    {
        const std::string text = scene(kTriangle + attr("triangles_norm", ints({0, 0, 0})) + tris);
        expectFault(text, text.find("\"triangles_norm\""), "without \"normals\"");
    }
    {
        const std::string text = scene(kTriangle + attr("normals", floats({0, 0, 1})) + tris);
        expectFault(text, text.find("\"normals\""), "1 entries for 3 vertices");
    }
    {
        const std::string text = scene(attr("vertices", floats({0, 0, 0, 1}, 'f')) + tris);
        expectFault(text, text.find('[', text.find("\"vertices\"")), "kind 'f', not float triples");
    }
    {
        const std::string text = scene(tris);
        expectFault(text, text.find("geometry"), "without \"vertices\"");
    }
}

TEST(RdkCheck, NonFiniteVertexAndNormalAreFoundAtTheirBytes) {
    const std::string points = floats({0, 0, 0, 1, kNan, 0, 0, 1, 0});
    const std::string text = scene(attr("vertices", points) + attr("triangles", ints({0, 1, 2})));
    expectFault(text, packedElement(text, points, 4), "\"vertices\" element 1 is not finite");

    const std::string normals = floats({0, 0, 1, 0, 0, kInf, 0, 0, 1});
    const std::string withNormals =
        scene(kTriangle + attr("normals", normals) + attr("triangles", ints({0, 1, 2})));
    expectFault(withNormals, packedElement(withNormals, normals, 5), "\"normals\" element 1");
}

TEST(RdkCheck, TransformsNeedSixteenFiniteNumbers) {
    const std::string head = rdktest::fileStart() + "group \"g\" {\n";
    const std::string nan = head + "transform 1 0 0 0 0 1 0 0 0 0 -1 0 nan 0 0 1\n}\n";
    expectFault(nan, nan.find("1 0 0 0"), "transform holds a number that is not finite");
    const std::string shortOne = head + "transform 1 0 0\n}\n";
    expectFault(shortOne, shortOne.find("transform"), "needs 16 numbers, has 3");
    const std::string camera =
        rdktest::fileStart() + "camera \"c\" {\ntransform 1 0 0 0 0 1 0 0 0 0 -1 0 0 0 -inf 1\n}\n";
    expectFault(camera, camera.find("1 0 0 0"), "not finite");
}

TEST(RdkCheck, CurvesCountsMustMatchTheirPoints) {
    const std::string p = attr("p", floats({0, 0, 0, 0, 1, 0, 0, 2, 0, 1, 0, 0, 1, 1, 0}));
    {
        const std::string text = scene(p + attr("nvertices", ints({3, 3})), "trv_bezier_curves");
        expectFault(text, text.find("\"nvertices\""), "adds up to 6 points, \"p\" holds 5");
    }
    {
        const std::string text =
            scene(p + attr("pr", floats({1, 1, 1}, 'f')) + attr("nvertices", ints({3, 2})),
                  "trv_bezier_curves");
        expectFault(text, text.find("\"pr\""), "3 radii for 5 points");
    }
    {
        const std::string text =
            scene(p + attr("curve_uv", floats({0, 0}, 'f')) + attr("nvertices", ints({3, 2})),
                  "trv_bezier_curves");
        expectFault(text, text.find("\"curve_uv\""), "2 floats for 2 curves");
    }
    EXPECT_TRUE(faultsOf(scene(p + attr("nvertices", ints({3, 2})), "trv_bezier_curves")).empty());
}

TEST(RdkCheck, AnimationNeedsOneTimestampPerFiniteMatrix) {
    const std::string identity = "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 ";
    const std::string start = rdktest::fileStart() + "animation \"fbx_animation\" \"x\" {\n";
    const std::string counts = start + "\"matrices\" [ " + identity + ",\n" + identity +
                               "\n] ,\n\"timestamps\" [ " + ints({0}) + "] ,\n}\n";
    expectFault(counts, counts.find("\"timestamps\""), "has 1 entries, \"matrices\" has 2");
    const std::string nan = start + "\"matrices\" [ " + identity +
                            ",\n1 0 0 0 0 1 0 0 0 0 1 0 nan 0 0 1 \n] ,\n" + "\"timestamps\" [ " +
                            ints({0, 33}) + "] ,\n}\n";
    expectFault(nan, nan.find("1 0 0 0 0 1 0 0 0 0 1 0 nan"),
                "\"matrices\" element 1 is not finite");
}

// A material named "m" whose surface shader is `shader`.
std::string lightScene(const std::string& shader) {
    return rdktest::fileStart() + "group \"root\" {\nobject \"o\" {\nmaterial \"m\" {\nsurface " +
           shader + "\n}\n}\n}\n";
}

TEST(RdkCheck, RenamedLightShaderIsNamedNotPassedAsClean) {
    // Summary counts no light for it and the preview draws it as a surface.
    const std::string renamed = lightScene("\"trv_spot_light\" {\n\"power\" 100,\n}");
    expectFault(renamed, renamed.find("\"trv_spot_light\""),
                "light shader \"trv_spot_light\" is not one this reader knows "
                "(\"trv_point_light\", \"trv_mesh_light\")");
    // A light shader by its attributes, whatever its type is called; defined shaders too.
    const std::string byAttribute = lightScene("\"trv_emitter\" {\n\"lumen\" off,\n}");
    expectFault(byAttribute, byAttribute.find("\"trv_emitter\""), "\"trv_emitter\"");
    const std::string defined =
        rdktest::fileStart() + "#define shader \"s\" \"trv_area_light\" {\n}\n";
    expectFault(defined, defined.find("#define"), "\"trv_area_light\"");

    for (const char* known : {"\"trv_point_light\"", "\"trv_mesh_light\""}) {
        EXPECT_TRUE(faultsOf(lightScene(std::string(known) + " {\n\"lumen\" on,\n}")).empty())
            << known;
    }
    EXPECT_TRUE(faultsOf(lightScene("\"trv_diffuse\" {\n\"diffuse\" 1 1 1,\n}")).empty());
}

TEST(RdkCheck, FaultsComeInFileOrder) {
    const std::string tris = ints({0, 1, 9});
    const std::string text =
        "version 8\n" +
        scene(kTriangle + attr("triangles", tris)).substr(rdktest::fileStart().size());
    std::vector<rdk::Fault> faults = faultsOf(text);
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_EQ(faults[0].offset, 0u);
    EXPECT_LT(faults[0].offset, faults[1].offset);
}

}  // namespace
