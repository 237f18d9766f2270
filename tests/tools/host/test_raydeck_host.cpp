// raydeck-host end to end, as a subprocess in a temporary folder of its own, with the tiny test
// plug-in: bad documents, the command list, export to a file and to standard output, failures
// the plug-in reports, and usage errors.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "tests/support/DeepDocument.h"
#include "tests/support/FileText.h"
#include "tests/support/RunProgram.h"
#include "tests/support/TempDir.h"
#include "tools/host/DocumentLimits.h"

namespace fs = std::filesystem;

namespace {

class RaydeckHost : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_FALSE(tmp_.path().empty()); }

    fs::path dir() const { return fs::u8path(tmp_.path()); }

    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir() / name, std::ios::binary) << text;
    }

    // Runs raydeck-host with the test plug-in in the temporary folder and waits for it; a
    // non-zero stackBytes limits the main thread's stack as `ulimit -s` would; subfolder (of the
    // temporary folder) is the working folder.
    ProgramRun host(std::vector<std::string> args, bool withPlugin = true, rlim_t stackBytes = 0,
                    const std::string& subfolder = "") {
        if (withPlugin) {
            args.insert(args.begin(), {"--plugin", RAYDECK_TEST_PLUGIN});
        }
        RunOptions options;
        options.workingFolder = (dir() / subfolder).string();
        options.outputFolder = dir().string();
        options.stackBytes = stackBytes;
        const ProgramRun run = runProgram(RAYDECK_HOST_EXE, std::move(args), options);
        EXPECT_TRUE(run.started);
        return run;
    }

    TempDir tmp_;
};

const char* const kDoc = R"({"format": "raydeck-host-document", "version": 1,
    "objects": [{"name": "Root", "type": 5140, "children": [
        {"name": "Quad", "type": 5100, "points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]],
         "polygons": [[0,1,2,3]]}]}]})";

}  // namespace

TEST_F(RaydeckHost, BadDocumentsAreReportedWithFileAndPathAndNothingRuns) {
    struct Case {
        std::string text, message;
    };
    const std::vector<Case> cases = {
        {"{\"format\": ", "doc.json: not JSON: "},
        {R"({"format": "scene", "version": 1})",
         "doc.json: /format: expected \"raydeck-host-document\""},
        {R"({"format": "raydeck-host-document", "version": 3})",
         "doc.json: /version: unsupported version 3; expected 1"},
        {R"({"format": "raydeck-host-document", "version": 1,
             "objects": [{"tags": [{"type": 5616, "material": "M9"}]}]})",
         "doc.json: /objects/0/tags/0/material: link to unknown id \"M9\""},
        {R"({"format": "raydeck-host-document", "version": 1, "objects": [{"points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]],
             "polygons": [[0,1,2,3],[0,1,2,3],[0,1,2,3],[0,1,9,3]]}]})",
         "doc.json: /objects/0/polygons/3/2: index 9 out of range of 4 points"},
        {R"({"format": "raydeck-host-document", "version": 1, "objects": [{"name": 5}]})",
         "doc.json: /objects/0/name: expected a string"},
    };
    for (const Case& c : cases) {
        write("doc.json", c.text);
        ProgramRun r = host({"export", "doc.json", "-o", "out.rdk"});
        EXPECT_EQ(r.code, 2) << c.text;
        EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
        EXPECT_FALSE(fs::exists(dir() / "out.rdk"));
    }
    ProgramRun missing = host({"render", "nowhere.json"});
    EXPECT_EQ(missing.code, 2);
    EXPECT_EQ(missing.err, "nowhere.json: cannot open the document file: " +
                               std::error_code(ENOENT, std::generic_category()).message() + "\n");
}

// A folder or an empty file used to reach Assimp, which answered "No suitable reader found".
TEST_F(RaydeckHost, FolderAndEmptyDocumentsAreRefusedWithTheirReason) {
    fs::create_directory(dir() / "scenes");
    write("empty.obj", "");
    ProgramRun folder = host({"export", "scenes", "-o", "out.rdk"});
    EXPECT_EQ(folder.code, 2);
    EXPECT_EQ(folder.err, "scenes: is a folder, not a document file\n");
    ProgramRun empty = host({"export", "empty.obj", "-o", "out.rdk"});
    EXPECT_EQ(empty.code, 2);
    EXPECT_EQ(empty.err, "empty.obj: the document file is empty\n");
    EXPECT_FALSE(fs::exists(dir() / "out.rdk"));
}

