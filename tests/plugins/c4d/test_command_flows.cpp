// The command flows: save dialog, scene names, import options per command, selectionOnly per
// command, teardown, and failures reported on the host console.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "plugins/c4d/CommandFlows.h"
#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/RaydeckCinema4DPlugin.h"
#include "plugins/c4d/host/HostContext.h"
#include "tests/importers/sceneapi/RecordingApi.h"
#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"
#include "tools/host/SimDocument.h"
#include "tools/host/SimHost.h"

namespace fs = std::filesystem;
using raydeck::c4d::LiveCommand;
using raydeck::c4d::PluginContext;

namespace {

// A live factory that "connects" to a recording back end and remembers how it was configured.
class FakeLinkFactory : public trv::RepeatLinkFactory {
  public:
    // Disconnects like the renderer would, or fails like a broken stream.
    struct Backend : RecordingApi {
        bool streamBreaks = false;
        bool disconnect() override { return RecordingApi::disconnect() && !streamBreaks; }
    } api;
    bool reachable = true;
    bool holdsScene = false;
    trv::link::LinkState seen;  // the configuration at connect time

  protected:
    bool connect() override {
        seen = link_;
        if (!reachable) {
            link_.lastError = "No renderer here.\n";
            return false;
        }
        link_.backend = &api;
        link_.sceneFound = holdsScene;
        return true;
    }
};

class CommandFlows : public ::testing::Test {
  protected:
    void load(const std::string& fileName) {
        std::string error;
        doc_ = raydeck::hostsim::loadDocumentText(
            R"({"format": "raydeck-host-document", "version": 1,
                "objects": [{"name": "Cube", "type": 5140}]})",
            fileName, dir_.path(), error);
        ASSERT_TRUE(doc_) << error;
        host_.setActiveDocument(doc_.get());
    }
    void SetUp() override {
        // The real live link must fail fast here: no installation to find.
        setenv("RAYDECK_REGISTRY", (dir_.path() + "/no-registry.reg").c_str(), 1);
        raydeck::host::setHostInterface(host_.table());
        load("scene.c4d");
    }
    void TearDown() override { raydeck::host::setHostInterface(nullptr); }
    raydeck::host::BaseDocument doc() const {
        return raydeck::host::BaseDocument(host_.documentHandle());
    }
    // The "attribute <name> <type> <value>" lines of the load block.
    static std::vector<std::string> optionLines(const RecordingApi& api) {
        std::vector<std::string> out;
        bool inLoad = false;
        for (const std::string& c : api.calls) {
            if (c.rfind("beginLoad", 0) == 0) {
                inLoad = true;
            } else if (c == "endLoad") {
                break;
            } else if (inLoad && c.rfind("attribute ", 0) == 0) {
                out.push_back(c);
            }
        }
        return out;
    }
    static std::string adjustOptions(const RecordingApi& api) {
        std::string out;
        for (const std::string& c : optionLines(api)) {
            if (c.find("import_adjust_") != std::string::npos) {
                out += c.substr(c.find("import_adjust_")) + ";";
            }
        }
        return out;
    }

    TempDir dir_;
    raydeck::hostsim::SimHost host_;
    std::unique_ptr<raydeck::hostsim::SimDocument> doc_;
    PluginContext context_;
};

}  // namespace

TEST_F(CommandFlows, ExportCancelledCreatesNothingAndKeepsSelectionOnly) {
    context_.selectionOnly = true;
    host_.setSaveDialogAnswer(std::nullopt);
    EXPECT_FALSE(raydeck::c4d::exportFlow(context_, doc()));
    EXPECT_TRUE(context_.selectionOnly);
    EXPECT_TRUE(fs::is_empty(dir_.path()));
    EXPECT_TRUE(host_.consoleLines().empty());

    ASSERT_EQ(host_.dialogCalls().size(), 1u);
    const auto& call = host_.dialogCalls()[0];
    EXPECT_EQ(call.type, 0);
    EXPECT_EQ(call.mode, 1);
    EXPECT_EQ(call.title, "Export to .rdk");
    EXPECT_EQ(call.forcedSuffix, "rdk");
    EXPECT_NE(call.initialName.find("%USERDATA%"), std::string::npos) << call.initialName;
    EXPECT_NE(call.initialName.find("untitled.rdk"), std::string::npos) << call.initialName;
}

