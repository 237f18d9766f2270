// raydeck-host: loads the plug-in file, starts it as the host would, lists its commands or runs
// one of them on a document file or a model file, and shuts it down again.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "platform/file.h"
#include "platform/interrupt.h"
#include "platform/process.h"
#include "platform/processinfo.h"
#include "platform/program.h"
#include "platform/stdstream.h"
#include "platform/utf.h"
#include "plugins/c4d/PluginIds.h"
#include "plugins/c4d/host/CommandData.h"
#include "plugins/c4d/host/HostContext.h"
#include "tools/CommandLine.h"
#include "tools/host/HostFile.h"
#include "tools/host/HostPose.h"
#include "tools/host/HostReport.h"
#include "tools/host/ProgressLine.h"
#include "tools/host/RendererProgress.h"
#include "tools/host/SimDocument.h"
#include "tools/host/SimHost.h"
#include "tools/live/LiveAnnouncement.h"
#include "tools/rdk/RdkReader.h"
#include "tools/rdk/RdkStream.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

using C4dMain = int32_t (*)(int32_t, void*, void*, void*);

const char* const kAbout =
    "Loads the plug-in file as the host application would and runs one of its commands on a\n"
    "host document file (JSON, see tools/host/README.md) or on a model file that Assimp reads\n"
    "(OBJ, glTF, FBX, Collada, 3DS, PLY, STL, ...).";

const char* const kFooter =
    "JSON other than glTF is read as a host document; anything else is a model, mapped with the\n"
    "source's axes and units as they are:\n"
    "  node transform      -> the object's matrix (position, rotation, scale where they hold it)\n"
    "  node with meshes    -> one polygon object; its meshes merged, each material's polygons a\n"
    "                         selection with a texture tag restricted to it\n"
    "  other nodes         -> null objects; camera and light nodes -> camera and light objects\n"
    "                         (spot lights as point lights, area lights with their size)\n"
    "  faces               -> triangles and quads kept; larger polygons as a fan of quads\n"
    "  UV channel 0        -> a UVW tag; normals -> a phong tag with those normals\n"
    "  materials           -> standard materials: diffuse and specular colour, the diffuse\n"
    "                         texture as a bitmap shader with the path as the model names it\n"
    "  first animation     -> position, rotation and scale tracks with linear keys\n"
    "  the document        -> named after the model file, in the model file's folder\n"
    "What a host document cannot hold (bones, morph targets, vertex colours, further UV\n"
    "channels, lines and points, embedded textures, directional and ambient lights, further\n"
    "animations) is skipped with one warning line per kind on standard error.\n"
    "\n"
    "Exit codes: 0 done; 1 the plug-in reported a failure (its console lines go to standard\n"
    "error) or nothing was exported; 2 bad usage, a bad document or a plug-in that cannot be\n"
    "loaded.\n";

const char* const kLiveFooter =
    "The renderer is found through the registry: on Windows the installation's keys, elsewhere\n"
    "the .reg file that RAYDECK_REGISTRY names (default ~/.config/raydeck/registry.reg).\n"
    "Running renderers announce themselves in the folder RAYDECK_RUNTIME_DIR names (default:\n"
    "$XDG_RUNTIME_DIR/raydeck, else <temp>/raydeck-<uid>); tools/live/README.md lists every\n"
    "setting.\n";

std::string defaultPlugin() {
    std::string exe;
    if (platform::executablePath(exe).ok()) {
        const size_t slash = exe.find_last_of("/\\");
        if (slash != std::string::npos) {
            // Beside the program, or where `cmake --install` puts it (bin/../lib/raydeck/).
            const std::string folder = exe.substr(0, slash + 1);
            for (const char* place : {"", "../lib/raydeck/"}) {
                const std::string candidate = folder + place + "raydeck_c4d_plugin.cdl64";
                if (rdk::fileReadable(candidate)) {
                    return candidate;
                }
            }
        }
    }
    return RAYDECK_DEFAULT_PLUGIN;
}

struct Options {
    std::string plugin;
    std::string action;
    std::string document;
    std::optional<std::string> output;  // the save dialog's answer; none: cancel
    std::optional<double> poseTime;     // pose: the one time asked for; none: every sample time
};

