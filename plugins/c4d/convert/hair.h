// Hair guides to curves.
#pragma once

#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/convert/TextureTagList.h"
#include "plugins/c4d/host/BaseObject.h"

namespace raydeck::c4d {

// Writes the hair object's guides as curves with their material. Consumes the list.
void convertHairObject(PluginContext& context, const host::BaseObject& object,
                       const TextureTagList& textureTags);

}  // namespace raydeck::c4d