TEST_F(CommandFlows, ExportWritesHeaderBannerVersionAndElevenOptionsFirst) {
    const std::string out = dir_.path() + "/out.rdk";
    host_.setSaveDialogAnswer(out);
    context_.selectionOnly = true;
    EXPECT_TRUE(raydeck::c4d::exportFlow(context_, doc()));
    EXPECT_FALSE(context_.selectionOnly);
    EXPECT_EQ(context_.builder, nullptr);
    EXPECT_TRUE(host_.consoleLines().empty());

    const std::string text = readFile(out);
    const std::string expectedStart =
        "//---tarvik:dal:7---\n//---import:dal:1---\n//---id:1---\n"
        "// This is a Raydeck scene file\n\n#print ";
    ASSERT_EQ(text.substr(0, expectedStart.size()), expectedStart);
    const std::string options =
        "version 8\n\nload \"trvrtopt.so\" {\n"
        "\"import_mode\" on,\n\"import_merge_groups\" off,\n\"import_merge_objects\" off,\n"
        "\"import_up_vector\" 1,\n\"meter_scale\" 100,\n\"import_keep_original\" on,\n"
        "\"import_center_geometry\" off,\n\"import_snap_to_ground\" off,\n"
        "\"import_adjust_camera\" on,\n\"import_adjust_environment\" on,\n\"ext\" off,\n}\n";
    const size_t version = text.find("version 8");
    ASSERT_NE(version, std::string::npos);
    EXPECT_EQ(text.substr(version, options.size()), options);
    // Then the document: its root group, named after the file.
    EXPECT_NE(text.find("group \"scene\" {", version + options.size()), std::string::npos);
}

TEST_F(CommandFlows, ExportIntoMissingFolderIsReportedOnTheConsole) {
    const std::string out = dir_.path() + "/missing/out.rdk";
    host_.setSaveDialogAnswer(out);
    raydeck::c4d::RaydeckCinema4DExport command(&context_);
    EXPECT_TRUE(command.execute(doc()));
    EXPECT_EQ(context_.builder, nullptr);
    ASSERT_EQ(host_.consoleLines().size(), 1u);
    // The one line the host shows names the file and the reason.
    EXPECT_EQ(host_.consoleLines()[0],
              "Raydeck Export: could not open file: \"" + out + "\": No such file or directory");
}

TEST_F(CommandFlows, ExportToAFullDeviceReportsTheFailedClose) {
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    host_.setSaveDialogAnswer(std::string("/dev/full"));
    raydeck::c4d::RaydeckCinema4DExport command(&context_);
    EXPECT_TRUE(command.execute(doc()));
    EXPECT_EQ(context_.builder, nullptr);
    ASSERT_EQ(host_.consoleLines().size(), 1u);
    EXPECT_EQ(host_.consoleLines()[0],
              "Raydeck Export: could not close file: \"/dev/full\": No space left on device");
}

