// raydeck-host with the real plug-in file: Export to a file and to standard output, Render and
// Update without a renderer, Export into a missing folder.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/FileText.h"
#include "tests/support/Golden.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"

namespace {

class PluginEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir_.path().empty());
        doc_ = dir_.path() + "/scene.json";
        std::ofstream(doc_) << R"({"format": "raydeck-host-document", "version": 1,
            "objects": [{"name": "Cube", "type": 5159, "cache": {"name": "Cube", "type": 5100,
              "points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]], "polygons": [[0,1,2,3]]}}]})";
    }

    // Runs raydeck-host with the build's plug-in; no installation is found (empty registry).
    ProgramRun host(const std::vector<std::string>& args) {
        RunOptions options;
        options.workingFolder = dir_.path();
        options.replaceEnvironment = true;
        options.environment = {"RAYDECK_REGISTRY=" + dir_.path() + "/none.reg",
                               "RAYDECK_RUNTIME_DIR=" + dir_.path() + "/run"};
        std::vector<std::string> argv = {"--plugin", RAYDECK_PLUGIN_FILE};
        argv.insert(argv.end(), args.begin(), args.end());
        const ProgramRun run = runProgram(RAYDECK_HOST_EXE, std::move(argv), options);
        EXPECT_TRUE(run.started);
        return run;
    }

    TempDir dir_;
    std::string doc_;
};

const char kHeader[] =
    "//---tarvik:dal:7---\n//---import:dal:1---\n//---id:1---\n// This is a Raydeck scene file\n";

}  // namespace

TEST_F(PluginEndToEnd, ExportToFileAndToStandardOutputWriteTheSameScene) {
    const std::string file = dir_.path() + "/out.rdk";
    ProgramRun toFile = host({"export", doc_, "-o", file});
    EXPECT_EQ(toFile.code, 0) << toFile.err;
    const std::string scene = readFile(file);
    EXPECT_EQ(scene.rfind(kHeader, 0), 0u);
    EXPECT_NE(scene.find("load \"trvrtopt.so\" {"), std::string::npos);
    EXPECT_NE(scene.find("group \"scene\" {"), std::string::npos);
    EXPECT_NE(scene.find("object \"Cube\" {"), std::string::npos);

    ProgramRun toStdout = host({"export", doc_, "-o", "-"});
    EXPECT_EQ(toStdout.code, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, scene);
}

TEST_F(PluginEndToEnd, RenderAndUpdateWithoutRendererFailWithTheLinksReason) {
    for (const char* command : {"render", "update"}) {
        SCOPED_TRACE(command);
        ProgramRun r = host({command, doc_});
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find("Failed to connect."), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(PluginEndToEnd, ExportIntoMissingFolderFailsWithTheOpenError) {
    const std::string file = dir_.path() + "/missing/out.rdk";
    ProgramRun r = host({"export", doc_, "-o", file});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("could not open file: \"" + file + "\""), std::string::npos) << r.err;
}

// The sample document's whole export, byte for byte: the converters' own tests check properties
// of what they write, this file pins all of it. Its textures are not beside the copy, so their
// names stay as the document gives them and the file does not depend on the test's folder.
TEST_F(PluginEndToEnd, SampleDocumentExportsAsTheGoldenScene) {
    const std::string doc = dir_.path() + "/workshop.json";
    std::ofstream(doc, std::ios::binary) << readFile(RAYDECK_SOURCE_DIR "/examples/workshop.json");
    const ProgramRun r = host({"export", doc, "-o", "-"});
    ASSERT_EQ(r.code, 0) << r.err;
    compareWithGolden(r.out, "c4d/workshop.rdk");
}
