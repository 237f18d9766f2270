// The scene reader: every form the writer produces reads back as the typed value it wrote,
// nodes and packed data carry their file offsets, and each reading fault names its offset.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "RdkTestSupport.h"
#include "tools/host/DocumentLimits.h"
#include "trvScene_api.h"

using rdk::Node;
using rdk::Scene;
using rdk::Value;
using rdktest::parseOk;

namespace {

const Node& only(const std::vector<Node>& nodes, const std::string& name) {
    for (const Node& n : nodes) {
        if (n.name == name) {
            return n;
        }
    }
    static Node none;
    ADD_FAILURE() << "no node " << name;
    return none;
}

TEST(RdkReader, DirectiveAndParameterValuesOfEveryTypeReadBack) {
    const float v3[3] = {1.5f, -2, 0.25f};
    const float v4[4] = {1, 2, 3, 4};
    const float inf = std::numeric_limits<float>::infinity();
    const double d = 0.5;
    const double vd[3] = {1e-3, 2, -3};
    const int32_t i = -7, on = 5, off = 0;
    const int32_t i3[3] = {1, 2, 3};
    double m[16];
    for (int k = 0; k < 16; ++k) {
        m[k] = k * 0.5;
    }
    const char* ref = "by ref";
    std::string text = writtenBy(true, [&](trvScene_api_file& w) {
        w.beginObject("o", true);  // directive style
        w.attribute("visible to the eye", trvType::bool_, &on);
        w.attribute("hidden", trvType::bool_, &off);
        w.attribute("v", trvType::vec3f, v3);
        w.attribute("f", trvType::float_, &inf);
        w.attribute("name", trvType::string, "a\"b");
        w.endObject();
        w.beginGeometry("g");  // parameter style
        w.attribute("v4", trvType::vec4f, v4);
        w.attribute("d", trvType::double_, &d);
        w.attribute("vd", trvType::vec3d, vd);
        w.attribute("i", trvType::int_, &i);
        w.attribute("i3", trvType::int3, i3);
        w.attribute("m", trvType::matrix, m);
        w.attribute("s", trvType::string_ref, &ref);
        w.attribute("caf\xc3\xa9", trvType::string, "");
        w.endGeometry();
    });
    Scene scene;
    parseOk(text, scene);
    ASSERT_EQ(scene.nodes.size(), 2u);
    const Node& o = scene.nodes[0];
    EXPECT_TRUE(o.isBlock("object"));
    EXPECT_EQ(o.arg(0), "o");
    const Node* visible = o.attribute("visible to the eye");
    ASSERT_NE(visible, nullptr);
    EXPECT_EQ(visible->value.kind, Value::Kind::boolean);
    EXPECT_TRUE(visible->value.on);
    EXPECT_FALSE(o.attribute("hidden")->value.on);
    EXPECT_EQ(o.attribute("v")->value.numbers, (std::vector<double>{1.5, -2, 0.25}));
    EXPECT_EQ(o.attribute("f")->value.numbers, (std::vector<double>{-1}));
    // A text with a double quote takes the hex form.
    EXPECT_EQ(o.attribute("name")->value.kind, Value::Kind::text);
    EXPECT_EQ(o.attribute("name")->value.text, "a\"b");

    const Node& g = scene.nodes[1];
    EXPECT_TRUE(g.isBlock("geometry"));
    EXPECT_EQ(g.attribute("v4")->value.numbers, (std::vector<double>{1, 2, 3, 4}));
    EXPECT_EQ(g.attribute("d")->value.number(), 0.5);
    EXPECT_EQ(g.attribute("vd")->value.numbers, (std::vector<double>{1e-3, 2, -3}));
    EXPECT_EQ(g.attribute("i")->value.number(), -7);
    EXPECT_EQ(g.attribute("i3")->value.numbers.size(), 3u);
    ASSERT_EQ(g.attribute("m")->value.numbers.size(), 16u);
    EXPECT_EQ(g.attribute("m")->value.numbers[15], 7.5);
    EXPECT_EQ(g.attribute("s")->value.text, "by ref");
    // A hex-encoded attribute name with an empty text value.
    const Node* cafe = g.attribute("caf\xc3\xa9");
    ASSERT_NE(cafe, nullptr);
    EXPECT_EQ(cafe->value.kind, Value::Kind::text);
    EXPECT_EQ(cafe->value.text, "");
}

TEST(RdkReader, ArraysInTextAndPackedFormReadAsTheSameNumbers) {
    const float tri[6] = {0, 1, 2, 3, 4, 5};
    const int32_t idx[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const double dbl[2] = {0.25, -1e10};
    double mats[32] = {};
    mats[0] = 1;
    mats[31] = 9;
    const char* strings[2] = {"a", "b\nc"};
    const int32_t bools[3] = {0, 5, 0};
    auto calls = [&](trvScene_api_file& w) {
        auto array = [&w](const char* name, int type, const void* data, unsigned count) {
            const trvArray a{data, count};
            w.attribute(name, type | trvType::array_bit, &a);
        };
        w.beginGeometry("triangles");
        array("vertices", trvType::vec3f, tri, 2);
        array("triangles", trvType::int_, idx, 10);
        array("doubles", trvType::double_, dbl, 2);
        array("empty", trvType::int_, idx, 0);
        array("matrices", trvType::matrix, mats, 2);
        array("names", trvType::string, strings, 2);
        array("flags", trvType::bool_, bools, 3);
        w.endGeometry();
    };
    for (bool packArrays : {false, true}) {
        SCOPED_TRACE(packArrays ? "packed" : "text");
        Scene scene;
        parseOk(writtenBy(packArrays, calls), scene);
        ASSERT_EQ(scene.nodes.size(), 1u);
        const Node& g = scene.nodes[0];
        const Value& v = g.attribute("vertices")->value;
        EXPECT_EQ(v.kind, packArrays ? Value::Kind::packed : Value::Kind::array);
        ASSERT_EQ(v.componentCount(), 6u);
        EXPECT_EQ(v.elementCount(), 2u);
        EXPECT_EQ(v.width(), 3u);
        EXPECT_EQ(v.component(4), 4);
        const Value& t = g.attribute("triangles")->value;
        ASSERT_EQ(t.componentCount(), 10u);  // nine on the first line, one on the next
        EXPECT_EQ(t.component(9), 9);
        const Value& d = g.attribute("doubles")->value;
        ASSERT_EQ(d.componentCount(), 2u);
        EXPECT_EQ(d.component(1), -1e10);
        EXPECT_EQ(g.attribute("empty")->value.componentCount(), 0u);
        EXPECT_TRUE(g.attribute("empty")->value.isArray());
        // Matrices, strings and bools are never packed.
        const Value& m = g.attribute("matrices")->value;
        EXPECT_EQ(m.width(), 16u);
        EXPECT_EQ(m.component(31), 9);
        const Value& s = g.attribute("names")->value;
        ASSERT_EQ(s.items.size(), 2u);
        EXPECT_EQ(s.items[1].text, "b\nc");
        EXPECT_EQ(g.attribute("flags")->value.numbers, (std::vector<double>{0, 1, 0}));
    }
}

TEST(RdkReader, ElementWiseArraysPackedAndInText) {
    const float v[3] = {1, 2, 3};
    const float f = 0.5f;
    const int32_t n = 4;
    const int32_t on = 1;
    auto calls = [&](trvScene_api_file& w) {
        w.beginGeometry("g");
        w.beginArray("p");
        for (int k = 0; k < 3; ++k) {
            w.arrayValue(trvType::vec3f, v);
        }
        w.endArray();
        w.beginArray("f");
        w.arrayValue(trvType::float_, &f);
        w.arrayValue(trvType::float_, &f);
        w.endArray();
        w.beginArray("n");
        for (int k = 0; k < 7; ++k) {
            w.arrayValue(trvType::int_, &n);
        }
        w.endArray();
        w.beginArray("b");
        w.arrayValue(trvType::bool_, &on);
        w.endArray();
        w.endGeometry();
    };
    for (bool packArrays : {false, true}) {
        SCOPED_TRACE(packArrays ? "packed" : "text");
        Scene scene;
        parseOk(writtenBy(packArrays, calls), scene);
        const Node& g = scene.nodes.at(0);
        EXPECT_EQ(g.attribute("p")->value.componentCount(), 9u);
        EXPECT_EQ(g.attribute("p")->value.width(), 3u);
        EXPECT_EQ(g.attribute("f")->value.component(1), 0.5);
        EXPECT_EQ(g.attribute("n")->value.componentCount(), 7u);
        const Value& b = g.attribute("b")->value;
        ASSERT_EQ(b.items.size(), 1u);  // "on" as an element
        EXPECT_TRUE(b.items[0].on);
    }
}

TEST(RdkReader, ShadersMaterialsCamerasAndOtherStatements) {
    const float half = 0.5f;
    const float grey[3] = {0.65f, 0.65f, 0.65f};
    const unsigned char icon[2] = {0x00, 0xFF};
    const double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1};
    std::string text = writtenBy(true, [&](trvScene_api_file& w) {
        w.printf("//---tarvik:dal:7---\n");
        w.print("say \"%d\"");
        w.version(-1);
        w.beginCamera("Cam");
        w.beginShader(nullptr, "trv_envmap");
        w.attribute("radius", trvType::float_, &half);
        w.endShader();
        trvShaderHandle env = w.currentShader();
        w.attribute("reflection map", trvType::shader_ref, &env);
        w.transform(m);
        w.endCamera();
        w.modify("Cam");
        w.endCamera();
        w.beginGroup("root", true);
        w.declareAttribute("source file", "source file");
        w.flags(1);
        w.id(42);
        w.icon(icon, 2);
        w.namedBlock("thumb", icon, 1);
        w.beginObject("o", true);
        w.beginShader(nullptr, "texture2_rgb");
        w.endShader();
        trvShaderHandle tex = w.currentShader();
        w.beginShader(nullptr, "trv_advanced");
        w.attribute("diffuse", trvType::vec3f, grey);
        w.attributeShader("diffuse", tex);
        w.attributeShaderId("bump", 3);
        w.endShader();
        trvShaderHandle mat = w.currentShader();
        w.beginMaterial("M", true);
        w.shader(0, mat);
        w.shaderId(7, 3);
        w.endMaterial();
        w.useMaterial("M");
        w.endObject();
        w.progress("o", 0.5f);
        w.endGroup();
        w.beginShaderId("trv_diffuse", 9);
        w.endShader();
        w.beginMaterial("D", false);
        w.endMaterial();
        w.render();
    });
    Scene scene;
    parseOk(text, scene);
    ASSERT_EQ(scene.header.size(), 1u);
    EXPECT_EQ(scene.header[0].text, "//---tarvik:dal:7---");
    EXPECT_EQ(only(scene.nodes, "#print").value.text, "say \"%d\"");
    EXPECT_EQ(only(scene.nodes, "version").value.number(), 8);

    const Node& cam = only(scene.nodes, "camera");
    EXPECT_FALSE(cam.modify);
    const Value& env = cam.attribute("reflection map")->value;
    ASSERT_EQ(env.kind, Value::Kind::shader);
    EXPECT_EQ(env.shader->arg(0), "trv_envmap");
    EXPECT_EQ(env.shader->attribute("radius")->value.number(), 0.5);
    EXPECT_EQ(cam.attribute("transform")->value.numbers.size(), 16u);
    EXPECT_TRUE(scene.nodes[3].modify);
    EXPECT_EQ(scene.nodes[3].arg(0), "Cam");

    const Node& root = only(scene.nodes, "group");
    const Node* declared = root.attribute("attribute");
    ASSERT_NE(declared, nullptr);
    EXPECT_EQ(declared->args, (std::vector<std::string>{"source file"}));
    EXPECT_EQ(declared->value.text, "source file");
    EXPECT_EQ(root.attribute("id")->value.number(), 42);
    EXPECT_EQ(root.attribute("icon")->value.kind, Value::Kind::bytes);
    EXPECT_EQ(root.attribute("icon")->value.text, std::string("\x00\xff", 2));
    EXPECT_EQ(root.attribute("thumb")->value.text, std::string("\x00", 1));
    const Node* progress = root.attribute("progress");
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(progress->arg(0), "o");
    EXPECT_EQ(progress->value.number(), 0.5);

    const Node* object = root.block("object");
    ASSERT_NE(object, nullptr);
    const Node* material = object->block("material");
    ASSERT_NE(material, nullptr);
    const Value& surface = material->attribute("surface")->value;
    ASSERT_EQ(surface.kind, Value::Kind::shader);
    const Node& advanced = *surface.shader;
    EXPECT_EQ(advanced.arg(0), "trv_advanced");
    ASSERT_EQ(advanced.children.size(), 3u);
    EXPECT_EQ(advanced.children[0].value.kind, Value::Kind::numbers);
    EXPECT_EQ(advanced.children[1].value.kind, Value::Kind::shader);
    EXPECT_TRUE(advanced.children[1].value.link);
    EXPECT_EQ(advanced.children[1].value.shader->arg(0), "texture2_rgb");
    EXPECT_EQ(advanced.children[2].value.kind, Value::Kind::shaderId);
    EXPECT_EQ(advanced.children[2].value.number(), 3);
    // "// assuming surface shader" is a comment; "surface 3" follows.
    EXPECT_EQ(material->children.back().name, "surface");
    EXPECT_EQ(material->children.back().value.number(), 3);
    EXPECT_EQ(object->attribute("material")->value.text, "M");

    const Node& shaderById = only(scene.nodes, "shader");
    EXPECT_TRUE(shaderById.define);
    EXPECT_EQ(shaderById.args, (std::vector<std::string>{"9", "trv_diffuse"}));
    const Node& defined = only(scene.nodes, "material");
    EXPECT_TRUE(defined.define);
    EXPECT_EQ(scene.nodes.back().name, "render");
}

TEST(RdkReader, NodesAndPackedDataCarryTheirFileOffsets) {
    const std::string head = rdktest::fileStart() + "group \"g\" {\n";
    const std::string tri = rdktest::ints({0, 1, 2});
    const std::string text = head + "object \"o\" {\ngeometry \"triangles\" {\n\"triangles\" [ " +
                             tri + "] ,\n}\n}\n}\n";
    Scene scene;
    parseOk(text, scene);
    const Node& group = only(scene.nodes, "group");
    EXPECT_EQ(group.offset, text.find("group"));
    EXPECT_EQ(group.endOffset, text.rfind('}'));
    const Node& object = group.children.at(0);
    EXPECT_EQ(object.offset, text.find("object"));
    const Node& attr = object.children.at(0).children.at(0);
    EXPECT_EQ(attr.offset, text.find("\"triangles\" ["));
    EXPECT_EQ(attr.value.offset, text.find('['));
    const size_t data = text.find(tri) + 8;
    EXPECT_EQ(attr.value.packed.dataOffset, data);
    EXPECT_EQ(attr.value.componentOffset(2), data + 8);
    EXPECT_EQ(attr.value.packed.i(2), 2);
    EXPECT_EQ(scene.header.size(), 2u);
    EXPECT_EQ(scene.header[1].offset, text.find("//---import"));
}

TEST(RdkReader, TextArrayElementOffsetsPointAtTheElement) {
    const std::string text = "\"t\" [ 0,1,\n22 ] ,\n";
    Scene scene;
    parseOk(text, scene);
    const Value& v = scene.nodes.at(0).value;
    EXPECT_EQ(v.componentOffset(2), text.find("22"));
}

TEST(RdkReader, ReadingFaultsNameTheirOffset) {
    struct Case {
        std::string text;
        size_t offset;
        std::string message;
    };
    const std::string start = rdktest::fileStart();
    const size_t s = start.size();
    const std::string bigCount = std::string("\x01\x02\x03i\x10\x00\x00\x00", 8) + "abcd";
    const std::vector<Case> cases = {
        {start + "group \"g\" {\nflags 1\n", s, "block not closed"},
        {start + "flags 1\n}\n", s + 8, "closing brace without an open block"},
        {start + "group \"g\n", s + 6, "not closed on its line"},
        {start + "\"t\" [ " + bigCount + "] ,\n", s + 6, "runs past the end of the file"},
        {start + "\"t\" [ " + std::string("\x01\x02\x03q\x00\x00\x00\x00", 8) + "] ,\n", s + 6,
         "unknown packed block kind 0x71"},
        {start + "\"t\" [ " + std::string("\x01\x02\x03i\x01\x00", 6), s + 6,
         "header runs past the end"},
        {start + "\"t\" [ " + rdktest::ints({1}) + " 5 ] ,\n", s + 19, "not followed by ']'"},
        {start + "\"t\" [ 1,2\n", s + 4, "array not closed"},
        {start + "name xX616\n", s + 5, "odd number of hex digits"},
        {start + "#print \"open\n", s, "text not closed"},
        {start + "value 1 ]\n", s + 8, "']' without '['"},
        {start + "{ }\n", s, "opening brace without"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        rdk::ReadError e = rdktest::parseFails(c.text);
        EXPECT_EQ(e.offset, c.offset);
        EXPECT_NE(e.message.find(c.message), std::string::npos) << e.message;
    }
}

TEST(RdkReader, GoldenScenesOfTheWriterRead) {
    for (const char* name : {"typical_packed.rdk", "typical_text_indented.rdk"}) {
        SCOPED_TRACE(name);
        Scene scene;
        rdk::ReadError error;
        bool readable = false;
        ASSERT_TRUE(rdk::readScene(std::string(RAYDECK_TEST_DATA) + "/sceneapi/" + name, scene,
                                   error, readable))
            << error.offset << ": " << error.message;
        const Node& root = only(scene.nodes, "group");
        const Node* cube = root.block("group");
        ASSERT_NE(cube, nullptr);
        const Node* geometry = cube->block("object")->block("geometry");
        ASSERT_NE(geometry, nullptr);
        EXPECT_EQ(geometry->attribute("p")->value.componentCount(), 12u);
        EXPECT_EQ(geometry->attribute("triangles")->value.component(5), 3);
    }
}

TEST(RdkReader, UnreadableFileIsNotAParseFault) {
    Scene scene;
    rdk::ReadError error;
    bool readable = true;
    EXPECT_FALSE(rdk::readScene("/nonexistent/dir/x.rdk", scene, error, readable));
    EXPECT_FALSE(readable);
}

}  // namespace

namespace {

TEST(RdkReader, NestingDeeperThanAnyExportIsRefusedInsteadOfExhaustingTheStack) {
    std::string text;
    for (int i = 0; i < 100000; ++i) {
        text += "group \"g\" {\n";
    }
    rdk::ReadError e = rdktest::parseFails(text);
    constexpr size_t kLimit =
        raydeck::hostsim::kMaxObjectDepth + raydeck::hostsim::kSceneBlocksBeyondObjects;
    EXPECT_EQ(e.offset, kLimit * 12);  // the first block past the limit
    EXPECT_NE(e.message.find("nested deeper"), std::string::npos);
}

}  // namespace
