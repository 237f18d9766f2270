// raydeck-renderer: the stand-in renderer. Started with no arguments; every setting comes from
// the environment (see tools/live/README.md). Only --help and --version are understood.
#include <iostream>

#include "platform/process.h"
#include "tools/CommandLine.h"
#include "tools/live/Renderer.h"

namespace {

const char* const kAbout =
    "The stand-in renderer: listens on 127.0.0.1, announces itself in the runtime folder, stores\n"
    "every scene streamed to it and logs what it received beside its announcement. The plug-in\n"
    "starts it with no arguments; its settings come from the environment.";

const char* const kFooter =
    "Environment (see tools/live/README.md):\n"
    "  RAYDECK_RUNTIME_DIR       announcements <pid>.xml and logs <pid>.log\n"
    "                            (default $XDG_RUNTIME_DIR/raydeck, else <temp>/raydeck-<uid>)\n"
    "  RAYDECK_SCENE_DIR         stored scenes scene-<pid>-<n>.rdk (default: scenes under the\n"
    "                            runtime folder)\n"
    "  RAYDECK_RENDERER_IDLE_S   seconds without a connection before it exits (default 600)\n"
    "  RAYDECK_RENDERER_VERSION  the major version it reports (default 7)\n"
    "  RAYDECK_RENDERER_PORTS    first-last: the ports to listen on (default: the registry's\n"
    "                            Live Link range, else one the system picks)\n"
    "It ends on SIGTERM or SIGINT and removes its announcement; the log stays.\n";

}  // namespace

int main(int argc, char** argv) {
    // Output into a closed pipe or past the file-size limit fails the write (a scene that cannot
    // be stored is discarded) instead of ending the renderer with its announcement left behind.
    platform::reportWriteFailuresAsErrors();
    CLI::App app(kAbout, "raydeck-renderer");
    app.set_version_flag("--version", "raydeck-renderer " RAYDECK_VERSION);
    app.footer(kFooter);
    const int parsed = raydeck::tools::parseCommandLine(
        app, raydeck::tools::toolArguments(argc, argv), std::cout, std::cerr);
    if (parsed != raydeck::tools::kContinue) {
        return parsed;
    }
    raydeck::live::Renderer renderer(raydeck::live::RendererSettings::fromEnvironment());
    return renderer.run();
}
