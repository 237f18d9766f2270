// The streaming reader behind the check and the summary: the same answers whatever the size of
// the reads that feed it, no recursion (a deep scene within a 1 MiB stack), bounded statements,
// control bytes refused, and the summary's texture table.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

#include "RdkTestSupport.h"
#include "platform/thread.h"
#include "tests/support/FileText.h"
#include "tests/support/TempDir.h"
#include "tools/host/DocumentLimits.h"
#include "tools/rdk/RdkCheck.h"
#include "tools/rdk/RdkCommands.h"
#include "tools/rdk/RdkStream.h"
#include "tools/rdk/RdkSummary.h"

namespace {

// Hands out at most `step` bytes per read, so that every token and packed element of a text
// crosses a window edge somewhere.
class TrickleSource : public rdk::ByteSource {
  public:
    TrickleSource(std::string_view text, size_t step) : text_(text), step_(step) {}
    size_t read(char* buffer, size_t size) override {
        const size_t n = std::min({size, step_, text_.size()});
        std::copy(text_.begin(), text_.begin() + static_cast<std::ptrdiff_t>(n), buffer);
        text_.remove_prefix(n);
        step_ = step_ % 7 + 1;  // 1..7 bytes, varying
        return n;
    }

  private:
    std::string_view text_;
    size_t step_;
};

std::string faultText(const rdk::CheckResult& r) {
    std::ostringstream out;
    for (const rdk::Fault& f : r.faults) {
        out << f.offset << ": " << f.message << "\n";
    }
    return out.str();
}

std::string summaryText(const rdk::Summary& s) {
    std::ostringstream out;
    out << s.groups << " " << s.objects << " " << s.meshes << " " << s.triangles << " "
        << s.vertices << " " << s.materials << " " << s.cameras.size() << " " << s.animations.size()
        << " " << s.animationSamples << " " << s.lights.size() << " " << s.curveObjects << " "
        << s.curves << " " << s.curvePoints << " textures";
    for (const rdk::TextureUse& t : s.textures) {
        out << " " << t.path << "x" << t.uses;
    }
    return out.str();
}

std::string golden(const char* name) {
    return readFile(std::string(RAYDECK_TEST_DATA) + "/sceneapi/" + name);
}

TEST(RdkStream, AnswersDoNotDependOnHowTheBytesArrive) {
    const std::string broken =
        rdktest::fileStart() + "group \"g\" {\nobject \"o\" {\n" +
        "geometry \"triangles\" {\n\"vertices\" [ " + rdktest::floats({0, 0, 0, 1, 0, 0, 0, 1, 0}) +
        "] ,\n\"triangles\" [ " + rdktest::ints({0, 1, 7}) + "] ,\n}\n}\ntransform 1 0 0\n}\n";
    for (const std::string& text :
         {golden("typical_packed.rdk"), golden("typical_text_indented.rdk"), broken}) {
        ASSERT_FALSE(text.empty());
        rdk::MemorySource whole(text);
        TrickleSource trickle(text, 1);
        const rdk::CheckResult a = rdk::checkScene(whole);
        const rdk::CheckResult b = rdk::checkScene(trickle);
        EXPECT_EQ(faultText(a), faultText(b));

        rdk::MemorySource whole2(text);
        TrickleSource trickle2(text, 3);
        rdk::Summary sa, sb;
        rdk::ReadError ea, eb;
        ASSERT_TRUE(rdk::summarize(whole2, "", sa, ea, false)) << ea.message;
        ASSERT_TRUE(rdk::summarize(trickle2, "", sb, eb, false)) << eb.message;
        EXPECT_EQ(summaryText(sa), summaryText(sb));
    }
    rdk::MemorySource source(broken);
    EXPECT_EQ(faultText(rdk::checkScene(source)),
              std::to_string(broken.find(rdktest::ints({0, 1, 7})) + 16) +
                  ": \"triangles\" index 7 at element 2 is outside \"vertices\" (3 entries)\n" +
                  std::to_string(broken.find("transform")) +
                  ": transform needs 16 numbers, has 3\n");
}

TEST(RdkStream, GoldenScenesAreCleanAndCounted) {
    const std::string text = golden("typical_packed.rdk");
    rdk::MemorySource source(text);
    EXPECT_EQ(faultText(rdk::checkScene(source)), "");
    rdk::MemorySource again(text);
    rdk::Summary s;
    rdk::ReadError e;
    ASSERT_TRUE(rdk::summarize(again, "", s, e, false));
    EXPECT_EQ(s.vertices, 4u);
    EXPECT_EQ(s.triangles, 2u);
}

// The deepest scene the loader lets the plug-in write: every block open at once.
std::string deepScene() {
    constexpr int kDepth =
        raydeck::hostsim::kMaxObjectDepth + raydeck::hostsim::kSceneBlocksBeyondObjects;
    std::string text = rdktest::fileStart();
    for (int i = 0; i < kDepth - 2; ++i) {
        text += "group \"g\" {\n";
    }
    text +=
        "object \"o\" {\ngeometry \"triangles\" {\n\"vertices\" [ 0 0 0,1 0 0,0 1 0 ] ,\n"
        "\"triangles\" [ 0,1,2 ] ,\n}\n}\n";
    for (int i = 0; i < kDepth - 2; ++i) {
        text += "}\n";
    }
    return text;
}

// Regression: the scene reader recursed and died on a Windows program's default 1 MiB stack.
TEST(RdkStream, DeepestSceneReadsWithinAOneMebibyteStack) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string file = dir.path() + "/deep.rdk";
    std::ofstream(file, std::ios::binary) << deepScene();
    std::string results;
    const platform::Status ran = platform::runWithStack(1u << 20, [&] {
        for (const char* command : {"check", "summary", "preview"}) {
            std::ostringstream out, err;
            std::vector<std::string> args{command, file};
            if (std::string(command) == "preview") {
                args.insert(args.end(), {"-o", dir.path() + "/deep.png", "--size", "8x8"});
            }
            const int code = rdk::runInspect(args, out, err);
            results += std::string(command) + " " + std::to_string(code) + err.str() + "\n";
        }
    });
    ASSERT_TRUE(ran.ok()) << ran.message();
    EXPECT_EQ(results, "check 0\nsummary 0\npreview 0\n");
}

