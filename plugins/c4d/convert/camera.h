// Camera conversion: a top-level camera section through trv::LightCamera, then its animation.
#pragma once

#include <vector>

#include "plugins/c4d/PluginContext.h"
#include "plugins/c4d/host/BaseObject.h"

namespace raydeck::c4d {

// `ancestors` are the camera's parent, its parent and so on up to a top-level object; empty for
// a top-level camera. The ancestors' animation moves the camera with them.
void convertCamera(PluginContext& context, const host::BaseObject& camera,
                   const std::vector<host::BaseObject>& ancestors);

// `parent` is the camera's parent object, a null object for a top-level camera; the parent's
// own ancestors are taken as still.
void convertCamera(PluginContext& context, const host::BaseObject& camera,
                   const host::BaseObject& parent = host::BaseObject());

}  // namespace raydeck::c4d
