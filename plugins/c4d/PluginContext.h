// PluginContext: the one record shared by the three commands and the conversion. Created by the
// start routine, lives as long as the plug-in. Nothing here is thread-safe: the host runs every
// command on its main thread, one at a time.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "plugins/c4d/convert/MaterialRecord.h"
#include "plugins/c4d/convert/MeshScratch.h"
#include "plugins/c4d/host/BaseDocument.h"
#include "trvSceneapi_oo.h"

namespace raydeck::c4d {

struct PluginContext {
    // The mesh conversion's working arrays, kept for the plug-in's lifetime so that large meshes
    // reuse them instead of reallocating per object.
    MeshScratch meshScratch;

    // Folder of the document being converted (UTF-8); empty for an unsaved document.
    std::string documentFolder;
    // Distinct material names across every conversion of this plug-in's lifetime; never cleared.
    std::map<std::string, std::map<MaterialRecord, int>> materialNames;
    // The running command's builder; null whenever no command runs.
    trv::trvSceneapi_oo* builder = nullptr;
    // Running sum of the progress shares written so far in this conversion.
    float progressTotal = 0.0f;
    // The document being converted; valid during a conversion only.
    host::BaseDocument document;
    // Polygon meshes only for the selected part of the document (Update).
    bool selectionOnly = false;
    // Identifiers of the document's selected objects, refilled when selectionOnly is set.
    std::set<uint64_t> selectedIds;
};

}  // namespace raydeck::c4d