// Regression: a valid header followed by NUL bytes passed the check.
TEST(RdkStream, ControlBytesOutsideTextsAreNoScene) {
    const std::string text = rdktest::fileStart() + std::string(64, '\0');
    rdk::MemorySource source(text);
    const rdk::CheckResult r = rdk::checkScene(source);
    ASSERT_EQ(r.faults.size(), 1u);
    EXPECT_EQ(r.faults[0].offset, rdktest::fileStart().size());
    EXPECT_EQ(r.faults[0].message, "byte 0x00 outside a text");
}

// Regression: one long statement of numbers took 130 times its size in the tree reader.
TEST(RdkStream, StatementsOfTooManyPartsAreRefusedByBothReaders) {
    std::string text = rdktest::fileStart() + "width";
    for (size_t i = 0; i <= rdk::kMaxStatementParts; ++i) {
        text += " 0";
    }
    text += "\n";
    const std::string message = "a statement of more than 4096 parts";
    rdk::MemorySource source(text);
    const rdk::CheckResult r = rdk::checkScene(source);
    ASSERT_EQ(r.faults.size(), 1u);
    EXPECT_EQ(r.faults[0].message, message);
    EXPECT_EQ(rdktest::parseFails(text).message, message);
}

TEST(RdkStream, LongTextArraysStreamAsCountsAndMarks) {
    // A million triples in text form: counted without being held.
    std::string text = rdktest::fileStart() + "group \"g\" {\nobject \"o\" {\n" +
                       "geometry \"triangles\" {\n\"vertices\" [";
    constexpr size_t kTriples = 1000000;
    for (size_t i = 0; i < kTriples; ++i) {
        text += " 0 1 2,";
    }
    text += "] ,\n\"triangles\" [ 0,1,2 ] ,\n}\n}\n}\n";
    rdk::MemorySource source(text);
    rdk::Summary s;
    rdk::ReadError e;
    ASSERT_TRUE(rdk::summarize(source, "", s, e, false)) << e.message;
    EXPECT_EQ(s.vertices, kTriples);
    rdk::MemorySource again(text);
    EXPECT_EQ(faultText(rdk::checkScene(again)), "");
}