TEST_F(RaydeckHost, CommandsListsIdsNamesHelpTextsAndIcons) {
    ProgramRun r = host({"commands"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out,
              "1033591\tRender\tRender in Raydeck\trender.png\n"
              "1034393\tUpdate\tUpdate Raydeck scene\t(no icon)\n"
              "1034420\tExport\tExport to .rdk\texport.png\n");
}

TEST_F(RaydeckHost, ExportAnswersTheSaveDialogWithAFileOrStandardOutput) {
    write("car.json", kDoc);
    const std::string listing =
        "document car.json\n"
        "object Root type 5140 id 1 points 0\n"
        "  object Quad type 5100 id 2 points 4\n";
    ProgramRun toFile = host({"export", "car.json", "-o", "car.rdk"});
    EXPECT_EQ(toFile.code, 0) << toFile.err;
    EXPECT_EQ(readFile(dir() / "car.rdk"), listing);
    EXPECT_EQ(toFile.out, "");

    ProgramRun toStdout = host({"export", "car.json", "--output=-"});
    EXPECT_EQ(toStdout.code, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out, listing);
    // The test plug-in's listing holds none of a scene's blocks.
    EXPECT_EQ(toStdout.err.rfind("raydeck-host: exported to standard output: 92 bytes, 0 objects, "
                                 "0 triangles, 0 materials, 0 cameras, 0 lights in ",
                                 0),
              0u)
        << toStdout.err;
}

TEST_F(RaydeckHost, PluginFailuresAndCancelledDialogsExitWithOne) {
    write("car.json", kDoc);
    ProgramRun noFolder = host({"export", "car.json", "-o", "missing/car.rdk"});
    EXPECT_EQ(noFolder.code, 1);
    EXPECT_EQ(noFolder.err,
              "could not open file: \"missing/car.rdk\"\n"
              "raydeck-host: missing/car.rdk: the folder missing does not exist\n");

    ProgramRun cancelled = host({"export", "car.json", "--cancel"});
    EXPECT_EQ(cancelled.code, 1);
    EXPECT_NE(cancelled.err.find("cancelled"), std::string::npos);

    ProgramRun render = host({"render", "car.json"});
    EXPECT_EQ(render.code, 1);
    EXPECT_EQ(render.err.rfind("Raydeck: no renderer could be reached\nraydeck-host: no Raydeck 7 "
                               "to 8 installation",
                               0),
              0u)
        << render.err;

    ProgramRun update = host({"update", "car.json"});
    EXPECT_EQ(update.code, 0) << update.err;
}

TEST_F(RaydeckHost, BadUsageIsOneLineThatSaysWhatIsWrongAndExitsWithTwo) {
    write("car.json", kDoc);
    struct Case {
        std::vector<std::string> args;
        std::string what;
    };
    const std::vector<Case> cases = {
        {{}, "no command given"},
        {{"paint", "car.json"}, "unknown command paint"},
        {{"export"}, "DOCUMENT is required"},
        {{"export", "car.json"}, "export needs -o OUT"},
        {{"export", "car.json", "-o", "x", "--cancel"}, "excludes"},
        {{"render", "car.json", "-o", "x"}, "not expected"},
        {{"commands", "--bogus"}, "not expected: --bogus"},
    };
    for (const Case& c : cases) {
        ProgramRun r = host(c.args);
        EXPECT_EQ(r.code, 2) << c.what;
        EXPECT_EQ(r.err.rfind("raydeck-host: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.what), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("raydeck-host --help"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(host({"--plugin"}, false).code, 2);
    ProgramRun noPlugin = host({"--plugin", "none.cdl64", "commands"}, false);
    EXPECT_EQ(noPlugin.code, 2);
    EXPECT_NE(noPlugin.err.find("none.cdl64: cannot load the plug-in"), std::string::npos);
}

TEST_F(RaydeckHost, HelpAndVersionPrintOnStandardOutputAndExitWithZero) {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--help"}, {"-h"}, {"export", "--help"}}) {
        ProgramRun help = host(args);
        EXPECT_EQ(help.code, 0);
        EXPECT_NE(help.out.find("Usage: raydeck-host"), std::string::npos) << help.out;
        EXPECT_EQ(help.err, "");
    }
    ProgramRun version = host({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "raydeck-host " RAYDECK_VERSION "\n");
    // The plug-in option in either spelling, also after the command.
    write("car.json", kDoc);
    ProgramRun late =
        host({"export", "car.json", "-o", "car.rdk", "--plugin=" RAYDECK_TEST_PLUGIN}, false);
    EXPECT_EQ(late.code, 0) << late.err;
    EXPECT_TRUE(fs::exists(dir() / "car.rdk"));
}

// The documents' mapping used to be repeated in every command's help; the live commands did not
// say how the renderer is found.
TEST_F(RaydeckHost, SharedHelpOnceAndLiveCommandsNameTheirSettings) {
    const std::string mapping = "node transform";
    EXPECT_NE(host({"--help"}).out.find(mapping), std::string::npos);
    for (const char* command : {"commands", "export", "render", "update"}) {
        SCOPED_TRACE(command);
        const ProgramRun help = host({command, "--help"});
        EXPECT_EQ(help.code, 0);
        EXPECT_EQ(help.out.find(mapping), std::string::npos) << help.out;
        const bool live = std::string(command) == "render" || std::string(command) == "update";
        for (const char* setting : {"RAYDECK_REGISTRY", "RAYDECK_RUNTIME_DIR"}) {
            EXPECT_EQ(help.out.find(setting) != std::string::npos, live) << setting;
        }
    }
}

TEST_F(RaydeckHost, RealPluginRegistersItsCommandsAndExportsTheSample) {
    ProgramRun commands = host({"commands"}, /*withPlugin=*/false);
    ASSERT_EQ(commands.code, 0) << commands.err;
    EXPECT_EQ(commands.out,
              "1033591\tRender\tRender in Raydeck\trender.png\n"
              "1034393\tUpdate\tUpdate Raydeck scene\tupdate.png\n"
              "1034420\tExport\tExport to .rdk\texport.png\n");

    const std::string sample = RAYDECK_SOURCE_DIR "/examples/workshop.json";
    ProgramRun toStdout = host({"export", sample, "-o", "-"}, false);
    EXPECT_EQ(toStdout.code, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out.rfind("//---tarvik:dal:7---", 0), 0u);
    // The summary counts what went out, to standard output as to a file.
    const std::regex summary(
        "raydeck-host: exported (to standard output|workshop\\.rdk): [0-9.]+ KiB, 7 objects, "
        "32 triangles, 7 materials, 1 camera, 2 lights in [0-9]+\\.[0-9]{2} s "
        "\\(document loaded in [0-9]+\\.[0-9]{2} s\\)\n");
    EXPECT_TRUE(std::regex_match(toStdout.err, summary)) << toStdout.err;
    ProgramRun toFile = host({"export", sample, "-o", "workshop.rdk"}, false);
    EXPECT_EQ(toFile.code, 0) << toFile.err;
    EXPECT_TRUE(std::regex_match(toFile.err, summary)) << toFile.err;

    ProgramRun noFolder = host({"export", sample, "-o", "missing/workshop.rdk"}, false);
    EXPECT_EQ(noFolder.code, 1);
    EXPECT_NE(noFolder.err.find("missing/workshop.rdk"), std::string::npos) << noFolder.err;
    EXPECT_FALSE(fs::exists(dir() / "missing"));
}

// Regression: 1e308 in a document exported "inf", which no reader takes for a number. The
// export now writes the largest float in its place, succeeds, and says on the console how many
// values it clamped and where the first was.
TEST_F(RaydeckHost, NumbersBeyondTheFloatRangeAreClampedAndCounted) {
    write("far.json", R"({"format": "raydeck-host-document", "version": 1, "objects": [
        {"name": "Far", "type": 5100, "points": [[0,0,0],[1e308,0,0],[0,-1e308,0]],
         "polygons": [[0,1,2,2]]}]})");
    ProgramRun r = host({"export", "far.json", "-o", "far.rdk"}, /*withPlugin=*/false);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(
        r.err.find("Raydeck warning: Export: 2 values without a finite form (infinity, NaN, or "
                   "beyond the float range) written as the nearest finite value, the "
                   "first in \"vertices\"\n"),
        std::string::npos)
        << r.err;
    const std::string scene = readFile(dir() / "far.rdk");
    EXPECT_EQ(scene.find("inf"), std::string::npos);
    const float largest = std::numeric_limits<float>::max();
    EXPECT_NE(scene.find(std::string(reinterpret_cast<const char*>(&largest), 4)),
              std::string::npos);

    write("near.json", kDoc);
    ProgramRun plain = host({"export", "near.json", "-o", "near.rdk"}, false);
    ASSERT_EQ(plain.code, 0) << plain.err;
    EXPECT_EQ(plain.err.find("Raydeck warning:"), std::string::npos) << plain.err;
}

TEST_F(RaydeckHost, ThousandLevelHierarchyExportsOnAOneMebibyteStack) {
    constexpr int kDepth = 1000;
    write("deep.json", R"({"format": "raydeck-host-document", "version": 1, "objects": [)" +
                           nestedInNulls(kDepth - 1, R"({"name": "L", "type": 5140})", "L") + "]}");

    ProgramRun r = host({"export", "deep.json", "-o", "deep.rdk"}, /*withPlugin=*/false,
                        kThousandLevelStackBytes);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string scene = readFile(dir() / "deep.rdk");
    size_t groups = 0;
    for (size_t at = scene.find("\ngroup "); at != std::string::npos;
         at = scene.find("\ngroup ", at + 1)) {
        ++groups;
    }
    EXPECT_EQ(groups, size_t(kDepth) + 1);  // the root group and one per level
}

// Regression: an export to a FIFO blocked forever, because the summary opened the target again
// to read it back; "-o /dev/stdout" onto a pipe failed likewise.
TEST_F(RaydeckHost, ExportsToAFifoAndOntoAPipeAreNotReadBack) {
    const std::string sample = RAYDECK_SOURCE_DIR "/examples/workshop.json";
    const fs::path fifo = dir() / "scene.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = readFile(fifo); });
    RunOptions options;
    options.workingFolder = dir().string();
    options.timeoutSeconds = 60;
    const ProgramRun r =
        runProgram(RAYDECK_HOST_EXE, {"export", sample, "-o", fifo.string()}, options);
    // Should the host never have opened the FIFO, opening it here lets the reader go.
    const int unblock = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (unblock >= 0) {
        close(unblock);
    }
    reader.join();
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(received.rfind("//---tarvik:dal:7---", 0), 0u);
    EXPECT_TRUE(std::regex_match(
        r.err, std::regex("raydeck-host: exported .*scene\\.fifo in [0-9.]+ s \\(document loaded "
                          "in [0-9.]+ s\\) \\(not a regular file: not read back\\)\n")))
        << r.err;

    RunOptions piped = options;
    piped.stdoutPipeBytes = 1 << 20;
    const ProgramRun p =
        runProgram(RAYDECK_HOST_EXE, {"export", sample, "-o", "/dev/stdout"}, piped);
    EXPECT_FALSE(p.timedOut);
    EXPECT_EQ(p.code, 0) << p.err;
    EXPECT_EQ(p.out, received);
}

// Regression: exporting 1,001 nested objects succeeded on a 1 MiB stack, and then raydeck-host died
// reading the scene back for its summary; rdk-inspect's check and summary of it died too.
TEST_F(RaydeckHost, DeepExportIsSummarisedAndInspectedOnAOneMebibyteStack) {
    constexpr int kDepth = 1001;
    write("deep.json", R"({"format": "raydeck-host-document", "version": 1, "objects": [)" +
                           nestedInNulls(kDepth - 1, R"({"name": "L", "type": 5140})", "L") + "]}");
    ProgramRun r = host({"export", "deep.json", "-o", "deep.rdk"}, /*withPlugin=*/false,
                        kThousandLevelStackBytes);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("raydeck-host: exported deep.rdk: ", 0), 0u) << r.err;
    RunOptions options;
    options.outputFolder = dir().string();
    options.stackBytes = kThousandLevelStackBytes;
    for (const char* command : {"check", "summary"}) {
        const ProgramRun inspect =
            runProgram(RAYDECK_INSPECT_EXE, {command, (dir() / "deep.rdk").string()}, options);
        EXPECT_EQ(inspect.code, 0) << command << ": " << inspect.err;
    }
}

// Regression: a number too large for a double ended raydeck-host with SIGABRT and no message.
TEST_F(RaydeckHost, NumberTooLargeForADoubleExitsTwoWithFileAndPath) {
    write("doc.json", R"({"format": "raydeck-host-document", "version": 1, "time": 1e999})");
    ProgramRun r = host({"export", "doc.json", "-o", "out.rdk"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err.rfind("doc.json: /time: number out of range of a double", 0), 0u) << r.err;
    EXPECT_FALSE(fs::exists(dir() / "out.rdk"));
}

// Regression: the export of a document with 1,000 nested children was refused by rdk-inspect
// ("nested deeper than 1000 levels"); a document nested past the loader's limit is refused
// quickly with exit 2 instead of exhausting memory.
TEST_F(RaydeckHost, DeepestLoadableDocumentExportsAndPassesRdkInspectCheck) {
    auto nested = [](int depth) {
        // The deepest level opens the most blocks of its own: a textured polygon object.
        const std::string objects = nestedInNulls(
            depth - 1,
            R"({"name": "Quad", "type": 5100, "points": [[0,0,0],[1,0,0],[1,1,0],[0,1,0]],
            "polygons": [[0,1,2,3]], "tags": [{"type": 5616, "material": "M"}]})");
        return R"({"format": "raydeck-host-document", "version": 1, "materials": [{"id": "M",
            "type": 5703, "channels": [0], "params": {"8000": {"link": "S"}},
            "shaders": [{"id": "S", "type": 5833, "params": {"1000": "wood.png"}}]}],
            "objects": [)" +
               objects + "]}";
    };
    write("deep.json", nested(raydeck::hostsim::kMaxObjectDepth));
    ProgramRun r = host({"export", "deep.json", "-o", "deep.rdk"}, /*withPlugin=*/false);
    ASSERT_EQ(r.code, 0) << r.err;
    RunOptions options;
    options.outputFolder = dir().string();
    EXPECT_EQ(
        runProgram(RAYDECK_INSPECT_EXE, {"check", (dir() / "deep.rdk").string()}, options).code, 0);

    write("deeper.json", nested(100000));
    ProgramRun refused = host({"export", "deeper.json", "-o", "deeper.rdk"}, /*withPlugin=*/false);
    EXPECT_EQ(refused.code, 2);
    EXPECT_NE(refused.err.find("objects nested deeper than"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(dir() / "deeper.rdk"));
}