// kContinue to go on with `o` filled in, else the exit code.
int parseCommandLine(const std::vector<std::string>& args, Options& o) {
    CLI::App app(kAbout, "raydeck-host");
    app.set_version_flag("--version", "raydeck-host " RAYDECK_VERSION);
    app.footer(kFooter);
    app.add_option(
           "--plugin", o.plugin,
           "the plug-in file (default: the one beside this program or in ../lib/raydeck, else "
           "the build's)")
        ->type_name("FILE");
    app.require_subcommand(0, 1);  // none is reported below, an unknown one as unexpected
    app.fallthrough();             // --plugin also after the command

    app.add_subcommand("commands", "list the registered commands: ID, name, help text, icon");
    CLI::App* exportCommand = app.add_subcommand(
        "export", "run the Export command; its save dialog is answered with -o or --cancel");
    std::string output;
    bool cancel = false;
    CLI::Option* out =
        exportCommand
            ->add_option("-o,--output", output,
                         "the scene file the save dialog answers with ('-': standard output)")
            ->type_name("OUT");
    CLI::Option* cancelled =
        exportCommand->add_flag("--cancel", cancel, "answer the save dialog with cancel (exit 1)");
    out->excludes(cancelled);
    CLI::App* render = app.add_subcommand("render", "run the Render command");
    CLI::App* update = app.add_subcommand("update", "run the Update command");
    for (CLI::App* command : {exportCommand, render, update}) {
        command->add_option("DOCUMENT", o.document, "host document file or model file")->required();
    }
    CLI::App* poseCommand = app.add_subcommand(
        "pose", "print the world placement of every camera and object, as the host has it");
    poseCommand->add_option("DOCUMENT", o.document, "host document file or model file")->required();
    double poseTime = 0.0;
    CLI::Option* poseAt =
        poseCommand
            ->add_option("--time", poseTime,
                         "the time in seconds (default: every time the export samples)")
            ->type_name("T");
    // The documents' mapping shows once, in --help; the live commands say how the renderer is
    // found.
    for (CLI::App* command : app.get_subcommands({})) {
        command->footer("");
    }
    render->footer(kLiveFooter);
    update->footer(kLiveFooter);
    const int code = raydeck::tools::parseCommandLine(app, args, std::cout, std::cerr);
    if (code != raydeck::tools::kContinue) {
        return code;
    }
    if (app.get_subcommands().empty()) {
        raydeck::tools::usageError(std::cerr, "raydeck-host",
                                   "no command given: commands, export, render, update or pose");
        return kExitUsage;
    }
    o.action = app.get_subcommands().front()->get_name();
    if (o.action == "export" && !cancel && out->count() == 0) {
        raydeck::tools::usageError(std::cerr, "raydeck-host",
                                   "export needs -o OUT, the scene file ('-' for standard "
                                   "output), or --cancel");
        return kExitUsage;
    }
    if (out->count() != 0) {
        o.output = output;
    }
    if (poseAt->count() != 0) {
        o.poseTime = poseTime;
    }
    return raydeck::tools::kContinue;
}

// A loaded and started plug-in; shuts it down and unloads it on destruction.
class LoadedPlugin {
  public:
    LoadedPlugin(raydeck::hostsim::SimHost& host) : host_(host) {}
    ~LoadedPlugin() { stop(); }

    bool start(const std::string& path, std::string& error) {
        std::u16string wide;
        platform::Status s = platform::utf8ToUtf16(path, wide);
        if (!s.ok()) {
            error = path + ": not a valid file name";
            return false;
        }
        s = platform::loadLibrary(wide, library_);
        if (!s.ok()) {
            error = path + ": cannot load the plug-in: " + s.message();
            return false;
        }
        void* symbol = nullptr;
        s = platform::findSymbol(library_, "c4d_main", symbol);
        if (!s.ok() || symbol == nullptr) {
            error = path + ": the plug-in exports no c4d_main";
            return false;
        }
        main_ = reinterpret_cast<C4dMain>(symbol);
        const RdHostInterface* table = host_.table();
        path_ = table->filenameAlloc();
        RdHostString* text = table->stringAlloc();
        table->stringSetCString(text, path.data(), static_cast<int32_t>(path.size()),
                                RD_HOST_ENCODING_UTF8);
        table->filenameSetString(path_, text);
        table->stringFree(text);
        started_ = true;
        int32_t answer =
            main_(RD_HOST_MSG_START, const_cast<RdHostInterface*>(table), nullptr, path_);
        if (answer != 1) {
            error = path + ": the plug-in refused to start (answer " + std::to_string(answer) + ")";
            return false;
        }
        main_(RD_HOST_MSG_INIT, nullptr, nullptr, nullptr);
        return true;
    }

