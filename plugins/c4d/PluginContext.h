// PluginContext: the one record shared by the three commands and the conversion. Created by the
// start routine, lives as long as the plug-in. Nothing here is thread-safe: the host runs every
// command on its main thread, one at a time.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/processinfo.h"
#include "plugins/c4d/convert/MaterialRecord.h"
#include "plugins/c4d/convert/MeshScratch.h"
#include "plugins/c4d/host/BaseDocument.h"
#include "trvSceneapi_oo.h"

namespace raydeck::c4d {

struct PluginContext {
    // The mesh conversion's working arrays, kept for the plug-in's lifetime so that large meshes
    // reuse them instead of reallocating per object.
    MeshScratch meshScratch;
    // What the scratch may keep between commands (see MeshScratch::trim).
    static constexpr size_t kKeptScratchBytes = size_t{64} << 20;

    // Texture file searches of the running command, by document folder, full path and file
    // name: each distinct search touches the file system once per command. Emptied after it,
    // so that files that appeared meanwhile are found by the next one.
    mutable std::unordered_map<std::string, std::string> textureSearches;

    // Folder of the document being converted (UTF-8); empty for an unsaved document.
    std::string documentFolder;
    // Distinct material names across every conversion of this plug-in's lifetime; never cleared.
    std::map<std::string, std::map<MaterialRecord, int>> materialNames;
    // The running command's builder; null whenever no command runs.
    trv::trvSceneapi_oo* builder = nullptr;
    // Running sum of the progress shares written so far in this conversion.
    float progressTotal = 0.0f;
    // The percentage last shown in the host's status bar; -1 when it shows nothing of ours.
    int statusPercent = -1;
    // The document being converted; valid during a conversion only.
    host::BaseDocument document;
    // Polygon meshes only for the selected part of the document (Update).
    bool selectionOnly = false;
    // Identifiers of the document's selected objects, refilled when selectionOnly is set.
    std::set<uint64_t> selectedIds;

    // What a command leaves behind: the scratch trimmed, the texture searches forgotten.
    void endCommand() {
        meshScratch.trim(kKeptScratchBytes);
        std::unordered_map<std::string, std::string>().swap(textureSearches);
        // What the allocator holds free after the command goes back to the system, not only
        // what it happened to map apart.
        platform::releaseFreeMemory();
    }
};

}  // namespace raydeck::c4d
