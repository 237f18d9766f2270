// RdkCommands: argument parsing, the text and JSON forms of the reports, and the exit codes.
#include "tools/rdk/RdkCommands.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <new>
#include <optional>

#include "platform/interrupt.h"
#include "platform/thread.h"
#include "platform/utf.h"
#include "rapidjson/prettywriter.h"
#include "rapidjson/stringbuffer.h"
#include "tools/CommandLine.h"
#include "tools/rdk/RdkCheck.h"
#include "tools/rdk/RdkPose.h"
#include "tools/rdk/RdkPreview.h"
#include "tools/rdk/RdkReader.h"
#include "tools/rdk/RdkStream.h"
#include "tools/rdk/RdkSummary.h"
#include "trvSceneFormat.h"

namespace rdk {

namespace kw = trvFormat::keyword;
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

const char* const kPoseHelp =
    "The world placement of every camera and group at a time, in the host's axes (the scene's\n"
    "z flip undone): each camera's section transform with the animation blocks that follow it\n"
    "applied on its left, each group's transform with its own blocks applied on its right,\n"
    "later blocks outside earlier ones (tools/rdk/README.md derives the rule). One line each:\n"
    "time, \"camera\" or \"object\", the camera's name or the group path, then the offset and the\n"
    "x, y and z axes.";

const char* const kPoseFooter =
    "Without --time, every time at which an animation block has a sample.\n"
    "Exit 0; 2 for bad usage or an unreadable or unparsable file.\n";

struct Options {
    std::string command;
    std::optional<double> time;
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
          Command{"preview", "draw a PNG picture of the scene", kPreviewHelp, kPreviewFooter},
          Command{"pose", "print the world placement of every camera and group", kPoseHelp,
                  kPoseFooter}}) {
        CLI::App* command = app.add_subcommand(c.name, c.brief);
        command->footer(std::string(c.about) + "\n" + c.footer);
        command->add_option("FILE", o.file, "the scene file")->required();
        if (std::string(c.name) == "preview" || std::string(c.name) == "pose") {
            command
                ->add_option_function<double>(
                    "--time", [&o](const double& t) { o.time = t; },
                    std::string(c.name) == "pose"
                        ? "the time in seconds (default: every sample time)"
                        : "draw the scene as its animation places it at this time, in seconds")
                ->type_name("T");
        }
        if (std::string(c.name) == "pose") {
            continue;
        }
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
                                   "no command given: summary, check, preview or pose");
        return kExitUsage;
    }
    o.command = app.get_subcommands().front()->get_name();
    return raydeck::tools::kContinue;
}

// The JSON reports: keys in name order, two spaces a level, numbers in their shortest round-trip
// spelling with ".0" on whole values, as the reports have always been spelt.
using JsonWriter = rapidjson::PrettyWriter<rapidjson::StringBuffer>;

void jsonString(JsonWriter& w, const std::string& text) {
    // Control bytes escaped, and a byte that is not UTF-8 as U+FFFD, so that a name or path of any
    // bytes still makes JSON that every reader takes.
    std::string q = "\"";
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            q += '\\';
            q += static_cast<char>(c);
        } else if (c < 0x20) {
            static const char* const kShort = "btn\0fr";
            if (c >= '\b' && c <= '\r' && c != 0x0b) {
                q += '\\';
                q += kShort[c - '\b'];
            } else {
                char u[8];
                std::snprintf(u, sizeof u, "\\u%04x", c);
                q += u;
            }
        } else if (c >= 0x80) {
            char32_t ignored = 0;
            const size_t n = platform::decodeUtf8(text, i, ignored);
            if (n == 0) {
                q += "\xEF\xBF\xBD";
                ++i;
                continue;
            }
            q.append(text, i, n);
            i += n;
            continue;
        } else {
            q += static_cast<char>(c);
        }
        ++i;
    }
    q += '"';
    w.RawValue(q.data(), q.size(), rapidjson::kStringType);
}

