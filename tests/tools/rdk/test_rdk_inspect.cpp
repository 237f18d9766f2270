// rdk-inspect's commands on a scene that the plug-in exported through raydeck-host (run as a
// subprocess in the test's own folder): summary numbers and JSON, check results and exit codes,
// and the preview picture of a camera looking at a cube.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "rapidjson/document.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"
#include "tools/rdk/RdkCommands.h"
#include "tools/rdk/RdkPreview.h"

namespace {

// A camera 500 units in front of a 200-unit cube with a found texture, a triangle with a
// missing texture, a point light, a hair object with two guides and an animated position.
const char* const kDocument = R"({"format": "raydeck-host-document", "version": 1,
  "file": "probe.c4d",
  "materials": [
    {"id": "Wood", "type": 5703, "name": "Wood", "channels": [0],
     "params": {"2100": [0.8, 0.5, 0.2], "8000": {"link": "WoodMap"}},
     "shaders": [{"id": "WoodMap", "type": 5833, "params": {"1000": "wood.png"}}]},
    {"id": "Ghost", "type": 5703, "name": "Ghost", "channels": [0],
     "params": {"2100": [1, 1, 1], "8000": {"link": "GhostMap"}},
     "shaders": [{"id": "GhostMap", "type": 5833, "params": {"1000": "missing.png"}}]}],
  "objects": [
    {"name": "Cam", "type": 5103, "position": [0, 0, -500],
     "params": {"1008": 0.8726646259971648}},
    {"name": "Box", "type": 5100,
     "points": [[-100,-100,-100],[100,-100,-100],[100,100,-100],[-100,100,-100],
                [-100,-100,100],[100,-100,100],[100,100,100],[-100,100,100]],
     "polygons": [[0,1,2,3],[5,4,7,6],[4,0,3,7],[1,5,6,2],[3,2,6,7],[4,5,1,0]],
     "tags": [{"type": 5616, "material": "Wood", "params": {"1006": ""}}],
     "tracks": [{"id": [903, 1000], "name": "Position . X", "params": {"904": 1},
                 "keys": [{"time": 0.0, "value": 0.0}, {"time": 1.0, "value": 10.0}]}]},
    {"name": "Marker", "type": 5100, "position": [0, 0, -2000],
     "points": [[0,0,0],[1,0,0],[0,1,0]], "polygons": [[0,1,2,2]],
     "tags": [{"type": 5616, "material": "Ghost", "params": {"1006": ""}}]},
    {"name": "Lamp", "type": 5102, "position": [0, 0, -1000],
     "params": {"90000": [1, 0.9, 0.8], "90001": 1.0, "90002": 0}},
    {"name": "Fur", "type": 1017305, "position": [0, 0, -1500],
     "hair": {"segments": 2, "guides": [
       {"points": [[0,0,0],[0,5,0],[0,10,0]], "rootUV": [0, 0, 0]},
       {"points": [[1,0,0],[1,5,0],[1,10,0]], "rootUV": [1, 0, 0]}]}}]})";

struct Outcome {
    int code = -1;
    std::string out, err;
};

class RdkInspect : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        write("probe.json", kDocument);
        write("wood.png", "not really a picture");
        ASSERT_EQ(exportScene(), 0);
    }

    std::string path(const std::string& name) const { return dir_.path() + "/" + name; }

    void write(const std::string& name, const std::string& text) {
        std::ofstream(path(name), std::ios::binary) << text;
    }

    // raydeck-host with the real plug-in, in the test folder; answers its exit code.
    int exportScene() {
        RunOptions options;
        options.workingFolder = dir_.path();
        return runProgram(
                   RAYDECK_HOST_EXE,
                   {"--plugin", RAYDECK_PLUGIN_FILE, "export", "probe.json", "-o", "probe.rdk"},
                   options)
            .code;
    }

    Outcome inspect(std::vector<std::string> args) {
        std::ostringstream out, err;
        Outcome r;
        r.code = rdk::runInspect(args, out, err);
        r.out = out.str();
        r.err = err.str();
        return r;
    }

    TempDir dir_;
};

