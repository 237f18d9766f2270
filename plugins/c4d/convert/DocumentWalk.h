// The conversion driver and the object walk: the document's cameras, then the root group with one
// group per host object, each handed to the converter for its type. Nothing below it includes it.
#pragma once

#include <string>

#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/convert/ObjectTags.h"
#include "plugins/c4d/convert/TextureTagList.h"
#include "plugins/c4d/host/BaseDocument.h"
#include "plugins/c4d/host/BaseList2D.h"
#include "plugins/c4d/host/BaseObject.h"
#include "plugins/c4d/host/BaseTag.h"
#include "plugins/c4d/host/Values.h"
#include "trvSceneapi_oo.h"

namespace raydeck::c4d {

// Converts the whole document through context.builder: cameras, then the root group named after
// the document with every top-level object. Moves the document to its first frame for the
// conversion and back afterwards. Does nothing beyond resetting the context without a document
// or a builder with a back end.
void convertDocument(PluginContext& context, const host::BaseDocument& document);

// Writes one object as a group (transform, converter output, host-built geometry, children,
// animation) and advances context.progressTotal by exactly `share`. The object's texture tags
// are appended to `textureTags` for its subtree and taken off again before it returns.
void walkObject(PluginContext& context, const host::BaseObject& object, TextureTagList& textureTags,
                bool editorVisible, bool renderVisible, float share, bool selected);

// A document file name cut before its last "." (the whole text without a dot).
std::string sceneNameFromFileName(const std::string& fileName);

// The scene's root group name: "untitled", or the document's file name (parameter 1013) without
// its extension. The Update command looks for a running renderer's scene by the same name.
std::string documentSceneName(const host::BaseDocument& document);

}  // namespace raydeck::c4d
