// Texts of the scene text writer, grouped by operation family.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#include "platform/program.h"
#include "scene_file_test_util.h"
#include "tests/support/Golden.h"

namespace {

const int kIndentOn = 0;  // setFlags value: indentation on, packing off

std::string header(char kind, uint32_t n) {
    const char h[8] = {1,
                       2,
                       3,
                       kind,
                       char(n & 0xFF),
                       char((n >> 8) & 0xFF),
                       char((n >> 16) & 0xFF),
                       char(n >> 24)};
    return std::string(h, 8);
}

// ---- blocks and sections ----------------------------------------------------------------------

TEST(SceneFileBlocks, BlockTexts) {
    MemoryScene s;
    EXPECT_TRUE(s->beginGroup("a", true));
    s->endGroup();
    EXPECT_EQ(s.fresh(), "\ngroup \"a\" {\n}\n");
    s->beginGroup("d", false);
    s->beginObject("o", true);
    s->endObject();
    s->beginObject("p", false);
    s->endObject();
    s->endGroup();
    EXPECT_EQ(s.fresh(),
              "\n#define group \"d\" {\nobject \"o\" {\n}\n#define object \"p\" {\n}\n}\n");
    s->beginGeometry("triangles");
    s->endGeometry();
    s->beginAnimation("fbx_animation", "cube");
    EXPECT_EQ(s->endAnimation(), 0);
    s->beginLoad("trvrtopt.so");
    s->endLoad();
    EXPECT_EQ(s.fresh(),
              "geometry \"triangles\" {\n}\nanimation \"fbx_animation\" \"cube\" {\n}\n"
              "load \"trvrtopt.so\" {\n}\n");
    s->beginOutput("a", "b", "c");
    s->endOutput();
    s->beginLight("l");
    s->endLight();
    s->beginAccel("bvh");
    s->endAccel();
    s->beginMatrix("m");
    s->endMatrix();
    EXPECT_EQ(s.fresh(),
              "output \"a\" \"b\" \"c\" {\n}\n\nlight \"l\" {\n}\n\naccel \"bvh\" {\n}\n"
              "#define matrix \"m\" {\n}\n");
    s->beginMaterial("m1", true);
    s->endMaterial();
    s->beginMaterial("m2", false);
    s->endMaterial();
    EXPECT_TRUE(s->useMaterial("m1"));
    EXPECT_EQ(s.fresh(), "material \"m1\" {\n}\n\n#define material \"m2\" {\n}\nmaterial \"m1\"\n");
}

TEST(SceneFileBlocks, SectionsAreRefusedWhileOneIsOpen) {
    MemoryScene s;
    EXPECT_TRUE(s->beginCamera(nullptr));
    EXPECT_FALSE(s->beginCamera("again"));
    EXPECT_FALSE(s->beginOptions());
    EXPECT_FALSE(s->beginImage());
    EXPECT_EQ(s.fresh(), "\ncamera {\n");
    s->endOptions();  // not its kind: writes nothing and leaves the camera open
    EXPECT_EQ(s.fresh(), "");
    EXPECT_FALSE(s->beginOptions());
    s->endCamera();
    EXPECT_EQ(s.fresh(), "}\n");
    EXPECT_TRUE(s->beginOptions());
    s->endOptions();
    EXPECT_TRUE(s->beginImage());
    s->endImage();
    EXPECT_TRUE(s->beginCamera("cam"));
    s->endCamera();
    EXPECT_EQ(s.fresh(), "\noptions {\n}\n\nimage {\n}\n\ncamera \"cam\" {\n}\n");
}

// The end of a camera refused inside an object used to leave the object in parameter style.
TEST(SceneFileBlocks, CameraInsideObjectIsRefusedAndItsEndLeavesTheObjectAsItWas) {
    MemoryScene s;
    s->beginObject("o", true);
    s.fresh();
    EXPECT_FALSE(s->beginCamera("c"));
    EXPECT_FALSE(s->modify("c"));
    s->endCamera();
    EXPECT_EQ(s.fresh(), "");
    const int32_t five = 5;
    s->attribute("after", trvType::int_, &five);
    EXPECT_EQ(s.fresh(), "after 5\n");
    // The object is still open: a camera stays refused inside it.
    EXPECT_FALSE(s->beginCamera("c"));
    s->endObject();
    EXPECT_TRUE(s->beginCamera("c"));
}

TEST(SceneFileBlocks, UnusedWriterWritesNothingAndModifyOpensACamera) {
    MemoryScene s;
    {
        MemoryScene unused;
        EXPECT_EQ(unused.text(), "");
    }
    EXPECT_TRUE(s->modify("c"));
    s->endCamera();
    EXPECT_EQ(s.text(), "#modify \ncamera \"c\" {\n}\n");
}

// modify is the writer's own table slot after the interface's 67, not a plain member.
TEST(SceneFileBlocks, ModifyWasNotAVirtualOperation) {
    struct Probe : trvScene_api_file {
        Probe() : trvScene_api_file(nullptr, false) {}
        bool modify(const char*) override {
            called = true;
            return false;
        }
        bool called = false;
    };
    Probe probe;
    trvScene_api_file& writer = probe;
    EXPECT_FALSE(writer.modify("c"));
    EXPECT_TRUE(probe.called);
}

// ---- attribute styles and type codes -------------------------------------------------------

TEST(SceneFileAttributes, DirectiveAndParameterStyle) {
    MemoryScene s;
    const int on = 1;
    s->beginObject("o", true);
    s.fresh();
    EXPECT_TRUE(s->attribute("visible to the eye", trvType::bool_, &on));
    EXPECT_EQ(s.fresh(), "visible to the eye on\n");
    s->beginShader("named", "trv_diffuse");
    s.fresh();
    s->attribute("glossy", trvType::bool_, &on);
    EXPECT_EQ(s.fresh(), "\"glossy\" on,\n");
    s->endShader();
    s.fresh();
    s->attribute("back", trvType::bool_, &on);  // the object's style is restored
    EXPECT_EQ(s.fresh(), "back on\n");
    const trvArray ids = {&on, 1};
    s->attribute("ids", trvType::array_bit | trvType::int_, &ids);
    EXPECT_EQ(s.fresh(), "ids [ 1 ] \n");
}

TEST(SceneFileAttributes, StyleStackAcrossBlockKinds) {
    MemoryScene s;
    const int one = 1;
    s->beginGeometry("g");
    s->beginGroup("inner", true);
    s->endGroup();
    s->beginLoad("m");  // keeps the style around it
    s.fresh();
    s->attribute("a", trvType::int_, &one);
    EXPECT_EQ(s.fresh(), "\"a\" 1,\n");
    s->endLoad();
    s->endGeometry();
    s->beginOutput("x", "y", "z");
    s->endOutput();  // closing an output block always leaves directive style
    s.fresh();
    s->attribute("b", trvType::int_, &one);
    EXPECT_EQ(s.fresh(), "b 1\n");
    s->beginOptions();
    s->endOptions();  // closing a section sets parameter style
    s.fresh();
    s->attribute("c", trvType::int_, &one);
    EXPECT_EQ(s.fresh(), "\"c\" 1,\n");
}

TEST(SceneFileAttributes, ValueTextPerTypeCode) {
    MemoryScene s;
    auto value = [&](int type, const void* v) {
        s.fresh();
        s->attribute("n", type, v);
        std::string t = s.fresh();
        EXPECT_EQ(t.substr(0, 4), "\"n\" ");
        EXPECT_EQ(t.substr(t.size() - 2), ",\n");
        return t.substr(4, t.size() - 6);
    };
    const float v4[4] = {1.0f, 0.5f, -2.0f, 1e-7f};
    const double d3[3] = {0.1, 2.0, -3.5};
    const int32_t i4[4] = {-7, 0, 2147483647, -2147483647 - 1};
    const int32_t yes = 2, no = 0;
    EXPECT_EQ(value(trvType::vec3f, v4), "1 0.5 -2");
    EXPECT_EQ(value(trvType::vec4f, v4), "1 0.5 -2 1e-07");
    EXPECT_EQ(value(trvType::float4, v4), "1 0.5 -2 1e-07");
    EXPECT_EQ(value(trvType::vec2f, v4), "1 0.5");
    EXPECT_EQ(value(trvType::float_, v4 + 1), "0.5");
    const double half = 0.5;
    EXPECT_EQ(value(trvType::double_, &half), "0.5000000000000000");
    EXPECT_EQ(value(trvType::vec3d, d3), "0.1 2 -3.5");
    EXPECT_EQ(value(trvType::int_, i4), "-7");
    EXPECT_EQ(value(trvType::int_alt, i4 + 2), "2147483647");
    EXPECT_EQ(value(trvType::int2, i4), "-7 0");
    EXPECT_EQ(value(trvType::int3, i4), "-7 0 2147483647");
    EXPECT_EQ(value(trvType::int4, i4), "-7 0 2147483647 -2147483648");
    EXPECT_EQ(value(trvType::bool_, &yes), "on");
    EXPECT_EQ(value(trvType::bool_, &no), "off");
    EXPECT_EQ(value(trvType::string, "abc"), "\"abc\"");
    const char* ref = "ref";
    EXPECT_EQ(value(trvType::string_ref, &ref), "\"ref\"");
    EXPECT_EQ(value(8, &yes), "");
    EXPECT_EQ(value(0x8000 | 14, &yes), "");  // vec2f has no array form
}

TEST(SceneFileAttributes, FiniteReplacementOnlyForFloats) {
    MemoryScene s;
    s->beginGeometry("g");
    auto text = [&](int type, const void* v) {
        s.fresh();
        s->attribute("n", type, v);
        return s.fresh();
    };
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float fmax = std::numeric_limits<float>::max();
    const float big = 3.0e38f;
    EXPECT_EQ(text(trvType::float_, &inf), "\"n\" -1,\n");
    EXPECT_EQ(text(trvType::float_, &nan), "\"n\" -1,\n");
    EXPECT_EQ(text(trvType::float_, &fmax), "\"n\" -1,\n");  // the largest float is excluded
    EXPECT_EQ(text(trvType::float_, &big), "\"n\" 3e+38,\n");
    const double huge = 1e300;
    char expected[400];
    std::snprintf(expected, sizeof expected, "\"n\" %16.16f,\n", huge);
    EXPECT_EQ(text(trvType::double_, &huge), expected);
    const double dinf = std::numeric_limits<double>::infinity();
    std::snprintf(expected, sizeof expected, "\"n\" %16.16f,\n",
                  std::numeric_limits<double>::max());
    EXPECT_EQ(text(trvType::double_, &dinf), expected);  // no "inf" text, ever
    const float v[3] = {inf, 1, 2};                      // vectors keep their finite values
    EXPECT_EQ(text(trvType::vec3f, v), "\"n\" 3.40282e+38 1 2,\n");
}

// 1e308 in a document once reached the scene as "inf": narrowed to a float it has no finite
// value. Every path a value takes (scalars, vectors, matrices, text and packed arrays, array
// elements one by one) writes the nearest finite value instead, and the writer counts them and
// names the first place.
TEST(SceneFileAttributes, InfinitiesAndNanAreClampedCountedAndNamed) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (bool pack : {false, true}) {
        MemoryScene s(pack);
        s->beginObject("o", true);
        double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 1e308, -1e308, 0, 1};
        s->transform(m);
        const float points[6] = {0, 1, 2, -inf, nan, 5};
        trvArray array{points, 2};
        s->attribute("vertices", trvType::vec3f | trvType::array_bit, &array);
        const float uv[3] = {inf, 0.5f, nan};
        trvArray uvs{uv, 3};
        s->attribute("uv_tex", trvType::float_ | trvType::array_bit, &uvs);
        m[12] = std::numeric_limits<double>::infinity();
        trvArray matrices{m, 1};
        s->attribute("matrices", trvType::matrix | trvType::array_bit, &matrices);
        s->beginArray("list");
        s->arrayValue(trvType::vec3f, points + 3);
        s->endArray();
        const std::string all = s.text();
        EXPECT_EQ(all.find("inf"), std::string::npos) << pack;
        EXPECT_EQ(all.find("nan"), std::string::npos) << pack;
        EXPECT_NE(all.find("transform 1 0 0 0 0 1 0 0 0 0 1 0 3.40282e+38 -3.40282e+38 0 1"),
                  std::string::npos)
            << all;
        // transform 2, vertices 2, uv_tex 2, matrices 1, list 2.
        EXPECT_EQ(s->clampedValues(), 9u) << pack;
        EXPECT_EQ(s->firstClamped(), "transform");
        // The caller's arrays are not changed by the writer.
        EXPECT_EQ(points[3], -inf);
        EXPECT_TRUE(std::isnan(uv[2]));
        if (pack) {
            // Packed floats: -inf a vertex coordinate becomes -FLT_MAX, NaN 0; float array
            // elements out of range become -1, as their text form reads.
            const float want[6] = {0, 1, 2, -std::numeric_limits<float>::max(), 0, 5};
            const size_t at =
                all.find(std::string("\x01\x02\x03"
                                     "c",
                                     4));
            ASSERT_NE(at, std::string::npos);
            EXPECT_EQ(std::memcmp(all.data() + at + 8, want, sizeof want), 0);
            const float wantUv[3] = {-1, 0.5f, -1};
            const size_t f =
                all.find(std::string("\x01\x02\x03"
                                     "f",
                                     4));
            ASSERT_NE(f, std::string::npos);
            EXPECT_EQ(std::memcmp(all.data() + f + 8, wantUv, sizeof wantUv), 0);
        }
    }
    MemoryScene clean;
    clean->beginObject("o", true);
    const float fine[3] = {1e38f, -1e-38f, 0};
    clean->attribute("v", trvType::vec3f, fine);
    EXPECT_EQ(clean->clampedValues(), 0u);
    EXPECT_EQ(clean->firstClamped(), "");
}

