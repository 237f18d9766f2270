// Lights as emitting octahedron proxies: point and area lights, power truncation, lumen units.
// The sample document's golden export (test_plugin_end_to_end) pins the whole statements.
#include "plugins/c4d/convert/light.h"
#include "tests/plugins/c4d/test_mesh_fixture.h"

namespace raydeck::c4d::testing {
namespace {

class LightTest : public ConverterTest {
  protected:
    void convertOne(const std::string& params) {
        load(documentJson(R"([{"name": "Lamp", "type": 5102, "params": )" + params + "}]"));
        recording.calls.clear();
        convertLight(context, "Lamp", object("Lamp"));
    }
    std::string shaderAttribute(const std::string& name) const {
        const std::vector<std::string> found = calls("attribute " + name + " ");
        return found.size() == 1 ? found[0] : "missing or repeated: " + name;
    }
};

TEST_F(LightTest, PointLightIsAnOctahedronWhoseMaterialIsThePointLight) {
    convertOne(R"({"90000": [1, 0.5, 0.25], "90001": 1.0, "90002": 0})");
    // A unit octahedron: its normals are its corners; 8 triangles.
    const std::string proxy = "count=6 0,-1,0,1,0,0,0,0,1,-1,0,0,0,0,-1,0,1,0";
    EXPECT_EQ(shaderAttribute("vertices"), "attribute vertices vec3f[] " + proxy);
    EXPECT_EQ(shaderAttribute("normals"), "attribute normals vec3f[] " + proxy);
    EXPECT_EQ(shaderAttribute("triangles"),
              "attribute triangles int[] count=24 2,1,0,1,2,5,3,2,0,2,3,5,4,3,0,3,4,5,1,4,0,4,1,5");
    EXPECT_EQ(calls("beginShader"), std::vector<std::string>{"beginShader (null) trv_point_light"});
    EXPECT_EQ(shaderAttribute("power"), "attribute power int 100");
    EXPECT_EQ(shaderAttribute("color"), "attribute color vec3f 1,0.5,0.25");
    EXPECT_EQ(shaderAttribute("lumen"), "attribute lumen bool 0");
    EXPECT_EQ(shaderAttribute("radius"), "attribute radius float 0");
    // One object named after the light: the geometry, then the material named alike that
    // takes the light's shader.
    ASSERT_FALSE(recording.calls.empty());
    EXPECT_EQ(recording.calls.front(), "beginObject Lamp plain");
    EXPECT_EQ(recording.calls.back(), "endObject");
    EXPECT_LT(recording.indexOf("endGeometry"), recording.indexOf("beginMaterial Lamp plain"));
    EXPECT_TRUE(recording.inside("shader 0 #1", "beginMaterial Lamp plain", "endMaterial"));
}

TEST_F(LightTest, AreaLightIsSizedAndHidden) {
    convertOne(R"({"90001": 0.5, "90002": 8, "100010": 200, "100011": 100, "100012": 0})");
    // hz 0: two vertices sit at the origin; the normals equal the positions, not unit length.
    const std::string proxy = "count=6 0,-50,0,100,0,0,0,0,0,-100,0,0,0,0,-0,0,50,0";
    EXPECT_EQ(shaderAttribute("vertices"), "attribute vertices vec3f[] " + proxy);
    EXPECT_EQ(shaderAttribute("normals"), "attribute normals vec3f[] " + proxy);
    EXPECT_EQ(calls("beginShader"), std::vector<std::string>{"beginShader (null) trv_mesh_light"});
    EXPECT_EQ(shaderAttribute("power"), "attribute power int 50");
    EXPECT_EQ(shaderAttribute("visible to the eye"), "attribute visible to the eye bool 0");
    EXPECT_EQ(shaderAttribute("visible in reflections"), "attribute visible in reflections bool 0");
    EXPECT_EQ(shaderAttribute("visible in shadows"), "attribute visible in shadows bool 0");
    EXPECT_TRUE(calls("attribute radius").empty());
    EXPECT_EQ(calls("attribute triangles").size(), 1u);
}

TEST_F(LightTest, PowerIsTruncatedAndLumenUnitsScale) {
    struct Case {
        const char* params;
        const char* power;
        const char* lumen;
    };
    const Case cases[] = {
        {R"({"90001": 1.2345})", "attribute power int 123", "attribute lumen bool 0"},
        {R"({"90001": -0.019})", "attribute power int -1", "attribute lumen bool 0"},
        {R"({"90001": 5, "90046": 1, "90037": 1, "90043": 100})", "attribute power int 1256",
         "attribute lumen bool 1"},
        {R"({"90001": 5, "90046": 1, "90037": 0, "90043": 100})", "attribute power int 100",
         "attribute lumen bool 1"},
        {R"({"90046": 1, "90037": 1, "90043": 0.05})", "attribute power int 0",
         "attribute lumen bool 1"},
        // Beyond the int range the power saturates instead of converting out of range.
        {R"({"90001": 1e30})", "attribute power int 2147483647", "attribute lumen bool 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.params);
        convertOne(c.params);
        EXPECT_EQ(shaderAttribute("power"), c.power);
        EXPECT_EQ(shaderAttribute("lumen"), c.lumen);
    }
}

}  // namespace
}  // namespace raydeck::c4d::testing