void jsonNumber(JsonWriter& w, double v) {
    if (!std::isfinite(v)) {
        w.Null();
        return;
    }
    char digits[40];
    int precision = 0;  // the fewest significant digits that read back as the same value
    for (; precision < 17; ++precision) {
        std::snprintf(digits, sizeof digits, "%.*e", precision, v);
        if (std::strtod(digits, nullptr) == v) {
            break;
        }
    }
    const int exponent = std::atoi(std::strchr(digits, 'e') + 1);
    if (v == 0 || (exponent >= -4 && exponent < 15)) {
        w.Double(v);  // plain decimal spelling
        return;
    }
    // Outside that range: d.ddde+XX, at least two exponent digits.
    std::string mantissa(digits, std::strchr(digits, 'e'));
    char tail[16];
    std::snprintf(tail, sizeof tail, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    const std::string text = mantissa + tail;
    w.RawValue(text.data(), text.size(), rapidjson::kNumberType);
}

// One JSON report: members are written in name order by the callers, one call a member.
class JsonReport {
  public:
    JsonReport() : w_(buffer_) {
        w_.SetIndent(' ', 2);
        w_.StartObject();
    }
    void count(const char* key, std::uint64_t v) {
        w_.Key(key);
        w_.Uint64(v);
    }
    void number(const char* key, double v) {
        w_.Key(key);
        jsonNumber(w_, v);
    }
    void text(const char* key, const std::string& v) {
        w_.Key(key);
        jsonString(w_, v);
    }
    void flag(const char* key, bool v) {
        w_.Key(key);
        w_.Bool(v);
    }
    // A member holding an object or an array whose members or elements `body` writes.
    template <typename Body>
    void object(const char* key, Body body) {
        w_.Key(key);
        w_.StartObject();
        body();
        w_.EndObject();
    }
    template <typename Items, typename Item>
    void array(const char* key, const Items& items, Item item) {
        w_.Key(key);
        w_.StartArray();
        for (const auto& element : items) {
            item(element);
        }
        w_.EndArray();
    }
    // An object element of an array.
    template <typename Body>
    void element(Body body) {
        w_.StartObject();
        body();
        w_.EndObject();
    }
    JsonWriter& writer() { return w_; }
    std::string finish() {
        w_.EndObject();
        return std::string(buffer_.GetString(), buffer_.GetSize());
    }

  private:
    rapidjson::StringBuffer buffer_;
    JsonWriter w_;
};

std::string summaryJson(const Summary& s) {
    JsonReport j;
    j.object("animations", [&] {
        j.count("blocks", s.animations.size());
        j.array("list", s.animations, [&](const AnimationInfo& a) {
            j.element([&] {
                j.number("duration", a.duration);
                j.text("folder", a.folder);
                j.text("name", a.name);
                j.count("samples", a.samples);
                j.number("startTime", a.startTime);
                j.text("type", a.type);
            });
        });
        j.count("samples", s.animationSamples);
    });
    j.array("cameras", s.cameras, [&](const CameraInfo& c) {
        j.element([&] {
            j.number("fov", c.fov);
            j.flag("hasTransform", c.hasTransform);
            j.text("name", c.name);
            j.text("projection", c.projection);
        });
    });
    j.object("curves", [&] {
        j.count("curves", s.curves);
        j.count("objects", s.curveObjects);
        j.count("points", s.curvePoints);
    });
    j.array("environmentMaps", s.environmentMaps,
            [&](const std::string& map) { jsonString(j.writer(), map); });
    j.count("groups", s.groups);
    j.array("lights", s.lights, [&](const LightInfo& l) {
        j.element([&] {
            j.array("color", l.color, [&](double channel) { jsonNumber(j.writer(), channel); });
            j.flag("lumen", l.lumen);
            j.text("name", l.name);
            j.number("power", l.power);
            j.text("shader", l.shaderType);
        });
    });
    j.object("materials", [&] {
        j.object("byShader", [&] {
            for (const auto& [type, count] : s.materialsByShader) {  // a std::map: in name order
                jsonString(j.writer(), type);                        // a key spelt as any text is
                j.writer().Uint64(count);
            }
        });
        j.count("count", s.materials);
    });
    j.count("meshes", s.meshes);
    j.count("objects", s.objects);
    j.array("textures", s.textures, [&](const TextureUse& t) {
        j.element([&] {
            j.flag("found", !t.resolved.empty());
            j.text("path", t.path);
            j.text("resolved", t.resolved);
            j.text("shader", t.shaderType);
            j.count("uses", t.uses);
        });
    });
    j.count("triangles", s.triangles);
    j.count("vertices", s.vertices);
    return j.finish();
}

std::string checkJson(const CheckResult& result) {
    JsonReport j;
    j.count("faults", result.total);
    if (!result.faults.empty()) {
        j.text("message", result.faults[0].message);
        j.count("offset", result.faults[0].offset);
    }
    j.flag("ok", result.faults.empty());
    return j.finish();
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
        if (node.name == kw::version && !node.isBlock()) {
            return true;
        }
    }
    return false;
}

// The same for the streaming commands: a top-level version statement within the file's first
// kVersionScanBytes (it stands in the first lines of every scene written).
class VersionScan : public SceneEvents {
  public:
    void blockStart(const BlockStart&) override { ++depth_; }
    void blockEnd(uint64_t) override { --depth_; }
    void attribute(const Attribute& a) override {
        if (depth_ == 0 && a.name == kw::version) {
            version = true;
        }
    }
    bool version = false;

  private:
    int depth_ = 0;
};

constexpr size_t kVersionScanBytes = 64u << 10;

// Whether the file reads as text, to its end or to the scan's end, without a version statement.
// A text that stops reading before one is left to the command, which says where it stops.
bool statesNoVersion(const Options& o) {
    std::FILE* file = nullptr;
    std::string reason;
    if (!openSceneFile(o.file, file, reason)) {
        return false;  // the command reports it
    }
    std::string head(kVersionScanBytes, '\0');
    head.resize(std::fread(&head[0], 1, head.size(), file));
    const bool whole = std::feof(file) != 0;
    std::fclose(file);
    MemorySource source(head);
    VersionScan scan;
    ReadError error;
    const bool read = streamScene(source, scan, error);
    return !scan.version && (read || !whole);
}