TEST(SceneFileAttributes, MatrixValueIsNarrowedToFloat) {
    MemoryScene s;
    double m[16] = {};
    m[0] = 1.0 / 3.0;
    m[1] = 1e-50;  // underflows as a float
    m[15] = 1;
    s->beginObject("o", true);
    s.fresh();
    s->attribute("m", trvType::matrix, m);
    EXPECT_EQ(s.fresh(), "m 0.333333 0 0 0 0 0 0 0 0 0 0 0 0 0 0 1\n");
}

TEST(SceneFileAttributes, SpelledNumbersMatchPrintf) {
    // The writer spells numbers itself; they must equal what printf gives in the "C" locale.
    MemoryScene s;
    s->beginObject("o", true);
    const double samples[] = {0.0,    -0.0,    1.0,    0.1,      123456.0, 1234567.0,
                              1e-5,   1e-4,    9.5e-5, 99999.95, 1e100,    -2.5e-300,
                              5e-324, 1.7e308, 0.3333, 2.0 / 3,  1e15,     1e16};
    for (double d : samples) {
        char expected[600];
        s.fresh();
        const double v[3] = {d, d, d};
        s->attribute("d", trvType::vec3d, v);
        std::snprintf(expected, sizeof expected, "d %g %g %g\n", d, d, d);
        EXPECT_EQ(s.fresh(), expected);
        s->attribute("f", trvType::double_, &d);
        std::snprintf(expected, sizeof expected, "f %16.16f\n", d);
        EXPECT_EQ(s.fresh(), expected);
    }
}

