// Materials and textures: the name registry across objects and command runs, the material and
// texture shaders, the standard material's channels and shaders, and the texture file search.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

#include "plugins/c4d/convert/Material.h"
#include "plugins/c4d/convert/mesh.h"
#include "tests/plugins/c4d/test_mesh_fixture.h"
#include "tests/support/TempDir.h"

namespace raydeck::c4d::testing {
namespace {

std::string quadObject(const std::string& name, const std::string& params,
                       const std::string& tags = "[]") {
    return R"({"name": ")" + name + R"(", "type": 5100, "params": )" + params +
           R"(, "points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "polygons": [[0,1,2,3]],
              "tags": )" +
           tags + "}";
}

std::string textureTag(const std::string& material, const std::string& params = "{}") {
    return R"([{"type": 5616, "material": ")" + material + R"(", "params": )" + params + "}]";
}

class MaterialTest : public ConverterTest {
  protected:
    void convert(const std::string& name) {
        convertPolygonObject(context, object(name), textureTags(name));
    }
    // Reads the texture tag of a one-material document into a record.
    bool readMaterial(const std::string& material, MaterialRecord& record,
                      const std::string& folder = "", const std::string& tagParams = "{}") {
        load(documentJson("[" + quadObject("Q", "{}", textureTag("M", tagParams)) + "]",
                          "[" + material + "]"),
             folder);
        return readTextureTag(context, tagHandle(simObject("Q")->tags[0].get()), record);
    }
    std::vector<std::string> materialNames() const { return calls("beginMaterial"); }
};

TEST_F(MaterialTest, DisplayColorNamesAcrossObjectsAndCommandRuns) {
    load(documentJson("[" + quadObject("Grey", "{}") + "," +
                      quadObject("Red", R"({"907": 1, "908": [1, 0, 0]})") + "," +
                      quadObject("Grey2", R"({"907": 3})", "[]") + "]"));
    convert("Grey");
    convert("Red");
    convert("Grey2");  // mode 3 without a layer keeps the default grey
    EXPECT_EQ(materialNames(), (std::vector<std::string>{"beginMaterial Display color plain",
                                                         "beginMaterial Display color #1 plain",
                                                         "beginMaterial Display color plain"}));
    // Every call writes a complete definition, also for a record written before.
    EXPECT_EQ(calls("beginShader").size(), 3u);

    // A second command run while the plug-in stays loaded: the registry remembers the first.
    load(documentJson("[" + quadObject("Blue", R"({"907": 1, "908": [0, 0, 1]})") + "]"));
    convert("Blue");
    EXPECT_EQ(materialNames(), std::vector<std::string>{"beginMaterial Display color #2 plain"});
}

TEST_F(MaterialTest, RecordOrderIgnoresSpecularProjectionAndMatrix) {
    load(documentJson("[]"));
    MaterialRecord a, b;
    a.name = b.name = "Paint";
    b.specular[0] = 0.5;
    b.projection = 2;
    b.textureMatrix.off.x = 3;
    EXPECT_EQ(materialName(context, a), "Paint");
    EXPECT_EQ(materialName(context, b), "Paint");
    b.tile = false;
    EXPECT_EQ(materialName(context, b), "Paint #1");
    // NaN colours keep the registry's order consistent: the same NaN record finds itself.
    MaterialRecord nan = a;
    nan.diffuse[1] = std::nan("");
    EXPECT_EQ(materialName(context, nan), "Paint #2");
    EXPECT_EQ(materialName(context, nan), "Paint #2");
    EXPECT_EQ(materialName(context, a), "Paint");
}

TEST_F(MaterialTest, LongNamesAreKeptWhole) {
    const std::string longName(1500, 'n');
    MaterialRecord record;
    ASSERT_TRUE(readMaterial(
        R"({"id": "M", "type": 5703, "name": ")" + longName + R"(", "channels": [0]})", record));
    EXPECT_EQ(record.name, longName);
    EXPECT_EQ(materialName(context, record), longName);
    record.diffuse[0] = 0.1;
    EXPECT_EQ(materialName(context, record), longName + " #1");
}

TEST_F(MaterialTest, BitmapInColourChannelLinksATextureShader) {
    TempDir dir;
    std::ofstream(dir.path() + "/wood.png") << "png";
    const std::string material = R"({"id": "M", "type": 5703, "name": "Wood", "channels": [0],
        "params": {"2100": [1, 1, 1], "8000": {"link": "S"}},
        "shaders": [{"id": "S", "type": 5833, "params": {"1000": "wood.png"}}]})";
    load(documentJson("[" + quadObject("Q", "{}", textureTag("M")) + "]", "[" + material + "]"),
         dir.path());
    convert("Q");
    // The texture shader comes first, with the found file and the tag's mapping ...
    const std::string file = dir.path() + "\\wood.png";
    const std::string texture = "beginShader (null) texture2_rgb";
    const std::string advanced = "beginShader (null) trv_advanced";
    EXPECT_LT(recording.indexOf(texture), recording.indexOf(advanced));
    EXPECT_THAT(
        recording.block(texture, "endShader"),
        ::testing::UnorderedElementsAre(
            "attribute texture string " + file, "attribute default_color vec3f 0,0,0",
            "attribute wrap bool 1", "attribute uv_projection int 4", "attribute scale_u float 1",
            "attribute scale_v float 1", "attribute shift_u float 0", "attribute shift_v float 0",
            "attribute uv_flags int 62"));
    // ... the material's shader takes it as its diffuse colour (the first shader's handle) ...
    EXPECT_THAT(
        recording.block(advanced, "endShader"),
        ::testing::IsSupersetOf({"attribute diffuse vec3f 1,1,1", "attribute specular vec3f 0,0,0",
                                 "attributeShader diffuse #1"}));
    // ... and the material named after the host's takes the second.
    EXPECT_EQ(recording.block("beginMaterial Wood plain", "endMaterial"),
              std::vector<std::string>{"shader 0 #2"});
}

