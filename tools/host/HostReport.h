// HostReport: what raydeck-host tells the user after a command beyond the plug-in's own lines:
// the export's summary, the reason behind a scene file that could not be opened, where the
// renderer put a streamed scene and its log, and which registry was read when Render or Update
// found no installation.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/rdk/RdkStream.h"

namespace raydeck::hostsim {

// "<where>: 48.2 KiB, 7 objects, 1532 triangles, 5 materials, 1 camera, 2 lights in 0.04 s",
// counted from the scene text that `written` gives back as it streams past; bytes that do not
// read as a scene give their size, the time and the reader's complaint instead of counts. With
// `loadSeconds` not negative, " (document loaded in 0.10 s)" follows.
std::string exportSummary(const std::string& where, rdk::ByteSource& written, double seconds,
                          double loadSeconds = -1);

// The line for a target that is not read back (a device, a pipe): "<where> in 0.04 s (...)".
std::string exportTimes(const std::string& where, double seconds, double loadSeconds);

// Why a scene file at `path` cannot be opened for writing ("is a folder", "the folder x does not
// exist", the system's error); empty when no reason shows.
std::string outputProblem(const std::string& path);

struct RendererNews {
    std::string log;    // the renderer's log file
    std::string scene;  // its last "scene complete: ..." text; empty when it has none
};

// The newest renderer log in `runtimeFolder` written at or after `since`.
bool findRendererNews(const std::string& runtimeFolder, std::filesystem::file_time_type since,
                      RendererNews& out);

// "no Raydeck 7 to 8 installation in the registry file x" with what is wrong with the file;
// empty when the registry holds such an installation.
std::string missingInstallation(int minVersion, int maxVersion);

}  // namespace raydeck::hostsim