TEST(SceneFileAttributes, CallerErrorsWriteNoValue) {
    MemoryScene s;
    s->beginGeometry("g");
    s.fresh();
    const char* nullText = nullptr;
    trvShaderHandle nullHandle = nullptr;
    const trvArray nullData = {nullptr, 3};
    EXPECT_FALSE(s->attribute("a", trvType::float_, nullptr));
    EXPECT_FALSE(s->attribute("b", trvType::string_ref, &nullText));
    EXPECT_FALSE(s->attribute("c", trvType::shader_ref, &nullHandle));
    EXPECT_FALSE(s->attribute("d", trvType::array_bit | trvType::float_, &nullData));
    EXPECT_FALSE(s->attribute("e", trvType::array_bit | trvType::int_, nullptr));
    EXPECT_FALSE(s->attributeShader("f", nullptr));
    s->shader(0, nullptr);
    s->transform(nullptr);
    EXPECT_EQ(s.fresh(), "\"a\" ,\n\"b\" ,\n\"c\" ,\n\"d\" ,\n\"e\" ,\n");
    const char* list[3] = {"x", nullptr, "z"};
    const trvArray strings = {list, 3};
    s->attribute("g", trvType::array_bit | trvType::string, &strings);
    EXPECT_EQ(s.fresh(), "\"g\" [ \"x\",\n,\n\"z\" \n] ,\n");
    s->attribute(nullptr, trvType::int_, list);  // a null name is the empty name
    s->beginArray("h");
    s->arrayValue(trvType::float_, nullptr);
    s->arrayValue(trvType::string_ref, &nullText);
    s->endArray();
    std::string t = s.fresh();
    EXPECT_EQ(t.substr(0, 3), "\"\" ");
    EXPECT_EQ(t.substr(t.find('\n') + 1), "\"h\" [\n ],\n");
}