TEST_F(MaterialTest, SpecularDecidesBetweenAdvancedAndDiffuse) {
    for (const auto& [specular, shader] : std::vector<std::pair<std::string, std::string>>{
             {"[0.000001, 0, 0]", "trv_diffuse"}, {"[0.0000011, 0, 0]", "trv_advanced"}}) {
        SCOPED_TRACE(specular);
        load(documentJson("[" + quadObject("Q", "{}", textureTag("M")) + "]",
                          R"([{"id": "M", "type": 5703, "name": "Shiny", "channels": [0, 8],
                               "params": {"3100": )" +
                              specular + "}}]"));
        convert("Q");
        EXPECT_EQ(calls("beginShader"), std::vector<std::string>{"beginShader (null) " + shader});
    }
}

TEST_F(MaterialTest, ProjectionTwoWritesTheObjectToUvMatrix) {
    TempDir dir;
    std::ofstream(dir.path() + "/t.png") << "png";
    const std::string material = R"({"id": "M", "type": 5703, "name": "T", "channels": [0],
        "params": {"8000": {"link": "S"}},
        "shaders": [{"id": "S", "type": 5833, "params": {"1000": "t.png"}}]})";
    for (int projection : {2, 3}) {
        SCOPED_TRACE(projection);
        load(documentJson(
                 "[" +
                     quadObject("Q", "{}",
                                textureTag("M", R"({"1004": )" + std::to_string(projection) +
                                                    R"(, "1002": 2, "1001": 0.5})")) +
                     "]",
                 "[" + material + "]"),
             dir.path());
        convert("Q");
        EXPECT_EQ(calls("attribute uv_projection"),
                  std::vector<std::string>{projection == 2 ? "attribute uv_projection int 5"
                                                           : "attribute uv_projection int 4"});
        EXPECT_EQ(calls("attribute transform_obj_to_uv").size(), projection == 2 ? 1u : 0u);
        EXPECT_EQ(calls("attribute uv_flags").size(), projection == 2 ? 0u : 1u);
        EXPECT_EQ(calls("attribute scale_u"),
                  std::vector<std::string>{"attribute scale_u float 2"});
        EXPECT_EQ(calls("attribute shift_v"),
                  std::vector<std::string>{"attribute shift_v float 0.5"});
    }
}