namespace {

// A textured quad in Wood and a triangle in Steel, with a texture beside the model.
const char* const kModelMtl =
    "newmtl Wood\nKd 0.8 0.5 0.2\nmap_Kd wood.png\n"
    "newmtl Steel\nKd 0.3 0.3 0.35\nKs 0.5 0.5 0.5\n";
const char* const kModelObj = R"(mtllib shop.mtl
v 0 0 0
v 1 0 0
v 1 1 0
v 0 1 0
vt 0 0
vt 1 0
vt 1 1
vt 0 1
o Bench
usemtl Wood
f 1/1 2/2 3/3 4/4
usemtl Steel
f 1/1 2/2 4/4
l 1 3
)";

}  // namespace

TEST_F(RaydeckHost, ModelFilesAreHostDocumentsWithWarningsForWhatTheyCannotHold) {
    write("shop.mtl", kModelMtl);
    write("shop.obj", kModelObj);
    ProgramRun r = host({"export", "shop.obj", "-o", "-"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.rfind("raydeck-host: shop.obj: skipped 1 line\n"
                          "raydeck-host: exported to standard output: ",
                          0),
              0u)
        << r.err;
    EXPECT_EQ(r.out,
              "document shop.obj\n"
              "object shop.obj type 5140 id 1 points 0\n"
              "  object Bench type 5100 id 2 points 8\n");  // each material's mesh its own points

    write("junk.obj", "no model at all\n");
    ProgramRun junk = host({"export", "junk.obj", "-o", "out.rdk"});
    EXPECT_EQ(junk.code, 2);
    EXPECT_EQ(junk.err.rfind("junk.obj: cannot read the model: ", 0), 0u) << junk.err;
    EXPECT_FALSE(fs::exists(dir() / "out.rdk"));
}

TEST_F(RaydeckHost, RealPluginExportsAModelFileWithItsMaterialsAndTextureBesideIt) {
    write("shop.mtl", kModelMtl);
    write("shop.obj", kModelObj);
    // Run from elsewhere, so that only the document's folder finds the texture.
    fs::create_directory(dir() / "run");
    write("wood.png", "not really a picture");
    ProgramRun r =
        host({"export", "../shop.obj", "-o", "shop.rdk"}, /*withPlugin=*/false, 0, "run");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string scene = readFile(dir() / "run" / "shop.rdk");
    EXPECT_EQ(scene.rfind("//---tarvik:dal:7---", 0), 0u);
    // Both materials as pieces of one object; the texture found beside the model.
    EXPECT_NE(scene.find("\"Wood\""), std::string::npos);
    EXPECT_NE(scene.find("\"Steel\""), std::string::npos);
    EXPECT_EQ(scene.find("Display color"), std::string::npos);
    EXPECT_NE(scene.find("texture2_rgb"), std::string::npos);
    EXPECT_NE(scene.find("\"" + dir().string() + "\\wood.png\""), std::string::npos);
    EXPECT_NE(scene.find("uv_tex"), std::string::npos);
}