    void stop() {
        if (started_) {
            main_(RD_HOST_MSG_END, nullptr, nullptr, nullptr);
            started_ = false;
            host_.destroyCommands();
        }
        if (path_) {
            host_.table()->filenameFree(path_);
            path_ = nullptr;
        }
        // The library stays mapped until the process exits, as the host keeps its plug-ins until
        // it quits: the plug-in's context is meant to live that long (leak checkers agree).
        library_ = nullptr;
    }

  private:
    raydeck::hostsim::SimHost& host_;
    platform::LibraryHandle library_ = nullptr;
    C4dMain main_ = nullptr;
    RdHostFilename* path_ = nullptr;
    bool started_ = false;
};

int listCommands(const raydeck::hostsim::SimHost& host) {
    for (const auto& r : host.registrations()) {
        std::cout << r.pluginId << "\t" << r.name << "\t" << r.help << "\t"
                  << (r.icon.empty() ? "(no icon)" : r.icon) << "\n";
    }
    return raydeck::tools::outputArrived(std::cout, std::cerr, "raydeck-host") ? kExitOk
                                                                               : kExitFailed;
}

// Runs the command object; true when it let an exception out.
bool execute(raydeck::hostsim::SimHost& host, const raydeck::hostsim::SimHost::Registration& reg) {
    auto* command = static_cast<raydeck::host::CommandData*>(reg.command);
    try {
        command->execute(raydeck::host::BaseDocument(host.documentHandle()));
    } catch (...) {
        return true;
    }
    return false;
}

// What an export wrote. Its summary reads the scene back whole, so it waits until the document
// is freed, to add nothing to the export's peak memory.
struct Exported {
    std::string where;  // the file, or "to standard output"
    std::string file;   // the file written, or none
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> copy{nullptr, std::fclose};  // of stdout
    std::string outputError;  // why standard output did not take every byte, if it did not
    double seconds = 0;
    double loadSeconds = -1;  // the document's load; negative when there was none
};

// Export to standard output: the bytes pass through a tap on their way out and are copied to a
// temporary file, so that the summary counts what was written there.
bool executeTapped(raydeck::hostsim::SimHost& host,
                   const raydeck::hostsim::SimHost::Registration& reg, Exported& exported) {
    std::FILE* copy = std::tmpfile();
    platform::StandardOutputTap* tap = nullptr;
    if (copy == nullptr ||
        !platform::tapStandardOutput(
             [copy](const char* data, size_t size) { std::fwrite(data, 1, size, copy); }, tap)
             .ok()) {
        if (copy != nullptr) {
            std::fclose(copy);
        }
        return execute(host, reg);  // no summary, but the export itself goes on
    }
    const bool threw = execute(host, reg);
    const platform::Status untapped = platform::untapStandardOutput(tap);
    if (untapped.ok() && std::fflush(copy) == 0) {
        exported.copy.reset(copy);
    } else {
        std::fclose(copy);
    }
    // The tap's pipe holds bytes the plug-in counts as written; a reader that went away after
    // them must not pass for a whole export.
    if (!untapped.ok()) {
        exported.outputError = untapped.message();
    }
    return threw;
}

void printExportSummary(const Exported& exported) {
    std::string line;
    if (exported.copy) {
        std::FILE* copy = exported.copy.get();
        if (std::fseek(copy, 0, SEEK_SET) != 0) {
            return;
        }
        rdk::FileSource source(copy);
        line = raydeck::hostsim::exportSummary(exported.where, source, exported.seconds,
                                               exported.loadSeconds);
        if (source.failed()) {
            return;
        }
    } else {
        // Only a regular file is read back: opening a FIFO again would wait for a writer that
        // never comes, and /dev/stdout on a pipe would read the reader's end.
        std::error_code ec;
        if (exported.file.empty()) {
            return;
        }
        if (!std::filesystem::is_regular_file(std::filesystem::u8path(exported.file), ec)) {
            line = raydeck::hostsim::exportTimes(exported.where, exported.seconds,
                                                 exported.loadSeconds);
        } else {
            std::FILE* file = nullptr;
            std::string reason;
            if (!rdk::openSceneFile(exported.file, file, reason)) {
                return;
            }
            rdk::FileSource source(file);
            line = raydeck::hostsim::exportSummary(exported.where, source, exported.seconds,
                                                   exported.loadSeconds);
            const bool failed = source.failed();
            std::fclose(file);
            if (failed) {
                return;
            }
        }
    }
    std::cerr << "raydeck-host: exported " << line << "\n";
}