TEST_F(MaterialTest, TextureTransformIsTheHalvedInverse) {
    host::Matrix m;
    m.off = host::Vector(1, 2, 3);
    m.v1 = host::Vector(2, 0, 0);
    m.v2 = host::Vector(0, 0, 4);
    m.v3 = host::Vector(0, -1, 0);
    double t[16];
    textureTransform(m, t);
    // Inverse: x' = (x - 1) / 2, y' = (z - 3) / 4, z' = -(y - 2); every number halved.
    const double expected[16] = {0.25, 0, 0, 0, 0, 0, -0.5, 0, 0, 0.125, 0, 0, -0.25, -0.375, 1, 1};
    for (int i = 0; i < 16; ++i) {
        EXPECT_DOUBLE_EQ(t[i], expected[i]) << i;
    }
    host::Matrix singular;
    singular.v3 = host::Vector(0, 0, 0);
    singular.off = host::Vector(5, 5, 5);
    textureTransform(singular, t);
    const double halfIdentity[16] = {0.5, 0, 0, 0, 0, 0.5, 0, 0, 0, 0, 0.5, 0, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(t[i], halfIdentity[i]) << i;
    }
}

TEST_F(MaterialTest, TextureFileSearch) {
    TempDir dir;
    const std::string folder = dir.path();
    std::filesystem::create_directories(folder + "/tex");
    std::ofstream(folder + "/tex/intex.png") << "png";
    std::ofstream(folder + "/beside.png") << "png";
    std::ofstream(folder + "/tex/both.png") << "png";
    std::ofstream(folder + "/both.png") << "png";
    EXPECT_EQ(findTextureFile(folder, "/nowhere/intex.png", "intex.png"),
              folder + "\\tex\\intex.png");
    EXPECT_EQ(findTextureFile(folder, "C:\\maps\\beside.png", "beside.png"),
              folder + "\\beside.png");
    EXPECT_EQ(findTextureFile(folder, "/nowhere/both.png", "both.png"), folder + "\\tex\\both.png");
    EXPECT_EQ(findTextureFile(folder, folder + "/beside.png", "beside.png"),
              folder + "/beside.png");
    EXPECT_EQ(findTextureFile(folder, "/nowhere/missing.png", "missing.png"),
              "/nowhere/missing.png");
    // Unsaved document: the stored path, unchanged.
    EXPECT_EQ(findTextureFile("", "/nowhere/intex.png", "intex.png"), "/nowhere/intex.png");
    // No file component: the folders themselves are never offered.
    EXPECT_EQ(findTextureFile(folder, "", ""), "");
}

// Regression: 5,000 objects sharing one missing texture searched for it 15,000 times.
TEST_F(MaterialTest, TextureSearchRunsOncePerCommandAndIsForgottenAfterIt) {
    TempDir dir;
    const std::string material = R"({"id": "M", "type": 5703, "name": "Wood", "channels": [0],
        "params": {"8000": {"link": "S"}},
        "shaders": [{"id": "S", "type": 5833, "params": {"1000": "wood.png"}}]})";
    load(documentJson("[" + quadObject("A", "{}", textureTag("M")) + "," +
                          quadObject("B", "{}", textureTag("M")) + "]",
                      "[" + material + "]"),
         dir.path());
    convert("A");
    EXPECT_EQ(context.textureSearches.size(), 1u);
    // The file that appears during the command is not looked for again within it ...
    std::ofstream(dir.path() + "/wood.png") << "png";
    convert("B");
    EXPECT_EQ(calls("attribute texture"),
              (std::vector<std::string>{"attribute texture string wood.png",
                                        "attribute texture string wood.png"}));
    // ... but the next command finds it.
    context.endCommand();
    EXPECT_TRUE(context.textureSearches.empty());
    recording.calls.clear();
    convert("A");
    EXPECT_EQ(calls("attribute texture"),
              std::vector<std::string>{"attribute texture string " + dir.path() + "\\wood.png"});
}

TEST_F(MaterialTest, TextureFileSearchBeyondTwoHundredSixtyUnits) {
    TempDir dir;
    const std::string folder =
        dir.path() + "/" + std::string(150, 'a') + "/" + std::string(150, 'b');
    std::filesystem::create_directories(folder + "/tex");
    std::ofstream(folder + "/tex/long.png") << "png";
    ASSERT_GT(folder.size(), 260u);
    EXPECT_EQ(findTextureFile(folder, "/nowhere/long.png", "long.png"), folder + "\\tex\\long.png");
}

