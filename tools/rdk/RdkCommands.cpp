// RdkCommands: argument parsing, the text and JSON forms of the reports, and the exit codes.
#include "tools/rdk/RdkCommands.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "platform/interrupt.h"
#include "tools/CommandLine.h"
#include "tools/rdk/RdkCheck.h"
#include "tools/rdk/RdkPreview.h"
#include "tools/rdk/RdkReader.h"
#include "tools/rdk/RdkSummary.h"

namespace rdk {
namespace {

const char* const kAbout = "Reads a scene file (.rdk) and summarises, checks or previews it.";

const char* const kSummaryHelp =
    "Counts and lists what the scene holds: groups, objects, triangles and vertices of the\n"
    "meshes, materials by their surface shader type, textures (found on this machine or\n"
    "missing; relative paths are looked up beside the scene file and as given), cameras,\n"
    "animation blocks with their samples, emitting objects (lights) and curves.";

const char* const kSummaryFooter = "Exit 0; 2 for bad usage or an unreadable or unparsable file.\n";

const char* const kCheckHelp =
    "Structural checks: the header line, balanced blocks, packed blocks inside the file,\n"
    "triangle, normal and uv indices inside their arrays, matching counts, and finite\n"
    "points, normals, transforms and animation matrices.";

const char* const kCheckFooter =
    "--json prints {\"ok\": ..., \"offset\": ..., \"message\": ..., \"faults\": N}.\n"
    "Exit 0 when clean; 1 with the byte offset and a description of the first fault;\n"
    "2 for bad usage or an unreadable file.\n";

const char* const kPreviewHelp =
    "Draws the scene as its first camera sees it (or a framing view of the bounding box\n"
    "when it has no camera): triangles in their material's diffuse colour under a\n"
    "headlight, curves as lines, on a fixed background.";

const char* const kPreviewFooter =
    "Exit 0; 2 for bad usage, an unreadable or unparsable file, or a PNG not written.\n";

struct Options {
    std::string command;
    std::string file;
    std::string output;
    bool json = false;
    int width = 640;
    int height = 480;
};

bool parseSize(const std::string& text, int& w, int& h) {
    size_t x = text.find_first_of("xX");
    if (x == std::string::npos || x == 0 || x + 1 >= text.size()) {
        return false;
    }
    char* end = nullptr;
    long a = std::strtol(text.c_str(), &end, 10);
    if (end != text.c_str() + x) {
        return false;
    }
    long b = std::strtol(text.c_str() + x + 1, &end, 10);
    if (*end != '\0' || a < 1 || b < 1 || a > 8192 || b > 8192) {
        return false;
    }
    w = static_cast<int>(a);
    h = static_cast<int>(b);
    return true;
}

// raydeck::tools::kContinue with `o` filled in, else the exit code.
int parseArgs(std::vector<std::string> args, Options& o, std::ostream& out, std::ostream& err) {
    CLI::App app(kAbout, "rdk-inspect");
    app.set_version_flag("--version", "rdk-inspect " RAYDECK_VERSION);
    app.require_subcommand(0, 1);  // none is reported below, an unknown one as unexpected
    struct Command {
        const char* name;
        const char* brief;
        const char* about;
        const char* footer;
    };
    std::string size;
    for (const Command& c :
         {Command{"summary", "count and list what the scene holds", kSummaryHelp, kSummaryFooter},
          Command{"check", "check the structure", kCheckHelp, kCheckFooter},
          Command{"preview", "draw a PNG picture of the scene", kPreviewHelp, kPreviewFooter}}) {
        CLI::App* command = app.add_subcommand(c.name, c.brief);
        command->footer(std::string(c.about) + "\n" + c.footer);
        command->add_option("FILE", o.file, "the scene file")->required();
        if (std::string(c.name) == "preview") {
            command->add_option("-o,--output", o.output, "the PNG file to write")
                ->type_name("PREVIEW.png")
                ->required();
            command->add_option("--size", size, "the picture size, each side 1 to 8192 (640x480)")
                ->type_name("WxH")
                ->check([&o](const std::string& text) {
                    return parseSize(text, o.width, o.height)
                               ? std::string()
                               : "expected WxH, each side 1 to 8192, not " + text;
                });
        } else {
            command->add_flag("--json", o.json, "one JSON object instead of text");
        }
    }
    if (!args.empty() && args[0] == "help") {
        args[0] = "--help";
    }
    const int code = raydeck::tools::parseCommandLine(app, std::move(args), out, err);
    if (code != raydeck::tools::kContinue) {
        return code;
    }
    if (app.get_subcommands().empty()) {
        raydeck::tools::usageError(err, "rdk-inspect",
                                   "no command given: summary, check or preview");
        return kExitUsage;
    }
    o.command = app.get_subcommands().front()->get_name();
    return raydeck::tools::kContinue;
}

nlohmann::json summaryJson(const Summary& s) {
    nlohmann::json j;
    j["groups"] = s.groups;
    j["objects"] = s.objects;
    j["meshes"] = s.meshes;
    j["triangles"] = s.triangles;
    j["vertices"] = s.vertices;
    j["materials"] = {{"count", s.materials}, {"byShader", s.materialsByShader}};
    nlohmann::json textures = nlohmann::json::array();
    for (const TextureUse& t : s.textures) {
        textures.push_back({{"path", t.path},
                            {"shader", t.shaderType},
                            {"uses", t.uses},
                            {"found", !t.resolved.empty()},
                            {"resolved", t.resolved}});
    }
    j["textures"] = textures;
    j["environmentMaps"] = s.environmentMaps;
    nlohmann::json cameras = nlohmann::json::array();
    for (const CameraInfo& c : s.cameras) {
        cameras.push_back({{"name", c.name},
                           {"projection", c.projection},
                           {"fov", c.fov},
                           {"hasTransform", c.hasTransform}});
    }
    j["cameras"] = cameras;
    nlohmann::json anims = nlohmann::json::array();
    for (const AnimationInfo& a : s.animations) {
        anims.push_back({{"type", a.type},
                         {"name", a.name},
                         {"folder", a.folder},
                         {"samples", a.samples},
                         {"startTime", a.startTime},
                         {"duration", a.duration}});
    }
    j["animations"] = {
        {"blocks", s.animations.size()}, {"samples", s.animationSamples}, {"list", anims}};
    nlohmann::json lights = nlohmann::json::array();
    for (const LightInfo& l : s.lights) {
        lights.push_back({{"name", l.name},
                          {"shader", l.shaderType},
                          {"power", l.power},
                          {"color", {l.color[0], l.color[1], l.color[2]}},
                          {"lumen", l.lumen}});
    }
    j["lights"] = lights;
    j["curves"] = {{"objects", s.curveObjects}, {"curves", s.curves}, {"points", s.curvePoints}};
    return j;
}

std::string number(double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%g", v);
    return buffer;
}

void summaryText(const Summary& s, const std::string& file, std::ostream& out) {
    out << "scene: " << file << "\n";
    out << "groups: " << s.groups << "\n";
    out << "objects: " << s.objects << "\n";
    out << "triangles: " << s.triangles << " in " << s.meshes << " meshes\n";
    out << "vertices: " << s.vertices << "\n";
    out << "materials: " << s.materials;
    const char* sep = " (";
    for (const auto& [type, count] : s.materialsByShader) {
        out << sep << type << " " << count;
        sep = ", ";
    }
    out << (s.materialsByShader.empty() ? "" : ")") << "\n";
    size_t found = 0;
    for (const TextureUse& t : s.textures) {
        found += t.resolved.empty() ? 0 : 1;
    }
    out << "textures: " << s.textures.size() << " (" << found << " found, "
        << s.textures.size() - found << " missing)\n";
    for (const TextureUse& t : s.textures) {
        out << "  " << (t.resolved.empty() ? "missing " : "found   ") << t.path;
        if (!t.resolved.empty() && t.resolved != t.path) {
            out << " -> " << t.resolved;
        }
        out << "\n";
    }
    for (const std::string& e : s.environmentMaps) {
        out << "environment map: " << e << "\n";
    }
    out << "cameras: " << s.cameras.size() << "\n";
    for (const CameraInfo& c : s.cameras) {
        out << "  \"" << c.name << "\" " << (c.projection.empty() ? "-" : c.projection);
        if (c.fov != 0) {
            out << " fov " << number(c.fov);
        }
        out << "\n";
    }
    out << "animation blocks: " << s.animations.size() << ", " << s.animationSamples
        << " samples\n";
    for (const AnimationInfo& a : s.animations) {
        out << "  \"" << a.name << "\" " << a.folder << ": " << a.samples << " samples, "
            << number(a.duration) << " s from " << number(a.startTime) << " s\n";
    }
    out << "lights: " << s.lights.size() << "\n";
    for (const LightInfo& l : s.lights) {
        out << "  \"" << l.name << "\" " << l.shaderType << " power " << number(l.power)
            << (l.lumen ? " lumen" : "") << " color " << number(l.color[0]) << " "
            << number(l.color[1]) << " " << number(l.color[2]) << "\n";
    }
    out << "curves: " << s.curves << " in " << s.curveObjects << " objects, " << s.curvePoints
        << " control points\n";
}

// Every scene the plug-in writes, to a file or into a renderer, states its format version
// before anything else; text without it (a log, /etc/passwd) is no scene, however it parses.
bool isScene(const Scene& scene) {
    for (const Node& node : scene.nodes) {
        if (node.name == "version" && !node.isBlock()) {
            return true;
        }
    }
    return false;
}

void reportNoScene(const Options& o, std::ostream& err) {
    err << "rdk-inspect: " << o.file << " is not a scene file (it states no format version)\n";
}

// Reads the scene; on failure reports it and answers false.
bool load(const Options& o, Scene& scene, std::ostream& err) {
    ReadError error;
    bool readable = true;
    if (readScene(o.file, scene, error, readable)) {
        if (!isScene(scene)) {
            reportNoScene(o, err);
            return false;
        }
        return true;
    }
    if (readable) {
        err << o.file << ": offset " << error.offset << ": " << error.message << "\n";
    } else {
        err << "rdk-inspect: " << error.message << "\n";
    }
    return false;
}

int check(const Options& o, std::ostream& out, std::ostream& err) {
    Scene scene;
    ReadError error;
    bool readable = true;
    std::vector<Fault> faults;
    if (!readScene(o.file, scene, error, readable)) {
        if (!readable) {
            err << "rdk-inspect: " << error.message << "\n";
            return kExitUsage;
        }
        // A file that does not parse is a structural fault at the place where reading stopped.
        faults.push_back({error.offset, error.message});
    } else if (!isScene(scene)) {
        reportNoScene(o, err);
        return kExitUsage;
    } else {
        faults = checkScene(scene);
    }
    if (o.json) {
        nlohmann::json j;
        j["ok"] = faults.empty();
        j["faults"] = faults.size();
        if (!faults.empty()) {
            j["offset"] = faults[0].offset;
            j["message"] = faults[0].message;
        }
        out << j.dump(2) << "\n";
    } else if (faults.empty()) {
        out << o.file << ": clean\n";
    } else {
        out << o.file << ": offset " << faults[0].offset << ": " << faults[0].message << "\n";
        if (faults.size() > 1) {
            out << "(" << faults.size() - 1 << " more)\n";
        }
    }
    return faults.empty() ? kExitClean : kExitFault;
}

int summary(const Options& o, std::ostream& out, std::ostream& err) {
    Scene scene;
    if (!load(o, scene, err)) {
        return kExitUsage;
    }
    Summary s = summarize(scene, folderOf(o.file));
    if (o.json) {
        out << summaryJson(s).dump(2) << "\n";
    } else {
        summaryText(s, o.file, out);
    }
    return kExitClean;
}

int preview(const Options& o, std::ostream& out, std::ostream& err) {
    Scene scene;
    if (!load(o, scene, err)) {
        return kExitUsage;
    }
    // An interrupt (in the program, not in a test) leaves no half-written picture behind.
    platform::removeTemporariesOnInterrupt(o.output);
    PreviewStats stats;
    PreviewImage image = renderPreview(scene, o.width, o.height, &stats);
    std::string reason;
    if (!writePng(o.output, image, reason)) {
        err << "rdk-inspect: cannot write " << o.output << ": " << reason << "\n";
        return kExitUsage;
    }
    out << o.output << ": " << image.width << "x" << image.height << ", "
        << (stats.fromCamera ? "camera \"" + stats.camera + "\"" : std::string("framing view"))
        << ", " << stats.triangles << " triangles, " << stats.pixels << " pixels covered\n";
    return kExitClean;
}

}  // namespace

int finishOutput(int code, std::ostream& out, std::ostream& err) {
    return raydeck::tools::outputArrived(out, err, "rdk-inspect") ? code : kExitFault;
}

int runInspect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    Options o;
    const int parsed = parseArgs(args, o, out, err);
    if (parsed != raydeck::tools::kContinue) {
        return parsed;
    }
    if (o.command == "check") {
        return check(o, out, err);
    }
    if (o.command == "summary") {
        return summary(o, out, err);
    }
    return preview(o, out, err);
}

}  // namespace rdk