// ---- arrays in text and packed form --------------------------------------------------------

// What the array attribute "n" of `count` items of `base` writes, between its name and its line
// end.
std::string arrayText(MemoryScene& s, int base, const void* data, uint32_t count) {
    const trvArray a = {data, count};
    s.fresh();
    s->attribute("n", trvType::array_bit | base, &a);
    const std::string t = s.fresh();
    return t.substr(4, t.size() - 6);
}

TEST(SceneFileArrays, TextForms) {
    MemoryScene s;
    s->beginGeometry("g");
    auto text = [&](int base, const void* data, uint32_t count) {
        return arrayText(s, base, data, count);
    };
    const int32_t bools[3] = {0, 5, 0};
    EXPECT_EQ(text(trvType::bool_, bools, 3), "[ 0,1,0 ] ");
    int32_t ten[10];
    for (int i = 0; i < 10; ++i) {
        ten[i] = i;
    }
    EXPECT_EQ(text(trvType::int_, ten, 10), "[ 0,1,2,3,4,5,6,7,8,\n9 ] ");
    EXPECT_EQ(text(trvType::int_, ten, 9), "[ 0,1,2,3,4,5,6,7,8 \n] ");
    EXPECT_EQ(text(trvType::int_alt, ten, 0), "[ ] ");
    const float f[3] = {0.5f, std::numeric_limits<float>::infinity(), 2};
    EXPECT_EQ(text(trvType::float_, f, 3), "[ 0.5,-1,2 ] ");
    EXPECT_EQ(text(trvType::vec3f, f, 1), "[ 0.5 3.40282e+38 2 ] ");
    const double d[2] = {0.25, 1e39};  // doubles in arrays use the float bounds
    EXPECT_EQ(text(trvType::double_, d, 2), "[ 0.2500000000000000,-1.0000000000000000 ] ");
    EXPECT_EQ(text(trvType::vec3d, d, 0), "[ ] ");
    const float q[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(text(trvType::vec4f, q, 2), "[ 1 2 3 4,5 6 7 8 ] ");
    double m[32] = {};
    m[0] = 1e-50;
    m[31] = 2;
    EXPECT_EQ(text(trvType::matrix, m, 2),
              "[ 1e-50 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ,\n0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 2 \n] ");
    const char* list[2] = {"a", "b"};
    EXPECT_EQ(text(trvType::string_ref, list, 2), "[ \"a\",\n\"b\" \n] ");
}

TEST(SceneFileArrays, PackedBlocks) {
    MemoryScene s(true);
    s->beginGeometry("g");
    auto text = [&](int base, const void* data, uint32_t count) {
        return arrayText(s, base, data, count);
    };
    const float v[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(text(trvType::vec3f, v, 2), "[ " + header('c', 6) + bytes(v, 24) + "] ");
    EXPECT_EQ(text(trvType::float_, v, 3), "[ " + header('f', 3) + bytes(v, 12) + "] ");
    const double d[2] = {0.5, -1};
    EXPECT_EQ(text(trvType::double_, d, 2), "[ " + header('r', 2) + bytes(d, 16) + "] ");
    const int32_t i[2] = {7, -1};
    EXPECT_EQ(text(trvType::int_, i, 0), "[ " + header('i', 0) + "] ");
    EXPECT_EQ(text(trvType::int_alt, i, 2), "[ " + header('i', 2) + bytes(i, 8) + "] ");
    // Types without a packed form stay text.
    EXPECT_EQ(text(trvType::bool_, i, 2), "[ 1,1 ] ");
    // setFlags switches packing: bit 0x2.
    s->setFlags(0x400000);
    EXPECT_EQ(text(trvType::int_, i, 2), "[ 7,-1 ] ");
    s->setFlags(0x400002);
    EXPECT_EQ(text(trvType::int_, i, 2), "[ " + header('i', 2) + bytes(i, 8) + "] ");
}

TEST(SceneFileArrays, ElementWiseText) {
    MemoryScene s;
    s->beginGeometry("g");
    s.fresh();
    s->beginArray("v");
    for (int32_t k = 0; k < 7; ++k) {
        s->arrayValue(trvType::int_, &k);
    }
    s->endArray();
    EXPECT_EQ(s.fresh(), "\"v\" [\n0, 1, 2, 3, 4, 5,\n6 ],\n");
    const float t[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    s->beginArray("p");
    for (int k = 0; k < 3; ++k) {
        s->arrayValue(trvType::vec3f, t + 3 * k);
    }
    s->endArray();
    EXPECT_EQ(s.fresh(), "\"p\" [\n1 2 3, 4 5 6,\n7 8 9 ],\n");
    const char* name = "tex";
    s->beginArray("s");
    s->arrayValue(trvType::string_ref, &name);
    s->arrayValue(trvType::string, "b");
    s->endArray();
    EXPECT_EQ(s.fresh(), "\"s\" [\n\"tex\", \"b\" ],\n");
}

TEST(SceneFileArrays, ElementWisePacked) {
    MemoryScene s(true);
    s->beginGeometry("g");
    s.fresh();
    s->beginArray("v");
    const int32_t k[3] = {1, 2, 3};
    for (int i = 0; i < 3; ++i) {
        s->arrayValue(trvType::int_, k + i);
    }
    s->endArray();
    EXPECT_EQ(s.fresh(), "\"v\" [\n" + header('i', 3) + bytes(k, 12) + " ],\n");
    const float p[6] = {1, 2, 3, 4, 5, 6};
    s->beginArray("p");
    s->arrayValue(trvType::vec3f, p);
    s->arrayValue(trvType::vec3f, p + 3);
    s->endArray();
    EXPECT_EQ(s.fresh(), "\"p\" [\n" + header('c', 6) + bytes(p, 24) + " ],\n");
    // Nothing gathered, nothing packed; doubles are not gathered and go as text.
    s->beginArray("d");
    const double half = 0.5;
    s->arrayValue(trvType::double_, &half);
    s->endArray();
    EXPECT_EQ(s.fresh(), "\"d\" [\n0.5000000000000000 ],\n");
}

TEST(SceneFileArrays, ElementWisePackedBufferIsEmptiedBetweenArrays) {
    MemoryScene s(true);
    const float f = 1.5f;
    s->beginArray("a");
    s->arrayValue(trvType::float_, &f);
    s->arrayValue(trvType::float_, &f);
    s->endArray();
    s.fresh();
    s->beginArray("b");
    s->arrayValue(trvType::float_, &f);
    s->endArray();
    EXPECT_EQ(s.fresh(), "\"b\" [\n" + header('f', 1) + bytes(&f, 4) + " ],\n");
}

// ---- shaders and capture -------------------------------------------------------------------

TEST(SceneFileShaders, AnonymousShaderInsideMaterial) {
    MemoryScene s;
    const float half = 0.5f;
    s->beginMaterial("m", true);
    s->beginShader(nullptr, "trv_diffuse");
    s->attribute("kd", trvType::float_, &half);
    s->endShader();
    trvShaderHandle h = s->currentShader();
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(std::string(h->text, h->length), "\"trv_diffuse\" {\n\"kd\" 0.5,\n}");
    s->shader(0, h);
    s->endMaterial();
    EXPECT_EQ(s.text(), "material \"m\" {\nsurface \"trv_diffuse\" {\n\"kd\" 0.5,\n}\n}\n");
}

TEST(SceneFileShaders, KindWords) {
    MemoryScene s;
    s->beginShader(nullptr, "t");
    s->endShader();
    trvShaderHandle h = s->currentShader();
    s->shader(1, h);
    s->shader(2, h);
    s->shader(3, h);
    s->shader(9, h);
    EXPECT_EQ(s.fresh(),
              "shadow \"t\" {\n}\nvolume \"t\" {\n}\nreflection map \"t\" {\n}\n"
              "// assuming surface shader\nsurface \"t\" {\n}\n");
    s->shaderId(7, 3);
    s->shaderId(3, 4);
    EXPECT_EQ(s.fresh(), "// assuming surface shader\nsurface 3\nreflection map 4\n");
}

TEST(SceneFileShaders, TextureFeedsMaterialShader) {
    MemoryScene s;
    s->beginShader(nullptr, "texture2_rgb");
    s->attribute("file", trvType::string, "a.png");
    s->endShader();
    trvShaderHandle texture = s->currentShader();
    s->beginShader(nullptr, "trv_advanced");
    EXPECT_TRUE(s->attributeShader("diffuse", texture));
    s->attributeShaderId("bump", 4);
    s->endShader();
    trvShaderHandle material = s->currentShader();
    EXPECT_NE(texture, material);
    EXPECT_EQ(s.text(), "");  // everything was captured
    EXPECT_EQ(std::string(material->text),
              "\"trv_advanced\" {\n\"diffuse\" ! \"texture2_rgb\" {\n\"file\" \"a.png\",\n},\n"
              "\"bump\" ! 4,\n}");
}

TEST(SceneFileShaders, PushAndPopReturnToTheOuterCapture) {
    MemoryScene s;
    const int one = 1;
    s->beginShader(nullptr, "outer");
    s->pushShader();
    s->beginShader(nullptr, "inner");
    s->endShader();
    trvShaderHandle inner = s->currentShader();
    s->popShader();
    s->attributeShader("in", inner);
    s->attribute("x", trvType::int_, &one);
    s->endShader();
    trvShaderHandle outer = s->currentShader();
    EXPECT_EQ(std::string(inner->text), "\"inner\" {\n}");
    EXPECT_EQ(std::string(outer->text), "\"outer\" {\n\"in\" ! \"inner\" {\n},\n\"x\" 1,\n}");
    s->popShader();  // unmatched: leaves the current shader alone
    EXPECT_EQ(s->currentShader(), outer);
}

TEST(SceneFileShaders, NamedAndNumberedShadersGoToTheStreamDuringCapture) {
    MemoryScene s;
    const int one = 1;
    s->beginShader(nullptr, "anon");
    s->beginShader("lib", "trv_diffuse");
    s->attribute("a", trvType::int_, &one);
    s->endShader();
    s->beginShaderId("trv_envmap", 5);
    s->endShader();
    s->attribute("b", trvType::int_, &one);
    s->endShader();
    EXPECT_EQ(s.text(),
              "#define shader \"lib\" \"trv_diffuse\" {\n\"a\" 1,\n}\n"
              "#define shader 5 trv_envmap {\n}\n");
    EXPECT_EQ(std::string(s->currentShader()->text), "\"anon\" {\n\"b\" 1,\n}");
}

TEST(SceneFileShaders, ShaderRefIsIndentedByTwoUnderIndentation) {
    MemoryScene s;
    const int one = 1;
    s->setFlags(kIndentOn);
    s->beginCamera("c");
    s->beginShader(nullptr, "trv_envmap");
    s->attribute("a", trvType::int_, &one);
    s->endShader();
    trvShaderHandle h = s->currentShader();
    s->attribute("reflection map", trvType::shader_ref, &h);
    s->attribute("after", trvType::int_, &one);
    s->endCamera();
    EXPECT_EQ(
        s.text(),
        "\ncamera \"c\" {\n reflection map \"trv_envmap\" {\n   \"a\" 1,\n  }\n after 1\n}\n");
}

TEST(SceneFileShaders, CapturedPackedBytesAreEmittedByLength) {
    // A packed block holds NUL bytes; the captured text must not stop at them.
    MemoryScene s(true);
    const int32_t zero[2] = {0, 0};
    const trvArray a = {zero, 2};
    s->beginShader(nullptr, "t");
    s->attribute("v", trvType::array_bit | trvType::int_, &a);
    s->endShader();
    trvShaderHandle h = s->currentShader();
    EXPECT_TRUE(h->rawBytes);
    s->shader(0, h);
    EXPECT_EQ(s.text(), "surface \"t\" {\n\"v\" [ " + header('i', 2) + bytes(zero, 8) + "] ,\n}\n");
}

// A capture placed into itself doubled with every call (a 455-byte call sequence took 91 s and
// 4.5 GB); so did one capture placed into captures again and again.
TEST(SceneFileShaders, CapturePlacedIntoItselfOrIntoCapturesRepeatedlyIsRefused) {
    MemoryScene s;
    s->beginShader(nullptr, "self");
    trvShaderHandle self = s->currentShader();
    for (int i = 0; i < 40; ++i) {
        EXPECT_FALSE(s->attributeShader("me", self));
        EXPECT_FALSE(s->attribute("ref", trvType::shader_ref, &self));
        s->shader(0, self);
    }
    s->endShader();
    // Only the names of the refused attributes: 40 of them, each "\"ref\" ,\n".
    const std::string text(self->text);
    EXPECT_EQ(text.size(), std::string("\"self\" {\n}").size() + 40 * 8u) << text;
    EXPECT_EQ(text.find("! "), std::string::npos) << text;

    // As producers do: a texture placed once into the material's shader.
    s->beginShader(nullptr, "tex");
    s->endShader();
    trvShaderHandle texture = s->currentShader();
    s->beginShader(nullptr, "surf");
    EXPECT_TRUE(s->attributeShader("diffuse", texture));
    EXPECT_FALSE(s->attributeShader("again", texture));
    s->endShader();
    EXPECT_EQ(std::string(s->currentShader()->text), "\"surf\" {\n\"diffuse\" ! \"tex\" {\n},\n}");
    // Into the stream a capture goes as often as it is asked for.
    s->shader(0, s->currentShader());
    s->shader(0, s->currentShader());
    s->shader(0, texture);
    const std::string surface = "surface \"surf\" {\n\"diffuse\" ! \"tex\" {\n},\n}\n";
    EXPECT_EQ(s.text(), surface + surface + "surface \"tex\" {\n}\n");
}

// Growing a capture left up to twice its text in spare room, held until the writer ended: for
// 100k textured pieces about 100 MB instead of 35. A finished capture is fitted to its text and
// still takes more when a producer that skipped pushShader leaves it current.
TEST(SceneFileShaders, FinishedCaptureHoldsItsTextOnlyAndStillGrows) {
    MemoryScene s;
    const std::string long_(900, 'p');
    s->beginShader(nullptr, "outer");
    s->beginShader(nullptr, "inner");  // no pushShader: the inner one stays the target after
    s->attribute("path", trvType::string, long_.c_str());
    s->endShader();
    trvShaderHandle inner = s->currentShader();
    const std::string innerText = "\"inner\" {\n\"path\" \"" + long_ + "\",\n}";
    EXPECT_EQ(std::string(inner->text), innerText);
    EXPECT_EQ(inner->capacity, inner->length);
    const int one = 1;
    s->attribute("late", trvType::int_, &one);
    s->endShader();
    EXPECT_EQ(std::string(inner->text), innerText + "\"late\" 1,\n}");
    s->shader(0, inner);
    s->shader(0, inner);
    const std::string placed = "surface " + innerText + "\"late\" 1,\n}\n";
    EXPECT_EQ(s.text(), placed + placed);
}

TEST(SceneFileShaders, CapturedTextOverOneMebibyteIsNotCut) {
    MemoryScene s;
    std::string big(3u << 20, 'q');
    s->beginShader(nullptr, "t");
    s->attribute("s", trvType::string, big.c_str());
    s->endShader();
    s->shader(0, s->currentShader());
    EXPECT_EQ(s.text(), "surface \"t\" {\n\"s\" \"" + big + "\",\n}\n");
}

// ---- names, hex and byte blocks ------------------------------------------------------------

TEST(SceneFileNames, QuotedAndHexForms) {
    MemoryScene s;
    s->beginGroup("a\"b", true);
    s->beginGroup("abc", true);
    s->beginGroup("\xE9", true);
    s->beginGroup("", true);
    s->beginGroup("line\nbreak\r", true);
    EXPECT_EQ(s.text(),
              "\ngroup xX612262 {\n\ngroup \"abc\" {\n\ngroup xXe9 {\n\ngroup \"\" {\n"
              "\ngroup xX6c696e650a627265616b0d {\n");
}

TEST(SceneFileNames, DirectiveNameWithLineBreakTakesHexForm) {
    MemoryScene s;
    const int one = 1;
    s->beginObject("o", true);
    s.fresh();
    s->attribute("a\nb", trvType::int_, &one);
    s->attribute("caf\xC3\xA9 x", trvType::int_, &one);  // verbatim: no line structure at risk
    EXPECT_EQ(s.fresh(), "xX610a62 1\ncaf\xC3\xA9 x 1\n");
}

TEST(SceneFileNames, ByteBlocks) {
    MemoryScene s;
    const unsigned char b[2] = {0x00, 0xFF};
    s->icon(b, 2);
    s->icon(b, 0);
    s->icon(nullptr, 5);
    s->namedBlock("thumb", b, 2);
    EXPECT_EQ(s.text(), "icon bX00ff\nicon bX\nicon bX\nthumb bX00ff\n");
}

// ---- other operations ----------------------------------------------------------------------

TEST(SceneFileMisc, LinesOfTheOtherOperations) {
    MemoryScene s;
    s->version(-1);
    s->version(7);
    s->print("50%d done");
    s->error("bad \"x\"");
    s->progress("Export", 0.5f);
    s->id(3);
    s->flags(4294967295u);
    EXPECT_TRUE(s->render());
    s->declareAttribute("source file", "source file");
    s->printf("%s-%d\n", "hdr", 3);
    EXPECT_EQ(s.text(),
              "version 8\n\nversion 7\n\n#print \"50%d done\"\n#error \"bad \"x\"\"\n"
              "progress \"Export\" 0.500\n\nid 3\nflags 4294967295\n\nrender\n"
              "attribute \"source file\" \"source file\"\nhdr-3\n");
}

TEST(SceneFileMisc, Transforms) {
    MemoryScene s;
    double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0.1, 2.5, -3, 1};
    s->transform(m);
    s->setTransform(m);
    s->scale(1, 2, 3);
    s->rotate(0.25, 0, -90);
    s->translate(1e-7, 0, 0);
    EXPECT_EQ(s.text(),
              "transform 1 0 0 0 0 1 0 0 0 0 1 0 0.1 2.5 -3 1\n"
              "set transform 1 0 0 0 0 1 0 0 0 0 1 0 0.1 2.5 -3 1\n"
              "scale 1 2 3\nrotate 0.25 0 -90\ntranslate 1e-07 0 0\n");
}

TEST(SceneFileMisc, NullStreamKeepsTheStateMachine) {
    trvScene_api_file w(nullptr, true);
    const float f = 1;
    const trvArray a = {&f, 1};
    EXPECT_TRUE(w.beginCamera(nullptr));
    EXPECT_FALSE(w.beginCamera(nullptr));
    w.attribute("a", trvType::array_bit | trvType::float_, &a);
    w.endCamera();
    EXPECT_TRUE(w.beginCamera("again"));
    w.endCamera();
    w.beginShader(nullptr, "t");
    w.attribute("f", trvType::float_, &f);
    w.endShader();
    ASSERT_NE(w.currentShader(), nullptr);
    EXPECT_EQ(std::string(w.currentShader()->text), "\"t\" {\n\"f\" 1,\n}");
    w.printf("%s", "x");
    EXPECT_FALSE(w.writeFailed());
}

// ---- indentation and the work-buffer limit -------------------------------------------------

TEST(SceneFileIndent, NestedBlocksAndArrayLines) {
    MemoryScene s;
    const int one = 1;
    int32_t ten[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    const trvArray a = {ten, 10};
    s->setFlags(kIndentOn);
    s->beginGroup("g", true);
    s->beginObject("o", true);
    s->attribute("a", trvType::int_, &one);
    s->beginGeometry("triangles");
    s->attribute("i", trvType::array_bit | trvType::int_, &a);
    s->beginArray("e");
    for (int i = 0; i < 7; ++i) {
        s->arrayValue(trvType::int_, ten + i);
    }
    s->endArray();
    s->endGeometry();
    s->endObject();
    s->endGroup();
    EXPECT_EQ(s.text(),
              "\ngroup \"g\" {\n object \"o\" {\n  a 1\n  geometry \"triangles\" {\n"
              "   \"i\" [ 0,1,2,3,4,5,6,7,8,\n   9 ] ,\n"
              "   \"e\" [\n    0, 1, 2, 3, 4, 5,\n    6 ],\n  }\n }\n}\n");
}

TEST(SceneFileIndent, LongWriteIsSplitNotLost) {
    MemoryScene s;
    s->setFlags(kIndentOn);
    s->beginLoad("a");
    s->beginLoad("b");
    s->beginLoad("c");
    s.fresh();
    // 1,048,575 bytes of short lines: the indented form is far over the work area.
    std::string lines;
    while (lines.size() + 2 <= 1048575) {
        lines += "x\n";
    }
    lines += "y";
    ASSERT_EQ(lines.size(), 1048575u);
    s->printf("%s", lines.c_str());
    std::string expected;
    expected.reserve(lines.size() * 3);
    expected += "   ";
    for (char c : lines) {
        expected += c;
        if (c == '\n') {
            expected += "   ";
        }
    }
    EXPECT_EQ(s.fresh(), expected);
    lines += "zz";  // over the limit: the formatted text is cut at 1,048,575 bytes
    s->setFlags(0x400000);
    s->printf("%s", lines.c_str());
    EXPECT_EQ(s.fresh(), lines.substr(0, 1048575));
}

// ---- write failures ------------------------------------------------------------------------

TEST(SceneFileFailure, WriteToFullDeviceIsRecorded) {
    FILE* full = std::fopen("/dev/full", "w");
    if (full == nullptr) {
        GTEST_SKIP() << "no /dev/full";
    }
    {
        trvScene_api_file w(full, true);
        EXPECT_FALSE(w.writeFailed());
        std::vector<float> v(1 << 18);
        const trvArray a = {v.data(), uint32_t(v.size())};
        w.attribute("big", trvType::array_bit | trvType::float_, &a);
        EXPECT_TRUE(w.writeFailed());
    }
    std::fclose(full);
    // A small write fails only when the buffer is flushed; the stream's error is seen too.
    full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    trvScene_api_file w(full, false);
    w.version(8);
    EXPECT_FALSE(w.writeFailed());
    std::fflush(full);
    EXPECT_TRUE(w.writeFailed());
    std::fclose(full);
}

// ---- whole scenes against golden files -------------------------------------------------------

// Writes the scene a conversion typically produces, through every family of operations.
void typicalScene(trvScene_api_file& w) {
    w.printf("//---tarvik:dal:7---\n");
    w.print("Raydeck exporter");
    w.version(8);
    const int yes = 1;
    w.beginLoad("trvrtopt.so");
    w.attribute("import_merge_groups", trvType::bool_, &yes);
    w.endLoad();
    w.beginShader(nullptr, "trv_envmap");
    w.attribute("file", trvType::string, "sky.hdr");
    w.endShader();
    trvShaderHandle env = w.currentShader();
    w.beginCamera("Camera");
    const double pos[3] = {0, 1.5, -10};
    const float clip[2] = {0.1f, 1000};
    const float fov4[4] = {-0.5f, 0.5f, -0.375f, 0.375f};
    w.attribute("position", trvType::vec3d, pos);
    w.attribute("clipping", trvType::vec2f, clip);
    w.attribute("fov4", trvType::float4, fov4);
    w.attribute("reflection map", trvType::shader_ref, &env);
    w.endCamera();
    w.beginAnimation("fbx_animation", "Camera");
    const float times[3] = {0, 1.0f / 30, 2.0f / 30};
    const trvArray t = {times, 3};
    w.attribute("times", trvType::array_bit | trvType::float_, &t);
    w.endAnimation();
    w.beginGroup("root", true);
    const double mirror[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, -1, 0, 0, 0, 0, 1};
    w.transform(mirror);
    w.declareAttribute("source file", "source file");
    w.flags(1);
    w.beginGroup("Cube", true);
    w.id(1);
    w.beginObject("Cube", true);
    w.attribute("visible to the eye", trvType::bool_, &yes);
    w.beginMaterial("Mat", true);
    w.beginShader(nullptr, "texture2_rgb");
    w.attribute("file", trvType::string, "tex\\wood.png");
    w.endShader();
    trvShaderHandle tex = w.currentShader();
    w.beginShader(nullptr, "trv_diffuse");
    const float kd[3] = {0.8f, 0.7f, 0.6f};
    w.attribute("kd", trvType::vec3f, kd);
    w.attributeShader("kd_tex", tex);
    w.endShader();
    w.shader(trvShaderKind::surface, w.currentShader());
    w.endMaterial();
    w.beginGeometry("triangles");
    const float p[12] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0};
    const int32_t idx[6] = {0, 1, 2, 2, 1, 3};
    const double mats[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    const trvArray pa = {p, 4}, ia = {idx, 6}, ma = {mats, 1};
    w.attribute("p", trvType::array_bit | trvType::vec3f, &pa);
    w.attribute("triangles", trvType::array_bit | trvType::int_, &ia);
    w.attribute("xforms", trvType::array_bit | trvType::matrix, &ma);
    w.endGeometry();
    w.endObject();
    w.endGroup();
    w.progress("Cube", 1.0f);
    w.endGroup();
}

TEST(SceneFileGolden, TypicalScenePackedWithoutIndentation) {
    MemoryScene s(true);  // as the file factory makes it
    typicalScene(s.w());
    compareWithGolden(s.text(), "sceneapi/typical_packed.rdk");
}

TEST(SceneFileGolden, TypicalSceneTextIndented) {
    MemoryScene s(false);
    s->setFlags(kIndentOn);
    typicalScene(s.w());
    compareWithGolden(s.text(), "sceneapi/typical_text_indented.rdk");
}

// Regression: a golden file that could not be written was reported as regenerated.
TEST(SceneFileGolden, RegeneratingIntoAMissingFolderFails) {
    std::string before;
    const bool wasSet = platform::getEnvironment("RAYDECK_REGENERATE_GOLDEN", before);
    ASSERT_TRUE(platform::setEnvironment("RAYDECK_REGENERATE_GOLDEN", "1").ok());
    EXPECT_NONFATAL_FAILURE(compareWithGolden("text", "no-such-folder/golden.rdk"),
                            "cannot write golden file");
    EXPECT_TRUE((wasSet ? platform::setEnvironment("RAYDECK_REGENERATE_GOLDEN", before)
                        : platform::unsetEnvironment("RAYDECK_REGENERATE_GOLDEN"))
                    .ok());
}

}  // namespace