// What the renderer did with a streamed scene, after Render and Update.
void reportRenderer(std::filesystem::file_time_type started) {
    raydeck::hostsim::RendererNews news;
    const std::string folder = raydeck::live::runtimeFolder();
    if (raydeck::hostsim::findRendererNews(folder, started, news)) {
        if (!news.scene.empty()) {
            std::cerr << "raydeck-host: the renderer says: " << news.scene << "\n";
        }
        std::cerr << "raydeck-host: the renderer's log: " << news.log << "\n";
    } else {
        std::cerr << "raydeck-host: the scene went to a running renderer; the stand-in renderers "
                     "log to <process id>.log in "
                  << folder << "\n";
    }
}

// One line after the plug-in's own failure lines that names the file and the reason together.
void reportFailure(const Options& o, const std::vector<std::string>& console) {
    if (o.action == "export") {
        const bool openFailed =
            std::any_of(console.begin(), console.end(), [](const std::string& line) {
                return line.find("could not open file") != std::string::npos;
            });
        const std::string problem =
            openFailed ? raydeck::hostsim::outputProblem(*o.output) : std::string();
        if (!problem.empty()) {
            std::cerr << "raydeck-host: " << *o.output << ": " << problem << "\n";
        }
        return;
    }
    const std::string missing = raydeck::hostsim::missingInstallation(
        raydeck::c4d::kMinRendererVersion, raydeck::c4d::kMaxRendererVersion);
    if (!missing.empty()) {
        std::cerr << "raydeck-host: " << missing << "\n";
    }
}

// `exported` gets what a successful export wrote.
int runCommand(raydeck::hostsim::SimHost& host, const Options& o,
               std::optional<Exported>& exported) {
    using namespace raydeck::c4d;
    const int32_t id = o.action == "export"   ? kExportCommandId
                       : o.action == "render" ? kRenderCommandId
                                              : kUpdateCommandId;
    const raydeck::hostsim::SimHost::Registration* reg = nullptr;
    for (const auto& r : host.registrations()) {
        if (r.pluginId == id) {
            reg = &r;
        }
    }
    if (reg == nullptr || reg->command == nullptr) {
        std::cerr << "raydeck-host: the plug-in registered no command with ID " << id << "\n";
        return kExitFailed;
    }
    host.setSaveDialogAnswer(o.output);
    host.clearConsole();
    // File times come from a coarse clock that may lag this one by a tick.
    const auto started =
        std::filesystem::file_time_type::clock::now() - std::chrono::milliseconds(100);
    const auto start = std::chrono::steady_clock::now();
    Exported written;
    // The status bar's progress, drawn while the command runs when someone watches.
    raydeck::hostsim::ProgressLine progress(std::cerr, platform::standardErrorIsTerminal());
    host.setStatusListener([&progress](const raydeck::hostsim::SimHost::StatusUpdate& update) {
        progress.update(update.text, update.percent);
    });
    // During Render and Update, the renderer's import too, as its log tells it.
    std::optional<raydeck::hostsim::RendererProgress> renderer;
    if (o.action != "export" && platform::standardErrorIsTerminal()) {
        renderer.emplace(raydeck::live::runtimeFolder(),
                         [&progress](const std::string& name, int percent) {
                             progress.update("the renderer imports " + name, percent);
                         });
    }
    const bool threw =
        o.output && *o.output == "-" ? executeTapped(host, *reg, written) : execute(host, *reg);
    host.setStatusListener(nullptr);
    if (renderer) {
        renderer->stop();
    }
    progress.clear();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fflush(stdout);
    std::cout.flush();
    for (const std::string& line : host.consoleLines()) {
        std::cerr << line << "\n";
    }
    if (threw) {
        std::cerr << "raydeck-host: the command let an exception reach the host\n";
        return kExitFailed;
    }
    // Warnings say what the plug-in changed on the way; any other line reports a failure.
    const std::vector<std::string>& lines = host.consoleLines();
    if (std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.rfind(raydeck::host::kConsoleWarningPrefix, 0) != 0;
        })) {
        reportFailure(o, lines);
        return kExitFailed;
    }
    if (!written.outputError.empty()) {
        std::cerr << "raydeck-host: cannot write to standard output: " << written.outputError
                  << "\n";
        return kExitFailed;
    }
    if (o.action == "export" && !o.output) {
        std::cerr << "raydeck-host: the save dialog was cancelled (--cancel): nothing "
                     "exported\n";
        return kExitFailed;
    }
    if (o.action == "export") {
        written.where = *o.output == "-" ? "to standard output" : *o.output;
        written.file = *o.output == "-" ? std::string() : *o.output;
        written.seconds = seconds;
        exported = std::move(written);
    } else {
        reportRenderer(started);
    }
    return kExitOk;
}

