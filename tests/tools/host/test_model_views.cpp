// Model files through raydeck-host as a user meets them: a model's camera sees what the model's
// viewers show, unnamed materials keep their colour, and a model reader that crashes, loops or
// balloons ends the import in one line naming the file (exit 2), its scratch folder removed.
// The reader faults are tiny files kept under tests/data/model_import.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/FileText.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;

namespace {

const fs::path kData = fs::path(RAYDECK_TEST_DATA) / "model_import";

class ModelViews : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(tmp_.path().empty()); }
    fs::path folder() const { return fs::u8path(tmp_.path()); }

    // raydeck-host with the real plug-in, in the test's folder; its scratch folders go to
    // `scratch` (TMPDIR), so that the test sees what it leaves behind.
    ProgramRun host(std::vector<std::string> args, std::vector<std::string> environment = {}) {
        fs::create_directories(scratch());
        args.insert(args.begin(), {"--plugin", RAYDECK_PLUGIN});
        RunOptions options;
        options.workingFolder = folder().string();
        options.timeoutSeconds = 120;
        environment.push_back("TMPDIR=" + scratch().string());
        options.environment = std::move(environment);
        return runProgram(RAYDECK_HOST_EXE, std::move(args), options);
    }
    fs::path scratch() const { return folder() / "scratch"; }
    bool scratchEmpty() const { return fs::is_empty(scratch()); }

    std::string write(const std::string& name, const std::string& text) {
        std::ofstream(folder() / name, std::ios::binary) << text;
        return (folder() / name).string();
    }

    // Covered pixels (not the background) of scene.rdk's preview, per half of the picture.
    void coveredHalves(size_t& left, size_t& right) {
        RunOptions options;
        options.workingFolder = folder().string();
        const ProgramRun r =
            runProgram(RAYDECK_INSPECT_EXE,
                       {"preview", "scene.rdk", "-o", "preview.png", "--size", "320x200"}, options);
        ASSERT_EQ(r.code, 0) << r.err;
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_NE(png_image_begin_read_from_file(&image, (folder() / "preview.png").c_str()), 0);
        image.format = PNG_FORMAT_RGB;
        std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
        ASSERT_NE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr), 0);
        left = right = 0;
        for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
            const bool covered = !(rgb[i] == 48 && rgb[i + 1] == 48 && rgb[i + 2] == 56);
            ((i / 3) % image.width < image.width / 2 ? left : right) += covered;
        }
    }

    TempDir tmp_;
};

// A camera at the origin looking along -z (the glTF default) and a red triangle in an unnamed
// material at x from -3 to -1, 5 units in front of it: left of the camera's axis.
const char* const kLeftTriangle = R"({"asset": {"version": "2.0"}, "scene": 0,
  "scenes": [{"nodes": [0, 1]}],
  "nodes": [{"name": "Cam", "camera": 0}, {"name": "Tri", "mesh": 0}],
  "cameras": [{"type": "perspective",
               "perspective": {"yfov": 0.8, "aspectRatio": 1.6, "znear": 0.1}}],
  "meshes": [{"primitives": [{"attributes": {"POSITION": 0}, "material": 0}]}],
  "materials": [{"pbrMetallicRoughness": {"baseColorFactor": [0.9, 0.1, 0.1, 1]}}],
  "buffers": [{"byteLength": 36, "uri":
    "data:application/octet-stream;base64,AABAwAAAgL8AAKDAAACAvwAAgL8AAKDAAAAAwAAAgD8AAKDA"}],
  "bufferViews": [{"buffer": 0, "byteLength": 36}],
  "accessors": [{"bufferView": 0, "componentType": 5126, "count": 3, "type": "VEC3",
                 "min": [-3, -1, -5], "max": [-1, 1, -5]}]})";

}  // namespace

TEST_F(ModelViews, TriangleLeftOfAGltfCamerasAxisShowsOnTheLeftOfItsPreview) {
    const std::string model = write("left.gltf", kLeftTriangle);
    const ProgramRun r = host({"export", model, "-o", "scene.rdk"});
    ASSERT_EQ(r.code, 0) << r.err;
    size_t left = 0, right = 0;
    coveredHalves(left, right);
    EXPECT_GT(left, 500u);
    EXPECT_EQ(right, 0u);
}