TEST(RdkStream, IndicesBeforeTheirDataStillPointAtAnOffendingElement) {
    const std::string text = rdktest::fileStart() +
                             "group \"g\" {\nobject \"o\" {\ngeometry \"triangles\" {\n"
                             "\"triangles\" [ 0,1,5,2,9,1 ] ,\n"
                             "\"vertices\" [ 0 0 0,1 0 0,0 1 0 ] ,\n}\n}\n}\n";
    rdk::MemorySource source(text);
    const rdk::CheckResult r = rdk::checkScene(source);
    ASSERT_EQ(r.faults.size(), 1u);
    EXPECT_EQ(r.faults[0].offset, text.find("9,1"));
    EXPECT_EQ(r.faults[0].message,
              "\"triangles\" index 9 at element 4 is outside \"vertices\" (3 entries)");
}

// Each statement as "name|args|kind|value", blocks as "{name|args|define modify".
class StatementLog : public rdk::SceneEvents {
  public:
    void blockStart(const rdk::BlockStart& b) override {
        lines.push_back("{" + b.name + "|" + join(b.args) + "|" + std::to_string(b.define) +
                        std::to_string(b.modify));
    }
    void attribute(const rdk::Attribute& a) override {
        lines.push_back(a.name + "|" + join(a.args) + "|" +
                        valueText(a.value.kind, a.value.text, a.value.on, a.value.numbers));
    }
    static std::string join(const std::vector<std::string>& parts) {
        std::string out;
        for (const std::string& p : parts) {
            out += p + ";";
        }
        return out;
    }
    static std::string valueText(rdk::Value::Kind kind, const std::string& text, bool on,
                                 const std::vector<double>& numbers) {
        std::string out = std::to_string(static_cast<int>(kind)) + "|" + text + (on ? "|on" : "");
        for (double n : numbers) {
            out += " " + std::to_string(n);
        }
        return out;
    }
    std::vector<std::string> lines;
};

void logTree(const std::vector<rdk::Node>& nodes, std::vector<std::string>& lines) {
    for (const rdk::Node& n : nodes) {
        if (n.isBlock()) {
            lines.push_back("{" + n.name + "|" + StatementLog::join(n.args) + "|" +
                            std::to_string(n.define) + std::to_string(n.modify));
            logTree(n.children, lines);
        } else {
            lines.push_back(
                n.name + "|" + StatementLog::join(n.args) + "|" +
                StatementLog::valueText(n.value.kind, n.value.text, n.value.on, n.value.numbers));
        }
    }
}

TEST(RdkStream, BothReadersTakeStatementsApartAlike) {
    const std::string text = rdktest::fileStart() +
                             "#define object \"o\" {\n"
                             "visible to the eye on\n"
                             "progress \"Cube\" 1.000\n"
                             "\"color\" 1 0.5 -2e-05,\n"
                             "\"name\" xX41,\n"
                             "icon bX0102\n"
                             "\"mode\" 7 fast\n"
                             "set transform 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1\n"
                             "animation \"linear\" 2 {\n}\n"
                             "}\n";
    rdk::MemorySource source(text);
    StatementLog streamed;
    rdk::ReadError error;
    ASSERT_TRUE(rdk::streamScene(source, streamed, error)) << error.message;
    rdk::Scene tree;
    rdktest::parseOk(text, tree);
    std::vector<std::string> treeLines;
    logTree(tree.nodes, treeLines);
    EXPECT_EQ(streamed.lines, treeLines);
    ASSERT_GE(treeLines.size(), 4u);
    EXPECT_EQ(treeLines[3], "visible to the eye||2||on");  // the name runs to the final on/off
}

