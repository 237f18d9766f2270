// Polygon mesh conversion: one scene object per material piece of a host polygon object.
#pragma once

#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/convert/TextureTagList.h"
#include "plugins/c4d/host/BaseObject.h"

namespace raydeck::c4d {

// Writes the pieces of a polygon object (type 5100) inside the group the walk opened for it.
// Consumes the texture-tag list.
void convertPolygonObject(PluginContext& context, const host::BaseObject& object,
                          const TextureTagList& textureTags);

}  // namespace raydeck::c4d