TEST_F(ModelViews, UnnamedMaterialKeepsItsColourInsteadOfTheDisplayColour) {
    const std::string model = write("left.gltf", kLeftTriangle);
    ASSERT_EQ(host({"export", model, "-o", "scene.rdk"}).code, 0);
    const std::string scene = readFile(folder() / "scene.rdk");
    // The piece's material is the unnamed one, under the display colour's name as a material
    // without a name gets it, with the file's red; not the grey default.
    EXPECT_NE(scene.find("0.9 0.1 0.1"), std::string::npos) << scene;
    EXPECT_EQ(scene.find("0.65 0.65 0.65"), std::string::npos) << scene;
}

TEST_F(ModelViews, ReaderCrashesEndInOneLineNamingTheFileWithExitTwo) {
    for (const char* name : {"reader-crash.ase", "reader-crash.md5mesh"}) {
        const std::string model = (kData / name).string();
        const ProgramRun r = host({"export", model, "-o", "scene.rdk"});
        EXPECT_TRUE(r.exited) << name;
        EXPECT_EQ(r.code, 2) << name << ": " << r.err;
#ifdef RAYDECK_SANITIZED
        // The sanitizer reports the fault and ends the child with an exit code of its own.
        EXPECT_EQ(r.err.rfind(model + ": the model reader failed: it ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
#else
        EXPECT_EQ(r.err, model + ": the model reader failed: it crashed (SIGSEGV)\n") << name;
#endif
        EXPECT_FALSE(fs::exists(folder() / "scene.rdk"));
        EXPECT_TRUE(scratchEmpty()) << name;
    }
}

// A 3MF object made of itself sends Assimp's 3MF reader into recursion without end. Whatever ends
// it (the stack, the memory bound, the sanitizer, the time bound), the user reads one line.
TEST_F(ModelViews, ThreeMfObjectThatIsItsOwnComponentEndsInOneLineWithExitTwo) {
    const std::string model = (kData / "reader-crash.3mf").string();
    const ProgramRun r = host({"export", model, "-o", "scene.rdk"},
                              {"RAYDECK_IMPORT_MEMORY_MIB=256", "RAYDECK_IMPORT_SECONDS=60"});
    EXPECT_TRUE(r.exited);
    EXPECT_EQ(r.code, 2) << r.err;
#ifdef RAYDECK_SANITIZED
    EXPECT_EQ(r.err.rfind(model + ": the model reader failed: it ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
#else
    EXPECT_EQ(r.err, model + ": the model reader failed: it crashed (SIGSEGV)\n");
#endif
    EXPECT_FALSE(fs::exists(folder() / "scene.rdk"));
    EXPECT_TRUE(scratchEmpty());
}

TEST_F(ModelViews, ReaderThatLoopsIsEndedAtTheTimeBound) {
    for (const char* name : {"reader-loop.smd", "reader-loop.ply"}) {
        const std::string model = (kData / name).string();
        const ProgramRun r =
            host({"export", model, "-o", "scene.rdk"}, {"RAYDECK_IMPORT_SECONDS=1"});
        EXPECT_FALSE(r.timedOut) << name;
        EXPECT_EQ(r.code, 2) << name << ": " << r.err;
        EXPECT_EQ(r.err, model +
                             ": the model reader failed: it did not finish within 1 s "
                             "(RAYDECK_IMPORT_SECONDS)\n")
            << name;
        EXPECT_LT(r.seconds, 30.0) << name;
        EXPECT_TRUE(scratchEmpty()) << name;
    }
}

// The header claims two billion vertices: the reader's allocation fails at the memory bound
// instead of paging the machine.
TEST_F(ModelViews, PlyClaimingTwoBillionVerticesIsRefusedAtTheMemoryBound) {
#ifdef RAYDECK_SANITIZED
    GTEST_SKIP() << "no memory bound beside the sanitizers' reservations";
#endif
    const std::string model = (kData / "huge-vertex-count.ply").string();
    const ProgramRun r =
        host({"export", model, "-o", "scene.rdk"}, {"RAYDECK_IMPORT_MEMORY_MIB=1024"});
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_EQ(r.err, model +
                         ": cannot read the model: it needs more than the 1024 MiB the import "
                         "may use (RAYDECK_IMPORT_MEMORY_MIB)\n");
    EXPECT_TRUE(scratchEmpty());
}

TEST_F(ModelViews, ObjWithATwoIndexFaceLineExportsTheRestWithAWarning) {
    const std::string model = write("line.obj",
                                    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                                    "f 1 2 3 4\nf 1 2\nf 2 3 4\n");
    const ProgramRun r = host({"export", model, "-o", "scene.rdk"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("raydeck-host: line.obj: skipped 1 line\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(", 3 triangles,"), std::string::npos) << r.err;  // the quad is two
    EXPECT_TRUE(scratchEmpty());
}