void reportNoScene(const Options& o, std::ostream& err) {
    err << "rdk-inspect: " << o.file << " is not a scene file (it states no format version)\n";
}

// Opens the scene for streaming; on failure, or when the text is no scene, reports it and
// answers false.
bool open(const Options& o, std::FILE*& file, std::ostream& err) {
    if (statesNoVersion(o)) {
        reportNoScene(o, err);
        return false;
    }
    std::string reason;
    if (openSceneFile(o.file, file, reason)) {
        return true;
    }
    err << "rdk-inspect: cannot read " << o.file << ": " << reason << "\n";
    return false;
}

struct Closer {
    std::FILE* file;
    ~Closer() {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
};

int check(const Options& o, std::ostream& out, std::ostream& err) {
    std::FILE* file = nullptr;
    if (!open(o, file, err)) {
        return kExitUsage;
    }
    Closer closer{file};
    FileSource source(file);
    const CheckResult result = checkScene(source);
    if (source.failed()) {
        err << "rdk-inspect: cannot read " << o.file << ": read error\n";
        return kExitUsage;
    }
    const std::vector<Fault>& faults = result.faults;
    if (o.json) {
        out << checkJson(result) << "\n";
    } else if (faults.empty()) {
        out << o.file << ": clean\n";
    } else {
        out << o.file << ": offset " << faults[0].offset << ": " << faults[0].message << "\n";
        if (result.total > 1) {
            out << "(" << result.total - 1 << " more)\n";
        }
    }
    return faults.empty() ? kExitClean : kExitFault;
}

int summary(const Options& o, std::ostream& out, std::ostream& err) {
    std::FILE* file = nullptr;
    if (!open(o, file, err)) {
        return kExitUsage;
    }
    Closer closer{file};
    FileSource source(file);
    Summary s;
    ReadError error;
    if (!summarize(source, folderOf(o.file), s, error)) {
        if (source.failed()) {
            err << "rdk-inspect: cannot read " << o.file << ": read error\n";
        } else {
            err << o.file << ": offset " << error.offset << ": " << error.message << "\n";
        }
        return kExitUsage;
    }
    if (o.json) {
        out << summaryJson(s) << "\n";
    } else {
        summaryText(s, o.file, out);
    }
    return kExitClean;
}

// The preview and the pose keep the scene in memory; its reader and drawing follow the nesting on
// the call stack, which a thread of its own makes deep enough for any scene the reader takes.
constexpr size_t kSceneStack = 64u << 20;

// Reads the scene and hands it to `use`, both on that thread. Reports a scene that cannot be read
// and returns false.
bool withScene(const Options& o, std::ostream& err, const std::function<void(Scene&)>& use) {
    ReadError error;
    bool readable = true;
    bool read = false;
    bool noScene = false;
    std::exception_ptr thrown;
    const platform::Status ran = platform::runWithStack(kSceneStack, [&] {
        try {
            Scene scene;
            read = readScene(o.file, scene, error, readable);
            noScene = read && !isScene(scene);
            if (read && !noScene) {
                use(scene);
            }
        } catch (...) {
            thrown = std::current_exception();
        }
    });
    if (thrown) {
        std::rethrow_exception(thrown);
    }
    if (!ran.ok()) {
        err << "rdk-inspect: cannot start reading the scene: " << ran.message() << "\n";
        return false;
    }
    if (!read) {
        if (readable) {
            err << o.file << ": offset " << error.offset << ": " << error.message << "\n";
        } else {
            err << "rdk-inspect: " << error.message << "\n";
        }
        return false;
    }
    if (noScene) {
        reportNoScene(o, err);
        return false;
    }
    return true;
}

int preview(const Options& o, std::ostream& out, std::ostream& err) {
    // An interrupt (in the program, not in a test) leaves no half-written picture behind.
    platform::removeTemporariesOnInterrupt(o.output);
    PreviewStats stats;
    PreviewImage image;
    if (!withScene(o, err, [&](Scene& scene) {
            if (o.time) {
                poseScene(scene, *o.time);
            }
            image = renderPreview(scene, o.width, o.height, &stats);
        })) {
        return kExitUsage;
    }
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

int pose(const Options& o, std::ostream& out, std::ostream& err) {
    const bool read = withScene(o, err, [&](Scene& scene) {
        std::vector<double> times;
        if (o.time) {
            times.push_back(*o.time);
        } else {
            for (int64_t ms : sceneSampleTimes(scene)) {
                times.push_back(static_cast<double>(ms) / 1000.0);
            }
        }
        for (double t : times) {
            for (const PoseEntry& e : scenePose(scene, t)) {
                writePoseLine(out, t, e.kind, e.path, e.placement);
            }
        }
    });
    return read ? kExitClean : kExitUsage;
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
    try {
        if (o.command == "check") {
            return check(o, out, err);
        }
        if (o.command == "summary") {
            return summary(o, out, err);
        }
        if (o.command == "pose") {
            return pose(o, out, err);
        }
        return preview(o, out, err);
    } catch (const std::bad_alloc&) {
        err << "rdk-inspect: " << o.file << ": not enough memory to read it\n";
        return kExitUsage;
    }
}

}  // namespace rdk