TEST_F(RdkInspect, SummaryOfAnExportedSceneCountsWhatThePlugInWrote) {
    Outcome r = inspect({"summary", path("probe.rdk"), "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    rapidjson::Document j;
    ASSERT_FALSE(j.Parse(r.out.c_str()).HasParseError()) << r.out;
    EXPECT_EQ(j["groups"].GetInt(), 6);  // the root and one per object
    EXPECT_EQ(j["objects"].GetInt(), 4);
    EXPECT_EQ(j["meshes"].GetInt(), 3);
    EXPECT_EQ(j["triangles"].GetInt(), 12 + 1 + 8);  // cube, marker, light octahedron
    EXPECT_EQ(j["vertices"].GetInt(), 8 + 3 + 6);
    EXPECT_EQ(j["materials"]["count"].GetInt(), 4);
    EXPECT_EQ(j["materials"]["byShader"]["trv_advanced"].GetInt(), 2);
    EXPECT_EQ(j["materials"]["byShader"]["trv_point_light"].GetInt(), 1);
    EXPECT_EQ(j["materials"]["byShader"]["trv_diffuse"].GetInt(), 1);
    ASSERT_EQ(j["textures"].Size(), 2u);
    int found = 0;
    for (const auto& t : j["textures"].GetArray()) {
        found += t["found"].GetBool() ? 1 : 0;
        if (std::string(t["path"].GetString()).find("missing.png") != std::string::npos) {
            EXPECT_FALSE(t["found"].GetBool());
        }
    }
    EXPECT_EQ(found, 1);
    ASSERT_EQ(j["cameras"].Size(), 1u);
    EXPECT_STREQ(j["cameras"][0u]["name"].GetString(), "Cam");
    EXPECT_NEAR(j["cameras"][0u]["fov"].GetDouble(), 50.0, 1e-3);
    EXPECT_EQ(j["animations"]["blocks"].GetInt(), 1);
    EXPECT_EQ(j["animations"]["samples"].GetInt(), 30);  // 1 s at 30 samples per second
    ASSERT_EQ(j["lights"].Size(), 1u);
    EXPECT_STREQ(j["lights"][0u]["name"].GetString(), "Lamp");
    EXPECT_EQ(j["lights"][0u]["power"].GetDouble(), 100);
    EXPECT_EQ(j["curves"]["curves"].GetInt(), 2);
    EXPECT_EQ(j["curves"]["points"].GetInt(), 6);

    Outcome text = inspect({"summary", path("probe.rdk")});
    EXPECT_EQ(text.code, 0);
    EXPECT_NE(text.out.find("triangles: 21 in 3 meshes"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("textures: 2 (1 found, 1 missing)"), std::string::npos);
}

// A name that is not UTF-8 ended the whole tool with an uncaught exception while it spelt JSON.
TEST_F(RdkInspect, SummaryJsonOfANameThatIsNotUtf8AbortedTheTool) {
    write("odd.rdk",
          "version 8\ncamera \"C\xff\x01\" {\nprojection \"perspective\"\nfov 1e20\n}\n");
    Outcome r = inspect({"summary", path("odd.rdk"), "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    rapidjson::Document j;
    ASSERT_FALSE(j.Parse(r.out.c_str()).HasParseError()) << r.out;
    EXPECT_STREQ(j["cameras"][0u]["name"].GetString(), "C\xEF\xBF\xBD\x01");  // U+FFFD
    // The spelling the reports have always had: whole values with ".0", exponents as e+XX.
    EXPECT_NE(r.out.find("\"fov\": 1e+20,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"name\": \"C\xEF\xBF\xBD\\u0001\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"list\": [],"), std::string::npos) << r.out;
}

TEST_F(RdkInspect, CheckPassesTheExportAndReportsACutFileAtItsEnd) {
    Outcome clean = inspect({"check", path("probe.rdk"), "--json"});
    EXPECT_EQ(clean.code, 0) << clean.out;
    rapidjson::Document j;
    ASSERT_FALSE(j.Parse(clean.out.c_str()).HasParseError()) << clean.out;
    EXPECT_TRUE(j["ok"].GetBool());

    // Cut inside the last packed block of the cube: the block runs past the end.
    std::ifstream in(path("probe.rdk"), std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t block = bytes.find(std::string("\x01\x02\x03i", 4));
    ASSERT_NE(block, std::string::npos);
    write("cut.rdk", bytes.substr(0, block + 12));
    Outcome cut = inspect({"check", path("cut.rdk"), "--json"});
    EXPECT_EQ(cut.code, 1);
    rapidjson::Document c;
    ASSERT_FALSE(c.Parse(cut.out.c_str()).HasParseError()) << cut.out;
    EXPECT_FALSE(c["ok"].GetBool());
    EXPECT_EQ(c["offset"].GetUint64(), block);
    EXPECT_NE(std::string(c["message"].GetString()).find("past the end"), std::string::npos);

    Outcome text = inspect({"check", path("cut.rdk")});
    EXPECT_EQ(text.code, 1);
    EXPECT_NE(text.out.find("offset " + std::to_string(block) + ":"), std::string::npos);
}

TEST_F(RdkInspect, BadUsageAndUnreadableFilesExitTwo) {
    // A usage mistake is one line that says what is wrong and where the help is.
    const std::vector<std::pair<std::vector<std::string>, std::string>> usage = {
        {{}, "no command given"},
        {{"frobnicate", path("probe.rdk")}, "unknown command frobnicate"},
        {{"check"}, "FILE is required"},
        {{"check", path("probe.rdk"), "--bogus"}, "--bogus"},
        {{"preview", path("probe.rdk")}, "--output is required"},
        {{"preview", path("probe.rdk"), "-o", path("p.png"), "--size", "0x5"}, "not 0x5"},
        {{"summary", path("probe.rdk"), "--size=1x1"}, "--size"},
    };
    for (const auto& [args, what] : usage) {
        Outcome r = inspect(args);
        EXPECT_EQ(r.code, 2) << what;
        EXPECT_NE(r.err.find(what), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("(rdk-inspect --help shows the usage)\n"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_EQ(inspect({"check", path("absent.rdk")}).code, 2);
    EXPECT_EQ(inspect({"summary", path("absent.rdk")}).code, 2);
    // Both spellings of an option's value.
    Outcome sized =
        inspect({"preview", path("probe.rdk"), "--output=" + path("s.png"), "--size=32x24"});
    EXPECT_EQ(sized.code, 0) << sized.err;
    EXPECT_EQ(sized.out.rfind(path("s.png") + ": 32x24,", 0), 0u) << sized.out;
    EXPECT_EQ(inspect({"preview", path("probe.rdk"), "-o", path("no/such/dir/p.png")}).code, 2);
    for (const char* command : {"summary", "check", "preview"}) {
        Outcome help = inspect({command, "--help"});
        EXPECT_EQ(help.code, 0);
        EXPECT_NE(help.out.find(std::string("rdk-inspect ") + command), std::string::npos);
    }
    EXPECT_EQ(inspect({"--help"}).code, 0);
    Outcome version = inspect({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "rdk-inspect " RAYDECK_VERSION "\n");
}

// `summary /etc/passwd` used to print zeros and exit 0.
TEST_F(RdkInspect, TextThatIsNoSceneIsRefusedWithTwo) {
    write("passwd", "root:x:0:0:root:/root:/bin/bash\n");
    write("empty.rdk", "");
    for (const char* name : {"passwd", "empty.rdk"}) {
        for (std::vector<std::string> args :
             {std::vector<std::string>{"summary"}, {"check"}, {"check", "--json"}, {"preview"}}) {
            args.insert(args.begin() + 1, path(name));
            if (args[0] == "preview") {
                args.insert(args.end(), {"-o", path("p.png")});
            }
            SCOPED_TRACE(args[0] + " " + name);
            const Outcome r = inspect(args);
            EXPECT_EQ(r.code, 2);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, "rdk-inspect: " + path(name) +
                                 " is not a scene file (it states no format version)\n");
        }
    }
    EXPECT_FALSE(std::ifstream(path("p.png")).good());
}

// Reads an 8-bit RGB PNG back.
bool readPng(const std::string& file, int& w, int& h, std::vector<uint8_t>& rgb) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, file.c_str())) {
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    w = static_cast<int>(image.width);
    h = static_cast<int>(image.height);
    rgb.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) != 0;
}

TEST_F(RdkInspect, PreviewOfACameraLookingAtACube) {
    const std::string png = path("preview.png");
    Outcome r = inspect({"preview", path("probe.rdk"), "-o", png, "--size", "320x240"});
    ASSERT_EQ(r.code, 0) << r.err;
    int w = 0, h = 0;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(readPng(png, w, h, rgb));
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
    auto background = [&](int x, int y) {
        const uint8_t* p = &rgb[(static_cast<size_t>(y) * w + x) * 3];
        return p[0] == rdk::kPreviewBackground[0] && p[1] == rdk::kPreviewBackground[1] &&
               p[2] == rdk::kPreviewBackground[2];
    };
    size_t covered = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            covered += background(x, y) ? 0 : 1;
        }
    }
    // The front face spans tan = 100/400 of a half-window of tan(25 deg) across and
    // tan(25 deg) * 3/4 up: about 0.54 x 0.72 of the picture, i.e. 38 % of its pixels.
    const double share = static_cast<double>(covered) / (w * h);
    EXPECT_GT(share, 0.34);
    EXPECT_LT(share, 0.42);
    EXPECT_FALSE(background(w / 2, h / 2));
    EXPECT_TRUE(background(2, 2));
    EXPECT_TRUE(background(w - 3, h - 3));
    // The cube stands centred: as much of it left of the middle as right of it.
    int left = 0, right = 0;
    for (int x = 0; x < w; ++x) {
        if (!background(x, h / 2)) {
            (x < w / 2 ? left : right) += 1;
        }
    }
    EXPECT_NEAR(left, right, 2);
}

TEST(RdkPreview, SceneWithoutCameraIsFramedByItsBoundingBox) {
    const std::string text =
        "//---tarvik:dal:7---\nversion 8\ngroup \"root\" {\n"
        "transform 1 0 0 0 0 1 0 0 0 0 -1 0 5000 0 0 1\nobject \"t\" {\n"
        "geometry \"triangles\" {\n\"vertices\" [ 0 0 0,10 0 0,0 10 0 ] ,\n"
        "\"triangles\" [ 0,1,2 ] ,\n}\n}\n}\n";
    rdk::Scene scene;
    rdk::ReadError error;
    ASSERT_TRUE(rdk::parseScene(text, scene, error));
    rdk::PreviewStats stats;
    rdk::PreviewImage image = rdk::renderPreview(scene, 64, 48, &stats);
    EXPECT_FALSE(stats.fromCamera);
    EXPECT_EQ(stats.triangles, 1u);
    // Far from the origin, the triangle is still in the picture, and not filling all of it.
    EXPECT_GT(stats.pixels, 64u * 48 / 20);
    EXPECT_LT(stats.pixels, 64u * 48);
}

TEST(RdkPreview, FarOffVertexDoesNotOverflowTheRasteriser) {
    const std::string text =
        "//---tarvik:dal:7---\nversion 8\ncamera \"c\" {\nfov 60\n}\nobject \"t\" {\n"
        "geometry \"triangles\" {\n\"vertices\" [ 0 0 -10,3e38 0 -10,0 1 -10 ] ,\n"
        "\"triangles\" [ 0,1,2 ] ,\n}\n}\n";
    rdk::Scene scene;
    rdk::ReadError error;
    ASSERT_TRUE(rdk::parseScene(text, scene, error));
    rdk::PreviewStats stats;
    rdk::renderPreview(scene, 32, 24, &stats);
    EXPECT_EQ(stats.triangles, 1u);
    EXPECT_GT(stats.pixels, 0u);
}

}  // namespace
