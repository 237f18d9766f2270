// Lights: a host light becomes a scene object with an emitting octahedron proxy.
#pragma once

#include <string>

#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/host/BaseObject.h"

namespace raydeck::c4d {

// Writes the light's proxy object inside the group the walk opened for it.
void convertLight(PluginContext& context, const std::string& nodeName,
                  const host::BaseObject& object);

}  // namespace raydeck::c4d