TEST_F(MaterialTest, StandardMaterialChannelsAndShaders) {
    MaterialRecord r;
    // Brightness multiplies the colour, narrowed to float first.
    ASSERT_TRUE(readMaterial(R"({"id": "M", "type": 5703, "name": "A", "channels": [0],
        "params": {"2100": [1, 0.5, 0], "2101": 0.1}})",
                             r));
    EXPECT_EQ(r.diffuse[0], static_cast<double>(0.1f));
    EXPECT_EQ(r.diffuse[1], 0.5 * static_cast<double>(0.1f));

    // Luminance when the colour channel is off.
    r = MaterialRecord();
    ASSERT_TRUE(readMaterial(R"({"id": "M", "type": 5703, "name": "L", "channels": [1],
        "params": {"2300": [0, 0, 1]}})",
                             r));
    EXPECT_EQ(r.diffuse[2], 1.0);

    // Channel 3 without parameter 3100 takes container entry 65 and goes on to the shaders.
    r = MaterialRecord();
    EXPECT_FALSE(readMaterial(R"({"id": "M", "type": 5703, "name": "S", "channels": [3],
        "container": {"65": [0.2, 0.3, 0.4]}})",
                              r));
    EXPECT_EQ(r.specular[1], 0.3);

    // Channel 7 ignores the colour; the shader search runs past bitmaps and gradients to the
    // first colour shader, keeping the last bitmap's file.
    r = MaterialRecord();
    ASSERT_TRUE(readMaterial(R"({"id": "M", "type": 5703, "name": "C", "channels": [0, 7],
        "params": {"2100": [1, 0, 0]},
        "shaders": [{"type": 5833, "params": {"1000": "/x/one.png"}},
                    {"type": 1011100, "params": {"1007": {"gradient": [{"position": 0,
                                                   "color": [0.1, 0.2, 0.3]}]}}},
                    {"type": 5833, "params": {"1000": "/x/two.png"}},
                    {"type": 5832, "params": {"1000": [0, 1, 0]}},
                    {"type": 5833, "params": {"1000": "/x/three.png"}}]})",
                             r));
    EXPECT_EQ(r.textureFile, "/x/two.png");
    EXPECT_EQ(r.diffuse[0], 0.0);
    EXPECT_EQ(r.diffuse[1], 1.0);

    // Without a colour shader such a material gives no piece.
    r = MaterialRecord();
    EXPECT_FALSE(readMaterial(R"({"id": "M", "type": 5703, "name": "C", "channels": [0, 7],
        "params": {"2100": [1, 0, 0]},
        "shaders": [{"type": 1012158, "params": {"10001": {"gradient": [{"position": 0,
                                                   "color": [0.1, 0.2, 0.3]}]}}}]})",
                              r));
    EXPECT_EQ(r.diffuse[2], 0.3);

    // Another material type: no piece. An unnamed material is read, its name the empty text
    // the host hands out (the piece then takes the display colour's name, not its colour).
    r = MaterialRecord();
    EXPECT_FALSE(readMaterial(R"({"id": "M", "type": 1017730, "name": "H", "channels": [0]})", r));
    r = MaterialRecord();
    EXPECT_TRUE(readMaterial(R"({"id": "M", "type": 5703, "name": "", "channels": [0],
        "params": {"2100": [0.5, 0.25, 0]}})",
                             r));
    EXPECT_EQ(r.diffuse[1], 0.25);
}

TEST_F(MaterialTest, GradientWithoutTheHostsGradientLibraryIsWhite) {
    load(R"({"format": "raydeck-host-document", "version": 1,
             "services": {"gradient": false},
             "materials": [{"id": "M", "type": 5703, "name": "G",
                "shaders": [{"type": 1011100, "params": {"1007": {"gradient": [
                    {"position": 0, "color": [0.1, 0.2, 0.3]}]}}}]}], "objects": []})");
    MaterialRecord r;
    for (auto& s : static_cast<hostsim::SimMaterial*>(doc_->find("M"))->shaders) {
        readShader(context, host::BaseShader(reinterpret_cast<RdHostNode*>(s.get())), r);
    }
    EXPECT_EQ(r.diffuse[0], 1.0);
    EXPECT_EQ(r.diffuse[2], 1.0);
}

}  // namespace
}  // namespace raydeck::c4d::testing