TEST(RdkStream, SummaryCountsEachTextureUseOnceAndLooksEachPathUpOnce) {
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    std::ofstream(dir.path() + "/found.png") << "png";
    std::string text = rdktest::fileStart() + "group \"g\" {\n";
    auto material = [](const std::string& texture) {
        return "material \"m\" {\nsurface \"trv_diffuse\" {\n diffuse ! \"texture2_rgb\" {\n"
               "  texture \"" +
               texture + "\"\n }\n}\n}\n";
    };
    for (int i = 0; i < 3; ++i) {
        text += material("found.png") + material("missing" + std::to_string(i % 2) + ".png");
    }
    text += "}\n";
    rdk::MemorySource source(text);
    rdk::Summary s;
    rdk::ReadError e;
    ASSERT_TRUE(rdk::summarize(source, dir.path(), s, e)) << e.message;
    EXPECT_EQ(summaryText(s),
              "1 0 0 0 0 6 0 0 0 0 0 0 0 textures found.pngx3 missing0.pngx2 missing1.pngx1");
    EXPECT_EQ(s.textures[0].resolved, dir.path() + "/found.png");
    EXPECT_EQ(s.textures[1].resolved, "");
    EXPECT_EQ(s.materialsByShader["trv_diffuse"], 6u);
}

TEST(RdkStream, SummaryReadsLightsCamerasAndAnimationsFromTheirBlocks) {
    const std::string text =
        rdktest::fileStart() +
        "camera \"Cam\" {\nprojection \"perspective\"\nfov 40\n"
        "transform 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1\n}\n"
        "animation \"fbx_animation\" \"Position . X\" {\n"
        "\"start_time\" 0.5,\n\"duration\" 2,\n\"folder\" \"Cam/Position\",\n"
        "\"matrices\" [ 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 ,\n"
        "1 0 0 0 0 1 0 0 0 0 1 0 2 0 0 1 \n] ,\n"
        "\"timestamps\" [ 0,33 ] ,\n}\n"
        "group \"g\" {\nobject \"Bulb\" {\nmaterial \"m\" {\n"
        "surface \"trv_point_light\" {\n\"power\" 120,\n"
        "\"color\" 1 0.5 0.25,\n\"lumen\" on,\n"
        // A shader inside an array is a parameter, not the surface.
        "\"layers\" [ \"trv_diffuse\" { \"texture\" \"no.png\" } ] ,\n}\n}\n}\n"
        "light \"Sun\" {\n}\n}\n";
    rdk::MemorySource source(text);
    rdk::Summary s;
    rdk::ReadError e;
    ASSERT_TRUE(rdk::summarize(source, "", s, e, false)) << e.offset << ": " << e.message;
    ASSERT_EQ(s.cameras.size(), 1u);
    EXPECT_EQ(s.cameras[0].projection, "perspective");
    EXPECT_EQ(s.cameras[0].fov, 40);
    EXPECT_TRUE(s.cameras[0].hasTransform);
    ASSERT_EQ(s.animations.size(), 1u);
    EXPECT_EQ(s.animations[0].name, "Position . X");
    EXPECT_EQ(s.animations[0].folder, "Cam/Position");
    EXPECT_EQ(s.animations[0].samples, 2u);
    EXPECT_EQ(s.animations[0].startTime, 0.5);
    ASSERT_EQ(s.lights.size(), 2u);
    EXPECT_EQ(s.lights[0].name, "Bulb");  // the object the emitting material belongs to
    EXPECT_EQ(s.lights[0].shaderType, "trv_point_light");
    EXPECT_EQ(s.lights[0].power, 120);
    EXPECT_EQ(s.lights[0].color[1], 0.5);
    EXPECT_TRUE(s.lights[0].lumen);
    EXPECT_EQ(s.lights[1].name, "Sun");
    EXPECT_EQ(s.lights[1].shaderType, "light");
    EXPECT_TRUE(s.textures.empty());
    EXPECT_EQ(s.materialsByShader["trv_point_light"], 1u);
}

}  // namespace
