// raydeck-host: loads the plug-in file, starts it as the host would, lists its commands or runs
// one of them on a document file or a model file, and shuts it down again.
#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "platform/process.h"
#include "platform/utf.h"
#include "plugins/c4d/host/CommandData.h"
#include "tools/host/ModelImport.h"
#include "tools/host/SimDocument.h"
#include "tools/host/SimHost.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr int32_t kRenderId = 1033591;
constexpr int32_t kUpdateId = 1034393;
constexpr int32_t kExportId = 1034420;

using C4dMain = int32_t (*)(int32_t, void*, void*, void*);

// Loading and freeing a document recurse along its hierarchy. They run on a thread with a stack
// of their own, so that the main thread's stack limit (ulimit -s) measures the plug-in alone.
template <typename Fn>
void onLargeStack(Fn fn) {
    constexpr size_t kStackBytes = size_t(512) << 20;
    pthread_attr_t attr;
    pthread_t thread;
    bool started = pthread_attr_init(&attr) == 0 &&
                   pthread_attr_setstacksize(&attr, kStackBytes) == 0 &&
                   pthread_create(
                       &thread, &attr,
                       [](void* arg) -> void* {
                           (*static_cast<Fn*>(arg))();
                           return nullptr;
                       },
                       &fn) == 0;
    pthread_attr_destroy(&attr);
    if (started) {
        pthread_join(thread, nullptr);
    } else {
        fn();
    }
}

const char* const kUsage =
    "usage: raydeck-host [--plugin FILE] commands\n"
    "       raydeck-host [--plugin FILE] export DOCUMENT [-o OUT]\n"
    "       raydeck-host [--plugin FILE] render DOCUMENT\n"
    "       raydeck-host [--plugin FILE] update DOCUMENT\n"
    "\n"
    "Loads the plug-in file as the host application would and answers it from a host document\n"
    "file (JSON, see tools/host/README.md) or from a model file that Assimp reads (OBJ, glTF,\n"
    "FBX, Collada, 3DS, PLY, STL, ...). JSON other than glTF is read as a host document;\n"
    "anything else is a model, mapped with the source's axes and units as they are:\n"
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
    "  commands   list the registered commands: ID, name, help text, icon\n"
    "  export     run the Export command; the save dialog is answered with OUT ('-' for\n"
    "             standard output); without -o the dialog is cancelled (exit 1)\n"
    "  render     run the Render command\n"
    "  update     run the Update command\n"
    "  --plugin   the plug-in file; default: raydeck_c4d_plugin.cdl64 beside this program,\n"
    "             else the one of the build tree\n"
    "Exit codes: 0 done; 1 the plug-in reported a failure (its console lines go to standard\n"
    "error) or nothing was exported; 2 bad usage, a bad document or a plug-in that cannot be\n"
    "loaded.\n";

int usage(const std::string& message) {
    std::cerr << "raydeck-host: " << message << "\n" << kUsage;
    return kExitUsage;
}

bool fileExists(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

std::string defaultPlugin() {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        std::string exe(self, static_cast<size_t>(n));
        const size_t slash = exe.find_last_of('/');
        if (slash != std::string::npos) {
            std::string beside = exe.substr(0, slash + 1) + "raydeck_c4d_plugin.cdl64";
            if (fileExists(beside)) {
                return beside;
            }
        }
    }
    return RAYDECK_DEFAULT_PLUGIN;
}

struct Options {
    std::string plugin;
    std::string action;
    std::string document;
    std::optional<std::string> output;
};

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

// False, after a message, when what went to standard output did not arrive (a full device, a
// closed pipe): a listing nobody received is no success.
bool standardOutputWritten() {
    errno = 0;
    std::cout.flush();
    if (std::cout && std::fflush(stdout) == 0) {
        return true;
    }
    const int err = errno != 0 ? errno : EIO;
    std::cerr << "raydeck-host: cannot write to standard output: " << std::strerror(err) << "\n";
    return false;
}

int listCommands(const raydeck::hostsim::SimHost& host) {
    for (const auto& r : host.registrations()) {
        std::cout << r.pluginId << "\t" << r.name << "\t" << r.help << "\t"
                  << (r.icon.empty() ? "(no icon)" : r.icon) << "\n";
    }
    return standardOutputWritten() ? kExitOk : kExitFailed;
}

int runCommand(raydeck::hostsim::SimHost& host, const Options& o) {
    const int32_t id = o.action == "export"   ? kExportId
                       : o.action == "render" ? kRenderId
                                              : kUpdateId;
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
    auto* command = static_cast<raydeck::host::CommandData*>(reg->command);
    bool threw = false;
    try {
        command->execute(raydeck::host::BaseDocument(host.documentHandle()));
    } catch (...) {
        threw = true;
    }
    std::fflush(stdout);
    std::cout.flush();
    for (const std::string& line : host.consoleLines()) {
        std::cerr << line << "\n";
    }
    if (threw) {
        std::cerr << "raydeck-host: the command let an exception reach the host\n";
        return kExitFailed;
    }
    if (!host.consoleLines().empty()) {
        return kExitFailed;
    }
    if (o.action == "export" && !o.output) {
        std::cerr << "raydeck-host: the save dialog was cancelled (no -o given): nothing "
                     "exported\n";
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    // As a host does: a full pipe or a file-size limit fails the write, which the plug-in
    // reports, instead of ending the process without a word.
    platform::reportWriteFailuresAsErrors();
    Options o;
    std::vector<std::string> args(argv + 1, argv + argc);
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return kExitOk;
        } else if (a == "--plugin") {
            if (i + 1 >= args.size()) {
                return usage("--plugin needs a file");
            }
            o.plugin = args[++i];
        } else if (a == "-o") {
            if (i + 1 >= args.size()) {
                return usage("-o needs a file ('-' for standard output)");
            }
            o.output = args[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            return usage("unknown option " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty()) {
        return usage("no command given");
    }
    o.action = positional[0];
    if (o.action == "commands") {
        if (positional.size() != 1 || o.output) {
            return usage("commands takes no document and no -o");
        }
    } else if (o.action == "export" || o.action == "render" || o.action == "update") {
        if (positional.size() != 2) {
            return usage(o.action + " needs exactly one document");
        }
        if (o.output && o.action != "export") {
            return usage("-o belongs to export");
        }
        o.document = positional[1];
    } else {
        return usage("unknown command " + o.action);
    }
    if (o.plugin.empty()) {
        o.plugin = defaultPlugin();
    }

    std::unique_ptr<raydeck::hostsim::SimDocument> doc;
    if (!o.document.empty()) {
        std::string error;
        std::vector<std::string> warnings;
        onLargeStack([&] { doc = raydeck::hostsim::loadHostFile(o.document, error, warnings); });
        for (const std::string& w : warnings) {
            std::cerr << "raydeck-host: " << w << "\n";
        }
        if (!doc) {
            std::cerr << error << "\n";
            return kExitUsage;
        }
    }

    raydeck::hostsim::SimHost host;
    host.setActiveDocument(doc.get());
    int code = kExitOk;
    {
        LoadedPlugin plugin(host);
        std::string error;
        if (!plugin.start(o.plugin, error)) {
            std::cerr << "raydeck-host: " << error << "\n";
            plugin.stop();
            return kExitUsage;
        }
        code = o.action == "commands" ? listCommands(host) : runCommand(host, o);
        plugin.stop();
    }
    onLargeStack([&] { doc.reset(); });
    return code;
}