// The pose needs no plug-in: it is the simulator's own evaluation of the document.
int printPose(raydeck::hostsim::SimDocument& doc, const std::optional<double>& at) {
    std::vector<raydeck::hostsim::SampleTime> times;
    if (at) {
        times.push_back(raydeck::hostsim::SampleTime{0, *at});
    } else {
        times = raydeck::hostsim::documentSampleTimes(doc);
    }
    for (const raydeck::hostsim::SampleTime& t : times) {
        const double stamp = at ? *at : static_cast<double>(t.ms) / 1000.0;
        raydeck::hostsim::writeDocumentPose(doc, stamp, t.seconds, std::cout);
    }
    std::cout.flush();
    if (!std::cout) {
        std::cerr << "raydeck-host: cannot write to standard output\n";
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int run(int argc, char** argv) {
    // As a host does: a full pipe or a file-size limit fails the write, which the plug-in
    // reports, instead of ending the process without a word.
    platform::reportWriteFailuresAsErrors();
    std::vector<std::string> args = raydeck::tools::toolArguments(argc, argv);
    // This program also runs the bounded model import in a child of its own.
    if (!args.empty() && args[0] == raydeck::hostsim::kModelImportChildCommand) {
        return raydeck::hostsim::runModelImportChild({args.begin() + 1, args.end()});
    }
    platform::exitOnInterrupt("raydeck-host");
    Options o;
    const int parsed = parseCommandLine(args, o);
    if (parsed != raydeck::tools::kContinue) {
        return parsed;
    }
    if (o.output && *o.output != "-") {
        // An interrupted export leaves no half-written temporary beside the target.
        platform::removeTemporariesOnInterrupt(*o.output);
    }
    if (o.plugin.empty()) {
        o.plugin = defaultPlugin();
    }

    std::unique_ptr<raydeck::hostsim::SimDocument> doc;
    const auto loadStart = std::chrono::steady_clock::now();
    if (!o.document.empty()) {
        std::string error;
        std::vector<std::string> warnings;
        raydeck::hostsim::ImportBounds bounds = raydeck::hostsim::importBoundsFromEnvironment();
        platform::executablePath(bounds.childProgram);
        doc = raydeck::hostsim::loadHostFile(o.document, error, warnings, bounds);
        for (const std::string& w : warnings) {
            std::cerr << "raydeck-host: " << w << "\n";
        }
        if (!doc) {
            std::cerr << error << "\n";
            return kExitUsage;
        }
    }

    if (o.action == "pose") {
        return printPose(*doc, o.poseTime);
    }

    const double loadSeconds =
        o.document.empty()
            ? -1
            : std::chrono::duration<double>(std::chrono::steady_clock::now() - loadStart).count();
    raydeck::hostsim::SimHost host;
    host.setActiveDocument(doc.get());
    int code = kExitOk;
    std::optional<Exported> exported;
    {
        LoadedPlugin plugin(host);
        std::string error;
        if (!plugin.start(o.plugin, error)) {
            std::cerr << "raydeck-host: " << error << "\n";
            plugin.stop();
            return kExitUsage;
        }
        code = o.action == "commands" ? listCommands(host) : runCommand(host, o, exported);
        plugin.stop();
    }
    doc.reset();
    if (exported) {
        exported->loadSeconds = loadSeconds;
        printExportSummary(*exported);
    }
    return code;
}

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << "raydeck-host: not enough memory for the command\n";
        return kExitUsage;
    }
}