// Render asks any version 7 to 8 renderer for the whole document and adjusts its camera and
// environment; Update asks for the renderer that holds this document's scene, sends the selection
// only, and adjusts only when that scene was found. The root group carries the document's name.
TEST_F(CommandFlows, LiveCommandsAskForTheirRendererAndSetSelectionAndAdjustments) {
    struct Case {
        const char* name;
        LiveCommand command;
        bool holdsScene;
        const char* sceneName;  // what the link looks for
        bool selectionOnly;
        const char* adjust;
    };
    load("car.blue.c4d");
    for (const Case& c :
         {Case{"render", LiveCommand::Render, false, "", false, "1"},
          Case{"update, found", LiveCommand::Update, true, "car.blue", true, "1"},
          Case{"update, not found", LiveCommand::Update, false, "car.blue", true, "0"}}) {
        SCOPED_TRACE(c.name);
        context_.selectionOnly = !c.selectionOnly;
        FakeLinkFactory factory;
        factory.holdsScene = c.holdsScene;
        EXPECT_TRUE(raydeck::c4d::liveFlow(context_, doc(), c.command, factory));
        EXPECT_EQ(factory.seen.sceneName, c.sceneName);
        EXPECT_EQ(factory.seen.acceptAnyInstance, c.command == LiveCommand::Update);
        EXPECT_EQ(factory.seen.minVersion, 7);
        EXPECT_EQ(factory.seen.maxVersion, 8);
        EXPECT_EQ(context_.selectionOnly, c.selectionOnly);
        EXPECT_EQ(context_.builder, nullptr);
        EXPECT_EQ(factory.api.disconnects, 1);  // the factory was closed after the builder
        EXPECT_EQ(optionLines(factory.api).size(), 11u);
        EXPECT_EQ(adjustOptions(factory.api), std::string("import_adjust_camera bool ") + c.adjust +
                                                  ";import_adjust_environment bool " + c.adjust +
                                                  ";");
        EXPECT_TRUE(factory.api.called("beginGroup car.blue plain"));
    }
}

TEST_F(CommandFlows, UpdateSceneNameOfDotFileAndUnsavedDocument) {
    const std::pair<const char*, const char*> cases[] = {
        {".c4d", ""}, {"", "untitled"}, {"plain", "plain"}};
    for (const auto& [file, expected] : cases) {
        SCOPED_TRACE(file);
        load(file);
        FakeLinkFactory factory;
        raydeck::c4d::liveFlow(context_, doc(), LiveCommand::Update, factory);
        EXPECT_EQ(factory.seen.sceneName, expected);
    }
}

TEST_F(CommandFlows, UnreachableRendererConvertsNothingAndReportsTheReason) {
    FakeLinkFactory factory;
    factory.reachable = false;
    EXPECT_TRUE(raydeck::c4d::liveFlow(context_, doc(), LiveCommand::Update, factory));
    EXPECT_TRUE(factory.api.calls.empty());
    EXPECT_EQ(context_.builder, nullptr);
    ASSERT_EQ(host_.consoleLines().size(), 1u);
    EXPECT_EQ(host_.consoleLines()[0], "Raydeck Update: Failed to connect. No renderer here.");
}

TEST_F(CommandFlows, StreamThatBreaksBeforeTheEndIsReportedAfterClosing) {
    for (LiveCommand command : {LiveCommand::Render, LiveCommand::Update}) {
        host_.clearConsole();
        FakeLinkFactory factory;
        factory.api.streamBreaks = true;
        EXPECT_TRUE(raydeck::c4d::liveFlow(context_, doc(), command, factory));
        EXPECT_EQ(factory.api.disconnects, 1);
        ASSERT_EQ(host_.consoleLines().size(), 1u);
        EXPECT_EQ(
            host_.consoleLines()[0],
            std::string(command == LiveCommand::Render ? "Raydeck Render" : "Raydeck Update") +
                ": The connection to the renderer was lost; the scene did not arrive whole.");
    }
    // A clean end and a failed connection are not reported as a lost scene.
    host_.clearConsole();
    FakeLinkFactory clean;
    raydeck::c4d::liveFlow(context_, doc(), LiveCommand::Render, clean);
    EXPECT_TRUE(host_.consoleLines().empty());
    FakeLinkFactory unreachable;
    unreachable.reachable = false;
    raydeck::c4d::liveFlow(context_, doc(), LiveCommand::Render, unreachable);
    EXPECT_EQ(host_.consoleLines().size(), 1u);
}
